#include "framework/run_files.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "framework/append_file.h"
#include "framework/file_reason.h"
#include "framework/logstream.h"
#include "framework/new_file.h"
#include "framework/text_helpers.h"

namespace {

// Equal texts, where an any-digit place matches any digit (or another such place).
bool SameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    const char x = a[i], y = b[i];
    if (x == y) continue;
    const bool xAny = x == RunFiles::kAnyDigit, yAny = y == RunFiles::kAnyDigit;
    if ((xAny && std::isdigit(static_cast<unsigned char>(y))) || (yAny && std::isdigit(static_cast<unsigned char>(x))))
      continue;
    return false;
  }
  return true;
}

std::string Shown(const std::string& path) {
  std::string s = path;
  for (char& c : s)
    if (c == RunFiles::kAnyDigit) c = '#';
  return s;
}

}  // namespace

RunFiles& RunFiles::Current() {
  static RunFiles files;
  return files;
}

void RunFiles::Begin() {
  Abandon();
  reads_.clear();
  writes_.clear();
  building_ = true;
}

RunFiles::File RunFiles::Make(const std::string& entry, const std::string& path, When when, const void* state) {
  File f;
  f.entry = entry;
  f.path = path;
  f.when = when;
  f.state = state;
  std::error_code error;
  std::filesystem::path p = std::filesystem::absolute(path, error);
  if (!error) p = std::filesystem::weakly_canonical(p, error);
  f.compare = error ? path : p.lexically_normal().string();
  struct stat st;
  if (path.find(kAnyDigit) == std::string::npos && ::stat(path.c_str(), &st) == 0) {
    f.device = static_cast<unsigned long long>(st.st_dev);
    f.inode = static_cast<unsigned long long>(st.st_ino);
  }
  return f;
}

bool RunFiles::SameFile(const File& a, const File& b) {
  // Two names of one existing file (a hard link) are one file too.
  if (a.inode != 0 && a.inode == b.inode && a.device == b.device) return true;
  return SameName(a.compare, b.compare);
}

void RunFiles::Read(const std::string& entry, const std::string& path, When when, const void* state,
                    bool automatic) {
  if (!building_ || path.empty()) return;
  File f = Make(entry, path, when, state);
  f.automatic = automatic;
  for (File& r : reads_) {
    if (r.state != state || r.compare != f.compare) continue;
    if (r.automatic && !automatic) {
      r.entry = entry;
      r.automatic = false;
    }
    // A file read again during the run is no start-up state.
    if (when == When::Run) r.when = When::Run;
    return;
  }
  reads_.push_back(std::move(f));
}

void RunFiles::Write(const std::string& entry, const std::string& path, When when, const void* state,
                     bool automatic) {
  if (!building_ || path.empty()) return;
  File f = Make(entry, path, when, state);
  f.automatic = automatic;
  for (const File& w : writes_)
    if (w.state == state && w.when == when && w.compare == f.compare && w.entry == entry) return;
  writes_.push_back(std::move(f));
}

std::string RunFiles::Create(const std::string& entry, const std::string& path, const void* state, bool automatic) {
  if (!building_) return path;
  Write(entry, path, When::Run, state, automatic);
  const std::string staged = path + ".tmp";
  for (const auto& s : staged_)
    if (s.first == staged) return staged;
  staged_.emplace_back(staged, path);
  return staged;
}

std::FILE* RunFiles::CreateStream(const std::string& entry, const std::string& path, const char* mode) {
  if (!building_) return std::fopen(path.c_str(), mode);
  return CreateNewStream(Create(entry, path), mode);
}

bool RunFiles::Hold(const std::string& entry, const std::string& path, const std::string& text, bool append,
                    const std::string& remedy) {
  if (!building_) return false;
  Write(entry, path);
  for (File& w : writes_)
    if (w.entry == entry && w.path == path) {
      w.remedy = remedy;
      w.append = append;
    }
  for (Held& h : held_) {
    if (h.path != path) continue;
    if (append)
      h.text += text;
    else
      h.text = text;
    return true;
  }
  held_.push_back(Held{path, text, append});
  return true;
}

const std::string* RunFiles::HeldText(const std::string& path) const {
  for (const Held& h : held_)
    if (!h.append && h.path == path) return &h.text;
  return nullptr;
}

std::pair<std::string, int> RunFiles::WriteHeld(bool onlyUnread) {
  std::pair<std::string, int> failed;
  auto held = std::move(held_);
  held_.clear();
  for (const Held& h : held) {
    if (h.append && h.text.empty()) continue;
    if (onlyUnread) {
      const File target = Make("", h.path, When::Run, nullptr);
      bool read = false;
      for (const File& r : reads_) read = read || SameFile(target, r);
      if (read) continue;
    }
    std::string before;
    if (!h.append && ReadWholeFile(h.path, before) && before == h.text) continue;  // nothing to change
    bool opened = false;
    const int e = h.append ? AppendUnshared(h.path, h.text, opened) : WriteWhole(h.path, h.text, opened);
    if (e != 0 && failed.first.empty()) failed = {h.path, e};
  }
  return failed;
}

void RunFiles::NameState(const void* state, const std::string& entry) {
  if (!state) return;
  for (std::vector<File>* list : {&reads_, &writes_})
    for (File& f : *list)
      if (f.state == state && f.automatic) {
        f.entry = entry;
        f.automatic = false;
      }
}

std::vector<std::string> RunFiles::ReadPaths() const {
  std::vector<std::string> paths;
  for (const File& r : reads_) paths.push_back(r.path);
  return paths;
}

std::vector<std::pair<std::string, std::string>> RunFiles::Writes(When when) const {
  std::vector<std::pair<std::string, std::string>> files;
  for (const File& w : writes_)
    if (w.when == when) files.emplace_back(w.entry, w.path);
  return files;
}

