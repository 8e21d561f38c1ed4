// The microphone backend over a stand-in for PortAudio whose stream can refuse to stop: the stream is
// given up after the bounded wait, the instance is destroyed, and the stream's thread, still calling
// back, reaches nothing that was freed and delivers nothing. This program defines the PortAudio
// functions the backend calls, so they take the place of the library's.

#include <portaudio.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "Shared/VoiceUnit.h"
#include "platform/PortAudioUnit.h"

namespace {

// One stream at a time; its thread calls back every millisecond until the stream is aborted or the
// callback asks it to end, which a stuck stream ignores.
struct FakeStream {
    std::mutex mutex;
    std::condition_variable changed;
    PaStreamCallback* callback = nullptr;
    PaStreamFinishedCallback* finished = nullptr;
    void* userData = nullptr;
    bool hasOutput = false;
    bool running = false;
    bool stuck = false;
    int opened = 0;
    int closed = 0;
    std::thread thread;
    std::atomic<long> periods{0};
    std::atomic<long> silentOutputs{0};
    std::atomic<long> endRequests{0};

    void run() {
        std::vector<short> input(80, 100);
        std::vector<short> output(80, 1234);
        std::unique_lock<std::mutex> lock(mutex);
        while (running) {
            lock.unlock();
            std::fill(output.begin(), output.end(), short(1234));
            const int result =
                callback(input.data(), hasOutput ? output.data() : nullptr, 80, nullptr, 0, userData);
            ++periods;
            if (hasOutput && output[0] == 0 && output[79] == 0)
                ++silentOutputs;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            if (result != paContinue)
                ++endRequests;
            lock.lock();
            if (result != paContinue && !stuck)
                break;
        }
        running = false;
        lock.unlock();
        if (finished)
            finished(userData);
    }
};

FakeStream fake;
PaDeviceInfo fakeDevice = {2, "stand-in", 0, 1, 1, 0.01, 0.01, 0.1, 0.1, 8000.0};
PaHostApiInfo fakeHost = {1, paALSA, "stand-in", 1, 0, 0};

void stopThread() {
    if (fake.thread.joinable() && fake.thread.get_id() != std::this_thread::get_id()) {
        {
            std::lock_guard<std::mutex> lock(fake.mutex);
            fake.running = false;
        }
        fake.thread.join();
    }
}

} // namespace

extern "C" {

PaError Pa_Initialize(void) {
    return paNoError;
}
PaError Pa_Terminate(void) {
    return paNoError;
}
const char* Pa_GetErrorText(PaError) {
    return "stand-in error";
}
PaDeviceIndex Pa_GetDeviceCount(void) {
    return 1;
}
PaDeviceIndex Pa_GetDefaultInputDevice(void) {
    return 0;
}
PaDeviceIndex Pa_GetDefaultOutputDevice(void) {
    return 0;
}
const PaDeviceInfo* Pa_GetDeviceInfo(PaDeviceIndex device) {
    return device == 0 ? &fakeDevice : nullptr;
}
const PaHostApiInfo* Pa_GetHostApiInfo(PaHostApiIndex) {
    return &fakeHost;
}
PaError Pa_OpenStream(PaStream** stream, const PaStreamParameters*, const PaStreamParameters* output, double,
                      unsigned long, PaStreamFlags, PaStreamCallback* callback, void* userData) {
    std::lock_guard<std::mutex> lock(fake.mutex);
    fake.callback = callback;
    fake.userData = userData;
    fake.hasOutput = output != nullptr;
    fake.finished = nullptr;
    ++fake.opened;
    *stream = &fake;
    return paNoError;
}
PaError Pa_SetStreamFinishedCallback(PaStream*, PaStreamFinishedCallback* finished) {
    std::lock_guard<std::mutex> lock(fake.mutex);
    fake.finished = finished;
    return paNoError;
}
PaError Pa_StartStream(PaStream*) {
    stopThread();
    std::lock_guard<std::mutex> lock(fake.mutex);
    fake.running = true;
    fake.thread = std::thread(&FakeStream::run, &fake);
    return paNoError;
}
PaError Pa_IsStreamActive(PaStream*) {
    std::lock_guard<std::mutex> lock(fake.mutex);
    return fake.running ? 1 : 0;
}
PaError Pa_IsStreamStopped(PaStream*) {
    std::lock_guard<std::mutex> lock(fake.mutex);
    return fake.running ? 0 : 1;
}
// A stuck device: the abort waits until the test lets it go, while the stream's thread runs on.
PaError Pa_AbortStream(PaStream*) {
    {
        std::unique_lock<std::mutex> lock(fake.mutex);
        fake.changed.wait(lock, [] { return !fake.stuck; });
    }
    stopThread();
    return paNoError;
}
PaError Pa_CloseStream(PaStream*) {
    std::lock_guard<std::mutex> lock(fake.mutex);
    ++fake.closed;
    fake.changed.notify_all();
    return paNoError;
}

} // extern "C"

