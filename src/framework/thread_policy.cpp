#include "framework/thread_policy.h"

#include <unistd.h>

#include <cstdlib>

const char* WaitPolicyToSet(const char* waitPolicy, const char* spinCount) {
  if (waitPolicy != nullptr || spinCount != nullptr) return nullptr;
  return "PASSIVE";
}

void ApplyWaitPolicy(char** argv) {
  const char* policy = WaitPolicyToSet(std::getenv("OMP_WAIT_POLICY"), std::getenv("GOMP_SPINCOUNT"));
  if (policy == nullptr || argv == nullptr || argv[0] == nullptr) return;
  if (setenv("OMP_WAIT_POLICY", policy, 1) != 0) return;
  execv("/proc/self/exe", argv);
  // Still here: the restart failed. The variable stays set for child processes only.
}

namespace {
long minParallelCells = kMinParallelCells;
}  // namespace

long MinParallelCells() { return minParallelCells; }

ScopedMinParallelCells::ScopedMinParallelCells(long cells) : previous_(minParallelCells) {
  minParallelCells = cells;
}

ScopedMinParallelCells::~ScopedMinParallelCells() { minParallelCells = previous_; }
