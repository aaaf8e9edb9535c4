// Feeds arbitrary text as a control file to the readers of the module sections: the two
// opening values of a module section and the tracer settings must end in a module or an
// error code, never a crash.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <sstream>
#include <string>

#include "framework/logstream.h"
#include "framework/teilmod.h"
#include "init/tracer_ini.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = "fuzz_module_section_" + std::to_string(getpid()) + ".ctl";
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return 0;
  std::fwrite(data, 1, size, f);
  std::fclose(f);

  std::ostringstream console;
  LogStream log(console, "/dev/null", 0);
  int zoneCodes[2] = {0, 1};
  ModuleInputs in;
  in.log = &log;
  in.controlFileName = path;
  in.zoneCodeMap = zoneCodes;
  in.minToIntEnd = 60.0;
  for (const char* name : {"snow_model", "routing_model"}) {
    try {
      teilmodellklasse m(in, name, 1, SectionRequirement::Optional);
      m.ReadFlowControl("soil_model");
    } catch (int) {
    }
  }
  int error = 0, count = 0;
  TracerRecord* table = nullptr;
  tracer_ini_class tracers(error, &log, path, count, table, OutputSettings());
  tracers.DeleteModule();
  return 0;
}
