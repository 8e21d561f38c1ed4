// Workers take the next input from a shared counter, so a long file never holds up the others; what a
// finished input keeps until it is reported is its figures (and its report picture's bounded data).

#include "BatchRun.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <thread>

#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

#include "AnalyzeCommand.h"
#include "BatchSummary.h"
#include "PrintableText.h"
#include "ProgressBar.h"
#include "report/OutputFile.h"
#include "sndfile/AudioFileReader.h"
#include "src/brel_memory.h"

namespace {

const char* const PROGRAM = "veraxo-analyze";

std::string inDir(const std::string& dir, const std::string& name) {
    return dir.back() == '/' ? dir + name : dir + "/" + name;
}

// What makes two paths the same file: its device and inode when it exists, else its full path with
// links in the existing part resolved. Devices and FIFOs (/dev/null, /dev/stdout) are not files that
// can be destroyed: empty, no key.
std::string fileKey(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) == 0) {
        if (!S_ISREG(st.st_mode))
            return std::string();
        return "i" + std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
    }
    std::error_code ec;
    const std::filesystem::path full =
        std::filesystem::weakly_canonical(std::filesystem::absolute(path, ec), ec);
    return "p" + (ec ? path : full.string());
}

// The key of a standard stream when it is a regular file (a redirection), else empty.
std::string streamKey(int fd) {
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        return std::string();
    return "i" + std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
}

std::string named(const std::string& s) {
    return "'" + s + "'";
}

// A folder option that names something other than a folder, or "" when it is one or is still to be
// made.
std::string notAFolder(const char* option, const std::string& dir) {
    struct stat st;
    if (dir.empty() || (::stat(dir.c_str(), &st) == 0 ? S_ISDIR(st.st_mode) : errno != ENOTDIR))
        return std::string();
    return std::string(option) + " " + named(dir) + " is not a folder";
}

// Makes dir and its missing parents as `mkdir -p` does (the umask applies); false with errno set.
bool makeFolder(const std::string& dir) {
    struct stat st;
    if (::stat(dir.c_str(), &st) == 0)
        return S_ISDIR(st.st_mode) || (errno = ENOTDIR, false);
    for (std::size_t end = dir.find('/', 1);; end = dir.find('/', end + 1)) {
        const std::string part = dir.substr(0, end);
        if (!part.empty() && ::mkdir(part.c_str(), 0777) != 0 && errno != EEXIST)
            return false;
        if (end == std::string::npos)
            break;
    }
    return ::stat(dir.c_str(), &st) == 0 && (S_ISDIR(st.st_mode) || (errno = ENOTDIR, false));
}

std::size_t coresAvailable() {
    cpu_set_t set;
    if (::sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0)
        return static_cast<std::size_t>(CPU_COUNT(&set));
    return std::thread::hardware_concurrency();
}

// Progress of one input, shared between its worker and the main thread; a cache line each, so workers
// counting their blocks do not contend for one.
struct alignas(64) Progress {
    std::atomic<long long> samples{0};
    std::atomic<long long> expected{0};
    std::atomic<bool> done{false};
};

// Whether the command's own result stands (success or a failure it reports); when the analysis
// threw, false with the reason in `thrown`.
bool analyseSafely(AnalyzeCommand& command, Progress& progress, std::string& thrown) {
    try {
        command.analyse(&progress.samples, &progress.expected);
        return true;
    } catch (const std::bad_alloc&) {
        thrown = "out of memory";
    } catch (const brel::xout_of_memory&) {
        thrown = "out of memory";
    } catch (...) {
        thrown = "internal error";
    }
    return false;
}

// What the workers and the main thread share. A finished report picture waits, with its data, until
// the inputs before it are reported; workers keep at most `ahead` inputs beyond the last one reported,
// so memory stays bounded. Other results are a few numbers: no limit (ahead 0).
struct Shared {
    Shared(const std::vector<AnalyzeOptions>& perInput, std::size_t ahead)
        : perInput(perInput), commands(perInput.size()), fallbacks(perInput.size()),
          progress(new Progress[perInput.size()]), ahead(ahead) {}

    const std::vector<AnalyzeOptions>& perInput;
    std::vector<std::unique_ptr<AnalyzeCommand>> commands;
    std::vector<InputResult> fallbacks;
    std::unique_ptr<Progress[]> progress;
    std::atomic<std::size_t> next{0};
    std::atomic<std::size_t> finished{0};
    std::mutex lock;
    std::condition_variable changed;
    std::size_t reported = 0;
    std::size_t ahead;
};

