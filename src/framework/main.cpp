#include <iostream>

#include "framework/entry.h"
#include "framework/thread_policy.h"

int main(int argc, char** argv) {
  ApplyWaitPolicy(argv);
  return ExitStatus(RunOrvel(argc, argv, std::cout));
}
