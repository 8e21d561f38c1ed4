// The desktop shell around the main screen: recordings opened by name and by drop, pausing that keeps
// the place, the session exported exactly as veraxo-analyze writes it, and the microphone chosen in
// the menu and remembered across runs.

#include "app/VeraxoAppDelegate.h"

#include "app/DeviceMenu.h"
#include "app/Globals.h"
#include "app/HelpViewController.h"
#include "app/ImageButton.h"
#include "app/RunLoopBridge.h"
#include "app/SessionStore.h"
#include "app/StatusBar.h"
#include "app/VeraxoViewController.h"

#include "platform/AudioFileReader.h"
#include "platform/FileAudioUnit.h"
#include "platform/PortAudioUnit.h"
#include "platform/TestAudioUnit.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <QAction>
#include <QDropEvent>
#include <QFile>
#include <QMimeData>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>
#include <QToolButton>
#include <QUrl>

#include <memory>
#include <vector>

#include <sys/stat.h>

namespace {

using platform::FileAudioUnit;
using platform::TestAudioUnit;

class Shell : public ::testing::Test {
protected:
    void SetUp() override {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDir.path());
        platform::selectAudioComponent(&script.component);
        platform::PortAudioUnit::selectDevice(-1);
        Globals::setUp();
        launch();
    }

    void TearDown() override {
        if (globals)
            globals->voiceUnit->dispose();
        delegate.reset();
        Globals::tearDown();
        platform::selectAudioComponent(nullptr);
        platform::PortAudioUnit::selectDevice(-1);
    }

    void launch() {
        delegate = std::make_unique<VeraxoAppDelegate>();
        delegate->setMicrophoneComponent(&script.component);
        delegate->setRecordingPacing(FileAudioUnit::AS_FAST_AS_POSSIBLE);
        delegate->applicationDidFinishLaunching();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(delegate->window()));
        // The keys are application shortcuts: they work once the window has the keyboard.
        ASSERT_TRUE(QTest::qWaitForWindowActive(delegate->window()));
    }

    int state() const { return globals->voiceUnit->state; }
    bool waitForEnd(int ms = 20000) {
        return QTest::qWaitFor(
            [&] { return delegate->mainViewController()->statusMessage().contains("ended"); }, ms);
    }
    // veraxo-analyze's CSV of a file, as bytes.
    QByteArray analyzerCsv(const QString& file) {
        const QString path = work.filePath(QStringLiteral("cli.csv"));
        QProcess cli;
        cli.start(QStringLiteral(VERAXO_ANALYZE), {QStringLiteral("--csv"), path, file});
        EXPECT_TRUE(cli.waitForFinished(60000));
        EXPECT_EQ(cli.exitCode(), 0) << cli.readAllStandardError().toStdString();
        QFile csv(path);
        EXPECT_TRUE(csv.open(QIODevice::ReadOnly));
        return csv.readAll();
    }
    QByteArray exportedCsv() {
        const QString path = work.filePath(QStringLiteral("session.csv"));
        QString message;
        EXPECT_TRUE(delegate->exportCsv(path, message)) << message.toStdString();
        EXPECT_TRUE(message.isEmpty()) << "nothing was dropped: " << message.toStdString();
        QFile csv(path);
        EXPECT_TRUE(csv.open(QIODevice::ReadOnly));
        return csv.readAll();
    }

    QTemporaryDir settingsDir;
    QTemporaryDir work;
    RunLoopBridge bridge;
    TestAudioUnit::Script script;
    std::unique_ptr<VeraxoAppDelegate> delegate;
};

// The first `samples` samples of the sample recording, as a 16-bit 8 kHz WAV file at path.
bool writeExcerpt(const QString& path, int samples) {
    AudioFileReader reader;
    if (!reader.open(VERAXO_SAMPLE_RECORDING))
        return false;
    std::vector<short> data(static_cast<std::size_t>(samples));
    int got = 0;
    while (got < samples) {
        const int n = reader.read(data.data() + got, samples - got);
        if (n <= 0)
            break;
        got += n;
    }
    SF_INFO info = {};
    info.samplerate = 8000;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open(QFile::encodeName(path).constData(), SFM_WRITE, &info);
    if (!file)
        return false;
    const bool written = sf_write_short(file, data.data(), got) == got;
    sf_close(file);
    return written && got == samples;
}

