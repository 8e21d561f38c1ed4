// Figures are printed with "%.9g", which keeps a float's value whole; the duration is an exact decimal
// (samples / 8000 never needs more than six places). peak_dbfs is absent for silence, whose level is
// minus infinity.

#include "BatchSummary.h"

#include <cinttypes>
#include <cmath>

#include "FrameAnalysis.h"
#include "PrintableText.h"
#include "sndfile/AudioFileReader.h"

namespace {

// Empty (null) for a value that is not a number, which JSON cannot hold.
std::string format(const char* pattern, double value) {
    if (!std::isfinite(value))
        return std::string();
    char text[64];
    std::snprintf(text, sizeof text, pattern, value);
    return text;
}

std::string duration(const InputResult& r) {
    std::string text = format("%.6f", r.duration());
    while (text.back() == '0')
        text.pop_back();
    if (text.back() == '.')
        text.pop_back();
    return text;
}

struct Fields {
    std::string duration, frames, mean, peak, share, peakDbfs, clipped;
};

// The figures as text; empty where they do not exist.
Fields fields(const InputResult& r) {
    Fields f;
    if (!r.ok)
        return f;
    f.duration = duration(r);
    f.frames = std::to_string(r.frames);
    if (r.peakSample > 0)
        f.peakDbfs = format("%.9g", InputResult::peakDbfs(r.peakSample));
    f.clipped = std::to_string(r.clippedSamples);
    if (r.frames > 0) {
        f.mean = format("%.9g", r.meanLieLevel);
        f.peak = format("%.9g", static_cast<double>(r.peakLieLevel));
        f.share = format("%.9g", static_cast<double>(r.highFrames) / static_cast<double>(r.frames));
    }
    return f;
}

} // namespace

double InputResult::durationOf(long long samples) {
    return static_cast<double>(samples) / AudioFileReader::OUTPUT_RATE;
}

double InputResult::peakDbfs(int peakSample) {
    return 20.0 * std::log10(static_cast<double>(peakSample) / 32768.0);
}

std::string InputResult::errorLine() const {
    if (errorFile.empty() || errorFile == file || (file == "-" && errorFile == "standard input"))
        return errorReason;
    return errorFile + ": " + errorReason;
}

BatchSummary::BatchSummary(std::FILE* out, AnalyzeOptions::Summary format, bool several)
    : _out(out), _format(format), _several(several), _written(0) {}

std::string BatchSummary::jsonString(const std::string& text) {
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        const std::size_t n = utf8Length(text, i);
        if (n == 0) {
            out += "\\ufffd";
            ++i;
            continue;
        }
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out.append(text, i, n);
        }
        i += n;
    }
    return out + "\"";
}

std::string BatchSummary::csvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos)
        return text;
    std::string out = "\"";
    for (char c : text) {
        if (c == '"')
            out += '"';
        out += c;
    }
    return out + "\"";
}

void BatchSummary::write(const InputResult& r) {
    const Fields f = fields(r);
    if (_format == AnalyzeOptions::SUMMARY_JSON) {
        const auto value = [](const std::string& v) { return v.empty() ? std::string("null") : v; };
        std::fprintf(_out,
                     "{\"file\": %s, \"duration_s\": %s, \"frames\": %s, \"mean_lie_level\": %s, "
                     "\"peak_lie_level\": %s, \"share_above_0_7\": %s, \"peak_dbfs\": %s, "
                     "\"clipped_samples\": %s, \"truncated\": %s, \"error\": %s}\n",
                     jsonString(r.file).c_str(), value(f.duration).c_str(), value(f.frames).c_str(),
                     value(f.mean).c_str(), value(f.peak).c_str(), value(f.share).c_str(),
                     value(f.peakDbfs).c_str(), value(f.clipped).c_str(), r.truncated ? "true" : "false",
                     r.ok ? "null" : jsonString(r.errorLine()).c_str());
    } else if (_format == AnalyzeOptions::SUMMARY_CSV) {
        if (_written == 0)
            std::fputs("file,duration_s,frames,mean_lie_level,peak_lie_level,share_above_0_7,peak_dbfs,"
                       "clipped_samples,truncated,error\n",
                       _out);
        std::fprintf(_out, "%s,%s,%s,%s,%s,%s,%s,%s,%s,%s\n", csvField(r.file).c_str(), f.duration.c_str(),
                     f.frames.c_str(), f.mean.c_str(), f.peak.c_str(), f.share.c_str(), f.peakDbfs.c_str(),
                     f.clipped.c_str(), r.truncated ? "true" : "false",
                     r.ok ? "" : csvField(r.errorLine()).c_str());
    } else {
        // A failed input is reported on standard error only.
        if (!r.ok)
            return;
        if (_several && _written > 0)
            std::fputc('\n', _out);
        std::fprintf(_out, "input: %s\n", printableText(r.file).c_str());
        std::fprintf(_out, "duration: %.3f s (%lld samples at 8000 Hz)\n", r.duration(), r.samples);
        std::fprintf(_out, "frames: %lld\n", r.frames);
        if (r.frames > 0) {
            std::fprintf(_out, "mean lie level: %.6f\n", r.meanLieLevel);
            std::fprintf(_out, "peak lie level: %.6f\n", static_cast<double>(r.peakLieLevel));
            std::fprintf(_out, "frames above %.1f: %lld (%.1f%%)\n",
                         static_cast<double>(FrameAnalysis::HIGH_LEVEL), r.highFrames,
                         100.0 * static_cast<double>(r.highFrames) / static_cast<double>(r.frames));
        } else {
            std::fprintf(_out, "mean lie level: none (input shorter than one 16 ms hop)\n");
        }
        if (r.peakSample > 0)
            std::fprintf(_out, "peak level: %.2f dBFS\n", InputResult::peakDbfs(r.peakSample));
        else
            std::fprintf(_out, "peak level: none (silence)\n");
        std::fprintf(_out, "clipped samples: %lld\n", r.clippedSamples);
        if (r.truncated)
            std::fprintf(_out, "truncated: the recording was cut short and analysed up to the break\n");
    }
    ++_written;
}
