#include "framework/storage_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <mutex>

#include "framework/ctrl_c.h"
#include "framework/date_text.h"
#include "framework/file_reason.h"
#include "framework/logstream.h"
#include "framework/modelobject.h"
#include "framework/new_file.h"
#include "framework/run_files.h"
#include "framework/text_helpers.h"

namespace {

const char* const kRecordHeader = "[end_state]";

// A file of the end state: its path, whether it waits under its staged name, and the size
// and checksum of the bytes the run wrote.
struct EndStateFile {
  std::string path;
  bool staged = false;
  unsigned long long bytes = 0, checksum = 0;
  bool failed = false;  // it could not be written
};

// The files of the end state noted in this process since the last BeginRun.
std::mutex& LedgerMutex() {
  static std::mutex m;
  return m;
}
std::vector<EndStateFile>& Ledger() {
  static std::vector<EndStateFile> files;
  return files;
}
std::atomic<bool> staging{false};
// The first value beyond its range of each part of the end state: part, the message's text.
std::vector<std::pair<std::string, std::string>>& ValuesBeyond() {
  static std::vector<std::pair<std::string, std::string>> values;
  return values;
}
// The state files looked for at a warm start and not found, with what the run does instead.
std::vector<std::pair<std::string, std::string>>& MissingStateFiles() {
  static std::vector<std::pair<std::string, std::string>> files;
  return files;
}
// The state files a reader knows it does not read at a warm start, with what that means.
std::vector<std::pair<std::string, std::string>>& UnreadStateFiles() {
  static std::vector<std::pair<std::string, std::string>> files;
  return files;
}

// The state files read whose state the run does not carry on whole, with why.
std::vector<std::pair<std::string, std::string>>& StateNotCarried() {
  static std::vector<std::pair<std::string, std::string>> files;
  return files;
}
// The state grids a module reads only by a read flag this run does not set: path, the module
// and the flag.
std::vector<std::pair<std::string, std::string>>& StateGridsNotRead() {
  static std::vector<std::pair<std::string, std::string>> files;
  return files;
}

// The files noted, ending the collection of the run's end state.
std::vector<EndStateFile> TakeLedger() {
  staging = false;
  std::lock_guard<std::mutex> lock(LedgerMutex());
  std::vector<EndStateFile> files;
  files.swap(Ledger());
  return files;
}

std::string Trimmed(const std::string& line) {
  const size_t a = line.find_first_not_of(" \t");
  if (a == std::string::npos) return std::string();
  return line.substr(a, line.find_last_not_of(" \t") - a + 1);
}

// Minutes from 1 January 1970 0 h to a date (its hour 24 is 0 h of the next day); false
// for a date outside the calendar (a record edited by hand).
bool MinutesOf(const ModelDate& d, int64_t& minutes) {
  if (d.year < -100000 || d.year > 100000 || d.month < 1 || d.month > 12 || d.day < 1 ||
      d.day > DaysInMonth(d.year, d.month) || d.hour < 0 || d.hour > 24 || d.minute < 0 || d.minute > 59)
    return false;
  minutes = static_cast<int64_t>(MinutesSinceEpoch(static_cast<int>(d.year), static_cast<int>(d.month),
                                                   static_cast<int>(d.day), static_cast<int>(d.hour),
                                                   static_cast<int>(d.minute)));
  return true;
}

namespace fs = std::filesystem;

fs::path Absolute(const std::string& path) {
  std::error_code ec;
  const fs::path a = fs::absolute(path, ec);
  return (ec ? fs::path(path) : a).lexically_normal();
}

// The name of a file of the end state in the record of a storage file: its path relative
// to the storage file's folder, or its absolute path when it has none.
std::string RecordName(const std::string& file, const std::string& storagePath) {
  const fs::path relative = Absolute(file).lexically_relative(Absolute(storagePath).parent_path());
  return relative.empty() ? Absolute(file).string() : relative.string();
}

// The file a name of the record stands for, beside the storage file that holds it.
fs::path RecordedFile(const std::string& name, const std::string& storagePath) {
  return (Absolute(storagePath).parent_path() / name).lexically_normal();
}

// The record of the files of the set, for a state at the end of the step of date.
std::string RecordText(const ModelDate& date, const std::vector<EndStateFile>& set, const std::string& storagePath) {
  std::vector<std::pair<std::string, const EndStateFile*>> files;
  for (const EndStateFile& f : set) files.emplace_back(RecordName(f.path, storagePath), &f);
  std::sort(files.begin(), files.end());
  std::string lines;
  for (const auto& f : files)
    lines += FormatText("%llu %016llx ", f.second->bytes, f.second->checksum) + f.first + "\n";
  return std::string(kRecordHeader) + "\n" + DateText(date, kListDate.Until(DateField::kMinute)) +
         " (date of the state: year month day hour minute)\n" +
         FormatText("%d (files written at the end of the run: bytes, checksum, name)\n",
                    static_cast<int>(files.size())) +
         lines + "\n";
}

// Writes text as a new file under path; 0, or the errno of the failure (the file is then removed).
int WriteNewFile(const std::string& path, const std::string& text) {
  bool opened = false;
  return ::WriteNewFile(path, text, opened);
}

// A name and, when it is a symbolic link, the file it leads to.
std::vector<std::string> NameAndFile(const std::string& path) {
  const std::string file = FileNamedBy(path);
  return file == path ? std::vector<std::string>{path} : std::vector<std::string>{path, file};
}

// The record is checked against the state the run read: a file of it that is no longer
// the one read (no run can write it meanwhile) makes the state read no one state.
void RefuseChangedSinceRead(const std::string& path, LogStream* log, std::string what = std::string()) {
  if (what.empty()) what = RunFiles::Current().ChangedSinceRead(path);
  if (what.empty()) return;
  if (log)
    *log << "FATAL: the state file " << path << " " << what << " while the run was built: a program other "
         << "than a run wrote it, and the state read may be mixed from two states. Start the run again"
         << "[end-entry]";
  throw 26;
}

}  // namespace

std::string EndStateStagedName(const std::string& path) { return OutputName(path).Temporary(); }

bool EndStateIsStaged() { return staging; }

namespace {

constexpr const char* kMarkerEnding = ".incomplete";

}  // namespace

// Cut to fit where the storage file's name is long: the run that writes the marker and the
// later runs that look for it make its name here alike.
std::string IncompleteStateMarker(const std::string& storagePath) { return FittedName(storagePath, kMarkerEnding); }

void NoteEndStateFile(const std::string& path, bool staged, unsigned long long bytes, unsigned long long checksum) {
  if (path.empty() || RunFiles::Current().Building()) return;
  std::lock_guard<std::mutex> lock(LedgerMutex());
  std::vector<EndStateFile>& files = Ledger();
  const EndStateFile file{path, staged, bytes, checksum};
  // A file written twice: the later write stands.
  for (EndStateFile& f : files)
    if (f.path == path) {
      f = file;
      return;
    }
  files.push_back(file);
}

