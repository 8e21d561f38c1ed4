// The voice unit over the scriptable audio unit: the state table, failures of each platform step,
// delivery on the audio thread and through the run loop, the queue limit, and the play path.

#include "Shared/VoiceUnit.h"

#include <gtest/gtest.h>

#include <mutex>
#include <thread>
#include <vector>

#include "platform/MessagePort.h"
#include "platform/RunLoop.h"
#include "platform/TestAudioUnit.h"
#include "tests/support/assertion_capture.h"

namespace {

using platform::TestAudioUnit;
typedef VoiceUnit::Properties P;

class Recorder {
public:
    struct Call {
        int which;
        std::thread::id thread;
        const short* pointer;
        int length;
        std::vector<short> samples;
    };

    void first(const short* p, int n) { record(0, p, n); }
    void second(const short* p, int n) { record(1, p, n); }

    std::vector<Call> calls() const {
        std::lock_guard<std::mutex> lock(_mutex);
        return _calls;
    }
    size_t count() const {
        std::lock_guard<std::mutex> lock(_mutex);
        return _calls.size();
    }

private:
    void record(int which, const short* p, int n) {
        std::lock_guard<std::mutex> lock(_mutex);
        _calls.push_back(Call{which, std::this_thread::get_id(), p, n, std::vector<short>(p, p + n)});
    }

    mutable std::mutex _mutex;
    std::vector<Call> _calls;
};

std::vector<short> ramp(int n, short first) {
    std::vector<short> v(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i)
        v[size_t(i)] = short(first + i);
    return v;
}

class VoiceUnitTest : public ::testing::Test {
protected:
    void SetUp() override { platform::selectAudioComponent(&script.component); }
    void TearDown() override {
        unit.dispose();
        platform::selectAudioComponent(nullptr);
    }

    void setProperty(const char* key, int value) {
        unit.properties.set(VoiceUnit::PropertyKey(key), VoiceUnit::PropertyValue(value));
    }
    void listen() { unit.callbacks.push_back(VoiceUnit::SampleCallback(&recorder, &Recorder::first)); }
    void startCapture() {
        ASSERT_TRUE(unit.initialize());
        ASSERT_TRUE(unit.start());
        ASSERT_NE(script.current, nullptr);
    }
    bool runLoopUntil(size_t calls) {
        return platform::RunLoop::current()->runUntil([&] { return recorder.count() >= calls; }, 5.0);
    }

