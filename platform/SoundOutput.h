#pragma once
// A stream to the speakers as the file backend uses it: opened at the recording's own rate and channel
// count, it pulls interleaved float frames from its client on its own audio thread, and that pull is the
// recording's clock. Stopping is immediate: what the device still holds is dropped, so a pause is heard
// at once. A stream that ends on its own (the device unplugged, the sound server gone) says so through
// failed(); one that simply stops pulling is caught by the client's own watch.

#include <string>

namespace platform {

class SoundOutput {
public:
    class Client {
    public:
        // Audio thread: fills `frames` interleaved frames; must not block, allocate or touch a file.
        virtual void play(float* out, unsigned long frames) noexcept = 0;

    protected:
        ~Client() = default;
    };

    // Makes an unopened stream; the process-wide choice of FileAudioUnit::setSoundOutput.
    typedef SoundOutput* (*Maker)();

    virtual ~SoundOutput() = default;
    // Opens the default output; false with the reason in a few words.
    virtual bool open(int rate, int channels, Client* client, std::string& reason) = 0;
    virtual bool start(std::string& reason) = 0;
    // No call of the client is under way or follows once it returns, even when the device hangs.
    virtual void stop() = 0;
    // Any thread: true once the stream ended without being asked to.
    virtual bool failed() const = 0;
    // Seconds from a pull to its sound leaving the device, as the device reports it.
    virtual double latency() const = 0;
};

} // namespace platform
