// Checks of the values a module reads from its control-file section. A plainly impossible
// value ends the run with a FATAL message that names the section, the key and the value; a
// possible but suspicious one gets one WARNING and the run goes on. The range tests are
// written so that a value that is not a number never passes.
#pragma once

#include <string>

class LogStream;
class modelobject;

// Logs "FATAL: <section> in <control file>: <key> is <value>; <expected>" and throws code.
[[noreturn]] void RefuseValue(const modelobject& o, const std::string& section, const std::string& key,
                              double value, const std::string& expected, int code);
// The same for a reader that is no module: the log stream and the control file's name.
[[noreturn]] void RefuseValue(LogStream* log, const std::string& controlFile, const std::string& section,
                              const std::string& key, double value, const std::string& expected, int code);
// Refuses the value unless lo <= value <= hi.
void RequireWithin(const modelobject& o, const std::string& section, const std::string& key, double value, double lo,
                   double hi, int code);
// Refuses the value unless it is above lo.
void RequireAbove(const modelobject& o, const std::string& section, const std::string& key, double value, double lo,
                  int code);
// Logs "WARNING: <section> in <control file>: <key> is <value>, <why>" when suspicious holds.
void WarnIf(bool suspicious, const modelobject& o, const std::string& section, const std::string& key, double value,
            const std::string& why);
void WarnIf(bool suspicious, LogStream* log, const std::string& controlFile, const std::string& section,
            const std::string& key, double value, const std::string& why);
