// Command-line parsing with Qt's parser; every problem ends in one line naming it, then the usage.

#include "LaunchOptions.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cmath>

bool LaunchOptions::parse(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QCoreApplication::translate(
        "LaunchOptions", "Listens to a voice and shows, live, its spectrum and a playful \"lie level\".\n"
                         "Space starts and stops listening, F1 opens help, Esc goes back,\n"
                         "Ctrl+O opens a recording (or drop one on the window), Ctrl+Q quits.\n"
                         "For entertainment only: it proves nothing about anyone's honesty."));
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")},
                                  QCoreApplication::translate("LaunchOptions", "Show this help and exit."));
    const QCommandLineOption version(
        QStringList{QStringLiteral("v"), QStringLiteral("version")},
        QCoreApplication::translate("LaunchOptions", "Show the version and exit."));
    const QCommandLineOption input(
        QStringLiteral("input"),
        QCoreApplication::translate(
            "LaunchOptions", "Analyse the recording FILE live, in real time, instead of the microphone; "
                             "listening starts at once."),
        QStringLiteral("FILE"));
    const QCommandLineOption device(
        QStringLiteral("device"),
        QCoreApplication::translate("LaunchOptions", "Listen to the input device with this name or index."),
        QStringLiteral("NAME|INDEX"));
    const QCommandLineOption listDevices(
        QStringLiteral("list-devices"),
        QCoreApplication::translate("LaunchOptions", "List the input devices and exit."));
    const QCommandLineOption screenshot(
        QStringLiteral("screenshot"),
        QCoreApplication::translate("LaunchOptions", "Save a picture of the window to PATH (PNG) and exit."),
        QStringLiteral("PATH"));
    const QCommandLineOption screenshotDelay(
        QStringLiteral("screenshot-delay"),
        QCoreApplication::translate("LaunchOptions", "Seconds to wait before the picture (default 3)."),
        QStringLiteral("SECONDS"));
    const QCommandLineOption windowSize(
        QStringLiteral("window-size"),
        QCoreApplication::translate("LaunchOptions",
                                    "Open the window at this size in points, e.g. 1280x800."),
        QStringLiteral("WxH"));
    parser.addOptions({help, version, input, device, listDevices, windowSize, screenshot, screenshotDelay});
    parser.addPositionalArgument(
        QStringLiteral("FILE"),
        QCoreApplication::translate("LaunchOptions", "A recording to analyse, the same as --input FILE."),
        QStringLiteral("[FILE]"));

    const auto usageError = [&](const QString& problem) {
        _message = QStringLiteral("veraxo: %1\n\n%2").arg(problem, parser.helpText());
        _exitStatus = 2;
        return false;
    };

    if (!parser.parse(arguments))
        return usageError(parser.errorText());
    const QStringList files = parser.positionalArguments();
    if (files.size() > 1 || (files.size() == 1 && parser.isSet(input)))
        return usageError(
            QCoreApplication::translate("LaunchOptions", "unexpected argument '%1'").arg(files.last()));
    if (parser.isSet(help)) {
        _message = parser.helpText();
        return false;
    }
    if (parser.isSet(version)) {
        _message = QStringLiteral("%1 %2\n").arg(QCoreApplication::applicationName(),
                                                 QCoreApplication::applicationVersion());
        return false;
    }
    if ((parser.isSet(input) || !files.isEmpty()) && parser.isSet(device))
        return usageError(
            QCoreApplication::translate("LaunchOptions", "--input and --device cannot be used together"));
    if (parser.isSet(screenshotDelay)) {
        bool ok = false;
        const double seconds = parser.value(screenshotDelay).toDouble(&ok);
        if (!ok || !std::isfinite(seconds) || seconds < 0.0 || seconds > 3600.0)
            return usageError(QCoreApplication::translate("LaunchOptions",
                                                          "--screenshot-delay needs a number of "
                                                          "seconds between 0 and 3600"));
        _screenshotDelayMs = static_cast<int>(std::lround(seconds * 1000.0));
    }
    if (parser.isSet(windowSize)) {
        const QStringList sides = parser.value(windowSize).split(QLatin1Char('x'));
        bool wide = false;
        bool tall = false;
        const int width = sides.size() == 2 ? sides[0].toInt(&wide) : 0;
        const int height = sides.size() == 2 ? sides[1].toInt(&tall) : 0;
        if (!wide || !tall || width < 100 || height < 100 || width > 10000 || height > 10000)
            return usageError(QCoreApplication::translate(
                "LaunchOptions", "--window-size needs WIDTHxHEIGHT, each between 100 and 10000"));
        _windowSize = QSize(width, height);
    }
    _inputFile = files.isEmpty() ? parser.value(input) : files.first();
    _device = parser.value(device);
    _listDevices = parser.isSet(listDevices);
    _screenshotPath = parser.value(screenshot);
    if ((parser.isSet(input) || !files.isEmpty()) && _inputFile.isEmpty())
        return usageError(QCoreApplication::translate("LaunchOptions", "--input needs a file name"));
    return true;
}
