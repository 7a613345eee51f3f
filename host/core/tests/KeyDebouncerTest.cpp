#include "KeyDebouncer.h"

#include <gtest/gtest.h>

namespace pixkey {
namespace {

TEST(KeyDebouncerTest, SteadyKeysAreAllAccepted)
{
    KeyDebouncer keys;
    // The first press is accepted whatever the clock's origin.
    EXPECT_TRUE(keys.accept(1, 0));
    EXPECT_TRUE(keys.accept(1, 60));
    EXPECT_TRUE(keys.accept(2, 70));
    EXPECT_TRUE(keys.accept(1, 200));
    EXPECT_FALSE(keys.bouncing());
}

TEST(KeyDebouncerTest, BounceSetsTheFlagAndThenNeedsHalfASecond)
{
    KeyDebouncer keys;
    EXPECT_TRUE(keys.accept(1, 1000));
    EXPECT_FALSE(keys.accept(1, 1040)); // 40 ms later: a bounce
    EXPECT_TRUE(keys.bouncing());
    EXPECT_FALSE(keys.accept(1, 1400)); // under 500 ms after the accepted press
    EXPECT_TRUE(keys.accept(1, 1600));
    EXPECT_TRUE(keys.accept(2, 1650)); // another key has its own time
    EXPECT_FALSE(keys.accept(2, 1700));
}

TEST(KeyDebouncerTest, WhileBouncingAKeyLastReportedFourReportsBackIsDropped)
{
    KeyDebouncer keys;
    keys.accept(1, 1000);
    keys.accept(1, 1010); // bouncing from here; report 0 is key 1's
    EXPECT_TRUE(keys.accept(2, 5000));  // report 1; key 2's previous report counts as 0
    EXPECT_TRUE(keys.accept(3, 6000));  // report 2
    EXPECT_TRUE(keys.accept(2, 7000));  // report 3, key 2's previous is 1
    EXPECT_FALSE(keys.accept(1, 8000)); // report 4: key 1's previous report was 0, four back
    EXPECT_TRUE(keys.accept(1, 9000));  // report 5: its previous is 4 now
}

TEST(KeyDebouncerTest, KeysOutsideTheKeypadAreRefused)
{
    KeyDebouncer keys;
    EXPECT_FALSE(keys.accept(0, 1000));
    EXPECT_FALSE(keys.accept(4, 1000));
    EXPECT_TRUE(keys.accept(3, 1000));
}

} // namespace
} // namespace pixkey
