#pragma once
// What veraxo-analyze reports of each input, and the three forms of the summary: text (a few lines per
// input), JSON Lines (one object per input) and CSV (a header and one row per input). The fields of the
// JSON and CSV forms are file, duration_s, frames, mean_lie_level, peak_lie_level, share_above_0_7,
// peak_dbfs, clipped_samples, truncated and error; figures that do not exist (a failed input, no frame,
// the peak of silence) are null / empty.

#include <cstdio>
#include <string>
#include <vector>

#include "AnalyzeOptions.h"

struct InputResult {
    std::string file;
    bool ok = false;
    long long samples = 0;
    long long frames = 0;
    double meanLieLevel = 0.0;
    float peakLieLevel = 0.0f;
    // Frames whose lie level is above FrameAnalysis::HIGH_LEVEL.
    long long highFrames = 0;
    // The input level as the engine sees it: the largest magnitude (0 to 32768) and the samples at the
    // 16-bit rails, as the app's level meter counts them.
    int peakSample = 0;
    long long clippedSamples = 0;
    // The recording was cut short and analysed up to the break.
    bool truncated = false;
    // On failure: the file concerned (the input or an output) and why.
    std::string errorFile;
    std::string errorReason;
    // The failure is standard output closed by its reader (`| head`): the reader chose to stop, so the
    // run says nothing of it on standard error, though its status still tells it.
    bool readerLeft = false;
    std::vector<std::string> warnings;

    // The recording's length in seconds: its samples at the engine's rate, the one definition the
    // summary and the report picture share.
    double duration() const { return durationOf(samples); }
    static double durationOf(long long samples);
    // Decibels relative to full scale (32768) of a peak above 0.
    static double peakDbfs(int peakSample);

    // The error as one line for the summary: the reason, preceded by the file when it is not the input.
    std::string errorLine() const;
};

class BatchSummary {
public:
    BatchSummary(std::FILE* out, AnalyzeOptions::Summary format, bool several);

    // Writes one input's entry (the CSV form's header before the first).
    void write(const InputResult& result);

    // JSON string literal of text; bytes that are not UTF-8 become U+FFFD.
    static std::string jsonString(const std::string& text);
    // A CSV field, quoted when it holds a comma, a quote or a line break.
    static std::string csvField(const std::string& text);

private:
    std::FILE* _out;
    AnalyzeOptions::Summary _format;
    bool _several;
    int _written;
};
