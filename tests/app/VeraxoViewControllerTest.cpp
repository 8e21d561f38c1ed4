// The main screen driven through its controls and keys, with the scriptable audio unit standing in for
// the microphone: the record button's toggle and images, failures and their recovery, the wiring of
// the voice unit, help and back, and an orderly tear-down while sound is flowing.

#include "app/VeraxoViewController.h"
#include "Shared/SpectrumView.h"

#include "app/Globals.h"
#include "app/GraphScales.h"
#include "app/HelpViewController.h"
#include "app/ImageButton.h"
#include "app/IndicatorReadout.h"
#include "app/MainScreenLayout.h"
#include "app/NavigationController.h"
#include "app/ReliefScales.h"
#include "app/RunLoopBridge.h"
#include "app/StatusBar.h"
#include "app/VeraxoAppDelegate.h"
#include "sndfile/AudioFileReader.h"
#include "views/GraphView.h"
#include "views/LieIndicator.h"

#include "platform/AudioUnit.h"
#include "platform/FileAudioUnit.h"
#include "platform/TestAudioUnit.h"
#include "tests/support/assertion_capture.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QLabel>
#include <QScrollBar>
#include <QSettings>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>
#include <QToolButton>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <memory>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using platform::TestAudioUnit;

// A bundle of small, distinct pictures, so each image the button shows can be told apart.
class PictureBundle {
public:
    PictureBundle() {
        const QList<QPair<QString, QColor>> pictures = {{"button_start.png", Qt::green},
                                                        {"button_start_over.png", Qt::darkGreen},
                                                        {"button_pause.png", Qt::red},
                                                        {"button_pause_over.png", Qt::darkRed},
                                                        {"Icon.png", Qt::blue}};
        for (const auto& picture : pictures) {
            QImage image(8, 8, QImage::Format_RGB32);
            image.fill(picture.second);
            image.save(_dir.filePath(picture.first));
        }
        _bundle = std::make_unique<Bundle>(_dir.path());
    }
    const Bundle* bundle() const { return _bundle.get(); }
    QImage image(const QString& name) const { return _bundle->imageNamed(name); }

private:
    QTemporaryDir _dir;
    std::unique_ptr<Bundle> _bundle;
};

class MainScreen : public ::testing::Test {
protected:
    void SetUp() override {
        // The first-run window, whatever a run of the program left in the user's settings.
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDir.path());
        platform::selectAudioComponent(&script.component);
        Globals::setUp();
        delegate = std::make_unique<VeraxoAppDelegate>(pictures.bundle());
        delegate->applicationDidFinishLaunching();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(delegate->window()));
        // The keys are application shortcuts: they work once the window has the keyboard.
        ASSERT_TRUE(QTest::qWaitForWindowActive(delegate->window()));
        screen = delegate->mainViewController();
    }

    void TearDown() override {
        if (globals)
            globals->voiceUnit->dispose();
        delegate.reset();
        Globals::tearDown();
        platform::selectAudioComponent(nullptr);
    }

    int state() const { return globals->voiceUnit->state; }
    void press() { QTest::mouseClick(screen->recordButtton(), Qt::LeftButton); }
    bool showsStartImages() const {
        return screen->recordButtton()->image(ImageButton::ControlStateNormal) ==
                   pictures.image("button_start.png") &&
               screen->recordButtton()->image(ImageButton::ControlStateHighlighted) ==
                   pictures.image("button_start_over.png");
    }
    bool showsPauseImages() const {
        return screen->recordButtton()->image(ImageButton::ControlStateNormal) ==
                   pictures.image("button_pause.png") &&
               screen->recordButtton()->image(ImageButton::ControlStateHighlighted) ==
                   pictures.image("button_pause_over.png");
    }

    QTemporaryDir settingsDir;
    RunLoopBridge bridge;
    TestAudioUnit::Script script;
    PictureBundle pictures;
    std::unique_ptr<VeraxoAppDelegate> delegate;
    VeraxoViewController* screen = nullptr;
};

TEST_F(MainScreen, LoadingTheScreenSetsTheVoiceUnitToCaptureOnTheAudioThread) {
    VoiceUnit& voiceUnit = *globals->voiceUnit;
    EXPECT_EQ(voiceUnit.ioFlags, VoiceUnit::IO_RECORD);
    EXPECT_EQ(voiceUnit.getProperty(VoiceUnit::Properties::THREAD_PRECEDENCE).intValue, 63);
    EXPECT_EQ(voiceUnit.getProperty(VoiceUnit::Properties::THREAD_SEPARATION).intValue, 0);
    EXPECT_EQ(voiceUnit.getProperty(VoiceUnit::Properties::SAMPLING_RATE).intValue, 8000);
    EXPECT_EQ(voiceUnit.callbacks.size(), 2) << "the engine, then the level meter";
    EXPECT_EQ(state(), VoiceUnit::STATE_UNINITIALIZED) << "nothing is captured before the first press";
    EXPECT_TRUE(showsStartImages());
    EXPECT_TRUE(screen->shouldAutorotateToInterfaceOrientation(InterfaceOrientationPortrait));
    EXPECT_FALSE(screen->shouldAutorotateToInterfaceOrientation(InterfaceOrientationLandscapeLeft));
    EXPECT_FALSE(screen->shouldAutorotateToInterfaceOrientation(InterfaceOrientationLandscapeRight));
}

