#include "assimilation/assim_reservoir.h"

#include "assimilation/assim_lists.h"
#include "framework/control_keys.h"
#include "framework/logstream.h"
#include "framework/option_text.h"
#include "framework/text_helpers.h"

data_assimilation_reservoir_entity::data_assimilation_reservoir_entity(data_assimilation& m,
                                                                       const std::string& text)
    : data_assimilation_entity(m, "reservoir", text) {
  GetKeyValueInt(ruleText, "lake-ID", lakeId);
  const std::string number = std::to_string(lakeId);
  if (module.findReservoir) reservoir = module.findReservoir(lakeId);
  if (!reservoir)
    Fail("reservoir " + number + " as defined for data assimilation not found in the actual model configuration\n" +
             kAssimilationRule,
         1220);
  // A level means nothing without a level-volume table: assimilating it would empty the lake.
  if (!reservoir->HasLevelVolumeTable())
    Fail("reservoir " + number +
             " has no level-volume table, so an observed level cannot be turned into a volume: "
             "level assimilation needs a lake or reservoir with a level-volume table\n" +
             kAssimilationRule,
         1220);
  GetKeyValueDouble(ruleText, "AverageWaterTable", averageWaterTable);
  GetKeyValueString(ruleText, "listfilename", listFileName);
  ReportUnknownKeys(module.log, "[data_assimilation]", "the reservoir rule of lake " + number, ruleText,
                    {"lake-ID", "AverageWaterTable", "listfilename", "options", "format", "skiprows"}, false);

  const size_t at = ruleText.find("options");
  if (at != std::string::npos) {
    std::string rest = ruleText.substr(at), options;
    GetBracedText(rest, options);
    formatWord = "orvel";
    GetKeyValueString(options, "format", formatWord);
    const bool bafu = formatWord.find("bafu") != std::string::npos;
    if (!bafu && formatWord.find("orvel") == std::string::npos)
      Fail("for reservoir " + number + ": format " + formatWord + "not defined \n" + kAssimilationRule, 1220);
    layout = bafu ? Layout::Bafu : Layout::Orvel;
    std::string word;
    if (GetKeyValueString(options, "skiprows", word)) {
      long rows = 0;
      if (!ParseLong(word, rows) || rows < 0 || rows > 1000000000)
        Fail("for reservoir " + number + ": skiprows \"" + word + "\" is no number of lines (0 or more)\n" +
                 kAssimilationRule,
             1220);
      skipRows = static_cast<int>(rows);
    }
  }

  if (!OpenList())
    Fail("error opening input list file " + listFileName +
             " for reservoir-type data assimilation for reservoir " + number + "\n" + kAssimilationRule,
         1200);
  if (layout == Layout::Bafu) {
    SkipLines(3);
    pendingValid = true;
  } else {
    pendingValid = SkipListHeader(listFile);
  }
  // With skiprows the lines between the records used are never read as records.
  if (skipRows == 0) {
    std::vector<ListRecord> records;
    long unread = 0;
    if (layout == Layout::Bafu) {
      // A line of the provider layout without its date and level ends the run when it is
      // reached: it is refused before the run.
      FixedLineResult problem = FixedLineResult::Ok;
      unread = ScanFixedLevelRecords(listFile, records, problem);
      if (unread > 0) DateError(FixedLineProblem(problem, unread));
    } else if (pendingValid) {
      unread = ScanListRecords(listFile, true, records);
    }
    CheckListRecords(records, unread);
  }
  ReadNextRecord(true);
  while (pendingValid && pendingTime < startTime) ReadNextRecord(true);
  *log << "[end-entry]";
}

void data_assimilation_reservoir_entity::DateError(const std::string& what) {
  Fail("error reading datetime format in " + listFileName + " for reservoir-type data assimilation for reservoir " +
           std::to_string(lakeId) + what + "\n" + kAssimilationRule,
       1205);
}

void data_assimilation_reservoir_entity::SkipLines(int n) {
  std::string line;
  for (int i = 0; i < n; ++i)
    if (!listFile.ReadLine(line)) return;
}

void data_assimilation_reservoir_entity::ReadNextRecord(bool atConstruction) {
  // The later record of an hour replaces the earlier (with skiprows the lines between the
  // records used are not read).
  do {
    if (!pendingValid) return;
    if (layout == Layout::Bafu) {
      std::string line;
      if (!listFile.ReadLine(line)) {
        pendingValid = false;
        return;
      }
      const FixedLineResult result =
          ParseFixedLevelLine(line, pending.year, pending.month, pending.day, pending.hour, pendingLevel);
      if (result != FixedLineResult::Ok) DateError(FixedLineProblem(result, listFile.LineNumber() - 1));
    } else {
      pendingValid = ReadPendingDate(true) && listFile.ReadDouble(pendingLevel);
      if (!pendingValid) return;
      SkipRecordRemark(listFile);
    }
    pendingTime = CalendarSeconds(pending.year, pending.month, pending.day, pending.hour);
    if (pendingTime == -1) DateError("");
    if (atConstruction && pending.month != lastMonth) {
      *log << ".";
      lastMonth = pending.month;
    }
  } while (skipRows == 0 && NextLevelInPendingHour());
}

bool data_assimilation_reservoir_entity::NextLevelInPendingHour() {
  if (layout == Layout::Orvel) return NextRecordInPendingHour(true);
  const size_t at = listFile.Pos();
  std::string line;
  ListDate next;
  double level = 0.0;
  const bool same = listFile.ReadLine(line) &&
                    ParseFixedLevelLine(line, next.year, next.month, next.day, next.hour, level) ==
                        FixedLineResult::Ok &&
                    CalendarSeconds(next.year, next.month, next.day, next.hour) == pendingTime;
  listFile.Seek(at);
  return same;
}

long data_assimilation_reservoir_entity::PendingLine() const {
  // A provider line is read whole, up to the line after it.
  const std::string& text = listFile.Text();
  const bool lastLineOpen = listFile.AtEnd() && !text.empty() && text.back() != '\n';
  return layout == Layout::Bafu && !lastLineOpen ? listFile.LineNumber() - 1 : listFile.LineNumber();
}

void data_assimilation_reservoir_entity::Apply(ModelDate date) {
  SkipRecordsBeforeStep(date);
  if (!PendingAt(date)) return;
  if (pendingLevel > geometry.nodata_value) {
    double volume = reservoir->VolumeAtLevel(pendingLevel);
    if (!(volume >= 0.0)) volume = 0.0;  // a level below the table's bottom holds no water
    reservoir->SetState(volume, pendingLevel);
  }
  // The record just applied ends its line; skipped records are whole lines after it.
  if (layout == Layout::Orvel && skipRows > 0) listFile.RestOfLine();
  SkipLines(skipRows);
  ReadNextRecord(false);
}
