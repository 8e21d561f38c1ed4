#pragma once
// Captures 16-bit mono sound through the platform's audio unit and delivers it, block by block, to the
// registered callbacks. Blocks cross from the audio thread through a BufferQueue; they are delivered
// either on the audio thread itself (THREAD_SEPARATION 0) or on the thread that initialised the unit,
// which the audio thread wakes through the "VoiceUnit" message port only once two or more blocks wait.
// The unit can also play from its play buffer, filling what is missing with faint noise.
//
// Control calls (initialize, start, stop, dispose) and every change of properties or callbacks happen
// on one thread, while the unit is not running; dispose must run on the thread that called initialize.
// Platform failures show as a false result and STATE_FAILED; lastErrorReason() explains them in words
// when the backend could. A device that fails while capturing also ends in STATE_FAILED, set on the
// initialising thread when its run loop delivers the port's failure message. Messages on the port deliver
// waiting blocks only when blocks go to that thread anyway (THREAD_SEPARATION non-zero).

#include <pthread.h>

#include <string>

#include "BufferQueue.h"
#include "platform/AudioUnit.h"
#include "src/brel_array.h"
#include "src/brel_assoc.h"
#include "src/brel_circular.h"
#include "src/brel_string2.h"
#include "src/compiler_gcc346/brel_callback_template.h"

namespace platform {
class MessagePort;
class RunLoopSource;
} // namespace platform

class VoiceUnit {
public:
    class Properties {
    public:
        static const char* SAMPLING_RATE;
        static const char* THREAD_SEPARATION;
        static const char* PLAY_BUFFER_CAPACITY;
        static const char* THREAD_PRECEDENCE;
        static const char* THREAD_IS_TIMESHARE;
    };

    // A key is its address: only the Properties constants name the settings.
    struct PropertyKey {
        PropertyKey(const char* n) : name(n) {}
        const char* name;
    };

    struct PropertyLess {
        bool operator()(const PropertyKey& a, const PropertyKey& b) const {
            return reinterpret_cast<unsigned long>(a.name) < reinterpret_cast<unsigned long>(b.name);
        }
    };

    struct PropertyValue {
        PropertyValue() : intValue(0) {}
        PropertyValue(int i) : intValue(i) {}
        int intValue;
        brel::string2 stringValue;
    };

    typedef brel::callback2<void, const short*, int> SampleCallback;
    typedef brel::assoc_array<PropertyKey, PropertyValue, PropertyLess> PropertyTable;

    enum { IO_PLAY = 1, IO_RECORD = 2 };
    enum { STATE_UNINITIALIZED = 0, STATE_INITIALIZED = 1, STATE_RUNNING = 2, STATE_FAILED = 3 };
    // Message ids on the port: blocks wait; the device stopped capturing on its own.
    enum { MESSAGE_BLOCKS_WAITING = 42, MESSAGE_DEVICE_FAILED = 43 };

    VoiceUnit();
    ~VoiceUnit();
    VoiceUnit(const VoiceUnit&) = delete;
    VoiceUnit& operator=(const VoiceUnit&) = delete;

    bool initialize();
    bool start();
    bool stop();
    bool dispose();
    // Audio thread (with THREAD_SEPARATION 0; otherwise the initialising thread): delivers every
    // waiting block, oldest first, to each callback in registration order. Not noexcept: the callbacks
    // (the engine's input) may throw brel::xout_of_memory while their blocks grow.
    void dispatchCallbacks();

    PropertyValue getProperty(PropertyKey key);

    // Why the last failed step failed, in words, or empty when the backend gave no reason.
    std::string lastErrorReason() const;

    platform::AudioUnit audioUnitInstance() const { return audioUnit; }
    // True once the backend's source has ended on its own (the whole recording was delivered).
    bool inputEnded() const;
    platform::MessagePort* messagePort() const { return localPort; }
    // The play samples still waiting; the producer holds playMutex while it appends.
    brel::circular_buffer<short>& playSamples() { return playBuffer; }
    pthread_mutex_t& playSamplesMutex() { return playMutex; }

    // Audio thread: pulls the captured frames into a block and queues it (delivering it at once with
    // THREAD_SEPARATION 0).
    static platform::OSStatus inputCallback(void* inRefCon,
                                            platform::AudioUnitRenderActionFlags* ioActionFlags,
                                            const platform::AudioTimeStamp* inTimeStamp,
                                            platform::UInt32 inBusNumber, platform::UInt32 inNumberFrames,
                                            platform::AudioBufferList* ioData) noexcept;
    // Audio thread: fills the output with the play samples, under playMutex, then with faint noise.
    static platform::OSStatus renderCallback(void* inRefCon,
                                             platform::AudioUnitRenderActionFlags* ioActionFlags,
                                             const platform::AudioTimeStamp* inTimeStamp,
                                             platform::UInt32 inBusNumber, platform::UInt32 inNumberFrames,
                                             platform::AudioBufferList* ioData) noexcept;
    static void MessagePortCallback(platform::MessagePort* port, platform::SInt32 msgid, void* info);

private:
    bool initRemoteIO();
    bool setStreamFormats();
    void setupDefaultProps();
    void cleanUpAudioUnit();
    void rescheduleAudioThread();
    static void deviceFailureCallback(void* refCon);

public:
    // The unit's public state. The owner sets ioFlags (IO_PLAY, IO_RECORD), properties and callbacks
    // before initialize, while the unit is not running; state is the unit's own (STATE_*), read by
    // anyone.
    int ioFlags;
    PropertyTable properties;
    brel::array<SampleCallback> callbacks;
    int state;

private:
    platform::AudioUnit audioUnit;
    BufferQueue<short> bufferQueue;
    brel::circular_buffer<short> playBuffer;
    pthread_mutex_t playMutex;
    const char* portName;
    platform::MessagePort* localPort;
    platform::RunLoopSource* runLoopSource;
};
