#include "src/brel_memory.h"

#include <chrono>
#include <gtest/gtest.h>

#include "src/brel_string2.h"
#include "tests/support/assertion_capture.h"
#include "tracked.h"

namespace {

using brel_test::Noted;

TEST(Assertions, ReportGoesToStandardErrorInTheFixedFormat) {
    testing::internal::CaptureStderr();
    brel::mac::assertion_failure("x > 0", "src/somewhere", 42);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Assertion Failure: x > 0\nAt file: src/somewhere:42\n");
}

TEST(Assertions, SinkReceivesReportsInsteadOfStandardErrorUntilRemoved) {
    testing::internal::CaptureStderr();
    {
        veraxo_test::AssertionCapture capture;
        brel::mac::assertion_failure("a", "b", 3);
        EXPECT_TRUE(capture.contains("a", "b", 3));
        EXPECT_EQ(capture.count(), 1u);
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    testing::internal::CaptureStderr();
    brel::mac::assertion_failure("c", "d", 4);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Assertion Failure: c\nAt file: d:4\n");
}

int calls = 0;
void* counting_allocate(unsigned long bytes) {
    ++calls;
    return std::malloc(bytes);
}
void counting_deallocate(void* p) {
    ++calls;
    std::free(p);
}

TEST(Allocator, InstalledFunctionsServeAllocateUntilNullRestoresTheHeap) {
    calls = 0;
    brel::set_system_allocator_functions(&counting_allocate, &counting_deallocate);
    void* p = brel::allocate(16);
    brel::deallocate(p);
    brel::set_system_allocator_functions(nullptr, nullptr);
    EXPECT_NE(p, nullptr);
    EXPECT_EQ(calls, 2);
    brel::deallocate(brel::allocate(16));
    EXPECT_EQ(calls, 2);
}

TEST(OutOfMemory, ThrowsTheLibraryExceptionDescribedAsOutOfMemory) {
    try {
        brel::out_of_memory();
        FAIL() << "out_of_memory returned";
    } catch (const brel::exception& e) {
        EXPECT_NE(dynamic_cast<const brel::xout_of_memory*>(&e), nullptr);
        brel::string2 text;
        e.append_description(text);
        EXPECT_EQ(text.size(), 14);
        EXPECT_STREQ(text.c_str(), "Out of memory.");
    }
}

TEST(OutOfMemory, ConditionalFormsThrowOnlyOnFailure) {
    EXPECT_NO_THROW(brel::out_of_memory_if(false));
    EXPECT_THROW(brel::out_of_memory_if(true), brel::xout_of_memory);
    char c = 0;
    EXPECT_EQ(brel::out_of_memory_if_null(&c), &c);
    EXPECT_THROW(brel::out_of_memory_if_null(static_cast<char*>(nullptr)), brel::xout_of_memory);
}

class AutoPtrTest : public testing::Test {
protected:
    void SetUp() override {
        Noted::destroyed.clear();
        Noted::destroyed.reserve(16);
    }
};

void consume(brel::auto_ptr<Noted> p) {
    EXPECT_EQ(p->id, 7);
}

struct Derived : Noted {
    Derived() : Noted(9) {}
};

TEST_F(AutoPtrTest, ResetToTheHeldPointerDeletesNothingAndResetToAnotherDeletesTheOld) {
    Noted* first = new Noted(1);
    brel::auto_ptr<Noted> p(first);
    p.reset(first);
    EXPECT_TRUE(Noted::destroyed.empty());
    p.reset(new Noted(2));
    EXPECT_EQ(Noted::destroyed, std::vector<int>{1});
    delete p.release();
    EXPECT_EQ(p.get(), nullptr);
    EXPECT_EQ(Noted::destroyed, (std::vector<int>{1, 2}));
}

TEST_F(AutoPtrTest, PassingByValueMovesOwnershipIntoTheCallee) {
    brel::auto_ptr<Noted> p(new Noted(7));
    consume(p);
    EXPECT_EQ(p.get(), nullptr);
    EXPECT_EQ(Noted::destroyed, std::vector<int>{7});
}

TEST_F(AutoPtrTest, DerivedPointerConvertsAndIsDeletedThroughTheVirtualDestructor) {
    {
        brel::auto_ptr<Derived> d(new Derived);
        brel::auto_ptr<Noted> base(d);
        EXPECT_EQ(d.get(), nullptr);
        EXPECT_EQ((*base).id, 9);
    }
    EXPECT_EQ(Noted::destroyed, std::vector<int>{9});
}

TEST(AutoPtrDeathTest, DereferencingAnEmptyPointerIsReportedAndStops) {
    brel::auto_ptr<Noted> empty;
    EXPECT_DEATH((void)empty->id, "Assertion Failure: _ptr != 0\nAt file: src/brel_memory:209\n");
    EXPECT_DEATH((void)(*empty).id, "_ptr != 0");
}

TEST(Utilities, MiniAndMaxiReturnTheSecondArgumentOnATie) {
    const int a = 2, b = 2, c = 1;
    EXPECT_EQ(&brel::mini(a, b), &b);
    EXPECT_EQ(&brel::maxi(a, b), &b);
    EXPECT_EQ(&brel::mini(a, c), &c);
    EXPECT_EQ(&brel::mini(c, a), &c);
    EXPECT_EQ(&brel::maxi(a, c), &a);
    EXPECT_EQ(&brel::maxi(c, a), &a);
}

TEST(Utilities, MicrosecondTimeIsTheWallClockInMicroseconds) {
    using namespace std::chrono;
    const auto before = duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
    const std::int64_t now = brel::get_microsec_time();
    const auto after = duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
    EXPECT_LE(before, now);
    EXPECT_LE(now, after);
}

} // namespace
