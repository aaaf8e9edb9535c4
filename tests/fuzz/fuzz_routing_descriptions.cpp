// Feeds arbitrary text as the [routing_model] section to the routing module over a basin of
// three sub-basins: the settings, the two passes over the routing descriptions, the network
// checks, the tables, the abstractions with their links and two steps must end in a module
// or an error code, never a crash. Inputs that could name a file outside the fuzzer's own
// folder (a "/" or "~") are skipped: abstractions create their output files at start-up.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_module.h"
#include "routing/routing_description.h"
#include "routing/routingclass.h"
#include "routing_fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static RoutingFuzzBasin basin(4, 4, "/tmp/fuzz_routing_XXXXXX");
  if (basin.dir.empty()) return 0;
  const std::string text(reinterpret_cast<const char*>(data), size);
  if (text.find_first_of("/~") != std::string::npos) return 0;
  const std::string path = basin.dir + "routing.ctl";
  if (!WriteWhole(path, "[routing_model]\n1\n60\n" + text)) return 0;
  basin.console.str("");
  const ModuleInputs in = basin.Inputs(path);
  const RoutingInputs r = basin.Routing();
  std::vector<double> row{0.0, 1.0, 0.5, 2.0};
  double* rows[1] = {row.data()};
  SubbasinRunoff runoff;
  runoff.table = rows;
  runoff.subbasinCount = 3;
  try {
    int error = 0;
    FuzzOwner<abflussmodellklasse> m = MakeModule<abflussmodellklasse>(error, in, r);
    // Long channels are valid but make the start-up routing (one pass per hour of travel
    // time over every queue slot) take minutes: only their construction is fuzzed.
    double travelHours = 0.0, slots = 0.0;
    for (const routingclass* o : m->routingObjects) {
      travelHours += o->MaxTravelHours();
      for (const ChannelTable& c : o->channels) slots += static_cast<double>(c.queue.size());
    }
    if ((travelHours + 3.0) * slots <= 1e6) {
      m->SetSubbasinRunoff(&runoff);
      m->InitRouting();
      m->RunTimeStep(ModelDate{0, 1, 1, 1, 2001}, 1, 1);
      m->RunTimeStep(ModelDate{0, 2, 1, 1, 2001}, 1, 1);
      m->WriteStatistics();
    }
  } catch (int) {
  }
  // The description reader alone, on the text as one description.
  try {
    const SubbasinCodes codes{basin.codeMap.data(), 3};
    ParseRoutingDescription(text, 1, codes, 3, nullptr);
  } catch (int) {
  }
  return 0;
}