TEST_F(MainScreen, PressingRecordTwiceCapturesThenReturnsToTheStart) {
    press();
    EXPECT_EQ(state(), VoiceUnit::STATE_RUNNING);
    EXPECT_TRUE(showsPauseImages());
    EXPECT_FALSE(
        script.wasSet(platform::kAudioUnitProperty_SetRenderCallback, platform::kAudioUnitScope_Output, 0))
        << "capture only: nothing is played";

    press();
    EXPECT_EQ(state(), VoiceUnit::STATE_UNINITIALIZED);
    EXPECT_TRUE(showsStartImages());
    EXPECT_EQ(script.instancesMade, script.instancesDisposed);

    QTest::keyClick(delegate->window(), Qt::Key_Space);
    EXPECT_EQ(state(), VoiceUnit::STATE_RUNNING) << "Space is the record button";
    QTest::keyClick(delegate->window(), Qt::Key_Space);
    EXPECT_EQ(state(), VoiceUnit::STATE_UNINITIALIZED);
}

TEST_F(MainScreen, AFailedStartIsReportedAndTheButtonIsBackInItsStartState) {
    script.fail[TestAudioUnit::STEP_START] = true;
    press();
    EXPECT_EQ(state(), VoiceUnit::STATE_UNINITIALIZED);
    EXPECT_TRUE(showsStartImages());
    EXPECT_EQ(screen->statusMessage(), "Cannot start the microphone.")
        << "the test unit gives no reason, so no cause is invented";
    EXPECT_TRUE(screen->statusIsError());

    script.fail[TestAudioUnit::STEP_START] = false;
    press();
    EXPECT_EQ(state(), VoiceUnit::STATE_RUNNING) << "the next press tries again";
    EXPECT_TRUE(showsPauseImages());
    EXPECT_TRUE(screen->statusMessage().isEmpty());
}

TEST_F(MainScreen, APressOnAFailedUnitStopsAndDisposesOfItAndTheNextPressTriesAgain) {
    script.fail[TestAudioUnit::STEP_INITIALIZE] = true;
    globals->voiceUnit->initialize();
    ASSERT_EQ(state(), VoiceUnit::STATE_FAILED);
    script.fail[TestAudioUnit::STEP_INITIALIZE] = false;

    press();
    EXPECT_EQ(state(), VoiceUnit::STATE_UNINITIALIZED);
    EXPECT_TRUE(showsStartImages());
    press();
    EXPECT_EQ(state(), VoiceUnit::STATE_RUNNING);
}

TEST_F(MainScreen, AMicrophoneThatFailsWhileCapturingIsReportedAndCleared) {
    press();
    ASSERT_EQ(state(), VoiceUnit::STATE_RUNNING);
    script.current->failDevice();
    EXPECT_TRUE(QTest::qWaitFor([&] { return screen->statusMessage().contains("stopped working"); }, 3000));
    EXPECT_EQ(state(), VoiceUnit::STATE_UNINITIALIZED);
    EXPECT_TRUE(showsStartImages());
}

TEST_F(MainScreen, TheEndOfAnAnalysedRecordingStopsCaptureAndSaysSoWithoutCoveringAView) {
    platform::FileAudioUnit::setSource(VERAXO_SAMPLE_RECORDING, platform::FileAudioUnit::AS_FAST_AS_POSSIBLE);
    platform::selectAudioComponent(platform::FileAudioUnit::component());
    screen->setInputFile(QStringLiteral("sample.wav"));
    press();
    ASSERT_EQ(state(), VoiceUnit::STATE_RUNNING);
    EXPECT_TRUE(QTest::qWaitFor([&] { return screen->statusMessage().contains("has ended"); }, 10000));
    EXPECT_EQ(state(), VoiceUnit::STATE_UNINITIALIZED);
    EXPECT_TRUE(showsStartImages());
    EXPECT_GT(screen->lieGraph()->bufferCount(), 1000) << "the whole recording went through the engine";
    EXPECT_FALSE(screen->statusIsError()) << "the end of a recording is a notice";
    EXPECT_EQ(screen->statusBar()->state(), StatusBar::Ended);
    EXPECT_EQ(screen->statusBar()->sourceText(), "sample.wav");
    // The notice has a strip of its own, whole: it covers no view and not the button, in a tall window
    // and in a wide one alike, and every view keeps a usable height.
    const QLabel* banner = screen->view()->findChild<QLabel*>(QStringLiteral("status"));
    ASSERT_NE(banner, nullptr);
    const auto place = [&](const QWidget* widget) {
        return QRect(widget->mapTo(screen->view(), QPoint(0, 0)), widget->size());
    };
    for (const QSize size : {QSize(320, 480), QSize(1280, 800)}) {
        delegate->window()->resize(size);
        QTest::qWait(100);
        const QString at = QStringLiteral("%1x%2").arg(size.width()).arg(size.height());
        EXPECT_TRUE(banner->isVisible());
        EXPECT_GE(banner->height(), banner->heightForWidth(banner->width())) << at.toStdString();
        for (const QWidget* view :
             {static_cast<QWidget*>(screen->spectrum()), static_cast<QWidget*>(screen->lieIndicator()),
              static_cast<QWidget*>(screen->lieGraph()), static_cast<QWidget*>(screen->recordButtton())}) {
            EXPECT_FALSE(place(banner).intersects(place(view)))
                << at.toStdString() << " " << view->objectName().toStdString();
            EXPECT_TRUE(screen->view()->rect().contains(place(view))) << at.toStdString();
        }
        EXPECT_GE(screen->lieGraph()->height(), 85) << at.toStdString();
        EXPECT_GE(screen->spectrum()->height(), 85) << at.toStdString();
    }
}

