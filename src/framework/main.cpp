#include <unistd.h>

#include "framework/ctrl_c.h"
#include "framework/descriptor_stream.h"
#include "framework/entry.h"
#include "framework/thread_policy.h"

int main(int argc, char** argv) {
  // A signal ignored by whoever started the program (nohup, `&` in a script) stays ignored.
  KeepSignalsIgnoredAtStart();
  ApplyWaitPolicy(argv);
  // The console never ends or holds up a run that is asked to end (see ConsoleStream).
  ConsoleStream console(STDOUT_FILENO);
  return ExitStatus(RunOrvel(argc, argv, console));
}