void NoteStateFileMissing(const std::string& path, const std::string& without) {
  std::lock_guard<std::mutex> lock(LedgerMutex());
  MissingStateFiles().emplace_back(path, without);
}

void NoteStateFileNotRead(const std::string& path, const std::string& why) {
  std::lock_guard<std::mutex> lock(LedgerMutex());
  UnreadStateFiles().emplace_back(path, why);
}

void NoteStateNotCarried(const std::string& path, const std::string& why) {
  std::lock_guard<std::mutex> lock(LedgerMutex());
  StateNotCarried().emplace_back(path, why);
}

void NoteStateGridNotRead(const std::string& path, const std::string& reader) {
  std::lock_guard<std::mutex> lock(LedgerMutex());
  StateGridsNotRead().emplace_back(path, reader);
}

void NoteEndStateFailure(const std::string& path) {
  if (path.empty() || RunFiles::Current().Building()) return;
  std::lock_guard<std::mutex> lock(LedgerMutex());
  std::vector<EndStateFile>& files = Ledger();
  for (EndStateFile& f : files)
    if (f.path == path) {
      f.failed = true;
      return;
    }
  files.push_back(EndStateFile{path, false, 0, 0, true});
}

bool DescriptorFingerprint(int fd, unsigned long long& bytes, unsigned long long& checksum) {
  // A file open for writing only is read through a descriptor of its own on the same file,
  // whatever its name is by now.
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0) return false;
  const int in = (flags & O_ACCMODE) == O_WRONLY
                     ? ::open(("/proc/self/fd/" + std::to_string(fd)).c_str(), O_RDONLY | O_CLOEXEC)
                     : fd;
  if (in < 0) return false;
  unsigned long long hash = kFnv1aStart, size = 0;
  std::vector<unsigned char> buffer(1 << 20);
  bool ok = true;
  for (;;) {
    const ssize_t got = ::pread(in, buffer.data(), buffer.size(), static_cast<off_t>(size));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      ok = got == 0;
      break;
    }
    hash = Fnv1a(buffer.data(), static_cast<size_t>(got), hash);
    size += static_cast<unsigned long long>(got);
  }
  if (in != fd) ::close(in);
  bytes = size;
  checksum = hash;
  return ok;
}

bool FileFingerprint(const std::string& path, unsigned long long& bytes, unsigned long long& checksum) {
  std::FILE* in = RegularOrMissing(path) ? std::fopen(path.c_str(), "rb") : nullptr;
  if (!in) return false;
  const bool ok = DescriptorFingerprint(fileno(in), bytes, checksum);
  std::fclose(in);
  return ok;
}

namespace {

// Where the line after the first line that is the record's header alone begins (blanks and a
// CR around it allowed); npos when no line is. Every reader of a part asks, so the text is
// searched for the header, not read line by line.
size_t AfterRecordHeader(const std::string& text) {
  for (size_t at = text.find(kRecordHeader); at != std::string::npos; at = text.find(kRecordHeader, at + 1)) {
    const size_t before = at == 0 ? std::string::npos : text.rfind('\n', at - 1);
    const size_t start = before == std::string::npos ? 0 : before + 1;
    const size_t lineEnd = text.find('\n', at);
    size_t stop = lineEnd == std::string::npos ? text.size() : lineEnd;
    if (stop > start && text[stop - 1] == '\r') --stop;
    if (Trimmed(text.substr(start, stop - start)) == kRecordHeader)
      return lineEnd == std::string::npos ? text.size() : lineEnd + 1;
  }
  return std::string::npos;
}

}  // namespace

int ReadEndStateRecord(const std::string& text, EndStateRecord& record, std::string* why, size_t* end) {
  const size_t after = AfterRecordHeader(text);
  if (after == std::string::npos) return 0;
  TextCursor f(text);
  f.RequireWholeWords();
  f.Seek(after);
  auto damaged = [&](const std::string& what) {
    if (why) *why = "line " + std::to_string(f.LineNumber()) + ": " + what;
    return -1;
  };
  long v[5];
  for (long& x : v)
    if (!f.ReadLong(x)) return damaged("no date of the state");
  record.date = ModelDate{v[4], v[3], v[2], v[1], v[0]};
  int64_t minutes = 0;
  if (!MinutesOf(record.date, minutes))
    return damaged(DateText(record.date, kListDate.Until(DateField::kMinute)) +
                   " is no date of the calendar (year month day hour minute)");
  f.RestOfLine();
  long count = 0;
  if (!f.ReadLong(count) || count < 0 || count > 1000000) return damaged("no count of files");
  f.RestOfLine();
  record.files.clear();
  for (long k = 0; k < count; ++k) {
    EndStateRecord::File file;
    long bytes = 0;
    std::string hex;
    char* end = nullptr;
    if (!f.ReadLong(bytes) || bytes < 0 || !f.ReadWord(hex))
      return damaged(FormatText("no size and checksum of file %ld of the %ld it counts", k + 1, count));
    file.bytes = static_cast<unsigned long long>(bytes);
    file.checksum = std::strtoull(hex.c_str(), &end, 16);
    if (hex.empty() || *end != '\0') return damaged("the checksum " + hex + " is no hexadecimal number");
    file.name = Trimmed(f.RestOfLine());
    if (file.name.empty()) return damaged("a file without its name");
    record.files.push_back(file);
  }
  if (end) *end = f.Pos();
  return 1;
}

namespace {

// The last part of a storage file's text (its bracketed header; empty when it holds none),
// the line it begins at and the number of lines of the text.
std::string LastPart(const std::string& text, int& start, int& lines) {
  TextCursor f(text);
  std::string line, last;
  lines = 0;
  start = 0;
  while (f.ReadLine(line)) {
    ++lines;
    const size_t a = line.find_first_not_of(" \t");
    const size_t b = line.find_last_not_of(" \t");
    // A part begins with a line that is its bracketed header alone (the record of the end
    // state that follows the parts is none of the modules').
    if (a != std::string::npos && line[a] == '[' && line[b] == ']' && line.compare(a, b - a + 1, kRecordHeader) != 0) {
      last = line.substr(a, b - a + 1);
      start = lines;
    }
  }
  return last;
}

}  // namespace

std::string StorageFileEnd(const std::string& text, const std::string& missing) {
  int start = 0, number = 0;
  const std::string last = LastPart(text, start, number);
  if (last.empty())
    return "; the file holds no part of a storage file (no line such as [routing_model_v2], [soil_model] or "
           "[snow_model_v2])";
  return "; the file ends in its part " + last + ", which begins at line " + std::to_string(start) + " of " +
         std::to_string(number) + ": it was cut short in that part, or written by a run without " + missing;
}

