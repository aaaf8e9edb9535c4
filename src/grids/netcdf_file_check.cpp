#include "grids/netcdf_file_check.h"

#include <netcdf.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <limits>
#include <vector>

namespace {

constexpr int kNcDimension = 10, kNcVariable = 11, kNcAttribute = 12;
constexpr uint64_t kMaxU64 = std::numeric_limits<uint64_t>::max();

uint64_t AddCapped(uint64_t a, uint64_t b) { return a > kMaxU64 - b ? kMaxU64 : a + b; }
uint64_t MulCapped(uint64_t a, uint64_t b) { return a != 0 && b > kMaxU64 / a ? kMaxU64 : a * b; }

// The bytes of a file, fetched where the walk needs them.
class FileBytes {
 public:
  virtual ~FileBytes() = default;
  uint64_t Size() const { return size_; }
  // n bytes at pos into out; false when the file ends before.
  bool Get(uint64_t pos, size_t n, unsigned char* out) {
    if (pos > size_ || n > size_ - pos) return false;
    return n == 0 || Fetch(pos, n, out);
  }

 protected:
  explicit FileBytes(uint64_t size) : size_(size) {}
  virtual bool Fetch(uint64_t pos, size_t n, unsigned char* out) = 0;

 private:
  uint64_t size_;
};

class BytesInMemory : public FileBytes {
 public:
  explicit BytesInMemory(const std::string& b) : FileBytes(b.size()), b_(b) {}

 private:
  bool Fetch(uint64_t pos, size_t n, unsigned char* out) override {
    if (n) std::memcpy(out, b_.data() + pos, n);
    return true;
  }
  const std::string& b_;
};

// Reads through a window of 64 KiB: a header is read front to back in small pieces, and
// the values of a long attribute are jumped over.
class BytesOnDisk : public FileBytes {
 public:
  BytesOnDisk(std::ifstream& in, uint64_t size) : FileBytes(size), in_(in) {}

 private:
  bool Fetch(uint64_t pos, size_t n, unsigned char* out) override {
    if (pos < start_ || pos + n > start_ + window_.size()) {
      if (n > kWindow) return false;
      window_.resize(static_cast<size_t>(std::min<uint64_t>(kWindow, Size() - pos)));
      in_.clear();
      in_.seekg(static_cast<std::streamoff>(pos));
      in_.read(window_.data(), static_cast<std::streamsize>(window_.size()));
      if (static_cast<size_t>(in_.gcount()) != window_.size()) {
        window_.clear();
        return false;
      }
      start_ = pos;
    }
    std::memcpy(out, window_.data() + (pos - start_), n);
    return true;
  }
  static constexpr size_t kWindow = size_t{1} << 16;
  std::ifstream& in_;
  std::vector<char> window_;
  uint64_t start_ = 0;
};

// Walks a classic header (big-endian counts, names and values padded to 4 bytes) and then
// sets what the header says against the file's length.
class ClassicHeader {
 public:
  ClassicHeader(FileBytes& b, int version) : b_(b), wide_(version == 5), offsetWide_(version != 1) {}

  std::string Problem() {
    pos_ = 4;
    records_ = Count();
    if (!List(kNcDimension, [&] {
          Dimension d;
          if (!Name(d.name)) return false;
          d.length = Count();
          dimensions_.push_back(d);
          return problem_.empty();
        }))
      return problem_;
    if (!Attributes()) return problem_;
    if (!List(kNcVariable, [&] { return Variable(); })) return problem_;
    DataProblem();
    return problem_;
  }

 private:
  struct Dimension {
    std::string name;
    uint64_t length = 0;  // 0: the record dimension
  };
  struct Var {
    std::string name;
    bool record = false;
    uint64_t bytes = 0;  // of the whole variable, or of one record of it
    uint64_t begin = 0;
  };

  FileBytes& b_;
  bool wide_, offsetWide_;
  uint64_t pos_ = 0;
  uint64_t records_ = 0;
  std::vector<Dimension> dimensions_;
  std::vector<Var> variables_;
  std::string problem_;