TEST_F(MainScreen, ARecordingThatCannotBeReadIsReportedByName) {
    platform::FileAudioUnit::setSource("no-such-recording.wav", platform::FileAudioUnit::AS_FAST_AS_POSSIBLE);
    platform::selectAudioComponent(platform::FileAudioUnit::component());
    screen->setInputFile(QStringLiteral("no-such-recording.wav"));
    press();
    EXPECT_EQ(state(), VoiceUnit::STATE_UNINITIALIZED);
    EXPECT_TRUE(showsStartImages());
    EXPECT_EQ(screen->statusMessage(), "Cannot analyse no-such-recording.wav: no such file.");

    QTemporaryDir dir;
    QFile notes(dir.filePath("notes.wav"));
    ASSERT_TRUE(notes.open(QIODevice::WriteOnly));
    notes.write("These are notes, not sound.\n");
    notes.close();
    platform::FileAudioUnit::setSource(notes.fileName().toStdString(),
                                       platform::FileAudioUnit::AS_FAST_AS_POSSIBLE);
    screen->setInputFile(notes.fileName());
    press();
    EXPECT_EQ(screen->statusMessage(), "Cannot analyse notes.wav: not an audio file.")
        << "the file is named once and the library's restatement is left out";
    EXPECT_TRUE(screen->statusIsError());
}

TEST(CaptureFailureMessages, NameTheRealCauseAndTheFileOnce) {
    struct Case {
        const char* input;
        const char* reason;
        bool whileRunning;
        const char* message;
    };
    const Case cases[] = {
        {"", "No microphone found", false,
         "No microphone found: connect one and press record, or open a recording."},
        {"", "cannot open \"USB Mic\": Invalid sample rate", false,
         "Cannot start the microphone: cannot open \"USB Mic\": Invalid sample rate."},
        {"", "cannot start the audio system: Device unavailable", false,
         "Cannot start the microphone: cannot start the audio system: Device unavailable."},
        {"", "the microphone stopped delivering sound", true,
         "The microphone stopped delivering sound; check the microphone and press record to try again."},
        {"/tmp/rec/talk.flac",
         "cannot read \"/tmp/rec/talk.flac\": not an audio file (Format not recognised.)", false,
         "Cannot analyse talk.flac: not an audio file."},
        {"/tmp/rec/talk.flac", "cannot read \"/tmp/rec/talk.flac\": read error (flac decoder lost sync)",
         true, "Cannot analyse talk.flac: read error (flac decoder lost sync)."},
        {"talk.wav", "recordings are read at 8000 samples per second only", false,
         "Cannot analyse talk.wav: recordings are read at 8000 samples per second only."},
        {"talk.wav", "", false, "Cannot analyse talk.wav."},
    };
    for (const Case& c : cases)
        EXPECT_EQ(VeraxoViewController::failureMessage(c.input, c.reason, c.whileRunning), c.message);
}

TEST_F(MainScreen, HelpOpensFromItsControlAndF1AndTheViewsPauseUntilBackOrEsc) {
    NavigationController* navigation = delegate->navCon();
    const auto redrawing = [&] {
        const int running = int(screen->lieGraph()->isRedrawing()) +
                            int(screen->lieIndicator()->isRedrawing()) +
                            int(screen->spectrum()->isRedrawing());
        return running == 3 ? 1 : running == 0 ? 0 : -1;
    };
    EXPECT_EQ(redrawing(), 1);
    QTest::mouseClick(screen->helpButton(), Qt::LeftButton);
    EXPECT_EQ(navigation->topViewController(), screen->helpViewController());
    EXPECT_TRUE(screen->helpViewController()->view()->isVisible());
    EXPECT_EQ(redrawing(), 0);
    QTest::mouseClick(navigation->backButton(), Qt::LeftButton);
    EXPECT_EQ(navigation->topViewController(), screen);
    EXPECT_EQ(redrawing(), 1);

    QTest::keyClick(delegate->window(), Qt::Key_F1);
    EXPECT_EQ(navigation->topViewController(), screen->helpViewController());
    EXPECT_EQ(redrawing(), 0);
    // The page has the keyboard at once: Page Down scrolls it.
    QTextBrowser* page = screen->helpViewController()->webView();
    // The window's focus widget, whether or not another program's window is active at the moment.
    EXPECT_EQ(delegate->window()->focusWidget(), page);
    const int scrolled = page->verticalScrollBar()->value();
    QTest::keyClick(page, Qt::Key_PageDown);
    EXPECT_GT(page->verticalScrollBar()->value(), scrolled);
    QTest::keyClick(delegate->window(), Qt::Key_Space);
    EXPECT_EQ(state(), VoiceUnit::STATE_UNINITIALIZED) << "Space belongs to the main screen";
    QTest::keyClick(delegate->window(), Qt::Key_Escape);
    EXPECT_EQ(navigation->topViewController(), screen);
    EXPECT_EQ(redrawing(), 1);
}

