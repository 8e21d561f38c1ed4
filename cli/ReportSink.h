#pragma once
// The report picture as veraxo-analyze sees it. The picture draws with Qt and GL, which a summary or a
// CSV never needs, so it lives in a module of its own (veraxo-report.so) that ReportLoader opens only
// for --png and --png-dir; the module makes its pictures through REPORT_FACTORY.

#include <string>

#include "Shared/Signal/Sample.h"

class ReportSink {
public:
    virtual ~ReportSink() = default;

    // Engine outputs, in the order the engine delivers them for each frame.
    virtual void onLieLevel(const Signal::Sample* data, int length) = 0;
    virtual void onSpectrum(const Signal::Sample* data, int length) = 0;
    // The recording's length, as the summary gives it, for the heading.
    virtual void setDuration(double seconds) = 0;
    // Draws and saves the picture (main thread only). False, with the reason in error, when it cannot
    // be written; warning tells what the picture had to leave out.
    virtual bool write(const std::string& path, std::string& warning, std::string& error) = 0;
};

// The module's one entry: a new picture with the given title, or null when memory runs out.
extern "C" typedef ReportSink* (*ReportFactory)(const char* title);
#define REPORT_FACTORY "veraxo_report_new"
