// Command-line parsing with Qt's parser; every problem ends in one line naming it, then the usage.

#include "LaunchOptions.h"

#include "AboutVeraxo.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cmath>

namespace {

QString translated(const char* text) {
    return QCoreApplication::translate("LaunchOptions", text);
}

// The options, in the order --help lists them.
struct Options {
    const QCommandLineOption help{QStringList{QStringLiteral("h"), QStringLiteral("help")},
                                  translated("Show this help and exit.")};
    const QCommandLineOption version{QStringList{QStringLiteral("v"), QStringLiteral("version")},
                                     translated("Show the version and exit.")};
    const QCommandLineOption input{QStringLiteral("input"),
                                   translated("Analyse the recording FILE live, in real time and aloud, instead of "
                                              "the microphone; listening starts at once."),
                                   QStringLiteral("FILE")};
    const QCommandLineOption device{QStringLiteral("device"),
                                    translated("Listen to the input device with this name or index."),
                                    QStringLiteral("NAME|INDEX")};
    const QCommandLineOption mute{QStringLiteral("mute"),
                                  translated("Analyse recordings in silence for this run (M switches the sound).")};
    const QCommandLineOption listDevices{QStringLiteral("list-devices"),
                                         translated("List the input devices and exit.")};
    const QCommandLineOption windowSize{QStringLiteral("window-size"),
                                        translated("Open the window at this size in points, e.g. 1280x800."),
                                        QStringLiteral("WxH")};
    const QCommandLineOption screenshot{QStringLiteral("screenshot"),
                                        translated("Save a picture of the window to PATH (PNG) and exit."),
                                        QStringLiteral("PATH")};
    const QCommandLineOption screenshotDelay{QStringLiteral("screenshot-delay"),
                                             translated("Seconds to wait before the picture (default 3)."),
                                             QStringLiteral("SECONDS")};

    void addTo(QCommandLineParser& parser) const {
        parser.setApplicationDescription(
            translated("Listens to a voice and shows, live, its spectrum and a playful \"lie level\".\n"
                       "Space starts and stops listening, M mutes a recording, F1 opens help, Esc goes back,\n"
                       "Ctrl+O opens a recording (or drop one on the window), Ctrl+Q quits.\n"
                       "For entertainment only: it proves nothing about anyone's honesty."));
        parser.addOptions(
            {help, version, input, device, mute, listDevices, windowSize, screenshot, screenshotDelay});
        parser.addPositionalArgument(QStringLiteral("FILE"),
                                     translated("A recording to analyse, the same as --input FILE."),
                                     QStringLiteral("[FILE]"));
    }
};

// Seconds from 0 to 3600 as milliseconds; -1 for anything else.
int delayMs(const QString& text) {
    bool ok = false;
    const double seconds = text.toDouble(&ok);
    if (!ok || !std::isfinite(seconds) || seconds < 0.0 || seconds > 3600.0)
        return -1;
    return static_cast<int>(std::lround(seconds * 1000.0));
}

// WIDTHxHEIGHT, each side from 100 to 10000; an invalid size for anything else.
QSize sizeFrom(const QString& text) {
    const QStringList sides = text.split(QLatin1Char('x'));
    bool wide = false;
    bool tall = false;
    const int width = sides.size() == 2 ? sides[0].toInt(&wide) : 0;
    const int height = sides.size() == 2 ? sides[1].toInt(&tall) : 0;
    if (!wide || !tall || width < 100 || height < 100 || width > 10000 || height > 10000)
        return QSize();
    return QSize(width, height);
}

} // namespace

bool LaunchOptions::parse(const QStringList& arguments) {
    QCommandLineParser parser;
    const Options options;
    options.addTo(parser);
    const auto usageError = [&](const QString& problem) {
        _message = QStringLiteral("veraxo: %1\n\n%2").arg(problem, parser.helpText());
        _exitStatus = 2;
        return false;
    };

    if (!parser.parse(arguments))
        return usageError(parser.errorText());
    const QStringList files = parser.positionalArguments();
    const bool recording = parser.isSet(options.input) || !files.isEmpty();
    if (files.size() > 1 || (files.size() == 1 && parser.isSet(options.input)))
        return usageError(translated("unexpected argument '%1'").arg(files.last()));
    if (parser.isSet(options.help)) {
        _message = parser.helpText();
        return false;
    }
    if (parser.isSet(options.version)) {
        // As Help > About says it: the version, then the libraries the program runs on.
        _message = QStringLiteral("%1 %2\n%3\n")
                       .arg(QCoreApplication::applicationName(), QCoreApplication::applicationVersion(),
                            AboutVeraxo::libraryLine());
        return false;
    }
    if (recording && parser.isSet(options.device))
        return usageError(translated("--input and --device cannot be used together"));
    if (parser.isSet(options.screenshotDelay)) {
        const int ms = delayMs(parser.value(options.screenshotDelay));
        if (ms < 0)
            return usageError(translated("--screenshot-delay needs a number of seconds between 0 and 3600"));
        _screenshotDelayMs = ms;
    }
    if (parser.isSet(options.windowSize)) {
        const QSize size = sizeFrom(parser.value(options.windowSize));
        if (!size.isValid())
            return usageError(translated("--window-size needs WIDTHxHEIGHT, each between 100 and 10000"));
        _windowSize = size;
    }
    _inputFile = files.isEmpty() ? parser.value(options.input) : files.first();
    _device = parser.value(options.device);
    _listDevices = parser.isSet(options.listDevices);
    _mute = parser.isSet(options.mute);
    _screenshotPath = parser.value(options.screenshot);
    if (recording && _inputFile.isEmpty())
        return usageError(translated("--input needs a file name"));
    return true;
}
