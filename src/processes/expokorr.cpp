#include "processes/expokorr.h"

#include "framework/module_stub.h"

expokorrklasse::expokorrklasse(int& error, const ModuleInputs& in)
    : teilmodellklasse(in, "radiation_correction", 1, SectionRequirement::Required) {
  error = RefuseActiveModule(*this);
}

expokorrklasse::~expokorrklasse() = default;

double** expokorrklasse::GetCorrection() { return flowControl != 0 ? correction : nullptr; }

void expokorrklasse::Run(ModelDate date) {
  if (flowControl == 0) return;
  BeginTimeStep(date.minute, date.hour, date.day, date.month, date.year);
}

void expokorrklasse::DeleteModule() { modelobject::DeleteModule(); }
