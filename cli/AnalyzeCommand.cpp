// The reader hands out exactly `block` samples per engine call except at the end of the input, so the
// engine sees the blocks the user asked for. Output goes through large stdio buffers; the summary goes
// to standard output unless the CSV does.

#include "AnalyzeCommand.h"

#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include <unistd.h>

#include "CsvWriter.h"
#include "FrameAnalysis.h"
#include "ProgressBar.h"
#include "Shared/Signal/Filter/Mel.h"
#include "platform/AudioFileReader.h"
#ifdef VERAXO_WITH_PNG
#include "ReportPicture.h"
#endif

namespace {

const char* const PROGRAM = "veraxo-analyze";

bool toStdout(const AnalyzeOptions& o) {
    return o.csv && o.csvPath == "-";
}

} // namespace

AnalyzeCommand::AnalyzeCommand(const AnalyzeOptions& options) : _options(options), _csv(0) {}

AnalyzeCommand::~AnalyzeCommand() {
    discardCsv();
}

int AnalyzeCommand::fail(const std::string& file, const std::string& reason) {
    discardCsv();
    std::fflush(stdout);
    std::fprintf(stderr, "%s: %s: %s\n", PROGRAM, file.c_str(), reason.c_str());
    return 1;
}

bool AnalyzeCommand::openCsv() {
    if (toStdout(_options)) {
        _csv = stdout;
        std::setvbuf(_csv, 0, _IOFBF, 1 << 16);
        return true;
    }
    _csv = _csvFile.open(_options.csvPath) ? _csvFile.stream() : 0;
    return _csv != 0;
}

bool AnalyzeCommand::closeCsv() {
    if (_csv == stdout) {
        _csv = 0;
        return std::fflush(stdout) == 0 && !std::ferror(stdout);
    }
    _csv = 0;
    return _csvFile.commit();
}

void AnalyzeCommand::discardCsv() {
    _csv = 0;
    _csvFile.discard();
}

int AnalyzeCommand::run() {
    AudioFileReader reader;
    if (!reader.open(_options.input, _options.raw))
        return fail(_options.input, reader.errorText());

    const std::string csvName = toStdout(_options) ? "standard output" : _options.csvPath;
    if (_options.csv && !openCsv())
        return fail(csvName, "cannot write (" + _csvFile.error() + ")");

    CsvWriter writer(_csv);
    if (_csv)
        writer.writeHeader(Signal::Filter::Mel::BANDS);
    FrameAnalysis analysis(_csv ? &writer : 0);
#ifdef VERAXO_WITH_PNG
    std::unique_ptr<ReportPicture> report;
    if (_options.png) {
        typedef brel::callback2<void, const Signal::Sample*, int> Callback;
        const std::size_t slash = _options.input.find_last_of('/');
        report.reset(new ReportPicture("Veraxo report: " + (slash == std::string::npos
                                                                ? _options.input
                                                                : _options.input.substr(slash + 1))));
        analysis.engine().attachOutput(VeraxoEngine::OUTPUT_LIE_LEVEL,
                                       Callback(report.get(), &ReportPicture::onLieLevel));
        analysis.engine().attachOutput(VeraxoEngine::OUTPUT_SPECTRUM,
                                       Callback(report.get(), &ReportPicture::onSpectrum));
    }
#endif
    ProgressBar progress(stderr, reader.expectedSamples(), ::isatty(STDERR_FILENO) == 1);

    std::vector<short> block(static_cast<std::size_t>(_options.block));
    for (;;) {
        int filled = 0;
        while (filled < _options.block) {
            const int n = reader.read(block.data() + filled, _options.block - filled);
            if (n < 0) {
                progress.finish();
                return fail(_options.input, reader.errorText());
            }
            if (n == 0)
                break;
            filled += n;
        }
        if (filled > 0)
            analysis.input(block.data(), filled);
        progress.update(analysis.samples());
        if (_csv && writer.failed()) {
            progress.finish();
            return fail(csvName, std::string("cannot write (") + std::strerror(errno) + ")");
        }
        if (filled < _options.block)
            break;
    }
    progress.finish();
    if (reader.truncated())
        std::fprintf(stderr, "%s: warning: %s is cut short (%s); analysed up to the break\n", PROGRAM,
                     _options.input.c_str(), reader.truncation().c_str());

    if (_options.csv && !closeCsv())
        return fail(csvName,
                    "cannot write (" +
                        (_csvFile.error().empty() ? std::string(std::strerror(errno)) : _csvFile.error()) +
                        ")");

#ifdef VERAXO_WITH_PNG
    if (report) {
        std::string warning, error;
        if (!report->write(_options.pngPath, warning, error))
            return fail(_options.pngPath, error);
        if (!warning.empty())
            std::fprintf(stderr, "%s: warning: %s; the picture shows the rest\n", PROGRAM, warning.c_str());
    }
#endif

    std::FILE* summary = toStdout(_options) || _csvFile.sameFileAs(STDOUT_FILENO) ? stderr : stdout;
    const long long frames = analysis.frames();
    std::fprintf(summary, "input: %s\n", _options.input.c_str());
    std::fprintf(summary, "duration: %.3f s (%lld samples at 8000 Hz)\n",
                 static_cast<double>(analysis.samples()) / AudioFileReader::OUTPUT_RATE, analysis.samples());
    std::fprintf(summary, "frames: %lld\n", frames);
    if (frames > 0) {
        std::fprintf(summary, "mean lie level: %.6f\n", analysis.meanLieLevel());
        std::fprintf(summary, "peak lie level: %.6f\n", static_cast<double>(analysis.peakLieLevel()));
        std::fprintf(summary, "frames above %.1f: %lld (%.1f%%)\n",
                     static_cast<double>(FrameAnalysis::HIGH_LEVEL), analysis.highFrames(),
                     100.0 * static_cast<double>(analysis.highFrames()) / frames);
    } else {
        std::fprintf(summary, "mean lie level: none (input shorter than one 16 ms hop)\n");
    }
    if (std::fflush(summary) != 0)
        return 1;
    return 0;
}
