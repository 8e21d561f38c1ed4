#pragma once
// A scriptable audio unit for tests and benchmarks. Its script, shared with the test, can make any step
// the voice unit acts on fail, records every property set, and gives access to the live instance, which
// runs its own audio thread while started: blocks of any length (0 included) pushed by the test are
// captured there, one input callback each, and the play path can be rendered there on request. A device
// failure can be raised from the audio thread as a vanished microphone would.

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "AudioUnitInstance.h"

namespace platform {

class TestAudioUnit : public AudioUnitInstance {
public:
    enum Step {
        STEP_NEW_INSTANCE,
        STEP_INPUT_FORMAT,
        STEP_OUTPUT_FORMAT,
        STEP_INPUT_CALLBACK,
        STEP_RENDER_CALLBACK,
        STEP_INITIALIZE,
        STEP_START,
        STEP_STOP,
        STEP_RENDER,
        STEP_COUNT
    };

    struct PropertyCall {
        AudioUnitPropertyID id;
        AudioUnitScope scope;
        AudioUnitElement element;
        UInt32 value; // the first word of the data
    };

    // Shared by the test and the instances made from its component; select it with
    // selectAudioComponent(&script.component) before initialize.
    struct Script {
        Script();
        bool fail[STEP_COUNT];
        AudioComponentEntry component;
        // Control thread only.
        TestAudioUnit* current;
        int instancesMade;
        int instancesDisposed;
        std::vector<PropertyCall> properties;
        // Audio thread: called just before and just after each input callback.
        void (*inputHook)(bool after, void* context);
        void* inputHookContext;

        bool wasSet(AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element) const;
    };

    explicit TestAudioUnit(Script& script);
    ~TestAudioUnit() override;

    OSStatus setProperty(AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element,
                         const void* data, UInt32 size) override;
    OSStatus initialize() override;
    OSStatus start() override;
    OSStatus stop() override;
    OSStatus render(AudioUnitRenderActionFlags* flags, const AudioTimeStamp* timeStamp, UInt32 bus,
                    UInt32 frames, AudioBufferList* ioData) override;

    // Test thread: queues one captured block; it runs on the audio thread while the unit is started.
    void push(const std::vector<short>& samples);
    // Test thread: waits until every queued request has run (or the unit stopped); false on timeout.
    bool waitUntilIdle(double timeoutSeconds = 5.0);
    // Test thread: runs the render callback on the audio thread for `frames` frames into a buffer of
    // `capacity` samples and returns what it wrote; false if the unit is not started.
    bool renderOutput(UInt32 frames, UInt32 capacity, std::vector<short>& written);
    // Test thread: the audio thread reports a device failure.
    void failDevice();

    std::thread::id audioThreadId() const { return _thread.get_id(); }
    bool isRunning() const;

private:
    struct Request {
        enum Kind { CAPTURE, RENDER, FAIL } kind;
        std::vector<short> samples;
        UInt32 frames;
        UInt32 capacity;
    };

    static OSStatus makeInstance(void* context, AudioUnit* out);
    // Stops the audio thread whatever the script says.
    void halt();
    void run();
    void execute(Request& request);

    Script& _script;
    bool _initialized;
    std::thread _thread;

    mutable std::mutex _mutex;
    std::condition_variable _changed;
    std::deque<Request> _requests;
    bool _running;
    bool _busy;
    std::vector<short> _rendered;
    bool _renderDone;

    // Audio thread: the block being captured, read by render on element 1.
    const std::vector<short>* _capturing;
};

} // namespace platform
