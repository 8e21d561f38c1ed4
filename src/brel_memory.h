#pragma once
// Base of the brel library: the one allocation path for raw element storage, the library's exceptions,
// the assertion report routine, the owning pointer and a few small utilities.
//
// Allocation goes through replaceable function pointers so that tests can count allocations or make
// them fail; the pointers are atomics with constant initialisation, so they may be replaced during
// static initialisation and read from any thread. A failed check is reported and the caller goes on:
// guarded accessors then hand out a value-initialised stand-in instead of touching memory outside their
// storage.

#include <cstdint>
#include <new>
#include <type_traits>

namespace brel {

class string2;

class system_allocator {
public:
    // malloc by default; the result is not checked.
    static void* allocate(unsigned long bytes);
    static void deallocate(void* p);
};

// Replaces the functions behind system_allocator; a null function restores malloc or free.
void set_system_allocator_functions(void* (*allocate)(unsigned long), void (*deallocate)(void*));

inline void* allocate(unsigned long bytes) {
    return system_allocator::allocate(bytes);
}
inline void deallocate(void* p) {
    system_allocator::deallocate(p);
}

class exception {
public:
    virtual ~exception();
    virtual void append_description(string2& out) const = 0;
};

class xout_of_memory : public exception {
public:
    void append_description(string2& out) const override;
};

[[noreturn]] void out_of_memory();

inline void out_of_memory_if(bool condition) {
    if (condition)
        out_of_memory();
}

template <class T> T out_of_memory_if_null(T p) {
    out_of_memory_if(p == 0);
    return p;
}

namespace mac {

// Writes "Assertion Failure: <condition>\nAt file: <file>:<line>\n" to the assertion sink and returns.
// The file and line every caller passes ("src/brel_array", 327; "Shared/Signal/Filter/Mel", …) are
// fixed report texts, part of the system's output that users and tests match: they are not this
// tree's file names or line numbers, and never become __FILE__ and __LINE__.
void assertion_failure(const char* condition, const char* file, int line);

// Replaces the destination of assertion reports; null restores standard error. Reports may come from
// any thread, including the audio thread.
void set_assertion_sink(void (*sink)(const char* condition, const char* file, int line));

// Reports the condition when `ok` is false; returns `ok` so the caller can skip the unsafe access.
inline bool check(bool ok, const char* condition, const char* file, int line) {
    if (!ok)
        assertion_failure(condition, file, line);
    return ok;
}

} // namespace mac

namespace detail {
// Ends the program after a report when the failed operation has nothing it could safely hand out.
[[noreturn]] void stop();
} // namespace detail

// A value-initialised object handed out by guarded accessors after a failed check, one per thread. It
// is reset on every hand-out, so a stray write through one bad access never shows through the next. A
// type that cannot be value-initialised and assigned has no stand-in: the program stops instead.
template <class T> T& placeholder() {
    if constexpr (std::is_default_constructible_v<T> && std::is_copy_assignable_v<T>) {
        thread_local T value{};
        value = T{};
        return value;
    } else {
        detail::stop();
    }
}

template <class T> T* construct(void* place, const T& value) {
    if (place)
        ::new (place) T(value);
    return static_cast<T*>(place);
}

template <class T> const T& mini(const T& a, const T& b) {
    return a < b ? a : b;
}

template <class T> const T& maxi(const T& a, const T& b) {
    return b >= a ? b : a;
}

template <class T> void swap(T& a, T& b) {
    T t(a);
    a = b;
    b = t;
}

// Microseconds since the epoch.
std::int64_t get_microsec_time();

// Sole owner of one heap object. Passing it by value moves the ownership into the parameter and empties
// the argument; dereferencing an empty pointer is reported and stops the program, since there is no
// object to hand out.
template <class T> class auto_ptr {
public:
    auto_ptr(T* p = 0) : _ptr(p) {}
    auto_ptr(auto_ptr& other) : _ptr(other.release()) {}
    auto_ptr(auto_ptr&& other) : _ptr(other.release()) {}
    template <class U> auto_ptr(auto_ptr<U>& other) : _ptr(other.release()) {}
    template <class U> auto_ptr(auto_ptr<U>&& other) : _ptr(other.release()) {}
    ~auto_ptr() { delete _ptr; }

    auto_ptr& operator=(auto_ptr& other) {
        reset(other.release());
        return *this;
    }
    auto_ptr& operator=(auto_ptr&& other) {
        reset(other.release());
        return *this;
    }

    T* operator->() const {
        require();
        return _ptr;
    }
    T& operator*() const {
        require();
        return *_ptr;
    }
    T* get() const { return _ptr; }

    void reset(T* p = 0) {
        if (p != _ptr) {
            T* old = _ptr;
            _ptr = p;
            delete old;
        }
    }

    T* release() {
        T* p = _ptr;
        _ptr = 0;
        return p;
    }

private:
    void require() const;

    T* _ptr;
};

template <class T> void auto_ptr<T>::require() const {
    if (!mac::check(_ptr != 0, "_ptr != 0", "src/brel_memory", 209))
        detail::stop();
}

} // namespace brel
