// The main screen driven through its controls and keys, with the scriptable audio unit standing in for
// the microphone: the record button's toggle and images, failures and their recovery, the wiring of
// the voice unit, help and back, and an orderly tear-down while sound is flowing.

#include "VeraxoViewController.h"
#include "Globals.h"
#include "HelpViewController.h"
#include "ImageButton.h"
#include "NavigationController.h"
#include "RunLoopBridge.h"
#include "VeraxoAppDelegate.h"

#include "platform/AudioUnit.h"
#include "platform/TestAudioUnit.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include <memory>

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

TEST_F(MainScreen, HelpOpensFromItsControlAndF1AndBackAndEscReturn) {
    NavigationController* navigation = delegate->navCon();
    QTest::mouseClick(screen->helpButton(), Qt::LeftButton);
    EXPECT_EQ(navigation->topViewController(), screen->helpViewController());
    EXPECT_TRUE(screen->helpViewController()->view()->isVisible());
    QTest::mouseClick(navigation->backButton(), Qt::LeftButton);
    EXPECT_EQ(navigation->topViewController(), screen);

    QTest::keyClick(delegate->window(), Qt::Key_F1);
    EXPECT_EQ(navigation->topViewController(), screen->helpViewController());
    QTest::keyClick(delegate->window(), Qt::Key_Space);
    EXPECT_EQ(state(), VoiceUnit::STATE_UNINITIALIZED) << "Space belongs to the main screen";
    QTest::keyClick(delegate->window(), Qt::Key_Escape);
    EXPECT_EQ(navigation->topViewController(), screen);
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

} // namespace
