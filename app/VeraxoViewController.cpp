// Wiring of the main screen and the record button's toggle.

#include "VeraxoViewController.h"

#include "Globals.h"
#include "GraphScales.h"
#include "HelpViewController.h"
#include "ImageButton.h"
#include "IndicatorReadout.h"
#include "MainScreenLayout.h"
#include "NavigationController.h"
#include "PipeRelay.h"
#include "PositionBar.h"
#include "ReliefScales.h"
#include "Shared/SpectrumView.h"
#include "StatusBar.h"
#include "views/GraphView.h"
#include "views/LieIndicator.h"

#include "platform/FileAudioUnit.h"

#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QLabel>
#include <QToolButton>
#include <QVBoxLayout>

#include <cmath>

namespace {
// How often a running capture is checked for a failure reported from the audio side.
const int captureWatchIntervalMs = 200;
const int iconSize = 30;
// The least height of the relief's and the graph's pictures, and of the indicator's.
const int viewLeast = 90;
const int indicatorLeast = 20;
// How long the status bar says that a recording plays in silence.
const int silenceNoticeMs = 10000;

// The audio layer names the file in its reasons ("cannot read "PATH": why"); the message names it
// once itself, so only the why is kept. A library's restatement in brackets after "not an audio
// file" adds nothing for the user.
QString fileFailureCause(const QString& reason) {
    QString cause = reason;
    if (cause.startsWith(QLatin1String("cannot read \""))) {
        const qsizetype end = cause.indexOf(QLatin1String("\": "));
        if (end > 0)
            cause = cause.mid(end + 3);
    }
    if (cause.startsWith(QLatin1String("not an audio file (")))
        cause = QStringLiteral("not an audio file");
    return cause;
}

QString sentence(QString text) {
    if (!text.isEmpty())
        text[0] = text[0].toUpper();
    if (!text.endsWith(QLatin1Char('.')))
        text += QLatin1Char('.');
    return text;
}
} // namespace

VeraxoViewController::VeraxoViewController(const QString& nibName, const Bundle* bundle, QObject* parent)
    : ViewController(nibName, parent), _bundle(bundle ? *bundle : Bundle::mainBundle()) {
    setTitle(QStringLiteral("Veraxo"));
    _captureWatch.setInterval(captureWatchIntervalMs);
    connect(&_captureWatch, &QTimer::timeout, this, &VeraxoViewController::checkCapture);
    _statusBar = new StatusBar(&_levelMeter);
    _statusBar->setSampleRate(8000);
    _microphoneName = tr("Microphone");
    _statusBar->setSource(_microphoneName);
    _relay = new PipeRelay(this);
    connect(_relay, &PipeRelay::ready, this, &VeraxoViewController::startCapture);
}

VeraxoViewController::~VeraxoViewController() {
    _relay->cancel();
    releaseCore();
    delete _helpViewController;
    // A window that never took the status bar leaves it to us.
    if (_statusBar && !_statusBar->parent())
        delete _statusBar;
}

void VeraxoViewController::setInputFile(const QString& path) {
    // A pipe still waited for is no longer the source.
    if (_relay->isWaiting()) {
        _relay->cancel();
        showStartImages();
        hideMessage();
        _statusBar->setState(StatusBar::Stopped);
    }
    _inputFile = path;
    if (path.isEmpty())
        _statusBar->setSource(_microphoneName);
    else
        _statusBar->setSource(QFileInfo(path).fileName(),
                              QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath()));
    _statusBar->resetElapsed();
}

void VeraxoViewController::setRecordingLength(long long samples) {
    _positionBar->setLength(samples);
    _positionBar->setPosition(_statusBar->samplesHeard());
    _positionBar->setVisible(samples > 0);
}

void VeraxoViewController::movedTo(long long sample) {
    clearViews();
    hideMessage();
    // Paused, so that the next start keeps the time at the new place rather than starting it over.
    _statusBar->setState(StatusBar::Paused);
    _statusBar->setElapsed(sample);
}

void VeraxoViewController::setMicrophoneName(const QString& name) {
    _microphoneName = name.isEmpty() ? tr("Microphone") : name;
    if (_inputFile.isEmpty())
        _statusBar->setSource(_microphoneName);
}

