#include "framework/value_checks.h"

#include <sstream>

#include "framework/logstream.h"
#include "framework/modelobject.h"

void RefuseValue(LogStream* log, const std::string& controlFile, const std::string& section, const std::string& key,
                 double value, const std::string& expected, int code) {
  if (log)
    *log << "FATAL: " << section << " in " << controlFile << ": " << key << " is " << value << "; " << expected
         << "[end-entry]";
  throw code;
}

void RefuseValue(const modelobject& o, const std::string& section, const std::string& key, double value,
                 const std::string& expected, int code) {
  RefuseValue(o.log, o.ShownControlFile(), section, key, value, expected, code);
}

void RequireWithin(const modelobject& o, const std::string& section, const std::string& key, double value, double lo,
                   double hi, int code) {
  if (value >= lo && value <= hi) return;
  std::ostringstream expected;
  expected << "it must lie in " << lo << " .. " << hi;
  RefuseValue(o, section, key, value, expected.str(), code);
}

void RequireAbove(const modelobject& o, const std::string& section, const std::string& key, double value, double lo,
                  int code) {
  if (value > lo) return;
  std::ostringstream expected;
  expected << "it must be greater than " << lo;
  RefuseValue(o, section, key, value, expected.str(), code);
}

void WarnIf(bool suspicious, LogStream* log, const std::string& controlFile, const std::string& section,
            const std::string& key, double value, const std::string& why) {
  if (suspicious && log)
    *log << "WARNING: " << section << " in " << controlFile << ": " << key << " is " << value << ", " << why
         << "[end-entry]";
}

void WarnIf(bool suspicious, const modelobject& o, const std::string& section, const std::string& key, double value,
            const std::string& why) {
  WarnIf(suspicious, o.log, o.ShownControlFile(), section, key, value, why);
}
