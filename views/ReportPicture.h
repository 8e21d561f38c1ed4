#pragma once
// The report picture of veraxo-analyze --png: the lie level over the whole input with a time axis, a
// log-mel spectrogram of the whole input in the relief's colour ramp, and the three live views as they
// stand at the end of the input, drawn by the views' own code (the relief on a headless GL context).
//
// Memory stays flat however long the input: the whole-input curves are kept in at most MAX_COLUMNS
// columns, and when they fill up, neighbouring columns are merged into one (averaging), so each column
// then covers twice as many frames. The live views keep only what they keep in the app.

#include <memory>
#include <string>

#include "Shared/Signal/Sample.h"

class ReportPicture {
public:
    static constexpr int MAX_COLUMNS = 2048;

    explicit ReportPicture(const std::string& title);
    ~ReportPicture();
    ReportPicture(const ReportPicture&) = delete;
    ReportPicture& operator=(const ReportPicture&) = delete;

    // Engine outputs, in the order the engine delivers them for each frame.
    void onLieLevel(const Signal::Sample* data, int length);
    void onSpectrum(const Signal::Sample* data, int length);

    // The recording's length, as the summary gives it, for the heading; without it the heading gives
    // the span of the frames.
    void setDuration(double seconds);

    // Draws and saves the picture as PNG. False, with the reason in error, when it cannot be written.
    // When no GL context can be had the relief's place says so, warning tells why, and the rest is
    // drawn all the same.
    bool write(const std::string& path, std::string& warning, std::string& error);

private:
    bool draw(const std::string& path, std::string& warning, std::string& error);

    struct Data;
    std::unique_ptr<Data> _d;
};
