// The PortAudio microphone backend (see the header). The stream is opened at initialize so that a
// missing or unsuitable device fails there, with a reason the user interface can show.

#include "PortAudioUnit.h"

#include <dlfcn.h>
#include <portaudio.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>

#include "PortAudioAbort.h"

namespace platform {

namespace {

std::atomic<int> chosenDevice{-1};

std::string paReason(const char* what, PaError error) {
    return std::string(what) + ": " + Pa_GetErrorText(error);
}

void ignoreAlsaError(const char*, int, const char*, int, const char*, ...) {}
void ignoreJackMessage(const char*) {}

// PortAudio's probing of ALSA and JACK makes those libraries print a hundred lines on standard error
// when devices are missing, burying the one line that says so. Their own reporting is turned off, and
// JACK is kept from starting a server just to be asked for devices. Both are found in the process,
// where PortAudio brought them, so that neither is a dependency of its own; one that is absent is
// simply not asked.
void quietLibraries() {
    static std::once_flag once;
    std::call_once(once, [] {
        setenv("JACK_NO_START_SERVER", "1", 1);
        typedef void (*AlsaHandler)(const char*, int, const char*, int, const char*, ...);
        typedef int (*SetAlsaHandler)(AlsaHandler);
        if (void* f = dlsym(RTLD_DEFAULT, "snd_lib_error_set_handler"))
            reinterpret_cast<SetAlsaHandler>(f)(&ignoreAlsaError);
        typedef void (*SetJackFunction)(void (*)(const char*));
        if (void* f = dlsym(RTLD_DEFAULT, "jack_set_error_function"))
            reinterpret_cast<SetJackFunction>(f)(&ignoreJackMessage);
        if (void* f = dlsym(RTLD_DEFAULT, "jack_set_info_function"))
            reinterpret_cast<SetJackFunction>(f)(&ignoreJackMessage);
    });
}

} // namespace

// The callbacks' way to the instance. Each callback counts itself in before it looks at `unit`, so
// whoever cuts the link and then waits for the count to fall to zero knows no callback still uses the
// instance, and none will.
struct PortAudioUnit::CallbackLink {
    explicit CallbackLink(PortAudioUnit* u) : unit(u), inside(0) {}
    std::atomic<PortAudioUnit*> unit;
    std::atomic<int> inside;