  bool Fail(const std::string& what) {
    if (problem_.empty()) problem_ = "its header is damaged (" + what + ")";
    return false;
  }
  void CutShort() {
    if (problem_.empty()) problem_ = "its header is cut short after " + std::to_string(b_.Size()) + " bytes";
    pos_ = b_.Size();
  }
  uint64_t Take(size_t n) {
    unsigned char v[8];
    if (!problem_.empty()) return 0;
    if (!b_.Get(pos_, n, v)) {
      CutShort();
      return 0;
    }
    pos_ += n;
    uint64_t r = 0;
    for (size_t i = 0; i < n; ++i) r = (r << 8) | v[i];
    return r;
  }
  uint64_t Count() { return Take(wide_ ? 8 : 4); }
  // Whether count entries of at least `bytes` each fit into the rest of the file.
  bool Fits(uint64_t count, uint64_t bytes, const char* what) {
    const uint64_t rest = pos_ < b_.Size() ? b_.Size() - pos_ : 0;
    if (problem_.empty() && count > rest / bytes)
      return Fail(std::to_string(count) + " " + what + " cannot fit into " + std::to_string(b_.Size()) + " bytes");
    return problem_.empty();
  }
  bool Skip(uint64_t bytes) {
    if (!Fits(bytes, 1, "bytes of names and values")) return false;
    pos_ += bytes;
    return true;
  }
  bool Name(std::string& name) {
    const uint64_t n = Count();
    if (!problem_.empty()) return false;
    // The library copies every name into a buffer of NC_MAX_NAME + 1 characters unchecked.
    if (n > NC_MAX_NAME)
      return Fail("a name of " + std::to_string(n) + " characters, more than " + std::to_string(NC_MAX_NAME));
    name.assign(static_cast<size_t>(n), '\0');
    if (n && !b_.Get(pos_, static_cast<size_t>(n), reinterpret_cast<unsigned char*>(&name[0]))) {
      CutShort();
      return false;
    }
    return Skip((n + 3) / 4 * 4);
  }
  template <typename Entry>
  bool List(int tag, Entry entry) {
    const uint64_t t = Take(4);
    const uint64_t n = Count();
    if (!problem_.empty()) return false;
    if (t != 0 && static_cast<int>(t) != tag) return Fail("a list has the tag " + std::to_string(t));
    if (t == 0 && n != 0) return Fail("an absent list counts entries");
    if (!Fits(n, 8, "list entries")) return false;
    for (uint64_t i = 0; i < n; ++i)
      if (!entry()) return false;
    return problem_.empty();
  }
  static uint64_t TypeWidth(uint64_t type) {
    static const uint64_t kWidth[] = {0, 1, 1, 2, 4, 4, 8, 1, 2, 4, 8, 8};
    return type < sizeof kWidth / sizeof kWidth[0] ? kWidth[type] : 0;
  }
  bool KnownType(uint64_t type) const { return type >= 1 && type <= (wide_ ? 11u : 6u); }
  bool Attributes() {
    return List(kNcAttribute, [&] {
      std::string name;
      if (!Name(name)) return false;
      const uint64_t type = Take(4);
      const uint64_t n = Count();
      if (!problem_.empty()) return false;
      if (!KnownType(type)) return Fail("attribute \"" + name + "\" has the type " + std::to_string(type));
      if (!Fits(n, TypeWidth(type), "attribute values")) return false;
      return Skip((n * TypeWidth(type) + 3) / 4 * 4);
    });
  }
  bool Variable() {
    Var v;
    if (!Name(v.name)) return false;
    const uint64_t dims = Count();
    if (!problem_.empty()) return false;
    if (dims > NC_MAX_VAR_DIMS)
      return Fail("variable \"" + v.name + "\" has " + std::to_string(dims) + " dimensions, more than " +
                  std::to_string(NC_MAX_VAR_DIMS));
    uint64_t cells = 1;
    for (uint64_t i = 0; i < dims; ++i) {
      const uint64_t id = Count();
      if (!problem_.empty()) return false;
      if (id >= dimensions_.size())
        return Fail("variable \"" + v.name + "\" refers to a dimension that is not there");
      const uint64_t length = dimensions_[static_cast<size_t>(id)].length;
      if (length == 0 && i > 0)
        return Fail("variable \"" + v.name + "\" has the record dimension in another place than the first");
      if (length == 0)
        v.record = true;
      else
        cells = MulCapped(cells, length);
    }
    if (!Attributes()) return false;
    const uint64_t type = Take(4);
    Count();  // the size the writer gave; computed anew below
    v.begin = offsetWide_ ? Take(8) : Take(4);
    if (!problem_.empty()) return false;
    if (!KnownType(type)) return Fail("variable \"" + v.name + "\" has the type " + std::to_string(type));
    v.bytes = MulCapped(cells, TypeWidth(type));
    variables_.push_back(v);
    return true;
  }
  // The data of every variable, the last record of a record variable included, must lie
  // in the file: the library reads what is missing as zeros.
  void DataProblem() {
    const bool streaming = records_ == (wide_ ? kMaxU64 : 0xFFFFFFFFu);  // count kept by the file's length
    uint64_t recordBytes = 0, recordVariables = 0;
    for (const Var& v : variables_)
      if (v.record) {
        ++recordVariables;
        recordBytes = AddCapped(recordBytes, AddCapped(v.bytes, 3) / 4 * 4);
      }
    // A single record variable is stored without padding between its records.
    if (recordVariables == 1)
      for (const Var& v : variables_)
        if (v.record) recordBytes = v.bytes;
    for (const Var& v : variables_) {
      uint64_t end = AddCapped(v.begin, v.bytes);
      if (v.record) {
        if (streaming || records_ == 0) continue;
        end = AddCapped(end, MulCapped(records_ - 1, recordBytes));
      }
      if (end > b_.Size()) {
        problem_ = "it is cut short: it holds " + std::to_string(b_.Size()) + " bytes, the data of variable \"" +
                   v.name + "\"" + (v.record ? " (" + std::to_string(records_) + " records)" : std::string()) +
                   " reach to byte " + (end == kMaxU64 ? std::string("beyond 2^64") : std::to_string(end));
        return;
      }
    }
  }
};

// An HDF5 superblock records the length of the file it was written as; the library
// refuses a file shorter than that, which we name here. false when no length can be read
// (the library then decides).
bool Hdf5RecordedLength(FileBytes& b, uint64_t at, uint64_t& length) {
  unsigned char head[16];
  if (!b.Get(at + 8, 8, head)) return false;
  const unsigned version = head[0];
  unsigned offsetSize;
  uint64_t addresses;  // where the base address stands; the end of file address is two further
  if (version == 0 || version == 1) {
    offsetSize = head[5];
    addresses = at + (version == 0 ? 24 : 28);
  } else if (version == 2 || version == 3) {
    offsetSize = head[1];
    addresses = at + 12;
  } else {
    return false;
  }
  if (offsetSize != 2 && offsetSize != 4 && offsetSize != 8) return false;
  unsigned char field[8];
  if (!b.Get(addresses + 2 * offsetSize, offsetSize, field)) return false;
  length = 0;
  bool undefined = true;
  for (unsigned i = offsetSize; i-- > 0;) {
    length = (length << 8) | field[i];
    undefined = undefined && field[i] == 0xFF;
  }
  return !undefined;
}

std::string BytesProblem(FileBytes& b) {
  unsigned char head[8] = {};
  const uint64_t size = b.Size();
  b.Get(0, static_cast<size_t>(std::min<uint64_t>(size, 8)), head);
  if (size >= 4 && std::memcmp(head, "CDF", 3) == 0 && (head[3] == 1 || head[3] == 2 || head[3] == 5)) {
    const int version = head[3];
    // Magic, record count and three empty lists.
    const uint64_t least = version == 5 ? 4 + 8 + 3 * 12 : 4 + 4 + 3 * 8;
    if (size < least)
      return "it holds " + std::to_string(size) + " bytes, too few for a netCDF header (" + std::to_string(least) +
             ")";
    return ClassicHeader(b, version).Problem();
  }
  // netCDF-4: the HDF5 signature at 0 or after a user block of 512, 1024 or 2048 bytes,
  // followed by a superblock of at least 48 bytes.
  static const unsigned char kHdf5[8] = {0x89, 'H', 'D', 'F', '\r', '\n', 0x1a, '\n'};
  for (uint64_t at : {0u, 512u, 1024u, 2048u}) {
    unsigned char signature[8];
    if (!b.Get(at, 8, signature) || std::memcmp(signature, kHdf5, 8) != 0) continue;
    if (size < at + 56)
      return "it holds " + std::to_string(size) + " bytes, too few for the superblock of a netCDF-4 file";
    uint64_t length = 0;
    if (Hdf5RecordedLength(b, at, length) && size < length)
      return "it is cut short: it holds " + std::to_string(size) + " bytes, its HDF5 superblock records " +
             std::to_string(length);
    return std::string();
  }
  return "it starts neither with the netCDF signature \"CDF\" nor with the HDF5 signature of a netCDF-4 file";
}

}  // namespace

