// The hand-over of the start-up's results to the application.
#include "init/defaultini.h"

int defaultini::GetInitValues(std::string& workingFile, RunValues& values) {
  workingFile = workingControlFile;
  workingControlFile.clear();

  run.standardGridCount = standardGridCount;
  run.geometry = geometry;
  run.landuseTable = landuseTable.size() > 1 ? &landuseTable : nullptr;
  run.soilTable = soilTable.size() > 1 ? &soilTable : nullptr;
  run.irrigationTable = mode == 2 ? irrigationTable : nullptr;
  run.multiLayerTable = multiLayerTable.size() > 1 ? &multiLayerTable : nullptr;
  run.writeAsciiGrids = output.writeAsciiGrids;
  run.writeDoubleGrids = output.writeDoubleGrids;
  run.writeNetcdfGrids = output.writeNetcdfGrids;
  run.initialStateDirectory = output.initialStateDirectory;
  run.defaultOutputDirectory = output.defaultOutputDirectory;

  // Names and output-list codes belong to the application from now on.
  RunValues handed = run;
  handed.meteoNames = std::move(run.meteoNames);
  handed.outputList = std::move(run.outputList);
  run.meteoNames.clear();
  run.outputList.clear();
  values = std::move(handed);
  return 0;
}
