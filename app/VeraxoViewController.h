#pragma once
// The main screen: the record button, the spectrum relief, the lie indicator and the lie graph.
// When its view loads it wires the core to the views: one CallbackProxy2 per view on the engine's
// outputs (spectrum, then lie level to the indicator and then to the graph), the voice unit set to
// capture only, delivering on the audio thread at precedence 63, and the engine's input registered
// on the voice unit. The record button toggles capture; the views redraw only while the screen is
// shown. Capture that fails to start, or fails while running, is reported in a notice strip on the
// screen and cleared at once, so the button is back in its start state and the next press tries again;
// the end of an analysed recording stops capture the same way and says so as a notice. The strip has
// a place of its own between the views and the button, so it never covers a view. Around each view its
// frame draws the scales and numbers (GraphScales, IndicatorReadout, ReliefScales), never into it.
//
// The screen also owns the status bar (source, state, elapsed time, input level) and the level meter
// that the voice unit feeds on the audio thread; the window installs statusBar() where it keeps one.
// A recording that should be heard but plays in silence (no sound output, or one that failed) is said
// there once.
// A recording that can be sought has a position bar under the graph, following the status bar's time.
// A recording that is a named pipe is read through a relay off the main thread, so that neither a
// writer that never comes nor one that stalls can block the window or the stopping of capture.
// Without OpenGL the relief's place holds a plain placeholder saying why.

#include "CallbackProxy2.h"
#include "LevelMeter.h"
#include "StatusBar.h"
#include "ViewController.h"

#include "Bundle.h"
#include "Shared/Signal/Sample.h"

#include <QImage>
#include <QPointer>
#include <QTimer>

class GraphView;
class HelpViewController;
class ImageButton;
class LieIndicator;
class QLabel;
class QToolButton;
class SpectrumView;
class PipeRelay;
class PositionBar;
class VeraxoEngine;

class VeraxoViewController : public ViewController {
    Q_OBJECT
public:
    using ViewProxy = CallbackProxy2<void, const Signal::Sample*, int>;

    VeraxoViewController(const QString& nibName, const Bundle* bundle, QObject* parent = nullptr);
    ~VeraxoViewController() override;

    void viewDidAppear(bool animated) override;
    void viewDidDisappear(bool animated) override;

    void onRecord();
    void onHelp();
    // Stops capture and any relay from a pipe: the program's way out, before the voice unit goes.
    void shutDown();
    // Stops capture and unhooks the views and the meter from the core, which outlives this screen.
    void releaseCore();
    // Hangs the three views on the engine's outputs (done once when the view loads; again for an engine
    // that replaces the first).
    void attachViews(VeraxoEngine& engine);
    // Replaces the engine with a fresh one, which the views and the voice unit then use; capture must
    // be stopped. Listeners other than the views are hung on the new engine by whoever owns them.
    void renewEngine();

    // The recording analysed instead of the microphone (its path); empty for the microphone. Gives up
    // waiting for a pipe named before; the caller stops capture first and then presses record.
    void setInputFile(const QString& path);
    // The recording's length in samples at 8000 Hz, which shows the position bar; 0 hides it (the
    // microphone, a pipe).
    void setRecordingLength(long long samples);
    // The recording was moved to this sample while capture was stopped: the views start empty, the
    // time is the new place, and the next Listen resumes there.
    void movedTo(long long sample);
    // The microphone's name as the status bar shows it while no recording is chosen.
    void setMicrophoneName(const QString& name);

    GraphView* lieGraph() const { return _lieGraph; }
    LieIndicator* lieIndicator() const { return _lieIndicator; }
    // Null when the relief cannot be drawn (no OpenGL); reliefPlaceholder() is shown in its place.
    SpectrumView* spectrum() const { return _spectrum; }
    QLabel* reliefPlaceholder() const { return _reliefPlaceholder; }
    StatusBar* statusBar() const { return _statusBar; }
    LevelMeter& levelMeter() { return _levelMeter; }
    ImageButton* recordButtton() const { return _recordButtton; }
    HelpViewController* helpViewController() const { return _helpViewController; }
    PositionBar* positionBar() const { return _positionBar; }
    QToolButton* helpButton() const { return _helpButton; }
    // The text of the banner that reports capture failures and notices; empty while nothing is shown.
    QString statusMessage() const;
    // The banner's one sentence for a capture failure with the audio layer's reason (which may be
    // empty), for the recording at inputFile or, when it is empty, the microphone.
    static QString failureMessage(const QString& inputFile, const QString& reason, bool whileRunning);
    // The banner's one sentence for a recording that cannot be opened, with the reader's reason.
    static QString openFailureMessage(const QString& path, const QString& reason);
    // Shows a failure that is no capture's (a recording that cannot be opened) until the next action.
    void showError(const QString& text) { showMessage(text, true); }
    // Shows a notice (no failure) until the next action.
    void showNotice(const QString& text) { showMessage(text, false); }
    // Empties the relief, the indicator and the graph, as at the program's start.
    void clearViews();
    // True when the banner reports a failure, false for a notice or nothing.
    bool statusIsError() const { return _statusIsError; }
    // True while a recording that is a pipe is waited for.
    bool isWaitingForInput() const;

signals:
    // The record button is about to start capture: the last moment to change the source or the engine.
    void captureStarting();
    // The main screen came into sight, or went (help over it).
    void onScreenChanged(bool shown);

protected:
    QWidget* loadView() override;
    void viewDidLoad() override;

private:
    void startCapture();
    void stopCapture();
    void checkCapture();
    void noteSilence();
    void reportCaptureFailure(bool whileRunning);
    void showMessage(const QString& text, bool error);
    void hideMessage();
    void showStartImages();
    void showPauseImages();
    QString inputName() const;

    // Declared first so they go last: the engine's chain ends and the voice unit hold their addresses.
    LevelMeter _levelMeter;
    ViewProxy _spectrumProxy;
    ViewProxy _lieGraphProxy;
    ViewProxy _verdictProxy;

    const Bundle& _bundle;
    ImageButton* _recordButtton = nullptr;
    GraphView* _lieGraph = nullptr;
    SpectrumView* _spectrum = nullptr;
    LieIndicator* _lieIndicator = nullptr;
    QToolButton* _helpButton = nullptr;
    QLabel* _statusLabel = nullptr;
    bool _statusIsError = false;
    QLabel* _reliefPlaceholder = nullptr;
    PositionBar* _positionBar = nullptr;
    QPointer<StatusBar> _statusBar;
    PipeRelay* _relay = nullptr;
    QString _microphoneName;
    QImage _startButtonNormal;
    QImage _startButtonHighlight;
    QImage _pauseButtonNormal;
    QImage _pauseButtonHighlight;
    HelpViewController* _helpViewController = nullptr;
    QTimer _captureWatch;
    QString _inputFile;
    bool _coreWired = false;
};
