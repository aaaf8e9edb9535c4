// The helpers the tests share where a slip would let tests pass unchecked or spoil the
// tests after them: checks against outside tools, skipped where a tool is missing but
// failed where the install script promised the tools (ORVEL_REQUIRE_TOOLS, set by
// scripts/run-tests.sh); the working folder of a test, left again however the test ends;
// the holder of a module, which releases it once however the test ends.
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "support/module_owner.h"
#include "support/test_support.h"

namespace {

void NeedsAMissingTool() { ORVEL_NEEDS_TOOLS("sh orvel-no-such-tool"); }

// A module that counts its releases and deletions.
struct CountingModule {
  static int released, deleted;
  ~CountingModule() { ++deleted; }
  void DeleteModule() { ++released; }
};
int CountingModule::released = 0, CountingModule::deleted = 0;

void FailsHoldingAModule() {
  auto m = MakeModule<CountingModule>();
  ASSERT_TRUE(false) << "a failed check with a module";
}

std::string scratch;  // the folder FailsInAFolder works in
void FailsInAFolder() {
  WorkingDirectory here(scratch);
  ASSERT_TRUE(false) << "a failed check in " << scratch;
}

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

TEST(WorkingDirectoryOfATest, AFailedCheckReturnsToThePreviousFolder) {
  const std::filesystem::path before = std::filesystem::current_path();
  TempDir dir;
  scratch = dir.path();
  EXPECT_FATAL_FAILURE(FailsInAFolder(), "a failed check in");
  EXPECT_EQ(std::filesystem::current_path(), before);
}

TEST(ModuleOwnerOfATest, ReleasesItsModuleOnceHoweverTheTestEnds) {
  CountingModule::released = CountingModule::deleted = 0;
  EXPECT_FATAL_FAILURE(FailsHoldingAModule(), "a failed check with a module");
  EXPECT_EQ(CountingModule::released, 1);
  EXPECT_EQ(CountingModule::deleted, 1);
  {
    auto m = MakeModule<CountingModule>();
    m.Release();  // the test looks at what the release left ...
    EXPECT_EQ(CountingModule::released, 2);
    EXPECT_EQ(CountingModule::deleted, 1);  // ... with the object still there
    ModuleOwner<CountingModule> moved = std::move(m);
  }
  EXPECT_EQ(CountingModule::released, 2);  // not released again when it goes
  EXPECT_EQ(CountingModule::deleted, 2);
}
