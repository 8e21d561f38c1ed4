#pragma once
// Control over the heap: with the allocation counter's replacement of the global operator new linked in
// (veraxo_add_test COUNT_ALLOCATIONS), a test can count outstanding blocks and make the next allocations
// fail, for operator new and brel::allocate alike.

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
