#pragma once
// Writes the per-frame CSV: "frame,time_s,lie_level,s0,...,s31", one row per spectrum frame, the time
// as %.3f and every value as %.9g. Rows are formatted with std::to_chars, which gives the same text
// as printf at a fraction of the cost; writing a long file is dominated by formatting.

#include <cstdio>

class CsvWriter {
public:
    explicit CsvWriter(std::FILE* out);

    void writeHeader(int bands);
    // time_s is (frame + 1) * 128 / 8000: the end of the frame's last hop.
    void writeRow(long long frame, float lieLevel, const float* bands, int count);
    // The same with the time of frame `at` instead: a frame whose place in a recording is not its count.
    void writeRow(long long frame, long long at, float lieLevel, const float* bands, int count);
    bool failed() const;

    // Appends value as printf("%.9g") would; returns the new end.
    static char* formatValue(char* out, char* end, float value);
    // Appends (frame + 1) * 128 / 8000 as printf("%.3f") would; returns the new end.
    static char* formatTime(char* out, char* end, long long frame);

private:
    std::FILE* _out;
};
