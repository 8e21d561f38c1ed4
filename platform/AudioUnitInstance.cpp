// Property checks and callback plumbing shared by every backend (see the header).

#include "AudioUnitInstance.h"

#include <cstring>

namespace platform {

namespace {

bool isSupportedFormat(const AudioStreamBasicDescription& f) {
    return f.mSampleRate > 0 && f.mSampleRate <= 384000 && f.mFormatID == kAudioFormatLinearPCM &&
           (f.mFormatFlags & kAudioFormatFlagIsSignedInteger) != 0 && f.mBytesPerPacket == 2 &&
           f.mFramesPerPacket == 1 && f.mBytesPerFrame == 2 && f.mChannelsPerFrame == 1 &&
           f.mBitsPerChannel == 16;
}

} // namespace

AudioUnitInstance::AudioUnitInstance()
    : _inputEnabled(true), _outputEnabled(true), _hasInputFormat(false), _hasOutputFormat(false),
      _inputFormat(), _outputFormat(), _inputCallback(), _renderCallback(), _failureListener(),
      _failureReported(false) {}

AudioUnitInstance::~AudioUnitInstance() = default;

OSStatus AudioUnitInstance::setProperty(AudioUnitPropertyID id, AudioUnitScope scope,
                                        AudioUnitElement element, const void* data, UInt32 size) {
    if (data == 0)
        return kAudioUnitErr_InvalidParameter;
    switch (id) {
    case kAudioOutputUnitProperty_EnableIO: {
        if (size != sizeof(UInt32))
            return kAudioUnitErr_InvalidParameter;
        UInt32 on;
        std::memcpy(&on, data, sizeof on);
        if (scope == kAudioUnitScope_Input && element == 1)
            _inputEnabled = on != 0;
        else if (scope == kAudioUnitScope_Output && element == 0)
            _outputEnabled = on != 0;
        else
            return kAudioUnitErr_InvalidElement;
        return noErr;
    }
    case kAudioUnitProperty_StreamFormat: {
        if (size != sizeof(AudioStreamBasicDescription))
            return kAudioUnitErr_InvalidParameter;
        AudioStreamBasicDescription f;
        std::memcpy(&f, data, sizeof f);
        if (!isSupportedFormat(f))
            return kAudioUnitErr_FormatNotSupported;
        if (scope == kAudioUnitScope_Output && element == 1) {
            _inputFormat = f;
            _hasInputFormat = true;
        } else if (scope == kAudioUnitScope_Input && element == 0) {
            _outputFormat = f;
            _hasOutputFormat = true;
        } else {
            return kAudioUnitErr_InvalidElement;
        }
        return noErr;
    }
    case kAudioOutputUnitProperty_SetInputCallback:
        if (size != sizeof(AURenderCallbackStruct))
            return kAudioUnitErr_InvalidParameter;
        std::memcpy(&_inputCallback, data, sizeof _inputCallback);
        return noErr;
    case kAudioUnitProperty_SetRenderCallback:
        if (size != sizeof(AURenderCallbackStruct))
            return kAudioUnitErr_InvalidParameter;
        if (element != 0)
            return kAudioUnitErr_InvalidElement;
        std::memcpy(&_renderCallback, data, sizeof _renderCallback);
        return noErr;
    case kAudioOutputUnitProperty_DeviceFailureListener:
        if (size != sizeof(DeviceFailureListener))
            return kAudioUnitErr_InvalidParameter;
        std::memcpy(&_failureListener, data, sizeof _failureListener);
        return noErr;
    default:
        return kAudioUnitErr_InvalidProperty;
    }
}

OSStatus AudioUnitInstance::reset(AudioUnitScope, AudioUnitElement) {
    return noErr;
}

OSStatus AudioUnitInstance::checkConfiguration() const {
    if (!_inputEnabled || !_hasInputFormat || _inputCallback.inputProc == 0) {
        setAudioErrorReason("capture is not configured (input element, format or callback missing)");
        return kAudioUnitErr_FailedInitialization;
    }
    if (_outputEnabled && (!_hasOutputFormat || _outputFormat.mSampleRate != _inputFormat.mSampleRate)) {
        setAudioErrorReason("playback needs a stream format at the capture rate");
        return kAudioUnitErr_FormatNotSupported;
    }
    return noErr;
}

OSStatus AudioUnitInstance::callInput(AudioUnitRenderActionFlags* flags, const AudioTimeStamp* timeStamp,
                                      UInt32 frames) {
    return _inputCallback.inputProc(_inputCallback.inputProcRefCon, flags, timeStamp, 1, frames, 0);
}

OSStatus AudioUnitInstance::callRender(AudioUnitRenderActionFlags* flags, const AudioTimeStamp* timeStamp,
                                       UInt32 frames, AudioBufferList* ioData) {
    if (_renderCallback.inputProc == 0)
        return kAudioUnitErr_Uninitialized;
    return _renderCallback.inputProc(_renderCallback.inputProcRefCon, flags, timeStamp, 0, frames, ioData);
}

void AudioUnitInstance::reportDeviceFailure() {
    if (_failureReported.exchange(true))
        return;
    if (_failureListener.proc != 0)
        _failureListener.proc(_failureListener.refCon);
}

} // namespace platform
