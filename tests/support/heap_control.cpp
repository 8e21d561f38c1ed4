#include "heap_control.h"

#include <atomic>
#include <cstdlib>
#include <new>

#include "src/brel_memory.h"

namespace {

std::atomic<long> live{0};
std::atomic<bool> limited{false};
std::atomic<int> remaining{0};

bool may_allocate() {
    if (!limited.load())
        return true;
    return remaining.fetch_sub(1) > 0;
}

void* take(std::size_t n) {
    if (!may_allocate())
        return nullptr;
    void* p = std::malloc(n == 0 ? 1 : n);
    if (p)
        live.fetch_add(1);
    return p;
}

void give(void* p) {
    if (p) {
        live.fetch_sub(1);
        std::free(p);
    }
}

void* brel_take(unsigned long n) {
    return may_allocate() ? std::malloc(n) : nullptr;
}

} // namespace

void* operator new(std::size_t n) {
    if (void* p = take(n))
        return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t n) {
    if (void* p = take(n))
        return p;
    throw std::bad_alloc();
}
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
    return take(n);
}
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept {
    return take(n);
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

namespace brel_test {

long heap_blocks() {
    return live.load();
}

HeapFailure::HeapFailure(int allowed) {
    remaining.store(allowed);
    limited.store(true);
    brel::set_system_allocator_functions(&brel_take, nullptr);
}

HeapFailure::~HeapFailure() {
    limited.store(false);
    brel::set_system_allocator_functions(nullptr, nullptr);
}

} // namespace brel_test
