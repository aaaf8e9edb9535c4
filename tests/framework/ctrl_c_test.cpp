#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include "framework/ctrl_c.h"

TEST(CtrlC, BetweenRunsTheHandlerEndsTheProcessLikeTheDefaultAction) {
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    CurrentApplication = nullptr;
    EnableCtrlCHandler();
    std::raise(SIGINT);
    _exit(0);  // not reached: the default action ends the child
  }
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(WTERMSIG(status), SIGINT);
}

TEST(CtrlC, DuringARunOnlyTheFirstSignalIsRecorded) {
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    CurrentApplication = reinterpret_cast<ModellApplication*>(0x1);  // any non-null application
    CtrlCState = 0;
    EnableCtrlCHandler();
    std::raise(SIGINT);
    int first = CtrlCState.load();
    std::raise(SIGINT);  // ignored until the handler is installed again
    EnableCtrlCHandler();
    std::raise(SIGINT);  // state is not 0: nothing changes
    _exit(first == 1 && CtrlCState.load() == 1 ? 0 : 1);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}
