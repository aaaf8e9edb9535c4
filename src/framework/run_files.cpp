#include "framework/run_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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
#include "framework/run_hold.h"
#include "framework/shared_file.h"
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

// The name of a file as the folder holds it: absolute and normalised, its folder resolved
// but not the name itself (a link left under a temporary name is that name, not its target).
std::string NameOf(const std::string& path) {
  namespace fs = std::filesystem;
  std::error_code error;
  const fs::path p = fs::absolute(path, error).lexically_normal();
  if (error) return path;
  fs::path folder = fs::weakly_canonical(p.parent_path(), error);
  if (error) folder = p.parent_path();
  return (folder / p.filename()).lexically_normal().string();
}

}  // namespace

RunFiles& RunFiles::Current() {
  static RunFiles files;
  return files;
}

void RunFiles::Begin(RunHold* hold) {
  Abandon();
  ForgetFilesMade();
  reads_.clear();
  writes_.clear();
  openings_.clear();
  outputDirectory_.clear();
  hold_ = hold;
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
  f.name = NameOf(path);
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
  if (hold_) hold_->Read(path, entry);
}

namespace {

// The key of a file read: its name made absolute, not resolved. A link on the way (a folder
// link switched to another state) may lead elsewhere by the time the read is checked: what
// the name leads to then is compared with what was opened.
std::string ReadKey(const std::string& path) {
  std::error_code error;
  const std::filesystem::path p = std::filesystem::absolute(path, error);
  return error ? path : p.lexically_normal().string();
}

}  // namespace

void RunFiles::Opened(const std::string& path, int fd) {
  if (!building_ || path.empty()) return;
  if (hold_) hold_->Read(path, std::string());
  struct stat st {};
  if ((fd >= 0 ? ::fstat(fd, &st) : ::stat(path.c_str(), &st)) != 0) return;
  Opening o;
  o.key = ReadKey(path);
  o.device = static_cast<unsigned long long>(st.st_dev);
  o.inode = static_cast<unsigned long long>(st.st_ino);
  o.bytes = static_cast<unsigned long long>(st.st_size);
  // The time of the last change of the file (its bytes or its entry): unlike the time of
  // its last modification, no program sets it back (touch -r, cp -p, rsync -t).
  o.seconds = static_cast<long long>(st.st_ctim.tv_sec);
  o.nanoseconds = static_cast<long long>(st.st_ctim.tv_nsec);
  for (Opening& earlier : openings_) {
    if (earlier.key != o.key) continue;
    // Read twice while the run is built (the storage file, by each module): both times the
    // same bytes, or the state read is no one state.
    earlier.changed = earlier.changed || !Differs(earlier, st).empty();
    return;
  }
  openings_.push_back(o);
}

std::string RunFiles::Differs(const Opening& o, const struct stat& st) {
  if (static_cast<unsigned long long>(st.st_dev) != o.device || static_cast<unsigned long long>(st.st_ino) != o.inode)
    return "has been replaced by another file since the run read it";
  if (static_cast<unsigned long long>(st.st_size) != o.bytes ||
      static_cast<long long>(st.st_ctim.tv_sec) != o.seconds ||
      static_cast<long long>(st.st_ctim.tv_nsec) != o.nanoseconds)
    return "has changed since the run read it";
  return std::string();
}

const RunFiles::Opening* RunFiles::OpeningOf(const std::string& path) const {
  const std::string key = ReadKey(path);
  for (const Opening& o : openings_)
    if (o.key == key) return &o;
  return nullptr;
}

std::string RunFiles::ChangedSinceRead(const std::string& path) const {
  const Opening* o = OpeningOf(path);
  if (!o) return std::string();
  if (o->changed) return "was read twice, and was another file the second time";
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return "has been removed since the run read it";
  return Differs(*o, st);
}

int RunFiles::OpenAsRead(const std::string& path, std::string& changed) const {
  changed.clear();
  const Opening* o = OpeningOf(path);
  if (o && o->changed) {
    changed = "was read twice, and was another file the second time";
    return -1;
  }
  const int fd = RegularOrMissing(path) ? ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC) : -1;
  struct stat st {};
  if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    if (fd >= 0) ::close(fd);
    if (o) changed = fd < 0 && errno == ENOENT ? "has been removed since the run read it"
                                               : "has been replaced by another file since the run read it";
    return -1;
  }
  if (o) changed = Differs(*o, st);
  if (changed.empty()) return fd;
  ::close(fd);
  return -1;
}

