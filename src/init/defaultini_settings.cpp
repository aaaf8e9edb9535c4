// The global settings of a run: [output_interval] with its keys, [output_list],
// [coordinates], [meteo_data_count], [meteo_names] and the simulation period [model_time].
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iterator>

#include "framework/control_keys.h"
#include "framework/date_text.h"
#include "framework/file_reason.h"
#include "framework/logstream.h"
#include "framework/text_helpers.h"
#include "init/defaultini.h"

namespace {

constexpr size_t kMaxMeteoName = 200;
// More sub-basins than any basin has: a count beyond is a typing error, not a basin.
constexpr int kMaxOutputList = 100000;

// The next key line of a section: the cursor's next line with leading blanks and tabs
// removed; hasBreak tells whether it ended with a line break. False at the end of the text
// and at a line that begins the next section ("[model_time]"), with or without an empty
// line before it: the key lines end there, and the cursor stays before that line.
bool NextKeyLine(TextCursor& cursor, std::string& line, bool& hasBreak) {
  if (cursor.AtEnd()) return false;
  const size_t start = cursor.Pos();
  hasBreak = cursor.Text().find('\n', start) != std::string::npos;
  line = cursor.RestOfLine();
  size_t first = line.find_first_not_of(" \t");
  line.erase(0, first == std::string::npos ? line.size() : first);
  if (!line.empty() && line[0] == '[') {
    cursor.Seek(start);
    return false;
  }
  return true;
}

// How a message names the line of the copy that ended a section's keys, empty to its
// reader: the line of the control file may hold blanks and a remark, which the copy cuts
// off (remark: it did).
std::string EmptyLineText(const TextCursor& cursor, long copyLine, bool& remark) {
  const std::string where = cursor.LineText(copyLine);
  const auto& lines = cursor.SourceLines();
  const std::string written = lines ? lines->SourceLineContent(lines->SourceLine(copyLine)) : std::string();
  const size_t first = written.find_first_not_of(" \t\r");
  remark = first != std::string::npos && written[first] == '#';
  if (first == std::string::npos) return "the empty " + where;
  if (!remark) return "the empty " + where + " (it holds only blanks)";
  return where + ", which holds only the remark \"" + written.substr(first, 80) +
         "\" behind blanks: the remark is cut off, and the blanks before it leave an empty line";
}

// The text after the first "=" of a key line, its numbers read as every number of the
// control file ("15 # minutes" and "15.0" are 15, "1.5" no integer).
TextCursor ValueAfterEquals(const std::string& line) {
  size_t eq = line.find('=');
  TextCursor value(eq == std::string::npos ? std::string() : line.substr(eq + 1));
  value.RequireWholeNumbers();
  return value;
}

// Keys behind the empty line that ends a section's key lines are read by no reader: each
// is named, up to the next section. cursor stands behind that empty line.
void ReportKeysBehindTheEnd(LogStream* log, TextCursor cursor, const std::string& section,
                            const std::string& controlFile, const std::vector<std::string>& known) {
  const long emptyLine = cursor.LineNumber() - 1;
  std::string line;
  bool hasBreak = false;
  for (long lineNumber = cursor.LineNumber(); NextKeyLine(cursor, line, hasBreak); ++lineNumber) {
    for (const std::string& key : KeysSetIn(line)) {
      if (!log) continue;
      const bool isKnown = std::any_of(known.begin(), known.end(),
                                       [&](const std::string& k) { return key.find(k) != std::string::npos; });
      bool remark = false;
      *log << "WARNING: " << section << ", " << cursor.LineText(lineNumber, controlFile) << ": the key " << key
           << " stands behind " << EmptyLineText(cursor, emptyLine, remark) << ", where the keys of " << section
           << " end: no reader reads it; move it above that line";
      if (remark) *log << ", or begin the remark in the line's first column (such a line is passed over whole)";
      if (!isKnown) *log << " (no reader knows it either: the nearest key of " << section << " is " << NearestKey(key, known) << ")";
      *log << "[end-entry]";
    }
  }
}

}  // namespace

