#pragma once
// The audio-unit layer: the operations the voice unit drives (find a component, make an instance, set
// properties, initialize, start, stop, render, reset, dispose), each answering a status where 0 means
// success. Which backend the component search finds is a process-wide selection made before initialize
// (microphone, paced file or test double), so the voice unit keeps its default constructor. Callbacks
// and blocks use plain C types; an instance calls the installed input callback on its own audio thread,
// and the callback pulls the captured frames with AudioUnitRender on element 1.

#include <cstdint>
#include <string>

namespace platform {

class AudioUnitInstance;

typedef std::int32_t OSStatus;
typedef std::uint32_t UInt32;
typedef std::int32_t SInt32;
typedef UInt32 AudioUnitRenderActionFlags;
typedef UInt32 AudioUnitPropertyID;
typedef UInt32 AudioUnitScope;
typedef UInt32 AudioUnitElement;
typedef AudioUnitInstance* AudioUnit;

constexpr UInt32 fourCharCode(const char (&c)[5]) {
    return (UInt32(UInt32(c[0]) << 24) | UInt32(UInt32(c[1]) << 16) | UInt32(UInt32(c[2]) << 8) |
            UInt32(c[3]));
}

enum : OSStatus {
    noErr = 0,
    kAudioUnitErr_InvalidProperty = -10879,
    kAudioUnitErr_InvalidParameter = -10878,
    kAudioUnitErr_InvalidElement = -10877,
    kAudioUnitErr_FailedInitialization = -10875,
    kAudioUnitErr_FormatNotSupported = -10868,
    kAudioUnitErr_Uninitialized = -10867,
    kAudioUnitErr_CannotDoInCurrentContext = -10863,
    kAudioUnitErr_DeviceUnavailable = -10851,
};

enum : UInt32 {
    kAudioUnitType_Output = fourCharCode("auou"),
    kAudioUnitSubType_RemoteIO = fourCharCode("rioc"),
    kAudioUnitManufacturer_Apple = fourCharCode("appl"),
    kAudioFormatLinearPCM = fourCharCode("lpcm"),
};

enum : UInt32 {
    kAudioFormatFlagIsSignedInteger = 4,
    kAudioFormatFlagIsPacked = 8,
};

enum : AudioUnitScope {
    kAudioUnitScope_Global = 0,
    kAudioUnitScope_Input = 1,
    kAudioUnitScope_Output = 2,
};

enum : AudioUnitPropertyID {
    kAudioUnitProperty_StreamFormat = 8,
    kAudioUnitProperty_SetRenderCallback = 23,
    kAudioOutputUnitProperty_EnableIO = 2003,
    kAudioOutputUnitProperty_SetInputCallback = 2005,
    // A DeviceFailureListener called, on any thread, when capture stops on its own (the device vanished
    // or errored).
    kAudioOutputUnitProperty_DeviceFailureListener = 0x10001,
};

struct AudioTimeStamp {
    double mSampleTime;
    std::uint64_t mHostTime;
};

struct AudioBuffer {
    UInt32 mNumberChannels;
    UInt32 mDataByteSize;
    void* mData;
};

struct AudioBufferList {
    UInt32 mNumberBuffers;
    AudioBuffer mBuffers[1];
};

typedef OSStatus (*AURenderCallback)(void* inRefCon, AudioUnitRenderActionFlags* ioActionFlags,
                                     const AudioTimeStamp* inTimeStamp, UInt32 inBusNumber,
                                     UInt32 inNumberFrames, AudioBufferList* ioData);

struct AURenderCallbackStruct {
    AURenderCallback inputProc;
    void* inputProcRefCon;
};

struct DeviceFailureListener {
    void (*proc)(void* refCon);
    void* refCon;
};

struct AudioStreamBasicDescription {
    double mSampleRate;
    UInt32 mFormatID;
    UInt32 mFormatFlags;
    UInt32 mBytesPerPacket;
    UInt32 mFramesPerPacket;
    UInt32 mBytesPerFrame;
    UInt32 mChannelsPerFrame;
    UInt32 mBitsPerChannel;
    UInt32 mReserved;
};

struct AudioComponentDescription {
    UInt32 componentType;
    UInt32 componentSubType;
    UInt32 componentManufacturer;
    UInt32 componentFlags;
    UInt32 componentFlagsMask;
};

// A backend: its name and how it makes an instance. The context belongs to whoever selected it.
struct AudioComponentEntry {
    const char* name;
    OSStatus (*newInstance)(void* context, AudioUnit* outInstance);
    void* context;
};
typedef const AudioComponentEntry* AudioComponent;

// Chooses the backend the next component search finds; null leaves the process without one. Until the
// first choice the microphone backend is found. The entry must outlive every instance made from it.
// Call it while no voice unit is being initialised.
void selectAudioComponent(AudioComponent component);
AudioComponent selectedAudioComponent();

// The output unit with capture, or null when no backend is selected or the description asks for
// anything else. Passing a previous result continues the search, which finds nothing further.
AudioComponent AudioComponentFindNext(AudioComponent inComponent, const AudioComponentDescription* inDesc);
OSStatus AudioComponentInstanceNew(AudioComponent inComponent, AudioUnit* outInstance);
OSStatus AudioComponentInstanceDispose(AudioUnit inUnit);
OSStatus AudioUnitSetProperty(AudioUnit inUnit, AudioUnitPropertyID inID, AudioUnitScope inScope,
                              AudioUnitElement inElement, const void* inData, UInt32 inDataSize);
OSStatus AudioUnitInitialize(AudioUnit inUnit);
OSStatus AudioOutputUnitStart(AudioUnit inUnit);
OSStatus AudioOutputUnitStop(AudioUnit inUnit);
OSStatus AudioUnitRender(AudioUnit inUnit, AudioUnitRenderActionFlags* ioActionFlags,
                         const AudioTimeStamp* inTimeStamp, UInt32 inOutputBusNumber, UInt32 inNumberFrames,
                         AudioBufferList* ioData);
OSStatus AudioUnitReset(AudioUnit inUnit, AudioUnitScope inScope, AudioUnitElement inElement);
// Any thread: true once the unit's source has ended on its own after delivering all it holds (a
// recording); a device, and a null unit, never end.
bool AudioOutputUnitInputEnded(AudioUnit inUnit);

// The last failure a backend explained in words ("cannot open …: no such file"), for the user interface.
// Backends set it when a step fails; it is never set on an audio callback.
std::string audioErrorReason();
void setAudioErrorReason(const std::string& reason);

} // namespace platform