QString VeraxoViewController::inputName() const {
    return QFileInfo(_inputFile).fileName();
}

QWidget* VeraxoViewController::loadView() {
    auto* page = new QWidget;
    page->setObjectName(nibName());
    page->setAutoFillBackground(true);
    QPalette palette = page->palette();
    palette.setColor(QPalette::Window, QColor(16, 16, 32));
    palette.setColor(QPalette::WindowText, QColor(235, 235, 240));
    page->setPalette(palette);

    // The relief needs OpenGL; a window holding it where none can be made would fail on its first paint.
    QString noRelief;
    QWidget* relief = nullptr;
    if (SpectrumView::canRender(&noRelief)) {
        _spectrum = new SpectrumView;
        _spectrum->setObjectName(QStringLiteral("spectrum"));
        _spectrum->setMinimumHeight(viewLeast);
        relief = new ReliefScales(_spectrum, page);
    } else {
        _reliefPlaceholder = new QLabel(tr("No spectrum relief: %1.").arg(noRelief), page);
        _reliefPlaceholder->setObjectName(QStringLiteral("spectrumPlaceholder"));
        _reliefPlaceholder->setAlignment(Qt::AlignCenter);
        _reliefPlaceholder->setWordWrap(true);
        _reliefPlaceholder->setFrameShape(QFrame::Box);
        _reliefPlaceholder->setMinimumHeight(viewLeast);
        relief = _reliefPlaceholder;
    }
    _lieIndicator = new LieIndicator;
    _lieIndicator->setObjectName(QStringLiteral("lieIndicator"));
    _lieIndicator->setMinimumHeight(indicatorLeast);
    auto* indicator = new IndicatorReadout(_lieIndicator, page);
    _lieGraph = new GraphView;
    _lieGraph->setObjectName(QStringLiteral("lieGraph"));
    _lieGraph->setMinimumHeight(viewLeast);
    auto* graph = new GraphScales(_lieGraph, page);
    // The ruler shows a recording's own time, and counts back from now for the microphone.
    graph->setClock(
        [this] { return _inputFile.isEmpty() ? std::nan("") : double(_statusBar->samplesHeard()) / 8000.0; });

    // The position bar sits right under the graph's frame, in portrait and landscape alike.
    auto* graphBox = new QWidget(page);
    graphBox->setObjectName(QStringLiteral("graphBox"));
    auto* graphColumn = new QVBoxLayout(graphBox);
    graphColumn->setContentsMargins(0, 0, 0, 0);
    graphColumn->setSpacing(2);
    graphColumn->addWidget(graph, 1);
    _positionBar = new PositionBar(graphBox);
    graphColumn->addWidget(_positionBar, 0);
    _positionBar->hide();
    connect(_statusBar, &StatusBar::elapsedChanged, _positionBar, &PositionBar::setPosition);

    _statusLabel = new QLabel(page);
    _statusLabel->setObjectName(QStringLiteral("status"));
    _statusLabel->setWordWrap(true);
    _statusLabel->setAlignment(Qt::AlignCenter);
    _statusLabel->setMargin(6);
    _statusLabel->setAutoFillBackground(true);
    // A strip of its own, shown only while there is something to say: it never covers a view.
    _statusLabel->hide();

    _recordButtton = new ImageButton(page);
    _recordButtton->setObjectName(QStringLiteral("recordButton"));
    _recordButtton->setToolTip(tr("Start or stop listening (Space)"));
    _recordButtton->setAccessibleName(tr("Record"));
    _recordButtton->setFocusPolicy(Qt::TabFocus);
    _recordButtton->setMinimumSize(56, 56);
    _recordButtton->setMaximumHeight(88);
    connect(_recordButtton, &ImageButton::clicked, this, &VeraxoViewController::onRecord);

    _helpButton = new QToolButton;
    _helpButton->setObjectName(QStringLiteral("helpButton"));
    _helpButton->setText(tr("Help"));
    _helpButton->setToolTip(tr("Help (F1)"));
    _helpButton->setAutoRaise(true);
    _helpButton->setFocusPolicy(Qt::TabFocus);
    connect(_helpButton, &QToolButton::clicked, this, &VeraxoViewController::onHelp);
    setRightBarButtonItem(_helpButton);

    // Portrait while the window is taller than wide, landscape once it is wider.
    new MainScreenLayout(page, {relief, indicator, graphBox, _statusLabel, _recordButtton});
    return page;
}

