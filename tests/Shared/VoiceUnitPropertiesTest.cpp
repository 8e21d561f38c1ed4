// The capture settings: defaults, replacement, identity of keys by address.

#include "Shared/VoiceUnit.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

typedef VoiceUnit::Properties P;

TEST(VoiceUnitProperties, NewUnitHoldsExactlyTheFiveDefaults) {
    VoiceUnit unit;
    EXPECT_EQ(unit.properties.size(), 5);
    EXPECT_EQ(unit.getProperty(P::SAMPLING_RATE).intValue, 8000);
    EXPECT_EQ(unit.getProperty(P::THREAD_SEPARATION).intValue, 1);
    EXPECT_EQ(unit.getProperty(P::PLAY_BUFFER_CAPACITY).intValue, 1400);
    EXPECT_EQ(unit.getProperty(P::THREAD_PRECEDENCE).intValue, 0);
    EXPECT_EQ(unit.getProperty(P::THREAD_IS_TIMESHARE).intValue, 0);
    for (const char* key : {P::SAMPLING_RATE, P::THREAD_SEPARATION, P::PLAY_BUFFER_CAPACITY,
                            P::THREAD_PRECEDENCE, P::THREAD_IS_TIMESHARE}) {
        EXPECT_EQ(unit.getProperty(key).stringValue.size(), 0) << key;
    }
    EXPECT_EQ(unit.properties.size(), 5);
    EXPECT_STREQ(P::SAMPLING_RATE, "SAMPLING_RATE");
    EXPECT_STREQ(P::THREAD_IS_TIMESHARE, "THREAD_IS_TIMESHARE");
}

TEST(VoiceUnitProperties, SettingAKeyReplacesItsEntry) {
    VoiceUnit unit;
    unit.properties.set(VoiceUnit::PropertyKey(P::THREAD_PRECEDENCE), VoiceUnit::PropertyValue(63));
    EXPECT_EQ(unit.getProperty(P::THREAD_PRECEDENCE).intValue, 63);
    EXPECT_EQ(unit.properties.size(), 5);
}

TEST(VoiceUnitProperties, SameTextAtAnotherAddressIsAnotherKey) {
    VoiceUnit unit;
    char copy[32];
    std::strcpy(copy, "SAMPLING_RATE");
    ASSERT_NE(static_cast<const char*>(copy), P::SAMPLING_RATE);
    EXPECT_EQ(unit.getProperty(copy).intValue, 0);
    EXPECT_EQ(unit.properties.size(), 6);
    EXPECT_EQ(unit.getProperty(P::SAMPLING_RATE).intValue, 8000);
}

TEST(VoiceUnitProperties, EntriesAreOrderedByAddress) {
    VoiceUnit unit;
    for (int i = 1; i < unit.properties.size(); ++i)
        EXPECT_LT(reinterpret_cast<unsigned long>(unit.properties.pair_at(i - 1)->first.name),
                  reinterpret_cast<unsigned long>(unit.properties.pair_at(i)->first.name));
}

TEST(VoiceUnitProperties, ChangingThePlayCapacityLeavesThePlayBufferAlone) {
    VoiceUnit unit;
    unit.properties.set(VoiceUnit::PropertyKey(P::PLAY_BUFFER_CAPACITY), VoiceUnit::PropertyValue(10));
    for (int i = 0; i < 1500; ++i)
        unit.playSamples().push_back(short(i));
    EXPECT_EQ(unit.playSamples().size(), 1400);
}

} // namespace
