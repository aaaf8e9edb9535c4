#include "init/tracer_ini.h"

#include <exception>

#include "framework/logstream.h"

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

void tracer_ini_class::Read() {
  if (!OpenControlFile()) {
    *log << "FATAL: error opening " << controlFileName << "[end-entry]";
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
    tracers.assign(static_cast<size_t>(n) + 1, TracerRecord());
    // Only the keys are taken here: no module carries tracers in this version.
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
          count = i - 1;
          throw 59;
        }
      }
      *log << "done." << "[end-entry]";
      count = i;
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
