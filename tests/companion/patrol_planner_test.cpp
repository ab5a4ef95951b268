#include "companion/patrol_planner.h"

#include <deque>
#include <gtest/gtest.h>
#include <set>

namespace perchwell {
namespace {

// Replays the given draws in order, then keeps repeating the last one.
PatrolPlanner::Random scripted(std::deque<size_t> draws, int* calls = nullptr) {
    return [draws, calls](size_t bound) mutable {
        if (calls) {
            ++*calls;
        }
        size_t value = draws.front();
        if (draws.size() > 1) {
            draws.pop_front();
        }
        return value % bound;
    };
}

TEST(PatrolPlannerTest, KeyIsScreenAndCornerName) {
    const PatrolPlanner planner(scripted({1, 3}));
    const auto pick = planner.pick({"111", "222"}, "");
    ASSERT_TRUE(pick);
    EXPECT_EQ(pick->screen, 1u);
    EXPECT_EQ(pick->corner, HomeCorner::bottomRight);
    EXPECT_EQ(pick->key, "222|bottomRight");
}

TEST(PatrolPlannerTest, RetriesWhenThePickRepeatsThePreviousKey) {
    int calls = 0;
    // screen 0 topLeft (repeat), screen 0 topLeft (repeat), screen 0 topRight.
    const PatrolPlanner planner(scripted({0, 0, 0, 0, 0, 1}, &calls));
    const auto pick = planner.pick({"7"}, "7|topLeft");
    ASSERT_TRUE(pick);
    EXPECT_EQ(pick->key, "7|topRight");
    EXPECT_EQ(calls, 6);
}

TEST(PatrolPlannerTest, GivesUpAfterSixEqualPicks) {
    int calls = 0;
    const PatrolPlanner planner(scripted({0}, &calls));
    EXPECT_FALSE(planner.pick({"7"}, "7|topLeft"));
    EXPECT_EQ(calls, 2 * PatrolPlanner::attempts);
    // The same draws are fine when they differ from the last key.
    EXPECT_TRUE(planner.pick({"7"}, "7|bottomLeft"));
}

TEST(PatrolPlannerTest, NoScreenNoPick) {
    int calls = 0;
    const PatrolPlanner planner(scripted({0}, &calls));
    EXPECT_FALSE(planner.pick({}, ""));
    EXPECT_EQ(calls, 0);
}

TEST(PatrolPlannerTest, RandomPicksNeverRepeatAndVisitEveryCorner) {
    const PatrolPlanner planner;
    std::string last;
    std::set<std::string> seen;
    for (int i = 0; i < 200; ++i) {
        const auto pick = planner.pick({"1", "2"}, last);
        if (!pick) {
            continue; // six equal picks in a row: rare, allowed
        }
        EXPECT_NE(pick->key, last);
        last = pick->key;
        seen.insert(last);
    }
    EXPECT_EQ(seen.size(), 8u);
}

} // namespace
} // namespace perchwell
