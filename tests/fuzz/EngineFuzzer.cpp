// Feeds the analysis engine one sample stream cut into blocks of arbitrary lengths (0 included) and
// checks every output as it arrives: spectra of 32 finite, non-negative values, lie levels of one
// finite value delivered before the spectrum of the same frame, and one frame per completed 128-sample
// hop after every call. A second engine takes the same stream in one block; both must agree bit for
// bit, since the output may not depend on how the samples are split. Only an empty block may raise an
// assertion report. Streams run up to 128 frames, past the voice detector's 64-frame history, so its
// ring wraps; one kind of block is long enough to cross it in a single call.

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "FuzzCheck.h"
#include "Shared/VeraxoEngine.h"

using veraxo_fuzz::require;

namespace {

const int HOP = 128;
const int SPECTRUM_LEN = 32;
const std::size_t MAX_SAMPLES = 1 << 14;

class Collector {
public:
    void spectrum(const Signal::Sample* data, int length) {
        require(length == SPECTRUM_LEN, "spectrum block of 32 values");
        require(lies.size() == spectra.size() / SPECTRUM_LEN + 1, "lie level precedes its spectrum");
        for (int i = 0; i < length; ++i) {
            require(std::isfinite(data[i]), "spectrum value finite");
            require(data[i] >= 0.0f, "spectrum value not negative");
        }
        spectra.insert(spectra.end(), data, data + length);
    }

    void lie(const Signal::Sample* data, int length) {
        require(length == 1, "lie level block of one value");
        require(std::isfinite(data[0]), "lie level finite");
        lies.push_back(data[0]);
    }

    void attach(VeraxoEngine& engine) {
        require(engine.attachOutput(
                    VeraxoEngine::OUTPUT_SPECTRUM,
                    brel::callback2<void, const Signal::Sample*, int>(this, &Collector::spectrum)),
                "spectrum output attached");
        require(engine.attachOutput(VeraxoEngine::OUTPUT_LIE_LEVEL,
                                    brel::callback2<void, const Signal::Sample*, int>(this, &Collector::lie)),
                "lie output attached");
    }

    std::size_t frames() const { return spectra.size() / SPECTRUM_LEN; }

    std::vector<float> spectra;
    std::vector<float> lies;
};

bool sameBits(const std::vector<float>& a, const std::vector<float>& b) {
    return a.size() == b.size() &&
           (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool quiet = (veraxo_fuzz::countAssertionReports(), true);
    (void)quiet;
    veraxo_fuzz::FuzzInput in(data, size);

    // Block lengths first, then the bytes that make the samples.
    const int blockCount = in.range(1, 24);
    std::vector<std::size_t> lengths;
    std::size_t total = 0;
    for (int i = 0; i < blockCount && total < MAX_SAMPLES; ++i) {
        const std::uint8_t kind = in.byte();
        std::size_t n = kind < 16 ? 0 : in.word() % 1024;
        if (kind >= 248)
            n = 8192 + n * 8;
        else if (kind >= 240)
            n *= 8;
        if (n > MAX_SAMPLES - total)
            n = MAX_SAMPLES - total;
        lengths.push_back(n);
        total += n;
    }
    std::size_t poolBytes = 0;
    const std::uint8_t* pool = in.take(in.remaining(), poolBytes);
    const std::size_t poolSamples = poolBytes / 2;
    std::vector<short> samples(total);
    for (std::size_t i = 0; i < total; ++i) {
        if (poolSamples == 0) {
            samples[i] = static_cast<short>(i * 2654435761u >> 16);
            continue;
        }
        const std::size_t k = i % poolSamples;
        const unsigned v = unsigned(pool[2 * k]) | unsigned(pool[2 * k + 1]) << 8;
        samples[i] = static_cast<short>(v + unsigned(i / poolSamples) * 97u);
    }

    Collector split;
    Collector whole;
    {
        VeraxoEngine engine;
        split.attach(engine);
        std::size_t fed = 0;
        for (std::size_t n : lengths) {
            const long before = veraxo_fuzz::assertionReports();
            engine.input(n > 0 ? samples.data() + fed : samples.data(), static_cast<int>(n));
            fed += n;
            require(n == 0 || veraxo_fuzz::assertionReports() == before, "no report for a non-empty block");
            require(split.frames() == fed / HOP, "one frame per completed hop");
            require(split.lies.size() == split.frames(), "one lie level per frame");
        }
    }
    {
        VeraxoEngine engine;
        whole.attach(engine);
        if (total > 0)
            engine.input(samples.data(), static_cast<int>(total));
        require(whole.frames() == total / HOP, "one frame per completed hop in one block");
    }
    require(sameBits(split.spectra, whole.spectra), "spectra independent of the block lengths");
    require(sameBits(split.lies, whole.lies), "lie levels independent of the block lengths");
    return 0;
}
