// veraxo-analyze: the command-line entry. Exit status 0 done, 1 an input or output error, 2 a usage
// error (one line naming the problem).

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "AnalyzeOptions.h"
#include "BatchRun.h"
#include "PrintableText.h"
#include "VeraxoVersion.h"

namespace {

// A standard descriptor closed by the caller would be taken by the first file opened, and the summary
// or the messages would land in a CSV. /dev/null holds its place, opened the wrong way round so that
// using the stream still fails (reading standard input, writing standard output, as a closed one would).
void holdStandardDescriptors() {
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF)
            continue;
        const int held = ::open("/dev/null", fd == STDIN_FILENO ? O_WRONLY : O_RDONLY);
        if (held >= 0 && held != fd) {
            ::dup2(held, fd);
            ::close(held);
        }
    }
}

int usageError(const std::string& problem) {
    std::fprintf(stderr, "veraxo-analyze: %s. Try 'veraxo-analyze --help'.\n",
                 printableText(problem).c_str());
    return 2;
}

// Help and version text: a standard output that cannot take it is a failure, said on standard error.
int printText(const std::string& text) {
    std::fputs(text.c_str(), stdout);
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        const int error = errno ? errno : EIO;
        if (error != EPIPE) // `--help | head` closes the pipe on purpose
            std::fprintf(stderr, "veraxo-analyze: standard output: cannot write (%s)\n",
                         std::strerror(error));
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    holdStandardDescriptors();
    // A closed pipe on standard output ends the run with status 1 instead of killing the process, so
    // the other outputs of a batch are finished or cleaned up; a closed pipe elsewhere is reported.
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