TEST_F(MainScreen, TearDownWhileSoundFlowsStopsCaptureBeforeDestroyingAnything) {
    press();
    ASSERT_EQ(state(), VoiceUnit::STATE_RUNNING);
    const std::vector<short> block(256, 1200);
    for (int i = 0; i < 400; ++i)
        script.current->push(block);
    // Blocks are still being analysed on the audio thread while the core objects go.
    Globals::tearDown();
    EXPECT_EQ(globals, nullptr);
    EXPECT_EQ(script.instancesMade, script.instancesDisposed);
    delegate.reset();
    Globals::tearDown();
    EXPECT_EQ(globals, nullptr) << "a second tear-down finds nothing to do";
}

TEST_F(MainScreen, TheWindowOpensPortraitAndUsesALandscapeWindowWithoutInventingHistory) {
    QWidget* window = delegate->window();
    EXPECT_EQ(window->size(), VeraxoAppDelegate::defaultWindowSize);
    const auto place = [&](QWidget* view) { return QRect(view->mapTo(window, QPoint(0, 0)), view->size()); };
    const auto portrait = [&] {
        EXPECT_LT(place(screen->spectrum()).top(), place(screen->lieIndicator()).top());
        EXPECT_LT(place(screen->lieIndicator()).top(), place(screen->lieGraph()).top());
        EXPECT_LT(place(screen->lieGraph()).top(), place(screen->recordButtton()).top());
        EXPECT_LE(place(screen->recordButtton()).bottom(), window->height()) << "everything stays inside";
    };
    portrait();

    // The graph has a short history of its own; the rest of its width is the cleared state.
    const float level = 0.5f;
    for (int i = 0; i < 40; ++i)
        screen->lieGraph()->newData(&level, 1);
    QTest::qWait(300); // the graph takes them at its next paint

    window->resize(1280, 800);
    QTest::qWait(100);
    const QRect relief = place(screen->spectrum());
    const QRect graph = place(screen->lieGraph());
    EXPECT_NEAR(double(relief.width()) / relief.height(), MainScreenLayout::RELIEF_ASPECT, 0.02)
        << "the aspect the relief's projection was made for: no empty band, no cut front edge";
    EXPECT_GT(relief.width(), window->width() / 2) << "the relief uses the width";
    EXPECT_GT(graph.top(), relief.bottom()) << "the graph runs below the relief";
    EXPECT_GT(graph.width(), window->width() * 95 / 100) << "across the whole window";
    for (QWidget* side :
         {static_cast<QWidget*>(screen->lieIndicator()), static_cast<QWidget*>(screen->recordButtton())}) {
        EXPECT_GT(place(side).left(), relief.right()) << "beside the relief";
        EXPECT_LE(place(side).bottom(), graph.top());
    }
    // No empty band beside the relief: what is right of it, up to the side column, is a few percent.
    EXPECT_LT(place(screen->lieIndicator()).left() - relief.right(), window->width() * 3 / 100);

    // Widening added history the graph never had: none of it is drawn, the old values stay at the right.
    const QImage picture = screen->lieGraph()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    const auto cyanInColumn = [&](int x) {
        for (int y = 0; y < picture.height(); ++y) {
            const QColor c = QColor(picture.pixel(x, y));
            if (c.green() > 150 && c.blue() > 150 && c.red() < 120)
                return true;
        }
        return false;
    };
    EXPECT_FALSE(cyanInColumn(picture.width() / 4)) << "no invented zeros where nothing was heard";
    EXPECT_TRUE(cyanInColumn(picture.width() - 10)) << "the values received are still drawn";

    window->resize(800, 800);
    QTest::qWait(100);
    ASSERT_EQ(window->size(), QSize(800, 800));
    portrait(); // a square is not wider than tall

    window->resize(320, 480);
    QTest::qWait(100);
    portrait();
    EXPECT_EQ(screen->spectrum()->maximumWidth(), QWIDGETSIZE_MAX);

    // The smallest window keeps every view usable, and the largest keeps the relief's aspect.
    window->resize(60, 60);
    QTest::qWait(100);
    EXPECT_EQ(window->size(), VeraxoAppDelegate::minimumWindowSize);
    portrait();
    EXPECT_GE(screen->spectrum()->height(), 85);
    EXPECT_GE(screen->lieGraph()->height(), 85);
    EXPECT_GE(screen->lieIndicator()->height(), 20);
    window->resize(1600, 1000);
    QTest::qWait(100);
    EXPECT_NEAR(double(screen->spectrum()->width()) / screen->spectrum()->height(),
                MainScreenLayout::RELIEF_ASPECT, 0.02);
    EXPECT_LE(place(screen->recordButtton()).bottom(), place(screen->lieGraph()).top());
}

