#include "processes/interzep.h"

#include "framework/module_stub.h"

interzeptionsmodellklasse::interzeptionsmodellklasse(int& error, const ModuleInputs& in)
    : teilmodellklasse(in, "interception_model", 1, SectionRequirement::Required) {
  error = RefuseActiveModule(*this);
}

interzeptionsmodellklasse::~interzeptionsmodellklasse() = default;

void interzeptionsmodellklasse::Run(ModelDate date) {
  if (flowControl == 0) return;
  BeginTimeStep(date.minute, date.hour, date.day, date.month, date.year);
}

void interzeptionsmodellklasse::WriteStatistics() {}

void interzeptionsmodellklasse::DeleteModule() {
  DeleteTracers();
  modelobject::DeleteModule();
}
