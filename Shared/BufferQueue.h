#pragma once
// Hands blocks of samples from the audio thread to their consumer and recycles them afterwards.
//
// Two owned lists sit behind one mutex: full buffers waiting for delivery and empty buffers waiting for
// reuse. Both are first in, first out (insert at index 0, take the last entry). Nothing here waits but
// for the mutex, which each call holds for a few instructions, so the audio thread finds it free or
// waits that long: an empty full list yields a null pointer, an empty pool yields a new buffer, and a
// queue already holding its maximum refuses the buffer, leaving it with the caller. The lists stay
// short (at most 16 full buffers), so the linear inserts cost less than any smarter structure would.

#include <pthread.h>

#include "src/brel_array.h"
#include "src/brel_memory.h"

template <typename T> class BufferQueue {
public:
    BufferQueue() : maxFullBuffers(16) { pthread_mutex_init(&mutex, 0); }

    ~BufferQueue() {
        pthread_mutex_destroy(&mutex);
        emptyBuffers.clear();
        fullBuffers.clear();
    }

    BufferQueue(const BufferQueue&) = delete;
    BufferQueue& operator=(const BufferQueue&) = delete;

    // Audio thread: a buffer of exactly n samples, never null: the buffer given back earliest, or a new
    // one. Samples the buffer already held below n keep their values; samples added beyond its old size
    // are 0. Allocates only when the pool is empty or its buffer too short, which prime() prevents, and
    // may then throw brel::xout_of_memory: so not noexcept.
    brel::auto_ptr<brel::array<T>> getEmpty(int n) {
        Lock lock(mutex);
        brel::auto_ptr<brel::array<T>> buffer;
        if (emptyBuffers.size() > 0)
            buffer.reset(emptyBuffers.pop_back().release());
        else
            buffer.reset(new brel::array<T>());
        buffer->resize(n, T(0));
        return buffer;
    }

    // Set-up only: fills the pool with as many buffers as can be out of it at once (every queued one, one
    // being filled, one being delivered), each able to hold `samples`, and gives both lists room for
    // them, so that neither getEmpty, addFull nor addEmpty allocates afterwards.
    void prime(int samples) {
        Lock lock(mutex);
        const int count = maxFullBuffers + 2;
        fullBuffers.reserve(count);
        emptyBuffers.reserve(count);
        while (emptyBuffers.size() < count) {
            brel::auto_ptr<brel::array<T>> buffer(new brel::array<T>());
            buffer->reserve(samples);
            emptyBuffers.insert(0, buffer);
        }
    }

    // Audio thread: takes ownership of the buffer. The list grows (and may throw) only beyond what
    // prime() reserved.
    void addEmpty(brel::auto_ptr<brel::array<T>>& buffer) {
        Lock lock(mutex);
        emptyBuffers.insert(0, buffer);
    }

    // The oldest queued buffer, or null when none waits.
    brel::auto_ptr<brel::array<T>> getFull() {
        Lock lock(mutex);
        if (fullBuffers.size() == 0)
            return brel::auto_ptr<brel::array<T>>();
        return fullBuffers.pop_back();
    }

    // Audio thread: queues the buffer unless maxFullBuffers already wait, in which case the caller keeps
    // it. Returns the number of full buffers after the call. The list grows (and may throw) only beyond
    // what prime() reserved.
    int addFull(brel::auto_ptr<brel::array<T>>& buffer) {
        Lock lock(mutex);
        if (fullBuffers.size() < maxFullBuffers)
            fullBuffers.insert(0, buffer);
        return fullBuffers.size();
    }

    void clear() {
        Lock lock(mutex);
        fullBuffers.clear();
        emptyBuffers.clear();
    }

private:
    class Lock {
    public:
        explicit Lock(pthread_mutex_t& m) : _m(m) { pthread_mutex_lock(&_m); }
        ~Lock() { pthread_mutex_unlock(&_m); }
        Lock(const Lock&) = delete;
        Lock& operator=(const Lock&) = delete;

    private:
        pthread_mutex_t& _m;
    };

    brel::auto_ptr_array<brel::array<T>> fullBuffers;
    brel::auto_ptr_array<brel::array<T>> emptyBuffers;
    int maxFullBuffers;
    pthread_mutex_t mutex;
};
