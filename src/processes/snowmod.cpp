#include "processes/snowmod.h"

#include "framework/module_stub.h"

schneemodellklasse::schneemodellklasse(int& error, const ModuleInputs& in)
    : teilmodellklasse(in, "snow_model", 1, SectionRequirement::Required) {
  error = RefuseActiveModule(*this);
}

schneemodellklasse::~schneemodellklasse() = default;

void schneemodellklasse::SetRadiationCorrection(double** correctionData) {
  if (flowControl != 0) radiationCorrection = correctionData;
}

double** schneemodellklasse::GetSnowStorageSolid() { return flowControl != 0 ? snowStorageSolid : nullptr; }

void schneemodellklasse::InitLakes(const std::string&) {}

void schneemodellklasse::SetSubbasinRunoff(SubbasinRunoff* runoff) {
  if (flowControl != 0) subbasinRunoff = runoff;
}

void schneemodellklasse::ReadStorageFile(const char*, int) {}

void schneemodellklasse::Run(ModelDate date) {
  if (flowControl == 0) return;
  BeginTimeStep(date.minute, date.hour, date.day, date.month, date.year);
}

void schneemodellklasse::PostRun(ModelDate) {}
void schneemodellklasse::WriteStatistics() {}

void schneemodellklasse::DeleteModule() {
  DeleteTracers();
  modelobject::DeleteModule();
}