std::string NetcdfBytesProblem(const std::string& bytes) {
  BytesInMemory b(bytes);
  return BytesProblem(b);
}

std::string NetcdfFileProblem(const std::string& fileName) {
  std::ifstream in(fileName, std::ios::binary | std::ios::ate);
  if (!in) return std::string();
  const std::streamoff size = in.tellg();
  if (size < 0) return std::string();
  BytesOnDisk b(in, static_cast<uint64_t>(size));
  return BytesProblem(b);
}

namespace {

// An HDF5 attribute name is at most 65535 bytes (its length is a 16-bit field); the
// library keeps dimension, type and variable names within NC_MAX_NAME.
constexpr size_t kNameBuffer = size_t{1} << 17;

class NameWalk {
 public:
  explicit NameWalk(int root) { groups_.push_back(root); }

  std::string Problem() {
    while (problem_.empty() && !groups_.empty()) {
      const int g = groups_.back();
      groups_.pop_back();
      Group(g);
    }
    return problem_;
  }

 private:
  std::vector<int> groups_;
  std::vector<char> name_ = std::vector<char>(kNameBuffer + 1, '\0');
  std::string problem_;

  // The name the last call put into the buffer; notes it when it is too long.
  bool Check(int status, const std::string& what) {
    if (status != NC_NOERR || !problem_.empty()) return problem_.empty();
    name_[kNameBuffer] = '\0';
    const size_t n = std::strlen(name_.data());
    if (n <= NC_MAX_NAME) return true;
    problem_ = "its " + what + " \"" + std::string(name_.data(), 40) + "...\" has a name of " + std::to_string(n) +
               " characters, more than " + std::to_string(NC_MAX_NAME);
    return false;
  }
  std::string Last() const { return std::string(name_.data()); }
  static std::vector<int> Ids(int count) { return std::vector<int>(static_cast<size_t>(count > 0 ? count : 0)); }
  void Attributes(int g, int var, const std::string& owner) {
    int n = 0;
    if (nc_inq_varnatts(g, var, &n) != NC_NOERR) return;
    for (int i = 0; i < n && problem_.empty(); ++i)
      Check(nc_inq_attname(g, var, i, name_.data()), "attribute " + std::to_string(i + 1) + " of " + owner);
  }
  void Group(int g) {
    int n = 0;
    if (nc_inq_grps(g, &n, nullptr) == NC_NOERR && n > 0) {
      std::vector<int> ids = Ids(n);
      if (nc_inq_grps(g, &n, ids.data()) == NC_NOERR) groups_.insert(groups_.end(), ids.begin(), ids.end());
    }
    if (nc_inq_dimids(g, &n, nullptr, 0) == NC_NOERR && n > 0) {
      std::vector<int> ids = Ids(n);
      if (nc_inq_dimids(g, &n, ids.data(), 0) == NC_NOERR)
        for (int id : ids)
          if (!Check(nc_inq_dimname(g, id, name_.data()), "dimension")) return;
    }
    if (nc_inq_typeids(g, &n, nullptr) == NC_NOERR && n > 0) {
      std::vector<int> ids = Ids(n);
      if (nc_inq_typeids(g, &n, ids.data()) == NC_NOERR)
        for (int id : ids)
          if (!Check(nc_inq_user_type(g, id, name_.data(), nullptr, nullptr, nullptr, nullptr), "type")) return;
    }
    Attributes(g, NC_GLOBAL, "the file");
    if (nc_inq_varids(g, &n, nullptr) == NC_NOERR && n > 0) {
      std::vector<int> ids = Ids(n);
      if (nc_inq_varids(g, &n, ids.data()) == NC_NOERR)
        for (int id : ids) {
          if (!Check(nc_inq_varname(g, id, name_.data()), "variable")) return;
          Attributes(g, id, "variable \"" + Last() + "\"");
        }
    }
  }
};

}  // namespace

std::string NetcdfNamesProblem(const std::string& fileName) {
  int id = -1;
  if (nc_open(fileName.c_str(), NC_NOWRITE, &id) != NC_NOERR) return std::string();
  const std::string problem = NameWalk(id).Problem();
  nc_close(id);
  return problem;
}
