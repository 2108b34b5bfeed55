#include "engine/split.h"

#include <gtest/gtest.h>

namespace splitter {
namespace {
TEST(SplitTest, Placeholder) {}
}  // namespace
}  // namespace splitter
