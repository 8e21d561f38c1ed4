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
#include "OutputFile.h"
#include "ProgressBar.h"
#include "platform/AudioFileReader.h"
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
    // Each file seen, by its key: how to name it in a message ("output 'x.csv'", "standard input").
    std::map<std::string, std::pair<std::string, bool>> seen;
    for (const AnalyzeOptions& one : _perInput) {
        const bool isStdin = one.input == "-";
        const std::string key = isStdin ? streamKey(STDIN_FILENO) : fileKey(one.input);
        if (!key.empty())
            seen.emplace(
                key,
                std::make_pair(isStdin ? std::string("standard input") : "input " + named(one.input), false));
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
            seen.emplace(key, std::make_pair(name, true));
            continue;
        }
        // The standard output may well be the file another output names; only an input is at risk there.
        if (isStdout && found->second.second)
            continue;
        error = name + " is the same file as " + found->second.first;
        return false;
    }
    return true;
}

int BatchRun::run() {
    const std::size_t count = _perInput.size();
    std::size_t jobs = _options.jobs > 0 ? static_cast<std::size_t>(_options.jobs) : coresAvailable();
    if (jobs < 1)
        jobs = 1;
    if (jobs > count)
        jobs = count;

    // The summary makes way for an output written into standard output, by "-" or by a name for it.
    bool outputOnStdout = false;
    for (const AnalyzeOptions& one : _perInput)
        outputOnStdout = outputOnStdout ||
                         (one.csv && (one.csvPath == "-" || OutputFile::names(one.csvPath, STDOUT_FILENO))) ||
                         (one.png && OutputFile::names(one.pngPath, STDOUT_FILENO));
    std::FILE* const summaryFile = outputOnStdout ? stderr : stdout;
    BatchSummary summary(summaryFile, _options.summary, count > 1);
    const bool terminal = ::isatty(STDERR_FILENO) == 1;
    const bool summaryOnTerminal = ::isatty(::fileno(summaryFile)) == 1;
    // The bar counts thousandths of the batch.
    ProgressBar bar(stderr, static_cast<long long>(count) * 1000, terminal);

    std::vector<std::unique_ptr<AnalyzeCommand>> commands(count);
    std::vector<InputResult> fallbacks(count);
    std::unique_ptr<Progress[]> progress(new Progress[count]);
    std::atomic<std::size_t> next{0};
    std::atomic<std::size_t> finished{0};
    std::mutex lock;
    std::condition_variable changed;
    // A finished report picture waits, with its data, until the inputs before it are reported; workers
    // keep at most `ahead` inputs beyond the last one reported, so memory stays bounded. Other results
    // are a few numbers: no limit.
    std::size_t reported = 0;
    std::size_t ahead = _perInput[0].png ? 4 * jobs : 0;

    const auto work = [&]() {
        for (;;) {
            const std::size_t i = next.fetch_add(1);
            if (i >= count)
                return;
            if (ahead) {
                std::unique_lock<std::mutex> guard(lock);
                changed.wait(guard, [&]() { return i < reported + ahead; });
            }
            std::unique_ptr<AnalyzeCommand> command;
            fallbacks[i].file = _perInput[i].input;
            fallbacks[i].errorFile = _perInput[i].input;
            try {
                command.reset(new AnalyzeCommand(_perInput[i]));
                if (!analyseSafely(*command, progress[i], fallbacks[i].errorReason))
                    command.reset();
            } catch (...) {
                command.reset();
                fallbacks[i].errorReason = "out of memory";
            }
            {
                std::lock_guard<std::mutex> guard(lock);
                commands[i] = std::move(command);
                progress[i].done.store(true);
            }
            finished.fetch_add(1);
            changed.notify_all();
        }
    };
    std::vector<std::thread> workers;
    for (std::size_t j = 0; j < jobs; ++j) {
        try {
            workers.emplace_back(work);
        } catch (const std::exception&) {
            break;
        }
    }
    if (workers.empty()) {
        ahead = 0;
        work();
    }

    const auto start = std::chrono::steady_clock::now();
    const auto draw = [&]() {
        if (!terminal)
            return;
        // Inputs still running count in part, by how much of their expected length has been read.
        long long samples = 0;
        double fraction = 0.0;
        for (std::size_t i = 0; i < count; ++i) {
            const long long read = progress[i].samples.load(std::memory_order_relaxed);
            const long long expected = progress[i].expected.load(std::memory_order_relaxed);
            samples += read;
            if (progress[i].done.load())
                fraction += 1.0;
            else if (expected > 0)
                fraction += std::min(1.0, static_cast<double>(read) / static_cast<double>(expected));
        }
        const std::size_t done = finished.load();
        const double seconds = static_cast<double>(samples) / AudioFileReader::OUTPUT_RATE;
        const double elapsed =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        char detail[128];
        std::snprintf(detail, sizeof detail, "%zu/%zu files, %.0f s of audio at %.0f s/s", done, count,
                      seconds, elapsed > 0.05 ? seconds / elapsed : 0.0);
        bar.update(static_cast<long long>(fraction * 1000.0), detail);
    };

    int status = 0;
    int writeError = 0;
    for (std::size_t i = 0; i < count; ++i) {
        std::unique_ptr<AnalyzeCommand> command;
        {
            std::unique_lock<std::mutex> guard(lock);
            while (!progress[i].done.load()) {
                changed.wait_for(guard, std::chrono::milliseconds(250));
                guard.unlock();
                draw();
                guard.lock();
            }
            command = std::move(commands[i]);
            ++reported;
        }
        changed.notify_all();
        bool ok = false;
        if (command) {
            try {
                ok = command->finish();
            } catch (...) {
                ok = false;
            }
        }
        const InputResult& result = command ? command->result() : fallbacks[i];
        // The bar makes way for lines written to the terminal it is on.
        if (!command || !result.errorReason.empty() || !result.warnings.empty() || summaryOnTerminal)
            bar.finish();
        std::fflush(stdout);
        for (const std::string& warning : result.warnings)
            std::fprintf(stderr, "%s: warning: %s\n", PROGRAM, warning.c_str());
        if (!ok) {
            status = 1;
            const std::string file = result.errorFile.empty() ? result.file : result.errorFile;
            std::fprintf(stderr, "%s: %s: %s\n", PROGRAM, file.c_str(), result.errorReason.c_str());
        }
        summary.write(result);
        // Each entry goes out as soon as it is known, for whatever reads the summary as it comes.
        if (std::fflush(summaryFile) != 0 && !writeError)
            writeError = errno ? errno : EIO;
        draw();
    }
    for (std::thread& worker : workers)
        worker.join();
    bar.finish();

    if (std::fflush(summaryFile) != 0 && !writeError)
        writeError = errno ? errno : EIO;
    if (writeError || std::ferror(summaryFile)) {
        if (summaryFile == stdout)
            std::fprintf(stderr, "%s: standard output: cannot write (%s)\n", PROGRAM,
                         std::strerror(writeError ? writeError : EIO));
        return 1;
    }
    return status;
}
