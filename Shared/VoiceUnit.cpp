// The voice unit: set-up and tear-down of the audio unit and the wake-up port, the audio-thread
// callbacks and the delivery of captured blocks (see the header). On the audio thread the steady state
// is one queue lock per block, no allocation once the pool holds enough blocks, and at most one
// one-way message.

#include "VoiceUnit.h"

#include <cstdlib>
#include <cstring>

#include "platform/MessagePort.h"
#include "platform/RunLoop.h"
#include "platform/RunLoopSource.h"
#include "platform/ThreadPolicy.h"
#include "src/brel_memory.h"

using namespace platform;

namespace {
// The largest period the platform hands the input callback; a longer one grows its blocks once.
const int MAX_FRAMES_PER_SLICE = 4096;
} // namespace

const char* VoiceUnit::Properties::SAMPLING_RATE = "SAMPLING_RATE";
const char* VoiceUnit::Properties::THREAD_SEPARATION = "THREAD_SEPARATION";
const char* VoiceUnit::Properties::PLAY_BUFFER_CAPACITY = "PLAY_BUFFER_CAPACITY";
const char* VoiceUnit::Properties::THREAD_PRECEDENCE = "THREAD_PRECEDENCE";
const char* VoiceUnit::Properties::THREAD_IS_TIMESHARE = "THREAD_IS_TIMESHARE";

VoiceUnit::VoiceUnit()
    : ioFlags(IO_PLAY | IO_RECORD), properties(), callbacks(), state(STATE_UNINITIALIZED), audioUnit(0),
      bufferQueue(), playBuffer(1400), portName("VoiceUnit"), localPort(0), runLoopSource(0) {
    setupDefaultProps();
    pthread_mutex_init(&playMutex, 0);
}

VoiceUnit::~VoiceUnit() {
    dispose();
    pthread_mutex_destroy(&playMutex);
}

void VoiceUnit::setupDefaultProps() {
    properties.set(PropertyKey(Properties::SAMPLING_RATE), PropertyValue(8000));
    properties.set(PropertyKey(Properties::THREAD_SEPARATION), PropertyValue(1));
    properties.set(PropertyKey(Properties::PLAY_BUFFER_CAPACITY), PropertyValue(1400));
    properties.set(PropertyKey(Properties::THREAD_PRECEDENCE), PropertyValue(0));
    properties.set(PropertyKey(Properties::THREAD_IS_TIMESHARE), PropertyValue(0));
}

VoiceUnit::PropertyValue VoiceUnit::getProperty(PropertyKey key) {
    return properties[key];
}

std::string VoiceUnit::lastErrorReason() const {
    return audioErrorReason();
}

bool VoiceUnit::inputEnded() const {
    return AudioOutputUnitInputEnded(audioUnit);
}

bool VoiceUnit::initialize() {
    if (state == STATE_INITIALIZED || state == STATE_RUNNING)
        return false;
    // A failed attempt leaves its port (and perhaps an audio unit) behind: release them before
    // setting up again, so nothing leaks and the port name is free.
    if (state == STATE_FAILED)
        dispose();
    setAudioErrorReason(std::string());
    state = initRemoteIO() ? STATE_INITIALIZED : STATE_FAILED;

    localPort = MessagePort::createLocal(portName, &VoiceUnit::MessagePortCallback, this);
    if (localPort == 0) {
        // Another voice unit holds the name: blocks could never be delivered here.
        setAudioErrorReason("another voice unit is already capturing");
        cleanUpAudioUnit();
        state = STATE_FAILED;
        return false;
    }
    runLoopSource = localPort->createRunLoopSource();
    RunLoop::current()->addSource(runLoopSource);
    // However far the consumer falls behind, the audio thread then finds a block in the pool.
    bufferQueue.prime(MAX_FRAMES_PER_SLICE);
    return state == STATE_INITIALIZED;
}

void VoiceUnit::cleanUpAudioUnit() {
    if (audioUnit != 0) {
        AudioUnitReset(audioUnit, kAudioUnitScope_Input, 1);
        AudioComponentInstanceDispose(audioUnit);
        audioUnit = 0;
    }
}

