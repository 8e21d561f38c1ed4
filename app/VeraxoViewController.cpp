// Wiring of the main screen and the record button's toggle.

#include "VeraxoViewController.h"

#include "Globals.h"
#include "GraphView.h"
#include "HelpViewController.h"
#include "ImageButton.h"
#include "LieIndicator.h"
#include "NavigationController.h"
#include "Shared/SpectrumView.h"

#include <QLabel>
#include <QToolButton>
#include <QVBoxLayout>

namespace {
// How often a running capture is checked for a failure reported from the audio side.
const int captureWatchIntervalMs = 200;
const int iconSize = 30;
} // namespace

VeraxoViewController::VeraxoViewController(const QString& nibName, const Bundle* bundle, QObject* parent)
    : ViewController(nibName, parent), _bundle(bundle ? *bundle : Bundle::mainBundle()) {
    setTitle(QStringLiteral("Veraxo"));
    _captureWatch.setInterval(captureWatchIntervalMs);
    connect(&_captureWatch, &QTimer::timeout, this, &VeraxoViewController::checkCapture);
}

VeraxoViewController::~VeraxoViewController() {
    delete _helpViewController;
}

QWidget* VeraxoViewController::loadView() {
    auto* page = new QWidget;
    page->setObjectName(nibName());
    page->setAutoFillBackground(true);
    QPalette palette = page->palette();
    palette.setColor(QPalette::Window, QColor(16, 16, 32));
    palette.setColor(QPalette::WindowText, QColor(235, 235, 240));
    page->setPalette(palette);

    _spectrum = new SpectrumView(page);
    _spectrum->setObjectName(QStringLiteral("spectrum"));
    _lieIndicator = new LieIndicator(page);
    _lieIndicator->setObjectName(QStringLiteral("lieIndicator"));
    _lieGraph = new GraphView(page);
    _lieGraph->setObjectName(QStringLiteral("lieGraph"));

    _statusLabel = new QLabel(page);
    _statusLabel->setObjectName(QStringLiteral("status"));
    _statusLabel->setWordWrap(true);
    _statusLabel->setAlignment(Qt::AlignCenter);
    _statusLabel->setMargin(6);
    _statusLabel->setAutoFillBackground(true);
    QPalette bannerPalette = _statusLabel->palette();
    bannerPalette.setColor(QPalette::Window, QColor(120, 28, 36));
    bannerPalette.setColor(QPalette::WindowText, QColor(255, 240, 240));
    _statusLabel->setPalette(bannerPalette);
    _statusLabel->hide();

    _recordButtton = new ImageButton(page);
    _recordButtton->setObjectName(QStringLiteral("recordButton"));
    _recordButtton->setToolTip(tr("Start or stop listening (Space)"));
    _recordButtton->setAccessibleName(tr("Record"));
    _recordButtton->setFocusPolicy(Qt::NoFocus);
    _recordButtton->setMinimumSize(56, 56);
    _recordButtton->setMaximumHeight(88);
    connect(_recordButtton, &ImageButton::clicked, this, &VeraxoViewController::onRecord);

    _helpButton = new QToolButton;
    _helpButton->setObjectName(QStringLiteral("helpButton"));
    _helpButton->setText(tr("Help"));
    _helpButton->setToolTip(tr("Help (F1)"));
    _helpButton->setAutoRaise(true);
    _helpButton->setFocusPolicy(Qt::NoFocus);
    connect(_helpButton, &QToolButton::clicked, this, &VeraxoViewController::onHelp);
    setRightBarButtonItem(_helpButton);

    // Portrait at any window size: the relief takes most of the height, the graph the rest.
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(6, 6, 6, 6);
    layout->setSpacing(6);
    layout->addWidget(_spectrum, 5);
    layout->addWidget(_lieIndicator, 1);
    layout->addWidget(_lieGraph, 3);
    layout->addWidget(_statusLabel);
    layout->addWidget(_recordButtton, 2);
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
    _spectrumProxy = ViewProxy(_spectrum, &SpectrumView::newData);
    _verdictProxy = ViewProxy(_lieIndicator, &LieIndicator::newData);

    using ViewCallback = brel::callback2<void, const Signal::Sample*, int>;
    globals->engine->attachOutput(VeraxoEngine::OUTPUT_SPECTRUM,
                                  ViewCallback(&_spectrumProxy, &ViewProxy::perform));
    globals->engine->attachOutput(VeraxoEngine::OUTPUT_LIE_LEVEL,
                                  ViewCallback(&_verdictProxy, &ViewProxy::perform));
    globals->engine->attachOutput(VeraxoEngine::OUTPUT_LIE_LEVEL,
                                  ViewCallback(&_lieGraphProxy, &ViewProxy::perform));

    globals->voiceUnit->ioFlags = VoiceUnit::IO_RECORD;
    globals->voiceUnit->properties.set(VoiceUnit::Properties::THREAD_PRECEDENCE,
                                       VoiceUnit::PropertyValue(63));
    globals->voiceUnit->properties.set(VoiceUnit::Properties::THREAD_SEPARATION, VoiceUnit::PropertyValue(0));

    globals->voiceUnit->callbacks.push_back(
        brel::callback2<void, const short*, int>(&*globals->engine, &VeraxoEngine::input));
}