    TestAudioUnit::Script script;
    VoiceUnit unit;
    Recorder recorder;
};

TEST_F(VoiceUnitTest, NewUnitIsIdleAndRefusesEverythingButInitialize) {
    EXPECT_EQ(unit.state, VoiceUnit::STATE_UNINITIALIZED);
    EXPECT_EQ(unit.ioFlags, 3);
    EXPECT_EQ(unit.audioUnitInstance(), nullptr);
    EXPECT_FALSE(unit.start());
    EXPECT_FALSE(unit.stop());
    EXPECT_FALSE(unit.dispose());
    EXPECT_EQ(unit.state, VoiceUnit::STATE_UNINITIALIZED);
    EXPECT_EQ(script.instancesMade, 0);
}

TEST_F(VoiceUnitTest, StateTableThroughAWholeRound) {
    ASSERT_TRUE(unit.initialize());
    EXPECT_EQ(unit.state, VoiceUnit::STATE_INITIALIZED);
    EXPECT_NE(unit.messagePort(), nullptr);
    EXPECT_FALSE(unit.initialize());
    EXPECT_FALSE(unit.stop());
    EXPECT_EQ(unit.state, VoiceUnit::STATE_INITIALIZED);
    EXPECT_EQ(script.instancesMade, 1);

    ASSERT_TRUE(unit.start());
    EXPECT_EQ(unit.state, VoiceUnit::STATE_RUNNING);
    EXPECT_FALSE(unit.initialize());
    EXPECT_FALSE(unit.start());
    EXPECT_EQ(unit.state, VoiceUnit::STATE_RUNNING);

    ASSERT_TRUE(unit.stop());
    EXPECT_EQ(unit.state, VoiceUnit::STATE_INITIALIZED);
    ASSERT_TRUE(unit.start());
    EXPECT_EQ(unit.state, VoiceUnit::STATE_RUNNING);

    ASSERT_TRUE(unit.dispose());
    EXPECT_EQ(unit.state, VoiceUnit::STATE_UNINITIALIZED);
    EXPECT_EQ(unit.audioUnitInstance(), nullptr);
    EXPECT_EQ(unit.messagePort(), nullptr);
    EXPECT_EQ(script.instancesDisposed, 1);
    EXPECT_EQ(platform::MessagePort::findRemote("VoiceUnit"), nullptr);

    ASSERT_TRUE(unit.initialize());
    ASSERT_TRUE(unit.dispose());
    EXPECT_EQ(unit.state, VoiceUnit::STATE_UNINITIALIZED);
    EXPECT_EQ(script.instancesDisposed, 2);
}

TEST_F(VoiceUnitTest, WithoutAComponentInitializeFailsButThePortExists) {
    platform::selectAudioComponent(nullptr);
    EXPECT_FALSE(unit.initialize());
    EXPECT_EQ(unit.state, VoiceUnit::STATE_FAILED);
    EXPECT_EQ(unit.audioUnitInstance(), nullptr);
    EXPECT_NE(unit.messagePort(), nullptr);
    EXPECT_FALSE(unit.lastErrorReason().empty());
    EXPECT_FALSE(unit.start());
    EXPECT_FALSE(unit.stop());
    EXPECT_EQ(unit.state, VoiceUnit::STATE_FAILED);
    EXPECT_TRUE(unit.dispose());
    EXPECT_EQ(unit.state, VoiceUnit::STATE_UNINITIALIZED);
    EXPECT_EQ(unit.messagePort(), nullptr);
}

TEST_F(VoiceUnitTest, EachFailingSetUpStepLeavesNoAudioUnit) {
    const TestAudioUnit::Step steps[] = {
        TestAudioUnit::STEP_NEW_INSTANCE,    TestAudioUnit::STEP_INPUT_FORMAT,
        TestAudioUnit::STEP_OUTPUT_FORMAT,   TestAudioUnit::STEP_INPUT_CALLBACK,
        TestAudioUnit::STEP_RENDER_CALLBACK, TestAudioUnit::STEP_INITIALIZE};
    for (TestAudioUnit::Step step : steps) {
        script.fail[step] = true;
        EXPECT_FALSE(unit.initialize()) << step;
        EXPECT_EQ(unit.state, VoiceUnit::STATE_FAILED) << step;
        EXPECT_EQ(unit.audioUnitInstance(), nullptr) << step;
        EXPECT_EQ(script.instancesMade, script.instancesDisposed) << step;
        EXPECT_NE(unit.messagePort(), nullptr) << step;
        EXPECT_TRUE(unit.dispose()) << step;
        script.fail[step] = false;
    }
    EXPECT_TRUE(unit.initialize());
}

TEST_F(VoiceUnitTest, FailedStartAndStopEndInFailedAndDisposeRecovers) {
    script.fail[TestAudioUnit::STEP_START] = true;
    ASSERT_TRUE(unit.initialize());
    EXPECT_FALSE(unit.start());
    EXPECT_EQ(unit.state, VoiceUnit::STATE_FAILED);
    EXPECT_NE(unit.audioUnitInstance(), nullptr);
    EXPECT_FALSE(unit.stop());
    EXPECT_TRUE(unit.dispose());
    EXPECT_EQ(unit.state, VoiceUnit::STATE_UNINITIALIZED);
    EXPECT_EQ(script.instancesDisposed, 1);

    script.fail[TestAudioUnit::STEP_START] = false;
    script.fail[TestAudioUnit::STEP_STOP] = true;
    startCapture();
    EXPECT_FALSE(unit.stop());
    EXPECT_EQ(unit.state, VoiceUnit::STATE_FAILED);
    EXPECT_TRUE(unit.dispose());
    EXPECT_EQ(unit.state, VoiceUnit::STATE_UNINITIALIZED);
    EXPECT_EQ(script.instancesDisposed, 2);
}

TEST_F(VoiceUnitTest, InitializeAfterAFailureReleasesTheOldSetUpFirst) {
    script.fail[TestAudioUnit::STEP_START] = true;
    ASSERT_TRUE(unit.initialize());
    EXPECT_FALSE(unit.start());
    script.fail[TestAudioUnit::STEP_START] = false;
    EXPECT_TRUE(unit.initialize());
    EXPECT_EQ(unit.state, VoiceUnit::STATE_INITIALIZED);
    EXPECT_EQ(script.instancesMade, 2);
    EXPECT_EQ(script.instancesDisposed, 1);
    EXPECT_TRUE(unit.start());
}

TEST_F(VoiceUnitTest, SeparationZeroDeliversEveryBlockOnTheAudioThread) {
    setProperty(P::THREAD_SEPARATION, 0);
    listen();
    startCapture();
    for (int b = 0; b < 3; ++b)
        script.current->push(ramp(100 + b, short(b * 1000)));
    ASSERT_TRUE(script.current->waitUntilIdle());
    std::vector<Recorder::Call> calls = recorder.calls();
    ASSERT_EQ(calls.size(), 3u);
    for (int b = 0; b < 3; ++b) {
        EXPECT_EQ(calls[size_t(b)].thread, script.current->audioThreadId());
        EXPECT_EQ(calls[size_t(b)].samples, ramp(100 + b, short(b * 1000)));
    }
    EXPECT_EQ(unit.messagePort()->messagesSent(), 0);
}

TEST_F(VoiceUnitTest, SeparationOneWakesTheInitialisingThreadOnlyOnceTwoBlocksWait) {
    listen();
    startCapture();
    script.current->push(ramp(64, 1));
    ASSERT_TRUE(script.current->waitUntilIdle());
    EXPECT_EQ(unit.messagePort()->messagesSent(), 0);
    EXPECT_EQ(platform::RunLoop::current()->runOnce(0.05), 0);
    EXPECT_EQ(recorder.count(), 0u);

    script.current->push(ramp(64, 500));
    ASSERT_TRUE(script.current->waitUntilIdle());
    EXPECT_EQ(unit.messagePort()->messagesSent(), 1);
    EXPECT_EQ(recorder.count(), 0u);
    ASSERT_TRUE(runLoopUntil(2));
    std::vector<Recorder::Call> calls = recorder.calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].samples, ramp(64, 1));
    EXPECT_EQ(calls[1].samples, ramp(64, 500));
    EXPECT_EQ(calls[0].thread, std::this_thread::get_id());
    EXPECT_EQ(calls[1].thread, std::this_thread::get_id());
}

