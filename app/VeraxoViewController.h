#pragma once
// The main screen: the record button, the spectrum relief, the lie indicator and the lie graph.
// When its view loads it wires the core to the views: one CallbackProxy2 per view on the engine's
// outputs (spectrum, then lie level to the indicator and then to the graph), the voice unit set to
// capture only, delivering on the audio thread at precedence 63, and the engine's input registered
// on the voice unit. The record button toggles capture; the views redraw only while the screen is
// shown. Capture that fails to start, or fails while running, is reported in a banner on the screen
// and cleared at once, so the button is back in its start state and the next press tries again; the
// end of an analysed recording stops capture the same way and says so as a notice. The banner lies over
// the views, so showing or hiding it moves nothing.
//
// The screen also owns the status bar (source, state, elapsed time, input level) and the level meter
// that the voice unit feeds on the audio thread; the window installs statusBar() where it keeps one.
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
    // Hangs the three views on the engine's outputs (done once when the view loads; again for an engine
    // that replaces the first).
    void attachViews(VeraxoEngine& engine);
    // Replaces the engine with a fresh one, which the views and the voice unit then use; capture must
    // be stopped. Listeners other than the views are hung on the new engine by whoever owns them.
    void renewEngine();

    // The recording analysed instead of the microphone (its path); empty for the microphone. Gives up
    // waiting for a pipe named before; the caller stops capture first and then presses record.
    void setInputFile(const QString& path);
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
    QToolButton* helpButton() const { return _helpButton; }
    // The text of the banner that reports capture failures and notices; empty while nothing is shown.
    QString statusMessage() const;
    // The banner's one sentence for a capture failure with the audio layer's reason (which may be
    // empty), for the recording at inputFile or, when it is empty, the microphone.
    static QString failureMessage(const QString& inputFile, const QString& reason, bool whileRunning);
    // True when the banner reports a failure, false for a notice or nothing.
    bool statusIsError() const { return _statusIsError; }
    // True while a recording that is a pipe is waited for.
    bool isWaitingForInput() const;

signals:
    // The record button is about to start capture: the last moment to change the source or the engine.
    void captureStarting();

protected:
    QWidget* loadView() override;
    void viewDidLoad() override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void startCapture();
    void stopCapture();
    void checkCapture();
    void reportCaptureFailure(bool whileRunning);
    void showMessage(const QString& text, bool error);
    void hideMessage();
    void placeBanner();
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
    // Where the engine's input sits among the voice unit's callbacks.
    int _engineInput = 0;
};
