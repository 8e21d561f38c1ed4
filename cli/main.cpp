// veraxo-analyze: the command-line entry. Exit status 0 done, 1 input or output error, 2 usage error.

#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "AnalyzeCommand.h"
#include "AnalyzeOptions.h"

int main(int argc, char** argv) {
    // A closed pipe on the CSV is reported as a write error instead of killing the process silently.
    std::signal(SIGPIPE, SIG_IGN);

    AnalyzeOptions options;
    const AnalyzeOptions::Result parsed = options.parse(std::vector<std::string>(argv + 1, argv + argc));
    if (parsed == AnalyzeOptions::HELP) {
        std::fputs(AnalyzeOptions::usage(), stdout);
        return 0;
    }
    if (parsed == AnalyzeOptions::USAGE_ERROR) {
        std::fprintf(stderr, "veraxo-analyze: %s\n%s", options.error.c_str(), AnalyzeOptions::usage());
        return 2;
    }
    return AnalyzeCommand(options).run();
}
