// Feeds arbitrary bytes to the grid inputs of an interpolator: the first byte chooses
// between a method-9 grid list (the bytes are the list, whose grids are small valid or
// damaged files) and the twelve monthly scenario grids of scenario method 5 (the bytes are
// the grid file). Both must end in interpolated steps or an error code.
#include <cstddef>
#include <cstdint>
#include <string>

#include "meteo_fuzz_support.h"

namespace {

const char* const kTail =
    "out.asc\n0\n1.0\nout.stat 0\n9999\n2.0\n1.0\n1e7\n0\n1.0\n-100\n-100\n100\n100\n";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const std::string bytes(reinterpret_cast<const char*>(data + 1), size - 1);
  meteo_fuzz::InWorkFolder inFolder;
  WriteWhole("g1.asc", "ncols 5\nnrows 4\nxllcorner 0\nyllcorner 0\ncellsize 1000\nnodata_value -9999\n"
                                  "1 2 3 4 5\n1 2 3 4 5\n1 2 3 4 5\n1 2 3 4 5\n");
  WriteWhole("g2.asc", "ncols 5\nnrows 4\nxllcorner 0\nyllcorner 0\ncellsize 1000\n");
  if (data[0] % 2 == 0) {
    if (bytes.find('/') != std::string::npos) return 0;  // listed grids stay in the work folder
    WriteWhole("grids.list", bytes);
    WriteWhole("run.ctl", std::string("[temperature]\n9\ngrids.list\n8.916787e-5 0.0767528404 127 6e-6 0.098\n") +
                                         kTail + "0\n");
  } else {
    WriteWhole("scenario.asc", bytes);
    std::string months;
    for (int m = 0; m < 12; ++m) months += "scenario.asc\n";
    WriteWhole("run.ctl", std::string("[temperature]\n1\nst.dat\nnone\n") + kTail + "1\n5\n" + months);
  }
  meteo_fuzz::BuildAndStep(3);
  return 0;
}
