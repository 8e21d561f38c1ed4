#pragma once
// A desktop GL context (compatibility profile, fixed function) with no window, made through EGL's
// surfaceless platform, for drawing pictures offline and in tests. It renders into framebuffer objects
// only; nothing is shown. Creation fails cleanly, with a reason, on a machine without EGL or GL.

#include <string>

class HeadlessContext {
public:
    HeadlessContext();
    ~HeadlessContext();
    HeadlessContext(const HeadlessContext&) = delete;
    HeadlessContext& operator=(const HeadlessContext&) = delete;

    // Creates the context and makes it current on the calling thread.
    bool create();
    bool makeCurrent();
    bool isValid() const { return _context != nullptr; }
    // Why create() failed.
    const std::string& error() const { return _error; }

private:
    void* _display = nullptr;
    void* _context = nullptr;
    std::string _error;
};