TEST_F(Shell, ARecordingOpenedByNameOrDroppedIsAnalysedWholeAndExportsAsTheAnalyzerWritesIt) {
    delegate->openRecording(QStringLiteral(VERAXO_SAMPLE_RECORDING));
    EXPECT_EQ(delegate->window()->windowTitle(), "sample.wav") << "the title names the source";
    ASSERT_TRUE(waitForEnd());
    const QByteArray reference = analyzerCsv(QStringLiteral(VERAXO_SAMPLE_RECORDING));
    EXPECT_EQ(delegate->sessionStore()->frameCount(), 148253 / 128);
    EXPECT_TRUE(exportedCsv() == reference) << "byte for byte the analyzer's CSV";

    // Pressing record after the end starts over in a new session, with the same frames again.
    QTest::mouseClick(delegate->mainViewController()->recordButtton(), Qt::LeftButton);
    ASSERT_TRUE(waitForEnd());
    EXPECT_TRUE(exportedCsv() == reference) << "a fresh engine for the new session";

    // A dropped file replaces the source and is analysed from its start.
    const QString dropped = work.filePath(QStringLiteral("dropped talk.wav"));
    ASSERT_TRUE(writeExcerpt(dropped, 3 * 8000));
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(dropped)});
    QDragEnterEvent enter(QPoint(50, 50), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(delegate->window(), &enter);
    EXPECT_TRUE(enter.isAccepted()) << "a local file may be dropped";
    QDropEvent drop(QPointF(50, 50), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(delegate->window(), &drop);
    EXPECT_EQ(delegate->window()->windowTitle(), "dropped talk.wav");
    ASSERT_TRUE(waitForEnd());
    EXPECT_EQ(delegate->sessionStore()->frameCount(), 3 * 8000 / 128);
    EXPECT_TRUE(exportedCsv() == analyzerCsv(dropped));

    const QString picture = work.filePath(QStringLiteral("session.png"));
    QString message;
    ASSERT_TRUE(delegate->exportPicture(picture, message)) << message.toStdString();
    EXPECT_FALSE(QImage(picture).isNull()) << "the report picture is written";

    QMimeData text;
    text.setText(QStringLiteral("not a file"));
    QDragEnterEvent refused(QPoint(50, 50), Qt::CopyAction, &text, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(delegate->window(), &refused);
    EXPECT_FALSE(refused.isAccepted());
}

TEST_F(Shell, PausingARecordingResumesWhereItStoppedAndRestartStartsOver) {
    const QString excerpt = work.filePath(QStringLiteral("excerpt.wav"));
    const int length = 3 * 8000;
    ASSERT_TRUE(writeExcerpt(excerpt, length));
    delegate->setRecordingPacing(FileAudioUnit::REAL_TIME);
    delegate->openRecording(excerpt);
    ASSERT_EQ(state(), VoiceUnit::STATE_RUNNING);
    QTest::qWait(1000);

    VeraxoViewController* screen = delegate->mainViewController();
    QTest::mouseClick(screen->recordButtton(), Qt::LeftButton);
    ASSERT_EQ(state(), VoiceUnit::STATE_UNINITIALIZED);
    const long long pausedAt = FileAudioUnit::sourcePosition();
    EXPECT_GT(pausedAt, 4000);
    EXPECT_LT(pausedAt, length - 4000);
    StatusBar* status = screen->statusBar();
    EXPECT_EQ(status->state(), StatusBar::Paused);
    EXPECT_EQ(status->sourceText(), "excerpt.wav");
    EXPECT_EQ(status->samplesHeard(), pausedAt) << "the elapsed time is the recording's position";
    QTest::qWait(300);

    QTest::mouseClick(screen->recordButtton(), Qt::LeftButton);
    ASSERT_EQ(state(), VoiceUnit::STATE_RUNNING);
    const auto* file = dynamic_cast<const FileAudioUnit*>(globals->voiceUnit->audioUnitInstance());
    ASSERT_NE(file, nullptr);
    EXPECT_GE(file->position(), pausedAt) << "the recording goes on from where it stopped";
    EXPECT_LT(file->position(), pausedAt + 4000);
    ASSERT_TRUE(waitForEnd(10000));
    // Neither a gap nor a repeat: the session is the analyzer's CSV of the whole file.
    EXPECT_TRUE(exportedCsv() == analyzerCsv(excerpt));
    EXPECT_EQ(status->samplesHeard(), length) << "the time heard goes on from the pause";

    delegate->restart();
    ASSERT_EQ(state(), VoiceUnit::STATE_RUNNING);
    const auto* again = dynamic_cast<const FileAudioUnit*>(globals->voiceUnit->audioUnitInstance());
    ASSERT_NE(again, nullptr);
    EXPECT_LT(again->position(), 4000) << "Restart goes back to the start";
    EXPECT_LT(delegate->sessionStore()->frameCount(), 40) << "in a new session";
    EXPECT_LT(status->samplesHeard(), 4000) << "and the time heard starts again";
    EXPECT_EQ(status->state(), StatusBar::Listening);
}

TEST_F(Shell, ANamedPipeIsWaitedForUntilAnotherSourceOrAQuitTakesOver) {
    const QString pipe = work.filePath(QStringLiteral("talk.pipe"));
    ASSERT_EQ(mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
    VeraxoViewController* screen = delegate->mainViewController();
    delegate->openRecording(pipe);
    EXPECT_TRUE(screen->isWaitingForInput()) << "no writer yet: waited for, the window stays free";
    EXPECT_EQ(delegate->window()->windowTitle(), "talk.pipe");
    EXPECT_EQ(screen->statusBar()->sourceText(), "talk.pipe");

    // Another recording opened meanwhile gives up the pipe and is analysed whole.
    const QString excerpt = work.filePath(QStringLiteral("excerpt.wav"));
    ASSERT_TRUE(writeExcerpt(excerpt, 8000));
    delegate->openRecording(excerpt);
    EXPECT_FALSE(screen->isWaitingForInput());
    ASSERT_TRUE(waitForEnd());
    EXPECT_EQ(delegate->sessionStore()->frameCount(), 8000 / 128);
    EXPECT_EQ(screen->statusBar()->samplesHeard(), 8000);

    // Restart waits for the pipe afresh; Ctrl+Q ends the wait and leaves nothing running.
    delegate->openRecording(pipe);
    delegate->restart();
    EXPECT_TRUE(screen->isWaitingForInput());
    QTest::keyClick(delegate->window(), Qt::Key_Q, Qt::ControlModifier);
    EXPECT_FALSE(screen->isWaitingForInput());
    EXPECT_EQ(state(), VoiceUnit::STATE_UNINITIALIZED);
}

std::vector<platform::PortAudioUnit::DeviceInfo> twoDevices(int deskIndex) {
    return {{deskIndex, "Desk Mic", "ALSA", 1, 44100.0, false}, {7, "USB Headset", "ALSA", 1, 48000.0, true}};
}

QAction* deviceAction(DeviceMenu* menu, const QString& name) {
    for (QAction* action : menu->actions())
        if (action->text().startsWith(name))
            return action;
    return nullptr;
}

TEST_F(Shell, TheChosenMicrophoneAndTheWindowAreRememberedAndTheDeviceTakesOverCapture) {
    DeviceMenu* menu = delegate->deviceMenu();
    menu->setLister([] { return twoDevices(3); });
    delegate->useMicrophone(false);
    EXPECT_EQ(platform::PortAudioUnit::selectedDevice(), -1) << "nothing chosen yet: the default input";
    ASSERT_NE(deviceAction(menu, "USB Headset"), nullptr);
    EXPECT_TRUE(deviceAction(menu, "USB Headset")->isChecked());
    EXPECT_EQ(delegate->window()->windowTitle(), "USB Headset");
    EXPECT_EQ(delegate->mainViewController()->statusBar()->sourceText(), "USB Headset");

    QTest::keyClick(delegate->window(), Qt::Key_Space);
    ASSERT_EQ(state(), VoiceUnit::STATE_RUNNING);
    deviceAction(menu, "Desk Mic")->trigger();
    EXPECT_EQ(platform::PortAudioUnit::selectedDevice(), 3);
    EXPECT_EQ(state(), VoiceUnit::STATE_RUNNING) << "capture goes on, on the chosen device";
    EXPECT_EQ(script.instancesMade, 2);
    EXPECT_TRUE(deviceAction(menu, "Desk Mic")->isChecked());
    EXPECT_EQ(delegate->window()->windowTitle(), "Desk Mic");
    EXPECT_EQ(delegate->mainViewController()->statusBar()->sourceText(), "Desk Mic");

    // The next run finds the same device by name, though its number changed, and the window where
    // it was left.
    delegate->window()->resize(700, 500);
    QTest::qWait(50);
    globals->voiceUnit->dispose();
    delegate.reset();
    platform::PortAudioUnit::selectDevice(-1);
    launch();
    EXPECT_EQ(delegate->window()->size(), QSize(700, 500));
    delegate->deviceMenu()->setLister([] { return twoDevices(5); });
    delegate->useMicrophone(false);
    EXPECT_EQ(platform::PortAudioUnit::selectedDevice(), 5);
    EXPECT_TRUE(deviceAction(delegate->deviceMenu(), "Desk Mic")->isChecked());

    // --device overrides the choice for one run without forgetting it.
    platform::PortAudioUnit::selectDevice(7);
    delegate->useMicrophone(true);
    EXPECT_EQ(platform::PortAudioUnit::selectedDevice(), 7);
    EXPECT_TRUE(deviceAction(delegate->deviceMenu(), "USB Headset")->isChecked());
    delegate.reset();
    launch();
    delegate->deviceMenu()->setLister([] { return twoDevices(5); });
    delegate->useMicrophone(false);
    EXPECT_EQ(platform::PortAudioUnit::selectedDevice(), 5);

    // With no device the menu says so, and still offers to look again.
    delegate->deviceMenu()->setLister([] { return std::vector<platform::PortAudioUnit::DeviceInfo>(); });
    QAction* none = delegate->deviceMenu()->findChild<QAction*>(QStringLiteral("noDevice"));
    ASSERT_NE(none, nullptr);
    EXPECT_FALSE(none->isEnabled());
    EXPECT_EQ(none->text(), "No microphone found");
    EXPECT_NE(delegate->deviceMenu()->findChild<QAction*>(QStringLiteral("refreshDevices")), nullptr);
}

TEST_F(Shell, MenusShowTheirShortcutsEveryControlTakesTheFocusAndQuitStopsCapture) {
    const auto shortcut = [&](const char* name) {
        QAction* action = delegate->fileMenu()->findChild<QAction*>(QString::fromLatin1(name));
        return action ? action->shortcut().toString() : QString();
    };
    EXPECT_EQ(shortcut("openAction"), "Ctrl+O");
    EXPECT_EQ(shortcut("restartAction"), "Ctrl+R");
    EXPECT_EQ(shortcut("quitAction"), "Ctrl+Q");
    EXPECT_EQ(shortcut("exportCsvAction"), "Ctrl+E");
    EXPECT_EQ(shortcut("exportPictureAction"), "Ctrl+Shift+E");
    // F1 belongs to the window alone (two owners would make it ambiguous and dead); the Help menu's
    // entry names it and opens the same page, with the keyboard in it.
    QAction* helpEntry = delegate->mainWindow()->findChild<QAction*>(QStringLiteral("helpAction"));
    ASSERT_NE(helpEntry, nullptr);
    EXPECT_TRUE(helpEntry->text().endsWith("\tF1"));
    EXPECT_TRUE(helpEntry->shortcut().isEmpty());
    helpEntry->trigger();
    EXPECT_EQ(delegate->navCon()->topViewController(), delegate->mainViewController()->helpViewController());
    EXPECT_EQ(delegate->window()->focusWidget(),
              delegate->mainViewController()->helpViewController()->webView());
    QTest::keyClick(delegate->window(), Qt::Key_Escape);
    EXPECT_EQ(delegate->navCon()->topViewController(), delegate->mainViewController());

    VeraxoViewController* screen = delegate->mainViewController();
    EXPECT_EQ(screen->recordButtton()->accessibleName(), "Record");
    QTest::keyClick(delegate->window(), Qt::Key_Space);
    ASSERT_EQ(state(), VoiceUnit::STATE_RUNNING);
    EXPECT_EQ(screen->recordButtton()->accessibleName(), "Pause") << "the name follows the button";

    // Tab visits the record button and the help control.
    QSet<QWidget*> reached;
    for (int i = 0; i < 6; ++i) {
        QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : delegate->window(),
                        Qt::Key_Tab);
        reached.insert(QApplication::focusWidget());
    }
    EXPECT_TRUE(reached.contains(screen->recordButtton()));
    EXPECT_TRUE(reached.contains(screen->helpButton()));

    QTest::keyClick(delegate->window(), Qt::Key_Q, Qt::ControlModifier);
    EXPECT_EQ(state(), VoiceUnit::STATE_UNINITIALIZED) << "Ctrl+Q stops capture first";
    EXPECT_EQ(script.instancesMade, script.instancesDisposed);
}

} // namespace
