#pragma once
// The common part of every audio-unit backend: it checks and keeps the properties the voice unit sets
// (which elements are enabled, their stream formats, the input and render callbacks, the failure
// listener) and offers the calls a backend makes from its audio thread. Backends add initialize, start,
// stop and render. Properties may change only while the instance is stopped; the audio thread reads
// them without a lock.

#include <atomic>

#include "AudioUnit.h"

namespace platform {

class AudioUnitInstance {
public:
    AudioUnitInstance();
    // A backend's destructor stops its threads first: no callback runs once it returns.
    virtual ~AudioUnitInstance();
    AudioUnitInstance(const AudioUnitInstance&) = delete;
    AudioUnitInstance& operator=(const AudioUnitInstance&) = delete;

    virtual OSStatus setProperty(AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element,
                                 const void* data, UInt32 size);
    virtual OSStatus initialize() = 0;
    virtual OSStatus start() = 0;
    virtual OSStatus stop() = 0;
    // Element 1 copies the captured frames of the current input period into ioData; element 0 is the
    // output, which the render callback fills.
    virtual OSStatus render(AudioUnitRenderActionFlags* flags, const AudioTimeStamp* timeStamp, UInt32 bus,
                            UInt32 frames, AudioBufferList* ioData) = 0;
    virtual OSStatus reset(AudioUnitScope scope, AudioUnitElement element);
    // Any thread: true once a finite source (a recording) has delivered all it holds; a device never ends.
    virtual bool inputEnded() const { return false; }

    bool inputEnabled() const { return _inputEnabled; }
    bool outputEnabled() const { return _outputEnabled; }
    bool hasInputFormat() const { return _hasInputFormat; }
    bool hasOutputFormat() const { return _hasOutputFormat; }
    const AudioStreamBasicDescription& inputFormat() const { return _inputFormat; }
    const AudioStreamBasicDescription& outputFormat() const { return _outputFormat; }
    bool hasInputCallback() const { return _inputCallback.inputProc != 0; }
    bool hasRenderCallback() const { return _renderCallback.inputProc != 0; }

protected:
    // Checks the settings a backend needs before it initialises: capture enabled with a 16-bit mono
    // linear format and an input callback, and a matching format for the output when it is enabled.
    OSStatus checkConfiguration() const;

    // Audio thread: runs the input callback for a period of `frames` frames.
    OSStatus callInput(AudioUnitRenderActionFlags* flags, const AudioTimeStamp* timeStamp, UInt32 frames);
    // Audio thread: asks the render callback to fill ioData for the output element.
    OSStatus callRender(AudioUnitRenderActionFlags* flags, const AudioTimeStamp* timeStamp, UInt32 frames,
                        AudioBufferList* ioData);
    // Any thread: capture ended on its own; tells the listener once per start.
    void reportDeviceFailure();
    void armDeviceFailure() { _failureReported.store(false); }

private:
    bool _inputEnabled;
    bool _outputEnabled;
    bool _hasInputFormat;
    bool _hasOutputFormat;
    AudioStreamBasicDescription _inputFormat;
    AudioStreamBasicDescription _outputFormat;
    AURenderCallbackStruct _inputCallback;
    AURenderCallbackStruct _renderCallback;
    DeviceFailureListener _failureListener;
    std::atomic<bool> _failureReported;
};

} // namespace platform
