// Options may come in any order before or after the INPUTs, as "--opt value" or "--opt=value" (and
// "-j N" or "-jN"); "--" ends the options and a lone "-" is standard input. Numbers are plain decimals,
// so "1e3", "12abc" or "-5" are refused rather than half read. Whatever can be known from the command
// line alone (two inputs writing one DIR/NAME.csv, standard input named twice) is refused here, before
// anything runs.

#include "AnalyzeOptions.h"

#include <map>

namespace {

bool parseNumber(const std::string& text, int low, int high, int& result) {
    if (text.empty() || text.size() > 7)
        return false;
    long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + (c - '0');
    }
    if (value < low || value > high)
        return false;
    result = static_cast<int>(value);
    return true;
}

bool takesValue(const std::string& name) {
    return name == "--csv" || name == "--block" || name == "--png" || name == "--csv-dir" ||
           name == "--png-dir" || name == "--summary" || name == "--jobs" || name == "-j";
}

} // namespace

const char* AnalyzeOptions::usage() {
    return "usage: veraxo-analyze [options] INPUT...\n"
           "Runs the Veraxo analysis over audio files and prints a summary of each.\n"
           "  --csv PATH        write every frame (lie level, 32 log-mel bands) as CSV;\n"
           "                    '-' is standard output (one INPUT only)\n"
           "  --csv-dir DIR     write DIR/NAME.csv for each INPUT (NAME: its file name\n"
           "                    without the extension; 'stdin' for '-')\n"
           "  --png PATH        draw a report picture of the whole input (one INPUT only)\n"
           "  --png-dir DIR     draw DIR/NAME.png for each INPUT\n"
           "  --summary FORMAT  text (default), json (one JSON object per line) or csv\n"
           "  -j, --jobs N      analyse up to N inputs at once (default: the number of cores)\n"
           "  --block N         samples per engine call, 1 to 1000000 (default 512);\n"
           "                    the results do not depend on it\n"
           "  --raw             INPUT is headerless 16-bit little-endian mono at 8000 Hz\n"
           "                    (also for names ending in .raw)\n"
           "  -h, --help        show this text\n"
           "  --version         show the version\n"
           "INPUT may be any format libsndfile reads, at any rate and channel count;\n"
           "'-' reads standard input.\n"
           "Exit status: 0 all inputs analysed, 1 an input or output failed, 2 a usage error.\n";
}

std::string AnalyzeOptions::outputName(const std::string& input) {
    if (input == "-")
        return "stdin";
    std::string name = input;
    while (name.size() > 1 && name.back() == '/')
        name.pop_back();
    const std::size_t slash = name.find_last_of('/');
    if (slash != std::string::npos)
        name = name.substr(slash + 1);
    const std::size_t dot = name.find_last_of('.');
    if (dot != std::string::npos && dot > 0)
        name = name.substr(0, dot);
    return name;
}

AnalyzeOptions::Result AnalyzeOptions::parse(const std::vector<std::string>& args) {
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            inputs.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (arg == "-h" || arg == "--help")
            return HELP;
        if (arg == "--version")
            return VERSION;
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
        } else if (arg.compare(0, 2, "-j") == 0 && arg.size() > 2) {
            name = "-j";
            value = arg.substr(2);
            hasValue = true;
        }
        if (!takesValue(name)) {
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
        if (!setOption(name, value))
            return USAGE_ERROR;
    }
    return checkTogether() ? OK : USAGE_ERROR;
}

bool AnalyzeOptions::refuse(const std::string& why) {
    error = why;
    return false;
}

bool AnalyzeOptions::setOption(const std::string& name, const std::string& value) {
    if (name == "--png" || name == "--png-dir") {
        if (value.empty())
            return refuse(name == "--png" ? "--png needs a file name" : "--png-dir needs a directory");
#ifdef VERAXO_WITH_PNG
        if (name == "--png") {
            pngPath = value;
            png = true;
        } else {
            pngDir = value;
        }
        return true;
#else
        return refuse(name + " is not available in this build");
#endif
    }
    if (name == "--csv") {
        if (value.empty())
            return refuse("--csv needs a file name or '-'");
        csvPath = value;
        csv = true;
    } else if (name == "--csv-dir") {
        if (value.empty())
            return refuse("--csv-dir needs a directory");
        csvDir = value;
    } else if (name == "--summary") {
        if (value == "text")
            summary = SUMMARY_TEXT;
        else if (value == "json")
            summary = SUMMARY_JSON;
        else if (value == "csv")
            summary = SUMMARY_CSV;
        else
            return refuse("--summary needs text, json or csv, not '" + value + "'");
    } else if (name == "--jobs" || name == "-j") {
        if (!parseNumber(value, 1, MAX_JOBS, jobs))
            return refuse(name + " needs a whole number from 1 to " + std::to_string(MAX_JOBS) + ", not '" +
                          value + "'");
    } else if (!parseNumber(value, 1, MAX_BLOCK, block)) {
        return refuse("--block needs a whole number from 1 to 1000000, not '" + value + "'");
    }
    return true;
}

bool AnalyzeOptions::checkTogether() {
    if (inputs.empty())
        return refuse("no INPUT file given");
    input = inputs.front();
    if (inputs.size() > 1 && (csv || png))
        return refuse(std::string(csv ? "--csv" : "--png") + " takes one INPUT, not " +
                      std::to_string(inputs.size()) + "; use " + (csv ? "--csv-dir" : "--png-dir") +
                      " for several");
    if (csv && !csvDir.empty())
        return refuse("--csv and --csv-dir cannot be used together");
    if (png && !pngDir.empty())
        return refuse("--png and --png-dir cannot be used together");
    int stdinCount = 0;
    for (const std::string& in : inputs)
        stdinCount += in == "-";
    if (stdinCount > 1)
        return refuse("standard input ('-') can be read only once");
    if (!csvDir.empty() || !pngDir.empty()) {
        std::map<std::string, std::string> seen;
        for (const std::string& in : inputs) {
            const std::string name = outputName(in);
            const auto found = seen.find(name);
            if (found != seen.end())
                return refuse("'" + found->second + "' and '" + in + "' would both write " + name +
                              (csvDir.empty() ? ".png" : ".csv"));
            seen.emplace(name, in);
        }
    }
    return true;
}
