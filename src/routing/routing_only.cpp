// Routing alone: the runoff of every sub-basin comes, step by step, from the total-runoff
// statistics file that the soil model wrote in a former run, and that file's rows are the
// run's clock.
#include <cstdio>

#include "framework/date_text.h"
#include "framework/logstream.h"
#include "framework/run_files.h"
#include "framework/text_helpers.h"
#include "framework/timeseries_table.h"
#include "grids/grid_path.h"
#include "processes/subbasin_runoff.h"
#include "routing/abfluss.h"

void abflussmodellklasse::InitRoutingMode() {
  const int n = subbasinCount;
  modeRows.assign(1, std::vector<double>(static_cast<size_t>(n) + 2, 0.0));
  modeRowPointers = {modeRows[0].data()};
  modeRunoff = std::make_unique<SubbasinRunoff>();
  modeRunoff->table = modeRowPointers.data();
  modeRunoff->subbasinCount = n;

  // The soil model's section names the file on its fifth statistics line; a section under
  // the older name holds it on the 21st line.
  if (!OpenControlFile()) {
    *log << "FATAL: error opening " << controlFileName << " (in initialize routingmode)" << "[end-entry]";
    throw 28;
  }
  const bool soilSection = SeekControlKey("[soil_model]", false);
  if (!soilSection) SeekControlKey("[unsatzon_model]", true);
  std::string skipped, flag;
  for (int k = 0; k < 20; ++k) ReadControlValue(skipped, "name of the Qgstatfiles in ");
  if (soilSection)
    for (int k = 0; k < 4; ++k) ReadTwoControlValues(skipped, flag, "name of the Qgstatfiles in ");
  ReadTwoControlValues(modeFileName, flag, "name of the Qgstatfiles in ");
  modeFileName = MakePath(output.defaultOutputDirectory, modeFileName);
  CloseControlFile();

  const std::string& name = modeFileName;
  RunFiles::Current().Read("[routing_model] total runoff of the earlier run (routing only)", name);
  modeTable = TimeSeriesTable::Open(name, 0, tableBlockBytes);
  if (!modeTable || modeTable->GetState() == TimeSeriesTable::kCannotOpen ||
      modeTable->GetState() == TimeSeriesTable::kReadError) {
    *log << "ERROR: error opening " << name
         << "\nseparate routing with -mode:routing can only be done with valid input data as result of a former model "
            "run (total runoff for each subbasin)!"
         << (modeTable ? " " + modeTable->ErrorPlace() : std::string()) << "[end-entry]";
    throw 1400;
  }
  *log << "INFO: looking for starting date in " << name << "[end-entry]";
  if (modeTable->ColumnCount() != n + 1) {
    *log << "ERROR: error: number of expected columns in " << name
         << " doesn't match the number of subbasins defined in the control file!" << "[end-entry]";
    throw 1410;
  }
  modeReadsPastEnd = 0;
  modeTable->SetRow(-1);
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, previousDay = 0;
  bool found = false;
  for (;;) {
    modeTable->NextKeepingError();
    if (modeTable->AtUnreadableRow()) {
      *log << "[end-entry]";
      FailModeRow();
    }
    if (modeTable->GetState() == TimeSeriesTable::kEnd || modeTable->CurrentRow() >= modeTable->RowCount()) {
      ++modeReadsPastEnd;
      break;
    }
    previousDay = d;
    modeTable->GetDate(y, mo, d, h, mi);
    if (y >= 0 && y < 1000) y += 1900;
    if (d < previousDay) *log << ".";
    if (y == startDate.year && mo == startDate.month && d == startDate.day && h == startDate.hour &&
        mi == startDate.minute) {
      found = true;
      break;
    }
  }
  *log << "[end-entry]";
  if (!found) {
    *log << "ERROR: error looking for start date " << DateText(startDate, kIsoDate)
         << " (run into error at actual position: " << DateText(y, mo, d, h, mi, kIsoDate) << ") in " << name
         << "[end-entry]";
    throw 1420;
  }
  modeDate = ModelDate{mi, h, d, mo, y};
  for (int i = 1; i <= n; ++i) modeRows[0][static_cast<size_t>(i)] = modeTable->GetValue(i - 1);
}

void abflussmodellklasse::GetCurrentTime(int64_t& minute, int64_t& hour, int64_t& day, int64_t& month,
                                          int64_t& year) const {
  minute = modeDate.minute;
  hour = modeDate.hour;
  day = modeDate.day;
  month = modeDate.month;
  year = modeDate.year;
}

void abflussmodellklasse::FailModeRow() const {
  *log << "FATAL: error reading " << modeFileName << ": " << modeTable->ErrorPlace() << " (a row holds a date and " << static_cast<long>(modeTable->ColumnCount())
       << " numbers)\nseparate routing with -mode:routing can only be done with valid input data as result of a "
          "former model run (total runoff for each subbasin)!"
       << "[end-entry]";
  throw 1400;
}

void abflussmodellklasse::ReadNextRecord() {
  if (!modeTable) return;
  // After the step of the end date the run stops: a row after it is not needed.
  const bool lastStep = IsEndOfPeriod() != 0;
  modeTable->NextKeepingError();
  if (modeTable->AtUnreadableRow()) {
    if (!lastStep) FailModeRow();
    ++modeReadsPastEnd;
    return;
  }
  if (modeTable->GetState() == TimeSeriesTable::kEnd || modeTable->CurrentRow() >= modeTable->RowCount()) {
    ++modeReadsPastEnd;
    return;
  }
  int y, mo, d, h, mi;
  modeTable->GetDate(y, mo, d, h, mi);
  if (y >= 0 && y < 1000) y += 1900;
  modeDate = ModelDate{mi, h, d, mo, y};
  for (int i = 1; i <= subbasinCount; ++i) modeRows[0][static_cast<size_t>(i)] = modeTable->GetValue(i - 1);
}

int abflussmodellklasse::IsEndOfPeriod() const {
  if (!modeTable) return 1;
  if (modeReadsPastEnd > 0) return 1;
  if (modeTable->GetState() > 1 && modeTable->CurrentRow() >= modeTable->RowCount()) return 1;
  return modeDate.year == endYear && modeDate.month == endMonth && modeDate.day == endDay &&
                 modeDate.hour == endHour && modeDate.minute == endMinute
             ? 1
             : 0;
}

void abflussmodellklasse::FreeInputBuffer() { modeFileName.clear(); }