void VeraxoViewController::viewDidLoad() {
    _helpViewController = new HelpViewController(QStringLiteral("Help"), nullptr);

    _startButtonNormal = _bundle.imageNamed(QStringLiteral("button_start.png"));
    _startButtonHighlight = _bundle.imageNamed(QStringLiteral("button_start_over.png"));
    _pauseButtonNormal = _bundle.imageNamed(QStringLiteral("button_pause.png"));
    _pauseButtonHighlight = _bundle.imageNamed(QStringLiteral("button_pause_over.png"));
    showStartImages();

    auto* icon = new QLabel;
    icon->setObjectName(QStringLiteral("icon"));
    const QImage iconImage = _bundle.imageNamed(QStringLiteral("Icon.png"));
    if (!iconImage.isNull()) {
        const qreal ratio = qMax<qreal>(2.0, iconImage.devicePixelRatio());
        QPixmap pixmap = QPixmap::fromImage(iconImage.scaled(QSize(iconSize, iconSize) * ratio,
                                                             Qt::KeepAspectRatio, Qt::SmoothTransformation));
        pixmap.setDevicePixelRatio(ratio);
        icon->setPixmap(pixmap);
    }
    setLeftBarButtonItem(icon);

    _lieGraphProxy = ViewProxy(_lieGraph, &GraphView::newData);
    if (_spectrum)
        _spectrumProxy = ViewProxy(_spectrum, &SpectrumView::newData);
    _verdictProxy = ViewProxy(_lieIndicator, &LieIndicator::newData);
    attachViews(*globals->engine);

    globals->voiceUnit->ioFlags = VoiceUnit::IO_RECORD;
    globals->voiceUnit->properties.set(VoiceUnit::Properties::THREAD_PRECEDENCE,
                                       VoiceUnit::PropertyValue(63));
    globals->voiceUnit->properties.set(VoiceUnit::Properties::THREAD_SEPARATION, VoiceUnit::PropertyValue(0));

    globals->voiceUnit->callbacks.push_back(
        brel::callback2<void, const short*, int>(&*globals->engine, &VeraxoEngine::input));
    globals->voiceUnit->callbacks.push_back(
        brel::callback2<void, const short*, int>(&_levelMeter, &LevelMeter::input));
    _coreWired = true;
}

void VeraxoViewController::releaseCore() {
    // The core outlives the screen (a test, or a shell built again, makes another one): nothing may
    // still call into the views, the meter or the session store once they are gone.
    if (!globals || !_coreWired)
        return;
    _coreWired = false;
    globals->voiceUnit->dispose();
    auto& callbacks = globals->voiceUnit->callbacks;
    for (int i = callbacks.size() - 1; i >= 0; --i)
        if (callbacks[i].object() == &_levelMeter) {
            callbacks.erase(i);
            if (i > 0 && callbacks[i - 1].object() == &*globals->engine)
                callbacks.erase(i - 1);
            break;
        }
    // An engine has no detach: a fresh one carries no taps into what is destroyed.
    globals->engine.reset(new VeraxoEngine);
}

void VeraxoViewController::renewEngine() {
    // The unit's input to the engine is found by the engine it calls, wherever other callbacks put it.
    auto& callbacks = globals->voiceUnit->callbacks;
    int input = -1;
    for (int i = 0; i < callbacks.size() && input < 0; ++i)
        if (callbacks[i].object() == &*globals->engine)
            input = i;
    globals->engine.reset(new VeraxoEngine);
    attachViews(*globals->engine);
    if (input >= 0)
        callbacks[input] = brel::callback2<void, const short*, int>(&*globals->engine, &VeraxoEngine::input);
}

