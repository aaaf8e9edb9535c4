#include "processes/infilt.h"

#include "framework/logstream.h"
#include "framework/module_stub.h"

infiltrationsmodellklasse::infiltrationsmodellklasse(int& error, const ModuleInputs& in)
    : bodenmodellklasse(error, in, "soil_model") {
  if (error != 0 || zoneCodeMap == nullptr) return;
  // The infiltration section opens with the same two values as every module section.
  if (!OpenControlFile()) {
    *log << "FATAL: error opening " << controlFileName << "[end-entry]";
    throw 28;
  }
  SeekControlKey("[infiltration_model]", true);
  ReadControlValue(infiltrationFlowControl, "flow control parameter for ");
  ReadControlValue(infiltrationInterval, "time interval for ");
  CloseControlFile();
  if (infiltrationFlowControl != 0) {
    *log << "FATAL: the module infiltration_model is switched on in " << controlFileName
         << ", but this version cannot run it yet: set its flow control parameter to 0" << "[end-entry]";
    error = 17;
  }
}

infiltrationsmodellklasse::~infiltrationsmodellklasse() = default;

void infiltrationsmodellklasse::Run(ModelDate date) { bodenmodellklasse::Run(date); }

void infiltrationsmodellklasse::WriteStatistics() { bodenmodellklasse::WriteStatistics(); }

void infiltrationsmodellklasse::DeleteModule() { bodenmodellklasse::DeleteModule(); }
