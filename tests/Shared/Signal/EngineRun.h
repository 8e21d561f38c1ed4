#pragma once
// What the engine puts out for a recording cut into blocks, collected for comparison with the plain
// chain (ChainOracle.h): by the suite and by the differential fuzz target alike.

#include <cstddef>
#include <vector>

#include "Shared/VeraxoEngine.h"

namespace oracle {

struct EngineRun {
    std::vector<float> lies;
    std::vector<float> spectra;
    // Both outputs were attached.
    bool attached = false;

    // A fresh engine over samples, in blocks of the given lengths taken in turn and repeated until the
    // samples run out; the last block is cut to what is left.
    EngineRun(const std::vector<short>& samples, const std::vector<int>& lengths) {
        typedef brel::callback2<void, const Signal::Sample*, int> Callback;
        VeraxoEngine engine;
        attached = engine.attachOutput(VeraxoEngine::OUTPUT_LIE_LEVEL, Callback(this, &EngineRun::lie)) &&
                   engine.attachOutput(VeraxoEngine::OUTPUT_SPECTRUM, Callback(this, &EngineRun::spectrum));
        std::size_t at = 0;
        for (std::size_t k = 0; at < samples.size(); ++k) {
            std::size_t n = static_cast<std::size_t>(lengths[k % lengths.size()]);
            if (n > samples.size() - at)
                n = samples.size() - at;
            engine.input(samples.data() + at, static_cast<int>(n));
            at += n;
        }
    }

private:
    void lie(const Signal::Sample* data, int length) { lies.insert(lies.end(), data, data + length); }
    void spectrum(const Signal::Sample* data, int length) { spectra.insert(spectra.end(), data, data + length); }
};

} // namespace oracle
