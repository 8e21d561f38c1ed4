// Fault-injection matrix for the voice unit over the scriptable audio unit. Each case makes one step
// the unit acts on fail (finding the component, making the instance, each property, initialising,
// starting, rendering a captured block, the device dying mid-stream, stopping, resetting and stopping
// while disposing, the port name being taken) and checks the unit's answer. Whatever happened, the
// next record cycle (stop, dispose, initialize, start) must capture every sample intact, and at the
// end no audio unit, port or queued block may remain; run under ASan the leak checker sees the rest.

#include "Shared/VoiceUnit.h"

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "platform/MessagePort.h"
#include "platform/RunLoop.h"
#include "platform/TestAudioUnit.h"

namespace {

using platform::OSStatus;
using platform::TestAudioUnit;

enum Fault {
    NO_COMPONENT,
    NEW_INSTANCE,
    ENABLE_CAPTURE,
    ENABLE_PLAYBACK,
    INPUT_FORMAT,
    OUTPUT_FORMAT,
    INPUT_CALLBACK,
    RENDER_CALLBACK,
    FAILURE_LISTENER,
    INITIALIZE,
    PORT_NAME_TAKEN,
    START,
    RENDER_MID_STREAM,
    DEVICE_MID_STREAM,
    STOP,
    STOP_ON_DISPOSE,
    RESET_ON_DISPOSE,
};

const char* faultName(Fault f) {
    static const char* names[] = {"NoComponent",     "NewInstance",     "EnableCapture", "EnablePlayback",
                                  "InputFormat",     "OutputFormat",    "InputCallback", "RenderCallback",
                                  "FailureListener", "Initialize",      "PortNameTaken", "Start",
                                  "RenderMidStream", "DeviceMidStream", "Stop",          "StopOnDispose",
                                  "ResetOnDispose"};
    return names[f];
}

// Adds the failures the scriptable unit has no switch for: the properties whose status the voice
// unit ignores, and the reset made while disposing.
class FaultyAudioUnit : public TestAudioUnit {
public:
    struct Faults {
        bool enableCapture = false;
        bool enablePlayback = false;
        bool failureListener = false;
        bool reset = false;
    };

    FaultyAudioUnit(Script& script, const Faults& faults) : TestAudioUnit(script), _faults(faults) {}

    OSStatus setProperty(platform::AudioUnitPropertyID id, platform::AudioUnitScope scope,
                         platform::AudioUnitElement element, const void* data,
                         platform::UInt32 size) override {
        if (id == platform::kAudioOutputUnitProperty_EnableIO &&
            ((scope == platform::kAudioUnitScope_Input && _faults.enableCapture) ||
             (scope == platform::kAudioUnitScope_Output && _faults.enablePlayback)))
            return platform::kAudioUnitErr_InvalidProperty;
        if (id == platform::kAudioOutputUnitProperty_DeviceFailureListener && _faults.failureListener)
            return platform::kAudioUnitErr_InvalidProperty;
        return TestAudioUnit::setProperty(id, scope, element, data, size);
    }

    OSStatus reset(platform::AudioUnitScope scope, platform::AudioUnitElement element) override {
        if (_faults.reset)
            return platform::kAudioUnitErr_CannotDoInCurrentContext;
        return TestAudioUnit::reset(scope, element);
    }

private:
    const Faults& _faults;
};

class Recorder {
public:
    void take(const short* p, int n) {
        std::lock_guard<std::mutex> lock(_mutex);
        _blocks.emplace_back(p, p + n);
    }
    std::vector<std::vector<short>> blocks() const {
        std::lock_guard<std::mutex> lock(_mutex);
        return _blocks;
    }
    std::size_t count() const {
        std::lock_guard<std::mutex> lock(_mutex);
        return _blocks.size();
    }

private:
    mutable std::mutex _mutex;
    std::vector<std::vector<short>> _blocks;
};

std::vector<short> ramp(int n, int first) {
    std::vector<short> v(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i)
        v[static_cast<std::size_t>(i)] = static_cast<short>(first + 7 * i);
    return v;
}

class VoiceUnitFaultTest : public ::testing::TestWithParam<std::tuple<Fault, int>> {
protected:
    void SetUp() override {
        component.name = "faulty test double";
        component.newInstance = &VoiceUnitFaultTest::makeInstance;
        component.context = this;
        platform::selectAudioComponent(&component);
        unit.properties.set(VoiceUnit::PropertyKey(VoiceUnit::Properties::THREAD_SEPARATION),
                            VoiceUnit::PropertyValue(separation()));
        unit.callbacks.push_back(VoiceUnit::SampleCallback(&recorder, &Recorder::take));
    }

