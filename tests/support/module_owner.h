// Holds a module (or any configurable object) that a test builds and releases it as the
// program does at the end of a run (DeleteModule, then delete) when the holder goes out of
// scope, so that a failed check which ends the test early leaks nothing. A test that looks
// at what the release left (end-of-run files, freed grids) calls Release itself: the object
// stays until the holder goes, and is released only once.
// Header only: the fuzz targets use it without the test library.
#pragma once

#include <memory>
#include <utility>

template <class M>
class ModuleOwner {
 public:
  ModuleOwner() = default;
  explicit ModuleOwner(M* module) : module_(module) {}
  ModuleOwner(std::unique_ptr<M> module) : module_(std::move(module)) {}  // NOLINT: from the factories
  ModuleOwner(ModuleOwner&& other) noexcept
      : module_(std::move(other.module_)), released_(std::exchange(other.released_, false)) {}
  ModuleOwner& operator=(ModuleOwner&& other) noexcept {
    if (this != &other) {
      reset();
      module_ = std::move(other.module_);
      released_ = std::exchange(other.released_, false);
    }
    return *this;
  }
  ModuleOwner(const ModuleOwner&) = delete;
  ModuleOwner& operator=(const ModuleOwner&) = delete;
  ~ModuleOwner() { reset(); }

  // DeleteModule, once; the object stays for the checks after it.
  void Release() {
    if (module_ && !released_) {
      released_ = true;
      module_->DeleteModule();
    }
  }
  // Releases and deletes the module held, then holds `module`.
  void reset(M* module = nullptr) {
    Release();
    module_.reset(module);
    released_ = false;
  }

  M* get() const { return module_.get(); }
  M* operator->() const { return module_.get(); }
  M& operator*() const { return *module_; }
  explicit operator bool() const { return module_ != nullptr; }

 private:
  std::unique_ptr<M> module_;
  bool released_ = false;
};

// Builds a module into its holder.
template <class M, class... Args>
ModuleOwner<M> MakeModule(Args&&... args) {
  return ModuleOwner<M>(new M(std::forward<Args>(args)...));
}
