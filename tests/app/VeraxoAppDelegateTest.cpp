// The desktop shell around the main screen: recordings opened by name and by drop, heard through
// stand-in speakers or muted, pausing that keeps the place, the session exported exactly as
// veraxo-analyze writes it, and the microphone chosen in the menu and remembered across runs.

#include "app/VeraxoAppDelegate.h"
#include "VeraxoVersion.h"

#include "app/AboutVeraxo.h"
#include "app/DeviceMenu.h"
#include "app/Globals.h"
#include "app/HelpViewController.h"
#include "app/ImageButton.h"
#include "app/LaunchOptions.h"
#include "app/PlaySoundAction.h"
#include "app/PositionBar.h"
#include "app/RecentFilesMenu.h"
#include "app/RunLoopBridge.h"
#include "app/SessionStore.h"
#include "app/StatusBar.h"
#include "app/UserSettings.h"
#include "app/VeraxoViewController.h"
#include "views/GraphView.h"

#include "platform/FileAudioUnit.h"
#include "platform/PortAudioUnit.h"
#include "platform/TestAudioUnit.h"
#include "platform/TestSoundOutput.h"
#include "sndfile/AudioFileReader.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <QAction>
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QProcess>
#include <QRegularExpression>
#include <QScreen>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>
#include <QToolButton>
#include <QUrl>

#include <algorithm>
#include <cmath>
#include <memory>
#include <mutex>
#include <vector>

#include <sys/stat.h>

namespace {

using platform::FileAudioUnit;
using platform::TestAudioUnit;
using platform::TestSoundOutput;

class Shell : public ::testing::Test {
protected:
    void SetUp() override {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDir.path());
        platform::selectAudioComponent(&script.component);
        platform::PortAudioUnit::selectDevice(-1);
        speakers.autoPull = true;
        TestSoundOutput::use(&speakers);
        Globals::setUp();
        launch();
    }

    void TearDown() override {
        if (globals)
            globals->voiceUnit->dispose();
        delegate.reset();
        // The core outlives the shell: a shell gone leaves no callback into what it destroyed.
        if (globals) {
            EXPECT_EQ(globals->voiceUnit->callbacks.size(), 0);
        }
        Globals::tearDown();
        platform::selectAudioComponent(nullptr);
        platform::PortAudioUnit::selectDevice(-1);
        FileAudioUnit::setSoundOutput(nullptr);
        TestSoundOutput::use(nullptr);
    }

