// Feeds arbitrary bytes as a meteorological station file to the reader: header
// analysis, the search of the start date and record-by-record reading through small
// read-ahead blocks must end in values, the end of the period or an error code. The same
// bytes then go to the regression file reader (text or binary form).
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ostream>
#include <string>

#include "framework/logstream.h"
#include "fuzz_folder.h"
#include "meteo/regression_file.h"
#include "meteo/station_file.h"

namespace {

class NullBuffer : public std::streambuf {
 protected:
  int overflow(int c) override { return c; }
};

LogStream& QuietLog() {
  static NullBuffer buffer;
  static std::ostream sink(&buffer);
  static LogStream log(sink, QuietDiagnosticsFile(), 4);
  return log;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  static const std::string path = "/tmp/fuzz_station_" + std::to_string(getpid()) + ".dat";
  const int additional = data[0] % 4;
  // The high bit of the first byte asks that the records follow each other by an hour.
  const int stepMinutes = data[0] & 0x80 ? 60 : 0;
  const int blockSize = 1 + data[1] % 5;
  std::string text(reinterpret_cast<const char*>(data + 2), size - 2);
  if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
  } else {
    return 0;
  }
  LogStream& log = QuietLog();
  StationFile file;
  file.fileName = path;
  file.additionalColumns = additional;
  const double nodata = 9999.0;
  try {
    AnalyzeStationFile(log, "fuzz", nodata, file);
    // Start at the date of the first data line when it has one.
    ModelDate start;
    start.year = 2000;
    start.month = start.day = 1;
    start.hour = start.minute = 0;
    {
      LineReader in(path);
      std::string line;
      for (int k = 0; k < 6 && in.NextLine(line); ++k) {
      }
      TextCursor c(line);
      ModelDate d;
      if (ParseRecordDate(c, file.minuteColumn, file.additionalColumns, d)) {
        if (d.year >= 0 && d.year <= 99) d.year += 1900;
        start = d;
      }
    }
    FindStartDate(log, "fuzz", nodata, start, file);
    const int64_t endKey = start.Key() + 100000;
    (void)ReadStepRecords(log, file, endKey).StepMinutes();
    file.blockSize = blockSize;
    file.readIndex = blockSize + 1;
    file.stepMinutes = stepMinutes;
    for (int step = 0; step < 1000; ++step)
      if (NextStationRecord(log, "fuzz", nodata, endKey, file)) break;
  } catch (int) {
  }
  RegressionFile reg;
  reg.fileName = path;
  try {
    // Start at the first record's hour: text form line 2, binary form record 1.
    ModelDate start{0, 0, 1, 1, 2000};
    if (IsTextRegressionHeader(text)) {
      LineReader in(path);
      std::string line;
      RegressionRecord r;
      if (in.NextLine(line) && in.NextLine(line) && ParseRegressionLine(line, r, nullptr)) start = r.date;
    } else if (text.size() >= 32) {
      int64_t d[4];
      std::memcpy(d, text.data(), sizeof d);
      start = ModelDate{0, d[3], d[2], d[1], d[0]};
    }
    if (start.year <= 999 && start.year > -1000000) start.year += 1900;
    for (int64_t v : {start.year, start.month, start.day, start.hour})
      if (v < -kMaxDateField || v > kMaxDateField) start = ModelDate{0, 0, 1, 1, 2000};
    FindRegressionStart(log, "fuzz", start, reg);
    for (int step = 0; step < 1000; ++step)
      if (NextRegressionRecord(log, "fuzz", start.Key() + 100000, reg)) break;
  } catch (int) {
  }
  return 0;
}
