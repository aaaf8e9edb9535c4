// Checks against outside tools: skipped where a tool is missing, but failed where the
// install script promised the tools (ORVEL_REQUIRE_TOOLS, set by scripts/run-tests.sh).
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "support/test_support.h"

namespace {

void NeedsAMissingTool() { ORVEL_NEEDS_TOOLS("sh orvel-no-such-tool"); }

// Sets ORVEL_REQUIRE_TOOLS for the scope and restores it after.
class RequireTools {
 public:
  explicit RequireTools(const char* value) {
    if (const char* v = std::getenv("ORVEL_REQUIRE_TOOLS")) saved_ = v, had_ = true;
    setenv("ORVEL_REQUIRE_TOOLS", value, 1);
  }
  ~RequireTools() {
    if (had_)
      setenv("ORVEL_REQUIRE_TOOLS", saved_.c_str(), 1);
    else
      unsetenv("ORVEL_REQUIRE_TOOLS");
  }

 private:
  std::string saved_;
  bool had_ = false;
};

}  // namespace

TEST(ToolChecks, AMissingToolFailsWhereTheToolsArePromised) {
  EXPECT_TRUE(ToolsInstalled("sh"));
  EXPECT_FALSE(ToolsInstalled("sh orvel-no-such-tool"));
  {
    RequireTools promised("1");
    EXPECT_TRUE(ToolsRequired());
    EXPECT_FATAL_FAILURE(NeedsAMissingTool(), "not installed: sh orvel-no-such-tool");
  }
  RequireTools notPromised("0");
  EXPECT_FALSE(ToolsRequired());
}
