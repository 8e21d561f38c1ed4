#pragma once
// The desktop program's command line:
//   veraxo [FILE] [--input FILE] [--device NAME|INDEX] [--mute] [--list-devices] [--window-size WxH]
//          [--screenshot PATH [--screenshot-delay S]] [--help] [--version]
// A FILE given alone is the same as --input FILE.
// parse() leaves either a set of options to run with, or an exit status and a message to print
// (usage errors, --help and --version), so main decides nothing about text itself.

#include <QSize>
#include <QString>
#include <QStringList>

class LaunchOptions {
public:
    // Reads `arguments` (the program name first). Returns true when the program should start.
    bool parse(const QStringList& arguments);

    // When parse returned false: what to print, where, and the exit status.
    const QString& message() const { return _message; }
    bool messageIsError() const { return _exitStatus != 0; }
    int exitStatus() const { return _exitStatus; }

    const QString& inputFile() const { return _inputFile; }
    const QString& device() const { return _device; }
    bool listDevices() const { return _listDevices; }
    // Recordings play in silence for this run, whatever Play Sound says.
    bool mute() const { return _mute; }
    const QString& screenshotPath() const { return _screenshotPath; }
    int screenshotDelayMs() const { return _screenshotDelayMs; }
    // The window's size when given, else an invalid size.
    QSize windowSize() const { return _windowSize; }

private:
    QString _message;
    int _exitStatus = 0;
    QString _inputFile;
    QString _device;
    bool _listDevices = false;
    bool _mute = false;
    QString _screenshotPath;
    int _screenshotDelayMs = 3000;
    QSize _windowSize;
};
