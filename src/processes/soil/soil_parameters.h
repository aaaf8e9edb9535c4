// The sub-basin parameter table of "[soil_model]": one column per listed sub-basin code,
// a row of codes and then fourteen parameter rows; sub-basins between two listed codes take
// the values of the listed code before them.
#pragma once

#include <string>
#include <vector>

#include "processes/soil/soil_cell.h"

class LogStream;
class TextCursor;

// Where the table stands and what it is checked against.
struct SubbasinTableContext {
  const std::vector<int>* codeMap = nullptr;  // code 0..largestCode -> sub-basin index (0: none)
  const std::vector<int>* codes = nullptr;    // index 1..n -> code, ascending
  int largestCode = 0;
  double dtMinutes = 60.0;  // the soil section's time interval
  std::string moduleName;
  std::string section;  // e.g. "[soil_model]", named by the messages when given
  std::string controlFileName;
  LogStream* log = nullptr;
};

// Reads the table from the cursor (standing at the row of codes) into params[1..n], with
// the conversions to internal units. A bad table writes its FATAL message and throws 10
// (1 for a recession parameter that is not positive).
void ReadSubbasinParameterTable(TextCursor& cursor, const SubbasinTableContext& context,
                                std::vector<SubbasinParameters>& params);

// Reads the row of codes (the cursor stands at it) and skips the rest of its line; returns,
// per sub-basin index 1..n, whether it has a column of its own (the others take the values
// of the sub-basin before them). A bad row writes its FATAL message and throws 10.
std::vector<bool> ReadSubbasinColumns(TextCursor& cursor, const SubbasinTableContext& context);

// The explanation on groups of sub-basins that ends every message on a bad table.
const char* SubbasinGroupHelpText();

// A storage coefficient in hours as minutes: below 0.001 h counts as one hour.
double StorageCoefficientMinutes(double hours);
