#pragma once
// One run of veraxo-analyze over an input: streams the file through the engine, writes the CSV, prints
// the summary and returns the exit status (0 done, 1 input or output error). A CSV goes through
// OutputFile, so a failed run leaves no partial file behind; a CSV on standard output that fails part
// way is followed by an error message and status 1.

#include <cstdio>
#include <string>

#include "AnalyzeOptions.h"
#include "OutputFile.h"

class AnalyzeCommand {
public:
    explicit AnalyzeCommand(const AnalyzeOptions& options);
    ~AnalyzeCommand();

    AnalyzeCommand(const AnalyzeCommand&) = delete;
    AnalyzeCommand& operator=(const AnalyzeCommand&) = delete;

    int run();

private:
    bool openCsv();
    bool closeCsv();
    void discardCsv();
    int fail(const std::string& file, const std::string& reason);

    const AnalyzeOptions& _options;
    std::FILE* _csv;
    OutputFile _csvFile;
};
