#pragma once
// A one-line progress bar redrawn in place on a terminal; it draws only when its percentage or its
// detail text changes, so it costs nothing measurable, and clears itself when done.

#include <cstdio>
#include <string>

class ProgressBar {
public:
    // Draws nothing unless enabled (the caller decides, normally: standard error is a terminal).
    // columns is the width to fit; 0 asks the terminal at each redraw (no limit where it cannot tell).
    ProgressBar(std::FILE* out, long long total, bool enabled, int columns = 0);
    ~ProgressBar();

    void update(long long done);
    // With a short text after the percentage (e.g. files done and speed).
    void update(long long done, const char* detail);
    // Removes the bar from the line.
    void finish();

private:
    std::FILE* _out;
    long long _total;
    bool _enabled;
    int _columns;
    bool _drawn;
    int _percent;
    std::string _detail;
    // The longest line drawn, which finish() blanks.
    int _width;
};
