// The link of reservoir rules to the routing module's reservoirs and lakes.
#include "assimilation/assim_reservoir.h"
#include "routing/reservoir.h"

namespace {

class ReservoirLevel : public LevelTarget {
 public:
  explicit ReservoirLevel(SP_class& r) : reservoir(r) {}
  // Only lakes carry a level-volume table.
  bool HasLevelVolumeTable() const override {
    return reservoir.lake && !reservoir.levels.empty() && reservoir.levels.size() == reservoir.volumes.size();
  }
  double VolumeAtLevel(double level) const override { return reservoir.InterpolateBackward(level); }
  void SetState(double volume, double level) override {
    reservoir.UpdateLakeLevel(volume);
    if (reservoir.state.empty()) reservoir.state.resize(1);
    reservoir.state[0] = volume;
    reservoir.W = level;
  }

 private:
  SP_class& reservoir;
};

}  // namespace

data_assimilation::ReservoirLookup DefaultReservoirLookup(std::vector<SP_class*>& list) {
  return [&list](int number) -> std::unique_ptr<LevelTarget> {
    for (SP_class* r : list)
      if (r && r->number == number) return std::make_unique<ReservoirLevel>(*r);
    return nullptr;
  };
}
