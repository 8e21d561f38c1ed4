// The reader hands out exactly `block` samples per engine call except at the end of the input, so the
// engine sees the blocks the user asked for. Output goes through large stdio buffers. Nothing here
// prints: failures and figures go to the result, which the batch reports in input order.

#include "AnalyzeCommand.h"

#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include <unistd.h>

#include "FrameAnalysis.h"
#include "ReportLoader.h"
#include "Shared/Signal/Filter/Mel.h"
#include "report/CsvWriter.h"
#include "sndfile/AudioFileReader.h"

namespace {

bool toStdout(const AnalyzeOptions& o) {
    return o.csv && o.csvPath == "-";
}

bool endsWithAny(const std::string& path, std::initializer_list<const char*> tails) {
    std::string lower = path;
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (const char* tail : tails) {
        const std::size_t n = std::strlen(tail);
        if (lower.size() > n && lower.compare(lower.size() - n, n, tail) == 0)
            return true;
    }
    return false;
}

} // namespace

AnalyzeCommand::AnalyzeCommand(const AnalyzeOptions& options) : _options(options), _csv(0) {
    _result.file = options.input;
}

AnalyzeCommand::~AnalyzeCommand() {
    discardCsv();
}

bool AnalyzeCommand::fail(const std::string& file, const std::string& reason) {
    discardCsv();
    _result.ok = false;
    _result.errorFile = file == "-" ? "standard input" : file;
    _result.errorReason = reason;
    return false;
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

bool AnalyzeCommand::openInput(AudioFileReader& reader) {
    const bool opened =
        _options.input == "-" ? reader.openStdin(_options.raw) : reader.open(_options.input, _options.raw);
    if (opened)
        return true;
    std::string reason = reader.errorText();
    if (!_options.raw && endsWithAny(_options.input, {".pcm", ".s16", ".sln"}) &&
        reason.find("not an audio file") != std::string::npos)
        reason += "; for headerless 16-bit mono 8000 Hz audio use --raw";
    return fail(_options.input, reason);
}

bool AnalyzeCommand::attachReport(FrameAnalysis& analysis) {
#ifdef VERAXO_WITH_PNG
    if (!_options.png)
        return true;
    typedef brel::callback2<void, const Signal::Sample*, int> Callback;
    const std::string title = _options.input == "-" ? "standard input" : _options.input;
    const std::size_t slash = title.find_last_of('/');
    std::string error;
    _report = ReportLoader::make(
        "Veraxo report: " + (slash == std::string::npos ? title : title.substr(slash + 1)), error);
    if (!_report)
        return fail(_options.pngPath, error);
    analysis.engine().attachOutput(VeraxoEngine::OUTPUT_LIE_LEVEL,
                                   Callback(_report.get(), &ReportSink::onLieLevel));
    analysis.engine().attachOutput(VeraxoEngine::OUTPUT_SPECTRUM,
                                   Callback(_report.get(), &ReportSink::onSpectrum));
#else
    (void)analysis;
#endif
    return true;
}

bool AnalyzeCommand::stream(AudioFileReader& reader, FrameAnalysis& analysis, const CsvWriter& writer,
                            std::atomic<long long>* analysedSamples) {
    // A CSV file goes to the disk while the analysis goes on (about every 3 MB), not all at the end.
    const long long writeBackFrames = 8192;
    long long writeBackAt = writeBackFrames;
    std::vector<short> block(static_cast<std::size_t>(_options.block));
    for (;;) {
        int filled = 0;
        while (filled < _options.block) {
            const int n = reader.read(block.data() + filled, _options.block - filled);
            if (n < 0)
                return fail(_options.input, reader.errorText());
            if (n == 0)
                break;
            filled += n;
        }
        if (filled > 0)
            analysis.input(block.data(), filled);
        if (analysedSamples)
            analysedSamples->fetch_add(filled, std::memory_order_relaxed);
        if (_csv && writer.failed()) {
            _result.readerLeft = _csv == stdout && errno == EPIPE;
            return fail(csvName(), std::string("cannot write (") + std::strerror(errno) + ")");
        }
        if (_csv && analysis.frames() >= writeBackAt) {
            _csvFile.startWriteBack();
            writeBackAt = analysis.frames() + writeBackFrames;
        }
        if (filled < _options.block)
            return true;
    }
}

std::string AnalyzeCommand::csvName() const {
    return toStdout(_options) ? "standard output" : _options.csvPath;
}

bool AnalyzeCommand::analyse(std::atomic<long long>* analysedSamples,
                             std::atomic<long long>* expectedSamples) {
    AudioFileReader reader;
    if (!openInput(reader))
        return false;
    if (expectedSamples)
        expectedSamples->store(reader.expectedSamples(), std::memory_order_relaxed);
    if (_options.csv && !openCsv())
        return fail(csvName(), "cannot write (" + _csvFile.error() + ")");

    CsvWriter writer(_csv);
    if (_csv)
        writer.writeHeader(Signal::Filter::Mel::BANDS);
    FrameAnalysis analysis(_csv ? &writer : 0);
    if (!attachReport(analysis))
        return false;
    if (!stream(reader, analysis, writer, analysedSamples))
        return false;

    // A stream's length is unknown at open, so an empty one shows only here (one cut short before its
    // first sample is analysed as by name: nothing, with a warning).
    if (analysis.samples() == 0 && _options.input == "-" && !reader.truncated())
        return fail(_options.input, "empty: no audio frames");
    if (reader.truncated())
        _result.warnings.push_back((_options.input == "-" ? std::string("standard input") : _options.input) +
                                   " is cut short (" + reader.truncation() + "); analysed up to the break");
    const bool csvToStdout = _csv == stdout;
    if (_options.csv && !closeCsv()) {
        _result.readerLeft = csvToStdout && errno == EPIPE;
        return fail(csvName(),
                    "cannot write (" +
                        (_csvFile.error().empty() ? std::string(std::strerror(errno)) : _csvFile.error()) +
                        ")");
    }

    _result.ok = true;
    _result.samples = analysis.samples();
    _result.frames = analysis.frames();
    _result.meanLieLevel = analysis.meanLieLevel();
    _result.peakLieLevel = analysis.peakLieLevel();
    _result.highFrames = analysis.highFrames();
    _result.peakSample = analysis.peakSample();
    _result.clippedSamples = analysis.clippedSamples();
    _result.truncated = reader.truncated();
    return true;
}

bool AnalyzeCommand::finish() {
#ifdef VERAXO_WITH_PNG
    if (_report && _result.ok) {
        std::string warning, error;
        _report->setDuration(_result.duration());
        const bool written = _report->write(_options.pngPath, warning, error);
        _report.reset();
        if (!written)
            return fail(_options.pngPath, error);
        if (!warning.empty())
            _result.warnings.push_back(warning + "; the picture shows the rest");
    }
#endif
    return _result.ok;
}
