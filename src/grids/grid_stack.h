// Grid stacks: several values per cell (levels 0..N) in a 3-D matrix stack[row][column][level],
// written and read as one ASCII, binary or netCDF file. The operations themselves are
// modelobject::ReadStack, WriteStack and WriteStackGrids; this header holds what they share
// with tests and other writers.
#pragma once

#include <cstdint>
#include <string>

// Levels above this count are refused as a damaged header.
constexpr int64_t kMaxStackLevels = 100000;

// The dated name of a stack written at the given hour: the directory of fileName, the first
// characters of its base name up to its first "." but at most 4, "_" and the date as
// YYYYMMDD.HHH; a repeat above 0 adds "_" and the repeat with at least three digits.
std::string DatedStackName(const std::string& fileName, int64_t year, int64_t month, int64_t day, int64_t hour,
                           int64_t repeat);
// The same name with its date digits standing for any digit (framework/run_files.h).
std::string DatedStackPattern(const std::string& fileName, bool repeated);

// Kinds of stack files, recognised by their first bytes.
enum class StackFileKind { Ascii, BinaryDouble, BinarySingle, Netcdf, Unknown };