// A worker: analyses inputs until none is left. A command that could not run leaves its reason in the
// input's fallback result.
void analyseInputs(Shared& s) {
    const std::size_t count = s.perInput.size();
    for (;;) {
        const std::size_t i = s.next.fetch_add(1);
        if (i >= count)
            return;
        if (s.ahead) {
            std::unique_lock<std::mutex> guard(s.lock);
            s.changed.wait(guard, [&]() { return i < s.reported + s.ahead; });
        }
        std::unique_ptr<AnalyzeCommand> command;
        s.fallbacks[i].file = s.perInput[i].input;
        s.fallbacks[i].errorFile = s.perInput[i].input;
        try {
            command.reset(new AnalyzeCommand(s.perInput[i]));
            if (!analyseSafely(*command, s.progress[i], s.fallbacks[i].errorReason))
                command.reset();
        } catch (...) {
            command.reset();
            s.fallbacks[i].errorReason = "out of memory";
        }
        {
            std::lock_guard<std::mutex> guard(s.lock);
            s.commands[i] = std::move(command);
            s.progress[i].done.store(true);
        }
        s.finished.fetch_add(1);
        s.changed.notify_all();
    }
}

// The batch's progress line: inputs still running count in part, by how much of their expected length
// has been read. The speed appears once there is one to tell.
class BatchProgress {
public:
    BatchProgress(const Shared& shared, bool terminal)
        : _shared(shared), _bar(stderr, static_cast<long long>(shared.perInput.size()) * 1000, terminal),
          _terminal(terminal), _start(std::chrono::steady_clock::now()) {}

    void draw() {
        if (!_terminal)
            return;
        const std::size_t count = _shared.perInput.size();
        long long samples = 0;
        double fraction = 0.0;
        for (std::size_t i = 0; i < count; ++i) {
            const Progress& p = _shared.progress[i];
            const long long read = p.samples.load(std::memory_order_relaxed);
            const long long expected = p.expected.load(std::memory_order_relaxed);
            samples += read;
            if (p.done.load())
                fraction += 1.0;
            else if (expected > 0)
                fraction += std::min(1.0, static_cast<double>(read) / static_cast<double>(expected));
        }
        const double seconds = static_cast<double>(samples) / AudioFileReader::OUTPUT_RATE;
        const double elapsed =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - _start).count();
        char detail[128];
        const int n = std::snprintf(detail, sizeof detail, "%zu/%zu files, %.0f s of audio",
                                    _shared.finished.load(), count, seconds);
        const double speed = elapsed >= 0.5 ? seconds / elapsed : 0.0;
        if (speed > 0.0)
            std::snprintf(detail + n, sizeof detail - static_cast<std::size_t>(n),
                          speed >= 10.0 ? " at %.0f s/s" : " at %.2g s/s", speed);
        _bar.update(static_cast<long long>(fraction * 1000.0), detail);
    }
    // Makes way for lines written to the terminal the bar is on.
    void clear() { _bar.finish(); }

private:
    const Shared& _shared;
    ProgressBar _bar;
    const bool _terminal;
    const std::chrono::steady_clock::time_point _start;
};

void message(const char* kind, const std::string& text) {
    std::fprintf(stderr, "%s: %s%s\n", PROGRAM, kind, printableText(text).c_str());
}

// The main thread's side: reports each input as soon as it and those before it are done, draws its
// report picture, and keeps the progress line up to date meanwhile. 0 when all went well.
int reportInOrder(Shared& shared, AnalyzeOptions::Summary format) {
    const std::vector<AnalyzeOptions>& perInput = shared.perInput;
    // The summary makes way for an output written into standard output, by "-" or by a name for it.
    bool outputOnStdout = false;
    for (const AnalyzeOptions& one : perInput)
        outputOnStdout = outputOnStdout ||
                         (one.csv && (one.csvPath == "-" || OutputFile::names(one.csvPath, STDOUT_FILENO))) ||
                         (one.png && OutputFile::names(one.pngPath, STDOUT_FILENO));
    std::FILE* const summaryFile = outputOnStdout ? stderr : stdout;
    BatchSummary summary(summaryFile, format, perInput.size() > 1);
    const bool summaryOnTerminal = ::isatty(::fileno(summaryFile)) == 1;
    BatchProgress progress(shared, ::isatty(STDERR_FILENO) == 1);

    int status = 0;
    int writeError = 0;
    for (std::size_t i = 0; i < perInput.size(); ++i) {
        std::unique_ptr<AnalyzeCommand> command;
        {
            std::unique_lock<std::mutex> guard(shared.lock);
            while (!shared.progress[i].done.load()) {
                shared.changed.wait_for(guard, std::chrono::milliseconds(250));
                guard.unlock();
                progress.draw();
                guard.lock();
            }
            command = std::move(shared.commands[i]);
            ++shared.reported;
        }
        shared.changed.notify_all();
        bool ok = false;
        if (command) {
            try {
                ok = command->finish();
            } catch (...) {
                ok = false;
            }
        }
        const InputResult& result = command ? command->result() : shared.fallbacks[i];
        if (!command || !result.errorReason.empty() || !result.warnings.empty() || summaryOnTerminal)
            progress.clear();
        std::fflush(stdout);
        for (const std::string& warning : result.warnings)
            message("warning: ", warning);
        if (!ok) {
            status = 1;
            if (!result.readerLeft)
                message("", (result.errorFile.empty() ? result.file : result.errorFile) + ": " +
                                result.errorReason);
        }
        summary.write(result);
        // Each entry goes out as soon as it is known, for whatever reads the summary as it comes.
        if (std::fflush(summaryFile) != 0 && !writeError)
            writeError = errno ? errno : EIO;
        progress.draw();
    }
    progress.clear();

    if (std::fflush(summaryFile) != 0 && !writeError)
        writeError = errno ? errno : EIO;
    if (writeError || std::ferror(summaryFile)) {
        // A reader that closed the pipe (`| head`) stopped on purpose: the status alone tells it.
        if (summaryFile == stdout && writeError != EPIPE)
            message("", std::string("standard output: cannot write (") +
                            std::strerror(writeError ? writeError : EIO) + ")");
        return 1;
    }
    return status;
}

} // namespace

