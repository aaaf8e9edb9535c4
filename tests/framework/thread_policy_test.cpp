#include "framework/thread_policy.h"

#include <gtest/gtest.h>

#include <string>

TEST(ThreadPolicy, SleepingWorkersUnlessTheEnvironmentChoosesAPolicy) {
  struct Case {
    const char* waitPolicy;
    const char* spinCount;
    const char* expected;
  };
  const Case cases[] = {
      {nullptr, nullptr, "PASSIVE"},
      {"ACTIVE", nullptr, nullptr},
      {"", nullptr, nullptr},  // set, even if empty: the user's choice
      {nullptr, "300000", nullptr},
      {"PASSIVE", "0", nullptr},
  };
  for (const Case& c : cases) {
    const char* got = WaitPolicyToSet(c.waitPolicy, c.spinCount);
    if (c.expected == nullptr)
      EXPECT_EQ(got, nullptr);
    else
      EXPECT_EQ(std::string(got ? got : "(none)"), c.expected);
  }
}
