#include "pulse_null.h"

#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <string>

// Under the leak checker, unwind slowly enough to name the plug-ins (ALSA's pulse plug-in and what it
// loads) and leave them out.
extern "C" const char* __lsan_default_options() {
    return "fast_unwind_on_malloc=0";
}
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libasound.so\nleak:libpulse.so\nleak:libpulsecommon\nleak:liblcms2.so\nleak:libportaudio."
           "so\n";
}

namespace veraxo_test {

bool reach_pulse_audio() {
    if (getenv("PULSE_SERVER") == nullptr) {
        const char* dirEnv = getenv("VERAXO_PULSE_DIR");
        const std::string dir = dirEnv ? dirEnv : "/tmp/veraxo-pulse-" + std::to_string(getuid());
        if (access((dir + "/runtime/native").c_str(), F_OK) != 0)
            return false;
        setenv("PULSE_SERVER", ("unix:" + dir + "/runtime/native").c_str(), 1);
        setenv("ALSA_CONFIG_PATH", (dir + "/asound.conf").c_str(), 1);
    }
    return std::system("pactl info >/dev/null 2>&1") == 0;
}

std::pair<long, double> best_offset(const std::vector<short>& haystack, const short* needle,
                                    std::size_t length) {
    double needleEnergy = 0;
    for (std::size_t i = 0; i < length; ++i)
        needleEnergy += double(needle[i]) * needle[i];
    std::pair<long, double> best(-1, 0.0);
    for (std::size_t o = 0; o + length <= haystack.size(); ++o) {
        double dot = 0, energy = 0;
        for (std::size_t i = 0; i < length; ++i) {
            dot += double(needle[i]) * haystack[o + i];
            energy += double(haystack[o + i]) * haystack[o + i];
        }
        if (energy <= 0)
            continue;
        const double c = dot / std::sqrt(energy * needleEnergy);
        if (c > best.second)
            best = {long(o), c};
    }
    return best;
}

} // namespace veraxo_test
