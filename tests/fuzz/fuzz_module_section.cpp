// Feeds arbitrary text as a control file to the readers of the module sections: the two
// opening values of a module section and the tracer settings must end in a module or an
// error code, never a crash.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "framework/teilmod.h"
#include "fuzz_folder.h"
#include "fuzz_module.h"
#include "init/tracer_ini.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = "fuzz_module_section_" + std::to_string(getpid()) + ".ctl";
  if (!WriteWhole(path, std::string(reinterpret_cast<const char*>(data), size))) return 0;

  QuietLog quiet;
  LogStream& log = quiet.log;
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
  const FuzzOwner<tracer_ini_class> tracers =
      MakeModule<tracer_ini_class>(error, &log, path, count, table, OutputSettings());
  return 0;
}
