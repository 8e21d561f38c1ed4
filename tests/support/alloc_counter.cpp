#include "alloc_counter.h"

#include <atomic>
#include <cstdlib>
#include <new>

#include "src/brel_memory.h"

namespace {

std::atomic<long> total_count{0};
thread_local long thread_count = 0;

void note() noexcept {
    total_count.fetch_add(1, std::memory_order_relaxed);
    ++thread_count;
}

void* counted_malloc(std::size_t bytes) noexcept {
    note();
    return std::malloc(bytes == 0 ? 1 : bytes);
}

void* counted_aligned(std::size_t bytes, std::align_val_t align) noexcept {
    note();
    std::size_t a = static_cast<std::size_t>(align);
    if (a < sizeof(void*))
        a = sizeof(void*);
    std::size_t rounded = (bytes + a - 1) / a * a;
    return std::aligned_alloc(a, rounded == 0 ? a : rounded);
}

void* brel_allocate(unsigned long bytes) {
    note();
    return std::malloc(bytes);
}

void brel_deallocate(void* p) {
    std::free(p);
}

// brel::allocate goes through the system allocator's functions: count those too, for the whole run.
struct InstallBrelCounter {
    InstallBrelCounter() { brel::set_system_allocator_functions(&brel_allocate, &brel_deallocate); }
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
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
void operator delete(void* p, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept {
    std::free(p);
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

void AllocationCount::reset() {
    _totalBase = allocations_total();
    _threadBase = allocations_on_this_thread();
}

} // namespace veraxo_test
