#include <gtest/gtest.h>

#include "monitor/core/portable.h"

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
