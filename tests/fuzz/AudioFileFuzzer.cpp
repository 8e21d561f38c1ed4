// The file path of the command-line analysis: arbitrary bytes opened through libsndfile's virtual I/O
// (or as headerless 16-bit input), mixed to mono, resampled and converted to 16 bits, then analysed.
// A refused input must say why and read nothing; an accepted one must read the same samples whatever
// the chunk size asked for, and headerless bytes must come back sample for sample. Read to its end, an
// input gives every frame its header declares unless it is marked truncated, with what is missing. The
// engine's outputs keep their lengths and stay finite. Reading stops after a fixed number of samples, because
// a few bytes at a very low rate can stand for minutes of audio.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "FuzzCheck.h"
#include "Shared/VeraxoEngine.h"
#include "sndfile/AudioFileReader.h"

using veraxo_fuzz::require;

namespace {

const std::size_t MAX_SAMPLES = 1 << 17;

struct Outputs {
    long frames = 0;
    void spectrum(const Signal::Sample* data, int length) {
        require(length == 32, "spectrum block of 32 values");
        for (int i = 0; i < length; ++i)
            require(std::isfinite(data[i]) && data[i] >= 0.0f, "spectrum value finite and not negative");
        ++frames;
    }
    void lie(const Signal::Sample* data, int length) {
        require(length == 1, "lie level block of one value");
        require(std::isfinite(data[0]), "lie level finite");
    }
};

enum ReadEnd { READ_FAILED, READ_CAPPED, READ_ENDED };

// Reads up to MAX_SAMPLES samples in chunks of `chunk`.
ReadEnd readAll(AudioFileReader& reader, int chunk, std::vector<short>& out, VeraxoEngine* engine) {
    std::vector<short> buffer(static_cast<std::size_t>(chunk));
    while (out.size() < MAX_SAMPLES) {
        const int got = reader.read(buffer.data(), chunk);
        require(got >= -1 && got <= chunk, "read count within the request");
        if (got < 0) {
            require(!reader.errorText().empty(), "a read error has a reason");
            return READ_FAILED;
        }
        if (got == 0)
            return READ_ENDED;
        out.insert(out.end(), buffer.begin(), buffer.begin() + got);
        if (engine)
            engine->input(buffer.data(), got);
    }
    return READ_CAPPED;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool quiet = (veraxo_fuzz::countAssertionReports(), true);
    (void)quiet;
    veraxo_fuzz::FuzzInput in(data, size);
    const bool raw = (in.byte() & 1) != 0;
    const int chunkA = in.range(1, 5000);
    const int chunkB = in.range(1, 5000);
    std::size_t fileSize = 0;
    const std::uint8_t* file = in.take(in.remaining(), fileSize);

    AudioFileReader reader;
    if (!reader.openMemory(file, fileSize, raw)) {
        require(!reader.errorText().empty(), "a refused input has a reason");
        require(!reader.isOpen(), "a refused input is not open");
        short sample;
        require(reader.read(&sample, 1) == -1, "reading a refused input fails");
        return 0;
    }
    require(reader.errorText().empty(), "an accepted input has no error");
    require(reader.sourceChannels() > 0 && reader.sourceRate() > 0,
            "an accepted input has channels and a rate");

    Outputs outputs;
    VeraxoEngine engine;
    engine.attachOutput(VeraxoEngine::OUTPUT_SPECTRUM,
                        brel::callback2<void, const Signal::Sample*, int>(&outputs, &Outputs::spectrum));
    engine.attachOutput(VeraxoEngine::OUTPUT_LIE_LEVEL,
                        brel::callback2<void, const Signal::Sample*, int>(&outputs, &Outputs::lie));
    std::vector<short> first;
    const ReadEnd endA = readAll(reader, chunkA, first, &engine);
    require(outputs.frames == static_cast<long>(first.size() / 128), "one frame per completed hop");

    if (raw) {
        require(endA != READ_FAILED, "headerless input reads without an error");
        const std::size_t expected = fileSize / 2 < MAX_SAMPLES ? fileSize / 2 : MAX_SAMPLES;
        require(first.size() == expected, "headerless input gives one sample per two bytes");
        for (std::size_t i = 0; i < first.size(); ++i)
            require(static_cast<std::uint16_t>(first[i]) == (file[2 * i] | file[2 * i + 1] << 8),
                    "headerless input passes through unchanged");
    }

    // Decoded against declared: a shortfall is never passed off as a complete input.
    if (endA == READ_ENDED) {
        require(reader.truncated() == !reader.truncation().empty(), "a truncation says what is missing");
        require(reader.missingFrames() >= 0, "missing frames not negative");
        // A stream may declare no length (libsndfile then reports one of 2^62 frames or more), and an
        // MPEG stream's frame count may be only an estimate.
        const bool declared = reader.lengthDeclared() && reader.sourceFrames() < (1LL << 60);
        if (!reader.truncated() && declared) {
            const long long expected = reader.expectedSamples();
            const double ratio = static_cast<double>(AudioFileReader::OUTPUT_RATE) / reader.sourceRate();
            // Rate conversion may round the length by a few output samples per source frame.
            const long long slack = reader.sourceRate() == AudioFileReader::OUTPUT_RATE
                                        ? 0
                                        : static_cast<long long>(std::ceil(ratio)) + 2;
            require(static_cast<long long>(first.size()) + slack >= expected,
                    "every declared frame decoded unless marked truncated");
        }
    }

    AudioFileReader again;
    require(again.openMemory(file, fileSize, raw), "the same bytes open twice");
    std::vector<short> second;
    const ReadEnd endB = readAll(again, chunkB, second, nullptr);
    if (endA == READ_ENDED && endB == READ_ENDED) {
        require(first == second, "samples independent of the chunk size");
        require(reader.truncated() == again.truncated(), "truncation independent of the chunk size");
    }
    if (endA != READ_FAILED && endB != READ_FAILED) {
        const std::size_t common = first.size() < second.size() ? first.size() : second.size();
        require(std::equal(first.begin(), first.begin() + common, second.begin()),
                "samples independent of the chunk size");
    }
    return 0;
}