void VeraxoViewController::attachViews(VeraxoEngine& engine) {
    using ViewCallback = brel::callback2<void, const Signal::Sample*, int>;
    if (_spectrum)
        engine.attachOutput(VeraxoEngine::OUTPUT_SPECTRUM,
                            ViewCallback(&_spectrumProxy, &ViewProxy::perform));
    engine.attachOutput(VeraxoEngine::OUTPUT_LIE_LEVEL, ViewCallback(&_verdictProxy, &ViewProxy::perform));
    engine.attachOutput(VeraxoEngine::OUTPUT_LIE_LEVEL, ViewCallback(&_lieGraphProxy, &ViewProxy::perform));
}

void VeraxoViewController::viewDidAppear(bool animated) {
    ViewController::viewDidAppear(animated);
    _lieGraph->resumeRedraw();
    _lieIndicator->resumeRedraw();
    if (_spectrum)
        _spectrum->resumeRedraw();
    emit onScreenChanged(true);
}

void VeraxoViewController::viewDidDisappear(bool animated) {
    ViewController::viewDidDisappear(animated);
    _lieGraph->suspendRedraw();
    _lieIndicator->suspendRedraw();
    if (_spectrum)
        _spectrum->suspendRedraw();
    emit onScreenChanged(false);
}

void VeraxoViewController::onRecord() {
    if (_relay->isWaiting()) {
        // A press while a pipe is waited for gives up waiting.
        _relay->cancel();
        showStartImages();
        hideMessage();
        _statusBar->setState(StatusBar::Stopped);
        return;
    }
    if (globals->voiceUnit->state != VoiceUnit::STATE_UNINITIALIZED) {
        const bool wasRunning = globals->voiceUnit->state == VoiceUnit::STATE_RUNNING;
        stopCapture();
        _statusBar->setState(wasRunning ? StatusBar::Paused : StatusBar::Stopped);
        return;
    }
    emit captureStarting();
    if (PipeRelay::mustRelay(_inputFile)) {
        if (!_relay->start(_inputFile)) {
            showMessage(tr("Cannot analyse %1: %2.").arg(inputName(), _relay->error()), true);
            return;
        }
        showPauseImages();
        showMessage(tr("Waiting for sound from %1. Press the button to stop waiting.").arg(inputName()),
                    false);
        return;
    }
    startCapture();
}

void VeraxoViewController::startCapture() {
    VoiceUnit& voiceUnit = *globals->voiceUnit;
    if (voiceUnit.state != VoiceUnit::STATE_UNINITIALIZED)
        return;
    showPauseImages();
    // A pipe is read from the relay's end, live, whatever pacing was asked for files.
    if (_relay->isActive())
        platform::FileAudioUnit::setSource(_relay->readPath().toStdString(),
                                           platform::FileAudioUnit::REAL_TIME);
    // The elapsed time goes on after a pause, as the recording does. Listening is set before the first
    // block can arrive, so every sample heard counts and the time stays the recording's position.
    if (_statusBar->state() != StatusBar::Paused)
        _statusBar->resetElapsed();
    _statusBar->setState(StatusBar::Listening);
    platform::FileAudioUnit::takeSilenceNotice();
    voiceUnit.initialize();
    voiceUnit.start();
    if (voiceUnit.state != VoiceUnit::STATE_RUNNING) {
        reportCaptureFailure(false);
        return;
    }
    hideMessage();
    noteSilence();
    _captureWatch.start();
}

void VeraxoViewController::noteSilence() {
    // Once per failure: the recording goes on, paced as in silence. A window too narrow for the whole
    // sentence still has it under the pointer.
    if (!platform::FileAudioUnit::takeSilenceNotice())
        return;
    const QString text = tr("No sound output: analysing in silence.");
    _statusBar->showMessage(text, silenceNoticeMs);
    _statusBar->setToolTip(text);
    QTimer::singleShot(silenceNoticeMs, _statusBar, [bar = _statusBar] { bar->setToolTip(QString()); });
}

void VeraxoViewController::stopCapture() {
    VoiceUnit& voiceUnit = *globals->voiceUnit;
    // First the relay: the backend's reader then sees the end of its stream and stops at once.
    _relay->cancel();
    _captureWatch.stop();
    showStartImages();
    voiceUnit.stop();
    voiceUnit.dispose();
}

