// Regional superposition without the module object: the text of the control section
// (the "NumberOfEntities" line and the entity blocks), the checks of an entity's region
// lists against the region grid, and the parallel row loop that sums the weighted inputs.
// Free of I/O, so that tests and the fuzzer drive it with hand-made text and grids.
//
// An entity block:
//   name {
//     entityinputgrid = <grid>; regions = 1 2 3; weights = 0.2 0.5 1.0;
//     entityinputgrid = <grid>; regions = ...; weights = ...;
//     outputgrid = <grid>; writecode = 1; outputtable = <file>; statcode = 1001;
//   }
#pragma once

#include <string>
#include <vector>

#include "framework/thread_policy.h"

struct RowBounds;

struct SuperpositionInput {
  std::string gridName;
  std::vector<long> regionCodes;  // as listed
  std::vector<double> weights;    // one per region, in the order of the codes
};

struct SuperpositionEntityText {
  std::string name;
  std::vector<SuperpositionInput> inputs;
  std::string outputGrid;
  long writeCode = 0;
  std::string outputTable;
  long statCode = 0;
};

// The value between the first "=" and the first ";" (or the line's end) of a line that
// contains "NumberOfEntities". False when the keyword is absent or the value is not a
// whole number of 0 or more.
bool ParseNumberOfEntities(const std::string& line, int& count);

// The keys of an entity block; ParseEntityBlock finds each as a whole word.
extern const std::vector<std::string> kEntityKeys;

// Parses one block (from the entity name up to and including "}"). False with a reason
// when a key is missing, a value is empty or a list item is not a number.
bool ParseEntityBlock(const std::string& block, SuperpositionEntityText& entity, std::string& why);

// Checks an input's region list against the region grid's codes (ascending, 1-based:
// sortedCodes[i] is the code of region number i). Returns 0 when it fits, else the error
// code (134 for the regions, 135 for the weights) with the message text.
int CheckEntityRegions(const std::string& moduleName, const std::string& entityName, const SuperpositionInput& input,
                       const std::vector<long>& sortedCodes, std::string& message);

// Everything the superposition loop reads and the grid it writes.
struct SuperpositionLoop {
  int firstRow = 1, lastRow = 0, ncols = 0;
  const std::vector<RowBounds>* rowBounds = nullptr;  // 1..nrows; empty or null: all columns
  double** zone = nullptr;  // cells with the grid nodata value lie outside the basin
  double gridNodata = -9999.0;
  double** mpiRegions = nullptr;  // optional: cells of other instances are skipped
  int rank = 0;
  int levels = 0;                                      // K = min(3, R)
  double** regionGrid[4] = {nullptr, nullptr, nullptr, nullptr};  // levels 1..K: region codes
  double** weightGrid[4] = {nullptr, nullptr, nullptr, nullptr};  // levels 1..K: blending weights
  const int* codeMap = nullptr;  // region code 0..maxCode -> region number 1..R (0: none)
  int maxCode = 0;
  int regionCount = 0;                    // R
  int inputCount = 0;
  double** const* inputs = nullptr;       // 0..inputCount-1
  const double* weights = nullptr;        // input e, region r (1..R) at e * R + r - 1
  double** out = nullptr;
  long minParallelCells = MinParallelCells();
};

// out = sum over levels k of w_k * sum over inputs e of weight_e(region_k) * input_e, for
// every basin cell of this instance; a level whose code is not a region of the table
// (levels 2 and 3: also a code below 1) adds nothing. Other cells keep their value.
void RunSuperposition(const SuperpositionLoop& loop);