namespace {

struct Counter {
    std::atomic<long> blocks{0};
    void take(const short*, int) { ++blocks; }
};

int closedStreams() {
    std::lock_guard<std::mutex> lock(fake.mutex);
    return fake.closed;
}

bool waitFor(const std::function<bool()>& done) {
    for (int i = 0; i < 5000 && !done(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return done();
}

TEST(PortAudioAbandon, AGivenUpStreamCallsIntoNothingAndIsClosedOnceItStops) {
    platform::selectAudioComponent(platform::PortAudioUnit::component());
    Counter counter;
    const int closedBefore = closedStreams();
    int openedBefore;
    {
        std::lock_guard<std::mutex> lock(fake.mutex);
        openedBefore = fake.opened;
    }
    {
        VoiceUnit unit;
        unit.properties.set(VoiceUnit::PropertyKey(VoiceUnit::Properties::THREAD_SEPARATION),
                            VoiceUnit::PropertyValue(0));
        unit.callbacks.push_back(VoiceUnit::SampleCallback(&counter, &Counter::take));
        ASSERT_TRUE(unit.initialize()) << unit.lastErrorReason();
        ASSERT_TRUE(unit.start());
        ASSERT_TRUE(waitFor([&] { return counter.blocks.load() > 5; }));

        {
            std::lock_guard<std::mutex> lock(fake.mutex);
            fake.stuck = true;
        }
        EXPECT_TRUE(unit.dispose());
        EXPECT_EQ(unit.lastErrorReason(), "the audio device does not respond");
    }
    // The stream's thread goes on calling back with what it was given when it was opened.
    const long delivered = counter.blocks.load();
    const long periods = fake.periods.load();
    ASSERT_TRUE(waitFor([&] { return fake.periods.load() > periods + 20; }));
    EXPECT_EQ(counter.blocks.load(), delivered);
    EXPECT_GE(fake.endRequests.load(), 20);
    EXPECT_GE(fake.silentOutputs.load(), 20);
    EXPECT_EQ(closedStreams(), closedBefore);

    {
        std::lock_guard<std::mutex> lock(fake.mutex);
        fake.stuck = false;
    }
    fake.changed.notify_all();
    std::unique_lock<std::mutex> lock(fake.mutex);
    EXPECT_TRUE(fake.changed.wait_for(lock, std::chrono::seconds(5),
                                      [&] { return fake.closed == closedBefore + 1; }));
    lock.unlock();
    EXPECT_EQ(counter.blocks.load(), delivered);

    // A stream that stops in time is closed by its instance, and the next one captures as usual.
    {
        VoiceUnit unit;
        unit.ioFlags = VoiceUnit::IO_RECORD;
        unit.properties.set(VoiceUnit::PropertyKey(VoiceUnit::Properties::THREAD_SEPARATION),
                            VoiceUnit::PropertyValue(0));
        unit.callbacks.push_back(VoiceUnit::SampleCallback(&counter, &Counter::take));
        ASSERT_TRUE(unit.initialize()) << unit.lastErrorReason();
        ASSERT_TRUE(unit.start());
        EXPECT_TRUE(waitFor([&] { return counter.blocks.load() > delivered + 5; }));
        EXPECT_TRUE(unit.dispose());
    }
    EXPECT_EQ(closedStreams(), closedBefore + 2);
    std::lock_guard<std::mutex> opened(fake.mutex);
    EXPECT_EQ(fake.opened, openedBefore + 2);
    platform::selectAudioComponent(nullptr);
}

} // namespace
