// Byte reader, invariant check and assertion counter for the fuzz targets (see the header).

#include "FuzzCheck.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>

#include "src/brel_memory.h"

namespace veraxo_fuzz {

namespace {

std::atomic<long> reports{0};

void countReport(const char*, const char*, int) {
    reports.fetch_add(1, std::memory_order_relaxed);
}

} // namespace

std::uint8_t FuzzInput::byte() {
    return _pos < _size ? _data[_pos++] : 0;
}

std::uint16_t FuzzInput::word() {
    const std::uint16_t lo = byte();
    return static_cast<std::uint16_t>(lo | (byte() << 8));
}

int FuzzInput::range(int lo, int hi) {
    if (hi <= lo)
        return lo;
    const unsigned span = static_cast<unsigned>(hi - lo) + 1u;
    const unsigned raw = span <= 256u ? byte() : word();
    return lo + static_cast<int>(raw % span);
}

const std::uint8_t* FuzzInput::take(std::size_t n, std::size_t& got) {
    got = n < remaining() ? n : remaining();
    const std::uint8_t* p = _data + _pos;
    _pos += got;
    return p;
}

void require(bool ok, const char* what) {
    if (ok)
        return;
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

void countAssertionReports() {
    brel::mac::set_assertion_sink(&countReport);
}

long assertionReports() {
    return reports.load(std::memory_order_relaxed);
}

} // namespace veraxo_fuzz
