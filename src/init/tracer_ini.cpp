#include "init/tracer_ini.h"

#include <exception>

#include "framework/file_reason.h"
#include "framework/logstream.h"
#include "framework/text_helpers.h"

std::string TracerKey(const std::string& name) {
  std::string key = name.substr(0, 3);
  for (char& c : key)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  while (key.size() < 3) key += '_';
  return key;
}

tracer_ini_class::tracer_ini_class(int& error, LogStream* logStream, const std::string& controlFile, int& outCount,
                                   TracerRecord*& table, const OutputSettings& settings)
    : modelobject(logStream, controlFile, settings) {
  name = "tracer_ini";
  error = 0;
  outCount = 0;
  table = nullptr;
  try {
    Read();
  } catch (int code) {
    error = code;
  } catch (...) {
    error = 103;
  }
  outCount = count;
  table = tracers.empty() ? nullptr : tracers.data();
}

tracer_ini_class::~tracer_ini_class() = default;

namespace {

// The text behind the first occurrence of word in line; false when the line lacks it.
bool After(const std::string& line, const std::string& word, TextCursor& rest) {
  const size_t at = line.find(word);
  if (at == std::string::npos) return false;
  rest.SetText(line.substr(at + word.size()));
  return true;
}

bool NextWordIs(TextCursor& c, const char* expected) {
  std::string w;
  return c.ReadWord(w) && w == expected;
}

// A word of at most 299 characters (the longest path or extension kept).
bool ReadShortText(TextCursor& c, std::string& text) { return c.ReadWord(text) && text.size() <= 299; }

}  // namespace

void tracer_ini_class::Fail(const std::string& message) {
  *log << message << "[end-entry]";
  throw 56;
}

void tracer_ini_class::ParseLine(int i, const std::string& line, TracerRecord& t) {
  const std::string n = std::to_string(i);
  TextCursor c;

  // Radioactive decay: "non_radioactive" wins over the "radioactive" it contains.
  if (line.find("non_radioactive") != std::string::npos) {
    t.radioactive = 0;
    t.halfTime = -9999.0;
  } else if (line.find("radioactive") != std::string::npos) {
    t.radioactive = 1;
    if (!After(line, "half_time", c))
      Fail("FATAL: error in tracer_info_table tracer " + n + ": need a \"half_time = xxxx d\" sequence!");
    if (!NextWordIs(c, "="))
      Fail("FATAL: error reading half_time for tracer " + n + ": no \"half_time =\" found!");
    double days = 0.0;
    std::string unit;
    if (!c.ReadDouble(days) || !c.ReadWord(unit)) Fail("FATAL: error reading half_time for tracer " + n);
    if (unit != "d") Fail("FATAL: error reading half_time for tracer " + n + ": no \"d\" for measure found!");
    if (!(days > 0.0)) Fail("FATAL: error in half_time for tracer " + n + ": must be greater than 0!");
    t.halfTime = days;
  } else {
    Fail("FATAL: error reading parameters for tracer " + n +
         ":\n need a key word \"radioactive\" or \"non_radioactive\"\n(may be, the number of tracers (" +
         std::to_string(count) + ") is wrong?\n");
  }

  if (line.find("non_evaporating") != std::string::npos) {
    t.evaporating = 0;
  } else if (line.find("evaporating") != std::string::npos) {
    t.evaporating = 1;
  } else {
    Fail("FATAL: error reading parameters for tracer " + n +
         ":\n need a key word \"evaporating\" or \"non_evaporating\"\n(may be, the number of tracers (" +
         std::to_string(count) + ") is wrong?\n");
  }

  // "key = number"; readEnd closes the message of an unreadable number.
  auto number = [&](const std::string& key, double& value, const char* readEnd) {
    if (!After(line, key, c))
      Fail("FATAL: error reading parameters for tracer " + n + ":\nneed a key word \"" + key + " = xxxx\"");
    if (!NextWordIs(c, "=")) Fail("FATAL: error reading " + key + " for tracer " + n + ": no \"" + key + " =\" found!");
    if (!c.ReadDouble(value)) Fail("FATAL: error reading " + key + " for tracer " + n + readEnd);
  };
  number("min_conc", t.minConc, "");
  number("max_conc", t.maxConc, "");
  // The unit after max_conc only has to be one of the known ones; none means kg/kg.
  std::string unit;
  if (c.ReadWord(unit) && unit != "mg/l" && unit != "g/l" && unit != "kg/kg" && unit != "Kg/Kg")
    Fail("FATAL: error reading max_conc for tracer " + n +
         ":\nwrong measure (only mg/l, g/l or kg/kg resp. no measure are allowed!)\nread here: " + unit);
  number("soilini", t.soilini, "!");
  number("gwini", t.gwini, "!");

  auto whole = [&](const std::string& key, int& value) {
    if (!After(line, key + " =", c))
      Fail("FATAL: error reading " + key + " for tracer " + n + ":\nneed a key word \"" + key + " = xxxx\"");
    if (!c.ReadInt(value)) Fail("FATAL: error reading " + key + " for tracer " + n + "!");
  };
  whole("statcode", t.statcode);
  whole("gridcode", t.gridcode);

  auto text = [&](const std::string& key, std::string& value) {
    if (!After(line, key + " =", c))
      Fail("FATAL: error reading " + key + " for tracer " + n + ":\nneed a key word \"" + key + " = xxxx\"");
    if (!ReadShortText(c, value)) Fail("FATAL: error reading " + key + " for tracer " + n + "!");
  };
  text("path", t.path);
  text("statext", t.statext);
  text("gridext", t.gridext);
}

void tracer_ini_class::Read() {
  if (!OpenControlFile()) {
    *log << "FATAL: error opening " << controlFileName << FileOpenReason(controlFileName, false, 0) << "[end-entry]";
    throw 28;
  }
  SeekControlKey("[substance_transport]", true);
  int n = 0;
  ReadControlValue(n, " number of tracers in ");
  if (n > kMaxTracers) {
    *log << "FATAL: not more than 9 tracer species are allowed at one time (they need a very lot of memory!)"
         << "[end-entry]";
    throw 58;
  }
  if (n > 0) {
    count = n;
    tracers.assign(static_cast<size_t>(n) + 1, TracerRecord());
    for (int i = 1; i <= n; ++i) {
      *log << "reading parameters for tracer " << i << " ..." << "[end-entry]";
      std::string line;
      if (!controlFile.ReadLine(line)) line.clear();
      TextCursor words(line);
      std::string first;
      words.ReadWord(first);
      tracers[i].key = TracerKey(first);
      for (int j = 1; j < i; ++j) {
        if (tracers[j].key == tracers[i].key) {
          *log << "FATAL: \n----------- ERROR in substance_transport ---------\n\nsubstance #" << i
               << " and substance #" << j << " have the same\nfirst 3 chars (lowercase) in its name ("
               << tracers[i].key << " <-> " << tracers[j].key
               << ")\n\n--------------------------------------------------\n" << "[end-entry]";
          throw 59;
        }
      }
      ParseLine(i, line, tracers[i]);
      *log << "done." << "[end-entry]";
    }
  }
  count = n > 0 ? n : 0;
  CloseControlFile();
}

void tracer_ini_class::DeleteModule() {
  tracers.clear();
  count = 0;
  modelobject::DeleteModule();
}
