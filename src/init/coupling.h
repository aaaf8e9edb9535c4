// Settings and helpers of the file exchange with an outside program (for example a
// groundwater model): the grids read from it, the grids and zone statistics handed to it,
// and the semaphore files that say when a set of exchanged files is complete.
//
// The operations themselves are members of defaultini:
//   coupling_settings.cpp   [ExternalCoupling] and the accessors
//   coupling_exchange.cpp   entity lookup, per-step accumulation, reading the outside grids
//   summary_output.cpp      the sums, means and running totals written for the outside program
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "framework/memory_handling.h"

// One zonal statistic as the driver of the coupling hands it in. Vectors are 1-based over
// entries 1..n-1 (entry 0 unused); a record with an empty values vector ends a list.
struct ExternalStatisticRecord {
  std::string name;
  long n = 0;
  std::vector<int64_t> zoneCodes;
  std::vector<double> values;  // current values of the latest step
  std::vector<double> sums;    // accumulated values
  std::vector<double> weights;
};

struct ExternalReadGrid {
  std::string fileName;
  std::string internalName;
  int fillCode = 0;
  int renameCode = 0;        // 1: rename with date and clock, 0: delete, other: leave
  double** data = nullptr;   // the registered grid, once resolved (not owned)
};

struct ExternalWriteGrid {
  std::string fileName;
  std::string internalName;
  std::string writeCode;
  double** data = nullptr;   // the registered source grid, once resolved (not owned)
  MatrixOwner sum;           // for "Sum", "Mean" and "SumTotal..." codes
};

struct ExternalWriteStatistic {
  std::string fileName;
  std::string entityName;
  std::string writeCode;
  ExternalStatisticRecord* record = nullptr;  // once resolved (owned by the caller)
};

struct CouplingSettings {
  int mode = 0;  // 0: no coupling, 1: coupled
  std::string semaphoreFile;
  long waitInterval = 0;
  char gridMode = 'I';  // I, H, D, M or Y
  int externalTimeStep = 0;  // minutes
  std::vector<ExternalReadGrid> readGrids;
  std::vector<ExternalWriteGrid> writeGrids;
  std::vector<ExternalWriteStatistic> statistics;
  std::string informSemaphoreFile;
  std::string informSemaphoreContent;
  int stepCounter = 0;  // steps accumulated since the previous summary write
};

// The clock, the wait and the file removal of the exchange. Defaults use the processor
// clock, poll it for the wait, and std::remove; tests install their own so they never
// wait for real. An empty function restores the default.
using CouplingClock = std::function<long()>;
using CouplingWaiter = std::function<void(long clockTicks)>;
using CouplingRemover = std::function<int(const std::string& path)>;
void SetCouplingClock(CouplingClock clock);
void SetCouplingWaiter(CouplingWaiter waiter);
void SetCouplingRemover(CouplingRemover remover);
long CouplingClockTicks();
void CouplingWait(long clockTicks);
int CouplingRemove(const std::string& path);

// Write codes.
bool HasSumGrid(const std::string& writeCode);       // "Sum", "Mean" or "SumTotal..."
bool IsRunningTotal(const std::string& writeCode);   // begins with "SumTotal"
bool SavesAtEndOfDay(const std::string& writeCode);
bool SavesAtEndOfMonth(const std::string& writeCode);
bool SavesAtEndOfYear(const std::string& writeCode);

// Name under which an exchanged grid file is kept after it was read.
std::string ExchangedGridName(const std::string& fileName, long year, long month, long day, long hour,
                              long clockTicks);
// Names of the running totals saved at the end of a day, month or year.
std::string EndOfDayName(const std::string& fileName, int year, int month, int day);
std::string EndOfMonthName(const std::string& fileName, int year, int month);
std::string EndOfYearName(const std::string& fileName, int year);

// The statistic table handed to the outside program; adds the current values into the
// sums first for the summing codes. zoneCount is that of the zone table.
std::string StatisticTableText(ExternalStatisticRecord& record, const std::string& writeCode, int stepCounter,
                               int zoneCount, int year, int month, int day, int hour);
