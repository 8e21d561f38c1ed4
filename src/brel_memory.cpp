// Allocation path, exceptions and assertion reports of the brel library. The replaceable functions are
// atomics initialised to null at compile time: null means the C heap or standard error, so nothing
// depends on the order in which static objects are built.

#include "brel_memory.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <sys/time.h>

#include "brel_string2.h"

namespace brel {
namespace {

using allocate_function = void* (*)(unsigned long);
using deallocate_function = void (*)(void*);
using assertion_sink = void (*)(const char*, const char*, int);

constinit std::atomic<allocate_function> installed_allocate{nullptr};
constinit std::atomic<deallocate_function> installed_deallocate{nullptr};
constinit std::atomic<assertion_sink> installed_sink{nullptr};

} // namespace

void* system_allocator::allocate(unsigned long bytes) {
    if (allocate_function f = installed_allocate.load(std::memory_order_acquire))
        return f(bytes);
    return std::malloc(bytes);
}

void system_allocator::deallocate(void* p) {
    if (deallocate_function f = installed_deallocate.load(std::memory_order_acquire))
        f(p);
    else
        std::free(p);
}

void set_system_allocator_functions(void* (*allocate)(unsigned long), void (*deallocate)(void*)) {
    installed_allocate.store(allocate, std::memory_order_release);
    installed_deallocate.store(deallocate, std::memory_order_release);
}

exception::~exception() = default;

void xout_of_memory::append_description(string2& out) const {
    out.append("Out of memory.", 14);
}

void out_of_memory() {
    throw xout_of_memory();
}

namespace mac {

void assertion_failure(const char* condition, const char* file, int line) {
    if (assertion_sink sink = installed_sink.load(std::memory_order_acquire)) {
        sink(condition, file, line);
        return;
    }
    std::fprintf(stderr, "Assertion Failure: %s\nAt file: %s:%d\n", condition, file, line);
}

void set_assertion_sink(void (*sink)(const char*, const char*, int)) {
    installed_sink.store(sink, std::memory_order_release);
}

} // namespace mac

std::int64_t get_microsec_time() {
    timeval tv;
    gettimeofday(&tv, nullptr);
    return static_cast<std::int64_t>(tv.tv_sec) * 1000000 + tv.tv_usec;
}

namespace detail {

void stop() {
    std::abort();
}

} // namespace detail

} // namespace brel
