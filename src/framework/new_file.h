// Creating a file that the run is about to fill (a "<name>.tmp" before its rename, a lock):
// the file is made new, so that nothing planted under its name can redirect the write. A
// symbolic link would lead the write to its target and a hard link would truncate the file
// it shares; both are only ever removed, never opened.
//
// An output whose name leads to an existing character device (/dev/null, to throw it away)
// is the one exception: it is written straight into the device, with no temporary name and
// nothing renamed over it (a new file there would take the device's place).
#pragma once

#include <cstdio>
#include <string>

// Removes whatever entry stands under path but a folder or a device (a stale file, a
// symbolic or hard link, a FIFO: only the name goes, never what it leads to). Returns 0
// (also when nothing stood there), or -1 with errno set (EISDIR for a folder, EEXIST for a
// device; neither is ever removed). For a writer that creates its file itself exclusively
// (the netCDF library with "no clobber").
int ClearName(const std::string& path);

// ClearName, then creates a new, empty regular file there for writing (O_CREAT | O_EXCL |
// O_NOFOLLOW, mode 0666 less the umask). Returns the file
// descriptor, or -1 with errno set (EEXIST when another process made the name in between
// or a device stands there; EISDIR when a folder stands there).
int CreateNewFile(const std::string& path);

// As CreateNewFile, as a stream opened with mode ("w" or "wb"; other modes are taken as
// "w"). Returns nullptr with errno set when the file cannot be made.
std::FILE* CreateNewStream(const std::string& path, const char* mode = "w");

// Writes text as the whole content of a file made new under path (CreateNewFile). Returns
// 0, or the errno of the failure; opened tells whether the file could be made. A file
// that could not be written to its end is removed.
int WriteNewFile(const std::string& path, const std::string& text, bool& opened);

// The folder a name lies in, as the system is given it: the name up to its last "/", "/" for
// a name in the root, "." for a name without any "/".
std::string FolderOfName(const std::string& path);

// The limits of the file system that holds the folder of path: the longest name of a file
// in it (NAME_MAX) and the longest path the system takes (PATH_MAX, its closing zero
// included). BaseLength is the length of the last part of path.
struct NameLimits {
  size_t name = 255, path = 4096;
  bool Fit(const std::string& p) const;  // both limits kept
};
NameLimits NameLimitsOf(const std::string& path);
size_t BaseLength(const std::string& path);

// A name the run writes under for its own purposes beside the file path names: "<path>
// <ending>" where the file system of its folder takes it (NameLimits), and otherwise one that
// fits whenever path itself does: the beginning of path's last part, as much of it as fits
// (never cut inside a UTF-8 character), "." and the 16 hexadecimal digits of the 64-bit
// FNV-1a hash of the whole last part, and the ending. The same path always gives the same
// name, so that a later run finds what an earlier one left there, and two long names that
// begin alike still differ in their hash. Only a name that some file system might not take
// (its last part over 14 characters with the ending, or the whole over 255) costs a look at
// the limits of its folder. Where not even the cut name fits, "<path><ending>" (the check at
// start-up names it).
std::string FittedName(const std::string& path, const std::string& ending);

// The names an output is written under, decided once when it is named: its own name, and
// the name it is written under until it is whole, "<name>.tmp" (FittedName: cut to fit where
// that would be too long for the folder), made new (CreateNewFile) and moved into place then.
// An output whose name leads to an existing character device (a link to one included) is
// written straight into it: its own name is then the only one.
class OutputName {
 public:
  OutputName() = default;
  // Looks at what stands under path now.
  explicit OutputName(const std::string& path);
  // The output path written under a name chosen for it (a file made while the run is built
  // waits under a staged name of its own): never a device.
  static OutputName WrittenUnder(const std::string& path, const std::string& temporary);

  const std::string& Final() const { return final_; }
  const std::string& Temporary() const { return temporary_; }  // Final() for a device
  bool IntoDevice() const { return device_; }

  // Opens the output for writing: a file made new under its temporary name, or the device
  // (one that is gone or no longer one by then: -1 with errno EEXIST). -1 with errno set.
  int Create() const;
  // The same as a stream opened with mode ("w" or "wb").
  std::FILE* CreateStream(const char* mode = "w") const;
  // Moves the output from its temporary name into place (nothing to do for a device).
  // Returns 0, or the errno of the failure.
  int MoveIntoPlace() const;
  // Removes what a failed write left under the temporary name; never the device itself.
  void RemoveTemporary() const;
  // Writes text as the whole content under the temporary name; nothing is moved (a file of
  // the end state waits there). Returns 0, or the errno of the failure; opened tells whether
  // the file could be made.
  int WriteText(const std::string& text, bool& opened) const;
  // WriteText, then MoveIntoPlace: the output appears whole or not at all.
  int Write(const std::string& text, bool& opened) const;

  // The ending of a temporary name.
  static constexpr const char* kTemporaryEnding = ".tmp";

 private:
  std::string final_, temporary_;
  bool device_ = false;
};

// The name an output made while the run is built is written under when its temporary name
// is taken (a stale file, or an input the check of the run's files will refuse): for the
// attempt k, "<path>.<pid>.tmp" (k = 1) or "<path>.<pid>-<k>.tmp", the end of the output's
// own name cut where the whole would be longer than the folder's file system takes.
std::string SpareTemporaryName(const std::string& path, int attempt);
