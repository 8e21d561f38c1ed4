#include "src/brel_array.h"

#include <gtest/gtest.h>
#include <vector>

#include "tests/support/assertion_capture.h"
#include "tests/support/heap_control.h"
#include "tracked.h"

namespace {

using brel_test::Noted;
using brel_test::runs_out_of_memory;
using brel_test::Tracked;

template <class T> std::vector<T> values(const brel::array<T>& a) {
    std::vector<T> v;
    for (int i = 0; i < a.size(); ++i)
        v.push_back(a[i]);
    return v;
}

brel::array<int> make(std::initializer_list<int> items) {
    brel::array<int> a;
    for (int v : items)
        a.push_back(v);
    return a;
}

TEST(ArrayGrowth, PushBackGrowsByHalfTheCapacity) {
    brel::array<int> a;
    std::vector<int> capacities;
    for (int i = 0; i < 28; ++i) {
        a.push_back(i);
        if (capacities.empty() || capacities.back() != a.capacity())
            capacities.push_back(a.capacity());
    }
    EXPECT_EQ(capacities, (std::vector<int>{1, 2, 3, 4, 6, 9, 13, 19, 28}));
    EXPECT_EQ(a.size(), 28);
    EXPECT_EQ(a[27], 27);
}

TEST(ArrayGrowth, ReserveTakesTheLargerOfRequestAndHalfAgain) {
    brel::array<int> a;
    a.reserve(5);
    EXPECT_EQ(a.capacity(), 5);

    brel::array<int> b;
    b.reserve(4);
    b.push_back(1);
    const int* storage = &b[0];
    b.reserve(3);
    b.reserve(4);
    EXPECT_EQ(b.capacity(), 4);
    EXPECT_EQ(&b[0], storage);
    b.reserve(5);
    EXPECT_EQ(b.capacity(), 6);
    EXPECT_EQ(b[0], 1);

    brel::array<int> c;
    c.reserve(4);
    c.reserve(10);
    EXPECT_EQ(c.capacity(), 10);
    EXPECT_EQ(c.size(), 0);
}

TEST(ArrayResize, ShrinkingKeepsTheCapacityAndDestroysTheTail) {
    {
        brel::array<Tracked> a;
        for (int i = 0; i < 5; ++i)
            a.push_back(Tracked(i));
        const int capacity = a.capacity();
        const int live = Tracked::live;
        a.resize(3, Tracked(9));
        EXPECT_EQ(Tracked::live, live - 2);
        EXPECT_EQ(a.size(), 3);
        EXPECT_EQ(a.capacity(), capacity);
        EXPECT_EQ(a[2].value, 2);
    }
    EXPECT_EQ(Tracked::live, 0);
}

TEST(ArrayResize, GrowingFillsWithTheValueAndGrowsByHalf) {
    brel::array<int> a = make({0, 1, 2, 3, 4});
    ASSERT_EQ(a.capacity(), 6);
    a.resize(7, 8);
    EXPECT_EQ(a.capacity(), 9);
    EXPECT_EQ(values(a), (std::vector<int>{0, 1, 2, 3, 4, 8, 8}));
    a.resize(-1, 0);
    EXPECT_EQ(a.size(), 0);
}

TEST(ArrayResize, FillValueMayBeAnElementOfTheArrayItself) {
    brel::array<Tracked> a;
    a.push_back(Tracked(4));
    a.resize(10, a[0]);
    for (int i = 0; i < a.size(); ++i)
        EXPECT_EQ(a[i].value, 4);
    a.push_back(a[3]);
    EXPECT_EQ(a[10].value, 4);
}

TEST(ArrayErase, ShiftsDownAndDestroysTheVacatedLastElement) {
    brel::array<int> a = make({1, 2, 3});
    a.erase(0);
    EXPECT_EQ(values(a), (std::vector<int>{2, 3}));
    {
        brel::array<Tracked> t;
        for (int i = 0; i < 4; ++i)
            t.push_back(Tracked(i));
        const int live = Tracked::live;
        t.erase(1);
        EXPECT_EQ(Tracked::live, live - 1);
        ASSERT_EQ(t.size(), 3);
        EXPECT_EQ(t[0].value, 0);
        EXPECT_EQ(t[1].value, 2);
        EXPECT_EQ(t[2].value, 3);
    }
    EXPECT_EQ(Tracked::live, 0);
}

TEST(ArrayChecks, BadIndicesAreReportedAndTouchNothing) {
    veraxo_test::AssertionCapture capture;
    brel::array<int> a = make({1, 2, 3});
    a.erase(3);
    a.erase(-1);
    EXPECT_EQ(capture.count(), 2u);
    EXPECT_TRUE(capture.contains("0 <= i && i < _size", "src/brel_array", 327));
    EXPECT_EQ(values(a), (std::vector<int>{1, 2, 3}));

    capture.clear();
    a[3] = 99;
    a[-1] = 99;
    EXPECT_EQ(values(a), (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(a[5], 0);
    const brel::array<int>& ca = a;
    EXPECT_EQ(ca[7], 0);
    const auto reports = capture.reports();
    ASSERT_EQ(reports.size(), 4u);
    EXPECT_EQ(reports[0].line, 497);
    EXPECT_EQ(reports[3].line, 491);
    EXPECT_EQ(reports[3].condition, "0 <= i && i < _size");
    EXPECT_EQ(reports[3].file, "src/brel_array");
}

TEST(ArrayChecks, DataOfAnEmptyArrayIsReported) {
    veraxo_test::AssertionCapture capture;
    brel::array<float> a;
    EXPECT_EQ(a.data(), nullptr);
    EXPECT_TRUE(capture.contains("0 <= i && i < _size", "src/brel_array", 509));
    capture.clear();
    a.push_back(1.5f);
    EXPECT_EQ(a.data(), &a[0]);
    EXPECT_EQ(capture.count(), 0u);
}

TEST(ArrayCopy, CopiesAreDeepAndIndependent) {
    brel::array<brel::array<int>> nested;
    nested.push_back(make({1, 2}));
    nested.push_back(make({3}));
    brel::array<brel::array<int>> copy(nested);
    copy[0][0] = 10;
    copy[1].push_back(4);
    EXPECT_EQ(values(nested[0]), (std::vector<int>{1, 2}));
    EXPECT_EQ(values(nested[1]), (std::vector<int>{3}));
    EXPECT_EQ(values(copy[1]), (std::vector<int>{3, 4}));
    nested = copy;
    EXPECT_EQ(values(nested[0]), (std::vector<int>{10, 2}));
    brel::array<int> empty;
    brel::array<int> emptyCopy(empty);
    EXPECT_EQ(emptyCopy.capacity(), 0);
}

class ArrayExceptionSafety : public testing::Test {
protected:
    void TearDown() override { Tracked::copies_before_throw = -1; }
};

TEST_F(ArrayExceptionSafety, ThrowingCopyDuringGrowthLeavesTheArrayAsItWas) {
    {
        brel::array<Tracked> a;
        for (int i = 0; i < 4; ++i)
            a.push_back(Tracked(i));
        ASSERT_EQ(a.capacity(), 4);
        const Tracked* storage = &a[0];
        const int live = Tracked::live;
        Tracked::copies_before_throw = 2;
        EXPECT_THROW(a.push_back(Tracked(4)), std::runtime_error);
        Tracked::copies_before_throw = -1;
        EXPECT_EQ(Tracked::live, live);
        EXPECT_EQ(a.size(), 4);
        EXPECT_EQ(a.capacity(), 4);
        EXPECT_EQ(&a[0], storage);
        EXPECT_EQ(a[3].value, 3);

        Tracked::copies_before_throw = 0;
        EXPECT_THROW(a.reserve(20), std::runtime_error);
        EXPECT_THROW(brel::array<Tracked>{a}, std::runtime_error);
        Tracked::copies_before_throw = 1;
        EXPECT_THROW(a.resize(8, Tracked(7)), std::runtime_error);
        Tracked::copies_before_throw = -1;
        EXPECT_EQ(Tracked::live, live);
        EXPECT_EQ(a.size(), 4);
    }
    EXPECT_EQ(Tracked::live, 0);
}

TEST_F(ArrayExceptionSafety, FailedAllocationThrowsOutOfMemoryAndKeepsTheArray) {
    brel::array<int> a = make({1, 2, 3, 4});
    EXPECT_TRUE(runs_out_of_memory(0, [&] { a.push_back(5); }));
    EXPECT_TRUE(runs_out_of_memory(0, [&] { a.resize(100, 0); }));
    EXPECT_EQ(a.capacity(), 4);
    EXPECT_EQ(values(a), (std::vector<int>{1, 2, 3, 4}));
    EXPECT_FALSE(runs_out_of_memory(0, [&] { a[0] = 7; }));
}

TEST(PtrArray, InsertPlacesThePointerAndShiftsTheRest) {
    int x = 1, y = 2, p = 3, q = 4;
    brel::ptr_array<int> a;
    a.push_back(&x);
    a.push_back(&y);
    a.insert(0, &p);
    a.insert(a.size(), &q);
    ASSERT_EQ(a.size(), 4);
    EXPECT_EQ(a[0], &p);
    EXPECT_EQ(a[1], &x);
    EXPECT_EQ(a[2], &y);
    EXPECT_EQ(a.front(), &p);
    EXPECT_EQ(a.back(), &q);
    a.pop_back();
    EXPECT_EQ(a.back(), &y);
    EXPECT_EQ(a.capacity(), 4);
}

TEST(PtrArray, BadInsertAndEmptyAccessAreReportedAndHarmless) {
    veraxo_test::AssertionCapture capture;
    int x = 1;
    brel::ptr_array<int> a;
    a.insert(-1, &x);
    a.insert(1, &x);
    EXPECT_EQ(a.size(), 0);
    EXPECT_EQ(capture.count("0 <= i && i <= _size"), 2u);
    EXPECT_TRUE(capture.contains("0 <= i && i <= _size", "src/brel_array", 854));
    capture.clear();
    a.pop_back();
    EXPECT_EQ(a.size(), 0);
    const brel::ptr_array<int>& ca = a;
    EXPECT_EQ(ca.front(), nullptr);
    EXPECT_EQ(ca.back(), nullptr);
    EXPECT_EQ(a.back(), nullptr);
    EXPECT_EQ(ca[0], nullptr);
    a[0] = &x;
    EXPECT_EQ(a[0], nullptr);
    std::vector<int> lines;
    for (const auto& r : capture.reports())
        lines.push_back(r.line);
    EXPECT_EQ(lines, (std::vector<int>{928, 934, 946, 952, 978, 984, 984}));
}

TEST(PtrArray, FailedBufferAllocationThrowsOutOfMemoryAndKeepsTheArray) {
    int x = 1;
    brel::ptr_array<int> a;
    a.push_back(&x);
    EXPECT_TRUE(runs_out_of_memory(0, [&] { a.push_back(&x); }));
    EXPECT_TRUE(runs_out_of_memory(0, [&] { a.insert(0, &x); }));
    EXPECT_EQ(a.size(), 1);
    EXPECT_EQ(a.capacity(), 1);
    EXPECT_EQ(a[0], &x);
}

class AutoPtrArray : public testing::Test {
protected:
    void SetUp() override {
        Noted::destroyed.clear();
        Noted::destroyed.reserve(16);
    }

    static brel::auto_ptr<Noted> make_noted(int id) { return brel::auto_ptr<Noted>(new Noted(id)); }
};

TEST_F(AutoPtrArray, ClearDeletesFromTheLastAndKeepsTheCapacity) {
    brel::auto_ptr_array<Noted> a;
    a.push_back(make_noted(1));
    a.push_back(brel::auto_ptr<Noted>());
    a.push_back(make_noted(2));
    a.push_back(make_noted(3));
    const int capacity = a.capacity();
    a.clear();
    EXPECT_EQ(Noted::destroyed, (std::vector<int>{3, 2, 1}));
    EXPECT_EQ(a.size(), 0);
    EXPECT_EQ(a.capacity(), capacity);
}

TEST_F(AutoPtrArray, DestructorDeletesEveryElement) {
    {
        brel::auto_ptr_array<Noted> a;
        a.push_back(make_noted(1));
        a.insert(0, make_noted(2));
    }
    EXPECT_EQ(Noted::destroyed, (std::vector<int>{1, 2}));
}

TEST_F(AutoPtrArray, PopBackHandsTheLastElementToTheCaller) {
    brel::auto_ptr_array<Noted> a;
    a.push_back(make_noted(1));
    a.push_back(make_noted(2));
    brel::auto_ptr<Noted> last = a.pop_back();
    EXPECT_TRUE(Noted::destroyed.empty());
    EXPECT_EQ(last->id, 2);
    EXPECT_EQ(a.size(), 1);
    EXPECT_EQ(a.front()->id, 1);
    EXPECT_EQ(a.back()->id, 1);
}

TEST_F(AutoPtrArray, FailedGrowthDeletesTheOfferedObjectAndKeepsTheArray) {
    brel::auto_ptr_array<Noted> a;
    a.push_back(make_noted(1));
    brel::auto_ptr<Noted> second = make_noted(2);
    brel::auto_ptr<Noted> third = make_noted(3);
    EXPECT_TRUE(runs_out_of_memory(0, [&] { a.push_back(second); }));
    EXPECT_TRUE(runs_out_of_memory(0, [&] { a.insert(0, third); }));
    EXPECT_EQ(Noted::destroyed, (std::vector<int>{2, 3}));
    EXPECT_EQ(a.size(), 1);
    EXPECT_EQ(a[0]->id, 1);
}

TEST_F(AutoPtrArray, ViolationsReportTheOuterCheckThenTheInnerOne) {
    veraxo_test::AssertionCapture capture;
    brel::auto_ptr_array<Noted> a;
    EXPECT_EQ(a.back(), nullptr);
    const brel::auto_ptr_array<Noted>& ca = a;
    EXPECT_EQ(ca.front(), nullptr);
    EXPECT_EQ(ca.back(), nullptr);
    EXPECT_EQ(a[0], nullptr);
    EXPECT_EQ(ca[-1], nullptr);
    EXPECT_EQ(a.pop_back().get(), nullptr);
    std::vector<int> lines;
    for (const auto& r : capture.reports())
        lines.push_back(r.line);
    EXPECT_EQ(lines,
              (std::vector<int>{1323, 952, 1305, 934, 1317, 946, 1355, 984, 1349, 978, 1297, 952, 928}));
    EXPECT_TRUE(capture.contains("_arr.size() > 0", "src/brel_array", 1323));
    EXPECT_TRUE(capture.contains("0 <= i && i < _arr.size()", "src/brel_array", 1349));
}

TEST_F(AutoPtrArray, InsertAtABadIndexIsReportedAndTheObjectIsNotLeaked) {
    veraxo_test::AssertionCapture capture;
    brel::auto_ptr_array<Noted> a;
    a.insert(2, make_noted(5));
    EXPECT_EQ(a.size(), 0);
    EXPECT_EQ(Noted::destroyed, std::vector<int>{5});
    const auto reports = capture.reports();
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[0].condition, "0 <= i && i <= _arr.size()");
    EXPECT_EQ(reports[0].line, 1229);
    EXPECT_EQ(reports[1].line, 854);
}

} // namespace
