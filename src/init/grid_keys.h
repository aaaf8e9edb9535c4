// The keys behind a standard or variable grid's names ("writecode = 3 outname = x.asc"):
// each value is the text after the first "=" that follows its key.
#pragma once

#include <cstring>
#include <string>

#include "framework/logstream.h"
#include "framework/text_helpers.h"
#include "init/defaultini.h"

// Reads the value after the first "=" behind key in the keys text; false when the key
// does not occur. A value that cannot be read is a control-file error.
class KeyReader {
 public:
  KeyReader(defaultini& owner, const std::string& keys, const char* what, int index)
      : owner_(owner), keys_(keys), what_(what), index_(index) {}

  bool Find(const char* key, TextCursor& value) const {
    size_t k = keys_.find(key);
    if (k == std::string::npos) return false;
    size_t eq = keys_.find('=', k + std::strlen(key));
    value.SetText(eq == std::string::npos ? std::string() : keys_.substr(eq + 1));
    return true;
  }
  void Int(const char* key, int& field, int fallback) const {
    TextCursor v;
    if (!Find(key, v)) {
      field = fallback;
      return;
    }
    if (!v.ReadInt(field)) Bad(key, "an integer");
  }
  void Double(const char* key, double& field, double fallback) const {
    TextCursor v;
    if (!Find(key, v)) {
      field = fallback;
      return;
    }
    if (!v.ReadDouble(field)) Bad(key, "a number");
  }
  void Word(const char* key, std::string& field, const std::string& fallback, size_t maxLength) const {
    TextCursor v;
    if (!Find(key, v)) {
      field = fallback;
      return;
    }
    if (!v.ReadWord(field) || field.size() > maxLength) Bad(key, "a word of at most the allowed length");
  }
  void Periodicity(StandardGridSpec& s) const {
    TextCursor v;
    if (!Find("periodicity", v)) {
      s.periodBlocks = -1;
      s.periodUnit.clear();
      s.periodStep = -1;
      return;
    }
    if (!v.ReadInt(s.periodBlocks) || !v.ReadWord(s.periodUnit) || s.periodUnit.size() > 99 ||
        !v.ReadInt(s.periodStep))
      Bad("periodicity", "a block count, a unit word and a step number");
  }
  void Persistent(StandardGridSpec& s) const {
    TextCursor v;
    if (!Find("persistent", v)) {
      s.persistent = true;
      s.holdSteps = 0;
      return;
    }
    int flag = 0;
    if (!v.ReadInt(flag) || !v.ReadInt(s.holdSteps)) Bad("persistent", "a flag 0 or 1 and a number of steps");
    s.persistent = flag != 0;
  }

 private:
  [[noreturn]] void Bad(const char* key, const char* expected) const {
    if (owner_.log)
      *owner_.log << "FATAL: error in control file, " << what_ << " " << index_ << ": the value of " << key
                  << " is not " << expected << " (" << keys_ << ")" << "[end-entry]";
    throw 17;
  }
  defaultini& owner_;
  const std::string& keys_;
  const char* what_;
  int index_;
};

