// What a run holds for itself: every name it writes under (each output, its temporary name,
// the marker of its end state), against any other run that would write or read it, and every
// file it reads while it is built, against a run that would replace it meanwhile. Two runs
// that share a folder but write files of other names (the runs of an ensemble, each with its
// own beginning of names) run side by side; two runs that would write one name do not.
//
// Every folder in which the run holds a name has one lock file, ".orvel.lock". The holds are
// POSIX byte-range locks (fcntl) on it: each name held is one byte, chosen by a 62-bit hash
// of the file's name, locked for writing (the run's alone) or for reading (shared with the
// other readers). The file's text lists the runs that hold names in it, one line each
// ("process 1234, control file /data/basin.ctl"), so that a run that finds a name taken can
// say which run has it; a short lock on its first byte guards that list. The locks go with
// the process however it ends (a run killed outright leaves its line, which the next run
// drops). The last run to leave a lock file removes it, while it is still the one it took:
// the last by the locks, not by the list (a list emptied or cut by another program says
// nothing of the runs that hold names). A lock file is made writable for the group and
// others as far as the umask lets it; one of another user that this user cannot write is
// removed when nobody holds it (runs that ended left it), its guard held from the look to the
// removal so that a run of its owner that joins meanwhile finds it gone, and named otherwise.
//
// The lock file is a regular file of its own or nothing: a link, a second name of another
// file, or a file that holds anything but that list (an input of the same name) is never
// written. For a name the run writes, the start-up ends naming it (code 26); for a file it
// only reads, the hold is left out. A folder where no lock file can be made for a file the
// run only reads (a read-only archive) is not held either: no run can write into it.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <string>
#include <vector>

class LogStream;

class RunHold {
 public:
  RunHold() = default;
  ~RunHold() { Release(); }
  RunHold(const RunHold&) = delete;
  RunHold& operator=(const RunHold&) = delete;

  // The run the holds are taken for: the log of its messages, its control file (named to
  // other runs) and its output folder (called so in the messages; empty: the working folder).
  void Begin(LogStream* log, const std::string& controlFile, const std::string& outputFolder);

  // Holds a name the run writes under (what: the output, as the messages name it; endState:
  // a file of the end state, written at the end of the run) for this run alone. Another run
  // that writes or reads it ends the start-up with a FATAL naming the name and that run
  // (code 26). A name that leads to a character device is not held: any number of runs may
  // write there; nor is one where anything else but a regular file stands.
  void Write(const std::string& path, const std::string& what, bool endState);
  // The output folder, once it is known (the messages call it so; empty: the working folder).
  void NameOutputFolder(const std::string& folder) { outputFolder_ = folder; }
  // Holds a file the run reads (what: for what; empty when not known), shared with the other
  // runs that read it, where it lies (a symbolic link: the file it leads to). Another run that
  // writes it ends the start-up as above.
  void Read(const std::string& path, const std::string& what);
  // Gives back the hold of every file only read but those of readOn (the files read on during
  // the run; the others were read once while the run was built), and leaves the folders the
  // run then holds nothing in.
  void ReleaseReadsExcept(const std::vector<std::string>& readOn);
  // The lock files of the folders where the run holds names (names the run writes under).
  std::vector<std::string> LockFiles() const;
  // One WARNING for each lock file of a folder the run writes into that another program has
  // removed or replaced since the run took it: another run may have written there since.
  void WarnOfLostLockFiles();
  // Gives every hold back; each lock file that no other run holds names in and that is still
  // the one the run took is removed.
  void Release();

  static constexpr const char* kFileName = ".orvel.lock";

  // Tests: called while a lock file of another user is cleared, between the look at its locks
  // and its removal (its guard held); null: nothing.
  static void (*whileClearing)(const std::string& lockFile);

