// Bounded abort of a PortAudio stream (see the header).

#include "PortAudioAbort.h"

#include <portaudio.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

namespace platform {

bool abortOrAbandon(PaStream* stream, bool close, std::function<void()> cut, std::function<void()> release) {
    struct Pending {
        std::mutex mutex;
        std::condition_variable finished;
        bool done = false;
        bool abandoned = false;
    };
    std::shared_ptr<Pending> pending = std::make_shared<Pending>();
    std::thread([stream, close, pending, release] {
        Pa_AbortStream(stream);
        if (close)
            Pa_CloseStream(stream);
        std::unique_lock<std::mutex> lock(pending->mutex);
        pending->done = true;
        pending->finished.notify_all();
        if (!pending->abandoned)
            return;
        lock.unlock();
        // Given up by its owner: no one else closes the stream or frees what its callbacks reach.
        if (!close)
            Pa_CloseStream(stream);
        release();
    }).detach();
    std::unique_lock<std::mutex> lock(pending->mutex);
    if (pending->finished.wait_for(lock, std::chrono::milliseconds(1500), [&] { return pending->done; }))
        return true;
    // The device's thread does not stop: the callbacks lose their way to the owner before the thread
    // may free what they reach.
    lock.unlock();
    cut();
    lock.lock();
    if (pending->done)
        return true;
    pending->abandoned = true;
    return false;
}

} // namespace platform