RunFiles::File& RunFiles::Declare(const std::string& entry, const std::string& path, When when, const void* state,
                                  bool automatic) {
  File f = Make(entry, path, when, state);
  f.automatic = automatic;
  for (File& w : writes_)
    if (w.state == state && w.when == when && w.compare == f.compare && w.entry == entry) return w;
  f.output = OutputName(path);
  writes_.push_back(std::move(f));
  return writes_.back();
}

RunFiles::File& RunFiles::DeclareAndHold(const std::string& entry, const std::string& path, When when,
                                         const void* state, bool automatic) {
  File& w = Declare(entry, path, when, state, automatic);
  if (!hold_) return w;
  // The output's own name and the name it is written under until it is whole.
  const bool endState = when == When::EndOnly;
  hold_->Write(path, entry, endState);
  if (!w.output.IntoDevice()) hold_->Write(w.output.Temporary(), entry + " (its temporary file)", endState);
  return w;
}

void RunFiles::Write(const std::string& entry, const std::string& path, When when, const void* state,
                     bool automatic) {
  if (building_ && !path.empty()) DeclareAndHold(entry, path, when, state, automatic);
}

void RunFiles::Reserve(const std::string& entry, const std::string& path, bool hold) {
  if (!building_ || path.empty()) return;
  Declare(entry, path, When::Run, nullptr, false).reserved = true;
  if (hold && hold_) hold_->Write(path, entry, false);
}

std::string RunFiles::Create(const std::string& entry, const std::string& path, const void* state, bool automatic) {
  if (!building_) return path;
  return Stage(entry, path, state, automatic).Temporary();
}

OutputName RunFiles::Stage(const std::string& entry, const std::string& path, const void* state, bool automatic) {
  File& w = DeclareAndHold(entry, path, When::Run, state, automatic);
  if (w.output.IntoDevice()) return w.output;  // written straight into
  w.staged = true;
  for (const Staged& s : staged_)
    if (s.output.Final() == path) return s.output;
  // Nothing is removed while the run is built: a name taken (a stale temporary file, or an
  // input of that name that the check will refuse) is passed over for one of this run's own.
  const auto taken = [](const std::string& name) {
    struct stat st;
    return ::lstat(name.c_str(), &st) == 0 || ::lstat(OutputName(name).Temporary().c_str(), &st) == 0;
  };
  // A temporary name longer than the folder takes gives way to a spare one that fits.
  std::string staged = w.output.Temporary();
  const NameLimits limits = NameLimitsOf(path);
  for (int k = 1; (taken(staged) || !limits.Fit(staged)) && k < 1000; ++k) staged = SpareTemporaryName(path, k);
  staged_.push_back(Staged{OutputName::WrittenUnder(path, staged), w.output.Temporary()});
  return staged_.back().output;
}

std::FILE* RunFiles::CreateStream(const std::string& entry, const std::string& path, const char* mode) {
  if (!building_) return std::fopen(path.c_str(), mode);
  return Stage(entry, path, nullptr, false).CreateStream(mode);
}

bool RunFiles::Defer(const std::string& entry, const std::string& path, const std::string& text, bool append,
                     const std::string& remedy) {
  if (!building_) return false;
  Declare(entry, path, When::Run, nullptr, false);
  for (File& w : writes_)
    if (w.entry == entry && w.path == path) {
      w.remedy = remedy;
      w.append = append;
    }
  for (Deferred& d : deferred_) {
    if (d.path != path) continue;
    if (append)
      d.text += text;
    else
      d.text = text;
    return true;
  }
  deferred_.push_back(Deferred{entry, path, text, append});
  return true;
}

const std::string* RunFiles::DeferredText(const std::string& path) const {
  for (const Deferred& d : deferred_)
    if (!d.append && d.path == path) return &d.text;
  return nullptr;
}