    void launch() {
        delegate = std::make_unique<VeraxoAppDelegate>();
        delegate->setMicrophoneComponent(&script.component);
        delegate->setSoundOutput(&TestSoundOutput::make);
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
    TestSoundOutput::Script speakers;
    std::unique_ptr<VeraxoAppDelegate> delegate;
};

// `samples` samples of the sample recording from sample `from` on, as a 16-bit 8 kHz WAV file at path.
bool writeExcerpt(const QString& path, int samples, int from = 0) {
    AudioFileReader reader;
    if (!reader.open(VERAXO_SAMPLE_RECORDING))
        return false;
    std::vector<short> data(static_cast<std::size_t>(std::max(samples, from)));
    if (from > 0 && reader.read(data.data(), from) != from)
        return false;
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

TEST_F(Shell, ARecordingIsHeardUnlessMutedAndGivesTheAnalyzersNumbersHeardMutedOrFallenSilent) {
    const QString excerpt = work.filePath(QStringLiteral("excerpt.wav"));
    ASSERT_TRUE(writeExcerpt(excerpt, 2 * 8000));
    const QByteArray reference = analyzerCsv(excerpt);
    delegate->setRecordingPacing(FileAudioUnit::REAL_TIME);
    const auto file = [] {
        return dynamic_cast<const FileAudioUnit*>(globals->voiceUnit->audioUnitInstance());
    };
    PlaySoundAction* playSound = delegate->playSoundAction();
    ASSERT_TRUE(playSound->isChecked()) << "heard unless the user said otherwise";
    EXPECT_EQ(playSound->shortcut().toString(), "M");

    // Heard, then muted with M half-way: the recording goes on from there, in silence.
    delegate->openRecording(excerpt);
    ASSERT_NE(file(), nullptr);
    EXPECT_TRUE(file()->playing());
    EXPECT_EQ(speakers.rate, 8000);
    QTest::qWait(700);
    QTest::keyClick(delegate->window(), Qt::Key_M);
    EXPECT_FALSE(playSound->isChecked());
    ASSERT_EQ(state(), VoiceUnit::STATE_RUNNING);
    EXPECT_FALSE(file()->playing());
    EXPECT_GT(file()->position(), 2000) << "at the same place";
    ASSERT_TRUE(waitForEnd());
    EXPECT_TRUE(exportedCsv() == reference);
    {
        std::lock_guard<std::mutex> lock(speakers.heardMutex);
        EXPECT_GT(std::count_if(speakers.heard.begin(), speakers.heard.end(), [](float v) { return v != 0; }),
                  2000);
    }
    EXPECT_TRUE(delegate->mainViewController()->statusBar()->currentMessage().isEmpty());

    // No output at all, and one that fails mid-way: paced in silence, said once, the same numbers.
    QTest::keyClick(delegate->window(), Qt::Key_M);
    ASSERT_TRUE(playSound->isChecked());
    StatusBar* status = delegate->mainViewController()->statusBar();
    for (const bool missing : {true, false}) {
        SCOPED_TRACE(missing ? "no output" : "the output fails");
        speakers.failOpen = missing;
        delegate->openRecording(excerpt);
        ASSERT_EQ(state(), VoiceUnit::STATE_RUNNING);
        if (!missing) {
            QTest::qWait(500);
            EXPECT_TRUE(file()->playing());
            speakers.current.load()->fail();
        }
        ASSERT_TRUE(QTest::qWaitFor([&] { return !status->currentMessage().isEmpty(); }, 3000));
        EXPECT_EQ(status->currentMessage(), "No sound output: analysing in silence.");
        status->clearMessage();
        ASSERT_TRUE(waitForEnd());
        EXPECT_TRUE(status->currentMessage().isEmpty()) << "once";
        EXPECT_TRUE(exportedCsv() == reference);
    }

    // Remembered by the next run; --mute silences one run without forgetting the choice. (A new window
    // hangs its views on the engine beside the old ones': nothing is analysed from here on.)
    QTest::keyClick(delegate->window(), Qt::Key_M);
    delegate.reset();
    launch();
    EXPECT_FALSE(delegate->playSoundAction()->isChecked());
    delegate->playSoundAction()->trigger();
    delegate.reset();
    launch();
    ASSERT_TRUE(delegate->playSoundAction()->isChecked());
    delegate->playSoundAction()->muteForThisRun();
    delegate.reset();
    launch();
    EXPECT_TRUE(delegate->playSoundAction()->isChecked());
}

TEST_F(Shell, ARecordingIsSoughtWithItsBarOrKeysEachSeekAFreshStartThereAndTheExportKeepsTheTimes) {
    const QString excerpt = work.filePath(QStringLiteral("excerpt.wav"));
    const int length = 8 * 8000;
    ASSERT_TRUE(writeExcerpt(excerpt, length));
    delegate->setRecordingPacing(FileAudioUnit::REAL_TIME);
    VeraxoViewController* screen = delegate->mainViewController();
    PositionBar* bar = screen->positionBar();
    StatusBar* status = screen->statusBar();
    const auto file = [] {
        return dynamic_cast<const FileAudioUnit*>(globals->voiceUnit->audioUnitInstance());
    };
    EXPECT_FALSE(bar->isVisible()) << "the microphone has no position";

    // The new keys are the View menu's, and no shortcut has two owners.
    QStringList keys = {"Space", "F1", "Esc"};
    QSet<QAction*> actions;
    for (QAction* action :
         delegate->mainWindow()->findChildren<QAction*>() + delegate->findChildren<QAction*>())
        actions.insert(action);
    for (QAction* action : actions)
        if (!action->shortcut().isEmpty())
            keys << action->shortcut().toString();
    for (const char* key : {"Left", "Right", "Home", "M"})
        EXPECT_EQ(keys.count(QString::fromLatin1(key)), 1) << key;
    EXPECT_EQ(QSet<QString>(keys.begin(), keys.end()).size(), keys.size()) << keys.join(' ').toStdString();

    delegate->openRecording(excerpt);
    ASSERT_EQ(state(), VoiceUnit::STATE_RUNNING);
    ASSERT_TRUE(bar->isVisible());
    EXPECT_EQ(bar->positionText(), "0:00 / 0:08");
    QTest::qWait(600);

    // Right while playing: 5 s on, on a frame's start, heard from there in a new stream.
    const int streams = speakers.opened.load();
    QTest::keyClick(delegate->window(), Qt::Key_Right);
    ASSERT_EQ(state(), VoiceUnit::STATE_RUNNING);
    const long long right = status->samplesHeard();
    EXPECT_EQ(right % 128, 0);
    EXPECT_GE(right, 40000);
    EXPECT_LT(right, 40000 + 8000);
    EXPECT_GE(file()->position(), right);
    EXPECT_EQ(speakers.opened.load(), streams + 1);
    EXPECT_EQ(bar->positionText(), QStringLiteral("0:0%1 / 0:08").arg(right / 8000));
    QTest::qWait(400);
    // Home goes back to the start.
    QTest::keyClick(delegate->window(), Qt::Key_Home);
    ASSERT_EQ(state(), VoiceUnit::STATE_RUNNING);
    EXPECT_EQ(status->samplesHeard(), 0);
    EXPECT_LT(file()->position(), 4000);
    QTest::qWait(800);
    EXPECT_EQ(bar->positionText(), "0:00 / 0:08");

    // Paused, a click and a drag move the place without a sound; the views start empty there.
    QTest::keyClick(delegate->window(), Qt::Key_Space);
    ASSERT_EQ(state(), VoiceUnit::STATE_UNINITIALIZED);
    const QImage traced = screen->lieGraph()->grab().toImage();
    GraphView blank;
    blank.resize(screen->lieGraph()->size());
    ASSERT_NE(traced, blank.grab().toImage()) << "the graph shows the first seconds";
    QTest::mouseClick(bar, Qt::LeftButton, {}, QPoint(bar->width() / 4, bar->height() / 2));
    EXPECT_EQ(state(), VoiceUnit::STATE_UNINITIALIZED) << "a seek keeps the pause";
    EXPECT_EQ(status->state(), StatusBar::Paused);
    EXPECT_NEAR(double(status->samplesHeard()), length / 4.0, length / 100.0);
    EXPECT_EQ(screen->lieGraph()->grab().toImage(), blank.grab().toImage())
        << "the history is the old place's";
    QTest::keyClick(delegate->window(), Qt::Key_Left);
    EXPECT_EQ(status->samplesHeard(), 0) << "never before the start";
    EXPECT_EQ(bar->positionText(), "0:00 / 0:08");
    const int from = 6 * 8000;
    const int x = int(std::ceil(double(from) / length * (bar->width() - 2))) + 1;
    QTest::mousePress(bar, Qt::LeftButton, {}, QPoint(bar->width() / 4, bar->height() / 2));
    QTest::mouseMove(bar, QPoint(x, bar->height() / 2));
    EXPECT_EQ(bar->positionText(), "0:06 / 0:08") << "the place dragged to";
    EXPECT_EQ(status->samplesHeard(), 0) << "no seek before letting go";
    QTest::mouseRelease(bar, Qt::LeftButton, {}, QPoint(x, bar->height() / 2));
    const long long dropped = status->samplesHeard();
    EXPECT_EQ(dropped % 128, 0);
    EXPECT_GE(dropped, from);
    EXPECT_LT(dropped, from + 128 + length / (bar->width() - 2));
    // Help over the screen takes the arrows and Home for scrolling.
    QTest::keyClick(delegate->window(), Qt::Key_F1);
    QTest::keyClick(delegate->window(), Qt::Key_Home);
    QTest::keyClick(delegate->window(), Qt::Key_Left);
    EXPECT_EQ(status->samplesHeard(), dropped);
    QTest::keyClick(delegate->window(), Qt::Key_Escape);
    {
        std::lock_guard<std::mutex> lock(speakers.heardMutex);
        speakers.heard.clear();
    }
    QTest::keyClick(delegate->window(), Qt::Key_Space);
    ASSERT_EQ(state(), VoiceUnit::STATE_RUNNING);
    EXPECT_GE(file()->position(), dropped) << "Listen resumes at the new place";
    ASSERT_TRUE(waitForEnd(10000));
    EXPECT_EQ(bar->positionText(), "0:08 / 0:08");

    // Heard after the seek: the recording from there to its end, nothing of the place before.
    const QString tail = work.filePath(QStringLiteral("tail.wav"));
    ASSERT_TRUE(writeExcerpt(tail, length - int(dropped), int(dropped)));
    {
        AudioFileReader reader;
        ASSERT_TRUE(reader.open(tail.toStdString()));
        std::vector<short> expected(static_cast<std::size_t>(length - dropped));
        ASSERT_EQ(reader.read(expected.data(), int(expected.size())), int(expected.size()));
        std::lock_guard<std::mutex> lock(speakers.heardMutex);
        const auto sound =
            std::find_if(speakers.heard.begin(), speakers.heard.end(), [](float v) { return v != 0; });
        const auto first = std::find_if(expected.begin(), expected.end(), [](short v) { return v != 0; });
        ASSERT_GE(speakers.heard.end() - sound, expected.end() - first);
        EXPECT_TRUE(std::equal(first, expected.end(), sound,
                               [](short a, float b) { return float(a) / 32768.0f == b; }));
        EXPECT_TRUE(std::all_of(sound + (expected.end() - first), speakers.heard.end(),
                                [](float v) { return v == 0; }));
    }

    // The export keeps every frame analysed, numbered on, each at its time in the recording: four
    // stretches, the last one the analyzer's frames of the tail alone (a fresh engine there).
    const QList<QByteArray> rows = exportedCsv().split('\n');
    const QList<QByteArray> alone = analyzerCsv(tail).split('\n');
    ASSERT_GT(rows.size(), 100);
    EXPECT_EQ(rows.first(), alone.first()) << "the same header";
    QList<int> jumps;
    double last = 0.0;
    for (int i = 1; i < rows.size() && !rows[i].isEmpty(); ++i) {
        const QList<QByteArray> cells = rows[i].split(',');
        ASSERT_EQ(cells[0].toLongLong(), i - 1) << "every frame, counted on";
        const double time = cells[1].toDouble();
        if (std::abs(time - (last + 0.016)) > 1e-6)
            jumps << i;
        last = time;
    }
    ASSERT_EQ(jumps.size(), 3) << "Right, Home and the drag (the paused seeks analysed nothing)";
    EXPECT_EQ(rows[1].split(',')[1], "0.016");
    EXPECT_EQ(rows[jumps[0]].split(',')[1], QByteArray::number(double(right + 128) / 8000, 'f', 3));
    EXPECT_EQ(rows[jumps[1]].split(',')[1], "0.016") << "Home";
    EXPECT_EQ(rows[jumps[2]].split(',')[1], QByteArray::number(double(dropped + 128) / 8000, 'f', 3));
    ASSERT_EQ(rows.size() - jumps[2], alone.size() - 1);
    for (int i = jumps[2]; i < rows.size() && !rows[i].isEmpty(); ++i)
        EXPECT_EQ(rows[i].mid(rows[i].indexOf(',', rows[i].indexOf(',') + 1)),
                  alone[i - jumps[2] + 1].mid(
                      alone[i - jumps[2] + 1].indexOf(',', alone[i - jumps[2] + 1].indexOf(',') + 1)))
            << "row " << i;

    delegate->useMicrophone(false);
    EXPECT_FALSE(bar->isVisible());
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

TEST_F(Shell, AFailedOpenKeepsTheRecordingThatWasOpenAndNamesTheFileAndTheCause) {
    VeraxoViewController* screen = delegate->mainViewController();
    const QString excerpt = work.filePath(QStringLiteral("excerpt.wav"));
    ASSERT_TRUE(writeExcerpt(excerpt, 2 * 8000));
    delegate->setRecordingPacing(FileAudioUnit::REAL_TIME);
    ASSERT_TRUE(delegate->openRecording(excerpt));
    ASSERT_EQ(state(), VoiceUnit::STATE_RUNNING);
    QTest::qWait(500);

    QFile notes(work.filePath(QStringLiteral("notes.wav")));
    ASSERT_TRUE(notes.open(QIODevice::WriteOnly));
    notes.write("These are notes, not sound.\n");
    notes.close();
    const int instances = script.instancesMade;
    const struct {
        QString path;
        const char* message;
    } broken[] = {{notes.fileName(), "Cannot open notes.wav: not an audio file."},
                  {work.filePath(QStringLiteral("gone.wav")), "Cannot open gone.wav: no such file."},
                  {work.path(), nullptr}};
    for (const auto& bad : broken) {
        EXPECT_FALSE(delegate->openRecording(bad.path));
        if (bad.message) {
            EXPECT_EQ(screen->statusMessage(), bad.message);
        }
        EXPECT_TRUE(screen->statusIsError());
        EXPECT_EQ(state(), VoiceUnit::STATE_RUNNING) << "the open recording goes on";
        EXPECT_EQ(delegate->recordingPath(), excerpt);
        EXPECT_EQ(delegate->window()->windowTitle(), "excerpt.wav");
        EXPECT_EQ(screen->statusBar()->sourceText(), "excerpt.wav");
        EXPECT_EQ(screen->statusBar()->state(), StatusBar::Listening);
    }
    EXPECT_EQ(script.instancesMade, instances) << "the microphone was not touched either";
    EXPECT_TRUE(delegate->recentMenu()->files() == QStringList{QFileInfo(excerpt).absoluteFilePath()})
        << "a broken file is not remembered";

    // What Listen plays is still the recording: to its end, the analyzer's frames, in one session.
    ASSERT_TRUE(waitForEnd(10000));
    EXPECT_GT(screen->lieGraph()->bufferCount(), 2 * 8000 / 128 - 2);
    EXPECT_TRUE(exportedCsv() == analyzerCsv(excerpt));
}

TEST_F(Shell, AboutNamesTheVersionThePromiseTheLicenceAndTheLibrariesAsVersionDoes) {
    QMenu* helpMenu = delegate->mainWindow()->findChild<QMenu*>(QStringLiteral("helpMenu"));
    ASSERT_NE(helpMenu, nullptr);
    QAction* about = helpMenu->actions().last();
    EXPECT_EQ(about->objectName(), "aboutAction") << "the last entry of the Help menu";
    EXPECT_EQ(about->text(), "&About Veraxo");
    about->trigger();
    auto* box = delegate->window()->findChild<QMessageBox*>(QStringLiteral("aboutBox"));
    ASSERT_NE(box, nullptr);
    EXPECT_TRUE(QTest::qWaitForWindowExposed(box));
    const QString text = box->text();
    EXPECT_TRUE(text.contains(QStringLiteral("Veraxo " VERAXO_VERSION)));
    EXPECT_TRUE(text.contains("entertainment") && text.contains("proves nothing"));
    EXPECT_TRUE(text.contains("licence"));
    EXPECT_TRUE(text.contains(QStringLiteral("Qt %1").arg(qVersion())));
    EXPECT_TRUE(QRegularExpression("PortAudio \\d+\\.\\d+\\.\\d+").match(text).hasMatch())
        << text.toStdString();
    EXPECT_TRUE(QRegularExpression("libsndfile \\d+\\.\\d+").match(text).hasMatch()) << text.toStdString();
    box->close();

    QCoreApplication::setApplicationVersion(QStringLiteral(VERAXO_VERSION));
    LaunchOptions options;
    EXPECT_FALSE(options.parse({QStringLiteral("veraxo"), QStringLiteral("--version")}));
    EXPECT_EQ(options.exitStatus(), 0);
    EXPECT_EQ(options.message(), QStringLiteral("%1 " VERAXO_VERSION "\n%2\n")
                                     .arg(QCoreApplication::applicationName(), AboutVeraxo::libraryLine()));
}

TEST_F(Shell, OpenRecentListsTheLastTenNewestFirstGreysTheMissingAndIsKeptUntilCleared) {
    RecentFilesMenu* recent = delegate->recentMenu();
    EXPECT_TRUE(delegate->fileMenu()->actions().contains(recent->menuAction())) << "in the File menu";
    const auto entries = [&] {
        emit recent->aboutToShow();
        QList<QAction*> files;
        for (QAction* action : recent->actions())
            if (action->objectName() == QLatin1String("recentFile"))
                files << action;
        return files;
    };
    const auto clearEntry = [&] { return recent->findChild<QAction*>(QStringLiteral("clearRecent")); };
    EXPECT_TRUE(entries().isEmpty());
    ASSERT_NE(clearEntry(), nullptr);
    EXPECT_FALSE(clearEntry()->isEnabled());

    QStringList paths;
    for (int i = 0; i < 12; ++i) {
        paths << work.filePath(QStringLiteral("take %1 & more.wav").arg(i));
        ASSERT_TRUE(writeExcerpt(paths.last(), 400));
        ASSERT_TRUE(delegate->openRecording(paths.last()));
    }
    ASSERT_TRUE(delegate->openRecording(paths[5])) << "opened again: back to the top";
    QList<QAction*> listed = entries();
    ASSERT_EQ(listed.size(), RecentFilesMenu::MAX_FILES);
    const QStringList expected = {paths[5], paths[11], paths[10], paths[9], paths[8],
                                  paths[7], paths[6],  paths[4],  paths[3], paths[2]};
    for (int i = 0; i < listed.size(); ++i)
        EXPECT_EQ(listed[i]->data().toString(), expected[i]) << i;
    EXPECT_EQ(listed[0]->text(), "&1 take 5 && more.wav") << "numbered, the ampersand shown";
    EXPECT_EQ(listed[0]->toolTip(), paths[5]);

    // A file that went away is greyed; choosing an entry opens it.
    ASSERT_TRUE(QFile::remove(paths[9]));
    listed = entries();
    EXPECT_FALSE(listed[3]->isEnabled());
    EXPECT_TRUE(listed[4]->isEnabled());
    listed[4]->trigger();
    EXPECT_TRUE(QTest::qWaitFor([&] { return delegate->recordingPath() == paths[8]; }, 2000));
    EXPECT_EQ(entries()[0]->data().toString(), paths[8]);

    // Kept in the settings for the next run, until Clear Menu.
    globals->voiceUnit->dispose();
    delegate.reset();
    launch();
    recent = delegate->recentMenu();
    EXPECT_EQ(entries().size(), RecentFilesMenu::MAX_FILES);
    EXPECT_EQ(entries()[0]->data().toString(), paths[8]);
    clearEntry()->trigger();
    QTest::qWait(20);
    EXPECT_TRUE(entries().isEmpty());
    EXPECT_FALSE(clearEntry()->isEnabled());
    EXPECT_TRUE(recent->files().isEmpty());
}

TEST_F(Shell, ExportsWaitForAFrameOfTheSourceAndTheirDialogsStartWhereTheLastOneWent) {
    QAction* csv = delegate->fileMenu()->findChild<QAction*>(QStringLiteral("exportCsvAction"));
    QAction* picture = delegate->fileMenu()->findChild<QAction*>(QStringLiteral("exportPictureAction"));
    ASSERT_TRUE(csv && picture);
    EXPECT_FALSE(csv->isEnabled()) << "nothing analysed yet";
    EXPECT_FALSE(picture->isEnabled());
    QString message;
    const QString early = work.filePath(QStringLiteral("early.csv"));
    EXPECT_FALSE(delegate->exportCsv(early, message));
    EXPECT_FALSE(message.isEmpty());
    EXPECT_FALSE(QFile::exists(early)) << "no header-only file";

    const QString excerpt = work.filePath(QStringLiteral("excerpt.wav"));
    ASSERT_TRUE(writeExcerpt(excerpt, 8000));
    EXPECT_EQ(delegate->exportStart(QStringLiteral(".csv")),
              QDir(QDir::homePath()).filePath(QStringLiteral("veraxo-session.csv")))
        << "the microphone's session starts in the home folder";
    ASSERT_TRUE(delegate->openRecording(excerpt));
    ASSERT_TRUE(waitForEnd());
    EXPECT_TRUE(QTest::qWaitFor([&] { return csv->isEnabled() && picture->isEnabled(); }, 2000));
    EXPECT_EQ(delegate->exportStart(QStringLiteral(".csv")), work.filePath(QStringLiteral("excerpt.csv")));

    // An export elsewhere moves where the next dialog starts, for either kind and across runs.
    ASSERT_TRUE(QDir(work.path()).mkpath(QStringLiteral("reports")));
    const QString reports = work.filePath(QStringLiteral("reports"));
    ASSERT_TRUE(delegate->exportPicture(reports + QStringLiteral("/one.png"), message))
        << message.toStdString();
    EXPECT_EQ(delegate->exportStart(QStringLiteral(".csv")), reports + QStringLiteral("/excerpt.csv"));

    // A new source has nothing to export until its first frame.
    delegate->deviceMenu()->setLister([] {
        return std::vector<platform::PortAudioUnit::DeviceInfo>{{3, "Desk Mic", "ALSA", 1, 44100.0, true}};
    });
    delegate->chooseDevice(3);
    EXPECT_FALSE(csv->isEnabled());
    EXPECT_FALSE(picture->isEnabled());
    EXPECT_EQ(delegate->exportStart(QStringLiteral(".png")), reports + QStringLiteral("/veraxo-session.png"));
    globals->voiceUnit->dispose();
    delegate.reset();
    launch();
    EXPECT_EQ(delegate->exportStart(QStringLiteral(".png")), reports + QStringLiteral("/veraxo-session.png"));
}

TEST_F(Shell, TheWindowNeverOpensBeyondTheScreenAOneRunSizeIsNotKeptAndNoHomeKeepsSettingsInMemory) {
    QScreen* screen = QGuiApplication::primaryScreen();
    ASSERT_NE(screen, nullptr);
    const QRect available = screen->availableGeometry();
    // A place saved by hand (or on a far larger screen): the window fits the screen instead.
    {
        QWidget huge;
        huge.setGeometry(30000, 30000, 40000, 40000);
        QSettings settings(QSettings::NativeFormat, QSettings::UserScope, "veraxo", "veraxo");
        settings.setValue("window/geometry", huge.saveGeometry());
    }
    globals->voiceUnit->dispose();
    delegate.reset();
    launch();
    EXPECT_TRUE(available.contains(delegate->window()->geometry()))
        << delegate->window()->width() << "x" << delegate->window()->height();

    // --window-size is this run's alone: the next run opens where the window was left before it.
    delegate->window()->resize(500, 600);
    QTest::qWait(50);
    globals->voiceUnit->dispose();
    delegate.reset();
    launch();
    ASSERT_EQ(delegate->window()->size(), QSize(500, 600));
    delegate->setWindowSize(QSize(900, 300));
    QTest::qWait(50);
    globals->voiceUnit->dispose();
    delegate.reset();
    launch();
    EXPECT_EQ(delegate->window()->size(), QSize(500, 600));

    // Without a home the settings live for the run alone: nothing is written, not even here.
    const QByteArray home = qgetenv("HOME");
    const QByteArray config = qgetenv("XDG_CONFIG_HOME");
    qunsetenv("HOME");
    qunsetenv("XDG_CONFIG_HOME");
    QDir(settingsDir.path()).removeRecursively();
    ASSERT_TRUE(QDir().mkpath(settingsDir.path()));
    EXPECT_FALSE(UserSettings::isPersistent());
    const QString recording = work.filePath(QStringLiteral("excerpt.wav"));
    ASSERT_TRUE(writeExcerpt(recording, 800));
    ASSERT_TRUE(delegate->openRecording(recording));
    EXPECT_EQ(delegate->recentMenu()->files().value(0), recording) << "remembered for the run";
    globals->voiceUnit->dispose();
    delegate.reset();
    EXPECT_TRUE(QDir(settingsDir.path()).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden));
    qputenv("HOME", home);
    if (!config.isNull())
        qputenv("XDG_CONFIG_HOME", config);
    EXPECT_TRUE(UserSettings::isPersistent());
    launch();
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

    // Names as people know them; a remembered microphone that is gone is named in the notice.
    delegate->deviceMenu()->setLister([] {
        return std::vector<platform::PortAudioUnit::DeviceInfo>{
            {0, "HDA Intel PCH: ALC892 Analog (hw:1,0)", "ALSA", 2, 44100.0, false},
            {1, "pulse", "ALSA", 32, 44100.0, false},
            {2, "default", "ALSA", 32, 44100.0, true}};
    });
    QStringList labels;
    for (QAction* action : delegate->deviceMenu()->actions())
        if (action->isCheckable())
            labels << action->text();
    EXPECT_EQ(labels, (QStringList{"HDA Intel PCH: ALC892 Analog", "PulseAudio", "Default"}));
    delegate->useMicrophone(false);
    EXPECT_EQ(platform::PortAudioUnit::selectedDevice(), -1);
    EXPECT_EQ(delegate->mainViewController()->statusMessage(),
              "The microphone 'Desk Mic' is not connected: the default input is used.");
    EXPECT_FALSE(delegate->mainViewController()->statusIsError());
    EXPECT_EQ(delegate->window()->windowTitle(), "Default");
    deviceAction(delegate->deviceMenu(), "HDA Intel")->trigger();
    EXPECT_EQ(delegate->window()->windowTitle(), "HDA Intel PCH: ALC892 Analog");
    // The card in another socket next time is still the one chosen.
    delegate->deviceMenu()->setLister([] {
        return std::vector<platform::PortAudioUnit::DeviceInfo>{
            {4, "HDA Intel PCH: ALC892 Analog (hw:2,0)", "ALSA", 2, 44100.0, false},
            {2, "default", "ALSA", 32, 44100.0, true}};
    });
    delegate->useMicrophone(false);
    EXPECT_EQ(platform::PortAudioUnit::selectedDevice(), 4);

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