namespace {

// The line of the text at byte at (1-based).
long LineAt(const std::string& text, size_t at) {
  return 1 + static_cast<long>(std::count(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(at), '\n'));
}

// Where a text ends: "line N (byte B)".
std::string EndOf(const std::string& text) {
  const long lines = LineAt(text, text.size()) - (!text.empty() && text.back() == '\n' ? 1 : 0);
  return FormatText("line %ld (byte %zu)", lines, text.size());
}

// A storage file that this program wrote whole holds each part (and its record) once: a part
// given twice is refused (refuse does not return), naming both lines, for its readers would
// take the first copy without a word.
template <typename Refuse>
void RefuseRepeatedParts(const std::string& text, const Refuse& refuse) {
  std::map<std::string, long> parts;  // header, its line
  TextCursor f(text);
  std::string line;
  for (long number = 1; f.ReadLine(line); ++number) {
    const std::string header = Trimmed(line);
    if (header.size() < 2 || header.front() != '[' || header.back() != ']') continue;
    const auto first = parts.emplace(header, number).first;
    if (first->second != number)
      refuse("holds its part " + header + " twice, at line " + std::to_string(first->second) + " and at line " +
             std::to_string(number) + ": the run that wrote the file, which ends with its record " + kRecordHeader +
             ", wrote each part once, so the file was joined with another or damaged after the run, and its "
             "readers would take the first copy; start from a whole state");
  }
}

}  // namespace

void RequireWholeStorageFile(const std::string& text, const std::string& path, LogStream* log,
                             const std::vector<std::string>& ownLines) {
  auto refuse = [&](const std::string& what) {
    if (log) *log << "FATAL: the storage file " << path << " " << what << "[end-entry]";
    throw 71;
  };
  if (text.find_first_not_of(" \t\r\n") == std::string::npos)
    refuse(FormatText("is empty (%zu bytes%s): it holds no part of a state; a storage file holds the parts "
                      "[routing_model_v2], [soil_model] and [snow_model_v2] of the run that wrote it",
                      text.size(), text.empty() ? "" : ", blanks and line ends alone"));
  // Text of one byte a character, its lines ended by line feeds, as its readers take it.
  const std::string layout = TextLayoutFault(text);
  if (!layout.empty()) refuse(layout);
  // Text: tabs, line ends and printable characters (UTF-8 included), as any editor saves it.
  for (size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if ((c < 0x20 && c != '\t' && c != '\n' && c != '\r' && c != '\f' && c != '\v') || c == 0x7f)
      refuse(FormatText("holds bytes that are no text (the byte 0x%02x at line %ld, byte %zu of %zu): it is no storage "
                        "file, or a damaged one",
                        c, LineAt(text, i), i + 1, text.size()));
  }
  // A line of this program's own layout.
  std::string own;
  long ownLine = 0;
  TextCursor f(text);
  std::string line;
  while (own.empty() && f.ReadLine(line)) {
    ++ownLine;
    if (Trimmed(line) == kRecordHeader) own = kRecordHeader;
    for (const std::string& mark : ownLines)
      if (own.empty() && line.find(mark) != std::string::npos) own = Trimmed(line).substr(0, 80);
  }
  if (own.empty()) return;
  const std::string written = "; this program ends every storage file it writes with the record " +
                              std::string(kRecordHeader) + " of its state files, and this one holds its layout (\"" +
                              own + "\" at line " + std::to_string(ownLine) + ")";
  EndStateRecord record;
  std::string why;
  size_t end = 0;
  const int found = ReadEndStateRecord(text, record, &why, &end);
  if (found == 0) {
    int start = 0, lines = 0;
    const std::string part = LastPart(text, start, lines);
    refuse("was cut short: it ends at " + EndOf(text) + (part.empty() ? std::string() : " in its part " + part) +
           " without its record " + kRecordHeader + written + "; start from a whole state");
  }
  if (found < 0)
    refuse("was cut short or damaged in its record " + std::string(kRecordHeader) + " (" + why + "; the file ends at " +
           EndOf(text) + ")" + written + "; start from a whole state");
  RefuseRepeatedParts(text, refuse);
  // A last line without its line feed: whole when it names a file of the state (or the
  // record lists none), cut short inside its name otherwise.
  if (end == 0 || text[end - 1] != '\n') {
    std::error_code ec;
    if (record.files.empty() || fs::is_regular_file(RecordedFile(record.files.back().name, path), ec)) return;
    refuse("was cut short in the last line of its record " + std::string(kRecordHeader) + ": it ends at " +
           EndOf(text) + " inside the name \"" + (record.files.empty() ? std::string() : record.files.back().name) +
           "\", before its line feed; start from a whole state");
  }
}

namespace {

std::mutex& MarksMutex() {
  static std::mutex m;
  return m;
}
std::vector<std::string>& Marks() {
  static std::vector<std::string> marks;
  return marks;
}

}  // namespace

bool RegisterStorageFileMarks(std::initializer_list<const char*> marks) {
  std::lock_guard<std::mutex> lock(MarksMutex());
  for (const char* m : marks)
    if (std::find(Marks().begin(), Marks().end(), m) == Marks().end()) Marks().emplace_back(m);
  return true;
}

std::vector<std::string> StorageFileMarks() {
  std::lock_guard<std::mutex> lock(MarksMutex());
  return Marks();
}

std::string UnreadValue(TextCursor& f, long firstLine) {
  f.SkipBlanks();
  long line = firstLine + f.LineNumber() - 1;
  std::string word;
  if (!f.ReadWord(word)) {
    if (!f.Text().empty() && f.Text().back() == '\n') --line;  // the last line, not the none after it
    return "the file ends at line " + std::to_string(line) + " where this value belongs (it was cut short)";
  }
  return "line " + std::to_string(line) + " holds \"" + word.substr(0, 40) +
         "\" where this value belongs, which is not a number of the state";
}

void RequireStoredValue(double value, const StateRange& range, LogStream* log, const std::string& part,
                        const std::string& path, long line, const std::string& what) {
  const int kind = range.Breaks(value);
  if (kind < 0) return;
  if (log)
    *log << "FATAL: error in storage file content reading " << what << " in the part " << part << " of " << path
         << ", line " << line << ": " << value << " is "
         << (kind == 0 ? std::string("not a number of the state") : range.Broken(kind)) << "[end-entry]";
  throw 71;
}

bool StoredValueBeyond(double value, const StateRange& range) { return range.Breaks(value) > 0; }

void NoteStoredValueBeyond(const std::string& part, const std::string& what, double value, const StateRange& range) {
  const int kind = range.Breaks(value);
  // A value that is no number is found in the text (RefuseNonFiniteValues).
  if (kind <= 0 || !staging) return;
  std::lock_guard<std::mutex> lock(LedgerMutex());
  for (const auto& v : ValuesBeyond())
    if (v.first == part) return;
  ValuesBeyond().emplace_back(part, "would hold " + ExactNumberText(value) + " as " + what + " in its part " + part +
                                        ": " + range.Broken(kind));
}

void StorageFile::BeginRun() {
  reads_.clear();
  texts_.clear();
  noted_.clear();
  std::lock_guard<std::mutex> lock(LedgerMutex());
  Ledger().clear();
  MissingStateFiles().clear();
  UnreadStateFiles().clear();
  StateGridsNotRead().clear();
  StateNotCarried().clear();
  ValuesBeyond().clear();
  staging = true;
}