std::vector<short> sampleRecording(int maxSamples) {
    AudioFileReader reader;
    std::vector<short> samples(maxSamples);
    if (!reader.open(VERAXO_SAMPLE_RECORDING))
        return {};
    int got = 0;
    while (got < maxSamples) {
        const int n = reader.read(samples.data() + got, maxSamples - got);
        if (n <= 0)
            break;
        got += n;
    }
    samples.resize(got);
    return samples;
}

// Listens at the end of the engine's chains, after the views: whatever it hears, the views have had.
struct OutputSpy {
    void lieLevel(const Signal::Sample* data, int length) {
        const int k = levels.fetch_add(1);
        if (length != 1 || k >= int(expectedLevels.size()) || data[0] != expectedLevels[k]) {
            ++mismatches;
            return;
        }
        expectedIndicator = float(0.7 * double(expectedIndicator) + 0.3 * double(data[0]));
        if (indicator->lieLevel() != expectedIndicator || graph->bufferCount() != k + 1)
            ++viewsBehind;
    }
    void spectrum(const Signal::Sample*, int length) {
        if (length != 32)
            ++mismatches;
        ++frames;
    }
    std::vector<float> expectedLevels;
    LieIndicator* indicator = nullptr;
    GraphView* graph = nullptr;
    float expectedIndicator = 0.0f;
    std::atomic<int> levels{0};
    std::atomic<int> frames{0};
    std::atomic<int> mismatches{0};
    std::atomic<int> viewsBehind{0};
};

struct LevelCollector {
    void lieLevel(const Signal::Sample* data, int) { levels.push_back(data[0]); }
    void spectrum(const Signal::Sample*, int) { ++frames; }
    std::vector<float> levels;
    int frames = 0;
};

