#include "engine/join_script.h"

#include <gtest/gtest.h>

#include "platform/failure.h"

namespace splitter {
namespace {
TEST(JoinScriptTest, Placeholder) { EXPECT_EQ(PartTitle("a", 3), "a.3"); }
}  // namespace
}  // namespace splitter
