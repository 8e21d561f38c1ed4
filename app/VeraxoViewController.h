#pragma once
// The main screen: the record button, the spectrum relief, the lie indicator and the lie graph.
// When its view loads it wires the core to the views: one CallbackProxy2 per view on the engine's
// outputs (spectrum, then lie level to the indicator and then to the graph), the voice unit set to
// capture only, delivering on the audio thread at precedence 63, and the engine's input registered
// on the voice unit. The record button toggles capture; the views redraw only while the screen is
// shown. Capture that fails to start, or fails while running, is reported in a banner on the screen
// and cleared at once, so the button is back in its start state and the next press tries again; the
// end of an analysed recording stops capture the same way.

#include "CallbackProxy2.h"
#include "ViewController.h"

#include "Bundle.h"
#include "Shared/Signal/Sample.h"

#include <QImage>
#include <QTimer>

class GraphView;
class HelpViewController;
class ImageButton;
class LieIndicator;
class QLabel;
class QToolButton;
class SpectrumView;

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

    // Names the recording analysed instead of the microphone, for the messages; empty for the microphone.
    void setInputFile(const QString& fileName) { _inputFile = fileName; }

    GraphView* lieGraph() const { return _lieGraph; }
    LieIndicator* lieIndicator() const { return _lieIndicator; }
    SpectrumView* spectrum() const { return _spectrum; }
    ImageButton* recordButtton() const { return _recordButtton; }
    HelpViewController* helpViewController() const { return _helpViewController; }
    QToolButton* helpButton() const { return _helpButton; }
    // The text of the banner that reports capture failures; empty while nothing is reported.
    QString statusMessage() const;

protected:
    QWidget* loadView() override;
    void viewDidLoad() override;

private:
    void checkCapture();
    void reportCaptureFailure(bool whileRunning);
    void showMessage(const QString& text);
    void showStartImages();

    // Declared first so they go last: the engine's chain ends hold their addresses.
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
    QImage _startButtonNormal;
    QImage _startButtonHighlight;
    QImage _pauseButtonNormal;
    QImage _pauseButtonHighlight;
    HelpViewController* _helpViewController = nullptr;
    QTimer _captureWatch;
    QString _inputFile;
};
