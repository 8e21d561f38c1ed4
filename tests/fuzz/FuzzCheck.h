#pragma once
// Helpers shared by the fuzz targets: a reader that turns the fuzzer's bytes into bounded choices
// (running out of bytes yields zeros, so every input is a valid program), a check that aborts with a
// message so libFuzzer records the input as a crash, and a counter of brel assertion reports so a
// target can tell an expected report from an unexpected one.

#include <cstddef>
#include <cstdint>

namespace veraxo_fuzz {

class FuzzInput {
public:
    FuzzInput(const std::uint8_t* data, std::size_t size) : _data(data), _size(size), _pos(0) {}

    bool empty() const { return _pos >= _size; }
    std::size_t remaining() const { return _pos < _size ? _size - _pos : 0; }
    std::uint8_t byte();
    std::uint16_t word();
    // A value in [lo, hi], taken from one byte when the range allows, else from two.
    int range(int lo, int hi);
    // Up to n bytes of the input, without copying; the count actually available goes to `got`.
    const std::uint8_t* take(std::size_t n, std::size_t& got);

private:
    const std::uint8_t* _data;
    std::size_t _size;
    std::size_t _pos;
};

// Prints "invariant broken: <what>" and aborts when `ok` is false.
void require(bool ok, const char* what);

// Installs a sink that counts brel assertion reports instead of printing them.
void countAssertionReports();
long assertionReports();

} // namespace veraxo_fuzz