namespace {

// where: the section and the line of the key ("[model_time], line 95 of basin.ctl").
[[noreturn]] void BadKeyValue(LogStream* log, const std::string& where, const std::string& key,
                              const std::string& line, const char* expected) {
  if (log)
    *log << "FATAL: error in control file, section " << where << ": the value of " << key << " in the line \""
         << line << "\" is not " << expected << "[end-entry]";
  throw 17;
}

// The text that a file name is joined to (with nothing between) from the value of
// DefaultOutputDirectory or InitialStateDirectory. A value that names an existing folder,
// with or without its trailing "/", is that folder ("output" is "output/", so that the
// outputs do not land beside it as "outputQB.stat"). Any other value is the beginning of
// every name: "output/run1_" puts the files into output/ under names beginning with
// "run1_", which keeps the runs of an ensemble apart. Its folder must exist for the outputs
// (code 26 before anything is written); the storage file of a warm start is looked for under
// the name whatever it is, and its reader names what it cannot open. A value without any "/"
// that names no folder is a beginning of names in the working folder, said in a WARNING.
std::string FolderOrNamePrefix(LogStream* log, const std::string& controlFile, const char* key,
                               const std::string& value, const std::string& remark, bool outputs) {
  // A value is one word: what follows a blank is a remark, said where it may be the cause.
  const std::string cut = remark.empty() || remark[0] == '#'
                              ? std::string()
                              : " (the value ends at the blank before \"" + remark + "\", which is read as a remark)";
  const auto stated = [&]() {
    return std::string(key) + " = " + value + " in [output_interval] of " + controlFile + cut;
  };
  std::string folder = value;
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  struct stat st {};
  bool exists = ::stat(folder.c_str(), &st) == 0;
  int e = errno;
  if (exists && S_ISDIR(st.st_mode)) return folder == "/" ? folder : folder + "/";
  const size_t slash = value.rfind('/');
  if (slash == std::string::npos) {
    if (log)
      *log << "WARNING: " << stated() << " names no folder: "
           << (outputs ? "every output of the run is written" : "the storage file of a warm start is read")
           << " in the working folder under a name beginning with \"" << value << "\"; a folder is named by "
           << "its existing name, or with a trailing \"/\"" << "[end-entry]";
    return value;
  }
  if (!outputs) return value;
  // The folder of the names: the value up to its last "/".
  const bool whole = slash + 1 == value.size();
  if (!whole) {
    folder = value.substr(0, slash + 1);
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    exists = ::stat(folder.c_str(), &st) == 0;
    e = errno;
    if (exists && S_ISDIR(st.st_mode)) return value;
  }
  const std::string why = exists ? "a file, not a folder" : "no folder (" + std::string(std::strerror(e)) + ")";
  if (log) {
    if (whole)
      *log << "FATAL: " << stated() << " names " << why
           << ": every output of the run goes into that folder; name an existing folder" << "[end-entry]";
    else
      *log << "FATAL: " << stated() << ": " << value.substr(0, slash + 1) << " names " << why
           << ": every output of the run goes into that folder, under a name beginning with \""
           << value.substr(slash + 1) << "\"; name an existing folder" << "[end-entry]";
  }
  throw 26;
}

// A directory value is the first word after the "=": the rest of the line is a remark. A
// folder whose name holds a blank cannot be given so; when the word and what follows it name
// an existing folder ("my out/"), the value would name another place without a word: refused.
void RefuseFolderCutAtABlank(LogStream* log, const std::string& where, const std::string& key,
                             const std::string& line, const std::string& word, const std::string& rest) {
  for (size_t end = rest.find_first_not_of(" \t"); end != std::string::npos;
       end = rest.find_first_not_of(" \t", end)) {
    end = std::min(rest.find_first_of(" \t", end), rest.size());
    std::string folder = word + rest.substr(0, end);
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) continue;
    if (log)
      *log << "FATAL: error in control file, section " << where << ": the value of " << key << " in the line \""
           << line << "\" ends at the blank after \"" << word << "\", but \"" << folder
           << "\" is an existing folder: a folder name with a blank cannot be given there (the rest of the line is "
              "a remark). Give the folder a name without blanks, or a link to it"
           << "[end-entry]";
    throw 17;
  }
}

