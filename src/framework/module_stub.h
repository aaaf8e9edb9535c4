// For modules whose process is not part of this version yet: the module is built and
// stepped like any other, but it can only be switched off.
#pragma once

#include "framework/logstream.h"
#include "framework/teilmod.h"

// Returns 0 for a switched-off module; for an active one logs why it cannot run and
// returns error code 17 (the control file asks for more than the program can do).
inline int RefuseActiveModule(teilmodellklasse& m) {
  if (m.GetFlowControl() == 0) return 0;
  m.CloseControlFile();
  *m.log << "FATAL: the module " << m.name << " is switched on in " << m.ShownControlFile()
         << ", but this version cannot run it yet: set its flow control parameter to 0" << "[end-entry]";
  return 17;
}