namespace {

// Writes a whole file under a name the run cannot choose, as the diagnostics file is written:
// where another user's file stands there in a folder with the sticky bit (which no other user
// may replace), it is written in place when the group may write it, else the text goes to a
// file of this user's own beside it, which a WARNING in log names with the shared file, its
// owner and the fix. Returns 0 or the errno of the failure; path names the file that failed.
int WriteWholeShared(std::string& path, const std::string& text, const std::string& what, LogStream* log) {
  bool opened = false;
  const int e = WriteWhole(path, text, opened);
  if (e != EPERM && e != EACCES) return e;
  if (const int fd = OpenSharedInPlace(path); fd >= 0) return WriteInPlace(fd, text);
  struct stat st {};
  if (!SharedFileRefusesThisUser(path, st)) return e;
  std::string blocked;
  const std::string own = OwnFileName(path, &blocked);
  if (!blocked.empty()) {
    path = own;
    return EACCES;
  }
  const int mine = WriteWhole(own, text, opened);
  if (mine != 0) {
    path = own;
    return mine;
  }
  if (log)
    *log << "WARNING: "
         << SharedFileWarning(what + " " + path, st,
                              "write it, nor replace it in its folder (" + std::string(std::strerror(e)) + ")",
                              "its copy to " + own, "copy", path)
         << "[end-entry]";
  return 0;
}

}  // namespace

