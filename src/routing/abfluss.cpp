#include "routing/abfluss.h"

#include "framework/logstream.h"
#include "framework/module_stub.h"

abflussmodellklasse::abflussmodellklasse(int& error, const ModuleInputs& in, const RoutingInputs& r)
    : teilmodellklasse(in, "routing_model", 1, SectionRequirement::Required), routing(r) {
  error = RefuseActiveModule(*this);
}

abflussmodellklasse::~abflussmodellklasse() = default;

void abflussmodellklasse::SetInputGridNames(int) {}

void abflussmodellklasse::SetSubbasinRunoff(SubbasinRunoff* runoff) {
  if (flowControl == 0) return;
  if (runoff == nullptr) {
    *log << "FATAL: No valid discharges for discharge routing!\nYou have to run the model including at least "
            "precipitation interpolation and soil model\n"
         << "[end-entry]";
    throw 43;
  }
  subbasinRunoff = runoff;
}

void abflussmodellklasse::InitRouting() {}
void abflussmodellklasse::SetInitialDischarge(double) {}
void abflussmodellklasse::ReadStorageFile(const char*, int) {}

void abflussmodellklasse::CollectRoutingObjects(std::vector<routingclass*>& list) {
  list.insert(list.end(), routingObjects.begin(), routingObjects.end());
}

void abflussmodellklasse::RunTimeStep(ModelDate date, int, int) {
  if (flowControl == 0) return;
  BeginTimeStep(date.minute, date.hour, date.day, date.month, date.year);
}

void abflussmodellklasse::WriteStatistics() {}

void abflussmodellklasse::DeleteModule() { modelobject::DeleteModule(); }
