// The irrigation sections of the control file: the switch "[irrigation]" and the rows of
// "[irrigation_table]" with their date tables and schedules.
#include <string>

#include "framework/logstream.h"
#include "framework/text_helpers.h"
#include "init/defaultini.h"
#include "init/irrigation_table.h"

namespace {

[[noreturn]] void RowError(LogStream* log, int row, const std::string& what) {
  if (log) *log << "FATAL: for irrigation code " << row << what << "[end-entry]";
  throw 29;
}

}  // namespace

void defaultini::ReadIrrigation() {
  if (mode < 2) return;
  irrigationCount = 0;
  irrigationCodes.assign(1, 0);
  irrigationRows.clear();
  irrigationTable = nullptr;

  int irrigation = 0;
  SeekControlKey("[irrigation]", true);
  ReadControlValue(irrigation, "[irrigation]");
  if (irrigation == 0) return;

  SeekControlKey("[irrigation_table]", true);
  int n = 0;
  ReadControlValue(n, "[irrigation_table]");
  if (n < 0) {
    if (log) *log << "FATAL: [irrigation_table]: the number of irrigation codes " << n << " is negative" << "[end-entry]";
    throw 29;
  }

  // Rows are added as they are read, so that a wrong count does not reserve memory for
  // rows the file does not hold.
  std::vector<IrrigationTableEntry> rows(1);
  std::vector<int> codes(1, 0);
  for (int i = 1; i <= n; ++i) {
    IrrigationTableEntry row;
    if (!controlFile.ReadInt(row.code) || !controlFile.ReadWord(row.name) ||
        row.name.size() > kIrrigationNameLength || !controlFile.ReadInt(row.method) ||
        !controlFile.ReadInt(row.origin))
      RowError(log, i, ": code, name, method, or origin could not be read correctly\n");
    if (row.method == kIrrigationByEtRatio) {
      if (!controlFile.ReadDouble(row.minEtrEtp)) RowError(log, i, ": min(ETR/ETP) could not be read correctly\n");
      row.psiDry = 20.0;
      row.psiWet = 3.45;
    } else if (!controlFile.ReadDouble(row.psiDry) || !controlFile.ReadDouble(row.psiWet)) {
      RowError(log, i, ": psi_dry or psi_wet could not be read correctly\n");
    }
    if (row.method == kIrrigationDateTable) {
      int count = 0;
      if (!controlFile.ReadInt(count) || count < 0 || count > kMaxIrrigationEvents)
        RowError(log, i, ": tabcnt could not be read correctly\n");
      for (int k = 1; k <= count; ++k) {
        long month = 0, day = 0;
        double amount = 0.0;
        if (!controlFile.ReadLong(month) || !controlFile.ReadLong(day) || !controlFile.ReadDouble(amount)) {
          const std::string kText = std::to_string(k);
          RowError(log, i, " month[" + kText + "] or day[" + kText + "] or amount[" + kText + "] could not be read\n");
        }
        row.AddEvent(month, day, amount);
      }
    } else if (row.method == kIrrigationSchedule) {
      const ScheduleResult r = ParseIrrigationSchedule(controlFile.RestOfLine(), daysPerMonth, row);
      if (r == ScheduleResult::NoKeyword && log)
        *log << "FATAL: none of the keywords \"to\" or \"times\" could be found!\n" << "[end-entry]";
      if (r != ScheduleResult::Ok) IrrigationDescriptionError(i);
    }
    codes.push_back(row.code);
    rows.push_back(std::move(row));
  }

  irrigationRows = std::move(rows);
  irrigationCodes = std::move(codes);
  irrigationCount = n;
  irrigationTable = irrigationRows.data();
}

void defaultini::IrrigationDescriptionError(int irrigationType) {
  if (log)
    *log << "FATAL: irrigation description for irrigation type " << irrigationType << " is wrong "
         << "there are 4 possible ways to define irrigation rules:\ntwo schedule variants:\n"
            "1.: \"starting from MM DD with XX mm to MM DD with YY mm every ZZ day\"\n"
            "2.: \"starting from MM DD with XX mm AA times every ZZ days\"\n"
            " where MM and DD are Month and day, XX is the first irrigation amount \n"
            " per irrigation event in mm/day, ZZ is the time step (e.g. every 4 days..),\n"
            " YY is the last irrigation amount in mm/day (it is linearly interpolated)\n"
            " and AA is a repeat counter (only in the secound format).\n"
            " The model recognises both formats by the different formats by analysing the\n"
            " key-words \"starting from\", \"to\" and \"times\"\n"
            " note: there may be defined multiple irrigation schemes in one row,\n"
            " but they have to be of the same type (1. or 2.) \n"
            " and they have to be seperated by a semicolon (;)\n"
            " 3.: irrigation control by demand (1): suction (psi) for start and end of irrigation must be "
            "provided\n"
            " 4.: irrigation control by demand (2): ratio between ETR and ETP for irrigation start must be "
            "provided\n"
         << "[end-entry]";
  throw 29;
}
