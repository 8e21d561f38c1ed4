#include "assertion_capture.h"

#include <atomic>

#include "src/brel_memory.h"

namespace veraxo_test {
namespace {
std::atomic<AssertionCapture*> active{nullptr};
}

AssertionCapture::AssertionCapture() : _previous(active.exchange(this)) {
    brel::mac::set_assertion_sink(&AssertionCapture::sink);
}

AssertionCapture::~AssertionCapture() {
    active.store(_previous);
    if (!_previous)
        brel::mac::set_assertion_sink(nullptr);
}

void AssertionCapture::sink(const char* condition, const char* file, int line) {
    AssertionCapture* self = active.load();
    if (!self)
        return;
    std::lock_guard<std::mutex> lock(self->_mutex);
    self->_reports.push_back({condition ? condition : "", file ? file : "", line});
}

std::vector<AssertionReport> AssertionCapture::reports() const {
    std::lock_guard<std::mutex> lock(_mutex);
    return _reports;
}

std::size_t AssertionCapture::count() const {
    std::lock_guard<std::mutex> lock(_mutex);
    return _reports.size();
}

std::size_t AssertionCapture::count(const std::string& condition) const {
    std::lock_guard<std::mutex> lock(_mutex);
    std::size_t n = 0;
    for (const AssertionReport& r : _reports)
        n += r.condition == condition ? 1 : 0;
    return n;
}

bool AssertionCapture::contains(const std::string& condition, const std::string& file, int line) const {
    std::lock_guard<std::mutex> lock(_mutex);
    for (const AssertionReport& r : _reports)
        if (r.condition == condition && r.file == file && r.line == line)
            return true;
    return false;
}

void AssertionCapture::clear() {
    std::lock_guard<std::mutex> lock(_mutex);
    _reports.clear();
}

} // namespace veraxo_test