bool VoiceUnit::initRemoteIO() {
    AudioComponentDescription description;
    description.componentType = kAudioUnitType_Output;
    description.componentSubType = kAudioUnitSubType_RemoteIO;
    description.componentManufacturer = kAudioUnitManufacturer_Apple;
    description.componentFlags = 0;
    description.componentFlagsMask = 0;
    AudioComponent component = AudioComponentFindNext(0, &description);
    if (component == 0)
        return false;

    AudioComponentInstanceNew(component, &audioUnit);

    UInt32 enable = (ioFlags & IO_RECORD) ? 1 : 0;
    AudioUnitSetProperty(audioUnit, kAudioOutputUnitProperty_EnableIO, kAudioUnitScope_Input, 1, &enable,
                         sizeof(enable));
    enable = (ioFlags & IO_PLAY) ? 1 : 0;
    AudioUnitSetProperty(audioUnit, kAudioOutputUnitProperty_EnableIO, kAudioUnitScope_Output, 0, &enable,
                         sizeof(enable));

    if (!setStreamFormats()) {
        cleanUpAudioUnit();
        return false;
    }
    if (ioFlags & IO_RECORD) {
        AURenderCallbackStruct input = {&VoiceUnit::inputCallback, this};
        if (AudioUnitSetProperty(audioUnit, kAudioOutputUnitProperty_SetInputCallback, kAudioUnitScope_Global,
                                 0, &input, sizeof(input)) != noErr) {
            cleanUpAudioUnit();
            return false;
        }
    }
    if (ioFlags & IO_PLAY) {
        // The render callback belongs to the input scope of the output element.
        AURenderCallbackStruct render = {&VoiceUnit::renderCallback, this};
        if (AudioUnitSetProperty(audioUnit, kAudioUnitProperty_SetRenderCallback, kAudioUnitScope_Input, 0,
                                 &render, sizeof(render)) != noErr) {
            cleanUpAudioUnit();
            return false;
        }
    }
    // Without the listener a vanished device would only stop the blocks; its status does not matter.
    DeviceFailureListener listener = {&VoiceUnit::deviceFailureCallback, this};
    AudioUnitSetProperty(audioUnit, kAudioOutputUnitProperty_DeviceFailureListener, kAudioUnitScope_Global, 0,
                         &listener, sizeof(listener));

    if (AudioUnitInitialize(audioUnit) != noErr) {
        cleanUpAudioUnit();
        return false;
    }
    return true;
}

bool VoiceUnit::setStreamFormats() {
    AudioStreamBasicDescription format;
    format.mSampleRate = double(getProperty(Properties::SAMPLING_RATE).intValue);
    format.mFormatID = kAudioFormatLinearPCM;
    format.mFormatFlags = kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsPacked;
    format.mBytesPerPacket = 2;
    format.mFramesPerPacket = 1;
    format.mBytesPerFrame = 2;
    format.mChannelsPerFrame = 1;
    format.mBitsPerChannel = 16;
    format.mReserved = 0;
    if (ioFlags & IO_RECORD) {
        if (AudioUnitSetProperty(audioUnit, kAudioUnitProperty_StreamFormat, kAudioUnitScope_Output, 1,
                                 &format, sizeof(format)) != noErr)
            return false;
    }
    if (ioFlags & IO_PLAY) {
        if (AudioUnitSetProperty(audioUnit, kAudioUnitProperty_StreamFormat, kAudioUnitScope_Input, 0,
                                 &format, sizeof(format)) != noErr)
            return false;
    }
    return true;
}

bool VoiceUnit::start() {
    if (state != STATE_INITIALIZED)
        return false;
    if (AudioOutputUnitStart(audioUnit) == noErr) {
        state = STATE_RUNNING;
        return true;
    }
    state = STATE_FAILED;
    return false;
}

bool VoiceUnit::stop() {
    if (state != STATE_RUNNING)
        return false;
    if (AudioOutputUnitStop(audioUnit) == noErr) {
        state = STATE_INITIALIZED;
        return true;
    }
    state = STATE_FAILED;
    return false;
}

bool VoiceUnit::dispose() {
    if (state == STATE_UNINITIALIZED)
        return false;
    if (state == STATE_RUNNING)
        AudioOutputUnitStop(audioUnit);
    cleanUpAudioUnit();
    state = STATE_UNINITIALIZED;
    if (runLoopSource != 0) {
        runLoopSource->invalidate();
        RunLoop::current()->removeSource(runLoopSource);
    }
    if (localPort != 0)
        localPort->invalidate();
    delete runLoopSource;
    delete localPort;
    bufferQueue.clear();
    pthread_mutex_lock(&playMutex);
    playBuffer.clear();
    pthread_mutex_unlock(&playMutex);
    localPort = 0;
    runLoopSource = 0;
    return true;
}

void VoiceUnit::dispatchCallbacks() {
    brel::auto_ptr<brel::array<short>> block = bufferQueue.getFull();
    while (block.get() != 0) {
        // An empty block has no first sample: it goes out as a null pointer with the count 0.
        const short* samples = block->size() > 0 ? block->data() : 0;
        const int length = block->size();
        for (int i = 0; i < callbacks.size(); ++i)
            callbacks[i](samples, length);
        bufferQueue.addEmpty(block);
        block.reset(bufferQueue.getFull().release());
    }
}

