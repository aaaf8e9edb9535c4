#include "grids/netcdf_file_check.h"

#include <netcdf.h>

#include <cstdint>
#include <fstream>

namespace {

// How much of a file is looked at: a classic header longer than this is taken as it is.
constexpr size_t kHeaderBytes = size_t{1} << 20;
constexpr int kNcDimension = 10, kNcVariable = 11, kNcAttribute = 12;

// Walks a classic header (big-endian counts, names padded to 4 bytes). A walk that reaches
// the end of the bytes looked at before the end of the file stops without a finding.
class ClassicHeader {
 public:
  ClassicHeader(const std::string& b, long long fileSize, int version)
      : b_(b), fileSize_(fileSize), wide_(version == 5), offsetWide_(version != 1) {}

  std::string Problem() {
    pos_ = 4;
    Count();  // number of records
    if (!List(kNcDimension, [&] {
          if (!Name()) return false;
          Count();  // length (0: the record dimension)
          return true;
        }))
      return problem_;
    dimensions_ = listed_;
    if (!Attributes()) return problem_;
    if (!List(kNcVariable, [&] {
          if (!Name()) return false;
          const uint64_t dims = Count();
          if (!Fits(dims, wide_ ? 8 : 4, "dimension ids of a variable")) return false;
          for (uint64_t i = 0; i < dims && !stop_; ++i)
            if (Count() >= dimensions_ && !stop_) return Fail("a variable refers to a dimension that is not there");
          if (!Attributes()) return false;
          Take(4);  // type
          Count();  // size
          const uint64_t begin = offsetWide_ ? Take(8) : Take(4);
          if (!stop_ && static_cast<long long>(begin) > fileSize_) return Fail("a variable starts past the end of the file");
          return true;
        }))
      return problem_;
    return std::string();
  }

 private:
  const std::string& b_;
  long long fileSize_;
  bool wide_, offsetWide_;
  size_t pos_ = 0;
  bool stop_ = false;  // the bytes looked at ended before the file: no finding
  uint64_t dimensions_ = 0, listed_ = 0;
  std::string problem_;

  bool Fail(const std::string& what) {
    problem_ = "its header is damaged (" + what + ")";
    return false;
  }
  uint64_t Take(size_t n) {
    if (stop_) return 0;
    if (pos_ + n > b_.size()) {
      if (static_cast<long long>(b_.size()) < fileSize_)
        stop_ = true;
      else if (problem_.empty())
        problem_ = "its header is cut short after " + std::to_string(b_.size()) + " bytes";
      pos_ = b_.size();
      return 0;
    }
    uint64_t v = 0;
    for (size_t i = 0; i < n; ++i) v = (v << 8) | static_cast<unsigned char>(b_[pos_ + i]);
    pos_ += n;
    return v;
  }
  uint64_t Count() { return Take(wide_ ? 8 : 4); }
  // Whether count entries of at least `bytes` each fit into the rest of the file.
  bool Fits(uint64_t count, uint64_t bytes, const char* what) {
    const long long rest = fileSize_ - static_cast<long long>(pos_);
    if (!stop_ && count > static_cast<uint64_t>(rest < 0 ? 0 : rest) / bytes)
      return Fail(std::to_string(count) + " " + what + " cannot fit into " + std::to_string(fileSize_) + " bytes");
    return true;
  }
  bool Skip(uint64_t bytes) {
    if (!Fits(bytes, 1, "bytes of names and values")) return false;
    if (pos_ + bytes > b_.size()) {
      stop_ = true;
      return true;
    }
    pos_ += static_cast<size_t>(bytes);
    return true;
  }
  bool Name() {
    const uint64_t n = Count();
    // The library copies every name into a buffer of NC_MAX_NAME + 1 characters unchecked.
    if (!stop_ && n > NC_MAX_NAME)
      return Fail("a name of " + std::to_string(n) + " characters, more than " + std::to_string(NC_MAX_NAME));
    return Skip((n + 3) / 4 * 4);
  }
  template <typename Entry>
  bool List(int tag, Entry entry) {
    const uint64_t t = Take(4);
    listed_ = Count();
    if (stop_ || !problem_.empty()) return problem_.empty();
    if (t != 0 && static_cast<int>(t) != tag) return Fail("a list has the tag " + std::to_string(t));
    if (t == 0 && listed_ != 0) return Fail("an absent list counts entries");
    if (!Fits(listed_, 8, "list entries")) return false;
    const uint64_t n = listed_;
    for (uint64_t i = 0; i < n && !stop_; ++i)
      if (!entry() || !problem_.empty()) return false;
    listed_ = n;
    return problem_.empty();
  }
  bool Attributes() {
    return List(kNcAttribute, [&] {
      if (!Name()) return false;
      const uint64_t type = Take(4);
      const uint64_t n = Count();
      static const int kWidth[] = {0, 1, 1, 2, 4, 4, 8, 1, 2, 4, 8, 8};
      if (stop_) return true;
      if (type < 1 || type > (wide_ ? 11u : 6u)) return Fail("an attribute of type " + std::to_string(type));
      if (!Fits(n, static_cast<uint64_t>(kWidth[type]), "attribute values")) return false;
      return Skip((n * static_cast<uint64_t>(kWidth[type]) + 3) / 4 * 4);
    });
  }
};

}  // namespace

std::string NetcdfBytesProblem(const std::string& bytes, long long fileSize) {
  static const std::string kHdf5("\x89HDF\r\n\x1a\n", 8);
  if (bytes.size() >= 4 && bytes.compare(0, 3, "CDF") == 0 && (bytes[3] == 1 || bytes[3] == 2 || bytes[3] == 5)) {
    const int version = bytes[3];
    // Magic, record count and three empty lists.
    const long long least = version == 5 ? 4 + 8 + 3 * 12 : 4 + 4 + 3 * 8;
    if (fileSize < least)
      return "it holds " + std::to_string(fileSize) + " bytes, too few for a netCDF header (" +
             std::to_string(least) + ")";
    return ClassicHeader(bytes, fileSize, version).Problem();
  }
  // netCDF-4: the HDF5 signature at 0 or after a user block of 512, 1024 or 2048 bytes,
  // followed by a superblock of at least 48 bytes.
  for (long long at : {0LL, 512LL, 1024LL, 2048LL}) {
    if (static_cast<long long>(bytes.size()) < at + 8 || bytes.compare(static_cast<size_t>(at), 8, kHdf5) != 0)
      continue;
    if (fileSize < at + 56)
      return "it holds " + std::to_string(fileSize) + " bytes, too few for the superblock of a netCDF-4 file";
    return std::string();
  }
  return "it starts neither with the netCDF signature \"CDF\" nor with the HDF5 signature of a netCDF-4 file";
}

std::string NetcdfFileProblem(const std::string& fileName) {
  std::ifstream in(fileName, std::ios::binary | std::ios::ate);
  if (!in) return std::string();
  const long long size = static_cast<long long>(in.tellg());
  if (size < 0) return std::string();
  in.seekg(0);
  std::string bytes(static_cast<size_t>(size < static_cast<long long>(kHeaderBytes) ? size : kHeaderBytes), '\0');
  in.read(&bytes[0], static_cast<std::streamsize>(bytes.size()));
  bytes.resize(static_cast<size_t>(in.gcount()));
  return NetcdfBytesProblem(bytes, size);
}
