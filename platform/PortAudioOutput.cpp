// The PortAudio speakers (see the header).

#include "PortAudioOutput.h"

#include <portaudio.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <thread>

#include "PortAudioAbort.h"
#include "PortAudioUnit.h"

namespace platform {

namespace {
constexpr double minimumLatency = 0.08;

// PortAudio stays initialised from one stream to the next, since starting it probes every audio system
// for the better part of a second and a resume must be heard at once. After a failure the next stream
// starts it anew, which is when a device plugged in meanwhile is found; never while a given-up stream
// may still call back.
std::mutex portAudioMutex;
bool portAudioHeld = false;
bool portAudioStale = false;
bool streamAbandoned = false;

bool holdPortAudio(std::string& reason) {
    std::lock_guard<std::mutex> lock(portAudioMutex);
    if (portAudioHeld && portAudioStale && !streamAbandoned) {
        Pa_Terminate();
        portAudioHeld = false;
    }
    portAudioStale = false;
    if (portAudioHeld)
        return true;
    PortAudioUnit::quietAudioLibraries();
    const PaError error = Pa_Initialize();
    if (error != paNoError) {
        reason = std::string("cannot start the audio system: ") + Pa_GetErrorText(error);
        return false;
    }
    portAudioHeld = true;
    return true;
}

void lookForDevicesAnew(bool abandoned) {
    std::lock_guard<std::mutex> lock(portAudioMutex);
    portAudioStale = true;
    streamAbandoned = streamAbandoned || abandoned;
}
} // namespace

// Each callback counts itself in before it looks at the client, so whoever cuts the link and then waits
// for the count to fall to zero knows no callback still uses the client, and none will.
struct PortAudioOutput::Link {
    Link(Client* c, int n) : client(c), channels(n) {}
    std::atomic<Client*> client;
    std::atomic<int> inside{0};
    std::atomic<bool> stopping{false};
    std::atomic<bool> failed{false};
    const int channels;

    void cut() {
        client.store(nullptr);
        // A callback in progress is a bounded piece of real-time work.
        while (inside.load() != 0)
            std::this_thread::yield();
    }

    static int stream(const void*, void* output, unsigned long frames, const PaStreamCallbackTimeInfo*,
                      PaStreamCallbackFlags, void* user) {
        Link* link = static_cast<Link*>(user);
        link->inside.fetch_add(1);
        Client* client = link->client.load();
        if (client != nullptr)
            client->play(static_cast<float*>(output), frames);
        else
            std::memset(output, 0, frames * unsigned(link->channels) * sizeof(float));
        link->inside.fetch_sub(1);
        return client != nullptr ? paContinue : paAbort;
    }
    static void finished(void* user) {
        Link* link = static_cast<Link*>(user);
        if (!link->stopping.load())
            link->failed.store(true);
    }
};

SoundOutput* PortAudioOutput::make() {
    return new PortAudioOutput;
}

PortAudioOutput::~PortAudioOutput() {
    const bool failedOnItsOwn = _link != nullptr && _link->failed.load();
    stop();
    if (failedOnItsOwn || _abandoned)
        lookForDevicesAnew(_abandoned);
}

bool PortAudioOutput::open(int rate, int channels, Client* client, std::string& reason) {
    if (!holdPortAudio(reason))
        return false;
    PaStreamParameters output = {};
    output.device = Pa_GetDefaultOutputDevice();
    const PaDeviceInfo* info = output.device == paNoDevice ? nullptr : Pa_GetDeviceInfo(output.device);
    if (info == nullptr || info->maxOutputChannels < 1) {
        reason = "no audio output found";
        lookForDevicesAnew(false);
        return false;
    }
    output.channelCount = channels;
    output.sampleFormat = paFloat32;
    // The lowest latency a sound server's device offers comes in periods of a few milliseconds, which a
    // loaded machine misses; a recording gains nothing from it.
    output.suggestedLatency = std::max(info->defaultHighOutputLatency, minimumLatency);
    _link = new Link(client, channels);
    const PaError error = Pa_OpenStream(&_stream, nullptr, &output, rate, paFramesPerBufferUnspecified,
                                        paClipOff, &Link::stream, _link);
    if (error != paNoError) {
        _stream = nullptr;
        delete _link;
        _link = nullptr;
        reason =
            std::string("cannot open \"") + (info->name ? info->name : "") + "\": " + Pa_GetErrorText(error);
        return false;
    }
    Pa_SetStreamFinishedCallback(_stream, &Link::finished);
    const PaStreamInfo* stream = Pa_GetStreamInfo(_stream);
    _latency = stream ? stream->outputLatency : 0.0;
    return true;
}

bool PortAudioOutput::start(std::string& reason) {
    if (_stream == nullptr) {
        reason = "the output is not open";
        return false;
    }
    const PaError error = Pa_StartStream(_stream);
    if (error != paNoError) {
        reason = std::string("cannot start the sound output: ") + Pa_GetErrorText(error);
        lookForDevicesAnew(false);
        return false;
    }
    return true;
}

bool PortAudioOutput::failed() const {
    return _link == nullptr || _link->failed.load();
}

void PortAudioOutput::stop() {
    if (_stream == nullptr)
        return;
    PaStream* stream = _stream;
    Link* link = _link;
    _stream = nullptr;
    _link = nullptr;
    link->stopping.store(true);
    // Given up, the stream's thread frees the link once the stream is closed.
    if (abortOrAbandon(
            stream, true, [link] { link->cut(); }, [link] { delete link; }))
        delete link;
    else
        _abandoned = true;
}

} // namespace platform