BatchRun::BatchRun(const AnalyzeOptions& options) : _options(options) {
    _perInput.reserve(options.inputs.size());
    AnalyzeOptions base = options;
    base.inputs.clear();
    for (const std::string& input : options.inputs) {
        AnalyzeOptions one = base;
        one.input = input;
        if (!options.csvDir.empty()) {
            one.csv = true;
            one.csvPath = inDir(options.csvDir, AnalyzeOptions::outputName(input) + ".csv");
        }
        if (!options.pngDir.empty()) {
            one.png = true;
            one.pngPath = inDir(options.pngDir, AnalyzeOptions::outputName(input) + ".png");
        }
        _perInput.push_back(std::move(one));
    }
}

bool BatchRun::checkOutputs(std::string& error) const {
    for (const std::string& problem :
         {notAFolder("--csv-dir", _options.csvDir), notAFolder("--png-dir", _options.pngDir)}) {
        if (!problem.empty()) {
            error = problem;
            return false;
        }
    }
    // Each file seen, by its key: how to name it in a message ("output 'x.csv'", "standard input"), and
    // whether it is an output written through a descriptor path such as /dev/stdout.
    struct Seen {
        std::string name;
        bool output;
        bool descriptor;
    };
    std::map<std::string, Seen> seen;
    for (const AnalyzeOptions& one : _perInput) {
        const bool isStdin = one.input == "-";
        const std::string key = isStdin ? streamKey(STDIN_FILENO) : fileKey(one.input);
        if (!key.empty())
            seen.emplace(key, Seen{isStdin ? std::string("standard input") : "input " + named(one.input),
                                   false, false});
    }
    std::vector<std::string> outputs;
    for (const AnalyzeOptions& one : _perInput) {
        if (one.csv && one.csvPath != "-")
            outputs.push_back(one.csvPath);
        if (one.png)
            outputs.push_back(one.pngPath);
    }
    const std::string out = streamKey(STDOUT_FILENO);
    for (std::size_t i = 0; i <= outputs.size(); ++i) {
        const bool isStdout = i == outputs.size();
        const std::string key = isStdout ? out : fileKey(outputs[i]);
        if (key.empty())
            continue;
        const std::string name = isStdout ? std::string("standard output") : "output " + named(outputs[i]);
        const auto found = seen.find(key);
        if (found == seen.end()) {
            seen.emplace(key, Seen{name, true, !isStdout && OutputFile::namesDescriptor(outputs[i])});
            continue;
        }
        // An output named as a descriptor (/dev/stdout) writes into the standard output itself; a file
        // replaced by name under a redirected standard output would lose the summary with it.
        if (isStdout && found->second.descriptor)
            continue;
        error = name + " is the same file as " + found->second.name;
        return false;
    }
    return true;
}

bool BatchRun::makeFolders() const {
    for (const std::string& dir : {_options.csvDir, _options.pngDir}) {
        if (!dir.empty() && !makeFolder(dir)) {
            message("", dir + ": cannot create the folder (" + std::strerror(errno) + ")");
            return false;
        }
    }
    return true;
}

int BatchRun::run() {
    if (!makeFolders())
        return 1;
    const std::size_t count = _perInput.size();
    std::size_t jobs = _options.jobs > 0 ? static_cast<std::size_t>(_options.jobs) : coresAvailable();
    jobs = std::max<std::size_t>(1, std::min(jobs, count));

    Shared shared(_perInput, _perInput[0].png ? 4 * jobs : 0);
    std::vector<std::thread> workers;
    for (std::size_t j = 0; j < jobs; ++j) {
        try {
            workers.emplace_back(analyseInputs, std::ref(shared));
        } catch (const std::exception&) {
            break;
        }
    }
    if (workers.empty()) {
        shared.ahead = 0;
        analyseInputs(shared);
    }
    const int status = reportInOrder(shared, _options.summary);
    for (std::thread& worker : workers)
        worker.join();
    return status;
}
