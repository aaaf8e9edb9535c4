// Reading grid stacks: ASCII, binary single and double precision and netCDF stack files,
// checked against the model domain before anything is allocated.
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "framework/file_reason.h"
#include "framework/logstream.h"
#include "framework/modelobject.h"
#include "framework/run_files.h"
#include "framework/storage_file.h"
#include "framework/text_helpers.h"
#include "grids/grid_io_internal.h"
#include "grids/grid_path.h"
#include "grids/grid_reader.h"
#include "grids/grid_registry.h"
#include "grids/grid_stack.h"
#include "grids/netcdf_grid_io.h"

namespace {

[[noreturn]] void Fail(modelobject& o, const std::string& text, int code) {
  if (o.log) *o.log << text << "[end-entry]";
  throw code;
}

std::string LastChars(const std::string& s, size_t n) { return s.size() > n ? s.substr(s.size() - n) : s; }

std::string ZoneGridFileName(const modelobject& o) {
  return o.grids && o.grids[1].registered ? o.grids[1].fileName : std::string();
}

std::string Number(double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%g", v);
  return buf;
}

StackFileKind DetectKind(const unsigned char* b, size_t n, const std::string& path, modelobject& o) {
  size_t nonZero = 0;
  for (size_t i = 0; i < n && i < 4; ++i)
    if (b[i]) ++nonZero;
  if (n >= 4 && nonZero >= 3 && (std::memcmp(b + 1, "HDF", 3) == 0 || std::memcmp(b, "CDF", 3) == 0))
    return StackFileKind::Netcdf;
  const size_t mark = ByteOrderMarkLength(reinterpret_cast<const char*>(b), n);
  if (n >= mark + 5 && std::memcmp(b + mark, "stack", 5) == 0) return StackFileKind::Ascii;
  if (n < 12 * sizeof(float)) Fail(o, "FATAL: error reading from " + path, 22);
  // A single-precision stack may be shorter than a double-precision header.
  if (n >= 12 * sizeof(double)) {
    double h[12];
    std::memcpy(h, b, sizeof h);
    if (h[5] == -9999.0) return StackFileKind::BinaryDouble;
  }
  float f[12];
  std::memcpy(f, b, sizeof f);
  if (f[5] == -9999.0f) return StackFileKind::BinarySingle;
  return StackFileKind::Unknown;
}

// Whole parts of ncols and nrows equal the model's, the cells lie on the basin's as a grid's
// do (LiesOnBasinCells), the no-data value is the model's.
void CheckDomain(modelobject& o, const std::string& path, const double h[12]) {
  const GridGeometry& g = o.geometry;
  const bool fits = LiesOnBasinCells(std::trunc(h[0]), std::trunc(h[1]), h[2], h[3], h[4], g) &&
                    h[5] == g.nodata_value;
  if (fits) return;
  std::string text = "FATAL: " + path + " has not the specified grid measures (in " + o.name + ")\n" +
                     LastChars(ZoneGridFileName(o), 35) + " " + LastChars(path, 35) + "\n";
  const double model[6] = {static_cast<double>(g.ncols), static_cast<double>(g.nrows), g.xllcorner,
                           g.yllcorner, g.cellsize, g.nodata_value};
  for (int i = 0; i < 6; ++i) text += GeometryNumber(model[i]) + " " + GeometryNumber(h[i]) + "\n";
  Fail(o, text, 24);
}

int LevelCount(modelobject& o, const std::string& path, double numlevels, double fileBytes, double bytesPerValue) {
  const GridGeometry& g = o.geometry;
  const double n = std::trunc(numlevels);
  if (!(n >= 0 && n <= kMaxStackLevels))
    Fail(o, "FATAL: error reading from " + path + ": the header gives " + Number(numlevels) + " levels", 22);
  const double needed = static_cast<double>(g.ncols) * g.nrows * (n + 1) * bytesPerValue;
  if (needed > fileBytes)
    Fail(o,
         "FATAL: error reading from " + path + ": the file is shorter than its header says (" + Number(n + 1) +
             " levels of " + std::to_string(g.ncols) + " x " + std::to_string(g.nrows) + " cells)",
         22);
  return static_cast<int>(n);
}

int ReadAsciiStack(modelobject& o, const std::string& path, double***& stack) {
  std::string text;
  if (!ReadWholeFile(path, text)) Fail(o, "FATAL: error opening " + path + FileOpenReason(path, false, 0), 21);
  const size_t mark = ByteOrderMarkLength(text);
  TextCursor cur(std::move(text));
  cur.Seek(mark);
  double h[12];
  std::string words[12], problem;
  if (ReadHeaderPairs(cur, 12, words, h, problem)) Fail(o, "FATAL: error reading from " + path + ": " + problem, 22);
  CheckDomain(o, path, h);
  // Every value takes at least two characters (a digit and a separator).
  const int n = LevelCount(o, path, h[11], static_cast<double>(cur.Text().size() - cur.Pos()) + 1.0, 2.0);
  const GridGeometry& g = o.geometry;
  stack = o.d3_matrix(1, g.nrows, 1, g.ncols, n);
  for (int r = 1; r <= g.nrows; ++r)
    for (int c = 1; c <= g.ncols; ++c)
      for (int l = 0; l <= n; ++l)
        if (!cur.ReadDouble(stack[r][c][l])) {
          o.Free3DMatrix(stack);
          stack = nullptr;
          Fail(o,
               "FATAL: error reading ascii stack " + path + "at row " + std::to_string(r) + ", column " +
                   std::to_string(c) + ", level " + std::to_string(l),
               22);
        }
  return n;
}

template <typename T>
int ReadBinaryStack(modelobject& o, const std::string& path, std::FILE* f, double fileBytes, double***& stack) {
  const char* what = sizeof(T) == sizeof(double) ? "FATAL: error reading double stack " : "FATAL: error reading float stack ";
  T raw[12];
  if (std::fseek(f, 0, SEEK_SET) != 0 || std::fread(raw, sizeof(T), 12, f) != 12)
    Fail(o, "FATAL: error reading from " + path, 22);
  double h[12];
  for (int i = 0; i < 12; ++i) h[i] = static_cast<double>(raw[i]);
  CheckDomain(o, path, h);
  const int n = LevelCount(o, path, h[11], fileBytes - 12.0 * sizeof(T), sizeof(T));
  const GridGeometry& g = o.geometry;
  const size_t perCell = static_cast<size_t>(n) + 1;
  const size_t perRow = static_cast<size_t>(g.ncols) * perCell;
  std::vector<T> row(perRow);
  stack = o.d3_matrix(1, g.nrows, 1, g.ncols, n);
  for (int r = 1; r <= g.nrows; ++r) {
    if (std::fread(row.data(), sizeof(T), perRow, f) != perRow) {
      o.Free3DMatrix(stack);
      stack = nullptr;
      Fail(o, what + path + "at row " + std::to_string(r) + ", column 1", 22);
    }
    for (int c = 1; c <= g.ncols; ++c)
      for (size_t l = 0; l < perCell; ++l)
        stack[r][c][l] = static_cast<double>(row[static_cast<size_t>(c - 1) * perCell + l]);
  }
  return n;
}

int ReadNetcdfStack(modelobject& o, const std::string& path, double***& stack) {
  const GridGeometry& g = o.geometry;
  NetcdfGrid first = ReadNetcdfForModule(o, path, 0, -1, -1, -1, -1, -1);
  const int n = first.recordCount - 1;
  const bool fits =
      LiesOnBasinCells(first.ncols, first.nrows, first.firstX, first.firstY, first.cellSize, g) && n >= 0;
  if (!fits) {
    Fail(o,
         "FATAL: \nError: " + path + " has not the specified stack measures (in " + o.name + ")\n" +
             LastChars(ZoneGridFileName(o), 35) + " <--vs.--> " + LastChars(path, 35) +
             "\n expected ncols: " + std::to_string(g.ncols) + " <-> read from stack: " +
             std::to_string(first.ncols) + "\n expected nrows: " + std::to_string(g.nrows) +
             " <-> read from stack: " + std::to_string(first.nrows) + "\n expected xll:   " +
             GeometryNumber(g.xllcorner) +
             " <-> read from stack: " + GeometryNumber(first.firstX) + "\n expected yll:   " +
             GeometryNumber(g.yllcorner) + " <-> read from stack: " + GeometryNumber(first.firstY) +
             "\n expected cs:" + GeometryNumber(g.cellsize) + " <-> read from stack: " +
             GeometryNumber(first.cellSize) + "\n expected levels:" + " at least 1" +
             " <-> read from stack: " + std::to_string(first.recordCount) +
             "\n\n netCDF stacks that are not meteorologic input data must still match the model domain structure "
             "as given by the first grid and the soil table",
         24);
  }
  stack = o.d3_matrix(1, g.nrows, 1, g.ncols, n);
  try {
    for (int l = 0; l <= n; ++l) {
      NetcdfGrid level = l == 0 ? std::move(first) : ReadNetcdfForModule(o, path, l, -1, -1, -1, -1, -1);
      for (int r = 1; r <= g.nrows; ++r)
        for (int c = 1; c <= g.ncols; ++c) stack[r][c][l] = level.values[r][c];
    }
  } catch (...) {
    o.Free3DMatrix(stack);
    stack = nullptr;
    throw;
  }
  return n;
}

}  // namespace