    void TearDown() override {
        unit.dispose();
        platform::selectAudioComponent(nullptr);
        EXPECT_EQ(script.instancesMade, script.instancesDisposed);
        EXPECT_EQ(platform::MessagePort::findRemote("VoiceUnit"), nullptr);
    }

    static OSStatus makeInstance(void* context, platform::AudioUnit* out) {
        VoiceUnitFaultTest* self = static_cast<VoiceUnitFaultTest*>(context);
        if (self->script.fail[TestAudioUnit::STEP_NEW_INSTANCE])
            return platform::kAudioUnitErr_FailedInitialization;
        *out = new FaultyAudioUnit(self->script, self->faults);
        return platform::noErr;
    }

    Fault fault() const { return std::get<0>(GetParam()); }
    int separation() const { return std::get<1>(GetParam()); }

    // Pushes the block and waits until it has been delivered, on the audio thread or through the
    // run loop.
    bool capture(const std::vector<short>& block) {
        const std::size_t before = recorder.count();
        script.current->push(block);
        if (!script.current->waitUntilIdle())
            return false;
        // With separation the audio thread only wakes the loop once two blocks wait: a second, empty
        // block forces the hand-over.
        if (separation() != 0) {
            script.current->push(std::vector<short>());
            if (!script.current->waitUntilIdle())
                return false;
            return platform::RunLoop::current()->runUntil([&] { return recorder.count() >= before + 2; },
                                                          5.0);
        }
        return recorder.count() >= before + 1;
    }

    std::vector<short> lastNonEmptyBlock() const {
        std::vector<std::vector<short>> blocks = recorder.blocks();
        for (auto it = blocks.rbegin(); it != blocks.rend(); ++it)
            if (!it->empty())
                return *it;
        return std::vector<short>();
    }

    void setFault(bool on) {
        switch (fault()) {
        case NO_COMPONENT:
            platform::selectAudioComponent(on ? nullptr : &component);
            break;
        case NEW_INSTANCE:
            script.fail[TestAudioUnit::STEP_NEW_INSTANCE] = on;
            break;
        case ENABLE_CAPTURE:
            faults.enableCapture = on;
            break;
        case ENABLE_PLAYBACK:
            faults.enablePlayback = on;
            break;
        case INPUT_FORMAT:
            script.fail[TestAudioUnit::STEP_INPUT_FORMAT] = on;
            break;
        case OUTPUT_FORMAT:
            script.fail[TestAudioUnit::STEP_OUTPUT_FORMAT] = on;
            break;
        case INPUT_CALLBACK:
            script.fail[TestAudioUnit::STEP_INPUT_CALLBACK] = on;
            break;
        case RENDER_CALLBACK:
            script.fail[TestAudioUnit::STEP_RENDER_CALLBACK] = on;
            break;
        case FAILURE_LISTENER:
            faults.failureListener = on;
            break;
        case INITIALIZE:
            script.fail[TestAudioUnit::STEP_INITIALIZE] = on;
            break;
        case PORT_NAME_TAKEN:
            if (on)
                squatter =
                    platform::MessagePort::createLocal("VoiceUnit", &VoiceUnitFaultTest::ignore, nullptr);
            else
                delete squatter;
            if (!on)
                squatter = nullptr;
            break;
        case START:
            script.fail[TestAudioUnit::STEP_START] = on;
            break;
        case RENDER_MID_STREAM:
            script.fail[TestAudioUnit::STEP_RENDER] = on;
            break;
        case DEVICE_MID_STREAM:
            break;
        case STOP:
        case STOP_ON_DISPOSE:
            script.fail[TestAudioUnit::STEP_STOP] = on;
            break;
        case RESET_ON_DISPOSE:
            faults.reset = on;
            break;
        }
    }

    static void ignore(platform::MessagePort*, platform::SInt32, void*) {}

