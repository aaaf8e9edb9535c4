#include "framework/run_hold.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>

#include "framework/ctrl_c.h"
#include "framework/file_reason.h"
#include "framework/logstream.h"
#include "framework/text_helpers.h"

namespace {

// The bytes of a lock file: 0 guards the list of runs; a name takes one byte of 1 .. 2^62 - 1;
// each run holds the byte 2^62 + its process number for reading while it is listed, so that
// a line of a run that has gone can be told from one of a run that still holds names.
constexpr off_t kGuardByte = 0;
constexpr unsigned long long kNameBytes = (1ull << 62) - 1;
constexpr off_t kRunBase = static_cast<off_t>(1ull << 62);
// How long a run waits for the list of another run that is updating it; how long, at most, a
// run asked to end still waits to leave a lock file.
constexpr int kGuardWaitMs = 10000;
constexpr int kLeaveGraceMs = 200;

off_t NameByte(const std::string& name) {
  const unsigned long long hash = Fnv1a(reinterpret_cast<const unsigned char*>(name.data()), name.size());
  return static_cast<off_t>(1 + hash % kNameBytes);
}

off_t RunByte(pid_t pid) { return kRunBase + static_cast<off_t>(pid); }

// A range of the lock file: one byte, or (length 0) the whole file from byte on.
flock Range(short type, off_t byte, off_t length = 1) {
  flock range{};
  range.l_type = type;
  range.l_whence = SEEK_SET;
  range.l_start = byte;
  range.l_len = length;
  return range;
}

bool SetLock(int fd, short type, off_t byte) {
  flock range = Range(type, byte);
  return ::fcntl(fd, F_SETLK, &range) == 0;
}

// Another process's lock on the range that a lock of type would conflict with: its type, or
// F_UNLCK when there is none (or it cannot be asked). Asking needs no write access.
short Conflicting(int fd, short type, off_t byte, pid_t& pid, off_t length = 1) {
  flock range = Range(type, byte, length);
  if (::fcntl(fd, F_GETLK, &range) != 0) return F_UNLCK;
  pid = range.l_pid;
  return range.l_type;
}

bool Busy(int e) { return e == EAGAIN || e == EACCES; }

// The end of the message on a lock file of another user that a run of that user still holds
// names in.
const char* const kWaitForThatUser =
    ": this run cannot hold its names there. Let the runs of that user end (the last one removes the file), or "
    "give this run another folder; a run makes its lock file writable for its group where the umask allows it "
    "(umask 002)";

// Takes the guard of the list (a lock of type on its first byte: a run that writes the list
// takes it for writing, one that only looks at it for reading), waiting up to waitMs by the
// clock while another run holds it; false with errno set when it cannot be had (EAGAIN: held
// longer than a run ever holds it; EINTR: the program was asked to end, and graceMs have
// passed since). waiting is called once, when the wait has lasted a second.
template <typename Waiting>
bool TakeGuard(int fd, short type, int waitMs, int graceMs, Waiting waiting) {
  if (SetLock(fd, type, kGuardByte)) return true;
  if (!Busy(errno)) return false;
  using Clock = std::chrono::steady_clock;
  const SignalAwareWait wait;
  const Clock::time_point start = Clock::now();
  Clock::time_point end = start + std::chrono::milliseconds(waitMs);
  bool said = false, asked = false;
  for (;;) {
    const Clock::time_point now = Clock::now();
    if (!asked && TerminationSignal != 0) {
      asked = true;
      end = std::min(end, now + std::chrono::milliseconds(graceMs));
    }
    if (now >= end) {
      errno = asked ? EINTR : EAGAIN;
      return false;
    }
    if (!said && now - start >= std::chrono::seconds(1)) {
      said = true;
      waiting();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    if (SetLock(fd, type, kGuardByte)) return true;
    if (!Busy(errno)) return false;
  }
}

void ReleaseGuard(int fd) { SetLock(fd, F_UNLCK, kGuardByte); }

std::string ReadAll(int fd) {
  std::string text;
  char buf[4096];
  ssize_t n;
  while (text.size() < (1u << 20) && (n = ::pread(fd, buf, sizeof buf, static_cast<off_t>(text.size()))) > 0)
    text.append(buf, static_cast<size_t>(n));
  return text;
}

// The lines of the list that are not empty.
std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  TextCursor list(text);
  for (std::string line; list.ReadLine(line);)
    if (!line.empty()) lines.push_back(line);
  return lines;
}

const char* const kLinePrefix = "process ";

// Whether the text is a list of runs (or empty): anything else under the lock file's name
// is a file of the user's.
bool ListsRuns(const std::string& text) {
  for (const std::string& line : Lines(text))
    if (line.compare(0, std::strlen(kLinePrefix), kLinePrefix) != 0) return false;
  return true;
}

pid_t LinePid(const std::string& line) {
  return static_cast<pid_t>(std::atol(line.c_str() + std::strlen(kLinePrefix)));
}

// The lines of the runs that still hold their byte, this process's own left out.
std::vector<std::string> LiveRuns(int fd, const std::string& text) {
  std::vector<std::string> live;
  for (const std::string& line : Lines(text)) {
    const pid_t pid = LinePid(line);
    pid_t holder = 0;
    if (pid <= 0 || pid == ::getpid() || Conflicting(fd, F_WRLCK, RunByte(pid), holder) == F_UNLCK) continue;
    if (std::find(live.begin(), live.end(), line) == live.end()) live.push_back(line);
  }
  return live;
}

// Who holds a lock on the range (one byte, or length 0: the whole file from byte on) that a
// lock of type would conflict with: "process 12, control file /x/basin.ctl" (its line of
// the list), or empty when nobody does. *held (when given) is the type of that lock.
std::string WhoHolds(int fd, off_t byte, short type, short* held = nullptr, off_t length = 1) {
  pid_t pid = 0;
  const short t = Conflicting(fd, type, byte, pid, length);
  if (held) *held = t;
  if (t == F_UNLCK) return std::string();
  std::string who = "process " + std::to_string(pid);
  for (const std::string& line : Lines(ReadAll(fd)))
    if (LinePid(line) == pid) who = line;
  return who;
}

// Whether a process other than this one holds any lock on the lock file (a name, or its
// line in the list): the locks go with their process, so this is never a run that has gone,
// whatever the list says.
bool OthersHoldLocks(int fd) {
  pid_t pid = 0;
  return Conflicting(fd, F_WRLCK, 0, pid, 0) != F_UNLCK;
}

// Whether a process holds a lock on the file of that inode, by the system's list of locks
// (/proc/locks), for a file that cannot be opened to ask: 1 yes, 0 no, -1 unknown. Only the
// inode number is compared (a list may name another device number for the same file system):
// a lock on a file of that number elsewhere counts as one on it, which errs on the safe side.
// The system hands the list out a page at a time and counts its place by entries, so a read
// while other processes drop locks may pass over an entry: a lock counts as none only when
// several reads agree.
int LockedBySomeone(ino_t inode) {
  constexpr int kReads = 5;
  for (int read = 0; read < kReads; ++read) {
    std::string text;
    if (!ReadWholeFile("/proc/locks", text)) return -1;
    TextCursor list(text);
    for (std::string line; list.ReadLine(line);) {
      // "1: POSIX  ADVISORY  READ 1234 08:02:131 1 1": the file as major:minor:inode.
      TextCursor words(line);
      for (std::string word; words.ReadWord(word);) {
        const size_t colon = word.rfind(':');
        if (colon == std::string::npos || colon == 0 || word.find(':') == colon || colon + 1 == word.size()) continue;
        if (std::strtoull(word.c_str() + colon + 1, nullptr, 10) == static_cast<unsigned long long>(inode)) return 1;
      }
    }
  }
  return 0;
}

// Writes the list over the old one, its end filled with empty lines up to the old length,
// then cuts those: a run stopped in between leaves whole lines, never an empty list nor a
// piece of an old line. False with errno set when it cannot be written.
bool WriteList(int fd, const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  const size_t size = text.size();
  struct stat st {};
  if (::fstat(fd, &st) == 0 && static_cast<size_t>(st.st_size) > size) text.append(static_cast<size_t>(st.st_size) - size, '\n');
  for (size_t done = 0; done < text.size();) {
    const ssize_t n = ::pwrite(fd, text.data() + done, text.size() - done, static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = ENOSPC;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return ::ftruncate(fd, static_cast<off_t>(size)) == 0;
}

// A control file as the list names it: on one line whatever its path holds (a line feed
// written as \n, a backslash as \\).
std::string OnOneLine(const std::string& path) {
  std::string shown;
  for (const char c : path)
    shown += c == '\n' ? std::string("\\n") : c == '\r' ? std::string("\\r") : c == '\\' ? std::string("\\\\")
                                                                                       : std::string(1, c);
  return shown;
}

// What stands under the lock file's name when it is no regular file of its own; empty when
// it is one (or nothing stands there).
std::string NotALockFile(const struct stat& st) {
  if (S_ISLNK(st.st_mode)) return "a symbolic link";
  if (S_ISREG(st.st_mode))
    return st.st_nlink == 1 ? std::string()
                            : "a file with " + std::to_string(st.st_nlink) + " names (a hard link of another file)";
  return KindOfFile(st.st_mode);
}

// The entry under the lock file's name in the folder open as dir (never followed).
bool LockFileEntry(int dir, struct stat& st) {
  return ::fstatat(dir, RunHold::kFileName, &st, AT_SYMLINK_NOFOLLOW) == 0;
}

}  // namespace

void RunHold::Begin(LogStream* log, const std::string& controlFile, const std::string& outputFolder) {
  Release();
  log_ = log;
  std::error_code ignored;
  controlFile_ = controlFile.empty() ? controlFile : std::filesystem::absolute(controlFile, ignored).string();
  outputFolder_ = outputFolder;
}

std::string RunHold::Shown(const std::string& folder) const {
  return std::string(folder == outputFolder_ ? "the output folder " : "the folder ") +
         (folder.empty() ? "./ (the working folder)" : folder);
}

long RunHold::FolderOf(const std::string& folder, bool forWriting, const std::string& path) {
  // The folder is kept open, and its lock file reached through it alone: a link on its way
  // (a folder link switched to another state) may lead elsewhere by the time the run leaves.
  struct Dir {
    int fd;
    ~Dir() {
      if (fd >= 0) ::close(fd);
    }
  } dir{::open(folder.empty() ? "." : folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC)};
  struct stat place {};
  if (dir.fd < 0 || ::fstat(dir.fd, &place) != 0) return -1;  // the writer or reader names it
  for (size_t i = 0; i < folders_.size(); ++i)
    if (folders_[i].folderDevice == place.st_dev && folders_[i].folderInode == place.st_ino) {
      folders_[i].writes = folders_[i].writes || forWriting;
      return static_cast<long>(i);
    }
  if (std::find(unlockable_.begin(), unlockable_.end(), folder) != unlockable_.end()) return -1;
  const LockAttempt at{folder, folder + kFileName, Shown(folder), path, forWriting, place.st_dev, place.st_ino, dir.fd};
  // The last run of a lock file may remove it between our open and our guard: the list
  // counts only on the file that still stands under the name.
  for (int attempt = 0; attempt < 100; ++attempt) {
    struct stat opened {};
    const int fd = OpenLockFile(at, opened);
    if (fd == kTryAgain) continue;
    if (fd < 0 || !GuardList(fd, at)) return -1;
    const long index = JoinList(fd, opened, at);
    if (index == kTryAgain) continue;
    if (index >= 0) dir.fd = -1;  // the folder's entry keeps it
    return index;
  }
  return RefuseLockFile(at, "made and removed again all the time by other runs");
}

long RunHold::RefuseLockFile(const LockAttempt& at, const std::string& why) {
  // The lock file of a folder the run only reads from is left out when it cannot be had; for
  // a folder it writes into, that ends the start-up.
  if (!at.forWriting) return -1;
  if (log_) *log_ << "FATAL: the lock file " << at.lockPath << " of " << at.shown << " is " << why << "[end-entry]";
  throw 26;
}

long RunHold::RefuseNotALockFile(const LockAttempt& at, const std::string& kind) {
  return RefuseLockFile(at, kind + ", not a lock file of its own: it is left as it is (the run's lock would be "
                                   "written into what it leads to or shares). Remove it, or give this run another "
                                   "folder");
}

int RunHold::OpenLockFile(const LockAttempt& at, struct stat& opened) {
  struct stat before {};
  const bool stood = LockFileEntry(at.dir, before);
  if (stood) {
    const std::string kind = NotALockFile(before);
    if (!kind.empty()) return static_cast<int>(RefuseNotALockFile(at, kind));
  }
  // Writable for the group and others as far as the umask lets it: the runs of a group
  // share a folder (a setgid folder, umask 002).
  const int fd = ::openat(at.dir, kFileName, O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0666);
  if (fd < 0) {
    const int e = errno;
    if (e == EACCES && stood)
      return ClearLockFileOfAnother(at, before) ? kTryAgain : -1;
    if (!at.forWriting) return -1;
    if (e == ELOOP) return static_cast<int>(RefuseNotALockFile(at, "a symbolic link"));
    if (log_)
      *log_ << "FATAL: cannot make the lock file " << at.lockPath << " of " << at.shown << ", where " << at.path
            << " is written (" << std::strerror(e) << ")" << "[end-entry]";
    throw 26;
  }
  if (::fstat(fd, &opened) != 0 || !NotALockFile(opened).empty()) {
    const std::string kind = NotALockFile(opened);
    ::close(fd);
    return static_cast<int>(RefuseNotALockFile(at, kind.empty() ? "no file that can be looked at" : kind));
  }
  return fd;
}

bool RunHold::GuardList(int fd, const LockAttempt& at) {
  if (TakeListGuard(fd, at.lockPath, at.forWriting)) return true;
  const int e = errno;
  ::close(fd);
  // A stalled list where the run only reads, or no locks on this file system: the latter
  // said once for a folder the run writes into.
  if (Busy(e) || !at.forWriting) return false;
  unlockable_.push_back(at.folder);
  if (log_)
    *log_ << "WARNING: " << at.shown << " cannot be locked (" << std::strerror(e)
          << "): nothing keeps another run from writing into it at the same time" << "[end-entry]";
  return false;
}

long RunHold::JoinList(int fd, const struct stat& opened, const LockAttempt& at) {
  struct stat named {};
  if (!LockFileEntry(at.dir, named) || opened.st_ino != named.st_ino || opened.st_dev != named.st_dev) {
    ::close(fd);  // removed by its last run meanwhile
    return kTryAgain;
  }
  if (opened.st_nlink != 1) {
    ::close(fd);
    return RefuseNotALockFile(at, NotALockFile(opened));
  }
  const std::string text = ReadAll(fd);
  if (!ListsRuns(text)) {
    ::close(fd);
    return RefuseLockFile(at, "a file that holds no list of runs (a file of that name, perhaps an input): it is left "
                              "as it is. Give that file another name, or give this run another folder");
  }
  std::vector<std::string> runs = LiveRuns(fd, text);
  runs.push_back(std::string(kLinePrefix) + std::to_string(::getpid()) + ", control file " + OnOneLine(controlFile_));
  if (!WriteList(fd, runs)) {
    const int e = errno;
    ::close(fd);
    return RefuseLockFile(at, std::string("a file this run cannot write its line of the list of runs into (") +
                                  std::strerror(e) + "): a run that finds a name taken could not say which run "
                                  "holds it. Free space on its disk, or give this run another folder");
  }
  SetLock(fd, F_RDLCK, RunByte(::getpid()));
  ReleaseGuard(fd);
  folders_.push_back(
      Folder{fd, at.folder, at.lockPath, opened.st_dev, opened.st_ino, at.folderDevice, at.folderInode, at.forWriting,
             false, at.dir});
  return static_cast<long>(folders_.size() - 1);
}

bool RunHold::TakeListGuard(int fd, const std::string& lockPath, bool forWriting, short type) {
  std::string waitedFor;
  const auto waiting = [&] {
    waitedFor = WhoHolds(fd, kGuardByte, type);
    if (log_)
      *log_ << "INFO: waiting for " << (waitedFor.empty() ? std::string("another run") : waitedFor)
            << ", which is writing the list of runs in " << lockPath << "[end-entry]";
  };
  if (TakeGuard(fd, type, kGuardWaitMs, 0, waiting)) return true;
  const int e = errno;
  if (waitedFor.empty()) waitedFor = WhoHolds(fd, kGuardByte, type);
  const std::string who = waitedFor.empty() ? std::string("another run") : waitedFor;
  if (e == EINTR) {
    ::close(fd);
    if (log_)
      *log_ << "FATAL: " << TerminationSignalName() << " received while the run waited for " << who
            << " to write the list of runs in " << lockPath << ": it ends before its first time step" << "[end-entry]";
    throw kTerminatedCode;
  }
  if (!Busy(e) || !forWriting) {
    errno = e;
    return false;
  }
  ::close(fd);
  if (log_)
    *log_ << "FATAL: the lock file " << lockPath << " is held by " << who
          << ", which does not let go of it (stopped while it wrote the list of runs): let that run go on or end it, "
             "then start this run again" << "[end-entry]";
  throw 26;
}

void (*RunHold::whileClearing)(const std::string& lockFile) = nullptr;

bool RunHold::ClearLockFileOfAnother(const LockAttempt& at, const struct stat& st) {
  const std::string& lockPath = at.lockPath;
  const std::string& shown = at.shown;
  const bool forWriting = at.forWriting;
  const std::string owner =
      "user " + UserName(st.st_uid) + FormatText(", mode %04o", static_cast<unsigned>(st.st_mode & 07777));
  const int fd = ::openat(at.dir, kFileName, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) return RefuseUnreadableLockFile(at, st, owner);
  // The guard of the list is held (for reading: the file is not this user's to write) from
  // the look at its locks to its removal: a run of its owner that joins it meanwhile waits
  // for the guard, then finds the file gone and makes a new one, instead of holding names in
  // a file no longer under the name. A stalled list is a run's that still goes on.
  if (!TakeListGuard(fd, lockPath, forWriting, F_RDLCK) && Busy(errno)) {
    ::close(fd);
    return false;
  }
  const std::string who = WhoHolds(fd, 0, F_WRLCK, nullptr, 0);  // asking needs no write access
  if (who.empty()) {
    // Nobody holds anything in it: every run it lists has ended.
    if (whileClearing) whileClearing(lockPath);
    // Only while it is still the file looked at (another user's run may have cleared it and a
    // run of its owner made a new one meanwhile).
    struct stat looked {}, named {};
    const bool same = ::fstat(fd, &looked) == 0 && LockFileEntry(at.dir, named) && looked.st_dev == named.st_dev &&
                      looked.st_ino == named.st_ino;
    const int removed = !same || ::unlinkat(at.dir, kFileName, 0) == 0 || errno == ENOENT ? 0 : errno;
    ::close(fd);
    if (removed == 0) {
      if (log_)
        *log_ << "INFO: the lock file " << lockPath << " of " << shown << " (of " << owner
              << ", which this user cannot write) was left by runs that have ended: it is removed and made anew"
              << "[end-entry]";
      return true;
    }
    if (!forWriting) return false;
    if (log_)
      *log_ << "FATAL: the lock file " << lockPath << " of " << shown << " (of " << owner
            << ") was left by runs that have ended (none holds it now), but this user can neither write it nor "
            << "remove it (" << std::strerror(removed) << "): remove " << lockPath
            << " (as its owner or the folder's owner), then start the run again" << "[end-entry]";
    throw 26;
  }
  ::close(fd);
  if (!forWriting) return false;
  if (log_)
    *log_ << "FATAL: the lock file " << lockPath << " of " << shown << " belongs to " << owner
          << ", which this user cannot write, and " << who << " holds names in it"
          << kWaitForThatUser << "[end-entry]";
  throw 26;
}

bool RunHold::RefuseUnreadableLockFile(const LockAttempt& at, const struct stat& st, const std::string& owner) {
  const std::string& lockPath = at.lockPath;
  const std::string& shown = at.shown;
  if (!at.forWriting) return false;
  // Its locks cannot be asked through a descriptor of this user's: the system's list of locks
  // tells whether a run still holds names in it.
  const int locked = LockedBySomeone(st.st_ino);
  if (log_ && locked == 0) {
    struct stat place {};
    const bool sticky = ::fstat(at.dir, &place) == 0 && (place.st_mode & S_ISVTX) != 0 &&
                        place.st_uid != ::geteuid() && st.st_uid != ::geteuid();
    const bool mayRemove = ::faccessat(at.dir, ".", W_OK | X_OK, AT_EACCESS) == 0 && !sticky;
    *log_ << "FATAL: the lock file " << lockPath << " of " << shown << " (of " << owner
          << ") was left by runs that have ended (no process holds a lock in it), but this user can neither read "
             "nor write it, so the run does not remove it itself: remove "
          << lockPath
          << (mayRemove ? " (this user may: the folder is writable for it)" : " (as its owner or the folder's owner)")
          << ", then start the run again" << "[end-entry]";
  } else if (log_) {
    *log_ << "FATAL: the lock file " << lockPath << " of " << shown << " belongs to " << owner
          << ", which this user can neither write nor read"
          << (locked > 0 ? ", and a run of that user holds names in it" : std::string())
          << kWaitForThatUser << "[end-entry]";
  }
  throw 26;
}

bool RunHold::Holder(const Folder& f, off_t byte, bool exclusive, std::string& who, bool& writes) const {
  short type = F_UNLCK;
  who = WhoHolds(f.fd, byte, exclusive ? F_WRLCK : F_RDLCK, &type);
  writes = type == F_WRLCK;
  return type != F_UNLCK;
}

void RunHold::Hold(const std::string& path, const std::string& what, bool endState, bool exclusive) {
  // Only a regular file or a name nothing stands under is held: a character device is
  // written straight into by any number of runs, and the start-up refuses what else stands
  // there (a FIFO, a folder) without a lock file beside it.
  if (path.empty() || !RegularOrMissing(path)) return;
  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  // The lock file itself is no name to hold: the check of the run's files refuses an input
  // or an output of that name.
  if (name.empty() || name == kFileName) return;
  const long index = FolderOf(folder, exclusive, path);
  if (index < 0) return;
  Folder& f = folders_[static_cast<size_t>(index)];
  const off_t byte = NameByte(name);
  Name* held = nullptr;
  for (Name& n : names_)
    if (n.folder == static_cast<size_t>(index) && n.byte == byte) held = &n;
  if (held && (held->exclusive || !exclusive)) return;
  for (int attempt = 0; attempt < 3; ++attempt) {
    if (SetLock(f.fd, exclusive ? F_WRLCK : F_RDLCK, byte)) {
      if (held)
        held->exclusive = true;
      else
        names_.push_back(Name{static_cast<size_t>(index), byte, exclusive, path});
      return;
    }
    if (!Busy(errno)) return;  // the lock file's folder takes no byte locks: as if unlocked
    std::string who;
    bool writes = false;
    if (!Holder(f, byte, exclusive, who, writes)) continue;  // let go meanwhile
    if (log_) {
      const std::string remedy =
          folder == outputFolder_ ? "give this one another DefaultOutputDirectory in [output_interval]"
          : endState              ? "write this run's end state into another folder"
                                  : "give this run's file another name or folder";
      if (exclusive)
        *log_ << "FATAL: " << what << " would be written to " << path << ", which another run (" << who << ") "
              << (writes ? "writes as well: two runs would write over each other's files. Let that run end, or "
                         : "reads while it is built: its input would change under it. Let that run start first, or ")
              << remedy << "[end-entry]";
      else
        *log_ << "FATAL: the run reads " << path << (what.empty() ? std::string() : " for " + what)
              << ", which another run (" << who << ") writes: a file read while another run writes it may be "
              << "the old one, the new one or, for a state, a mix of both. Let that run end first" << "[end-entry]";
    }
    throw 26;
  }
  if (log_)
    *log_ << "FATAL: cannot hold " << path << ": other runs take and give it back all the time" << "[end-entry]";
  throw 26;
}

void RunHold::Write(const std::string& path, const std::string& what, bool endState) {
  Hold(path, what, endState, true);
}

// A file read through a symbolic link is held where it lies: a run that writes it there
// holds that name.
void RunHold::Read(const std::string& path, const std::string& what) { Hold(FileNamedBy(path), what, false, false); }

void RunHold::ReleaseReadsExcept(const std::vector<std::string>& readOn) {
  // A file read on is held under its name as given and, read through a link, where it lies.
  std::vector<std::string> kept = readOn;
  for (const std::string& r : readOn) kept.push_back(FileNamedBy(r));
  for (size_t i = names_.size(); i-- > 0;) {
    const Name& n = names_[i];
    if (n.exclusive || std::find(kept.begin(), kept.end(), n.path) != kept.end()) continue;
    SetLock(folders_[n.folder].fd, F_UNLCK, n.byte);
    names_.erase(names_.begin() + static_cast<long>(i));
  }
  // A folder the run has only read from is left.
  for (size_t i = folders_.size(); i-- > 0;) {
    if (folders_[i].writes ||
        std::any_of(names_.begin(), names_.end(), [i](const Name& n) { return n.folder == i; }))
      continue;
    Leave(folders_[i]);
    folders_.erase(folders_.begin() + static_cast<long>(i));
    for (Name& n : names_)
      if (n.folder > i) --n.folder;
  }
}

std::vector<std::string> RunHold::LockFiles() const {
  std::vector<std::string> files;
  for (const Folder& f : folders_) files.push_back(f.path);
  return files;
}

void RunHold::WarnOfLostLockFiles() {
  for (Folder& f : folders_) {
    if (!f.writes || f.warned) continue;
    struct stat named {};
    if (LockFileEntry(f.dir, named) && named.st_dev == f.device && named.st_ino == f.inode) continue;
    f.warned = true;
    if (log_)
      *log_ << "WARNING: the lock file " << f.path << " of " << Shown(f.folder)
            << " was removed or replaced by another program while the run went on: from then on nothing kept "
            << "another run from writing there, and one may have written into the files of this run" << "[end-entry]";
  }
}

void RunHold::Leave(const Folder& f) {
  // Left while the list is guarded, so that a run that opened the file meanwhile finds it
  // gone and makes a new one. It is removed only while it is still the file under the name
  // and no other process holds a lock in it, whatever its list says (a line lost or emptied
  // by another program, a run killed while it wrote the list). A run asked to end waits a
  // moment at most: its line, left in the list, is dropped by the next run there.
  std::string who;
  const auto waiting = [&] {
    who = WhoHolds(f.fd, kGuardByte, F_WRLCK);
    if (log_)
      *log_ << "INFO: waiting to leave the lock file " << f.path << " while "
            << (who.empty() ? std::string("another run") : who) << " writes its list of runs" << "[end-entry]";
  };
  if (TakeGuard(f.fd, F_WRLCK, kGuardWaitMs, kLeaveGraceMs, waiting)) {
    struct stat named {};
    const bool ours = LockFileEntry(f.dir, named) && named.st_dev == f.device && named.st_ino == f.inode;
    if (ours && !OthersHoldLocks(f.fd))
      ::unlinkat(f.dir, kFileName, 0);
    else
      WriteList(f.fd, LiveRuns(f.fd, ReadAll(f.fd)));  // one that cannot be written costs names in messages only
  } else if (const int e = errno; log_ && (e == EINTR || Busy(e))) {
    *log_ << "INFO: the run leaves the lock file " << f.path << " with its line in the list of runs, which the next "
          << "run there drops: "
          << (e == EINTR ? std::string(TerminationSignalName()) + " received while it waited for the list"
                             : (who.empty() ? std::string("another run") : who) +
                                   " does not let go of the list (stopped while it wrote it)")
          << "[end-entry]";
  }
  ::close(f.fd);  // gives back every lock of the process on the file
  ::close(f.dir);
}

void RunHold::Release() {
  for (const Folder& f : folders_) Leave(f);
  folders_.clear();
  names_.clear();
  unlockable_.clear();
}