std::pair<std::string, int> RunFiles::WriteDeferred(bool onlyUnread, LogStream* log) {
  std::pair<std::string, int> failed;
  auto deferred = std::move(deferred_);
  deferred_.clear();
  for (const Deferred& d : deferred) {
    if (d.append && d.text.empty()) continue;
    if (onlyUnread) {
      const File target = Make("", d.path, When::Run, nullptr);
      bool read = false;
      for (const File& r : reads_) read = read || SameFile(target, r);
      if (read) continue;
    }
    std::string before;
    if (!d.append && ReadWholeFile(d.path, before) && before == d.text) continue;  // nothing to change
    bool opened = false;
    std::string path = d.path;
    const int e = d.append ? AppendUnshared(path, d.text, opened) : WriteWholeShared(path, d.text, d.entry, log);
    if (e != 0 && failed.first.empty()) failed = {path, e};
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

std::vector<std::string> RunFiles::StateReadPaths() const {
  std::vector<std::string> paths;
  for (const File& r : reads_) {
    if (!r.state) continue;
    const std::string name = std::filesystem::path(r.path).filename().string();
    for (const File& w : writes_)
      if (w.state == r.state && std::filesystem::path(w.path).filename().string() == name) {
        paths.push_back(r.path);
        break;
      }
  }
  return paths;
}

std::vector<std::pair<std::string, std::string>> RunFiles::Writes(When when) const {
  std::vector<std::pair<std::string, std::string>> files;
  for (const File& w : writes_)
    if (w.when == when) files.emplace_back(w.entry, w.path);
  return files;
}

std::vector<std::pair<RunFiles::File, std::string>> RunFiles::OwnNames() const {
  std::vector<std::pair<File, std::string>> names;
  for (const File& w : writes_) {
    if (w.reserved) {
      names.emplace_back(w, w.entry);
    } else if (!w.output.IntoDevice()) {
      File temporary = Make(w.entry, w.output.Temporary(), w.when, w.state);
      names.emplace_back(temporary,
                         "the temporary name under which the run writes " + Shown(w.path) + " for " + w.entry);
    }
  }
  if (hold_)
    for (const std::string& lock : hold_->LockFiles()) {
      const size_t slash = lock.rfind('/');
      names.emplace_back(Make(std::string(), lock, When::Run, nullptr),
                         "the lock file that keeps other runs off the names the run writes in " +
                             (slash == std::string::npos ? std::string("./") : lock.substr(0, slash + 1)));
    }
  return names;
}

std::string RunFiles::FirstClash() const {
  for (const File& w : writes_)
    for (const File& r : reads_) {
      if (w.reserved || !SameFile(w, r)) continue;
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
  // The names the run writes under besides its outputs' own are the run's too: an input
  // there would be removed or replaced (a temporary file is made new, the marker removed).
  const auto own = OwnNames();
  for (const File& r : reads_)
    for (const auto& n : own)
      if (SameName(r.name, n.first.name))
        return r.entry + " is read from " + Shown(r.path) + ", " + n.second +
               ": the run would remove or replace it, and never writes over its input. Give the input another name.";
  // Every output is made as a new file under its name (through its temporary name and a
  // rename): a block device, FIFO or socket of that name would be replaced by it, not written
  // to. A character device (/dev/null) is written straight into.
  for (const File& w : writes_) {
    const std::string kind = w.append || w.reserved || w.output.IntoDevice() ? std::string() : NotARegularFile(w.path);
    if (kind.empty() || kind == "a folder") continue;  // a folder fails its write
    return w.entry + " would be written to " + Shown(w.path) + ", which is " + kind +
           ", not a regular file: the run makes each output as a new file under its name and would put it in "
           "its place. Give the output another name.";
  }
  // Two outputs in one file: the later would take the earlier's place (a statistics file
  // named like the storage file). One entry writing its file at several times is one output,
  // and any number of them may be thrown away into one device.
  for (size_t i = 0; i < writes_.size(); ++i)
    for (size_t k = i + 1; k < writes_.size(); ++k) {
      const File& a = writes_[i];
      const File& b = writes_[k];
      if (a.reserved || b.reserved || a.entry == b.entry || (a.state != nullptr && a.state == b.state) ||
          !SameFile(a, b) || b.output.IntoDevice())
        continue;
      return a.entry + " and " + b.entry + " would both be written to " + Shown(b.path) +
             ": one would take the other's place. Give one of them another name.";
    }
  // An output under a name the run writes under for another (its temporary name, the marker,
  // a lock file, the diagnostics file) would be removed, renamed over or written into.
  for (const File& w : writes_)
    for (const auto& n : own)
      if (n.first.entry != w.entry && SameName(w.name, n.first.name))
        return w.entry + " would be written to " + Shown(w.path) + ", " + n.second +
               ": one would take the other's place. Give the output another name.";
  return std::string();
}

namespace {

std::string Characters(size_t n) { return std::to_string(n) + (n == 1 ? " character" : " characters"); }

}  // namespace

std::string RunFiles::JoinedToOutputFolder(const File& w, const std::string& remedy) const {
  const std::string& dir = outputDirectory_;
  if (dir.empty() || w.path.size() <= dir.size() || w.path.compare(0, dir.size(), dir) != 0) return ". " + remedy;
  const std::string name = w.path.substr(dir.size());
  const size_t slash = name.rfind('/');
  std::string text = ": DefaultOutputDirectory = " + dir + " of [output_interval] stands in front of every name that "
                     "does not begin with \"/\" or \"~\", the name's own folders included (" + dir + " + " +
                     Shown(name) + "). ";
  if (slash != std::string::npos)
    text += "Name it relative to the output folder (" + Shown(name.substr(slash + 1)) + " is written to " +
            Shown(dir + name.substr(slash + 1)) + "). ";
  text += remedy;
  // A grid read at the start and written back at the end: read by its name as written.
  if (w.when == When::EndOnly && w.state != nullptr &&
      std::any_of(reads_.begin(), reads_.end(), [&w](const File& r) { return r.state == w.state; }))
    text += ". A state grid is read by its name as written, from the working folder, and written under the output "
            "folder: to go on from the state a run left there, copy that state (the storage file and every file its "
            "record [end_state] lists) beside the control file, or name the state grids by their absolute paths";
  return text;
}

std::string RunFiles::FirstUnwritable() const {
  // The names the user wrote before the dated ones made of them: a folder missing for both
  // is named by the first.
  std::vector<const File*> order;
  for (const bool dated : {false, true})
    for (const File& w : writes_)
      if ((w.path.find(kAnyDigit) != std::string::npos) == dated) order.push_back(&w);
  for (const File* each : order) {
    const File& w = *each;
    if (w.output.IntoDevice()) continue;  // written straight into
    const std::string folder = FolderOfName(w.path);
    if (folder.find(kAnyDigit) != std::string::npos) continue;
    const std::string shown = w.path.find('/') == std::string::npos ? std::string("./ (the working folder)")
                                                                    : w.path.substr(0, w.path.rfind('/') + 1);
    const std::string what = w.entry + " would be written to " + Shown(w.path);
    struct stat st {};
    const bool none = ::stat(folder.c_str(), &st) != 0;
    if (none || !S_ISDIR(st.st_mode)) {
      return what + ", but " + (none ? "the folder " + shown + " does not exist" : shown + " is no folder") +
             JoinedToOutputFolder(w, "Make the folder " + shown + ", or give the output a name in an existing one");
    }
    if (::access(folder.c_str(), W_OK | X_OK) != 0) {
      const int e = errno;
      return what + ", but the folder " + shown + " cannot be written into (" + std::strerror(e) + ")" +
             JoinedToOutputFolder(w, "Give the output a name in a folder the run can write into");
    }
    // The names the run writes the output under: its own and its temporary name until it is
    // whole (a file made while the run is built is staged under a name made to fit).
    std::vector<std::pair<std::string, std::string>> names = {{w.path, "its name"}};
    if (!w.reserved && !w.append && !w.staged) names.emplace_back(w.output.Temporary(), "its temporary name");
    const NameLimits limits = NameLimitsOf(w.path);
    for (const auto& [name, called] : names) {
      const size_t base = BaseLength(name);
      const std::string under =
          name == w.path ? std::string() : " (the run writes the output under it until it is whole)";
      if (base > limits.name)
        return what + ", but " + called + " " + Shown(name.substr(name.size() - base)) + " is " +
               std::to_string(base) + " characters long, more than the " + std::to_string(limits.name) +
               " a name may have in " + shown + under + ". Shorten the name by at least " +
               Characters(base - limits.name);
      if (name.size() >= limits.path)
        return what + ", but " + called + " " + Shown(name) + " is " + std::to_string(name.size()) +
               " characters long, more than the " + std::to_string(limits.path - 1) + " a path may have" + under +
               JoinedToOutputFolder(w, "Shorten it by at least " + Characters(name.size() - limits.path + 1));
    }
    // A folder under a name the run writes under is never replaced: the write would fail at
    // the end of the run.
    for (const auto& [name, called] : names)
      if (NotARegularFile(name) == "a folder")
        return what + ", but a folder stands under " + called + " " + Shown(name) +
               ": the run would fail to write it. Remove or rename that folder, or give the output another name";
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
      if (w.append || w.reserved || OwnWorkingFile(w.path) || w.output.IntoDevice()) continue;
      for (const File& x : e.writes) {
        if (x.append || x.reserved || !SameFile(w, x)) continue;
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
  std::string clash = FirstClash();
  if (clash.empty()) clash = FirstUnwritable();
  if (!clash.empty()) {
    Abandon();
    if (log) *log << "FATAL: " << clash << "[end-entry]";
    throw 26;
  }
  building_ = false;
  // The files read only while the run was built are read: their holds go back.
  if (hold_) {
    std::vector<std::string> readOn;
    for (const File& r : reads_)
      if (r.when == When::Run) readOn.push_back(r.path);
    hold_->ReleaseReadsExcept(readOn);
  }
  hold_ = nullptr;  // the application keeps the holds to its end
  auto staged = std::move(staged_);
  staged_.clear();
  for (size_t i = 0; i < staged.size(); ++i) {
    const OutputName& output = staged[i].output;
    // What stood under the usual temporary name (a stale file, a link) is no input: it goes.
    if (output.Temporary() != staged[i].usual) ClearName(staged[i].usual);
    // A writer that skipped its file (a table it could not open) left nothing of its own to
    // move: what else stands under the staged name (a folder, a link) stays where it is.
    struct stat st;
    if (::lstat(output.Temporary().c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    const int e = output.MoveIntoPlace();
    if (e == 0) {
      NoteFileMade(output.Final(), static_cast<unsigned long long>(st.st_dev),
                   static_cast<unsigned long long>(st.st_ino));
      continue;
    }
    for (size_t k = i; k < staged.size(); ++k) std::remove(staged[k].output.Temporary().c_str());
    if (log)
      *log << "FATAL: cannot move " << output.Temporary() << " to " << output.Final() << " (" << std::strerror(e)
           << ")" << "[end-entry]";
    WriteDeferred(false, log);  // the check has passed: they may be written
    throw 26;
  }
  const auto failed = WriteDeferred(false, log);
  WarnOfReplacedFiles(log, run);
  reads_.clear();
  writes_.clear();
  if (failed.first.empty()) return;
  // What stands there and whose it is, where that is why.
  struct stat st {};
  std::string why = " (" + std::string(std::strerror(failed.second)) + ")";
  if (::lstat(failed.first.c_str(), &st) == 0 && (!S_ISREG(st.st_mode) || st.st_uid != ::geteuid())) {
    const std::string kind = KindOfFile(st.st_mode);
    why = (S_ISREG(st.st_mode) ? why + ": a file" : ": " + kind) + " of user " + UserName(st.st_uid) +
          FormatText(" (mode %04o)", static_cast<unsigned>(st.st_mode & 07777)) + " stands there" +
          (S_ISREG(st.st_mode) ? "" : ", which the run never writes into");
  }
  if (log) *log << "FATAL: cannot write " << failed.first << why << "[end-entry]";
  throw kFileNotWritten;
}

void RunFiles::Abandon() {
  for (const Staged& s : staged_) std::remove(s.output.Temporary().c_str());
  staged_.clear();
  if (building_) WriteDeferred(true, nullptr);  // a failure here costs nothing more: the run has failed
  deferred_.clear();
  building_ = false;
  hold_ = nullptr;
}