long KeyInteger(LogStream* log, const std::string& where, const std::string& key, const std::string& line) {
  TextCursor value = ValueAfterEquals(line);
  long v = 0;
  if (!value.ReadLong(v)) BadKeyValue(log, where, key, line, "an integer");
  return v;
}

}  // namespace

void defaultini::ReadOutputControl(const std::string& file, RunValues& v) {
  if (!OpenControlFile(file)) {
    if (log) *log << "FATAL: Error opening " << file << FileOpenReason(file, false, 0) << "[end-entry]";
    throw 28;
  }
  ReadOutputSections(v);
  CloseControlFile();
}

void defaultini::ReadOutputSections(RunValues& v) {
  const std::string section = "[output_interval]";
  SeekControlKey(section, true);
  if (!controlFile.ReadInt(v.outputInterval)) ControlFileKeyError("output control", "");
  restOfLine = controlFile.RestOfLine();
  // The next three values are optional; a value that cannot be read stays 0.
  v.intOption = 0;
  if (controlFile.ReadInt(v.intOption) && v.intOption > 1) v.intOption = 1;
  restOfLine = controlFile.RestOfLine();
  v.thirdOption = 0;
  if (controlFile.ReadInt(v.thirdOption) && v.thirdOption > 1) v.thirdOption = 0;
  restOfLine = controlFile.RestOfLine();
  v.minToIntEnd = 0.0;
  if (controlFile.ReadDouble(v.minToIntEnd) && v.minToIntEnd < 0) v.minToIntEnd = 0.0;
  v.minToIntEndLine = controlFile.LineText(ShownControlFile());
  restOfLine = controlFile.RestOfLine();
  v.minutesToInvEndRouting = v.minToIntEnd;
  v.timestep = 0;
  v.writeAsciiGrids = v.writeDoubleGrids = v.writeNetcdfGrids = false;
  v.initialStateDirectory.clear();
  v.defaultOutputDirectory.clear();

  // Optional "key = value" lines up to the first empty line. A key given again takes the
  // later line's value; the earlier line is named, as it is not used.
  std::string line;
  bool hasBreak = false;
  static const char* const kKeys[] = {"WriteAsciiGrids",       "WriteDoubleGrids",       "WriteNetcdfGrids",
                                      "InitialStateDirectory", "DefaultOutputDirectory", "MinutesToInvEndRouting",
                                      "timestep"};
  const std::vector<std::string> known(std::begin(kKeys), std::end(kKeys));
  std::string lastLine[7];
  long lastLineNumber[7] = {};
  std::string outputRemark, initialStateRemark;  // the rest of a directory's line
  for (long lineNumber = controlFile.LineNumber(); NextKeyLine(controlFile, line, hasBreak); ++lineNumber) {
    if (line.empty()) {
      ReportKeysBehindTheEnd(log, controlFile, section, ShownControlFile(), known);
      break;
    }
    int key = -1;
    for (int k = 0; k < 7; ++k) {
      if (line.find(kKeys[k]) != std::string::npos) {
        key = k;
        break;
      }
    }
    if (key < 0) {
      ReportUnknownKeys(log, section, controlFile.LineText(lineNumber, controlFileName), line, known);
      continue;
    }
    const std::string keyName = kKeys[key];
    if (log && lastLineNumber[key] > 0)
      *log << "WARNING: " << section << " of " << ShownControlFile() << " gives " << keyName << " again: "
           << controlFile.LineText(lastLineNumber[key]) << " (\"" << lastLine[key].substr(0, 200)
           << "\") is not used, " << controlFile.LineText(lineNumber) << " (\"" << line.substr(0, 200) << "\") is"
           << "[end-entry]";
    lastLine[key] = line;
    lastLineNumber[key] = lineNumber;
    const std::string where = section + ", " + controlFile.LineText(lineNumber, ShownControlFile());
    switch (key) {
      case 0:
      case 1:
      case 2: {
        bool flag = KeyInteger(log, where, keyName, line) != 0;
        (key == 0 ? v.writeAsciiGrids : key == 1 ? v.writeDoubleGrids : v.writeNetcdfGrids) = flag;
        break;
      }
      case 3:
      case 4: {
        TextCursor value = ValueAfterEquals(line);
        std::string word;
        if (!value.ReadWord(word)) BadKeyValue(log, where, keyName, line, "a directory name");
        if (word.size() > kMaxFileName) BadKeyValue(log, where, keyName, line, "a name of at most 2400 characters");
        std::string rest = value.RestOfLine();
        while (!rest.empty() && (rest.back() == '\r' || rest.back() == ' ' || rest.back() == '\t')) rest.pop_back();
        RefuseFolderCutAtABlank(log, where, keyName, line, word, rest);
        (key == 3 ? v.initialStateDirectory : v.defaultOutputDirectory) = word;
        (key == 3 ? initialStateRemark : outputRemark) =
            rest.substr(std::min(rest.size(), rest.find_first_not_of(" \t")));
        break;
      }
      case 5: {
        TextCursor value = ValueAfterEquals(line);
        if (!value.ReadDouble(v.minutesToInvEndRouting)) BadKeyValue(log, where, keyName, line, "a number");
        break;
      }
      default: {
        long t = KeyInteger(log, where, keyName, line);
        if (t < 0 || t > 1000000) BadKeyValue(log, where, keyName, line, "a time step in minutes");
        v.timestep = static_cast<int>(t);
        break;
      }
    }
  }

  SeekControlKey("[output_list]", true);
  ReadControlValue(v.outputListCount, "number of subbasins in output list");
  const long countLine = controlFile.LineNumber() - 1;
  if (v.outputListCount > kMaxOutputList) {
    if (log)
      *log << "FATAL: error in control file " << ShownControlFile() << ", section [output_list]: the number of "
           << "sub-basins (" << v.outputListCount << ") must be at most " << kMaxOutputList << "[end-entry]";
    throw 17;
  }
  v.outputList.assign(1, 0);
  for (int i = 1; i <= v.outputListCount; ++i) {
    int code = 0;
    if (SectionEndsHere())
      CountBeyondSection("codes in output-list", name, "[output_list]", countLine, v.outputListCount, i - 1, "codes");
    ReadControlValue(code, "codes in output-list");
    v.outputList.push_back(code);
    // A second code on the line would be dropped, and the count would not find its codes.
    const std::string rest = restOfLine.substr(0, restOfLine.find('#'));
    std::vector<std::string> words;
    double second = 0.0;
    if (GetToken(rest, " \t\r,;", words) > 0 && ParseDouble(words[0], second))
      ControlFileKeyErrorBecause("codes in output-list", name,
                                 "[output_list], " + controlFile.LineText(controlFile.LineNumber() - 1,
                                                                          ShownControlFile()) +
                                     ": the line holds more than one code; each code of the list stands on a line "
                                     "of its own, as many lines as the count of " +
                                     controlFile.LineText(countLine, ShownControlFile()) + " gives");
  }
  CheckEntriesEndAtCount("codes in output-list", name, "[output_list]", countLine, std::max(v.outputListCount, 0),
                         "[output_list]", "codes");
  for (int i = 2; i <= v.outputListCount; ++i) {
    if (v.outputList[i] <= v.outputList[i - 1]) {
      if (log)
        *log << "FATAL: \nError in control file: order of subbasin codes in output_list!\n"
                "if output should be written for a specified set of subbasins,\n"
                "(specified by a statcode of 5 for averaging in time or 6 for summing in time)\n"
                "than the codes has to be arranged in ascendend order\n.look in [output_list]\n"
             << "[end-entry]";
      throw 97;
    }
  }
  if (v.outputListCount <= 0) v.outputList.clear();
  if (!v.defaultOutputDirectory.empty())
    v.defaultOutputDirectory = FolderOrNamePrefix(log, ShownControlFile(), "DefaultOutputDirectory",
                                                  v.defaultOutputDirectory, outputRemark, true);
  if (!v.initialStateDirectory.empty())
    v.initialStateDirectory = FolderOrNamePrefix(log, ShownControlFile(), "InitialStateDirectory",
                                                 v.initialStateDirectory, initialStateRemark, false);

  SeekControlKey("[coordinates]", true);
  ReadControlValue(v.latitude, "geographic latitude");
  ReadControlValue(v.longitude, "geographic longitude");
  ReadControlValue(v.referenceMeridian, "reference meridian");
  ReadControlValue(v.timeShift, "time shift of data time to lokal time");

  SeekControlKey("[meteo_data_count]", true);
  ReadControlValue(v.meteoCount, "number of meteorological variables");
  // Each variable takes a position of the grid registry for its result grid.
  if (v.meteoCount < 0 || v.meteoCount > kMaxGridPosition) {
    if (log)
      *log << "FATAL: error in control file " << ShownControlFile() << ", section [meteo_data_count]: the number of "
           << "meteorological variables (" << v.meteoCount << ") must be 0 to " << kMaxGridPosition
           << ", the positions of the grid registry" << "[end-entry]";
    throw 17;
  }
  const long meteoCountLine = controlFile.LineNumber() - 1;
  SeekControlKey("[meteo_names]", true);
  v.meteoNames.assign(1, std::string());
  for (int i = 1; i <= v.meteoCount; ++i) {
    std::string nameOfVariable;
    if (SectionEndsHere())
      CountBeyondSection("name of meteorological variable " + std::to_string(i), name, "[meteo_data_count]",
                         meteoCountLine, v.meteoCount, i - 1, "names in [meteo_names]");
    ReadControlValue(nameOfVariable, "name of meteorological variable " + std::to_string(i), kMaxMeteoName);
    v.meteoNames.push_back(nameOfVariable);
  }
  CheckEntriesEndAtCount("names of meteorological variables", name, "[meteo_data_count]", meteoCountLine,
                         v.meteoCount, "[meteo_names]", "names");

  // The settings every module reads.
  output.writeAsciiGrids = v.writeAsciiGrids;
  output.writeDoubleGrids = v.writeDoubleGrids;
  output.writeNetcdfGrids = v.writeNetcdfGrids;
  output.initialStateDirectory = v.initialStateDirectory;
  output.defaultOutputDirectory = v.defaultOutputDirectory;
  // Every grid the run writes goes to the output directory.
  output.outputDirectory = v.defaultOutputDirectory;
  output.subHourTimeStep = v.timestep;
}