 private:
  struct Folder {
    int fd = -1;
    std::string folder;  // as joined to names: with its trailing "/", empty for the working folder
    std::string path;    // of the lock file
    dev_t device = 0;    // of the lock file
    ino_t inode = 0;
    dev_t folderDevice = 0;
    ino_t folderInode = 0;
    bool writes = false;  // the run holds a name it writes here
    bool warned = false;  // its loss is said
    int dir = -1;         // the folder, open: its lock file is reached through it alone
  };
  struct Name {
    size_t folder = 0;
    off_t byte = 0;
    bool exclusive = false;
    std::string path;
  };
  // The folder's entry, the lock file made and the run listed in it; -1 when the folder is
  // not held (a file only read: no lock file can be had there; or no locks on its file
  // system, said once). Refusals of the lock file for a name written end the start-up.
  long FolderOf(const std::string& folder, bool forWriting, const std::string& path);
  // One attempt at the lock file of a folder: what it is for, and the folder's own entry.
  struct LockAttempt {
    std::string folder, lockPath, shown;
    std::string path;  // the name held there, for the messages
    bool forWriting = false;
    dev_t folderDevice = 0;
    ino_t folderInode = 0;
    int dir = -1;  // the folder, open (O_PATH)
  };
  // The steps of FolderOf that may have to begin again, with the lock file made anew or
  // found removed by its last run meanwhile.
  static constexpr int kTryAgain = -2;
  // Opens (or makes) the lock file, never through a link nor a second name of another file;
  // opened is what was opened. The descriptor, kTryAgain after a lock file of another user
  // was cleared, or -1 when the folder is not held.
  int OpenLockFile(const LockAttempt& at, struct stat& opened);
  // TakeListGuard; on failure the file is closed and false returned (the folder not held).
  bool GuardList(int fd, const LockAttempt& at);
  // With the guard taken: the run's line written into the list of the lock file still under
  // its name, the folder entered; its index, kTryAgain, or -1 (the folder not held).
  long JoinList(int fd, const struct stat& opened, const LockAttempt& at);
  // A lock file that cannot be had: -1 for a folder only read, else a FATAL saying it is why
  // (code 26).
  long RefuseLockFile(const LockAttempt& at, const std::string& why);
  // The same for what stands under the lock file's name and is no lock file of its own (kind).
  long RefuseNotALockFile(const LockAttempt& at, const std::string& kind);
  void Hold(const std::string& path, const std::string& what, bool endState, bool exclusive);
  // What another run holding the byte of the folder's lock file is: "process 12, control
  // file /x/basin.ctl", and whether it writes (else reads); false when none holds it now.
  bool Holder(const Folder& f, off_t byte, bool exclusive, std::string& who, bool& writes) const;
  // Takes the guard of the list of the lock file open under fd, waiting while another run
  // writes it (an INFO names that run after a second). A SIGTERM, SIGHUP or SIGINT meanwhile
  // ends the start-up (kTerminatedCode); a list held longer than any run writes it ends it for a name
  // written (code 26, naming the run waited for). False with errno set otherwise (no locks
  // on the file system, or a stalled list where the run only reads).
  // type: F_WRLCK to write the list, F_RDLCK to look at it alone.
  bool TakeListGuard(int fd, const std::string& lockPath, bool forWriting, short type = F_WRLCK);
  // A lock file this user cannot write (made by a run of another user, whose umask kept it
  // from others): when no process holds a lock in it, it is removed (true: make it anew),
  // its guard held meanwhile; when that cannot be done, or a run still holds names in it, a
  // name written ends the start-up naming the file, its owner and what to do (code 26); a
  // file only read is not held (false).
  bool ClearLockFileOfAnother(const LockAttempt& at, const struct stat& st);
  // The same for a lock file this user can neither read nor write: never removed (its guard
  // cannot be taken), it is named with what to remove when no process holds a lock in it.
  bool RefuseUnreadableLockFile(const LockAttempt& at, const struct stat& st, const std::string& owner);
  std::string Shown(const std::string& folder) const;
  // Takes the run off the folder's list and closes its lock file (which gives back every
  // hold in it); the file is removed when no other run is listed and it is still the one
  // taken.
  void Leave(const Folder& f);

  LogStream* log_ = nullptr;
  std::string controlFile_;
  std::string outputFolder_;
  std::vector<Folder> folders_;
  std::vector<Name> names_;
  std::vector<std::string> unlockable_;  // folders written into whose file system takes no locks (said once)
};
