// Feeds arbitrary text as a storage file to the soil model's warm start (see
// soil_fuzz_support.h) and to the routing module's warm start over a basin of
// three sub-basins (two joined into the third, a reservoir with running averages at the
// outlet that gives part of its volume to an internal inflow described before it, so that
// its water waits a step): the part must be restored or
// refused with an error code (and the record of the end state read or refused), never crash or leave values that are not finite; a restored
// state must write back as text that reads to the same state.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "framework/storage_file.h"
#include "processes/subbasin_runoff.h"
#include "routing/routing_state.h"
#include "routing/routingclass.h"
#include "routing_fuzz_support.h"
#include "soil_fuzz_support.h"

namespace {

struct Basin : RoutingFuzzBasin {
  double rows[2][5] = {{0, 0.7, 1.3, 0.2, 0}, {0, 0, 0, 0, 0}};
  double* rowPointers[2] = {rows[0], rows[1]};
  SubbasinRunoff runoff;
  std::unique_ptr<abflussmodellklasse> module;

  Basin() : RoutingFuzzBasin(6, 10, "/tmp/fuzz_storage_XXXXXX") {
    const std::string path = dir + "basin.ctl";
    const std::string channel = "(km=2, kf=5, bm=5, bf=50, hm=5, kstm=25, kstf=10, I=0.01, L=9000, A=";
    const std::string control = "[routing_model]\n1\n60\n1.0 3000.0 20 2\nnone 0\nnone\n0\n0\n"
                                "TG 1 (AE=10, AF=1.0)\nZL 1 = intern " + channel + "4)\n"
                                "TG 2 (AE=20, AF=1.0)\nTG 3 (AE=60, AF=1.0)\nOL 1 " + channel + "10)\n"
                                "SUMTRIB 2 " + channel + "20)\nAL 1 (mode = intern 0 0.1 1000 mm)\n"
                                "SP 1 (file = res1.txt V0 = 1000 A0 = 1e5 W0 = 10 C0 = 0 0 0 0 0 0 0 0 0 "
                                "UseRunningAvg = 2)\nend\n"
                                "[abstraction_rule_reservoir_1]\n2 1\n0 0\n1e6 5\n\n";
    if (dir.empty() || !WriteWhole(path, control)) std::abort();
    runoff.table = rowPointers;
    runoff.subbasinCount = 3;
    int error = 0;
    module = std::make_unique<abflussmodellklasse>(error, Inputs(path), Routing());
    module->readInitialStates = 1;
    module->SetSubbasinRunoff(&runoff);
    module->InitRouting();
  }
};

Basin& TheBasin() {
  static Basin b;
  return b;
}

}  // namespace

// The text of a valid part, as a seed for the corpus.
std::string FuzzStorageSeed() { return TheBasin().module->StorageSectionText(); }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Basin& b = TheBasin();
  b.console.str("");
  const std::string text(reinterpret_cast<const char*>(data), size);
  // The record of the end state: read, or refused with where it is damaged.
  EndStateRecord record;
  std::string why;
  if (ReadEndStateRecord(text, record, &why) < 0 && why.empty()) std::abort();
  // The check that the file is whole text, up to the end of its record.
  try {
    RequireWholeStorageFile(text, "fuzz.txt", &b.log, StorageFileMarks());
  } catch (int code) {
    if (code != 71) std::abort();
  }
  soilfuzz::SoilStorageFuzz(text);
  try {
    b.module->RestoreStorageSection(text, "fuzz.txt");
  } catch (int) {
    return 0;
  }
  for (const routingclass* o : b.module->routingObjects)
    for (const ChannelTable& c : o->channels) {
      for (double v : c.queue)
        if (!std::isfinite(v)) std::abort();
      for (double v : c.qaus)
        if (!std::isfinite(v)) std::abort();
      for (size_t m = 1; m < c.lastSlot.size(); ++m)
        if (c.lastSlot[m] < 0 || c.lastSlot[m] > static_cast<int>(c.queue.size()) - 1) std::abort();
    }
  for (const routingclass* o : b.module->routingObjects)
    for (const auto& sp : o->reservoirs) {
      if (!(sp->state[0] >= 0.0) || !std::isfinite(sp->state[0]) || !std::isfinite(sp->W)) std::abort();
      for (double v : sp->runningAvg)
        if (!std::isfinite(v)) std::abort();
    }
  const std::string first = b.module->StorageSectionText();
  try {
    b.module->RestoreStorageSection(first, "fuzz.txt");
  } catch (int) {
    std::abort();
  }
  if (b.module->StorageSectionText() != first) std::abort();
  return 0;
}
