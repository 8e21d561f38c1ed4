// The time of a frame is a whole number of milliseconds ((frame + 1) * 16), so it is printed exactly
// from integers. A row of 32 bands fits comfortably in a fixed stack buffer. Values in the range the
// network produces are formatted by exact integer arithmetic, several times faster than the general
// std::to_chars path, which takes every other value.

#include "CsvWriter.h"

#include <charconv>
#include <cstdint>
#include <cstring>
#include <string>

namespace {

char* appendInteger(char* out, char* end, long long value) {
    return std::to_chars(out, end, value).ptr;
}

const std::uint64_t POW10[17] = {1ull,
                                 10ull,
                                 100ull,
                                 1000ull,
                                 10000ull,
                                 100000ull,
                                 1000000ull,
                                 10000000ull,
                                 100000000ull,
                                 1000000000ull,
                                 10000000000ull,
                                 100000000000ull,
                                 1000000000000ull,
                                 10000000000000ull,
                                 100000000000000ull,
                                 1000000000000000ull,
                                 10000000000000000ull};

// "%.9g" of a normal float of magnitude 2^-24 up to below 1e9, the range of the values written, or null
// for any other value. The float is m * 2^e exactly; m * 10^k * 2^e is split into its integer part and
// the remainder in 128-bit integers, so the nine digits and the rounding (to nearest, ties to even, as
// printf rounds) are exact.
char* formatNineDigits(char* out, float value) {
    std::uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    const int biased = static_cast<int>((bits >> 23) & 0xffu);
    const float magnitude = value < 0.0f ? -value : value;
    if (biased == 0 || biased == 0xff || !(magnitude >= 0x1p-24f && magnitude < 1e9f))
        return nullptr;
    const unsigned __int128 m = (bits & 0x7fffffu) | 0x800000u;
    const int e = biased - 150;

    // The decimal exponent x of the value: a first guess, then corrected until the scaled value has
    // exactly nine digits before the point.
    int x = 0;
    for (float p = magnitude; p >= 10.0f; p /= 10.0f)
        ++x;
    for (float p = magnitude; p < 1.0f; p *= 10.0f)
        --x;
    unsigned __int128 q = 0;
    int above = 0; // the remainder against one half: -1 below, 0 equal, 1 above
    for (int tries = 0;; ++tries) {
        const int k = 8 - x;
        if (k < 0 || k > 16 || tries > 3)
            return nullptr;
        const unsigned __int128 scaled = m * POW10[k];
        if (e >= 0) {
            q = scaled << e;
            above = -1;
        } else {
            q = scaled >> -e;
            const unsigned __int128 rem = scaled - (q << -e);
            const unsigned __int128 half = static_cast<unsigned __int128>(1) << (-e - 1);
            above = rem < half ? -1 : rem == half ? 0 : 1;
        }
        if (q >= POW10[9])
            ++x;
        else if (q < POW10[8])
            --x;
        else
            break;
    }
    std::uint64_t d = static_cast<std::uint64_t>(q);
    if (above > 0 || (above == 0 && (d & 1u)))
        ++d;
    if (d == POW10[9]) {
        d = POW10[8];
        ++x;
    }
    char digits[9];
    for (int i = 8; i >= 0; --i) {
        digits[i] = static_cast<char>('0' + d % 10);
        d /= 10;
    }
    int kept = 9;
    while (kept > 1 && digits[kept - 1] == '0')
        --kept;

    if (value < 0.0f)
        *out++ = '-';
    if (x < -4 || x >= 9) {
        *out++ = digits[0];
        if (kept > 1) {
            *out++ = '.';
            std::memcpy(out, digits + 1, kept - 1);
            out += kept - 1;
        }
        *out++ = 'e';
        *out++ = x < 0 ? '-' : '+';
        const int ax = x < 0 ? -x : x;
        *out++ = static_cast<char>('0' + ax / 10);
        *out++ = static_cast<char>('0' + ax % 10);
    } else if (x >= 0) {
        std::memcpy(out, digits, x + 1);
        out += x + 1;
        if (kept > x + 1) {
            *out++ = '.';
            std::memcpy(out, digits + x + 1, kept - x - 1);
            out += kept - x - 1;
        }
    } else {
        *out++ = '0';
        *out++ = '.';
        for (int i = 0; i < -x - 1; ++i)
            *out++ = '0';
        std::memcpy(out, digits, kept);
        out += kept;
    }
    return out;
}

} // namespace

CsvWriter::CsvWriter(std::FILE* out) : _out(out) {}

char* CsvWriter::formatValue(char* out, char* end, float value) {
    // The fast form writes at most 16 characters ("-0.000123456789" or "-1.23456789e-05").
    if (end - out >= 16) {
        if (char* done = formatNineDigits(out, value))
            return done;
    }
    return std::to_chars(out, end, static_cast<double>(value), std::chars_format::general, 9).ptr;
}

char* CsvWriter::formatTime(char* out, char* end, long long frame) {
    const long long ms = (frame + 1) * 16;
    out = appendInteger(out, end, ms / 1000);
    const int frac = static_cast<int>(ms % 1000);
    if (end - out >= 4) {
        out[0] = '.';
        out[1] = static_cast<char>('0' + frac / 100);
        out[2] = static_cast<char>('0' + frac / 10 % 10);
        out[3] = static_cast<char>('0' + frac % 10);
        out += 4;
    }
    return out;
}

void CsvWriter::writeHeader(int bands) {
    std::string header = "frame,time_s,lie_level";
    for (int i = 0; i < bands; ++i)
        header += ",s" + std::to_string(i);
    header += '\n';
    std::fwrite(header.data(), 1, header.size(), _out);
}

void CsvWriter::writeRow(long long frame, float lieLevel, const float* bands, int count) {
    writeRow(frame, frame, lieLevel, bands, count);
}

void CsvWriter::writeRow(long long frame, long long at, float lieLevel, const float* bands, int count) {
    // 20 characters per value at most ("-1.23456789e-308" and separators), plus the frame and time.
    char row[64 + 24 * 64];
    if (count > 64)
        count = 64;
    char* const end = row + sizeof row;
    char* p = appendInteger(row, end, frame);
    *p++ = ',';
    p = formatTime(p, end, at);
    *p++ = ',';
    p = formatValue(p, end, lieLevel);
    for (int i = 0; i < count; ++i) {
        *p++ = ',';
        p = formatValue(p, end, bands[i]);
    }
    *p++ = '\n';
    std::fwrite(row, 1, static_cast<std::size_t>(p - row), _out);
}

bool CsvWriter::failed() const {
    return std::ferror(_out) != 0;
}
