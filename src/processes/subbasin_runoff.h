// The soil model's runoff record, shared with routing and the snow model: row t (0 = water,
// 1.. = tracers) and column i (internal sub-basin number 1..n) hold the runoff of sub-basin i
// in the step, in mm. Columns 0 and n + 1 stay 0. The soil model owns the rows; the snow
// model fills the glacier sub-basins; routing reads it.
#pragma once

struct SubbasinRunoff {
  double** table = nullptr;  // rows 0..tracerCount, columns 0..subbasinCount + 1
  int subbasinCount = 0;
  int tracerCount = 0;

  double& Water(int subbasin) { return table[0][subbasin]; }
  double Water(int subbasin) const { return table[0][subbasin]; }
};