void VoiceUnit::rescheduleAudioThread() {
    const int precedence = getProperty(Properties::THREAD_PRECEDENCE).intValue;
    const int isTimeshare = getProperty(Properties::THREAD_IS_TIMESHARE).intValue;
    helpers::rescheduleStdThread(0, precedence, isTimeshare != 0 ? 1 : 0);
}

OSStatus VoiceUnit::inputCallback(void* inRefCon, AudioUnitRenderActionFlags* ioActionFlags,
                                  const AudioTimeStamp* inTimeStamp, UInt32, UInt32 inNumberFrames,
                                  AudioBufferList*) noexcept {
    VoiceUnit* unit = static_cast<VoiceUnit*>(inRefCon);
    unit->rescheduleAudioThread();

    brel::auto_ptr<brel::array<short>> block = unit->bufferQueue.getEmpty(int(inNumberFrames));
    AudioBufferList list;
    list.mNumberBuffers = 1;
    list.mBuffers[0].mNumberChannels = 1;
    list.mBuffers[0].mDataByteSize = inNumberFrames * 2;
    list.mBuffers[0].mData = block->size() > 0 ? block->data() : 0;
    // A recycled block still holds an earlier block's samples: a failed render delivers silence, never
    // those again.
    if (AudioUnitRender(unit->audioUnit, ioActionFlags, inTimeStamp, 1, inNumberFrames, &list) != noErr &&
        block->size() > 0)
        std::memset(block->data(), 0, sizeof(short) * static_cast<unsigned long>(block->size()));

    // A refused block stays with `block` and goes back to the pool: the newest block is the one lost.
    const int waiting = unit->bufferQueue.addFull(block);
    if (block.get() != 0)
        unit->bufferQueue.addEmpty(block);

    if (unit->getProperty(Properties::THREAD_SEPARATION).intValue == 0) {
        unit->dispatchCallbacks();
    } else if (waiting > 1) {
        MessagePort* remote = MessagePort::findRemote(unit->portName);
        if (remote == 0)
            brel::mac::assertion_failure("portRef!=0", "Shared/VoiceUnit", 435);
        else
            remote->sendOneWay(MESSAGE_BLOCKS_WAITING);
    }
    return 0;
}

OSStatus VoiceUnit::renderCallback(void* inRefCon, AudioUnitRenderActionFlags*, const AudioTimeStamp*, UInt32,
                                   UInt32 inNumberFrames, AudioBufferList* ioData) noexcept {
    VoiceUnit* unit = static_cast<VoiceUnit*>(inRefCon);
    const UInt32 room = ioData->mBuffers[0].mDataByteSize / sizeof(short);
    if (inNumberFrames != room)
        brel::mac::assertion_failure("inNumberFrames == ioData->mBuffers[0].mDataByteSize/sizeof(short)",
                                     "Shared/VoiceUnit", 354);
    unit->rescheduleAudioThread();

    short* out = static_cast<short*>(ioData->mBuffers[0].mData);
    const UInt32 limit = inNumberFrames < room ? inNumberFrames : room;
    UInt32 written = 0;

    pthread_mutex_lock(&unit->playMutex);
    UInt32 n = UInt32(unit->playBuffer.size());
    if (n > limit)
        n = limit;
    for (; written < n; ++written) {
        int v = int(unit->playBuffer.front()) * 8;
        unit->playBuffer.pop_front();
        out[written] = short(v > 32767 ? 32767 : (v < -32768 ? -32768 : v));
    }
    pthread_mutex_unlock(&unit->playMutex);

    for (; written < limit; ++written)
        out[written] = short(rand() % 64 - 32);

    ioData->mBuffers[0].mDataByteSize = written * 2;
    // The list is variable-length: further buffers follow the first in memory.
    AudioBuffer* buffers = ioData->mBuffers;
    for (UInt32 i = 1; i < ioData->mNumberBuffers; ++i)
        buffers[i].mDataByteSize = 0;
    return 0;
}

void VoiceUnit::MessagePortCallback(MessagePort*, SInt32 msgid, void* info) {
    VoiceUnit* unit = static_cast<VoiceUnit*>(info);
    // With separation 0 the audio thread alone delivers: a message here must not feed the consumers from
    // a second thread, whatever its id.
    if (unit->getProperty(Properties::THREAD_SEPARATION).intValue != 0)
        unit->dispatchCallbacks();
    if (msgid == MESSAGE_DEVICE_FAILED && unit->state == STATE_RUNNING)
        unit->state = STATE_FAILED;
}

void VoiceUnit::deviceFailureCallback(void* refCon) {
    VoiceUnit* unit = static_cast<VoiceUnit*>(refCon);
    if (MessagePort* port = MessagePort::findRemote(unit->portName))
        port->sendOneWay(MESSAGE_DEVICE_FAILED);
}