    // The faulty round: what each step answers under the fault.
    void faultyRound() {
        const Fault f = fault();
        const bool setUpFails = f == NO_COMPONENT || f == NEW_INSTANCE || f == INPUT_FORMAT ||
                                f == OUTPUT_FORMAT || f == INPUT_CALLBACK || f == RENDER_CALLBACK ||
                                f == INITIALIZE || f == PORT_NAME_TAKEN;
        if (f == STOP || f == STOP_ON_DISPOSE || f == RENDER_MID_STREAM || f == DEVICE_MID_STREAM) {
            ASSERT_TRUE(unit.initialize());
            ASSERT_TRUE(unit.start());
            ASSERT_TRUE(capture(ramp(64, 1)));
            setFault(true);
        } else {
            setFault(true);
            if (setUpFails) {
                EXPECT_FALSE(unit.initialize());
                EXPECT_EQ(unit.state, VoiceUnit::STATE_FAILED);
                EXPECT_EQ(unit.audioUnitInstance(), nullptr);
                EXPECT_EQ(script.instancesMade, script.instancesDisposed);
                EXPECT_FALSE(unit.start());
                if (f == NO_COMPONENT) {
                    EXPECT_EQ(unit.lastErrorReason(), "no audio input is available");
                }
                return;
            }
            // Faults whose status the unit ignores, or that strike later.
            ASSERT_TRUE(unit.initialize());
            if (f == START) {
                EXPECT_FALSE(unit.start());
                EXPECT_EQ(unit.state, VoiceUnit::STATE_FAILED);
                return;
            }
            ASSERT_TRUE(unit.start());
            ASSERT_TRUE(capture(ramp(64, 1)));
            EXPECT_EQ(lastNonEmptyBlock(), ramp(64, 1));
        }

        switch (f) {
        case RENDER_MID_STREAM:
            // The block is still delivered, silent: never the samples of an earlier block.
            ASSERT_TRUE(capture(ramp(64, 500)));
            EXPECT_EQ(lastNonEmptyBlock(), std::vector<short>(64, 0));
            setFault(false);
            ASSERT_TRUE(capture(ramp(64, 900)));
            EXPECT_EQ(lastNonEmptyBlock(), ramp(64, 900));
            EXPECT_TRUE(unit.stop());
            break;
        case DEVICE_MID_STREAM:
            script.current->failDevice();
            ASSERT_TRUE(platform::RunLoop::current()->runUntil(
                [&] { return unit.state == VoiceUnit::STATE_FAILED; }, 5.0));
            EXPECT_FALSE(unit.stop());
            break;
        case STOP:
            EXPECT_FALSE(unit.stop());
            EXPECT_EQ(unit.state, VoiceUnit::STATE_FAILED);
            break;
        case STOP_ON_DISPOSE:
        case RESET_ON_DISPOSE: {
            EXPECT_TRUE(unit.dispose());
            EXPECT_EQ(unit.state, VoiceUnit::STATE_UNINITIALIZED);
            EXPECT_EQ(unit.audioUnitInstance(), nullptr);
            EXPECT_EQ(script.instancesMade, script.instancesDisposed);
            break;
        }
        default:
            EXPECT_TRUE(unit.stop());
            break;
        }
    }

    platform::AudioComponentEntry component;
    TestAudioUnit::Script script;
    FaultyAudioUnit::Faults faults;
    platform::MessagePort* squatter = nullptr;
    Recorder recorder;
    VoiceUnit unit;
};

TEST_P(VoiceUnitFaultTest, NextRecordCycleWorksAndNothingIsLeft) {
    faultyRound();
    setFault(false);

    // The next record cycle, as the app runs it after any failure.
    unit.stop();
    unit.dispose();
    EXPECT_EQ(unit.state, VoiceUnit::STATE_UNINITIALIZED);
    EXPECT_EQ(unit.audioUnitInstance(), nullptr);
    EXPECT_EQ(unit.messagePort(), nullptr);
    EXPECT_EQ(script.instancesMade, script.instancesDisposed);
    ASSERT_TRUE(unit.initialize()) << unit.lastErrorReason();
    ASSERT_TRUE(unit.start());
    const std::size_t before = recorder.count();
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(capture(ramp(160, 1000 * i)));
        EXPECT_EQ(lastNonEmptyBlock(), ramp(160, 1000 * i));
    }
    EXPECT_GE(recorder.count(), before + 3);
    EXPECT_TRUE(unit.stop());
    EXPECT_TRUE(unit.dispose());
    EXPECT_EQ(script.instancesMade, script.instancesDisposed);
    EXPECT_EQ(platform::MessagePort::findRemote("VoiceUnit"), nullptr);
}

std::string caseName(const ::testing::TestParamInfo<std::tuple<Fault, int>>& info) {
    return std::string(faultName(std::get<0>(info.param))) + "_Separation" +
           std::to_string(std::get<1>(info.param));
}

INSTANTIATE_TEST_SUITE_P(EveryStep, VoiceUnitFaultTest,
                         ::testing::Combine(::testing::Values(NO_COMPONENT, NEW_INSTANCE, ENABLE_CAPTURE,
                                                              ENABLE_PLAYBACK, INPUT_FORMAT, OUTPUT_FORMAT,
                                                              INPUT_CALLBACK, RENDER_CALLBACK,
                                                              FAILURE_LISTENER, INITIALIZE, PORT_NAME_TAKEN,
                                                              START, RENDER_MID_STREAM, DEVICE_MID_STREAM,
                                                              STOP, STOP_ON_DISPOSE, RESET_ON_DISPOSE),
                                            ::testing::Values(0, 1)),
                         caseName);

} // namespace
