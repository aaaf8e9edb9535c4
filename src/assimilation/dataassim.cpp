#include "assimilation/dataassim.h"

#include "framework/module_stub.h"

data_assimilation::data_assimilation(int& error, const ModuleInputs& in, std::vector<SP_class*>& list,
                                     int m, int intParam)
    : teilmodellklasse(in, "data_assimilation", intParam, SectionRequirement::Optional),
      reservoirs(&list),
      mode(m) {
  error = RefuseActiveModule(*this);
}

data_assimilation::~data_assimilation() = default;

void data_assimilation::Run(ModelDate date) {
  if (flowControl == 0) return;
  BeginTimeStep(date.minute, date.hour, date.day, date.month, date.year);
}

void data_assimilation::DeleteModule() {
  DeleteTracers();
  modelobject::DeleteModule();
}
