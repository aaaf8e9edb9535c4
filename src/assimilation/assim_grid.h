// Grid rules: a registered grid is replaced by a grid file at each date of a list file;
// for snow, the new total is divided between the liquid and solid storages and between
// the storages on and off the glacier.
#pragma once

#include <string>

#include "assimilation/dataassim.h"

namespace assim {

// Divides the new total T between liquid and solid storage: by the cell's current liquid
// fraction, or by the default liquid percentage where no solid storage is present. The
// two always add up to T; the fraction is held within 0..1.
inline void SplitSnowTotal(double total, double defaultLiquidPercent, double& liquid, double& solid) {
  double fraction;
  if (solid <= 0.0 || solid + liquid <= 0.0) {
    fraction = defaultLiquidPercent / 100.0;
  } else {
    fraction = liquid / (solid + liquid);
    if (fraction < 0.0) fraction = 0.0;
    if (fraction > 1.0) fraction = 1.0;
  }
  liquid = fraction * total;
  solid = total - liquid;
}

// The storages of one cell that a snow grid rule sets.
struct SnowCell {
  double liquid = 0, solid = 0;                                   // off the glacier
  double glacierTotal = 0, glacierLiquid = 0, glacierSolid = 0;  // on the glacier
};

// Sets the storages of a cell to the new total T; with weighing, also the storages on the
// glacier, of which only the part that the glacierized fraction g keeps stays set (g >= 1:
// nothing off the glacier; g <= 0: nothing on it).
void AssimilateSnowCell(double total, double defaultLiquidPercent, bool weighing, double glacierFraction,
                        SnowCell& cell);

// Whether a grid is one of the snow storages, which a replacing grid must not make negative.
bool IsSnowStorageGrid(const std::string& name);

}  // namespace assim

class data_assimilation_grid_entity : public data_assimilation_entity {
 public:
  // Reads the rule's keys, finds its grids and opens its list file up to the first record
  // at or after the run's start. Errors end the construction with their code.
  data_assimilation_grid_entity(data_assimilation& module, const std::string& ruleText);

  void Apply(ModelDate date) override;

  const std::string& GridName() const { return gridName; }
  bool Splits() const { return split; }
  bool Weighs() const { return weighing; }
  double DefaultLiquidPercent() const { return defaultLiquidPercent; }
  const std::string& PendingFile() const { return pendingFile; }

 private:
  void ReadNextRecord() override;
  double** Require(const std::string& name, int code, bool glacierHint);
  void SplitCells();

  std::string gridName;
  int gridIndex = 0;
  double** target = nullptr;
  bool split = false;
  bool weighing = false;
  double defaultLiquidPercent = 0.0;
  double** liquid = nullptr;
  double** solid = nullptr;
  double** glacierLiquid = nullptr;
  double** glacierSolid = nullptr;
  double** glacierTotal = nullptr;
  double** glacierFraction = nullptr;
  // The snow cover's storages, booked before and after a replacement of a snow storage.
  double** snowLiquid = nullptr;
  double** snowSolid = nullptr;
  std::string pendingFile;
};
