#include "framework/value_checks.h"

#include <sstream>

#include "framework/logstream.h"
#include "framework/modelobject.h"

void RefuseValue(const modelobject& o, const std::string& section, const std::string& key, double value,
                 const std::string& expected, int code) {
  if (o.log)
    *o.log << "FATAL: " << section << " in " << o.controlFileName << ": " << key << " is " << value << "; "
           << expected << "[end-entry]";
  throw code;
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

void WarnIf(bool suspicious, const modelobject& o, const std::string& section, const std::string& key, double value,
            const std::string& why) {
  if (suspicious && o.log)
    *o.log << "WARNING: " << section << " in " << o.controlFileName << ": " << key << " is " << value << ", " << why
           << "[end-entry]";
}
