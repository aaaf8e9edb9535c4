// Shared set-up of the interpolator fuzz targets: a private working folder holding a
// small station file and the control file of the case, and the small test basin.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <string>

#include "../meteo/small_basin.h"
#include "fuzz_folder.h"
#include "fuzz_module.h"
#include "meteo/meteoint.h"

namespace meteo_fuzz {

// Two stations with three hourly records from 1.1.2001 0:00.
inline const char* StationText() {
  return "stations\nYY MM DD HH 1000 1200\nYY MM DD HH 500 3500\nYY MM DD HH 500 2500\nYY MM DD HH S1 S2\n"
         "2001 1 1 0 1.5 2.5\n2001 1 1 1 1.0 3.0\n2001 1 1 2 0.5 9999\n2001 1 1 3 2 2\n";
}

struct Folder {
  std::string path;  // names in the fuzzed text are relative to it
  std::string home;  // the fuzzer's own working folder (its corpus and findings)
  Folder() {
    char tmpl[] = "/tmp/orvel-meteo-fuzz-XXXXXX";
    if (!mkdtemp(tmpl)) std::abort();
    path = tmpl;
    char cwd[4096];
    if (!getcwd(cwd, sizeof cwd)) std::abort();
    home = cwd;
    WriteWhole(path + "/st.dat", StationText());
  }
};

inline Folder& WorkFolder() {
  static Folder folder;
  return folder;
}

// Works in the work folder while it lives.
struct InWorkFolder {
  InWorkFolder() {
    if (chdir(WorkFolder().path.c_str()) != 0) std::abort();
  }
  ~InWorkFolder() {
    if (chdir(WorkFolder().home.c_str()) != 0) std::abort();
  }
};

// Builds the interpolator "temperature" from the control file run.ctl and steps it through
// its records; every failure must be an error code.
inline void BuildAndStep(int steps) {
  static QuietLog quiet;
  SmallBasin basin;
  const ModuleInputs in = basin.Inputs(quiet.log, "run.ctl", WorkFolder().path + "/");
  try {
    const FuzzOwner<meteointerpol> ip = MakeModule<meteointerpol>(in, "temperature", 10, 0);
    for (int k = 0; k < steps && !ip->IsEndOfPeriod(); ++k) {
      ModelDate d;
      ip->GetCurrentTime(d.minute, d.hour, d.day, d.month, d.year);
      ip->Interpolate(d);
      ip->ReadNextRecord();
    }
  } catch (int) {
  }
}

}  // namespace meteo_fuzz