void defaultini::ReadModelTime() {
  const std::string section = "[model_time]";
  SeekControlKey(section, true);
  ModelDate& s = run.start;
  ModelDate& e = run.end;
  static const char* const kKeys[] = {"startminute", "starthour", "startday", "startmonth", "startyear",
                                      "endminute",   "endhour",   "endday",   "endmonth",   "endyear"};
  if (output.subHourTimeStep == 0) {
    // The key form read as the eight values would fail at its first line without a word of why.
    const size_t at = controlFile.Pos();
    std::string line;
    bool hasBreak = false;
    while (NextKeyLine(controlFile, line, hasBreak) && line.find_first_not_of(" \t\r") == std::string::npos) {
    }
    controlFile.Seek(at);
    for (const char* key : kKeys)
      if (line.find(key) != std::string::npos && line.find('=') != std::string::npos) {
        if (log)
          *log << "FATAL: error in control file " << ShownControlFile() << ", section [model_time]: it gives the "
               << "period as keys (\"" << line.substr(0, 80) << "\"), which are read only with the time step "
               << "of [output_interval] (timestep = <minutes>, above 0); without it (timestep = 0 or none) "
               << "the section holds eight values, one per line: the start hour, day, month and year, then the "
               << "end hour, day, month and year" << "[end-entry]";
        throw 17;
      }
    s.minute = e.minute = 0;
    ReadControlValue(s.hour, "starting hour in ");
    ReadControlValue(s.day, "starting day in ");
    ReadControlValue(s.month, "starting month in ");
    ReadControlValue(s.year, "starting year in ");
    ReadControlValue(e.hour, "end hour in ");
    ReadControlValue(e.day, "and day in ");
    ReadControlValue(e.month, "end month in ");
    ReadControlValue(e.year, "end year in ");
  } else {
    int64_t* fields[] = {&s.minute, &s.hour, &s.day, &s.month, &s.year,
                         &e.minute, &e.hour, &e.day, &e.month, &e.year};
    bool seen[10] = {};
    std::string line, firstLine;
    bool hasBreak = false;
    const std::vector<std::string> known(std::begin(kKeys), std::end(kKeys));
    for (long lineNumber = controlFile.LineNumber(); NextKeyLine(controlFile, line, hasBreak); ++lineNumber) {
      if (line.find_first_not_of(" \t\r\n") == std::string::npos) {
        ReportKeysBehindTheEnd(log, controlFile, section, ShownControlFile(), known);
        break;
      }
      if (firstLine.empty()) firstLine = line;
      bool read = false;
      for (int k = 0; k < 10 && !read; ++k) {
        if (line.find(kKeys[k]) == std::string::npos) continue;
        const std::string where = section + ", " + controlFile.LineText(lineNumber, ShownControlFile());
        *fields[k] = KeyInteger(log, where, kKeys[k], line);
        seen[k] = read = true;
      }
      if (!read) ReportUnknownKeys(log, section, controlFile.LineText(lineNumber, controlFileName), line, known);
    }
    for (bool b : seen) {
      if (b) continue;
      if (log)
        *log << "ERROR: one or more values of start and end time couldn't be read in section [" << "[model_time]"
             << "]\n"
             << "when using the optional parameter timestep in section [output_interval], the start and end "
                "date/time must be provided in the new format of key = value pairs like this:\n"
             << "[model_time]" << "\n"
             << "startminute = $startminute\n" << "starthour = $starthour\n" << "startday = $startday\n"
             << "startmonth = $startmonth\n" << "startyear = $startyear\n" << "endminute = $endminute\n"
             << "endhour = $endhour\n" << "endday = $endday\n" << "endmonth = $endmonth\n" << "endyear = $endyear\n"
             << "\n(or, of course, by using the actual values without using variables)" << "[end-entry]";
      ReportModelTimeForm(firstLine, seen, kKeys);
      throw 1301;
    }
  }
  const std::string fault = ModelTimeFault(s, e);
  if (!fault.empty()) {
    if (log)
      *log << "FATAL: error in control file " << ShownControlFile() << ", section [model_time]: " << fault
           << "[end-entry]";
    throw 17;
  }
  const int64_t startDay = s.day, endDay = e.day;
  NormaliseModelTime(s, e, daysPerMonth);
  // A day past the end of its month is taken as the month's last day, and said.
  const auto corrected = [&](const ModelDate& date, int64_t day, const char* which) {
    if (log && date.day != day)
      *log << "WARNING: [model_time] in " << ShownControlFile() << ": the " << which << " date "
           << DateText(date.year, date.month, day, 0, 0, kRecordDate.Until(DateField::kDay))
           << " does not exist; it is taken as " << DateText(date, kRecordDate.Until(DateField::kDay))
           << ", the last day of the month" << "[end-entry]";
  };
  corrected(s, startDay, "start");
  corrected(e, endDay, "end");
  output.runStart = s;
  if (e.Key() < s.Key()) {
    if (log)
      *log << "FATAL: error in control file " << ShownControlFile()
           << ", section [model_time]: the end of the simulation (" << DateText(e, kRecordDate)
           << ") lies before its start (" << DateText(s, kRecordDate) << ")" << "[end-entry]";
    throw 17;
  }
}