TEST_F(VoiceUnitTest, TwoCallbacksGetEachBlockInOrderWithTheSamePointer) {
    setProperty(P::THREAD_SEPARATION, 0);
    listen();
    unit.callbacks.push_back(VoiceUnit::SampleCallback(&recorder, &Recorder::second));
    startCapture();
    script.current->push(ramp(10, 1));
    script.current->push(ramp(20, 1));
    ASSERT_TRUE(script.current->waitUntilIdle());
    std::vector<Recorder::Call> calls = recorder.calls();
    ASSERT_EQ(calls.size(), 4u);
    for (size_t b = 0; b < 2; ++b) {
        EXPECT_EQ(calls[2 * b].which, 0);
        EXPECT_EQ(calls[2 * b + 1].which, 1);
        EXPECT_EQ(calls[2 * b].pointer, calls[2 * b + 1].pointer);
        EXPECT_EQ(calls[2 * b].length, calls[2 * b + 1].length);
    }
    EXPECT_EQ(calls[0].length, 10);
    EXPECT_EQ(calls[2].length, 20);
}

TEST_F(VoiceUnitTest, TwentyBlocksWhileStalledDeliverTheFirstSixteen) {
    listen();
    startCapture();
    for (int b = 0; b < 20; ++b)
        script.current->push(std::vector<short>(8, short(b)));
    ASSERT_TRUE(script.current->waitUntilIdle());
    EXPECT_EQ(recorder.count(), 0u);
    ASSERT_TRUE(runLoopUntil(16));
    platform::RunLoop::current()->runOnce(0.02);
    std::vector<Recorder::Call> calls = recorder.calls();
    ASSERT_EQ(calls.size(), 16u);
    for (int b = 0; b < 16; ++b)
        EXPECT_EQ(calls[size_t(b)].samples[0], b);
}

TEST_F(VoiceUnitTest, DisposeDropsQueuedBlocks) {
    listen();
    startCapture();
    for (int b = 0; b < 5; ++b)
        script.current->push(ramp(8, short(b)));
    ASSERT_TRUE(script.current->waitUntilIdle());
    ASSERT_TRUE(unit.dispose());
    platform::RunLoop::current()->runOnce(0.05);
    EXPECT_EQ(recorder.count(), 0u);

    startCapture();
    script.current->push(ramp(8, 40));
    script.current->push(ramp(8, 50));
    ASSERT_TRUE(script.current->waitUntilIdle());
    ASSERT_TRUE(runLoopUntil(2));
    EXPECT_EQ(recorder.calls()[0].samples, ramp(8, 40));
}