void StorageFile::DeclareRead(StorageFile* storage, const std::string& path, LogStream* log) {
  RunFiles::Current().Read("the storage file of [soil_model]", path, RunFiles::When::StartOnly, storage);
  RunFiles::Current().Opened(path, -1);
  if (storage && std::find(storage->reads_.begin(), storage->reads_.end(), path) == storage->reads_.end())
    storage->reads_.push_back(path);
  // Beside the name, where a run writing in place left it, and beside the file a link leads to.
  for (const std::string& file : NameAndFile(path)) ResolveIncompleteState(IncompleteStateMarker(file), file, log);
}

std::shared_ptr<const std::string> StorageFile::ReadText(StorageFile* storage, const std::string& path,
                                                         LogStream* log) {
  DeclareRead(storage, path, log);
  if (storage)
    for (const auto& t : storage->texts_)
      if (t.first == path) return t.second;
  auto text = std::make_shared<std::string>();
  if (!ReadWholeFile(path, *text)) return nullptr;
  // An editor's byte-order mark is no part of the text.
  text->erase(0, ByteOrderMarkLength(*text));
  RequireWholeStorageFile(*text, path, log, StorageFileMarks());
  std::shared_ptr<const std::string> whole = std::move(text);
  if (storage) storage->texts_.emplace_back(path, whole);
  return whole;
}

void StorageFile::NoteStoragePath(StorageFile* storage, const std::string& path) {
  if (storage && std::find(storage->noted_.begin(), storage->noted_.end(), path) == storage->noted_.end())
    storage->noted_.push_back(path);
}

