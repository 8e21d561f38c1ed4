// The one replacement of the global operator new in the tests: it counts allocations (in total and
// per thread), keeps the number of blocks not yet deleted, and fails allocations on request. brel's
// system allocator functions go through the same counting and failing for the whole run.

#include "alloc_counter.h"
#include "heap_control.h"

#include <atomic>
#include <cstdlib>
#include <new>

#include "src/brel_memory.h"

namespace {

std::atomic<long> total_count{0};
thread_local long thread_count = 0;
std::atomic<long> live{0};
// Allocations the calling thread may still make before they fail; negative: no limit
// (FailingAllocations).
thread_local long allowed_left = -1;
// A limit on all threads together (brel_test::HeapFailure).
std::atomic<bool> limited{false};
std::atomic<int> remaining{0};

bool refused() noexcept {
    if (allowed_left == 0)
        return true;
    if (allowed_left > 0)
        --allowed_left;
    return limited.load() && remaining.fetch_sub(1) <= 0;
}

void note() noexcept {
    total_count.fetch_add(1, std::memory_order_relaxed);
    ++thread_count;
}

void* counted_malloc(std::size_t bytes) noexcept {
    if (refused())
        return nullptr;
    note();
    void* p = std::malloc(bytes == 0 ? 1 : bytes);
    if (p)
        live.fetch_add(1);
    return p;
}

void* counted_aligned(std::size_t bytes, std::align_val_t align) noexcept {
    if (refused())
        return nullptr;
    note();
    std::size_t a = static_cast<std::size_t>(align);
    if (a < sizeof(void*))
        a = sizeof(void*);
    std::size_t rounded = (bytes + a - 1) / a * a;
    void* p = std::aligned_alloc(a, rounded == 0 ? a : rounded);
    if (p)
        live.fetch_add(1);
    return p;
}

void give(void* p) noexcept {
    if (p) {
        live.fetch_sub(1);
        std::free(p);
    }
}

void* brel_allocate(unsigned long bytes) {
    if (refused())
        return nullptr;
    note();
    return std::malloc(bytes);
}

void brel_deallocate(void* p) {
    std::free(p);
}

void install_brel_functions() {
    brel::set_system_allocator_functions(&brel_allocate, &brel_deallocate);
}

// brel::allocate goes through the system allocator's functions: count those too, for the whole run.
struct InstallBrelCounter {
    InstallBrelCounter() { install_brel_functions(); }
} install_brel_counter;

} // namespace

void* operator new(std::size_t n) {
    if (void* p = counted_malloc(n))
        return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t n) {
    if (void* p = counted_malloc(n))
        return p;
    throw std::bad_alloc();
}
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
    return counted_malloc(n);
}
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept {
    return counted_malloc(n);
}
void* operator new(std::size_t n, std::align_val_t a) {
    if (void* p = counted_aligned(n, a))
        return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t n, std::align_val_t a) {
    if (void* p = counted_aligned(n, a))
        return p;
    throw std::bad_alloc();
}
void* operator new(std::size_t n, std::align_val_t a, const std::nothrow_t&) noexcept {
    return counted_aligned(n, a);
}
void* operator new[](std::size_t n, std::align_val_t a, const std::nothrow_t&) noexcept {
    return counted_aligned(n, a);
}

void operator delete(void* p) noexcept {
    give(p);
}
void operator delete[](void* p) noexcept {
    give(p);
}
void operator delete(void* p, std::size_t) noexcept {
    give(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    give(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
    give(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    give(p);
}
void operator delete(void* p, std::align_val_t) noexcept {
    give(p);
}
void operator delete[](void* p, std::align_val_t) noexcept {
    give(p);
}
void operator delete(void* p, std::size_t, std::align_val_t) noexcept {
    give(p);
}
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept {
    give(p);
}
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept {
    give(p);
}
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept {
    give(p);
}

namespace veraxo_test {

long allocations_total() {
    return total_count.load(std::memory_order_relaxed);
}
long allocations_on_this_thread() {
    return thread_count;
}

AllocationCount::AllocationCount()
    : _totalBase(allocations_total()), _threadBase(allocations_on_this_thread()) {}
AllocationCount::~AllocationCount() = default;

long AllocationCount::total() const {
    return allocations_total() - _totalBase;
}
long AllocationCount::on_this_thread() const {
    return allocations_on_this_thread() - _threadBase;
}

FailingAllocations::FailingAllocations(long allowed) : _previous(allowed_left) {
    allowed_left = allowed < 0 ? 0 : allowed;
}
FailingAllocations::~FailingAllocations() {
    allowed_left = _previous;
}

void AllocationCount::reset() {
    _totalBase = allocations_total();
    _threadBase = allocations_on_this_thread();
}

} // namespace veraxo_test

namespace brel_test {

long heap_blocks() {
    return live.load();
}

HeapFailure::HeapFailure(int allowed) {
    remaining.store(allowed);
    limited.store(true);
    // A test may have installed brel functions of its own in between.
    install_brel_functions();
}

HeapFailure::~HeapFailure() {
    limited.store(false);
}

} // namespace brel_test
