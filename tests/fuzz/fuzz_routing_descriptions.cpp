// Feeds arbitrary text as the [routing_model] section to the routing module over a basin of
// three sub-basins: the settings, the two passes over the routing descriptions, the network
// checks, the tables, the abstractions with their links and two steps must end in a module
// or an error code, never a crash. Inputs that could name a file outside the fuzzer's own
// folder (a "/" or "~") are skipped: abstractions create their output files at start-up.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "framework/logstream.h"
#include "framework/zonalstatistic.h"
#include "grids/grid_registry.h"
#include "routing/abfluss.h"
#include "routing/routing_description.h"
#include "routing/routingclass.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string dir = "fuzz_routing_" + std::to_string(getpid());
  static const std::string path = dir + ".ctl";
  static bool made = [] { return std::system(("mkdir -p " + dir).c_str()) == 0; }();
  (void)made;
  const std::string text(reinterpret_cast<const char*>(data), size);
  if (text.find_first_of("/~") != std::string::npos) return 0;
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return 0;
  const std::string head = "[routing_model]\n1\n60\n";
  std::fwrite(head.data(), 1, head.size(), f);
  std::fwrite(data, 1, size, f);
  std::fclose(f);

  std::ostringstream console;
  LogStream log(console, "/dev/null", 0);
  static GridRegistry registry;
  std::vector<ZoneTableEntry> zones(4);
  for (int i = 1; i <= 3; ++i) {
    zones[i].code = i;
    zones[i].cellCount = 10.0 * i;
  }
  int codeMap[] = {0, 1, 2, 3};
  std::vector<StatisticsTableEntry> statistics(201);
  ModuleInputs in;
  in.log = &log;
  in.controlFileName = path;
  in.grids = registry.Records();
  in.statisticsTable = statistics.data();
  in.statisticsSize = 200;
  in.zoneTable = zones.data();
  in.zoneCodeMap = codeMap;
  in.zoneCount = 3;
  in.maxZoneCode = 3;
  in.geometry.ncols = 4;
  in.geometry.nrows = 4;
  in.geometry.cellsize = 1000.0;
  in.start = ModelDate{0, 1, 1, 1, 2001};
  in.output.defaultOutputDirectory = dir + "/";
  RoutingInputs r;
  r.soilInterval = 60;
  r.soilZoneTable = zones.data();
  r.soilZoneCodeMap = codeMap;
  r.soilZoneCount = 3;
  r.soilMaxZoneCode = 3;
  try {
    int error = 0;
    abflussmodellklasse m(error, in, r);
    // Long channels are valid but make the start-up routing (one pass per hour of travel
    // time over every queue slot) take minutes: only their construction is fuzzed.
    double travelHours = 0.0, slots = 0.0;
    for (const routingclass* o : m.routingObjects) {
      travelHours += o->MaxTravelHours();
      for (const ChannelTable& c : o->channels) slots += static_cast<double>(c.queue.size());
    }
    if ((travelHours + 3.0) * slots > 1e6) {
      m.DeleteModule();
      return 0;
    }
    std::vector<std::vector<double>> rows(1, std::vector<double>{0.0, 1.0, 0.5, 2.0});
    std::vector<double*> rowPointers = {rows[0].data()};
    SubbasinRunoff runoff;
    runoff.table = rowPointers.data();
    runoff.subbasinCount = 3;
    m.SetSubbasinRunoff(&runoff);
    m.InitRouting();
    m.RunTimeStep(ModelDate{0, 1, 1, 1, 2001}, 1, 1);
    m.RunTimeStep(ModelDate{0, 2, 1, 1, 2001}, 1, 1);
    m.WriteStatistics();
    m.DeleteModule();
  } catch (int) {
  }
  // The description reader alone, on the text as one description.
  try {
    const SubbasinCodes codes{codeMap, 3};
    ParseRoutingDescription(text, 1, codes, 3, nullptr);
  } catch (int) {
  }
  return 0;
}
