// veraxo-report.so: the report picture behind the ReportSink interface, the one way veraxo-analyze
// reaches Qt and GL. No exception leaves the module: a picture that cannot be made is null.

#include <new>

#include "ReportSink.h"
#include "views/ReportPicture.h"

namespace {

class ReportPictureSink : public ReportSink {
public:
    explicit ReportPictureSink(const std::string& title) : _picture(title) {}

    void onLieLevel(const Signal::Sample* data, int length) override { _picture.onLieLevel(data, length); }
    void onSpectrum(const Signal::Sample* data, int length) override { _picture.onSpectrum(data, length); }
    void setDuration(double seconds) override { _picture.setDuration(seconds); }
    bool write(const std::string& path, std::string& warning, std::string& error) override {
        return _picture.write(path, warning, error);
    }

private:
    ReportPicture _picture;
};

} // namespace

extern "C" __attribute__((visibility("default"))) ReportSink* veraxo_report_new(const char* title) {
    try {
        return new ReportPictureSink(title);
    } catch (...) {
        return nullptr;
    }
}
