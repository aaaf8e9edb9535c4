// The look at a netCDF file's first bytes before the library opens it.
#include <gtest/gtest.h>

#include <string>

#include "grids/netcdf_file_check.h"

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
    const std::string problem = NetcdfBytesProblem(c.bytes, static_cast<long long>(c.bytes.size()));
    if (std::string(c.problem).empty())
      EXPECT_EQ(problem, "") << c.bytes.size();
    else
      EXPECT_NE(problem.find(c.problem), std::string::npos) << problem;
  }
  // A header cut short: the bytes end before the lists do.
  const std::string cut = oneDimension.substr(0, 24);
  const std::string cutProblem = NetcdfBytesProblem(cut + std::string(8, '\0'), 32);
  EXPECT_NE(cutProblem.find("cut short after 32 bytes"), std::string::npos) << cutProblem;
  // Only the first part of a long file is looked at: a header going on past it passes.
  EXPECT_EQ(NetcdfBytesProblem(oneDimension.substr(0, 20), 1 << 30), "");
  EXPECT_EQ(NetcdfFileProblem("/nonexistent/file.nc"), "");
}

}  // namespace
