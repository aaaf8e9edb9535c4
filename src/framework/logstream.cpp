#include "framework/logstream.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <iostream>

#include "framework/file_reason.h"
#include "framework/new_file.h"
#include "framework/shared_file.h"

namespace {

// Why the diagnostics file could not be opened: what the path is when it is no regular file
// (it was not opened), else the system's reason.
std::string DiagnosticsOpenReason(const std::string& path, int e) {
  const std::string kind = NotARegularFile(path);
  return kind.empty() ? FileOpenReason(path, true, e) : " (" + kind + ", not a regular file)";
}

const char* const kTerminator = "[end-entry]";
const size_t kTerminatorLength = 11;
const char* const kDefaultFile = "Orvel_Diag.xml";

struct Prefix {
  const char* text;
  int level;
};
const Prefix kPrefixes[] = {{"FATAL: ", 0},   {"ERROR: ", 1}, {"WARNING: ", 2},
                            {"INFO: ", 3},    {"DEBUG: ", 4}, {"SKIP: ", 5}};

// The prefix a piece begins with, or null.
const Prefix* FindPrefix(const char* text) {
  for (const Prefix& p : kPrefixes)
    if (std::strncmp(text, p.text, std::strlen(p.text)) == 0) return &p;
  return nullptr;
}

bool EndsMessage(const char* text) { return std::strstr(text, kTerminator) != nullptr; }

// Appends one code point's worth of bytes starting at s[i] if it is valid UTF-8;
// returns the number of bytes consumed, or 0 if the sequence is invalid.
size_t ValidUtf8Length(const std::string& s, size_t i) {
  unsigned char c = static_cast<unsigned char>(s[i]);
  size_t n = 0;
  if (c >= 0xC2 && c <= 0xDF) n = 2;
  else if (c >= 0xE0 && c <= 0xEF) n = 3;
  else if (c >= 0xF0 && c <= 0xF4) n = 4;
  else return 0;
  if (i + n > s.size()) return 0;
  for (size_t k = 1; k < n; ++k)
    if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return 0;
  unsigned char c1 = static_cast<unsigned char>(s[i + 1]);
  if (c == 0xE0 && c1 < 0xA0) return 0;   // overlong
  if (c == 0xED && c1 >= 0xA0) return 0;  // surrogates
  if (c == 0xF0 && c1 < 0x90) return 0;   // overlong
  if (c == 0xF4 && c1 >= 0x90) return 0;  // above U+10FFFF
  return n;
}

}  // namespace

std::string LocalTimeStamp() {
  std::time_t now = std::time(nullptr);
  std::tm tmv{};
  localtime_r(&now, &tmv);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d", tmv.tm_year + 1900, tmv.tm_mon + 1,
                tmv.tm_mday, tmv.tm_hour, tmv.tm_min, tmv.tm_sec);
  return buf;
}

std::string LogStream::EscapeForXml(const std::string& text) {
  std::string out;
  out.reserve(text.size() + 16);
  for (size_t i = 0; i < text.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    switch (c) {
      case '&': out += "&amp;"; break;
      case '\n': out += ';'; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '\'': out += "&apos;"; break;
      case '"': out += "&quot;"; break;
      default:
        if (c < 0x20 || c == 0x7F) {
          out += ' ';  // control characters are not allowed in XML 1.0
        } else if (c < 0x80) {
          out += static_cast<char>(c);
        } else {
          size_t n = ValidUtf8Length(text, i);
          if (n == 0) {
            out += '?';
          } else {
            out.append(text, i, n);
            i += n - 1;
          }
        }
    }
  }
  // Runs of three or more dashes are shortened to two ("--" stays legal in
  // attribute text, and keeps the file readable for tools that scan for comments).
  size_t pos;
  while ((pos = out.find("---")) != std::string::npos) out.erase(pos, 1);
  return out;
}

LogStream::LogStream() : LogStream(std::cout, kDefaultFile, 4) {}

LogStream::LogStream(const std::string& file, int maxLevel) : LogStream(std::cout, file, maxLevel) {}

LogStream::LogStream(std::ostream& console, const std::string& file, int maxLevel)
    : console_(&console), consoleDevice_(dynamic_cast<const ConsoleStream*>(&console)), maxLevel_(maxLevel) {
  Open(file);
}

