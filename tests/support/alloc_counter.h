#pragma once
// Counts heap allocations made through the global operator new and through brel::allocate, on every
// thread. Linked only into the tests that use it (veraxo_add_test COUNT_ALLOCATIONS), because it replaces
// the global operator new; heap_control.h offers the same replacement's failing allocator.
//
//     veraxo_test::AllocationCount count;   // starts counting at zero
//     feed(...);
//     EXPECT_EQ(count.total(), 0);

namespace veraxo_test {

class AllocationCount {
public:
    AllocationCount();
    ~AllocationCount();
    AllocationCount(const AllocationCount&) = delete;
    AllocationCount& operator=(const AllocationCount&) = delete;

    // Allocations on any thread since construction or the last reset().
    long total() const;
    // Allocations made by the calling thread since construction or the last reset().
    long on_this_thread() const;
    void reset();

private:
    long _totalBase;
    long _threadBase;
};

// While it lives, the calling thread's next `allowed` allocations (operator new of any form and
// brel::allocate) succeed and every later one fails: the throwing new raises std::bad_alloc, the
// nothrow forms and brel::allocate return null.
class FailingAllocations {
public:
    explicit FailingAllocations(long allowed);
    ~FailingAllocations();
    FailingAllocations(const FailingAllocations&) = delete;
    FailingAllocations& operator=(const FailingAllocations&) = delete;

private:
    long _previous;
};

// Raw counters, for tests that sample them around a region themselves.
long allocations_total();
long allocations_on_this_thread();

} // namespace veraxo_test
