#pragma once
// The speakers through PortAudio: the default output device, 32-bit float frames interleaved at the
// recording's own rate and channel count. PortAudio's callback thread pulls the client. A stream that
// finishes without being asked (device gone, sound server stopped) is marked failed. PortAudio is started
// for each stream and terminated with it, so a device plugged in meanwhile is found by the next one.
//
// Stopping aborts the stream (nothing buffered is played after it) on a helper thread; one that does not
// stop within 1.5 s is given up as the microphone backend gives up its own: the callbacks' link to the
// client is cut first, and the link outlives this object until the stream finally stops.

#include <string>

#include "SoundOutput.h"

typedef void PaStream;

namespace platform {

class PortAudioOutput : public SoundOutput {
public:
    static SoundOutput* make();

    PortAudioOutput() = default;
    ~PortAudioOutput() override;

    bool open(int rate, int channels, Client* client, std::string& reason) override;
    bool start(std::string& reason) override;
    void stop() override;
    bool failed() const override;
    double latency() const override { return _latency; }

    // PortAudio's callbacks, defined where its types are known.
    struct Link;

private:
    bool _abandoned = false;
    PaStream* _stream = nullptr;
    Link* _link = nullptr;
    double _latency = 0.0;
};

} // namespace platform
