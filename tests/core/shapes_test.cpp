#include "core/shapes.hpp"

#include <gtest/gtest.h>

#include <cstddef>

namespace lumarok {

TEST(ColorPoint, IsFiveConsecutiveFloats) {
    EXPECT_EQ(offsetof(ColorPoint, position), 0u);
    EXPECT_EQ(offsetof(ColorPoint, color), 2 * sizeof(float));
}

} // namespace lumarok
