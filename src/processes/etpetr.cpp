#include "processes/etpetr.h"

#include "framework/module_stub.h"
#include "grids/grid_registry.h"

verdunstungsmodellklasse::verdunstungsmodellklasse(int& error, const ModuleInputs& in)
    : teilmodellklasse(in, "evapotranspiration", 1, SectionRequirement::Required) {
  error = RefuseActiveModule(*this);
}

verdunstungsmodellklasse::~verdunstungsmodellklasse() = default;

void verdunstungsmodellklasse::LinkSoilGrids() {
  if (flowControl == 0) return;
  soilStorage = grids[RequireGrid("soil_storage")].data;
  availableSoilMoisture = grids[RequireGrid("available_soil_moisture")].data;
}

int verdunstungsmodellklasse::SetRadiationCorrection(double** correctionData) {
  if (flowControl == 0) return 0;
  radiationCorrection = correctionData;
  return 1;
}

int verdunstungsmodellklasse::SetSnowStorageGrid(double** grid) {
  if (flowControl == 0) return 0;
  snowStorageSolid = grid;
  return 1;
}

void verdunstungsmodellklasse::InitLakes(const std::string&) {}

void verdunstungsmodellklasse::PotentialET(ModelDate date) {
  if (flowControl == 0) return;
  BeginTimeStep(date.minute, date.hour, date.day, date.month, date.year);
}

void verdunstungsmodellklasse::SnowEvaporation(ModelDate) {}
void verdunstungsmodellklasse::RealET(ModelDate) {}
void verdunstungsmodellklasse::WriteStatistics() {}

void verdunstungsmodellklasse::DeleteModule() {
  DeleteTracers();
  modelobject::DeleteModule();
}
