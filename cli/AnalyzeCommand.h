#pragma once
// One input of veraxo-analyze: streams the file through its own engine, writes the CSV and gathers the
// summary figures (analyse(), on any thread), then draws the report picture (finish(), on the main
// thread, where Qt must run). Both outputs go through OutputFile, so a failed run leaves no partial
// file behind; a CSV on standard output that fails part way makes the input fail.

#include <atomic>
#include <cstdio>
#include <memory>
#include <string>

#include "AnalyzeOptions.h"
#include "BatchSummary.h"
#include "report/OutputFile.h"

class AudioFileReader;
class CsvWriter;
class FrameAnalysis;
class ReportSink;

class AnalyzeCommand {
public:
    // options.input, csv/csvPath and png/pngPath describe this one input.
    explicit AnalyzeCommand(const AnalyzeOptions& options);
    ~AnalyzeCommand();

    AnalyzeCommand(const AnalyzeCommand&) = delete;
    AnalyzeCommand& operator=(const AnalyzeCommand&) = delete;

    // Reads and analyses the input and writes its CSV; analysedSamples, when given, grows as the input
    // is read, and expectedSamples receives its expected length (for a progress bar). False when the
    // input or the CSV failed (see result()).
    bool analyse(std::atomic<long long>* analysedSamples = nullptr,
                 std::atomic<long long>* expectedSamples = nullptr);
    // Writes the report picture, if one was asked for; the main thread only. False when it failed.
    bool finish();
    const InputResult& result() const { return _result; }

private:
    // The steps of analyse(); each false after fail().
    bool openInput(AudioFileReader& reader);
    // The picture is made through its module; false (and the result failed) when it cannot be loaded.
    bool attachReport(FrameAnalysis& analysis);
    bool stream(AudioFileReader& reader, FrameAnalysis& analysis, const CsvWriter& writer,
                std::atomic<long long>* analysedSamples);
    // The CSV as messages name it.
    std::string csvName() const;
    bool openCsv();
    bool closeCsv();
    void discardCsv();
    bool fail(const std::string& file, const std::string& reason);

    const AnalyzeOptions& _options;
    std::FILE* _csv;
    OutputFile _csvFile;
    InputResult _result;
#ifdef VERAXO_WITH_PNG
    std::unique_ptr<ReportSink> _report;
#endif
};
