#include <cerrno>
#include <cstdio>
#include <cstring>

#include "framework/append_file.h"
#include "framework/ctrl_c.h"
#include "framework/file_reason.h"
#include "framework/logstream.h"
#include "framework/run_files.h"
#include "framework/text_helpers.h"
#include "routing/reservoir.h"

namespace {

constexpr long kOutputBufferBytes = 2097152;

const char* const kBalanceColumns =
    "\tW[m]\tA[m2]\tV[m3]\tQin[m3]\tQin[mm]\tQin[m3s]\tQout[m3]\tQout[mm]\tQout[m3s]\tIrrig[m3]\tIrrig[mm]\tIrrig[m3s]"
    "\tQGW[m3]\tQGW[mm]\tQGW[m3s]\tETR[m3]\tETR[mm]\tETR[m3s]\tPREC[m3]\tPREC[mm]\tPREC[m3s]\tdV[m3]\tdV[mm]\tdV[m3s]"
    "\tAbstr[m3]\tAbstr[mm]\tAbstr[m3s]\tErr[m3]\tErr[mm]\tErr[m3s]";

}  // namespace

void AppendBufferedRows(const std::string& fileName, std::vector<std::vector<double>>& rows, int dateFields,
                        LogStream* log) {
  if (log && !RoutineFlush) *log << "flushing to disk: " << fileName << " (" << kOutputBufferBytes << " buffersize)" << "[end-entry]";
  std::string text;
  for (const std::vector<double>& row : rows) {
    for (size_t i = 0; i < row.size(); ++i)
      text += FormatText(static_cast<int>(i) >= dateFields ? "\t%lg" : i == 0 ? "%2.0lf" : "\t%2.0lf", row[i]);
    text += '\n';
  }
  const size_t count = rows.size();
  rows.clear();
  bool opened = false;
  const int e = AppendWhole(fileName, text, opened);
  if (e == 0) return;
  if (log)
    *log << "FATAL: error " << (opened ? "writing" : "opening") << " the output file " << fileName
         << FileOpenReason(fileName, true, e) << ": its last " << static_cast<unsigned long>(count)
         << " rows are not written" << "[end-entry]";
  throw 65;
}

void SP_class::WriteOutputHeader() {
  std::string line = "YY\tMM\tDD\tHH";
  if (c_.dt >= 1 && c_.dt <= 59) line += "\tmm";
  line += kBalanceColumns;
  for (int k = 0; k < c_.tracers; ++k)
    line += "\t" + (k < static_cast<int>(c_.tracerNames.size()) ? c_.tracerNames[k] : std::string());
  const std::string entry = "[routing_model] output file of reservoir " + std::to_string(number);
  FILE* f = RunFiles::Current().CreateStream(entry, fileName);
  if (!f) {
    const int e = errno;
    const std::string unwritable = UnwritableOutput(entry, fileNameNote);
    if (!unwritable.empty()) {
      if (c_.log) *c_.log << "FATAL: " << unwritable << "[end-entry]";
      throw kOutputRefused;
    }
    if (c_.log)
      *c_.log << "FATAL: error opening " << fileName << " for reservoir " << number
              << FileOpenReason(fileName, true, e) << "[end-entry]";
    throw 37;
  }
  errno = 0;
  const bool written = std::fprintf(f, "%s\nreservoir_%d\n%s\n", line.c_str(), number, line.c_str()) > 0;
  if (std::fclose(f) == 0 && written) return;
  const int e = errno != 0 ? errno : EIO;
  if (c_.log)
    *c_.log << "FATAL: cannot write " << fileName << " for reservoir " << number << " (" << std::strerror(e) << ")"
            << "[end-entry]";
  throw kFileNotWritten;
}

void SP_class::StoreOutputRow(const StepDate& date) {
  if (rows.size() >= rowCapacity) FlushToDisk(1);
  std::vector<double> row;
  row.reserve(36 + c_.tracers);
  const bool minutes = c_.dt >= 1 && c_.dt <= 59;
  row.insert(row.end(), {double(date.year), double(date.month), double(date.day), double(date.hour)});
  if (minutes) row.push_back(date.minute);
  row.push_back(lake ? InterpolateForward(state[0]) : 0.0);
  row.push_back(A);
  row.push_back(state[0]);
  for (const BalanceTerm* t : {&Qin, &QoutTerm, &Irrig, &QGW, &ETR, &PREC, &dV, &Abstr, &Err})
    row.insert(row.end(), {t->m3, t->mm, t->m3s});
  for (int k = 1; k <= c_.tracers; ++k) row.push_back(state[k]);
  rows.push_back(std::move(row));
}

void SP_class::FlushToDisk(int flag) {
  if (flag < 1 || rows.empty()) return;
  if (DiscardBufferedOutput) {
    rows.clear();
    return;
  }
  AppendBufferedRows(fileName, rows, c_.dt >= 1 && c_.dt <= 59 ? 5 : 4, c_.log);
}