void defaultini::ReportModelTimeForm(const std::string& firstLine, const bool seen[10], const char* const keys[10]) {
  if (!log) return;
  const int step = output.subHourTimeStep;
  TextCursor first(firstLine);
  std::string word;
  if (first.ReadWord(word) && BeginsLikeNumber(word)) {
    // The eight values of the form without timestep: the key selects the key form.
    const size_t end = firstLine.find_last_not_of(" \t\r");
    *log << "FATAL: [model_time] of " << ShownControlFile()
         << " gives the period as values, one per line (the first: \""
         << firstLine.substr(0, std::min<size_t>(end + 1, 80)) << "\"), but timestep = " << step << " in [output_interval] makes it read "
         << "as the ten key lines above. ";
    if (step >= 60)
      *log << "Remove timestep from [output_interval] (a run of steps of an hour or longer takes its step from the "
           << "station records and reads the eight values), or write the ten keys";
    else
      *log << "Steps under an hour need timestep: write the ten keys, which carry the minutes";
    *log << "[end-entry]";
    return;
  }
  std::string missing;
  for (int k = 0; k < 10; ++k)
    if (!seen[k]) missing += std::string(missing.empty() ? "" : ", ") + keys[k];
  *log << "FATAL: [model_time] of " << ShownControlFile() << " lacks " << missing
       << " (the section ends at its first empty line)" << "[end-entry]";
}

