#pragma once
// The command line of veraxo-analyze: [--csv PATH|-] [--png PATH] [--block N] [--raw] [--help] INPUT. Parsing
// never exits; it says what was wrong so the caller can print it with the usage.

#include <string>
#include <vector>

class AnalyzeOptions {
public:
    static constexpr int DEFAULT_BLOCK = 512;
    static constexpr int MAX_BLOCK = 1000000;

    enum Result { OK, HELP, USAGE_ERROR };

    // args excludes the program name.
    Result parse(const std::vector<std::string>& args);

    static const char* usage();

    std::string input;
    std::string csvPath;
    bool csv = false;
    // The report picture (builds with the views only).
    std::string pngPath;
    bool png = false;
    int block = DEFAULT_BLOCK;
    bool raw = false;
    // What was wrong, after USAGE_ERROR.
    std::string error;
};
