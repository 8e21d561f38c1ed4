// The main screen driven through its controls and keys, with the scriptable audio unit standing in for
// the microphone: the record button's toggle and images, failures and their recovery, the wiring of
// the voice unit, help and back, and an orderly tear-down while sound is flowing.

#include "app/VeraxoViewController.h"
#include "Shared/SpectrumView.h"

#include "app/Globals.h"
#include "app/GraphView.h"
#include "app/HelpViewController.h"
#include "app/ImageButton.h"
#include "app/LieIndicator.h"
#include "app/NavigationController.h"
#include "app/RunLoopBridge.h"
#include "app/VeraxoAppDelegate.h"
#include "platform/AudioFileReader.h"

#include "platform/AudioUnit.h"
#include "platform/FileAudioUnit.h"
#include "platform/TestAudioUnit.h"
#include "tests/support/assertion_capture.h"

#include <gtest/gtest.h>

#include <QStackedWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <memory>
#include <vector>

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
        platform::selectAudioComponent(&script.component);
        Globals::setUp();
        delegate = std::make_unique<VeraxoAppDelegate>(pictures.bundle());
        delegate->applicationDidFinishLaunching();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(delegate->window()));
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
    EXPECT_EQ(voiceUnit.callbacks.size(), 1);
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
    EXPECT_TRUE(screen->statusMessage().startsWith("No microphone found"))
        << screen->statusMessage().toStdString();

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

TEST_F(MainScreen, TheEndOfAnAnalysedRecordingStopsCaptureAndSaysSo) {
    platform::FileAudioUnit::setSource(VERAXO_SAMPLE_RECORDING, platform::FileAudioUnit::AS_FAST_AS_POSSIBLE);
    platform::selectAudioComponent(platform::FileAudioUnit::component());
    screen->setInputFile(QStringLiteral("sample.wav"));
    press();
    ASSERT_EQ(state(), VoiceUnit::STATE_RUNNING);
    EXPECT_TRUE(QTest::qWaitFor([&] { return screen->statusMessage().contains("has ended"); }, 10000));
    EXPECT_EQ(state(), VoiceUnit::STATE_UNINITIALIZED);
    EXPECT_TRUE(showsStartImages());
    EXPECT_GT(screen->lieGraph()->bufferCount(), 1000) << "the whole recording went through the engine";
}

TEST_F(MainScreen, ARecordingThatCannotBeReadIsReportedByName) {
    platform::FileAudioUnit::setSource("no-such-recording.wav", platform::FileAudioUnit::AS_FAST_AS_POSSIBLE);
    platform::selectAudioComponent(platform::FileAudioUnit::component());
    screen->setInputFile(QStringLiteral("no-such-recording.wav"));
    press();
    EXPECT_EQ(state(), VoiceUnit::STATE_UNINITIALIZED);
    EXPECT_TRUE(showsStartImages());
    EXPECT_TRUE(screen->statusMessage().startsWith("Cannot analyse the recording no-such-recording.wav"))
        << screen->statusMessage().toStdString();
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

TEST_F(MainScreen, TheWindowOpensPortraitAndKeepsItsLayoutWhenReshaped) {
    QWidget* window = delegate->window();
    EXPECT_EQ(window->size(), VeraxoAppDelegate::defaultWindowSize);
    window->resize(900, 420);
    QTest::qWait(50);
    const auto top = [&](QWidget* view) { return view->mapTo(window, QPoint(0, 0)).y(); };
    EXPECT_LT(top(screen->spectrum()), top(screen->lieIndicator()));
    EXPECT_LT(top(screen->lieIndicator()), top(screen->lieGraph()));
    EXPECT_LT(top(screen->lieGraph()), top(screen->recordButtton()));
    EXPECT_LE(top(screen->recordButtton()) + screen->recordButtton()->height(), window->height())
        << "everything stays inside the window";
    EXPECT_GT(screen->spectrum()->width(), 800) << "the views follow the window's width";
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

} // namespace