std::string ModelTimeFault(const ModelDate& s, const ModelDate& e) {
  struct Field {
    const char* label;
    int64_t value, low, high;
  };
  // Years below 1000 are two-digit years of the 1900s (the reader adds 1900); days past
  // the end of their month are taken as its last day.
  const auto year = [](int64_t y) { return y >= 0 && y < 1000 ? y + 1900 : y; };
  const Field fields[] = {
      {"start minute", s.minute, 0, 59}, {"start hour", s.hour, 0, 24},   {"start day", s.day, 1, 31},
      {"start month", s.month, 1, 12},   {"start year", year(s.year), 1000, 9999},
      {"end minute", e.minute, 0, 59},   {"end hour", e.hour, 0, 24},     {"end day", e.day, 1, 31},
      {"end month", e.month, 1, 12},     {"end year", year(e.year), 1000, 9999},
  };
  for (const Field& f : fields)
    if (f.value < f.low || f.value > f.high)
      return std::string("the ") + f.label + " (" + std::to_string(f.value) + ") has to lie between " +
             std::to_string(f.low) + " and " + std::to_string(f.high);
  return std::string();
}

void NormaliseModelTime(ModelDate& s, ModelDate& e, std::array<int, 12>& daysPerMonth) {
  if (s.year < 1000) s.year += 1900;
  if (e.year < 1000) e.year += 1900;
  for (ModelDate* d : {&s, &e}) {
    if (d->month < 1) d->month = 1;
    if (d->month > 12) d->month = 12;
  }
  // February of the month-length table follows the end year; the day checks use the
  // February of each date's own year.
  daysPerMonth[1] = IsLeapYear(e.year) ? 29 : 28;
  for (ModelDate* d : {&e, &s}) {
    if (d->day < 1) d->day = 1;
    const int last = DaysInMonth(d->year, d->month);
    if (d->day > last) d->day = last;
  }
}
