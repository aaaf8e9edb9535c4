#include "meteo/precicorr.h"

precicorrclass::precicorrclass(int& error, LogStream* logStream, meteointerpol** table,
                               const std::vector<std::string>&, const std::string& controlFile, int count,
                               GridRecord* registry, const GridGeometry& geom)
    : modelobject(logStream, controlFile), interpolators(table), interpolatorCount(count) {
  error = 0;
  name = "precipitation_correction";
  grids = registry;
  geometry = geom;
}

precicorrclass::~precicorrclass() = default;

void precicorrclass::CorrectStationValues() {}
void precicorrclass::CorrectPrecipitation() {}
void precicorrclass::DeleteModule() { modelobject::DeleteModule(); }
