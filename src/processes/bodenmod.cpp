#include "processes/bodenmod.h"

#include "framework/module_stub.h"

bodenmodellklasse::bodenmodellklasse(int& error, const ModuleInputs& in, const std::string& sectionName)
    : teilmodellklasse(in, sectionName, 1, SectionRequirement::Required) {
  error = RefuseActiveModule(*this);
  soilZoneTable = zoneTable;
  soilZoneCodeMap = zoneCodeMap;
  soilZoneCount = zoneCount;
  soilMaxZoneCode = maxZoneCode;
}

bodenmodellklasse::~bodenmodellklasse() = default;

void bodenmodellklasse::SetInputGrid(int) {}

SubbasinRunoff* bodenmodellklasse::GetSubbasinRunoff() { return flowControl != 0 ? subbasinRunoff : nullptr; }

const char* bodenmodellklasse::GetStorageFileName() const {
  return flowControl != 0 && !storageFileName.empty() ? storageFileName.c_str() : nullptr;
}

void bodenmodellklasse::Run(ModelDate date) {
  if (flowControl == 0) return;
  BeginTimeStep(date.minute, date.hour, date.day, date.month, date.year);
}

void bodenmodellklasse::WriteStatistics() {}

void bodenmodellklasse::DeleteModule() {
  DeleteTracers();
  modelobject::DeleteModule();
}
