// Differential target: the analysis engine against the plain transcription of the chain
// (tests/Shared/Signal/ChainOracle.h) on arbitrary samples cut into arbitrary non-empty blocks. Every
// lie level and spectrum value must agree bit for bit, frame for frame.

#include <cstdint>
#include <cstring>
#include <vector>

#include "FuzzCheck.h"
#include "tests/Shared/Signal/ChainOracle.h"
#include "tests/Shared/Signal/EngineRun.h"

using veraxo_fuzz::require;

namespace {

const std::size_t MAX_SAMPLES = 1 << 14;

bool sameBits(const std::vector<float>& a, const std::vector<float>& b) {
    return a.size() == b.size() &&
           (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    veraxo_fuzz::FuzzInput in(data, size);

    // A few block lengths first, repeated over the stream; then the samples, little-endian, with a
    // gain so that quiet inputs reach full scale too.
    const int lengthCount = in.range(1, 8);
    std::vector<int> lengths;
    for (int i = 0; i < lengthCount; ++i)
        lengths.push_back(1 + in.word() % 3000);
    const int gain = in.range(1, 64);
    std::size_t poolBytes = 0;
    const std::uint8_t* pool = in.take(in.remaining(), poolBytes);
    std::vector<short> samples(poolBytes / 2 < MAX_SAMPLES ? poolBytes / 2 : MAX_SAMPLES);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const int v = static_cast<short>(unsigned(pool[2 * i]) | unsigned(pool[2 * i + 1]) << 8) * gain;
        samples[i] = static_cast<short>(v > 32767 ? 32767 : (v < -32768 ? -32768 : v));
    }

    oracle::ChainOracle reference;
    reference.push(samples.data(), static_cast<int>(samples.size()));

    const oracle::EngineRun out(samples, lengths);
    require(out.attached, "both outputs attached");
    require(sameBits(out.lies, reference.lies), "lie levels equal the plain chain's bit for bit");
    require(sameBits(out.spectra, reference.spectra), "spectra equal the plain chain's bit for bit");
    return 0;
}
