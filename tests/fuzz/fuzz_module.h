// What the module fuzz targets share: a holder that releases its module however the input
// ends, and a log that keeps nothing (a target runs millions of inputs).
#pragma once

#include <ostream>
#include <utility>

#include "../support/module_owner.h"
#include "framework/logstream.h"
#include "fuzz_folder.h"

// Holds a module like ModuleOwner and releases it (DeleteModule) when it goes, also when a
// step threw. An error code of the release itself (a state or statistics file that cannot
// be written under a fuzzed name) is one more outcome of the input: it is taken here, where
// the tests' holder would end the process.
template <class M>
class FuzzOwner : public ModuleOwner<M> {
 public:
  FuzzOwner() = default;
  FuzzOwner(ModuleOwner<M>&& module) : ModuleOwner<M>(std::move(module)) {}  // NOLINT: from MakeModule
  FuzzOwner(FuzzOwner&&) noexcept = default;
  FuzzOwner& operator=(FuzzOwner&& other) noexcept {
    QuietRelease();
    ModuleOwner<M>::operator=(std::move(other));
    return *this;
  }
  ~FuzzOwner() { QuietRelease(); }

 private:
  void QuietRelease() noexcept {
    try {
      this->Release();
    } catch (int) {
    }
  }
};

class NullBuffer : public std::streambuf {
 protected:
  int overflow(int c) override { return c; }
};

// A log whose messages go nowhere: no console text, no diagnostics file.
struct QuietLog {
  explicit QuietLog(int maxLevel = 0) : log(sink, QuietDiagnosticsFile(), maxLevel) {}
  QuietLog(const QuietLog&) = delete;
  QuietLog& operator=(const QuietLog&) = delete;
  NullBuffer buffer;
  std::ostream sink{&buffer};
  LogStream log;
};
