// The total is an estimate when the sample rate is converted, so the percentage is capped at 100. A
// line never reaches the terminal's last column, where the cursor would wrap and every redraw would
// stack a new line: the bar narrows first, then the detail goes.

#include "ProgressBar.h"

#include <algorithm>
#include <climits>

#include <sys/ioctl.h>
#include <unistd.h>

namespace {

const int WIDTH = 40;
const int MIN_WIDTH = 10;

int terminalColumns(std::FILE* out) {
    struct winsize size;
    if (::ioctl(::fileno(out), TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    return 0;
}

} // namespace

ProgressBar::ProgressBar(std::FILE* out, long long total, bool enabled, int columns)
    : _out(out), _total(total), _enabled(enabled && total > 0), _columns(columns), _drawn(false),
      _percent(-1), _width(WIDTH + 8) {}

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

    const int columns = _columns > 0 ? _columns : terminalColumns(_out);
    const int limit = columns > 0 ? columns - 1 : INT_MAX;
    // "[bar] 100%" is the bar's width and 7; the detail takes one more and its length.
    std::string shown = _detail;
    int barWidth = WIDTH;
    const int detailLength = shown.empty() ? 0 : 1 + static_cast<int>(shown.size());
    if (barWidth + 7 + detailLength > limit)
        barWidth = std::max(MIN_WIDTH, limit - 7 - detailLength);
    if (barWidth + 7 + detailLength > limit) {
        shown.clear();
        barWidth = std::min(WIDTH, limit - 7);
    }
    std::string line;
    if (barWidth >= 1) {
        const int filled = percent * barWidth / 100;
        line = "[" + std::string(filled, '#') + std::string(barWidth - filled, '.') + "] ";
    }
    char number[8];
    std::snprintf(number, sizeof number, barWidth >= 1 ? "%3d%%" : "%d%%", percent);
    line += number;
    if (!shown.empty())
        line += " " + shown;
    if (static_cast<int>(line.size()) > limit)
        line.clear();

    // Blanks what a longer line drawn before leaves behind.
    const int length = static_cast<int>(line.size());
    const int pad = _drawn && _width > length ? std::min(_width, limit) - length : 0;
    _width = std::max(_width, length);
    std::fprintf(_out, "\r%s%*s", line.c_str(), pad, "");
    std::fflush(_out);
    _drawn = true;
}

void ProgressBar::finish() {
    if (!_drawn)
        return;
    const int columns = _columns > 0 ? _columns : terminalColumns(_out);
    const int blank = columns > 0 ? std::min(_width, columns - 1) : _width;
    std::fprintf(_out, "\r%*s\r", blank, "");
    std::fflush(_out);
    _drawn = false;
}