void VeraxoViewController::viewDidAppear(bool animated) {
    ViewController::viewDidAppear(animated);
    _lieGraph->resumeRedraw();
    _lieIndicator->resumeRedraw();
    _spectrum->resumeRedraw();
}

void VeraxoViewController::viewDidDisappear(bool animated) {
    ViewController::viewDidDisappear(animated);
    _lieGraph->suspendRedraw();
    _lieIndicator->suspendRedraw();
    _spectrum->suspendRedraw();
}

void VeraxoViewController::onRecord() {
    VoiceUnit& voiceUnit = *globals->voiceUnit;
    if (voiceUnit.state == VoiceUnit::STATE_UNINITIALIZED) {
        _recordButtton->setImage(_pauseButtonNormal, ImageButton::ControlStateNormal);
        _recordButtton->setImage(_pauseButtonHighlight, ImageButton::ControlStateHighlighted);
        voiceUnit.initialize();
        voiceUnit.start();
        if (voiceUnit.state != VoiceUnit::STATE_RUNNING) {
            reportCaptureFailure(false);
            return;
        }
        _statusLabel->clear();
        _statusLabel->hide();
        _captureWatch.start();
    } else {
        _captureWatch.stop();
        showStartImages();
        voiceUnit.stop();
        voiceUnit.dispose();
    }
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
    if (voiceUnit.inputEnded()) {
        onRecord();
        showMessage(tr("The recording has ended. Press record to analyse it again."));
    }
}

void VeraxoViewController::reportCaptureFailure(bool whileRunning) {
    const QString reason = QString::fromStdString(globals->voiceUnit->lastErrorReason());
    const QString because = reason.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(reason);
    if (!_inputFile.isEmpty())
        showMessage(tr("Cannot analyse the recording %1%2.").arg(_inputFile, because));
    else if (whileRunning)
        showMessage(
            tr("The microphone stopped working%1. Check it and press record to try again.").arg(because));
    else
        showMessage(
            tr("No microphone found%1. Connect one and press record, or start Veraxo with --input FILE "
               "to analyse a recording.")
                .arg(because));
    // The same steps as a press on a failed unit: the button shows its start state again.
    onRecord();
}

void VeraxoViewController::showMessage(const QString& text) {
    _statusLabel->setText(text);
    _statusLabel->show();
}

void VeraxoViewController::showStartImages() {
    _recordButtton->setImage(_startButtonNormal, ImageButton::ControlStateNormal);
    _recordButtton->setImage(_startButtonHighlight, ImageButton::ControlStateHighlighted);
}
