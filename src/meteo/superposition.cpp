#include "meteo/superposition.h"

#include "framework/module_stub.h"

RegionalSuperposition::RegionalSuperposition(const ModuleInputs& in)
    : teilmodellklasse(in, "RegionalSuperposition", 1, SectionRequirement::Required) {
  if (const int error = RefuseActiveModule(*this)) throw error;
}

RegionalSuperposition::~RegionalSuperposition() = default;

void RegionalSuperposition::Run(ModelDate date) {
  if (flowControl == 0) return;
  BeginTimeStep(date.minute, date.hour, date.day, date.month, date.year);
}

void RegionalSuperposition::WriteResults() {}
void RegionalSuperposition::WriteStatistics() {}
void RegionalSuperposition::DeleteModule() { modelobject::DeleteModule(); }