bool VeraxoViewController::isWaitingForInput() const {
    return _relay->isWaiting();
}

void VeraxoViewController::shutDown() {
    _relay->cancel();
    if (globals->voiceUnit->state != VoiceUnit::STATE_UNINITIALIZED)
        stopCapture();
}

void VeraxoViewController::onHelp() {
    if (navigationController())
        navigationController()->pushViewController(_helpViewController, true);
}

QString VeraxoViewController::statusMessage() const {
    return _statusLabel ? _statusLabel->text() : QString();
}

void VeraxoViewController::checkCapture() {
    VoiceUnit& voiceUnit = *globals->voiceUnit;
    if (voiceUnit.state == VoiceUnit::STATE_FAILED) {
        reportCaptureFailure(true);
        return;
    }
    noteSilence();
    if (voiceUnit.inputEnded()) {
        stopCapture();
        _statusBar->setState(StatusBar::Ended);
        showMessage(tr("The recording has ended. Press record to analyse it again."), false);
    }
}

QString VeraxoViewController::failureMessage(const QString& inputFile, const QString& reason,
                                             bool whileRunning) {
    QString text;
    const QString name = QFileInfo(inputFile).fileName();
    if (!inputFile.isEmpty())
        text = reason.isEmpty() ? tr("Cannot analyse %1.").arg(name)
                                : tr("Cannot analyse %1: %2").arg(name, fileFailureCause(reason));
    else if (whileRunning)
        text = reason.isEmpty() ? tr("The microphone stopped working; check it and press record to try again")
                                : tr("%1; check the microphone and press record to try again").arg(reason);
    else if (reason.compare(QLatin1String("No microphone found"), Qt::CaseInsensitive) == 0)
        text = tr("No microphone found: connect one and press record, or open a recording");
    else if (reason.isEmpty())
        text = tr("Cannot start the microphone");
    else
        text = tr("Cannot start the microphone: %1").arg(reason);
    return sentence(text);
}

QString VeraxoViewController::openFailureMessage(const QString& path, const QString& reason) {
    const QString name = QFileInfo(path).fileName();
    return sentence(reason.isEmpty() ? tr("Cannot open %1").arg(name)
                                     : tr("Cannot open %1: %2").arg(name, fileFailureCause(reason)));
}

void VeraxoViewController::clearViews() {
    if (_spectrum)
        _spectrum->clearData();
    _lieIndicator->clearData();
    _lieGraph->clearData();
}

void VeraxoViewController::reportCaptureFailure(bool whileRunning) {
    const QString reason = QString::fromStdString(globals->voiceUnit->lastErrorReason());
    // The same steps as a press on a failed unit: the button shows its start state again.
    stopCapture();
    _statusBar->setState(StatusBar::Stopped);
    showMessage(failureMessage(_inputFile, reason, whileRunning), true);
}

void VeraxoViewController::showMessage(const QString& text, bool error) {
    _statusIsError = error;
    QPalette palette = _statusLabel->palette();
    if (error) {
        palette.setColor(QPalette::Window, QColor(120, 28, 36));
        palette.setColor(QPalette::WindowText, QColor(255, 240, 240));
    } else {
        palette.setColor(QPalette::Window, QColor(52, 56, 72));
        palette.setColor(QPalette::WindowText, QColor(235, 235, 240));
    }
    _statusLabel->setPalette(palette);
    _statusLabel->setText(text);
    _statusLabel->show();
}

void VeraxoViewController::hideMessage() {
    _statusIsError = false;
    _statusLabel->clear();
    _statusLabel->hide();
}

void VeraxoViewController::showPauseImages() {
    _recordButtton->setImage(_pauseButtonNormal, ImageButton::ControlStateNormal);
    _recordButtton->setImage(_pauseButtonHighlight, ImageButton::ControlStateHighlighted);
    _recordButtton->setAccessibleName(tr("Pause"));
}

void VeraxoViewController::showStartImages() {
    _recordButtton->setImage(_startButtonNormal, ImageButton::ControlStateNormal);
    _recordButtton->setImage(_startButtonHighlight, ImageButton::ControlStateHighlighted);
    _recordButtton->setAccessibleName(tr("Record"));
}