bool LogStream::HoldsNoDiagnostics(const std::string& path) {
  std::ifstream in;
  if (RegularOrMissing(path)) in.open(path, std::ios::binary);
  if (!in) return false;
  char head[5] = {0, 0, 0, 0, 0};
  in.read(head, sizeof head);
  const size_t got = static_cast<size_t>(in.gcount());
  return got > 0 && std::string("<?xml").compare(0, got, head, got) != 0;
}

bool LogStream::OpenFile(const std::string& name, int& e) {
  e = 0;
  // A character device (/dev/null, to throw the diagnostics away) is written straight into,
  // unlocked: it is no file of one run.
  // A link another user made under the name is no choice of this user's: never followed.
  struct stat st {};
  const bool othersLink = ::lstat(name.c_str(), &st) == 0 && S_ISLNK(st.st_mode) && st.st_uid != ::geteuid();
  if (const OutputName device(name); device.IntoDevice() && !othersLink) {
    const int fd = device.Create();
    e = fd < 0 ? errno : 0;
    if (fd >= 0) file_.open(fd);
    return file_.is_open();
  }
  // A FIFO would wait for a reader for ever: only a regular file (or a new one) is opened,
  // or a file of this user's own beside what another user left under the name.
  if (!RegularOrMissing(name) && !SharedFileRefusesThisUser(name, st)) return false;
  // The file is locked while it is written: the run of another program that names it too
  // finds it taken and leaves it. The file there is looked at first (never through a link)
  // and held while it is replaced.
  int earlier = ::open(name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (earlier >= 0 && ::flock(earlier, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
    ::close(earlier);
    e = EWOULDBLOCK;
    return false;
  }
  // Made new, as every output: a link under the name is replaced, never written through,
  // and a file it shares with another name (a copy made with "cp -al") stays with that name.
  int fd = CreateNewFile(name);
  e = fd < 0 ? errno : 0;
  bool inPlace = false;
  if (fd < 0 && (e == EPERM || e == EACCES)) fd = OpenShared(name, e, inPlace);
  if (inPlace && earlier >= 0) {  // its lock would keep out the one taken through fd
    ::close(earlier);
    earlier = -1;
  }
  if (fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
    ::close(fd);
    e = EWOULDBLOCK;
  } else if (fd >= 0 && inPlace && ::ftruncate(fd, 0) != 0) {  // emptied once it is this run's
    e = errno;
    ::close(fd);
  } else if (fd >= 0) {
    file_.open(fd);
  }
  if (earlier >= 0) ::close(earlier);
  return file_.is_open();
}

int LogStream::OpenShared(const std::string& name, int& e, bool& inPlace) {
  const int fd = OpenSharedInPlace(name);
  if (fd >= 0) {
    inPlace = true;
    return fd;
  }
  struct stat st {};
  if (!SharedFileRefusesThisUser(name, st)) return -1;
  const std::string own = OwnFileName(name, &ownBlocked_);
  if (!ownBlocked_.empty() || HoldsNoDiagnostics(own)) return -1;
  const int mine = CreateNewFile(own);
  if (mine < 0) {
    e = errno;
    ownBlocked_ = own + FileOpenReason(own, true, e);
    return -1;
  }
  ownName_ = own;
  sharedWarning_ = SharedFileWarning("the diagnostics file " + name, st,
                                     "write it, nor replace it in its folder (" + std::string(std::strerror(e)) + ")",
                                     "its diagnostics to " + own, "diagnostics file", name);
  return mine;
}

std::string LogStream::OwnFileBlocked() {
  std::string text;
  if (!ownBlocked_.empty())
    text = ": another user's file stands under it, and the file of this user's own beside it cannot be made: " +
           ownBlocked_;
  ownBlocked_.clear();
  return text;
}

void LogStream::RefuseTakenFile() {
  *console_ << "FATAL: the diagnostics file " << fileName_
            << " is being written by another run: it is left to that run; name another diagnostics file with "
               "-diagfile:"
            << std::endl;
  throw 26;
}

void LogStream::Open(const std::string& file) {
  fileName_ = file.empty() ? kDefaultFile : file;
  if (rank_ != 0) return;
  int e = 0;
  const bool opened = OpenFile(fileName_, e);
  if (!ownName_.empty()) fileName_ = ownName_;
  if (!opened && e == EWOULDBLOCK) RefuseTakenFile();
  if (!file_.is_open()) {
    *console_ << "(mpi-rank " << std::setw(2) << rank_ << ") "
              << "\n ----- Warning -----\n error opening diagnostics output file " << fileName_
              << DiagnosticsOpenReason(fileName_, e) << OwnFileBlocked() << std::endl;
    *console_ << "(mpi-rank " << std::setw(2) << rank_ << ") "
              << "\nusing default name Orvel_Diag.xml in actual working directory\n -------------------\n\n"
              << std::endl;
    // The fall-back follows the rule of every output: it never replaces a file that may be
    // an input of the run (the run's inputs are not known yet).
    if (HoldsNoDiagnostics(kDefaultFile)) {
      *console_ << "FATAL: the diagnostics file " << fileName_ << " falls back to " << kDefaultFile
                << ", an existing file that holds no diagnostics (it may be an input of the run): it is left as it "
                   "is; name a diagnostics file that can be written with -diagfile:"
                << std::endl;
      throw 26;
    }
    fileName_ = kDefaultFile;
    file_.clear();
    const bool fallenBack = OpenFile(fileName_, e);
    if (!ownName_.empty()) fileName_ = ownName_;
    if (!fallenBack && e == EWOULDBLOCK) RefuseTakenFile();
    if (!file_.is_open()) {
      *console_ << "(mpi-rank " << std::setw(2) << rank_ << ") "
                << "Error opening diagnostics output file " << fileName_ << DiagnosticsOpenReason(fileName_, e)
                << OwnFileBlocked() << std::endl;
      throw 320;
    }
  }
  file_ << "<?xml version='1.0' encoding='UTF-8'?>\n";
  file_ << "<Diag version=\"1.2\" xmlns=\"http://www.wldelft.nl/fews/PI\" \n";
  file_ << "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" \n";
  file_ << "xsi:schemaLocation=\"http://www.wldelft.nl/fews/PI "
           "http://fews.wldelft.nl/schemas/version1.0/pi-schemas/pi_diag.xsd\">\n";
  WriteStartLine();
  if (!sharedWarning_.empty()) *this << "WARNING: " << sharedWarning_ << kTerminator;
}

std::ostream& LogStream::Console() {
  // A write to a console pipe that a signal interrupted fails the stream: the next message
  // is written all the same.
  if (!console_->good()) console_->clear();
  return *console_;
}

void LogStream::WriteStartLine() {
  if (!FileUsable()) return;
  file_ << "\t<line level=\"3\" description= \"Orvel start at " << LocalTimeStamp() << "\"/>\n";
  Flush();
}

void LogStream::CloseOpenElement() {
  if (FileUsable()) {
    file_ << "\"/>\n";
    Flush();
  }
}

void LogStream::Flush() {
  errno = 0;
  file_.flush();
  if (!file_.good()) NoteFileFailure(errno);
}

void LogStream::NoteFileFailure(int e) {
  if (writeError_ != 0) return;
  writeError_ = e != 0 ? e : EIO;
  // The file takes nothing more: the console is the one place left to say so.
  if (rank_ == 0)
    *console_ << "\nFATAL: cannot write the diagnostics file " << fileName_ << " (" << std::strerror(writeError_)
              << "): the messages from here on are missing from it" << std::endl;
}

void LogStream::NoteLostConsole() {
  consoleLossNoted_ = true;
  const int level = 2;
  if (!FileUsable() || level > maxLevel_) return;
  file_ << "\t<line level=\"" << level << "\" description= \""
        << EscapeForXml("the console (standard output) is lost: its reader has gone (Broken pipe); the run goes on "
                        "without it, its messages are in this file only")
        << "\"/>\n";
  Flush();
}

bool LogStream::Close() {
  try {
    if (FileUsable()) {
      if (!newEntry_ && !suppress_) file_ << "\"/>\n";
      file_ << "\t<line level=\"3\" description= \"Orvel finished at " << LocalTimeStamp() << "\"/>\n";
      file_ << "</Diag>\n";
      Flush();
    }
    if (file_.is_open()) {
      errno = 0;
      file_.close();
      if (file_.fail()) NoteFileFailure(errno);
    }
  } catch (...) {
  }
  return writeError_ == 0;
}

LogStream::~LogStream() { Close(); }

void LogStream::WriteEntry(const char* text) {
  const char* body = text ? text : "";
  bool begins = false;
  const Prefix* prefix = text ? FindPrefix(text) : nullptr;
  if (prefix) {
    if (prefix->level <= 4 && !newEntry_ && !suppress_) CloseOpenElement();
    level_ = prefix->level;
    body += std::strlen(prefix->text);
    begins = true;
  } else if (newEntry_) {
    level_ = 4;
    begins = true;
  }
  suppress_ = level_ > maxLevel_;
  if (begins) {
    if (FileUsable() && !suppress_) file_ << "\t<line level=\"" << level_ << "\" description= \"";
    newEntry_ = false;
  }
  std::string piece(body);
  bool ends = false;
  size_t term = piece.find(kTerminator);
  if (term != std::string::npos) {
    ends = true;
    piece.erase(piece.size() >= kTerminatorLength ? piece.size() - kTerminatorLength : 0);
  }
  entryText_ = EscapeForXml(piece);
  if (ends) entryText_ += "\"/>";
}

LogStream& LogStream::operator<<(const char* text) {
  if (!text) text = "(null)";
  std::string shown(text);
  bool ends = EndsMessage(text);
  if (ends) shown.erase(shown.size() >= kTerminatorLength ? shown.size() - kTerminatorLength : 0);
  if (const Prefix* p = FindPrefix(shown.c_str())) shown.erase(0, std::strlen(p->text));
  if (!shown.empty() && rank_ == 0) Console() << shown;
  WriteEntry(text);
  if (FileUsable() && !suppress_) file_ << entryText_;
  if (ends) {
    if (rank_ == 0) {
      Console() << '\n';
      console_->flush();
    }
    if (FileUsable() && !suppress_) {
      file_ << '\n';
      Flush();
    }
    newEntry_ = true;
    suppress_ = false;
    if (consoleDevice_ && consoleDevice_->Lost() && !consoleLossNoted_) NoteLostConsole();
  }
  return *this;
}

LogStream& LogStream::operator<<(const std::string& text) { return *this << text.c_str(); }

template <typename T>
LogStream& LogStream::Value(const T& v) {
  if (rank_ == 0) Console() << v;
  WriteEntry(nullptr);
  if (FileUsable() && !suppress_) file_ << v;
  return *this;
}

LogStream& LogStream::operator<<(int v) { return Value(v); }
LogStream& LogStream::operator<<(unsigned int v) { return Value(v); }
LogStream& LogStream::operator<<(long v) { return Value(v); }
LogStream& LogStream::operator<<(unsigned long v) { return Value(v); }
LogStream& LogStream::operator<<(long long v) { return Value(v); }
LogStream& LogStream::operator<<(unsigned long long v) { return Value(v); }
LogStream& LogStream::operator<<(float v) { return Value(static_cast<double>(v)); }
LogStream& LogStream::operator<<(double v) { return Value(v); }
LogStream& LogStream::operator<<(const void* p) { return Value(p); }
LogStream& LogStream::operator<<(void* p) { return Value(static_cast<const void*>(p)); }

LogStream& LogStream::operator<<(char c) {
  // A single character is text for the file: escape it like any other piece.
  if (rank_ == 0) Console() << c;
  WriteEntry(nullptr);
  if (FileUsable() && !suppress_) file_ << EscapeForXml(std::string(1, c));
  return *this;
}

LogStream& LogStream::operator<<(decltype(std::setw(0)) manip) {
  if (rank_ == 0) Console() << manip;
  WriteEntry(nullptr);
  if (FileUsable() && !suppress_) file_ << manip;
  return *this;
}

LogStream& LogStream::operator<<(decltype(std::setfill('x')) manip) {
  if (rank_ == 0) Console() << manip;
  WriteEntry(nullptr);
  if (FileUsable() && !suppress_) file_ << manip;
  return *this;
}
