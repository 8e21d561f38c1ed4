// The total is an estimate when the sample rate is converted, so the percentage is capped at 100.

#include "ProgressBar.h"

namespace {
const int WIDTH = 40;
}

ProgressBar::ProgressBar(std::FILE* out, long long total, bool enabled)
    : _out(out), _total(total), _enabled(enabled && total > 0), _drawn(false), _percent(-1),
      _width(WIDTH + 8) {}

ProgressBar::~ProgressBar() {
    finish();
}

void ProgressBar::update(long long done) {
    update(done, "");
}

void ProgressBar::update(long long done, const char* detail) {
    if (!_enabled)
        return;
    int percent = static_cast<int>(done * 100 / _total);
    if (percent > 100)
        percent = 100;
    if (percent < 0)
        percent = 0;
    if (percent == _percent && _detail == detail && _drawn)
        return;
    _percent = percent;
    _detail = detail;
    char bar[WIDTH + 1];
    const int filled = percent * WIDTH / 100;
    for (int i = 0; i < WIDTH; ++i)
        bar[i] = i < filled ? '#' : '.';
    bar[WIDTH] = 0;
    const int length = _detail.empty() ? WIDTH + 7 : WIDTH + 8 + static_cast<int>(_detail.size());
    // Blanks what a longer line drawn before leaves behind.
    const int pad = _drawn && _width > length ? _width - length : 0;
    if (length > _width)
        _width = length;
    if (_detail.empty())
        std::fprintf(_out, "\r[%s] %3d%%%*s", bar, percent, pad, "");
    else
        std::fprintf(_out, "\r[%s] %3d%% %s%*s", bar, percent, _detail.c_str(), pad, "");
    std::fflush(_out);
    _drawn = true;
}

void ProgressBar::finish() {
    if (!_drawn)
        return;
    std::fprintf(_out, "\r%*s\r", _width, "");
    std::fflush(_out);
    _drawn = false;
}
