#include "framework/special_output.h"

#include "framework/module_stub.h"

SpecialOutputClass::SpecialOutputClass(int& error, const ModuleInputs& in, int intParam)
    : teilmodellklasse(in, "special_output", intParam, SectionRequirement::Optional),
      outputDirectory(in.output.defaultOutputDirectory) {
  error = RefuseActiveModule(*this);
}

SpecialOutputClass::~SpecialOutputClass() = default;

void SpecialOutputClass::CollectValues(int64_t, int64_t, int64_t, int64_t, int64_t) {}
void SpecialOutputClass::FlushAll() {}
void SpecialOutputClass::DeleteModule() { modelobject::DeleteModule(); }
