#pragma once
// A run of veraxo-analyze over its INPUTs: each input has its own AnalyzeCommand (and engine), up to
// `jobs` of them analysed at once on worker threads, while the main thread reports each result in input
// order as soon as it and those before it are done: warnings and failures on standard error, the
// summary where it belongs, the report picture drawn on the main thread. A failed input does not stop
// the others. One progress bar for the whole batch is drawn on standard error when it is a terminal.

#include <string>
#include <vector>

#include "AnalyzeOptions.h"

class BatchRun {
public:
    explicit BatchRun(const AnalyzeOptions& options);

    // Refuses (with the reason in `error`) outputs that are an input or another output (the standard
    // output redirected into one included): the same device and inode, or for files not yet made the
    // same path; and a --csv-dir or --png-dir that names something other than a folder. Nothing has
    // been read or written yet.
    bool checkOutputs(std::string& error) const;

    // Makes the output folders that are missing, then runs the batch. 0 when every input was analysed
    // and every output written, 1 otherwise.
    int run();

    // The options of each input on its own (input, csv/csvPath, png/pngPath set for it).
    const std::vector<AnalyzeOptions>& perInput() const { return _perInput; }

private:
    // Makes --csv-dir and --png-dir with their parents, as `mkdir -p` does; false (said in one line)
    // when one cannot be made.
    bool makeFolders() const;

    const AnalyzeOptions& _options;
    std::vector<AnalyzeOptions> _perInput;
};
