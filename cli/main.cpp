// veraxo-analyze: the command-line entry. Exit status 0 done, 1 an input or output error, 2 a usage
// error (one line naming the problem).

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "AnalyzeOptions.h"
#include "BatchRun.h"

namespace {

int usageError(const std::string& problem) {
    std::fprintf(stderr, "veraxo-analyze: %s. Try 'veraxo-analyze --help'.\n", problem.c_str());
    return 2;
}

// Help and version text: a standard output that cannot take it is a failure, said on standard error.
int printText(const std::string& text) {
    std::fputs(text.c_str(), stdout);
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        const int error = errno ? errno : EIO;
        std::fprintf(stderr, "veraxo-analyze: standard output: cannot write (%s)\n", std::strerror(error));
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    // A closed pipe on the CSV is reported as a write error instead of killing the process silently.
    std::signal(SIGPIPE, SIG_IGN);

    AnalyzeOptions options;
    const AnalyzeOptions::Result parsed = options.parse(std::vector<std::string>(argv + 1, argv + argc));
    if (parsed == AnalyzeOptions::HELP)
        return printText(AnalyzeOptions::usage());
    if (parsed == AnalyzeOptions::VERSION)
        return printText(std::string("veraxo-analyze ") + VERAXO_VERSION + "\n");
    if (parsed == AnalyzeOptions::USAGE_ERROR)
        return usageError(options.error);
    BatchRun batch(options);
    std::string clash;
    if (!batch.checkOutputs(clash))
        return usageError(clash);
    return batch.run();
}
