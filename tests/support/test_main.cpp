#include "support/temp_home.h"

#include <gtest/gtest.h>

// Every test executable starts in its own temporary HOME, so nothing can reach the
// real ~/.claude, data directory or settings; fixtures may nest a fresh TempHome.
int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    perchwell::testing::TempHome home;
    return RUN_ALL_TESTS();
}