TEST_F(MainScreen, ARecordingDrivesTheIndicatorTheGraphAndTheRelief) {
    const int blockLength = 256;
    const std::vector<short> recording = sampleRecording(6 * 8000);
    ASSERT_EQ(recording.size(), 6u * 8000) << "the sample recording lasts longer than six seconds";

    // The same recording through an engine of its own gives the values the screen must show.
    using ViewCallback = brel::callback2<void, const Signal::Sample*, int>;
    LevelCollector reference;
    VeraxoEngine referenceEngine;
    referenceEngine.attachOutput(VeraxoEngine::OUTPUT_LIE_LEVEL,
                                 ViewCallback(&reference, &LevelCollector::lieLevel));
    referenceEngine.attachOutput(VeraxoEngine::OUTPUT_SPECTRUM,
                                 ViewCallback(&reference, &LevelCollector::spectrum));
    referenceEngine.input(recording.data(), int(recording.size()));
    ASSERT_EQ(reference.frames, int(recording.size()) / 128) << "one frame per hop of 128 samples";

    veraxo_test::AssertionCapture reports;
    OutputSpy spy;
    spy.expectedLevels = reference.levels;
    spy.indicator = screen->lieIndicator();
    spy.graph = screen->lieGraph();
    globals->engine->attachOutput(VeraxoEngine::OUTPUT_LIE_LEVEL, ViewCallback(&spy, &OutputSpy::lieLevel));
    globals->engine->attachOutput(VeraxoEngine::OUTPUT_SPECTRUM, ViewCallback(&spy, &OutputSpy::spectrum));

    press();
    ASSERT_EQ(state(), VoiceUnit::STATE_RUNNING);
    for (std::size_t at = 0; at < recording.size(); at += blockLength) {
        const std::size_t end = std::min(recording.size(), at + blockLength);
        script.current->push(std::vector<short>(recording.begin() + at, recording.begin() + end));
    }
    ASSERT_TRUE(script.current->waitUntilIdle(20.0));
    EXPECT_EQ(spy.levels.load(), int(reference.levels.size()));
    EXPECT_EQ(spy.frames.load(), reference.frames);
    EXPECT_EQ(spy.mismatches.load(), 0);
    EXPECT_EQ(spy.viewsBehind.load(), 0)
        << "the indicator and the graph had each level before the chain's end";
    EXPECT_EQ(reports.count(), 0u) << "every view got blocks of the length it expects";

    // Let the views' timers paint what they received, then look at the window as the user would.
    QTest::qWait(400);
    const QImage window = delegate->window()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    const auto area = [&](QWidget* view) {
        const qreal ratio = window.devicePixelRatio();
        const QRect r(view->mapTo(delegate->window(), QPoint(0, 0)), view->size());
        return QRect((QPointF(r.topLeft()) * ratio).toPoint(), (QSizeF(r.size()) * ratio).toSize());
    };

    // The relief: a good share of strongly coloured pixels (the cleared relief is a dark grey-blue).
    const QRect relief = area(screen->spectrum());
    int coloured = 0;
    for (int y = relief.top(); y <= relief.bottom(); ++y)
        for (int x = relief.left(); x <= relief.right(); ++x) {
            const QColor c = QColor(window.pixel(x, y));
            if (c.saturation() > 150 && c.value() > 150)
                ++coloured;
        }
    EXPECT_GT(coloured, relief.width() * relief.height() / 20) << "the relief shows the spectrum in colour";

    // The graph: the trace rises and falls, so its brightest pixels spread over many rows.
    const QRect graph = area(screen->lieGraph());
    int top = graph.bottom();
    int bottom = graph.top();
    for (int y = graph.top(); y <= graph.bottom(); ++y)
        for (int x = graph.left(); x <= graph.right(); ++x) {
            const QColor c = QColor(window.pixel(x, y));
            if (c.green() > 150 && c.blue() > 150 && c.red() < 120) {
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
        }
    EXPECT_GT(bottom - top, graph.height() / 4) << "the lie graph is not flat";
    if (::testing::Test::HasFailure())
        window.save(QStringLiteral("main_screen_failure.png"));
}

std::vector<short> sine(int count, double amplitude) {
    std::vector<short> samples(count);
    for (int i = 0; i < count; ++i)
        samples[i] = short(std::lround(amplitude * std::sin(2.0 * M_PI * 440.0 * i / 8000.0)));
    return samples;
}

TEST_F(MainScreen, RestartClearsTheReliefTheIndicatorAndTheGraphAsAFreshStartShowsThem) {
    const std::vector<short> recording = sampleRecording(4 * 8000);
    QTest::qWait(300);
    const auto look = [&] {
        QTest::qWait(300); // the views' timers paint what they hold
        return delegate->window()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    };
    const auto area = [&](const QImage& window, QWidget* view) {
        const qreal ratio = window.devicePixelRatio();
        const QRect r(view->mapTo(delegate->window(), QPoint(0, 0)), view->size());
        return window.copy(
            QRect((QPointF(r.topLeft()) * ratio).toPoint(), (QSizeF(r.size()) * ratio).toSize()));
    };
    const QImage fresh = look();
    const QImage freshGraph = area(fresh, screen->lieGraph());
    const QImage freshRelief = area(fresh, screen->spectrum());
    const auto coloured = [](const QImage& picture) {
        int count = 0;
        for (int y = 0; y < picture.height(); ++y)
            for (int x = 0; x < picture.width(); ++x) {
                const QColor c = QColor(picture.pixel(x, y));
                count += c.saturation() > 150 && c.value() > 150 && c.hue() < 150 ? 1 : 0;
            }
        return count;
    };

    press();
    ASSERT_EQ(state(), VoiceUnit::STATE_RUNNING);
    for (std::size_t at = 0; at < recording.size(); at += 512)
        script.current->push(std::vector<short>(recording.begin() + at,
                                                recording.begin() + std::min(recording.size(), at + 512)));
    ASSERT_TRUE(script.current->waitUntilIdle(20.0));
    const QImage heard = look();
    ASSERT_GT(coloured(area(heard, screen->spectrum())), coloured(freshRelief) + 1000);
    ASSERT_GT(screen->lieIndicator()->lieLevel(), 0.05f);
    ASSERT_NE(area(heard, screen->lieGraph()), freshGraph);

    delegate->restart();
    EXPECT_EQ(state(), VoiceUnit::STATE_RUNNING) << "listening again, from a clean start";
    EXPECT_EQ(screen->lieIndicator()->lieLevel(), 0.0f);
    const QImage restarted = look();
    EXPECT_EQ(area(restarted, screen->lieGraph()), freshGraph) << "the graph as at the program's start";
    EXPECT_EQ(coloured(area(restarted, screen->spectrum())), coloured(freshRelief)) << "an empty relief";
    EXPECT_EQ(screen->view()->findChild<IndicatorReadout*>()->text(), "0.00");
}

TEST(ViewScales, RulerScaleFrequenciesAndNumbersStandWhereTheViewsPutTheirValues) {
    // The ruler: 0 at the graph's newest point for the microphone, the recording's time for a file.
    GraphScales graph(new GraphView);
    graph.resize(400, 140);
    graph.show();
    const QRect view = graph.view()->geometry();
    EXPECT_TRUE(QRect(0, 0, 400, 140).contains(view));
    EXPECT_GT(view.left(), 0) << "room for the scale at the left";
    EXPECT_LT(view.bottom(), 139) << "room for the ruler below";
    auto labels = graph.rulerLabels();
    ASSERT_GE(labels.size(), 2);
    EXPECT_EQ(labels.last().second, "0 s");
    EXPECT_EQ(labels.last().first, view.right());
    EXPECT_TRUE(labels.first().second.startsWith(QStringLiteral("\u2212")));
    const double step =
        (labels.last().first - labels[labels.size() - 2].first) * GraphScales::SECONDS_PER_POINT;
    EXPECT_NEAR(step, std::round(step), 0.02) << "whole seconds between ticks";
    graph.setClock([] { return 12.3; });
    labels = graph.rulerLabels();
    EXPECT_EQ(labels.last().second, "12 s");
    EXPECT_NEAR(labels.last().first, view.right() - 0.3 / GraphScales::SECONDS_PER_POINT, 1.0);
    graph.setClock([] { return 1.0; });
    EXPECT_EQ(graph.rulerLabels().first().second, "0 s") << "no time before a recording's start";

    // The relief's band frequencies under the ends of its front edge: symmetric, inside, in order.
    const double low = ReliefScales::frontEdgeX(200.0, ReliefScales::ASPECT);
    const double high = ReliefScales::frontEdgeX(3400.0, ReliefScales::ASPECT);
    EXPECT_NEAR(low + high, 1.0, 1e-9);
    EXPECT_GT(low, 0.0);
    EXPECT_LT(low, ReliefScales::frontEdgeX(1000.0, ReliefScales::ASPECT));
    EXPECT_LT(ReliefScales::frontEdgeX(2000.0, ReliefScales::ASPECT), high);
    EXPECT_GT(ReliefScales::frontEdgeY(), 0.85) << "the front edge is near the view's foot";
    EXPECT_LT(ReliefScales::frontEdgeX(200.0, 1.6), 0.0)
        << "narrower than its aspect, the relief loses its front corners";

    // The indicator's number: two decimals, never "-0.00".
    auto* bars = new LieIndicator;
    IndicatorReadout readout(bars);
    readout.resize(300, 40);
    readout.show();
    EXPECT_EQ(readout.text(), "0.00");
    const float level = 0.5f;
    bars->newData(&level, 1);
    EXPECT_EQ(readout.text(), "0.15");
    EXPECT_LT(readout.view()->geometry().right(), 300 - 20) << "the number stands beside the bars";
}

TEST_F(MainScreen, TheStatusBarMetersTheInputAndFlagsClippedAndQuietSound) {
    StatusBar* bar = screen->statusBar();
    ASSERT_TRUE(bar->isVisibleTo(delegate->window())) << "the window shows the status bar";
    auto* warning = bar->findChild<QLabel*>("statusWarning");
    ASSERT_NE(warning, nullptr);
    EXPECT_EQ(bar->sourceText(), "Microphone");
    EXPECT_EQ(bar->stateText(), "Stopped");

    press();
    ASSERT_EQ(state(), VoiceUnit::STATE_RUNNING);
    EXPECT_EQ(bar->stateText(), "Listening");
    // Sound in steps of a tenth of a second, one reading per step, as the bar's own timer takes them.
    const auto feed = [&](const std::vector<short>& samples) {
        for (std::size_t at = 0; at < samples.size(); at += 800) {
            const std::size_t stepEnd = std::min(samples.size(), at + 800);
            for (std::size_t block = at; block < stepEnd; block += 256)
                script.current->push(std::vector<short>(samples.begin() + block,
                                                        samples.begin() + std::min(stepEnd, block + 256)));
            ASSERT_TRUE(script.current->waitUntilIdle());
            bar->advance();
        }
    };

    feed(sine(8000, 16384.0));
    EXPECT_NEAR(bar->levelDb(), -6.02, 0.05);
    EXPECT_EQ(bar->peakText(), QStringLiteral("\u22126 dB")) << "the peak as a number beside the bar";
    EXPECT_EQ(bar->warning(), StatusBar::NoWarning);
    EXPECT_EQ(bar->elapsedText(), "0:01");

    for (const short rail : {short(32767), short(-32768)}) {
        std::vector<short> clipped = sine(800, 16384.0);
        clipped[400] = rail;
        feed(clipped);
        EXPECT_EQ(bar->warning(), StatusBar::Clipping) << rail;
        EXPECT_NEAR(bar->levelDb(), rail > 0 ? -0.0003 : 0.0, 0.001);
        EXPECT_TRUE(warning->isVisibleTo(delegate->window()));
        feed(sine(4000, 16384.0));
        EXPECT_EQ(bar->warning(), StatusBar::Clipping) << "held a while after the last clipped sample";
        feed(sine(5600, 16384.0));
        EXPECT_EQ(bar->warning(), StatusBar::NoWarning) << "cleared a second after the last one";
        EXPECT_FALSE(warning->isVisibleTo(delegate->window()));
    }
    feed(sine(8000, 32766.0));
    EXPECT_EQ(bar->warning(), StatusBar::NoWarning) << "loud but never at the rails";
    std::vector<short> nearRail = sine(800, 16384.0);
    nearRail[400] = -32767;
    feed(nearRail);
    EXPECT_EQ(bar->warning(), StatusBar::NoWarning) << "-32767 is one step inside the rail";
    // Held exactly one second after the last clipped sample (here the last of its period), not longer.
    std::vector<short> clippedLast = sine(800, 16384.0);
    clippedLast.back() = -32768;
    feed(clippedLast);
    feed(sine(8000, 16384.0));
    EXPECT_EQ(bar->warning(), StatusBar::Clipping) << "one second after the last clipped sample";
    feed(std::vector<short>(1, 0));
    EXPECT_EQ(bar->warning(), StatusBar::NoWarning) << "one sample later";

    // -50 dBFS: a warning only once it has lasted three seconds.
    const std::vector<short> quiet = sine(800, 32768.0 * std::pow(10.0, -50.0 / 20.0));
    for (int step = 0; step < 29; ++step)
        feed(quiet);
    EXPECT_LT(bar->levelDb(), -45.0);
    EXPECT_EQ(bar->warning(), StatusBar::NoWarning);
    feed(quiet);
    EXPECT_EQ(bar->warning(), StatusBar::TooQuiet);
    EXPECT_EQ(warning->text(), "Too quiet");
    EXPECT_TRUE(warning->toolTip().contains("-45 dBFS")) << warning->toolTip().toStdString();
    feed(sine(800, 32768.0 * std::pow(10.0, -40.0 / 20.0)));
    EXPECT_EQ(bar->warning(), StatusBar::NoWarning) << "-40 dBFS is loud enough";
    for (int step = 0; step < 30; ++step)
        feed(std::vector<short>(800, 0));
    EXPECT_EQ(bar->warning(), StatusBar::TooQuiet) << "silence too";
    EXPECT_EQ(bar->samplesHeard(), 95201) << "every sample counts once";
    EXPECT_EQ(bar->elapsedText(), "0:11");

    press();
    EXPECT_EQ(bar->stateText(), "Paused");
    EXPECT_EQ(bar->warning(), StatusBar::NoWarning) << "nothing is judged while nothing is heard";
    EXPECT_EQ(bar->elapsedText(), "0:11");
    press();
    EXPECT_EQ(bar->elapsedText(), "0:11") << "listening again continues the count";
}

// A recording given as a named pipe: the window stays live while nobody writes, a press gives up, a
// writer that writes everything and leaves at once loses nothing, and one that stalls cannot keep
// capture from stopping.
TEST_F(MainScreen, ANamedPipeIsWaitedForWithoutBlockingTheWindow) {
    QTemporaryDir dir;
    const QString pipe = dir.filePath("live.wav");
    ASSERT_EQ(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
    platform::FileAudioUnit::setSource(pipe.toStdString(), platform::FileAudioUnit::AS_FAST_AS_POSSIBLE);
    platform::selectAudioComponent(platform::FileAudioUnit::component());
    screen->setInputFile(pipe);

    press();
    EXPECT_TRUE(screen->isWaitingForInput());
    EXPECT_EQ(state(), VoiceUnit::STATE_UNINITIALIZED);
    EXPECT_FALSE(screen->statusIsError());
    EXPECT_TRUE(screen->statusMessage().contains("Waiting")) << screen->statusMessage().toStdString();
    QTest::qWait(300); // the event loop runs: nothing blocks it
    press();
    EXPECT_FALSE(screen->isWaitingForInput()) << "a press gives up waiting";
    EXPECT_TRUE(showsStartImages());
    EXPECT_TRUE(screen->statusMessage().isEmpty());
    press();
    ASSERT_TRUE(screen->isWaitingForInput());
    screen->setInputFile(pipe);
    EXPECT_FALSE(screen->isWaitingForInput()) << "naming a source gives up waiting too";
    EXPECT_TRUE(showsStartImages());

    // Two seconds of sound as a WAV small enough to sit whole in the pipe.
    const std::vector<short> samples = sine(16000, 8000.0);
    QByteArray wav("RIFF");
    const auto u32 = [&](quint32 v) { wav.append(reinterpret_cast<const char*>(&v), 4); };
    const auto u16 = [&](quint16 v) { wav.append(reinterpret_cast<const char*>(&v), 2); };
    u32(36 + quint32(samples.size()) * 2);
    wav.append("WAVEfmt ");
    u32(16), u16(1), u16(1), u32(8000), u32(16000), u16(2), u16(16);
    wav.append("data");
    u32(quint32(samples.size()) * 2);
    wav.append(reinterpret_cast<const char*>(samples.data()), int(samples.size() * 2));

    press();
    ASSERT_TRUE(screen->isWaitingForInput());
    const int writer = ::open(QFile::encodeName(pipe).constData(), O_WRONLY | O_NONBLOCK);
    ASSERT_GE(writer, 0) << "the waiter holds the reading end";
    ASSERT_EQ(::write(writer, wav.constData(), size_t(wav.size())), wav.size());
    ::close(writer);
    EXPECT_TRUE(QTest::qWaitFor([&] { return screen->statusMessage().contains("has ended"); }, 10000))
        << screen->statusMessage().toStdString();
    EXPECT_EQ(screen->lieGraph()->bufferCount(), 16000 / 128) << "every sample of the pipe was analysed";

    // A writer that stalls mid-stream, its end still open: a press stops capture all the same.
    press();
    ASSERT_TRUE(screen->isWaitingForInput());
    const int staller = ::open(QFile::encodeName(pipe).constData(), O_WRONLY | O_NONBLOCK);
    ASSERT_GE(staller, 0);
    ASSERT_EQ(::write(staller, wav.constData(), 8000), 8000);
    ASSERT_TRUE(QTest::qWaitFor([&] { return state() == VoiceUnit::STATE_RUNNING; }, 5000));
    QTest::qWait(200);
    press();
    EXPECT_EQ(state(), VoiceUnit::STATE_UNINITIALIZED);
    EXPECT_TRUE(showsStartImages());
    ::close(staller);
}

} // namespace
