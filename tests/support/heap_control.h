#pragma once
// Control over the heap for the brel tests: this test program replaces the global operator new, so that
// a test can count outstanding blocks and make the next allocations fail, and can do the same for
// brel::allocate through its replaceable functions.

#include "src/brel_memory.h"

namespace brel_test {

// Blocks from operator new (any form) not yet deleted.
long heap_blocks();

// While it lives, operator new and brel::allocate succeed `allowed` more times in total and then fail.
class HeapFailure {
public:
    explicit HeapFailure(int allowed = 0);
    ~HeapFailure();
    HeapFailure(const HeapFailure&) = delete;
    HeapFailure& operator=(const HeapFailure&) = delete;
};

// Runs `f` with the heap limited to `allowed` allocations; true when it threw brel::xout_of_memory.
template <class F> bool runs_out_of_memory(int allowed, F f) {
    HeapFailure failure(allowed);
    try {
        f();
    } catch (const brel::xout_of_memory&) {
        return true;
    }
    return false;
}

} // namespace brel_test