TEST_F(VoiceUnitTest, FailedCaptureRenderStillDeliversTheBlock) {
    setProperty(P::THREAD_SEPARATION, 0);
    listen();
    startCapture();
    // The pool is primed with zeroed blocks: go round it twice, so that every block a failed render
    // lands in has carried samples before.
    const int delivered = 2 * (16 + 2);
    for (int b = 0; b < delivered; ++b)
        script.current->push(ramp(4, short(100 + b)));
    ASSERT_TRUE(script.current->waitUntilIdle());
    script.fail[TestAudioUnit::STEP_RENDER] = true;
    for (int b = 0; b < 16 + 2; ++b)
        script.current->push(ramp(4, 1));
    ASSERT_TRUE(script.current->waitUntilIdle());
    const std::vector<Recorder::Call> calls = recorder.calls();
    ASSERT_EQ(calls.size(), size_t(delivered + 16 + 2));
    EXPECT_EQ(calls[delivered - 1].samples, ramp(4, short(100 + delivered - 1)));
    for (size_t i = delivered; i < calls.size(); ++i)
        EXPECT_EQ(calls[i].samples, std::vector<short>(4, 0)) << "failed render " << i - delivered;
}

TEST_F(VoiceUnitTest, EmptyBlockIsDeliveredWithCountZeroAndNoReport) {
    setProperty(P::THREAD_SEPARATION, 0);
    listen();
    startCapture();
    veraxo_test::AssertionCapture reports;
    script.current->push(std::vector<short>());
    script.current->push(ramp(3, 7));
    ASSERT_TRUE(script.current->waitUntilIdle());
    std::vector<Recorder::Call> calls = recorder.calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].length, 0);
    EXPECT_EQ(calls[1].samples, ramp(3, 7));
    EXPECT_EQ(reports.count(), 0u);
}

TEST_F(VoiceUnitTest, PlayPathSaturatesPlaySamplesAndFillsWithFaintNoise) {
    startCapture();
    EXPECT_TRUE(
        script.wasSet(platform::kAudioUnitProperty_SetRenderCallback, platform::kAudioUnitScope_Input, 0));
    std::vector<short> out;
    ASSERT_TRUE(script.current->renderOutput(400, 400, out));
    ASSERT_EQ(out.size(), 400u);
    bool varied = false;
    for (short s : out) {
        EXPECT_GE(s, -32);
        EXPECT_LE(s, 31);
        varied = varied || s != out[0];
    }
    EXPECT_TRUE(varied);

    pthread_mutex_lock(&unit.playSamplesMutex());
    for (short s : {100, 4095, 4096, -4096, -4097})
        unit.playSamples().push_back(s);
    pthread_mutex_unlock(&unit.playSamplesMutex());
    ASSERT_TRUE(script.current->renderOutput(7, 7, out));
    ASSERT_EQ(out.size(), 7u);
    EXPECT_EQ(std::vector<short>(out.begin(), out.begin() + 5),
              (std::vector<short>{800, 32760, 32767, -32768, -32768}));
    EXPECT_GE(out[5], -32);
    EXPECT_LE(out[6], 31);
    EXPECT_EQ(unit.playSamples().size(), 0);
}

TEST_F(VoiceUnitTest, RenderLengthMismatchIsReportedAndNeverOverruns) {
    startCapture();
    veraxo_test::AssertionCapture reports;
    std::vector<short> out;
    ASSERT_TRUE(script.current->renderOutput(10, 4, out));
    EXPECT_EQ(out.size(), 4u);
    EXPECT_TRUE(reports.contains("inNumberFrames == ioData->mBuffers[0].mDataByteSize/sizeof(short)",
                                 "Shared/VoiceUnit", 354));
}

