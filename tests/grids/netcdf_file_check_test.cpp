// The look at a netCDF file before the library reads it: its header walked to the end,
// its names against the library's limit, its length against what the header says.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "grids/netcdf_file_check.h"
#include "support/test_support.h"

namespace {

std::string Be32(uint32_t v) {
  std::string s(4, '\0');
  for (int i = 0; i < 4; ++i) s[static_cast<size_t>(i)] = static_cast<char>((v >> (24 - 8 * i)) & 0xFF);
  return s;
}

// A classic (version 1) header: no records, the given dimension list and no attributes or
// variables.
std::string Classic(const std::string& dimensions) {
  return std::string("CDF\x01", 4) + Be32(0) + dimensions + Be32(0) + Be32(0) + Be32(0) + Be32(0);
}

std::string Name(const std::string& n) { return Be32(static_cast<uint32_t>(n.size())) + n + std::string((4 - n.size() % 4) % 4, '\0'); }

// A version 1 file: dimensions x = 2 and t (records), one global byte attribute of
// `attributeBytes` values, then the variables (name, whether on t, begin), each of two
// floats per record, and `data` bytes after the header.
std::string WithVariables(uint32_t records, size_t attributeBytes,
                          const std::vector<std::tuple<std::string, bool, uint32_t>>& variables, size_t data) {
  std::string b = std::string("CDF\x01", 4) + Be32(records) + Be32(10) + Be32(2) + Name("x") + Be32(2) + Name("t") +
                  Be32(0) + Be32(12) + Be32(1) + Name("history") + Be32(1) + Be32(static_cast<uint32_t>(attributeBytes)) +
                  std::string((attributeBytes + 3) / 4 * 4, '\0') + Be32(11) +
                  Be32(static_cast<uint32_t>(variables.size()));
  for (const auto& v : variables) {
    const bool record = std::get<1>(v);
    b += Name(std::get<0>(v)) + Be32(record ? 2 : 1) + (record ? Be32(1) + Be32(0) : Be32(0)) + Be32(0) + Be32(0) +
         Be32(5) + Be32(8) + Be32(std::get<2>(v));
  }
  return b + std::string(data, '\0');
}

TEST(NetcdfFileCheck, WalksTheWholeHeaderAndNeedsTheDataOfEveryVariable) {
  // A name the library cannot hold, behind an attribute of 1.1 MB.
  const std::string far = WithVariables(0, 1100000, {{"a", false, 0}, {std::string(300, 'v'), false, 0}}, 0);
  EXPECT_NE(NetcdfBytesProblem(far).find("a name of 300 characters, more than 256"), std::string::npos);
  TempDir dir;
  WriteTextFile(dir.file("far.nc"), far);
  EXPECT_EQ(NetcdfFileProblem(dir.file("far.nc")), NetcdfBytesProblem(far));

  const size_t header = WithVariables(2, 5, {{"a", false, 0}, {"r", true, 0}, {"s", true, 0}}, 0).size();
  const uint32_t h = static_cast<uint32_t>(header);
  // a: 8 bytes at the header's end; records of r and s (8 bytes each) behind it, 16 a record.
  const auto file = [&](uint32_t records, size_t data) {
    return WithVariables(records, 5, {{"a", false, h}, {"r", true, h + 8}, {"s", true, h + 16}}, data);
  };
  EXPECT_EQ(NetcdfBytesProblem(file(2, 8 + 2 * 16)), "");
  EXPECT_EQ(NetcdfBytesProblem(file(0, 8)), "");
  EXPECT_NE(NetcdfBytesProblem(file(2, 8 + 2 * 16 - 1))
                .find("it is cut short: it holds " + std::to_string(header + 39) + " bytes, the data of variable "
                      "\"s\" (2 records) reach to byte " + std::to_string(header + 40)),
            std::string::npos);
  EXPECT_NE(NetcdfBytesProblem(file(0, 7)).find("the data of variable \"a\" reach to byte"), std::string::npos);
  EXPECT_NE(NetcdfBytesProblem(file(0xFFFFFFF0u, 8 + 16)).find("(4294967280 records)"), std::string::npos);

  // netCDF-4: the superblock (version 2, 8-byte addresses) records the file's length at 28.
  std::string hdf5 = std::string("\x89HDF\r\n\x1a\n\x02\x08\x08", 11) + std::string(53, '\0');
  hdf5[28] = 64;
  EXPECT_EQ(NetcdfBytesProblem(hdf5), "");
  hdf5[28] = 65;
  EXPECT_NE(NetcdfBytesProblem(hdf5).find("it is cut short: it holds 64 bytes, its HDF5 superblock records 65"),
            std::string::npos);
}

TEST(NetcdfFileCheck, RefusesWhatCannotBeANetcdfFileAndPassesSoundHeaders) {
  const std::string empty = Classic(Be32(0) + Be32(0));
  const std::string oneDimension = Classic(Be32(10) + Be32(1) + Be32(1) + std::string("x\0\0\0", 4) + Be32(5));
  const std::string hdf5("\x89HDF\r\n\x1a\n", 8);
  struct Case {
    std::string bytes;
    const char* problem;  // empty: accepted
  } cases[] = {
      {empty, ""},
      {oneDimension, ""},
      {hdf5 + std::string(56, '\0'), ""},
      {std::string(512, 'u') + hdf5 + std::string(56, '\0'), ""},
      {std::string("CDF\x01\0\0\0\0\0\0\0\0\x0a", 13), "holds 13 bytes, too few for a netCDF header (32)"},
      {"CDF\x01", "holds 4 bytes, too few"},
      {std::string("CDF\x05", 4) + std::string(40, '\0'), "too few for a netCDF header (48)"},
      {hdf5 + "\0\0", "too few for the superblock of a netCDF-4 file"},
      {"ncols 3\nnrows 2\n", "neither with the netCDF signature"},
      {std::string("CDF\x03", 4) + std::string(40, '\0'), "neither with the netCDF signature"},
      {Classic(Be32(10) + Be32(0x7fffffff)), "2147483647 list entries cannot fit into 32 bytes"},
      {Classic(Be32(10) + Be32(1) + Be32(0x40000000) + std::string("x\0\0\0", 4) + Be32(5)), "a name of 1073741824 characters"},
      {Classic(Be32(10) + Be32(1) + Be32(300) + std::string(300, 'x') + Be32(5)), "a name of 300 characters, more than 256"},
      {Classic(Be32(10) + Be32(1) + Be32(256) + std::string(256, 'x') + Be32(5)), ""},
      {Classic(Be32(7) + Be32(0)), "a list has the tag 7"},
      {Classic(Be32(0) + Be32(3)), "an absent list counts entries"},
      {empty.substr(0, 30) + std::string(2, '\0'), ""},
  };
  for (const Case& c : cases) {
    const std::string problem = NetcdfBytesProblem(c.bytes);
    if (std::string(c.problem).empty())
      EXPECT_EQ(problem, "") << c.bytes.size();
    else
      EXPECT_NE(problem.find(c.problem), std::string::npos) << problem;
  }
  // A header cut short: the bytes end before the lists do.
  const std::string cut = oneDimension.substr(0, 24);
  const std::string cutProblem = NetcdfBytesProblem(cut + std::string(8, '\0'));
  EXPECT_NE(cutProblem.find("cut short after 32 bytes"), std::string::npos) << cutProblem;
  EXPECT_EQ(NetcdfFileProblem("/nonexistent/file.nc"), "");
}

}  // namespace