bool modelobject::ReadStateStack(const std::string& file, const std::string& what, const std::string& beside,
                                 const std::string& without, HeldStack& stack) {
  const std::string path = MakePath(output.inputDirectory, file);
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) {
    if (log) *log << "INFO: no " << what << " " << path << beside << ": " << without << "[end-entry]";
    NoteStateFileMissing(path, without);
    return false;
  }
  stack.Release();
  stack.top = ReadStack(file, stack.levels, 0);
  return true;
}

int modelobject::ReadStack(const std::string& fileName, double***& stack, int /*flag*/) {
  grid_io::SigintGuard guard;
  const std::string path = MakePath(output.inputDirectory, fileName);
  grid_io::File f(RegularOrMissing(path) ? std::fopen(path.c_str(), "rb") : nullptr);
  if (!f) Fail(*this, "FATAL: error opening " + path + FileOpenReason(path, false, errno), 21);
  RunFiles::Current().Opened(path, fileno(f.get()));  // held against other runs' writes before it is read
  if (log) *log << "reading " << path << " for " << name << "..." << "[end-entry]";
  unsigned char head[12 * sizeof(double)];
  const size_t got = std::fread(head, 1, sizeof head, f.get());
  std::fseek(f.get(), 0, SEEK_END);
  const double fileBytes = static_cast<double>(std::ftell(f.get()));
  int n = 0;
  switch (DetectKind(head, got, path, *this)) {
    case StackFileKind::Netcdf:
      f.Close();
      n = ReadNetcdfStack(*this, path, stack);
      break;
    case StackFileKind::Ascii:
      f.Close();
      n = ReadAsciiStack(*this, path, stack);
      break;
    case StackFileKind::BinaryDouble:
      n = ReadBinaryStack<double>(*this, path, f.get(), fileBytes, stack);
      break;
    case StackFileKind::BinarySingle:
      n = ReadBinaryStack<float>(*this, path, f.get(), fileBytes, stack);
      break;
    case StackFileKind::Unknown:
      Fail(*this,
           "FATAL: Error: could not recognize file format (ascii, single float or double float) for stack " + path,
           22);
  }
  if (!f.Close()) {
    Free3DMatrix(stack);
    stack = nullptr;
    Fail(*this, "FATAL: error closing stack (3) " + path, 23);
  }
  RunFiles& files = RunFiles::Current();
  if (files.Building()) files.Read("[" + name + "] stack " + fileName, path, RunFiles::When::StartOnly, stack, true);
  return n;
}
