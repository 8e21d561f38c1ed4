// Options may come in any order before or after INPUT, as "--opt value" or "--opt=value"; "--" ends
// the options. The block length is a plain decimal number, so "1e3", "12abc" or "-5" are refused
// rather than half read.

#include "AnalyzeOptions.h"

namespace {

bool parseBlock(const std::string& text, int& block) {
    if (text.empty() || text.size() > 7)
        return false;
    long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + (c - '0');
    }
    if (value < 1 || value > AnalyzeOptions::MAX_BLOCK)
        return false;
    block = static_cast<int>(value);
    return true;
}

} // namespace

const char* AnalyzeOptions::usage() {
    return "usage: veraxo-analyze [--csv PATH|-] [--png PATH] [--block N] [--raw] INPUT\n"
           "Runs the Veraxo analysis over an audio file and prints a summary.\n"
           "  --csv PATH   write every frame (lie level and 32 log-mel bands) as CSV; '-' is standard "
           "output\n"
           "  --png PATH   draw a report picture: the lie level and the spectrum over the whole input, and "
           "the live views at its end\n"
           "  --block N    samples per engine call, 1 to 1000000 (default 512); the results do not depend on "
           "it\n"
           "  --raw        INPUT is headerless 16-bit little-endian mono at 8000 Hz (also for names ending "
           "in .raw)\n"
           "  --help       show this text\n"
           "INPUT may be any format libsndfile reads, at any rate and channel count.\n";
}

AnalyzeOptions::Result AnalyzeOptions::parse(const std::vector<std::string>& args) {
    bool optionsEnded = false;
    bool haveInput = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            if (haveInput) {
                error = "more than one INPUT given ('" + input + "' and '" + arg + "')";
                return USAGE_ERROR;
            }
            input = arg;
            haveInput = true;
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (arg == "-h" || arg == "--help")
            return HELP;
        if (arg == "--raw") {
            raw = true;
            continue;
        }

        std::string name = arg;
        std::string value;
        bool hasValue = false;
        const std::size_t eq = arg.find('=');
        if (arg.compare(0, 2, "--") == 0 && eq != std::string::npos) {
            name = arg.substr(0, eq);
            value = arg.substr(eq + 1);
            hasValue = true;
        }
        if (name != "--csv" && name != "--block" && name != "--png") {
            error = "unknown option '" + arg + "'";
            return USAGE_ERROR;
        }
        if (!hasValue) {
            if (i + 1 >= args.size()) {
                error = "option " + name + " needs a value";
                return USAGE_ERROR;
            }
            value = args[++i];
        }
        if (name == "--png") {
            if (value.empty()) {
                error = "--png needs a file name";
                return USAGE_ERROR;
            }
#ifdef VERAXO_WITH_PNG
            pngPath = value;
            png = true;
            continue;
#else
            error = "--png is not available in this build";
            return USAGE_ERROR;
#endif
        }
        if (name == "--csv") {
            if (value.empty()) {
                error = "--csv needs a file name or '-'";
                return USAGE_ERROR;
            }
            csvPath = value;
            csv = true;
        } else if (!parseBlock(value, block)) {
            error = "--block needs a whole number from 1 to 1000000, not '" + value + "'";
            return USAGE_ERROR;
        }
    }
    if (!haveInput) {
        error = "no INPUT file given";
        return USAGE_ERROR;
    }
    return OK;
}
