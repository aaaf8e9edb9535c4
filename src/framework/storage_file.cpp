#include "framework/storage_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "framework/ctrl_c.h"
#include "framework/file_reason.h"
#include "framework/logstream.h"
#include "framework/new_file.h"
#include "framework/run_files.h"
#include "framework/text_helpers.h"

namespace {

const char* const kRecordHeader = "[end_state]";

// The files of the end state noted in this process since the last BeginRun.
std::mutex& LedgerMutex() {
  static std::mutex m;
  return m;
}
std::vector<std::string>& Ledger() {
  static std::vector<std::string> files;
  return files;
}

std::string BaseName(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string Trimmed(const std::string& line) {
  const size_t a = line.find_first_not_of(" \t");
  if (a == std::string::npos) return std::string();
  return line.substr(a, line.find_last_not_of(" \t") - a + 1);
}

std::string DateText(const ModelDate& d) {
  return FormatText("%02lld.%02lld.%lld %02lld:%02lld", static_cast<long long>(d.day), static_cast<long long>(d.month),
                    static_cast<long long>(d.year), static_cast<long long>(d.hour), static_cast<long long>(d.minute));
}

// The record of the files noted, for a state at the end of the step of date.
std::string RecordText(const ModelDate& date) {
  std::vector<std::string> files;
  {
    std::lock_guard<std::mutex> lock(LedgerMutex());
    files = Ledger();
  }
  std::sort(files.begin(), files.end(), [](const std::string& a, const std::string& b) {
    return BaseName(a) != BaseName(b) ? BaseName(a) < BaseName(b) : a < b;
  });
  std::string lines;
  int count = 0;
  for (const std::string& f : files) {
    unsigned long long bytes = 0, checksum = 0;
    if (!FileFingerprint(f, bytes, checksum)) continue;  // a write that failed is raised by its writer
    lines += FormatText("%llu %016llx ", bytes, checksum) + BaseName(f) + "\n";
    ++count;
  }
  return std::string(kRecordHeader) + "\n" +
         FormatText("%lld %lld %lld %lld %lld (date of the state: year month day hour minute)\n",
                    static_cast<long long>(date.year), static_cast<long long>(date.month),
                    static_cast<long long>(date.day), static_cast<long long>(date.hour),
                    static_cast<long long>(date.minute)) +
         FormatText("%d (files written at the end of the run: bytes, checksum, name)\n", count) + lines + "\n";
}

}  // namespace

void NoteEndStateFile(const std::string& path) {
  if (path.empty() || RunFiles::Current().Building()) return;
  std::lock_guard<std::mutex> lock(LedgerMutex());
  std::vector<std::string>& files = Ledger();
  if (std::find(files.begin(), files.end(), path) == files.end()) files.push_back(path);
}

bool FileFingerprint(const std::string& path, unsigned long long& bytes, unsigned long long& checksum) {
  std::FILE* in = std::fopen(path.c_str(), "rb");
  if (!in) return false;
  unsigned long long hash = 14695981039346656037ull, size = 0;
  std::vector<unsigned char> buffer(1 << 20);
  size_t got;
  while ((got = std::fread(buffer.data(), 1, buffer.size(), in)) > 0) {
    for (size_t i = 0; i < got; ++i) hash = (hash ^ buffer[i]) * 1099511628211ull;
    size += got;
  }
  const bool ok = !std::ferror(in);
  std::fclose(in);
  bytes = size;
  checksum = hash;
  return ok;
}

int ReadEndStateRecord(const std::string& text, EndStateRecord& record, std::string* why) {
  TextCursor f(text);
  std::string line;
  bool found = false;
  while (!found && f.ReadLine(line)) found = Trimmed(line) == kRecordHeader;
  if (!found) return 0;
  auto damaged = [&](const std::string& what) {
    if (why) *why = "line " + std::to_string(f.LineNumber()) + ": " + what;
    return -1;
  };
  long v[5];
  for (long& x : v)
    if (!f.ReadLong(x)) return damaged("no date of the state");
  record.date = ModelDate{v[4], v[3], v[2], v[1], v[0]};
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
    if (!f.ReadLong(bytes) || bytes < 0 || !f.ReadWord(hex)) return damaged("no size and checksum of a file");
    file.bytes = static_cast<unsigned long long>(bytes);
    file.checksum = std::strtoull(hex.c_str(), &end, 16);
    if (hex.empty() || *end != '\0') return damaged("the checksum " + hex + " is no hexadecimal number");
    file.name = Trimmed(f.RestOfLine());
    if (file.name.empty()) return damaged("a file without its name");
    record.files.push_back(file);
  }
  return 1;
}

