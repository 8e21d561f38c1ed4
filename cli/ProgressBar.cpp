// The total is an estimate when the sample rate is converted, so the percentage is capped at 100.

#include "ProgressBar.h"

namespace {
const int WIDTH = 40;
}

ProgressBar::ProgressBar(std::FILE* out, long long total, bool enabled)
    : _out(out), _total(total), _enabled(enabled && total > 0), _drawn(false), _percent(-1) {}

ProgressBar::~ProgressBar() {
    finish();
}

void ProgressBar::update(long long done) {
    if (!_enabled)
        return;
    int percent = static_cast<int>(done * 100 / _total);
    if (percent > 100)
        percent = 100;
    if (percent == _percent)
        return;
    _percent = percent;
    char bar[WIDTH + 1];
    const int filled = percent * WIDTH / 100;
    for (int i = 0; i < WIDTH; ++i)
        bar[i] = i < filled ? '#' : '.';
    bar[WIDTH] = 0;
    std::fprintf(_out, "\r[%s] %3d%%", bar, percent);
    std::fflush(_out);
    _drawn = true;
}

void ProgressBar::finish() {
    if (!_drawn)
        return;
    std::fprintf(_out, "\r%*s\r", WIDTH + 8, "");
    std::fflush(_out);
    _drawn = false;
}