std::string RunFiles::FirstClash() const {
  for (const File& w : writes_)
    for (const File& r : reads_) {
      if (!SameFile(w, r)) continue;
      const bool sameState = w.state != nullptr && w.state == r.state;
      if (sameState && r.when == When::StartOnly && w.when == When::EndOnly) continue;  // state carried in place
      std::string text = w.entry + " would be written to " + Shown(w.path) + ", the file read for " + r.entry +
                         ": the run never writes over its input.";
      if (!w.remedy.empty())
        text += " " + w.remedy;
      else if (sameState)
        text += " A grid read at the start is written back over its file only at the end of the run (units digit 3 "
                "of its write code).";
      else
        text += " Give the output another name (a standard or variable grid: its outname) or set "
                "DefaultOutputDirectory in [output_interval].";
      return text;
    }
  // Every output is made as a new file under its name (through "<name>.tmp" and a rename):
  // a device, FIFO or socket of that name would be replaced by it, not written to.
  for (const File& w : writes_) {
    const std::string kind = w.append ? std::string() : NotARegularFile(w.path);
    if (kind.empty() || kind == "a folder") continue;  // a folder fails its write, naming it
    return w.entry + " would be written to " + Shown(w.path) + ", which is " + kind +
           ", not a regular file: the run makes each output as a new file under its name and would put it in "
           "its place. Give the output another name.";
  }
  // Two outputs in one file: the later would take the earlier's place (a statistics file
  // named like the storage file). One entry writing its file at several times is one output.
  for (size_t i = 0; i < writes_.size(); ++i)
    for (size_t k = i + 1; k < writes_.size(); ++k) {
      const File& a = writes_[i];
      const File& b = writes_[k];
      if (a.entry == b.entry || (a.state != nullptr && a.state == b.state) || !SameFile(a, b)) continue;
      return a.entry + " and " + b.entry + " would both be written to " + Shown(b.path) +
             ": one would take the other's place. Give one of them another name.";
    }
  return std::string();
}

namespace {

// Whether a file the run writes is one of the program's own that every run makes anew from
// its inputs, the preprocessed copy "<control>.intern" and the grids the start-up derives
// ("<grid>.intern.<tag>"), rather than a result.
bool OwnWorkingFile(const std::string& path) {
  const size_t slash = path.rfind('/');
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  const std::string mark = ".intern";
  const size_t at = name.find(mark);
  return at != std::string::npos && (at + mark.size() == name.size() || name[at + mark.size()] == '.');
}

}  // namespace

void RunFiles::WarnOfReplacedFiles(LogStream* log, const std::string& run) {
  std::string text;
  for (const EarlierRun& e : earlier_) {
    // A run that starts from what an earlier one left (its state: a chain of runs) replaces
    // that run's files by design.
    const bool continues = std::any_of(reads_.begin(), reads_.end(), [&](const File& r) {
      return r.when == When::StartOnly &&
             std::any_of(e.writes.begin(), e.writes.end(),
                         [&](const File& x) { return !OwnWorkingFile(x.path) && SameFile(r, x); });
    });
    if (continues) continue;
    std::vector<std::string> names;
    for (const File& w : writes_) {
      if (w.append || OwnWorkingFile(w.path)) continue;
      for (const File& x : e.writes) {
        if (x.append || !SameFile(w, x)) continue;
        if (std::find(names.begin(), names.end(), Shown(w.path)) == names.end()) names.push_back(Shown(w.path));
        break;
      }
    }
    if (names.empty()) continue;
    text += (text.empty() ? " of the run of " : "; of the run of ") + e.run + ": ";
    for (size_t i = 0; i < names.size(); ++i) text += (i ? ", " : "") + names[i];
  }
  if (!text.empty() && log)
    *log << "WARNING: the run of " << run << " replaces files that earlier runs of this command line wrote," << text
         << "[end-entry]";
  earlier_.push_back(EarlierRun{run, writes_});
}

void RunFiles::Seal(LogStream* log, const std::string& run) {
  if (!building_) return;
  const std::string clash = FirstClash();
  if (!clash.empty()) {
    Abandon();
    if (log) *log << "FATAL: " << clash << "[end-entry]";
    throw 26;
  }
  building_ = false;
  auto staged = std::move(staged_);
  staged_.clear();
  for (size_t i = 0; i < staged.size(); ++i) {
    // A writer that skipped its file (a table it could not open) left nothing of its own to
    // move: what else stands under the staged name (a folder, a link) stays where it is.
    struct stat st;
    if (::lstat(staged[i].first.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    if (std::rename(staged[i].first.c_str(), staged[i].second.c_str()) == 0) continue;
    const int e = errno;
    for (size_t k = i; k < staged.size(); ++k) std::remove(staged[k].first.c_str());
    if (log)
      *log << "FATAL: cannot move " << staged[i].first << " to " << staged[i].second << " (" << std::strerror(e)
           << ")" << "[end-entry]";
    WriteHeld(false);  // the check has passed: they may be written
    throw 26;
  }
  const auto failed = WriteHeld(false);
  WarnOfReplacedFiles(log, run);
  reads_.clear();
  writes_.clear();
  if (failed.first.empty()) return;
  if (log) *log << "FATAL: cannot write " << failed.first << " (" << std::strerror(failed.second) << ")" << "[end-entry]";
  throw kFileNotWritten;
}

void RunFiles::Abandon() {
  for (const auto& s : staged_) std::remove(s.first.c_str());
  staged_.clear();
  if (building_) WriteHeld(true);  // a failure here costs nothing more: the run has failed
  held_.clear();
  building_ = false;
}
