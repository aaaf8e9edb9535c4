// How the worker threads of the cell loops wait between two loops.
//
// The OpenMP runtime lets idle workers spin for a while by default, which keeps cores busy
// that the writer thread, other runs or other programs could use. The program asks for
// sleeping workers unless the user's environment chooses a policy itself (OMP_WAIT_POLICY,
// or GOMP_SPINCOUNT for the GNU runtime). The runtime reads its settings when it is
// loaded, before main, so the program sets the variable and starts itself again once.
#pragma once

// The value OMP_WAIT_POLICY is to be given, or nullptr when the environment already
// decides (either variable set, even to an empty text).
const char* WaitPolicyToSet(const char* waitPolicy, const char* spinCount);

// Called first thing in main: when WaitPolicyToSet asks for a policy, sets it and replaces
// the process with a fresh start of the same program and arguments. Returns when nothing
// is to be done, or when the restart is not possible (the run then goes on with the
// runtime's default policy).
void ApplyWaitPolicy(char** argv);
