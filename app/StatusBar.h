#pragma once
// The window's status bar: where the sound comes from, whether it is being listened to, how much of it
// has been heard, the input level and a warning when the level spoils the analysis. The level comes from
// a LevelMeter fed on the audio thread; a timer reads it 12.5 times a second. Time is counted in samples
// heard, so a recording analysed faster than real time is judged by its own clock.
//
// Warnings: "clipping" while samples sit at the 16-bit rails (held for a second after the last one),
// "too quiet" once the peak has stayed under -45 dBFS for three seconds of sound. Both distort the lie
// level badly, so they are shown where the user looks for the level.

#include "LevelMeter.h"

#include <QElapsedTimer>
#include <QStatusBar>
#include <QTimer>

class QLabel;
class LevelBar;

class StatusBar : public QStatusBar {
    Q_OBJECT
public:
    enum State { Stopped, Listening, Paused, Ended };
    enum Warning { NoWarning, Clipping, TooQuiet };

    static constexpr int updateIntervalMs = 80;
    static constexpr double quietLevelDb = -45.0;
    static constexpr int quietSeconds = 3;
    static constexpr int clipHoldMs = 1000;

    explicit StatusBar(LevelMeter* meter, QWidget* parent = nullptr);

    // The source's name as the user knows it: a file name, or a microphone's name, shortened in the
    // middle when it does not fit; detail (a recording's whole path) is its tooltip.
    void setSource(const QString& name, const QString& detail = QString());
    // A new start from the beginning of the source: the elapsed time goes back to zero.
    void resetElapsed();
    // The source moved to this place (a seek in a recording): the elapsed time is its position.
    void setElapsed(long long samples);
    void setState(State state);
    void setSampleRate(int rate) { _sampleRate = rate; }

    // Takes the meter's reading and updates every part; the timer calls it while listening. Public so
    // a test can step it.
    void advance();

    State state() const { return _state; }
    Warning warning() const { return _warning; }
    // Peak of the last period in dBFS; -120 when nothing arrived.
    double levelDb() const { return _levelDb; }
    long long samplesHeard() const { return _samplesHeard; }
    QString sourceText() const;
    QString stateText() const;
    QString elapsedText() const;
    QString warningText() const;
    // The peak beside the level bar, in whole dBFS ("-12 dB"); empty while nothing is heard.
    QString peakText() const;
    // A time as the bar shows it: m:ss, or h:mm:ss from an hour on.
    static QString clockText(long long seconds);

signals:
    // The elapsed time changed (samples heard).
    void elapsedChanged(long long samples);

private:
    void refresh();

    LevelMeter* _meter;
    QLabel* _source;
    QLabel* _stateLabel;
    QLabel* _elapsed;
    LevelBar* _level;
    QLabel* _peak;
    QLabel* _warningLabel;
    QTimer _timer;

    State _state = Stopped;
    Warning _warning = NoWarning;
    QString _sourceName;
    QString _sourceDetail;
    int _sampleRate = 8000;
    double _levelDb = -120.0;
    long long _samplesHeard = 0;
    long long _announcedHeard = -1;
    long long _quietSamples = 0;
    // Samples heard since the last clipped period; negative when none is being held.
    long long _sinceClip = -1;
};
