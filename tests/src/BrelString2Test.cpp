#include "src/brel_string2.h"

#include <gtest/gtest.h>
#include <string>

#include "tests/support/assertion_capture.h"
#include "tests/support/heap_control.h"

namespace {

using brel::string2;
using brel::string2data_sso_rc;

std::string text(const string2& s) {
    return std::string(s.c_str(), static_cast<std::size_t>(s.size()));
}

const char* const TWENTY = "abcdefghijklmnopqrst";

TEST(String2, StaysInlineUpToSixteenCharactersThenGrowsByHalf) {
    string2 s;
    EXPECT_EQ(s.size(), 0);
    EXPECT_EQ(s.c_str()[0], '\0');
    const long before = brel_test::heap_blocks();
    s.append("0123456789", 10).append("abcdef", 6);
    EXPECT_EQ(brel_test::heap_blocks(), before);
    EXPECT_FALSE(s.storage().is_large());
    EXPECT_EQ(s.capacity(), 16);
    s.append("!", 1);
    EXPECT_TRUE(s.storage().is_large());
    EXPECT_EQ(s.capacity(), 24);
    EXPECT_EQ(text(s), "0123456789abcdef!");
    s.append("0123456789", 8);
    EXPECT_EQ(s.capacity(), 36);
    s.resize(54);
    EXPECT_EQ(s.capacity(), 54);
    EXPECT_EQ(s.c_str()[54], '\0');
}

TEST(String2, WholeCopySharesTheBlockUntilOneCopyChanges) {
    string2 a(TWENTY);
    string2 b(a);
    EXPECT_EQ(a.c_str(), b.c_str());
    b.set(0, "X", 1);
    EXPECT_NE(a.c_str(), b.c_str());
    EXPECT_EQ(text(a), TWENTY);
    EXPECT_EQ(text(b), "Xbcdefghijklmnopqrst");

    string2 c(a);
    c.resize(25, '+');
    EXPECT_EQ(text(a), TWENTY);
    EXPECT_EQ(text(c), std::string(TWENTY) + "+++++");

    string2 d(a);
    d.append("uv", 2);
    EXPECT_EQ(text(a), TWENTY);
    EXPECT_EQ(text(d), std::string(TWENTY) + "uv");
}

TEST(String2, TheLastSharerFreesTheBlock) {
    const long before = brel_test::heap_blocks();
    string2* a = new string2(TWENTY);
    string2* b = new string2(*a);
    string2* c = new string2(*b);
    const long withThree = brel_test::heap_blocks();
    EXPECT_EQ(withThree, before + 4);
    delete a;
    delete c;
    EXPECT_EQ(brel_test::heap_blocks(), withThree - 2);
    EXPECT_TRUE(b->storage().is_last());
    EXPECT_EQ(text(*b), TWENTY);
    delete b;
    EXPECT_EQ(brel_test::heap_blocks(), before);
}

TEST(String2, ShrinkingASharedStringBringsItBackInline) {
    string2 a(TWENTY);
    string2 b(a);
    b.resize(4);
    EXPECT_FALSE(b.storage().is_large());
    EXPECT_EQ(text(b), "abcd");
    EXPECT_EQ(text(a), TWENTY);
    EXPECT_TRUE(a.storage().is_last());
}

TEST(String2, PartialCopiesAreClamped) {
    string2 letters("abcdefghij");
    EXPECT_EQ(text(string2(letters, 5, 3)), "fgh");
    EXPECT_EQ(text(string2(letters, 12, 3)), "");
    EXPECT_EQ(text(string2(letters, 7, string2::npos)), "hij");
    EXPECT_EQ(text(string2(letters, -3, 2)), "ab");
    EXPECT_EQ(text(string2(letters, 2, -1)), "");
    string2 longer(TWENTY);
    string2 tail(longer, 1);
    EXPECT_NE(tail.c_str(), longer.c_str() + 1);
    EXPECT_EQ(text(tail), TWENTY + 1);
    EXPECT_TRUE(tail.storage().is_large());
}

TEST(String2, SetOverwritesWithoutChangingTheLength) {
    string2 s("abc");
    s.set(0, "xy", 2);
    EXPECT_EQ(text(s), "xyc");
    s.set(3, "z", 0);
    s.set(-5, "z", 0);
    EXPECT_EQ(text(s), "xyc");
}

TEST(String2, BadSetRangesAreReportedAndWriteNothing) {
    veraxo_test::AssertionCapture capture;
    string2 s("abc");
    s.set(-1, "zz", 2);
    EXPECT_TRUE(capture.contains("pos >= 0", "src/brel_string2", 211));
    s.set(4, "z", 1);
    EXPECT_TRUE(capture.contains("pos <= _len", "src/brel_string2", 212));
    s.set(2, "zz", 2);
    EXPECT_TRUE(capture.contains("n <= _len - pos", "src/brel_string2", 213));
    EXPECT_EQ(capture.count(), 4u);
    EXPECT_EQ(text(s), "abc");
    EXPECT_EQ(s.c_str()[3], '\0');
}

TEST(String2, ResizeFillsAndTruncates) {
    string2 s("ab");
    s.resize(5, '*');
    EXPECT_EQ(text(s), "ab***");
    s.resize(1);
    EXPECT_EQ(text(s), "a");
    s.resize(-2);
    EXPECT_EQ(s.size(), 0);
    EXPECT_EQ(s.c_str()[0], '\0');
}

TEST(String2, AppendingFromItselfSurvivesTheMoveToTheHeap) {
    string2 s("0123456789abcdef");
    s.append(s.c_str() + 4, 12);
    EXPECT_EQ(text(s), "0123456789abcdef456789abcdef");
    s.append(s.c_str(), s.size());
    EXPECT_EQ(text(s), "0123456789abcdef456789abcdef0123456789abcdef456789abcdef");
}

TEST(String2, SwapSmallWithLargeKeepsTheLargeContentShared) {
    string2 large(TWENTY);
    string2 other(large);
    string2 small("hi");
    small.swap(large);
    EXPECT_EQ(text(small), TWENTY);
    EXPECT_EQ(text(large), "hi");
    EXPECT_EQ(small.c_str(), other.c_str());
    EXPECT_FALSE(large.storage().is_large());
    other.set(0, "Q", 1);
    EXPECT_EQ(text(small), TWENTY);
    large.swap(small);
    EXPECT_EQ(text(large), TWENTY);
    EXPECT_EQ(text(small), "hi");
    EXPECT_TRUE(large.storage().is_last());
}

TEST(String2, SwapOfTwoLargeStringsExchangesTheirRings) {
    string2 a(TWENTY);
    string2 a2(a);
    string2 b("ABCDEFGHIJKLMNOPQRSTUVWXYZ");
    const char* aChars = a.c_str();
    const char* bChars = b.c_str();
    a.swap(b);
    EXPECT_EQ(a.c_str(), bChars);
    EXPECT_EQ(b.c_str(), aChars);
    EXPECT_TRUE(a.storage().is_last());
    EXPECT_FALSE(b.storage().is_last());
    a2.resize(2);
    EXPECT_EQ(text(b), TWENTY);
    EXPECT_TRUE(b.storage().is_last());
    a.swap(a);
    string2 a3(a);
    a.swap(a3);
    EXPECT_EQ(text(a), "ABCDEFGHIJKLMNOPQRSTUVWXYZ");
    EXPECT_EQ(a.c_str(), a3.c_str());
}

TEST(String2, AssignmentSharesAndReleasesTheOldContent) {
    const long before = brel_test::heap_blocks();
    {
        string2 a(TWENTY);
        string2 b("ABCDEFGHIJKLMNOPQRSTUVWXYZ");
        b = a;
        EXPECT_EQ(b.c_str(), a.c_str());
        EXPECT_EQ(brel_test::heap_blocks(), before + 1);
        b = b;
        a = string2("short");
        EXPECT_EQ(text(b), TWENTY);
        EXPECT_TRUE(b.storage().is_last());
        EXPECT_TRUE(a == string2("short"));
    }
    EXPECT_EQ(brel_test::heap_blocks(), before);
}

TEST(String2Storage, AnUnshareableBlockIsCopiedNotShared) {
    string2data_sso_rc a;
    a.resize(20, 'x');
    a.set_shareable(false);
    EXPECT_FALSE(a.is_shareable());
    string2data_sso_rc b(a);
    EXPECT_NE(b.buf(), a.buf());
    EXPECT_EQ(b.size(), 20);
    EXPECT_TRUE(b.is_shareable());
    a.reserve(10);
    EXPECT_TRUE(a.is_shareable());
}

TEST(String2Storage, SmallStringQueriesAreReported) {
    veraxo_test::AssertionCapture capture;
    string2data_sso_rc s;
    EXPECT_FALSE(s.is_shareable());
    EXPECT_TRUE(s.is_last());
    EXPECT_TRUE(capture.contains("is_large()", "src/brel_string2", 169));
    EXPECT_TRUE(capture.contains("is_large()", "src/brel_string2", 181));
}

TEST(String2Storage, FailedAllocationKeepsTheOldContent) {
    string2 s("abc");
    EXPECT_TRUE(brel_test::runs_out_of_memory(0, [&] { s.append(TWENTY, 20); }));
    EXPECT_EQ(text(s), "abc");
    string2 shared(TWENTY);
    string2 copy(shared);
    EXPECT_TRUE(brel_test::runs_out_of_memory(0, [&] { copy.set(0, "z", 1); }));
    EXPECT_EQ(text(copy), TWENTY);
    EXPECT_EQ(copy.c_str(), shared.c_str());
}

// Lengths and positions at the ends of int's range are refused or clamped; nothing is written outside
// the storage and refused calls leave the characters as they were.
TEST(String2Storage, ExtremeLengthsAndPositionsNeverWriteOutside) {
    veraxo_test::AssertionCapture capture;
    string2 s(TWENTY);
    const char* before = s.c_str();
    s.append("x", INT_MAX);
    EXPECT_TRUE(capture.contains("n <= INT_MAX - size()", "src/brel_string2", 263));
    EXPECT_EQ(text(s), TWENTY);
    EXPECT_EQ(s.c_str(), before);
    string2 small("abc");
    small.append("x", INT_MAX - 2);
    EXPECT_EQ(text(small), "abc");

    capture.clear();
    small.set(INT_MIN, "z", 1);
    small.set(INT_MIN + 1, "z", 2);
    EXPECT_EQ(capture.count("pos >= 0"), 2u);
    EXPECT_EQ(capture.count(), 2u);
    small.set(2, "zz", INT_MAX);
    EXPECT_EQ(capture.count("n <= _len - pos"), 1u);
    EXPECT_EQ(text(small), "abc");

    // A sharer detaching with a length beyond the capacity it asks for keeps only what fits.
    string2data_sso_rc owner;
    owner.resize(40, 'a');
    string2data_sso_rc large(owner);
    string2data_sso_rc inlined(owner);
    ASSERT_EQ(large.buf(), owner.buf());
    large.ensure_unique(24, 40);
    EXPECT_EQ(large.capacity(), 24);
    EXPECT_EQ(large.size(), 24);
    EXPECT_EQ(std::string(large.buf()), std::string(24, 'a'));
    inlined.ensure_unique(4, 40);
    EXPECT_FALSE(inlined.is_large());
    EXPECT_EQ(inlined.size(), 16);
    EXPECT_EQ(std::string(inlined.buf()), std::string(16, 'a'));
    EXPECT_EQ(owner.size(), 40);
    EXPECT_EQ(std::string(owner.buf()), std::string(40, 'a'));
}

} // namespace
