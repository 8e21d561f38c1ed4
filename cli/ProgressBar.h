#pragma once
// A one-line progress bar redrawn in place on a terminal; it draws only when its percentage changes,
// so it costs nothing measurable, and clears itself when done.

#include <cstdio>

class ProgressBar {
public:
    // Draws nothing unless enabled (the caller decides, normally: standard error is a terminal).
    ProgressBar(std::FILE* out, long long total, bool enabled);
    ~ProgressBar();

    void update(long long done);
    // Removes the bar from the line.
    void finish();

private:
    std::FILE* _out;
    long long _total;
    bool _enabled;
    bool _drawn;
    int _percent;
};