    void cut() {
        unit.store(0);
        // A callback in progress is a bounded piece of real-time work.
        while (inside.load() != 0)
            std::this_thread::yield();
    }
};

struct PortAudioCallbacks {
    static int stream(const void* input, void* output, unsigned long frames, const PaStreamCallbackTimeInfo*,
                      PaStreamCallbackFlags, void* userData) {
        PortAudioUnit::CallbackLink* link = static_cast<PortAudioUnit::CallbackLink*>(userData);
        link->inside.fetch_add(1);
        PortAudioUnit* unit = link->unit.load();
        if (unit != 0)
            unit->period(static_cast<const short*>(input), static_cast<short*>(output), frames);
        else if (output != 0)
            std::memset(output, 0, frames * sizeof(short));
        link->inside.fetch_sub(1);
        // A given-up stream is asked to end; it plays silence until it does.
        return unit != 0 ? paContinue : paAbort;
    }
    static void finished(void* userData) {
        PortAudioUnit::CallbackLink* link = static_cast<PortAudioUnit::CallbackLink*>(userData);
        link->inside.fetch_add(1);
        if (PortAudioUnit* unit = link->unit.load())
            unit->finished();
        link->inside.fetch_sub(1);
    }
};

AudioComponent PortAudioUnit::component() {
    static const AudioComponentEntry entry = {"microphone", &PortAudioUnit::makeInstance, 0};
    return &entry;
}

void PortAudioUnit::selectDevice(int index) {
    chosenDevice.store(index);
}

int PortAudioUnit::selectedDevice() {
    return chosenDevice.load();
}

std::vector<PortAudioUnit::DeviceInfo> PortAudioUnit::listInputDevices() {
    std::vector<DeviceInfo> devices;
    quietLibraries();
    PaError error = Pa_Initialize();
    if (error != paNoError) {
        setAudioErrorReason(paReason("cannot start the audio system", error));
        return devices;
    }
    const PaDeviceIndex defaultInput = Pa_GetDefaultInputDevice();
    for (PaDeviceIndex i = 0; i < Pa_GetDeviceCount(); ++i) {
        const PaDeviceInfo* info = Pa_GetDeviceInfo(i);
        if (info == 0 || info->maxInputChannels < 1)
            continue;
        const PaHostApiInfo* host = Pa_GetHostApiInfo(info->hostApi);
        devices.push_back(DeviceInfo{i, info->name ? info->name : "", host && host->name ? host->name : "",
                                     info->maxInputChannels, info->defaultSampleRate, i == defaultInput});
    }
    Pa_Terminate();
    return devices;
}

int PortAudioUnit::findInputDevice(const std::string& nameOrIndex) {
    const std::vector<DeviceInfo> devices = listInputDevices();
    char* end = 0;
    const long index = std::strtol(nameOrIndex.c_str(), &end, 10);
    const bool numeric = !nameOrIndex.empty() && end != 0 && *end == 0;
    for (const DeviceInfo& d : devices)
        if (numeric ? d.index == index : d.name == nameOrIndex)
            return d.index;
    if (!numeric)
        for (const DeviceInfo& d : devices)
            if (d.name.find(nameOrIndex) != std::string::npos)
                return d.index;
    setAudioErrorReason("no input device \"" + nameOrIndex + "\"");
    return -1;
}

void PortAudioUnit::quietAudioLibraries() {
    quietLibraries();
}

OSStatus PortAudioUnit::makeInstance(void*, AudioUnit* out) {
    *out = new PortAudioUnit();
    return noErr;
}

PortAudioUnit::PortAudioUnit()
    : _paInitialized(false), _stream(0), _link(0), _abandoned(false), _stopping(false), _periods(0),
      _watching(false), _input(0), _inputFrames(0) {}

PortAudioUnit::~PortAudioUnit() {
    stopWatching();
    closeStream();
    // PortAudio would wait for an abandoned stream's thread at termination: leave it initialised.
    if (_paInitialized && !_abandoned)
        Pa_Terminate();
}

bool PortAudioUnit::abortStream(bool close) {
    CallbackLink* link = _link;
    if (abortOrAbandon(
            _stream, close, [link] { link->cut(); }, [link] { delete link; })) {
        // An abort that returned only after the cut keeps its stream: the callbacks find their way here
        // again.
        link->unit.store(this);
        return true;
    }
    _abandoned = true;
    _stream = 0;
    _link = 0;
    setAudioErrorReason("the audio device does not respond");
    return false;
}

void PortAudioUnit::closeStream() {
    if (_stream == 0)
        return;
    _stopping = true;
    if (abortStream(true))
        delete _link;
    _stream = 0;
    _link = 0;
}

OSStatus PortAudioUnit::initialize() {
    if (OSStatus status = checkConfiguration())
        return status;
    closeStream();
    if (!_paInitialized) {
        quietLibraries();
        PaError error = Pa_Initialize();
        if (error != paNoError) {
            setAudioErrorReason(paReason("cannot start the audio system", error));
            return kAudioUnitErr_FailedInitialization;
        }
        _paInitialized = true;
    }
    PaDeviceIndex device = chosenDevice.load();
    if (device < 0)
        device = Pa_GetDefaultInputDevice();
    const PaDeviceInfo* info = device == paNoDevice ? 0 : Pa_GetDeviceInfo(device);
    if (info == 0 || info->maxInputChannels < 1) {
        setAudioErrorReason("No microphone found");
        return kAudioUnitErr_DeviceUnavailable;
    }
    PaStreamParameters input = {};
    input.device = device;
    input.channelCount = 1;
    input.sampleFormat = paInt16;
    input.suggestedLatency = info->defaultLowInputLatency;

    PaStreamParameters output = {};
    PaStreamParameters* outputParameters = 0;
    if (outputEnabled()) {
        output.device = Pa_GetDefaultOutputDevice();
        const PaDeviceInfo* outInfo = output.device == paNoDevice ? 0 : Pa_GetDeviceInfo(output.device);
        if (outInfo == 0) {
            setAudioErrorReason("No audio output found");
            return kAudioUnitErr_DeviceUnavailable;
        }
        output.channelCount = 1;
        output.sampleFormat = paInt16;
        output.suggestedLatency = outInfo->defaultLowOutputLatency;
        outputParameters = &output;
    }
    const double rate = inputFormat().mSampleRate;
    _link = new CallbackLink(this);
    PaError error = Pa_OpenStream(&_stream, &input, outputParameters, rate, paFramesPerBufferUnspecified,
                                  paNoFlag, &PortAudioCallbacks::stream, _link);
    if (error != paNoError) {
        _stream = 0;
        delete _link;
        _link = 0;
        setAudioErrorReason(paReason((std::string("cannot open \"") + info->name + "\"").c_str(), error));
        return kAudioUnitErr_FormatNotSupported;
    }
    Pa_SetStreamFinishedCallback(_stream, &PortAudioCallbacks::finished);
    return noErr;
}

OSStatus PortAudioUnit::start() {
    if (_stream == 0)
        return kAudioUnitErr_Uninitialized;
    if (Pa_IsStreamActive(_stream) == 1)
        return noErr;
    // A stream that ended on its own must be stopped before it can start again.
    if (Pa_IsStreamStopped(_stream) == 0)
        if (!abortStream(false))
            return kAudioUnitErr_CannotDoInCurrentContext;
    _stopping = false;
    armDeviceFailure();
    PaError error = Pa_StartStream(_stream);
    if (error != paNoError) {
        setAudioErrorReason(paReason("cannot start capture", error));
        return kAudioUnitErr_CannotDoInCurrentContext;
    }
    stopWatching();
    _watching = true;
    _watchdog = std::thread(&PortAudioUnit::watch, this);
    return noErr;
}

OSStatus PortAudioUnit::stop() {
    if (_stream == 0)
        return kAudioUnitErr_Uninitialized;
    _stopping = true;
    stopWatching();
    if (Pa_IsStreamStopped(_stream) == 1)
        return noErr;
    // Abort rather than drain: a stream whose device is failing may never drain, and waiting for it
    // would hang the control thread. Only capture is lost, and the caller asked to stop it.
    return abortStream(false) ? noErr : kAudioUnitErr_CannotDoInCurrentContext;
}

OSStatus PortAudioUnit::render(AudioUnitRenderActionFlags*, const AudioTimeStamp*, UInt32 bus, UInt32 frames,
                               AudioBufferList* ioData) {
    if (bus != 1)
        return noErr;
    if (_input == 0)
        return kAudioUnitErr_CannotDoInCurrentContext;
    UInt32 n = frames < _inputFrames ? frames : UInt32(_inputFrames);
    if (n > ioData->mBuffers[0].mDataByteSize / 2)
        n = ioData->mBuffers[0].mDataByteSize / 2;
    if (n > 0)
        std::memcpy(ioData->mBuffers[0].mData, _input, n * sizeof(short));
    return noErr;
}

void PortAudioUnit::stopWatching() {
    {
        std::lock_guard<std::mutex> lock(_watchMutex);
        _watching = false;
    }
    _watchWake.notify_all();
    if (_watchdog.joinable())
        _watchdog.join();
}

void PortAudioUnit::watch() {
    const auto silence = std::chrono::seconds(2);
    unsigned long seen = _periods.load();
    auto lastProgress = std::chrono::steady_clock::now();
    std::unique_lock<std::mutex> lock(_watchMutex);
    while (_watching) {
        _watchWake.wait_for(lock, std::chrono::milliseconds(100));
        if (!_watching)
            return;
        const unsigned long now = _periods.load();
        if (now != seen) {
            seen = now;
            lastProgress = std::chrono::steady_clock::now();
        } else if (std::chrono::steady_clock::now() - lastProgress > silence) {
            if (!_stopping) {
                setAudioErrorReason("the microphone stopped delivering sound");
                reportDeviceFailure();
            }
            return;
        }
    }
}

void PortAudioUnit::period(const short* input, short* output, unsigned long frames) {
    _periods.fetch_add(1, std::memory_order_relaxed);
    AudioUnitRenderActionFlags flags = 0;
    AudioTimeStamp stamp = {0, 0};
    _input = input;
    _inputFrames = frames;
    callInput(&flags, &stamp, UInt32(frames));
    _input = 0;
    if (output != 0) {
        AudioBufferList list;
        list.mNumberBuffers = 1;
        list.mBuffers[0].mNumberChannels = 1;
        list.mBuffers[0].mDataByteSize = UInt32(frames * 2);
        list.mBuffers[0].mData = output;
        if (callRender(&flags, &stamp, UInt32(frames), &list) != noErr)
            std::memset(output, 0, frames * 2);
    }
}

void PortAudioUnit::finished() {
    if (_stopping)
        return;
    setAudioErrorReason("the microphone stopped delivering sound");
    reportDeviceFailure();
}

} // namespace platform
