#include "src/brel_assoc.h"

#include <cctype>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "src/brel_string2.h"
#include "tests/support/assertion_capture.h"
#include "tests/support/heap_control.h"

namespace {

// A key that owns a copy of its name, searched with plain C strings; comparison ignores case, so
// different spellings can name the same key.
struct Name {
    Name(const char* s) : text(s) {}
    std::string text;
};

int compare(const char* a, const char* b) {
    for (;; ++a, ++b) {
        const int ca = std::tolower(static_cast<unsigned char>(*a));
        const int cb = std::tolower(static_cast<unsigned char>(*b));
        if (ca != cb || ca == 0)
            return ca - cb;
    }
}

struct NameLess {
    bool operator()(const Name& a, const Name& b) const {
        return compare(a.text.c_str(), b.text.c_str()) < 0;
    }
    bool operator()(const Name& a, const char* b) const { return compare(a.text.c_str(), b) < 0; }
    bool operator()(const char* a, const Name& b) const { return compare(a, b.text.c_str()) < 0; }
};

struct Value {
    int number = 0;
    brel::string2 text;
};

using Table = brel::assoc_array<Name, Value, NameLess>;

std::vector<std::string> keys(const Table& t) {
    std::vector<std::string> k;
    for (int i = 0; i < t.size(); ++i)
        k.push_back(t.pair_at(i)->first.text);
    return k;
}

TEST(AssocArray, KeysAreHeldInOrderAndFoundByLowerBound) {
    Table t;
    EXPECT_EQ(t.lower_bound("anything"), 0);
    t.set("c", Value{3, {}});
    t.set(Name("a"), Value{1, {}});
    Value& b = t["b"];
    EXPECT_EQ(b.number, 0);
    EXPECT_EQ(b.text.size(), 0);
    b.number = 2;
    EXPECT_EQ(keys(t), (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(t.lower_bound("b"), 1);
    EXPECT_EQ(t.lower_bound("bb"), 2);
    EXPECT_EQ(t.lower_bound("d"), 3);
    EXPECT_EQ(t.lower_bound(""), 0);
    EXPECT_EQ(t["a"].number, 1);
    EXPECT_EQ(t["c"].number, 3);
}

TEST(AssocArray, SetReplacesTheValueOfAnExistingKey) {
    Table t;
    t.set("k", Value{1, brel::string2("first value, long enough to be on the heap")});
    t.set("k", Value{2, brel::string2("second")});
    ASSERT_EQ(t.size(), 1);
    EXPECT_EQ(t.pair_at(0)->second.number, 2);
    EXPECT_STREQ(t.pair_at(0)->second.text.c_str(), "second");
}

TEST(AssocArray, LookupOfAnExistingKeyAddsNothingEvenWhenSpelledDifferently) {
    Table t;
    t["Rate"].number = 8000;
    EXPECT_EQ(t["rate"].number, 8000);
    EXPECT_EQ(t["RATE"].number, 8000);
    t.set("rATe", Value{16000, {}});
    EXPECT_EQ(t.size(), 1);
    EXPECT_EQ(t.pair_at(0)->first.text, "Rate");
    EXPECT_EQ(t.pair_at(0)->second.number, 16000);
}

TEST(AssocArray, ValueReferencesSurviveLaterInsertions) {
    Table t;
    Value& m = t["m"];
    for (const char* k : {"a", "z", "b", "y", "c", "x", "d", "w", "e", "v"})
        t[k].number = 1;
    m.number = 42;
    EXPECT_EQ(t.lower_bound("m"), 5);
    EXPECT_EQ(t.pair_at(5)->second.number, 42);
    EXPECT_TRUE(t.equal(t.pair_at(5)->first, "M"));
    EXPECT_FALSE(t.equal("m", t.pair_at(6)->first));
}

TEST(AssocArray, PairAtABadPositionIsReportedAndGivesNull) {
    veraxo_test::AssertionCapture capture;
    Table t;
    t["a"];
    EXPECT_EQ(t.pair_at(1), nullptr);
    EXPECT_TRUE(capture.contains("0 <= i && i < _arr.size()", "src/brel_array", 1349));
}

TEST(AssocArray, FailedInsertionLeavesTheMapUnchangedAndFreesThePair) {
    Table t;
    t["a"].number = 1;
    const long before = brel_test::heap_blocks();
    // The pair is made, then growing the pointer buffer fails.
    EXPECT_TRUE(brel_test::runs_out_of_memory(1, [&] { t.set("b", Value{2, {}}); }));
    EXPECT_TRUE(brel_test::runs_out_of_memory(0, [&] { t["c"]; }));
    EXPECT_EQ(brel_test::heap_blocks(), before);
    EXPECT_EQ(keys(t), std::vector<std::string>{"a"});
    EXPECT_EQ(t["a"].number, 1);
}

struct Loud {
    static inline std::vector<int>* log = nullptr;
    int id = 0;
    ~Loud() {
        if (log && id)
            log->push_back(id);
    }
};

TEST(AssocArray, DestructionDeletesThePairsFromTheLast) {
    std::vector<int> log;
    Loud::log = &log;
    {
        brel::assoc_array<Name, Loud, NameLess> t;
        t["b"].id = 2;
        t["a"].id = 1;
        t["c"].id = 3;
    }
    Loud::log = nullptr;
    EXPECT_EQ(log, (std::vector<int>{3, 2, 1}));
}

} // namespace