TEST_F(VoiceUnitTest, CaptureOnlyInstallsNoPlayPath) {
    unit.ioFlags = VoiceUnit::IO_RECORD;
    ASSERT_TRUE(unit.initialize());
    EXPECT_FALSE(
        script.wasSet(platform::kAudioUnitProperty_SetRenderCallback, platform::kAudioUnitScope_Input, 0));
    EXPECT_FALSE(
        script.wasSet(platform::kAudioUnitProperty_StreamFormat, platform::kAudioUnitScope_Input, 0));
    EXPECT_TRUE(
        script.wasSet(platform::kAudioUnitProperty_StreamFormat, platform::kAudioUnitScope_Output, 1));
    bool outputDisabled = false;
    for (const TestAudioUnit::PropertyCall& call : script.properties)
        if (call.id == platform::kAudioOutputUnitProperty_EnableIO &&
            call.scope == platform::kAudioUnitScope_Output && call.element == 0)
            outputDisabled = call.value == 0;
    EXPECT_TRUE(outputDisabled);
    EXPECT_FALSE(script.current->hasRenderCallback());
    EXPECT_FALSE(script.current->outputEnabled());
}

TEST_F(VoiceUnitTest, SamplingRateReachesTheStreamFormat) {
    setProperty(P::SAMPLING_RATE, 16000);
    ASSERT_TRUE(unit.initialize());
    EXPECT_EQ(script.current->inputFormat().mSampleRate, 16000.0);
    EXPECT_EQ(script.current->inputFormat().mBitsPerChannel, 16u);
    EXPECT_EQ(script.current->inputFormat().mFormatFlags, 12u);
}

TEST_F(VoiceUnitTest, DeviceFailureWhileCapturingEndsInFailedAndDisposeRecovers) {
    listen();
    startCapture();
    script.current->failDevice();
    ASSERT_TRUE(
        platform::RunLoop::current()->runUntil([&] { return unit.state == VoiceUnit::STATE_FAILED; }, 5.0));
    EXPECT_FALSE(unit.stop());
    EXPECT_TRUE(unit.dispose());
    EXPECT_EQ(unit.state, VoiceUnit::STATE_UNINITIALIZED);
    startCapture();
    EXPECT_EQ(unit.state, VoiceUnit::STATE_RUNNING);
}

// With separation 0 only the audio thread may feed the consumers: a failure message, arriving on the
// initialising thread, delivers no block, neither one left waiting from an earlier round nor one that
// races with the audio thread while it captures.
TEST_F(VoiceUnitTest, WithSeparationZeroMessagesNeverDeliverOnTheInitialisingThread) {
    listen();
    startCapture();
    script.current->push(ramp(64, 1));
    ASSERT_TRUE(script.current->waitUntilIdle());
    ASSERT_TRUE(unit.stop());
    setProperty(P::THREAD_SEPARATION, 0);
    platform::MessagePort* port = platform::MessagePort::findRemote("VoiceUnit");
    ASSERT_NE(port, nullptr);
    ASSERT_EQ(port->sendOneWay(VoiceUnit::MESSAGE_DEVICE_FAILED), 0);
    EXPECT_EQ(platform::RunLoop::current()->runOnce(0.05), 1);
    EXPECT_EQ(recorder.count(), 0u);

    ASSERT_TRUE(unit.start());
    const std::thread::id audio = script.current->audioThreadId();
    const int blocks = 2000;
    for (int b = 0; b < blocks; ++b) {
        script.current->push(ramp(8, short(b)));
        port->sendOneWay(VoiceUnit::MESSAGE_DEVICE_FAILED);
        platform::RunLoop::current()->runOnce(0.0);
    }
    ASSERT_TRUE(script.current->waitUntilIdle());
    platform::RunLoop::current()->runOnce(0.0);
    std::vector<Recorder::Call> calls = recorder.calls();
    ASSERT_EQ(calls.size(), size_t(blocks) + 1);
    EXPECT_EQ(calls[0].samples, ramp(64, 1));
    size_t offThread = 0;
    for (const Recorder::Call& c : calls)
        offThread += c.thread != audio ? 1 : 0;
    EXPECT_EQ(offThread, 0u);
    EXPECT_EQ(unit.state, VoiceUnit::STATE_FAILED);
}

TEST_F(VoiceUnitTest, OnlyOneUnitCanHoldThePortName) {
    ASSERT_TRUE(unit.initialize());
    VoiceUnit other;
    EXPECT_FALSE(other.initialize());
    EXPECT_EQ(other.state, VoiceUnit::STATE_FAILED);
    EXPECT_EQ(other.audioUnitInstance(), nullptr);
    EXPECT_TRUE(other.dispose());
    EXPECT_EQ(platform::MessagePort::findRemote("VoiceUnit"), unit.messagePort());
}

} // namespace