namespace {

// The advice of a refused state: how a run starts without it.
const char* const kColdStartAdvice =
    "Start from a state that one run wrote whole, or cold: with every read flag that reads state set to 0 (readgrids "
    "of [snow_model] and [interception_model], the state grids and storage file flag of [soil_model], the read flag "
    "of each grid of [variable_grids])";

bool Exists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

std::string Listed(const std::vector<std::string>& files) {
  std::string list;
  for (const std::string& f : files) list += (list.empty() ? "" : ", ") + f;
  return list;
}

// The files a marker names (every line after its first), in the order they were moved; a
// relative name is one in the marker's folder, wherever the reader runs.
std::vector<std::string> MarkedFiles(const std::string& marker) {
  std::vector<std::string> files;
  TextCursor text;
  // A marker is a short list; a large file of that ending (a download in progress) is none.
  struct stat st;
  if (::stat(marker.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > (1 << 20) || !text.LoadFile(marker))
    return files;
  std::string line;
  const fs::path folder = fs::path(marker).parent_path();
  for (bool first = true; text.ReadLine(line); first = false)
    if (!first && !Trimmed(line).empty()) files.push_back((folder / Trimmed(line)).lexically_normal().string());
  return files;
}

}  // namespace

void ResolveIncompleteState(const std::string& marker, const std::string& storagePath, LogStream* log) {
  if (!Exists(marker)) return;
  const std::vector<std::string> files = MarkedFiles(marker);
  // A file moved into place left no file under its staged name; the storage file is moved
  // last, so when it was moved its record is that of the files moved before it.
  std::vector<std::string> moved, waiting, differing;
  for (const std::string& f : files) (Exists(EndStateStagedName(f)) ? waiting : moved).push_back(f);
  bool storageMoved = false;
  if (!files.empty() && waiting.empty()) {
    TextCursor storage;
    EndStateRecord record;
    const bool recorded = storage.LoadFile(storagePath) && ReadEndStateRecord(storage.Text(), record, nullptr) == 1;
    for (const std::string& f : files) {
      if (Absolute(f) == Absolute(storagePath)) {
        storageMoved = true;
        continue;
      }
      const EndStateRecord::File* entry = nullptr;
      for (const EndStateRecord::File& r : record.files)
        if (RecordedFile(r.name, storagePath) == Absolute(f)) entry = &r;
      unsigned long long bytes = 0, checksum = 0;
      if (!recorded || !entry || !FileFingerprint(f, bytes, checksum) || bytes != entry->bytes ||
          checksum != entry->checksum)
        differing.push_back(f);
    }
  }
  if (storageMoved && differing.empty()) {
    const bool removed = std::remove(marker.c_str()) == 0 || errno == ENOENT;
    const int e = errno;
    if (log)
      *log << "WARNING: " << marker << " stands beside the storage file " << storagePath
           << ": the run that wrote the state was stopped before it removed it, after every file it names was moved "
           << "into place; each agrees with the record of the storage file, so the state is whole and is read"
           << (removed ? "; the marker is removed"
                       : "; the marker cannot be removed" + FileOpenReason(marker, true, e) + ": remove it by hand")
           << "[end-entry]";
    return;
  }
  if (log) {
    *log << "FATAL: the state of the storage file " << storagePath << " is incomplete: the run that wrote it was "
         << "stopped while it moved its files into place, and " << marker << " names them; some of them are that "
         << "run's, the others the run's before";
    const std::string what = NotARegularFile(marker);
    if (!what.empty())
      *log << " (" << marker << " is " << what << ", not the list of a run)";
    else if (files.empty())
      *log << " (" << marker << " names no file)";
    else {
      *log << ": moved into place, that run's: " << (moved.empty() ? std::string("none") : Listed(moved))
           << "; still under their temporary names, the run's before: "
           << (waiting.empty() ? std::string("none") : Listed(waiting));
      if (!differing.empty())
        *log << "; differing from the record of the storage file: " << Listed(differing);
    }
    *log << ". " << kColdStartAdvice << "[end-entry]";
  }
  throw 71;
}

void StorageFile::CheckIncompleteStates(const std::vector<std::string>& filesRead, LogStream* log) const {
  std::vector<fs::path> read;
  for (const std::string& f : filesRead) read.push_back(Absolute(f));
  // The markers beside the storage files this run reads or would read, and in the folder of
  // every file read those that name a file read.
  std::vector<std::pair<std::string, std::string>> markers;  // marker, its storage file
  // (those beside the storage files read were resolved as each was declared).
  for (const std::string& p : noted_)
    for (const std::string& file : NameAndFile(p)) markers.emplace_back(IncompleteStateMarker(file), file);
  // A file read through a symbolic link is read where it lies: its marker is looked for there.
  for (const std::string& f : filesRead)
    if (const std::string file = FileNamedBy(f); file != f) read.push_back(Absolute(file));
  std::vector<fs::path> folders;
  for (const fs::path& f : read)
    if (std::find(folders.begin(), folders.end(), f.parent_path()) == folders.end()) folders.push_back(f.parent_path());
  const std::string suffix = kMarkerEnding;
  for (const fs::path& folder : folders) {
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
      const std::string name = it->path().string();
      if (name.size() <= suffix.size() || name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
        continue;
      bool names = false;
      // Its storage file is the file it names whose marker it is (the marker of a long name
      // is cut to fit); failing that, its name without the ending.
      std::string storage = name.substr(0, name.size() - suffix.size());
      for (const std::string& f : MarkedFiles(name)) {
        names = names || std::find(read.begin(), read.end(), Absolute(f)) != read.end();
        if (Absolute(IncompleteStateMarker(f)) == Absolute(name)) storage = f;
      }
      if (names) markers.emplace_back(name, storage);
    }
  }
  for (const auto& m : markers) ResolveIncompleteState(m.first, m.second, log);
}

namespace {

// What the files a warm start reads show of the record of one storage file.
struct RecordCheck {
  std::string storagePath;
  EndStateRecord record;
  std::vector<fs::path> checked;     // the recorded files read, compared with the record
  int edited = 0;                    // those of them that differ from it
  bool mostDiffer = false;           // most of them but not all: a copy taken while a run moved its state
  std::vector<std::string> instead;  // files read under a recorded name, elsewhere than the record has them
  std::vector<std::string> copies;   // such files that hold the recorded bytes: the state recorded
  std::vector<std::string> lost;     // recorded files a reader looked for and did not find
  std::vector<std::string> unread;   // recorded files of the state a reader knows it does not read
};

using StorageTexts = std::vector<std::pair<std::string, std::shared_ptr<const std::string>>>;

// The text of a storage file as its modules read it, or loaded now (a file declared alone);
// null when it cannot be read (its reader has said so).
std::shared_ptr<const std::string> TextRead(const std::string& storagePath, const StorageTexts& texts) {
  for (const auto& t : texts)
    if (t.first == storagePath) return t.second;
  auto loaded = std::make_shared<std::string>();
  if (!ReadWholeFile(storagePath, *loaded)) return nullptr;
  return loaded;
}

// Reads the record of a storage file's text: false for a file without one (an INFO says so);
// a damaged record is a FATAL (code 71).
bool ReadRecord(const std::string& text, RecordCheck& check, LogStream* log) {
  std::string why;
  const int found = ReadEndStateRecord(text, check.record, &why);
  if (found == 0 && log)
    *log << "INFO: the storage file " << check.storagePath << " holds no record " << kRecordHeader << " of the state "
         << "grids written with it: the state grids this run reads are not checked against it, and are read as "
         << "they are" << "[end-entry]";
  if (found >= 0) return found == 1;
  if (log)
    *log << "FATAL: the record " << kRecordHeader << " of the storage file " << check.storagePath << " is damaged ("
         << why << ")" << "[end-entry]";
  throw 71;
}

// Compares each file read that the record lists with the record (one no longer the file the
// run read is refused): one INFO names each that differs, and it is read as it is.
void CompareFilesRead(RecordCheck& check, const std::vector<std::string>& filesRead,
                      const std::vector<std::string>& storageFiles, LogStream* log) {
  std::vector<std::pair<std::string, std::string>> differs;  // each file read that differs, what it holds
  for (const std::string& path : filesRead) {
    const fs::path file = Absolute(path);
    if (std::find(storageFiles.begin(), storageFiles.end(), path) != storageFiles.end() ||
        std::find(check.checked.begin(), check.checked.end(), file) != check.checked.end())
      continue;
    const EndStateRecord::File* recorded = nullptr;
    for (const EndStateRecord::File& f : check.record.files)
      if (RecordedFile(f.name, check.storagePath) == file) recorded = &f;
    if (!recorded) continue;
    // The fingerprint of the very file the run read; a file it cannot read: its reader has said so.
    std::string changed;
    const int fd = RunFiles::Current().OpenAsRead(path, changed);
    RefuseChangedSinceRead(path, log, changed);
    unsigned long long bytes = 0, checksum = 0;
    const bool fingerprinted = fd >= 0 && DescriptorFingerprint(fd, bytes, checksum);
    if (fd >= 0) ::close(fd);
    if (!fingerprinted) continue;
    check.checked.push_back(file);
    if (recorded->bytes == bytes && recorded->checksum == checksum) continue;
    ++check.edited;
    differs.emplace_back(path, FormatText("(it holds %llu bytes with checksum %016llx, the record of ", bytes,
                                          checksum) +
                                   check.storagePath +
                                   FormatText(" %llu bytes with checksum %016llx); it is read as it is",
                                              recorded->bytes, recorded->checksum));
  }
  // A file edited by hand or by a tool (other line ends or number formats, a storage set to
  // 0: one file, or every file converted) is read as it is. Most of them differing while
  // others agree is what a copy of a state taken while a run moved it into place looks
  // like: the files moved already are that run's, the others and the storage file (moved
  // last) the run's before.
  const int read = static_cast<int>(check.checked.size());
  check.mostDiffer = check.edited >= 2 && 2 * check.edited > read && check.edited < read;
  for (const auto& d : differs)
    if (log)
      *log << "INFO: the state grid " << d.first << " differs from the state the run wrote"
           << (check.mostDiffer ? " " : ": edited after the run ") << d.second << "[end-entry]";
}

// Whether a file's last components are a recorded name (a file of that name elsewhere).
bool EndsInName(const fs::path& file, const std::string& recordedName) {
  const fs::path name = fs::path(recordedName).lexically_normal();
  auto a = file.end(), b = name.end();
  while (a != file.begin() && b != name.begin() && *std::prev(a) == *std::prev(b)) {
    --a;
    --b;
  }
  return b == name.begin();
}

// Whether the file a reader of this run looks for (path) is the recorded file f: the file the
// record has, or with byName one of its recorded name elsewhere (a state grid named beside the
// control file whose state the record keeps beside the storage file).
bool IsRecorded(const std::string& path, const EndStateRecord::File& f, const std::string& storagePath, bool byName) {
  const fs::path file = Absolute(path);
  return RecordedFile(f.name, storagePath) == file || (byName && EndsInName(file, f.name));
}

// A recorded file the run does not read where the record has it, but under the same name
// elsewhere (the grids beside the control file, the storage file from the output folder):
// the run then goes on from the cell state of another run or date, unless the file read
// holds the recorded bytes (a copy of it), which is the state recorded.
void FindReadElsewhere(RecordCheck& check, const std::vector<std::string>& filesRead,
                       const std::vector<std::string>& storageFiles) {
  for (const EndStateRecord::File& f : check.record.files) {
    const fs::path recordedPath = RecordedFile(f.name, check.storagePath);
    if (std::find(check.checked.begin(), check.checked.end(), recordedPath) != check.checked.end()) continue;
    for (const std::string& path : filesRead) {
      const fs::path file = Absolute(path);
      if (file == recordedPath || std::find(storageFiles.begin(), storageFiles.end(), path) != storageFiles.end() ||
          !EndsInName(file, f.name) || std::find(check.instead.begin(), check.instead.end(), path) != check.instead.end())
        continue;
      // A copy of the recorded file, byte for byte (a chain whose state was copied on from
      // folder to folder), is the state recorded.
      unsigned long long bytes = 0, checksum = 0;
      if (FileFingerprint(path, bytes, checksum) && bytes == f.bytes && checksum == f.checksum) {
        check.checked.push_back(recordedPath);
        check.copies.push_back(path);
        break;
      }
      check.instead.push_back(path);
    }
  }
}

// Each noted file (its path, what it means) that the record lists, once: added to named (with
// byName the path where the record has it) and said in a WARNING that names it and the record,
// then middle, the note and tail. With byName a file of the recorded name elsewhere counts.
void WarnOfNotedFiles(const std::vector<std::pair<std::string, std::string>>& noted, const RecordCheck& check,
                      std::vector<std::string>& named, const char* middle, const char* tail, LogStream* log,
                      bool byName = false) {
  for (const auto& m : noted)
    for (const EndStateRecord::File& f : check.record.files) {
      const std::string name = byName ? RecordedFile(f.name, check.storagePath).string() : m.first;
      if (!IsRecorded(m.first, f, check.storagePath, byName) || std::find(named.begin(), named.end(), name) != named.end())
        continue;
      named.push_back(name);
      if (log)
        *log << "WARNING: the state file " << m.first << " that the record of " << check.storagePath << middle
             << m.second << tail << "[end-entry]";
    }
}

// Recorded files a reader looked for and did not find: the run goes on without them, and a
// WARNING names each.
void WarnOfLostFiles(RecordCheck& check, LogStream* log) {
  WarnOfNotedFiles(MissingStateFiles(), check, check.lost, " lists is not found: ",
                   ", and the run does not go on as the run that wrote the state would; copy it with the storage "
                   "file from that run",
                   log);
}

// Recorded files of the state that a reader of this run knows it does not read (a part of
// the state this run's control file does not declare): one WARNING names each, with what
// the run does without it and how to read it.
void WarnOfUnreadFiles(RecordCheck& check, LogStream* log) {
  WarnOfNotedFiles(UnreadStateFiles(), check, check.unread, " lists is not read by this run: ", "", log, true);
  std::vector<std::string> named;
  WarnOfNotedFiles(StateNotCarried(), check, named, " lists holds state that this run does not carry on: ", "", log);
}

// Recorded state grids that a module of this run reads only by a read flag the run does not
// set, and the storage file itself when storageRead is false: one WARNING names them by
// module and flag. They start as in a cold start.
void WarnOfStateNotReadByFlags(RecordCheck& check, bool storageRead, LogStream* log) {
  std::vector<std::pair<std::string, std::vector<std::string>>> byReader;  // reader, the recorded names
  for (const EndStateRecord::File& f : check.record.files)
    for (const auto& m : StateGridsNotRead()) {
      if (!IsRecorded(m.first, f, check.storagePath, true)) continue;
      const std::string recorded = RecordedFile(f.name, check.storagePath).string();
      if (std::find(check.unread.begin(), check.unread.end(), recorded) != check.unread.end()) break;
      check.unread.push_back(recorded);
      auto it = std::find_if(byReader.begin(), byReader.end(), [&m](const auto& r) { return r.first == m.second; });
      if (it == byReader.end()) it = byReader.insert(byReader.end(), {m.second, {}});
      it->second.push_back(f.name);
      break;
    }
  if ((byReader.empty() && storageRead) || !log) return;
  std::string parts;
  for (const auto& r : byReader) parts += (parts.empty() ? "" : "; ") + Listed(r.second) + " (" + r.first + ")";
  if (!storageRead)
    parts += std::string(parts.empty() ? "" : "; ") + "the storage file itself, the state of the soil model, routing "
             "and the snow model (the soil model: the read flag 1 or 2 of [soil_model], \"read the state grids and "
             "the storage file\")";
  *log << "WARNING: the storage file " << check.storagePath << " holds the state at the end of the step of "
       << DateText(check.record.date, kMessageDate) << ", which this run does not read whole: not read are "
       << parts << ". That state starts as in a cold start, so the run does not go on as the run that wrote it "
       << "would. Set those read flags to 1 to go on from it; a run meant to start cold needs no storage file under "
       << "the name its control file gives"
       << "[end-entry]";
}

// State grids read that the record does not list (another run's, or none's): one WARNING.
void WarnOfUnlistedGrids(const RecordCheck& check, const std::vector<std::string>& storageFiles, LogStream* log) {
  std::vector<std::string> unlisted;
  for (const std::string& path : RunFiles::Current().StateReadPaths()) {
    bool listed = std::find(check.instead.begin(), check.instead.end(), path) != check.instead.end() ||
                  std::find(check.copies.begin(), check.copies.end(), path) != check.copies.end() ||
                  std::find(storageFiles.begin(), storageFiles.end(), path) != storageFiles.end();
    for (const EndStateRecord::File& f : check.record.files)
      listed = listed || RecordedFile(f.name, check.storagePath) == Absolute(path);
    if (!listed && std::find(unlisted.begin(), unlisted.end(), path) == unlisted.end()) unlisted.push_back(path);
  }
  if (!unlisted.empty() && log)
    *log << "WARNING: the warm start from " << check.storagePath << " reads state grids that its record does not "
         << "list: " << Listed(unlisted) << "; they are not the state written with it (left there by another run, "
         << "or written by none) and are read as they are; name the state grids written with the storage file in "
         << "the control file, or set their read flags to 0" << "[end-entry]";
}

// The recorded files that no reader of the run looked for, as the record names them: grids
// the run before wrote at its end by their write codes that are no state this run starts
// from (the example's peak flow), or state grids whose read flags are 0.
std::vector<std::string> NotLookedFor(const RecordCheck& check) {
  std::vector<std::string> names;
  for (const EndStateRecord::File& f : check.record.files) {
    const fs::path file = RecordedFile(f.name, check.storagePath);
    bool sought = std::find(check.checked.begin(), check.checked.end(), file) != check.checked.end();
    for (const std::string& lost : check.lost) sought = sought || Absolute(lost) == file;
    for (const std::string& unread : check.unread) sought = sought || Absolute(unread) == file;
    if (!sought) names.push_back(f.name);
  }
  return names;
}

// What the message of the warm start says of the state files read against the record (": its
// 16 state files read agree with its record"); mixed: they are not all the state recorded.
std::string FilesSummary(const RecordCheck& check, bool& mixed) {
  const int count = static_cast<int>(check.checked.size()), edited = check.edited;
  const size_t recorded = check.record.files.size();
  const std::vector<std::string> unread = NotLookedFor(check);
  const std::string listed =
      static_cast<size_t>(count) == recorded
          ? std::string()
          : " (it lists " + std::to_string(recorded) + " files" +
                (check.lost.empty() ? std::string() : "; not found: " + Listed(check.lost)) +
                (unread.empty() ? std::string()
                                : "; not read: " + Listed(unread) + (unread.size() == 1 ? ", which" : ", which each") +
                                      " no read flag of this run asks for: written by its write code at the end of "
                                      "the run before, an output rather than a state this run starts from") +
                ")";
  mixed = !check.instead.empty() || (count == 0 && recorded != 0);
  if (mixed) {
    const std::string folder = Absolute(check.storagePath).parent_path().string() + "/";
    return (count == 0
                ? std::string(": none of the state files it records is read")
                : FormatText(": only %d of the state files it records %s read", count, count == 1 ? "is" : "are")) +
           " (it records " + std::to_string(recorded) + " files in " + folder + ")" +
           (check.instead.empty()
                ? std::string()
                : "; in their place the run reads " + Listed(check.instead) +
                      ", the state of another run or date; copy the storage file and the files it records beside the "
                      "control file, or name the state grids in the control file by their absolute paths in " +
                      folder + " (a relative name is read from the working folder but written under the output "
                      "folder)");
  }
  if (count == 0) return ": none of the state files it records is read";
  if (edited == 0)
    return FormatText(": its %d state file%s read agree with its record", count, count == 1 ? "" : "s") + listed;
  if (check.mostDiffer)
    return FormatText(": %d of its %d state files read differ from its record, as in a copy of a state taken while "
                      "a run moved it into place (some files of that run, the others of the run before): the state "
                      "read may be mixed from two runs. Copy the state again once the run that wrote it has ended "
                      "whole, or start from a state that one run wrote whole",
                      edited, count) + listed;
  return FormatText(": %d of its %d state files read agree with its record, %d %s edited after the run",
                    count - edited, count, edited, edited == 1 ? "was" : "were") + listed;
}

// The message of the warm start: the date of the state and what the files read say of it;
// an INFO, or a WARNING where the state is of another date or not all the state recorded.
void TellStateRead(const RecordCheck& check, const ModelDate& runStart, double stepMinutes, LogStream* log) {
  bool mixed = false;
  const std::string files = FilesSummary(check, mixed);
  // The state of a chain is that at the end of the step before the run's first step; a
  // spun-up state used for another period is common practice, and said.
  const ModelDate& date = check.record.date;
  int64_t stateMinutes = 0, startMinutes = 0;
  const bool known = stepMinutes >= 1.0 && MinutesOf(runStart, startMinutes);
  const int64_t expected = known ? startMinutes - static_cast<int64_t>(stepMinutes + 0.5) : 0;
  const bool sameDate = !known || (MinutesOf(date, stateMinutes) && stateMinutes == expected);
  if (!log) return;
  if (sameDate)
    *log << (mixed || check.mostDiffer ? "WARNING: " : "INFO: ") << "warm start from the state at the end of the step "
         << "of " << DateText(date, kMessageDate) << " in " << check.storagePath << files << "[end-entry]";
  else
    *log << "WARNING: warm start from the state at the end of the step of " << DateText(date, kMessageDate) << " in "
         << check.storagePath << ", which is not the state at the end of the step before this run's start (that of "
         << DateText(DateOfMinutesSinceEpoch(expected), kMessageDate) << "): the run goes on from the state of another date" << files
         << "[end-entry]";
}

}  // namespace

void StorageFile::CheckEndState(const std::vector<std::string>& filesRead, const ModelDate& runStart,
                                double stepMinutes, LogStream* log) {
  // The texts the modules read are let go once their records are checked.
  StorageTexts texts;
  texts.swap(texts_);
  for (const std::string& storagePath : reads_) {
    RefuseChangedSinceRead(storagePath, log);
    const std::shared_ptr<const std::string> text = TextRead(storagePath, texts);
    RecordCheck check;
    check.storagePath = storagePath;
    if (!text || !ReadRecord(*text, check, log)) continue;
    CompareFilesRead(check, filesRead, reads_, log);
    FindReadElsewhere(check, filesRead, reads_);
    WarnOfLostFiles(check, log);
    WarnOfUnreadFiles(check, log);
    WarnOfStateNotReadByFlags(check, true, log);
    WarnOfUnlistedGrids(check, reads_, log);
    TellStateRead(check, runStart, stepMinutes, log);
  }
  // The storage file the control file names that this run does not read (the soil model's
  // read flag 0): the state it records is named when this run leaves it unread.
  for (const std::string& storagePath : noted_) {
    if (std::find(reads_.begin(), reads_.end(), storagePath) != reads_.end()) continue;
    std::string text;
    RecordCheck check;
    check.storagePath = storagePath;
    struct stat st;
    if (::stat(storagePath.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || !ReadWholeFile(storagePath, text) ||
        ReadEndStateRecord(text, check.record, nullptr) != 1)
      continue;
    WarnOfStateNotReadByFlags(check, false, log);
  }
}

void StorageFile::AddPart(const std::string& fileName, const std::string& text) {
  for (auto& f : files_) {
    if (f.first == fileName) {
      f.second += text;
      return;
    }
  }
  files_.emplace_back(fileName, text);
}

std::string StorageFile::Text(const std::string& fileName) const {
  for (const auto& f : files_)
    if (f.first == fileName) return f.second;
  return std::string();
}

namespace {

// The first word of a part's text that a value not finite prints as ("inf", "-nan", also
// with a remark after it, "nan(TG code"), and where it begins; empty when there is none.
std::string NonFiniteWord(const std::string& text, size_t& at) {
  for (size_t i = 0; i < text.size(); ++i) {
    if (i > 0 && text[i - 1] != ' ' && text[i - 1] != '\t' && text[i - 1] != '\n') continue;
    size_t k = i + (text[i] == '-' || text[i] == '+' ? 1 : 0);
    if (k + 3 > text.size()) continue;
    const auto lower = [&text](size_t j) { return static_cast<char>(text[j] | 0x20); };  // ASCII letters only
    const bool inf = lower(k) == 'i' && lower(k + 1) == 'n' && lower(k + 2) == 'f';
    const bool nan = lower(k) == 'n' && lower(k + 1) == 'a' && lower(k + 2) == 'n';
    if (!inf && !nan) continue;
    const size_t after = k + 3;
    if (after < text.size() && text[after] != ' ' && text[after] != '\t' && text[after] != '\n' &&
        text[after] != '(' && text[after] != '\r')
      continue;  // a word such as "inflow"
    at = i;
    return text.substr(i, after - i);
  }
  return std::string();
}

// A value that is not finite would be refused by the next warm start: a FATAL names the first
// of each storage file. Returns the number of files that hold one.
int RefuseNonFiniteValues(const std::vector<std::pair<std::string, std::string>>& files, LogStream* log) {
  int failures = 0;
  for (const auto& f : files) {
    size_t at = 0;
    const std::string word = NonFiniteWord(f.second, at);
    if (word.empty()) continue;
    int start = 0, lines = 0;
    const std::string part = LastPart(f.second.substr(0, at), start, lines);
    if (log)
      *log << "FATAL: the storage file " << f.first << " would hold \"" << word << "\" at line "
           << LineAt(f.second, at) << (part.empty() ? std::string() : ", in its part " + part)
           << ": a value of the state that is not a finite number, which a warm start would refuse; the values went "
           << "out of bounds during the run (its parameters, or the state it started from)" << "[end-entry]";
    ++failures;
  }
  return failures;
}

// A value of a part beyond the range its reader holds it to (NoteStoredValueBeyond) would be
// refused by the next warm start: a FATAL names the first of each part. Returns their number.
int RefuseValuesBeyond(const std::vector<std::pair<std::string, std::string>>& files, LogStream* log) {
  std::vector<std::pair<std::string, std::string>> values;
  {
    std::lock_guard<std::mutex> lock(LedgerMutex());
    values.swap(ValuesBeyond());
  }
  if (log)
    for (const auto& v : values)
      *log << "FATAL: the storage file " << (files.empty() ? std::string() : files.front().first + " ") << v.second
           << ", and a warm start would refuse it. The end state is not moved into place; the values went out of "
           << "bounds during the run (its input, its parameters, or the state it started from)" << "[end-entry]";
  return static_cast<int>(values.size());
}

// Writes each storage file (names[i] that of files[i]) with the record of the end state set
// under its temporary name, to be moved after the files of set (moves; a device it is thrown
// into is written straight into). A FATAL names a file that cannot be written, and the
// writing ends there: 1, else 0.
int WriteStorageFiles(const std::vector<std::pair<std::string, std::string>>& files,
                      const std::vector<OutputName>& names, const std::vector<EndStateFile>& set,
                      const ModelDate* stateDate, std::vector<OutputName>& moves, LogStream* log) {
  for (size_t i = 0; i < files.size(); ++i) {
    const OutputName& name = names[i];
    bool opened = false;
    const std::string record = stateDate ? RecordText(*stateDate, set, name.Final()) : std::string();
    if (const int e = name.WriteText(files[i].second + record, opened)) {
      if (log)
        *log << "FATAL: cannot write the storage file " << name.Final() << FileOpenReason(name.Temporary(), true, e)
             << "[end-entry]";
      return 1;
    }
    if (!name.IntoDevice()) moves.push_back(name);
  }
  return 0;
}

// Beside every storage file but a device, while the files are moved: the marker that lists
// them, each named as in the record (relative to the marker's folder); markers gets each
// written. A FATAL names a marker that cannot be written, and the writing ends there: 1, else 0.
int WriteMarkers(const std::vector<OutputName>& storageFiles, const std::vector<OutputName>& moves,
                 const ModelDate* stateDate, std::vector<std::string>& markers, LogStream* log) {
  const std::string note =
      "The end state" + (stateDate ? " of " + DateText(*stateDate, kMessageDate) : std::string()) +
      " is being moved into place: these files, the storage file last. A run stopped before this file was removed "
      "left some of them new and the others of the run before, unless it had moved them all; a warm start checks "
      "which, and runs only from a whole state.\n";
  for (const OutputName& storage : storageFiles) {
    if (storage.IntoDevice()) continue;  // thrown away: no state to mark
    std::string list;
    for (const OutputName& m : moves) list += RecordName(m.Final(), storage.Final()) + "\n";
    const std::string marker = IncompleteStateMarker(storage.Final());
    if (const int e = WriteNewFile(marker, note + list)) {
      // A device or a folder under the name is none of the run's files: it is left as it is.
      const std::string what = NotARegularFile(marker);
      if (log)
        *log << "FATAL: cannot write " << marker
             << (what.empty() ? FileOpenReason(marker, true, e)
                              : " (" + what + " stands under that name, where the run keeps the list of the files "
                                "it moves into place; it is left as it is)")
             << "[end-entry]";
      return 1;
    }
    markers.push_back(marker);
  }
  return 0;
}

// Moves every file of the end state into place, the storage files last (afterMove, when
// given, called after each). A file that cannot be moved is a FATAL: the files not moved
// yet are removed, and false returned.
bool MoveEndStateIntoPlace(const std::vector<OutputName>& moves, const std::vector<std::string>& markers,
                           const std::function<void(const std::string&)>& afterMove, LogStream* log) {
  for (size_t i = 0; i < moves.size(); ++i) {
    if (const int e = moves[i].MoveIntoPlace()) {
      if (log)
        *log << "FATAL: cannot move " << moves[i].Temporary() << " into place as " << moves[i].Final()
             << FileOpenReason(moves[i].Final(), true, e) << ": the end state is incomplete"
             << (markers.empty() ? std::string() : "; " + markers.front() + " names its files") << "[end-entry]";
      for (size_t k = i; k < moves.size(); ++k) std::remove(moves[k].Temporary().c_str());
      return false;
    }
    if (afterMove) afterMove(moves[i].Final());
  }
  return true;
}

// The marker stays only while the state is incomplete: one that cannot be removed is a
// failure of the run (the state is whole, and the next warm start says so). Returns the
// number of markers left.
int RemoveMarkers(const std::vector<std::string>& markers, LogStream* log) {
  int left = 0;
  for (const std::string& m : markers) {
    if (std::remove(m.c_str()) == 0 || errno == ENOENT) continue;
    const int e = errno;
    ++left;
    if (log)
      *log << "FATAL: cannot remove " << m << FileOpenReason(m, true, e) << " after the end state was moved into "
           << "place: the state is whole, and a warm start from it says so and removes the marker" << "[end-entry]";
  }
  return left;
}

}  // namespace

int StorageFile::Commit(LogStream* log, const ModelDate* stateDate,
                        const std::function<void(const std::string&)>& afterMove) {
  const std::vector<EndStateFile> set = TakeLedger();
  moved_ = false;
  std::vector<OutputName> moves;  // the files of the end state written, the storage files last
  int failures = 0;
  for (const EndStateFile& f : set) {
    if (f.staged) moves.emplace_back(f.path);
    failures += f.failed;  // its writer has named it
  }
  std::vector<OutputName> storageFiles;
  for (const auto& f : files_) storageFiles.emplace_back(f.first);
  failures += RefuseNonFiniteValues(files_, log);
  failures += RefuseValuesBeyond(files_, log);
  IgnoreCtrlC();
  if (failures == 0) failures = WriteStorageFiles(files_, storageFiles, set, stateDate, moves, log);
  files_.clear();
  std::vector<std::string> markers;
  if (failures == 0) failures = WriteMarkers(storageFiles, moves, stateDate, markers, log);
  if (failures != 0) {
    for (const OutputName& m : moves) std::remove(m.Temporary().c_str());
    for (const std::string& m : markers) std::remove(m.c_str());
    EnableCtrlCHandler();
    if (log)
      *log << "WARNING: the end state is not moved into place, the earlier state files are left as they were"
           << "[end-entry]";
    return failures;
  }
  const bool whole = MoveEndStateIntoPlace(moves, markers, afterMove, log);
  moved_ = whole;
  const int left = whole ? RemoveMarkers(markers, log) : 1;
  EnableCtrlCHandler();
  return left;
}

void StorageFile::Abandon(LogStream* log, const std::string& whyNot) {
  bool any = !files_.empty();
  for (const EndStateFile& f : TakeLedger()) {
    any = true;
    if (f.staged) std::remove(EndStateStagedName(f.path).c_str());
  }
  files_.clear();
  if (log && any && !whyNot.empty())
    *log << "WARNING: " << whyNot << ": the end state is not moved into place, the earlier state files are left as "
         << "they were" << "[end-entry]";
}
