// The time of a frame is a whole number of milliseconds ((frame + 1) * 16), so it is printed exactly
// from integers. A row of 32 bands fits comfortably in a fixed stack buffer.

#include "CsvWriter.h"

#include <charconv>
#include <string>

namespace {

char* appendInteger(char* out, char* end, long long value) {
    return std::to_chars(out, end, value).ptr;
}

} // namespace

CsvWriter::CsvWriter(std::FILE* out) : _out(out) {}

char* CsvWriter::formatValue(char* out, char* end, float value) {
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
    // 20 characters per value at most ("-1.23456789e-308" and separators), plus the frame and time.
    char row[64 + 24 * 64];
    if (count > 64)
        count = 64;
    char* const end = row + sizeof row;
    char* p = appendInteger(row, end, frame);
    *p++ = ',';
    p = formatTime(p, end, frame);
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
