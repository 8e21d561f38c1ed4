#pragma once
// The command line of veraxo-analyze: [--csv PATH|-] [--png PATH] [--csv-dir DIR] [--png-dir DIR]
// [--summary text|json|csv] [-j N] [--block N] [--raw] [--help] [--version] INPUT... Parsing never exits;
// it says what was wrong so the caller can print it.

#include <string>
#include <vector>

class AnalyzeOptions {
public:
    static constexpr int DEFAULT_BLOCK = 512;
    static constexpr int MAX_BLOCK = 1000000;
    static constexpr int MAX_JOBS = 1024;

    enum Result { OK, HELP, VERSION, USAGE_ERROR };
    enum Summary { SUMMARY_TEXT, SUMMARY_JSON, SUMMARY_CSV };

    // args excludes the program name.
    Result parse(const std::vector<std::string>& args);

    static const char* usage();
    // The NAME of DIR/NAME.csv for an input: its file name without the extension ("stdin" for "-").
    static std::string outputName(const std::string& input);

    // Every INPUT in the order given; `input` is the first (the one a single-input run reads).
    std::vector<std::string> inputs;
    std::string input;
    std::string csvPath;
    bool csv = false;
    std::string csvDir;
    // The report picture (builds with the views only).
    std::string pngPath;
    bool png = false;
    std::string pngDir;
    Summary summary = SUMMARY_TEXT;
    // Inputs analysed at once; 0 = the number of cores.
    int jobs = 0;
    int block = DEFAULT_BLOCK;
    bool raw = false;
    // What was wrong, after USAGE_ERROR.
    std::string error;

private:
    // One option and its value; false when the value is refused.
    bool setOption(const std::string& name, const std::string& value);
    // What only the whole command line tells (inputs given, options that exclude each other, two
    // inputs writing one output); false when refused.
    bool checkTogether();
    // Keeps the reason; always false.
    bool refuse(const std::string& why);
};
