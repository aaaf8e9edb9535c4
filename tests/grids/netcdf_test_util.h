// Small helpers of the netCDF tests: files made from CDL text with ncgen, headers and
// values shown by ncdump, and a module object with a log in memory.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "framework/modelobject.h"
#include "support/test_support.h"

// Makes a netCDF file from CDL text (kind "nc4" or "classic"); fails the test otherwise.
inline void MakeNetcdfFromCdl(const TempDir& dir, const std::string& fileName, const std::string& cdl,
                              const std::string& kind = "nc4") {
  const std::string cdlPath = dir.file(fileName + ".cdl");
  WriteTextFile(cdlPath, "netcdf x {\n" + cdl + "\n}\n");
  std::string out;
  int rc = RunCommand("ncgen -k " + kind + " -o '" + dir.file(fileName) + "' '" + cdlPath + "'", &out);
  ASSERT_EQ(rc, 0) << out;
}

// ncdump's output for the file with the given options ("-h", "-v x,y").
inline std::string NcDump(const std::string& path, const std::string& options = "-h") {
  std::string out;
  RunCommand("ncdump " + options + " '" + path + "'", &out);
  return out;
}

// A module with the model geometry given and its log in memory.
struct TestModule {
  CapturedLog log;
  modelobject module;
  TestModule(int ncols, int nrows, double xll, double yll, double cs, double nodata = -9999.0)
      : module(&log.log(), "") {
    module.name = "testmodule";
    module.geometry.ncols = ncols;
    module.geometry.nrows = nrows;
    module.geometry.xllcorner = xll;
    module.geometry.yllcorner = yll;
    module.geometry.cellsize = cs;
    module.geometry.nodata_value = nodata;
  }
};

// Runs f and returns the int code it throws (or -1 when it throws none).
template <typename F>
int ThrownCode(F&& f) {
  try {
    f();
  } catch (int code) {
    return code;
  }
  return -1;
}
