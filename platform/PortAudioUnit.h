#pragma once
// The microphone backend over PortAudio: one stream of 16-bit mono samples at the capture rate from the
// chosen input device (the default one unless a device was selected), plus the default output when the
// output element is enabled. PortAudio's callback thread is the audio thread: each period runs the input
// callback, which renders element 1 straight from PortAudio's input buffer, then the render callback
// into the output buffer. A stream that finishes on its own (device gone or failing) is reported to the
// failure listener, and so is one that stops calling back for two seconds: a failing device does not
// always end the stream, it can leave PortAudio's thread spinning. Opening problems leave a reason in
// audioErrorReason().
//
// PortAudio's callbacks reach the instance through a link of their own. A stream whose stop does not
// finish in time is given up: its link is cut first, so whatever the stream still calls afterwards finds
// nothing to do, and the link outlives the instance until the stream finally stops and is closed.

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "AudioUnitInstance.h"

typedef void PaStream;

namespace platform {

class PortAudioUnit : public AudioUnitInstance {
public:
    struct DeviceInfo {
        int index;
        std::string name;
        std::string hostApi;
        int maxInputChannels;
        double defaultSampleRate;
        bool isDefaultInput;
    };

    // The component to select; instances use the device chosen with selectDevice.
    static AudioComponent component();
    // -1 means the system's default input.
    static void selectDevice(int index);
    static int selectedDevice();
    // Every device with an input; empty (and a reason set) when PortAudio cannot start.
    static std::vector<DeviceInfo> listInputDevices();
    // A device given by index or by (part of) its name; -1 and a reason when none matches.
    static int findInputDevice(const std::string& nameOrIndex);
    // Keeps ALSA and JACK from printing while PortAudio probes them; every user of PortAudio calls it
    // before Pa_Initialize.
    static void quietAudioLibraries();

    PortAudioUnit();
    ~PortAudioUnit() override;

    OSStatus initialize() override;
    OSStatus start() override;
    OSStatus stop() override;
    OSStatus render(AudioUnitRenderActionFlags* flags, const AudioTimeStamp* timeStamp, UInt32 bus,
                    UInt32 frames, AudioBufferList* ioData) override;

private:
    static OSStatus makeInstance(void* context, AudioUnit* out);
    // PortAudio's callbacks, defined where its types are known.
    friend struct PortAudioCallbacks;
    struct CallbackLink;
    void period(const short* input, short* output, unsigned long frames);
    void finished();
    // Aborts (and closes) the stream on a helper thread; when that takes too long the stream is given
    // up, false is returned, and PortAudio is never terminated by this instance.
    bool abortStream(bool close);
    void closeStream();
    void watch();
    void stopWatching();

    bool _paInitialized;
    PaStream* _stream;
    // What the open stream's callbacks are given; null without a stream.
    CallbackLink* _link;
    bool _abandoned;
    std::atomic<bool> _stopping;
    std::atomic<unsigned long> _periods;
    std::thread _watchdog;
    std::mutex _watchMutex;
    std::condition_variable _watchWake;
    bool _watching;
    // Audio thread: the input of the current period.
    const short* _input;
    unsigned long _inputFrames;
};

} // namespace platform