std::string StorageFileEnd(const std::string& text, const std::string& missing) {
  TextCursor f(text);
  std::string line, last;
  int number = 0, start = 0;
  while (f.ReadLine(line)) {
    ++number;
    const size_t a = line.find_first_not_of(" \t");
    const size_t b = line.find_last_not_of(" \t");
    // A part begins with a line that is its bracketed header alone (the record of the end
    // state that follows the parts is none of the modules').
    if (a != std::string::npos && line[a] == '[' && line[b] == ']' && line.compare(a, b - a + 1, kRecordHeader) != 0) {
      last = line.substr(a, b - a + 1);
      start = number;
    }
  }
  if (last.empty()) return std::string();
  return "; the file ends in its part " + last + ", which begins at line " + std::to_string(start) + " of " +
         std::to_string(number) + ": it was cut short in that part, or written by a run without " + missing;
}

void StorageFile::BeginRun() {
  reads_.clear();
  std::lock_guard<std::mutex> lock(LedgerMutex());
  Ledger().clear();
}

void StorageFile::DeclareRead(StorageFile* storage, const std::string& path) {
  RunFiles::Current().Read("the storage file of [soil_model]", path, RunFiles::When::StartOnly, storage);
  if (storage && std::find(storage->reads_.begin(), storage->reads_.end(), path) == storage->reads_.end())
    storage->reads_.push_back(path);
}

void StorageFile::CheckEndState(const std::vector<std::string>& filesRead, LogStream* log) const {
  for (const std::string& storagePath : reads_) {
    TextCursor text;
    if (!text.LoadFile(storagePath)) continue;  // its reader has said so
    EndStateRecord record;
    std::string why;
    const int found = ReadEndStateRecord(text.Text(), record, &why);
    if (found == 0) {
      if (log)
        *log << "INFO: the storage file " << storagePath << " holds no record of the state grids written with it (an "
             << "older layout): the state grids this run reads are not checked against it" << "[end-entry]";
      continue;
    }
    if (found < 0) {
      if (log) *log << "FATAL: the record " << kRecordHeader << " of the storage file " << storagePath
                    << " is damaged (" << why << ")" << "[end-entry]";
      throw 71;
    }
    std::vector<std::string> checked;
    for (const std::string& path : filesRead) {
      if (std::find(reads_.begin(), reads_.end(), path) != reads_.end() ||
          std::find(checked.begin(), checked.end(), path) != checked.end())
        continue;
      const std::string name = BaseName(path);
      const EndStateRecord::File* recorded = nullptr;
      for (const EndStateRecord::File& f : record.files)
        if (f.name == name) recorded = &f;
      if (!recorded) continue;
      unsigned long long bytes = 0, checksum = 0;
      if (!FileFingerprint(path, bytes, checksum)) continue;  // its reader has said so
      checked.push_back(path);
      bool same = false;
      for (const EndStateRecord::File& f : record.files) same = same || (f.name == name && f.bytes == bytes && f.checksum == checksum);
      if (same) continue;
      if (log)
        *log << "FATAL: the state grid " << path << " is not the one that the storage file " << storagePath
             << " was written with, the state at the end of the step of " << DateText(record.date) << " ("
             << FormatText("%llu bytes with checksum %016llx, recorded %llu bytes with checksum %016llx", bytes,
                           checksum, recorded->bytes, recorded->checksum)
             << "): a run stopped while it wrote its end state leaves new grids beside the earlier storage file, or "
                "the grid comes from another run; start from a storage file and state grids that one run wrote "
                "together" << "[end-entry]";
      throw 71;
    }
    if (log)
      *log << "INFO: warm start from the state at the end of the step of " << DateText(record.date) << " in "
           << storagePath << ": its " << checked.size() << " state file" << (checked.size() == 1 ? "" : "s")
           << " read agree with its record" << "[end-entry]";
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

int StorageFile::Commit(LogStream* log, const ModelDate* stateDate) {
  int result = 0;
  // The record follows the parts: every state grid is on the disk by now.
  const std::string record = stateDate && !files_.empty() ? RecordText(*stateDate) : std::string();
  for (auto& f : files_) {
    f.second += record;
    const std::string tmp = f.first + ".tmp";
    const auto failure = [] { return errno != 0 ? errno : EIO; };
    IgnoreCtrlC();
    errno = 0;
    std::FILE* out = CreateNewStream(tmp, "w");
    int e = out != nullptr ? 0 : failure();
    if (e == 0 && std::fwrite(f.second.data(), 1, f.second.size(), out) != f.second.size()) e = failure();
    if (out && std::fclose(out) != 0 && e == 0) e = failure();
    if (e == 0 && std::rename(tmp.c_str(), f.first.c_str()) != 0) e = failure();
    EnableCtrlCHandler();
    if (e != 0) {
      std::remove(tmp.c_str());
      if (log) *log << "FATAL: cannot write the storage file " << f.first << FileOpenReason(tmp, true, e) << "[end-entry]";
      ++result;
    }
  }
  files_.clear();
  return result;
}
