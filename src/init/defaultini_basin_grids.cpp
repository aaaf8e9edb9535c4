// The basin grids: the zone grid, the elevation model and the standard grids, their
// descriptions in the control file, the geometry from the zone grid's header, and their
// reading or creation during the start-up.
#include <cerrno>
#include <algorithm>
#include <cmath>
#include <iterator>
#include <cstdio>
#include <cstring>

#include "framework/control_keys.h"
#include "framework/file_reason.h"
#include "framework/ctrl_c.h"
#include "framework/logstream.h"
#include "framework/text_helpers.h"
#include "grids/grid_codes.h"
#include "grids/grid_path.h"
#include "grids/grid_registry.h"
#include "grids/grid_reader.h"
#include "grids/netcdf_grid_io.h"
#include "init/defaultini.h"
#include "init/grid_keys.h"


void defaultini::ReadStandardGrids() {
  standardGrids.clear();
  standardGrids.resize(3);
  standardGridCount = 0;

  for (int p = 1; p <= 2; ++p) {
    const std::string section = p == 1 ? "[zone_grid]" : "[elevation_model]";
    SeekControlKey(section, true);
    ReadControlValue(standardGrids[p].fileName, " Name for ", kMaxFileName);
    standardGrids[p].internalName = section;
    standardGrids[p].where = section + ", " + controlFile.LineText(controlFile.LineNumber() - 1, controlFileName);
  }
  for (int p = 1; p <= 2; ++p) standardGrids[p].outName = standardGrids[p].fileName;

  SeekControlKey("[standard_grids]", true);
  int count = 0;
  ReadControlValue(count, "counter/number of grids ");
  const long countLine = controlFile.LineNumber() - 1;
  if (count > kMaxGridPosition - 2) {
    if (log)
      *log << "FATAL: error in control file, [standard_grids]: " << count << " grids do not fit the "
           << kMaxGridPosition << " positions of the grid registry" << "[end-entry]";
    throw 12;
  }
  for (int i = 1; i <= count; ++i) {
    standardGrids.emplace_back();
    StandardGridSpec& s = standardGrids.back();
    char text[160];
    std::snprintf(text, sizeof text, "\nerror reading a grid name or identifier %d in\n", i);

    // One line: file name, internal name, then either the fill code (old form) or keys.
    if (SectionEndsHere())
      CountBeyondSection(text, name, "[standard_grids]", countLine, count, i - 1, "grids (one line each)");
    if (!controlFile.ReadWord(s.fileName)) ControlFileKeyError(text, name);
    const long lineNumber = controlFile.LineNumber();
    std::string line = controlFile.RestOfLine();
    TextCursor rest(line);
    if (!rest.ReadWord(s.internalName)) ControlFileKeyError(text, name);
    const size_t afterNames = rest.Pos();
    int fill = 0;
    const bool oldForm = rest.ReadInt(fill);
    if (!oldForm) rest.Seek(afterNames);
    const std::string keys = line.substr(rest.Pos());
    if (s.fileName.size() > kMaxFileName || s.internalName.size() > kMaxInternalName) {
      if (log)
        *log << "FATAL: error in control file, standard grid " << i << ": file name (max. "
             << static_cast<unsigned long>(kMaxFileName) << ") or internal name (max. "
             << static_cast<unsigned long>(kMaxInternalName) << " characters) too long" << "[end-entry]";
      throw 17;
    }

    ReportUnknownKeys(log, "[standard_grids]", controlFile.LineText(lineNumber, controlFileName), keys,
                      {"fillcode", "readcode", "defaultValue", "writecode", "outname", "statfile", "statcode",
                       "periodicity", "persistent"});
    KeyReader k(*this, keys, "standard grid", i);
    TextCursor probe;
    if (!oldForm && !k.Find("fillcode", probe)) {
      std::snprintf(text, sizeof text,
                    "\nerror reading the fillcode for standard grid %d (found neither in old nor in new style "
                    "standard grid definition) in\n",
                    i);
      ControlFileKeyError(text, name);
    }
    k.Int("fillcode", s.fillCode, fill);
    k.Int("readcode", s.readCode, 1);
    k.Double("defaultValue", s.defaultValue, 0.0);
    k.Int("writecode", s.writeCode, 0);
    k.Word("outname", s.outName, s.fileName, kMaxFileName);
    k.Word("statfile", s.statFile, std::string(), kMaxFileName);
    k.Int("statcode", s.statCode, 0);
    k.Periodicity(s);
    k.Persistent(s);
    s.blockCounter = 0;
    s.stepCounter = 0;
    s.lastComponent[0] = s.lastComponent[1] = 9999;
    s.restorePending = false;
    s.stepsSinceReading = 0;

    if (grids && s.internalName == "latitude") {
      if (log) *log << "found latitude grid on position: " << i << "[end-entry]";
      grids[0].latitudePosition = i + 2;
    } else if (grids && s.internalName == "longitude") {
      if (log) *log << "found longitude grid on position: " << i << "[end-entry]";
      grids[0].longitudePosition = i + 2;
    }
  }
  standardGridCount = count < 0 ? 0 : count;
  run.standardGridCount = standardGridCount;

  // The positions are taken now, so that grids made later come behind them.
  for (int p = 1; p < static_cast<int>(standardGrids.size()); ++p)
    Register(p, standardGrids[p].fileName, nullptr, standardGrids[p].internalName, 0);
}

void defaultini::ReadRadiationCorrection() {
  SeekControlKey("[radiation_correction]", true);
  ReadControlValue(radiationCorrection, "[radiation_correction]");
}

void defaultini::ReadGridHeader(GridGeometry& header) {
  const std::string& file = standardGrids.size() > 1 ? standardGrids[1].fileName : controlFileName;
  HeaderOf(file, header, true, standardGrids.size() > 1 ? standardGrids[1].where : std::string());
  // The model's no-data value marks the cells without a value in every grid it holds, and a
  // cell is valid where its value lies above it. It is -9999 whatever the zone grid's. One
  // that data take (0 of an integer raster: an empty snow storage, a temperature of 0
  // degrees) would make such values holes. One below (-99999, the -2147483648 of integer
  // rasters, the -3.4028235e38 of float rasters) would stand in every grid the run writes:
  // a binary grid is known by its -9999, so the next run of a chain could not read its state
  // grids, and an ASCII grid would write those cells in fewer digits than its header. A file
  // marks a cell as missing with its own no-data value (and, where that lies below -9999, any
  // value down from it).
  if (header.nodata_value == kModelNodata) return;
  const bool taken = header.nodata_value > kModelNodata;
  if (log)
    *log << "INFO: the zone grid " << file
         << (standardGrids.size() > 1 && !standardGrids[1].where.empty() ? " (" + standardGrids[1].where + ")"
                                                                          : std::string())
         << " marks the cells outside the basin with the no-data value " << NumberText(header.nodata_value)
         << (taken ? std::string(", a value that data take (an empty storage, a temperature)")
                   : std::string(std::isnan(header.nodata_value) ? " of float rasters" : ", below the model's") +
                         ": the grids the run writes would carry it, and the next run of a chain could not read its "
                         "binary state grids")
         << ": the model marks cells without a value "
         << "with " << NumberText(kModelNodata) << " instead, in the grids it reads and writes, and takes a cell of "
         << "another grid file as missing only where that file's own no-data value stands"
         << (taken || std::isnan(header.nodata_value) ? "" : " (or a value below it)") << "[end-entry]";
  header.nodata_value = kModelNodata;
}

bool defaultini::HeaderOf(const std::string& fileName, GridGeometry& header, bool setsTheBasin,
                          const std::string& where) {
  // A netCDF name may carry the variable and the record ("dem.nc<elevation>0").
  const std::string file = fileName.substr(0, fileName.find('<'));
  IgnoreCtrlC();
  struct Restore {
    ~Restore() { DisableCtrlCHandler(); }
  } restore;

  const std::string path = MakePath(output.inputDirectory, file);
  std::FILE* f = RegularOrMissing(path) ? std::fopen(path.c_str(), "rb") : nullptr;
  if (!f) {
    const int e = errno;
    if (log) {
      *log << "FATAL: error opening " << file << FileOpenReason(path, false, e);
      if (!where.empty()) *log << "; it is named in " << where << ": name an existing grid file there";
      *log << "[end-entry]";
    }
    throw 21;
  }
  struct Closer {
    std::FILE*& f;
    ~Closer() {
      if (f) std::fclose(f);
    }
  } closer{f};
  auto fail = [&](const std::string& message, int code) {
    if (log) *log << "FATAL: " << message << "[end-entry]";
    throw code;
  };

  unsigned char head[96] = {};
  const size_t got = std::fread(head, 1, sizeof head, f);
  const GridFileFormat format = DetectGridFormat(std::string(reinterpret_cast<char*>(head), got));
  if (format == GridFileFormat::Netcdf) {
    FILE* toClose = f;
    f = nullptr;
    if (std::fclose(toClose) != 0) fail("error closing grid " + file, 23);
    return NetcdfHeaderOf(MakePath(output.inputDirectory, fileName), header, setsTheBasin);
  }
  long long fileSize = -1;
  if (std::fseek(f, 0, SEEK_END) == 0) fileSize = std::ftell(f);
  double values[12] = {};
  long long valueBytes = 0;  // bytes after the header
  int valueWidth = 0;        // bytes of a binary value; 0: ASCII
  if (format == GridFileFormat::Ascii) {
    // ASCII: the header's keys and numbers in the first lines.
    std::string text(reinterpret_cast<char*>(head), got);
    char more[4096];
    std::fseek(f, static_cast<long>(got), SEEK_SET);
    const size_t extra = std::fread(more, 1, sizeof more, f);
    text.append(more, extra);
    const size_t mark = ByteOrderMarkLength(text);
    TextCursor c(text);
    c.Seek(mark);
    std::string problem;
    AsciiGridHeader a;
    int pair = 0;
    if (!ReadAsciiGridHeader(c, a, problem, pair)) fail("error reading " + file + ": " + problem, 22);
    const double read[6] = {a.ncols, a.nrows, a.xll, a.yll, a.cellsize, a.nodata};
    std::copy(read, read + 6, values);
    valueBytes = fileSize - static_cast<long long>(c.Pos());
  } else {
    double d[12];
    float fl[12];
    std::memcpy(d, head, sizeof d);
    std::memcpy(fl, head, sizeof fl);
    if (got >= 48 && d[5] == -9999.0) {
      if (got < sizeof d) fail("error reading double value from the header of " + file, 22);
      for (int k = 0; k < 12; ++k) values[k] = d[k];
      valueWidth = 8;
    } else if (got >= 24 && fl[5] == -9999.0f) {
      valueWidth = 4;
      for (int k = 0; k < 12; ++k) {
        if (got < (k + 1) * sizeof(float))
          fail("error reading double value #" + std::to_string(k + 1) + " from the header of " + file, 22);
        values[k] = fl[k];
      }
    } else {
      fail("could not recognise file format (ascii, float or double) for " + file, 22);
    }
  }
  FILE* toClose = f;
  f = nullptr;
  if (std::fclose(toClose) != 0) fail("error closing grid " + file, 23);

  // The model domain must be a usable grid.
  if (!(values[0] >= 1 && values[1] >= 1 && std::isfinite(values[0]) && std::isfinite(values[1]) &&
        std::isfinite(values[2]) && std::isfinite(values[3]) && values[4] > 0 && std::isfinite(values[4]) &&
        !std::isinf(values[5])))
    fail("error reading " + file + ": the header does not describe a grid (ncols and nrows at least 1, "
         "cellsize above 0)", 22);
  const double cells = std::floor(values[0]) * std::floor(values[1]);
  if (cells > kMaxBasinCells)
    fail("error reading " + file + ": its header gives " + NumberText(std::floor(values[0])) + " x " +
             NumberText(std::floor(values[1])) + " = " + CellCountText(values[0], values[1]) +
             " cells, more than the " + NumberText(kMaxBasinCells) + " cells the program can address",
         22);
  // The file must hold the cells its header claims before the model domain is allocated for them.
  const bool holds = valueWidth == 0 ? AsciiGridCanHold(valueBytes, std::floor(values[0]), std::floor(values[1]))
                                     : static_cast<double>(fileSize) == (12.0 + cells) * valueWidth;
  if (!holds)
    fail("error reading " + file + ": the file holds " + std::to_string(fileSize) + " bytes, which cannot be the " +
             std::to_string(static_cast<long long>(values[0])) + " x " +
             std::to_string(static_cast<long long>(values[1])) + " cells of its header",
         22);
  header.ncols = static_cast<int32_t>(std::floor(values[0]));
  header.nrows = static_cast<int32_t>(std::floor(values[1]));
  header.xllcorner = values[2];
  header.yllcorner = values[3];
  header.cellsize = values[4];
  header.nodata_value = values[5];
  return true;
}

bool defaultini::NetcdfHeaderOf(const std::string& name, GridGeometry& header, bool setsTheBasin) {
  // The field itself, as the grid reader takes it at the start-up: its dimensions, cell size
  // and coordinates.
  const NetcdfGrid nc = ReadNetcdfForStep(*this, name);
  const std::string file = nc.fileName;
  header.ncols = nc.ncols;
  header.nrows = nc.nrows;
  // The elevation model is copied onto the basin cell by cell; the reader checks then that
  // its coordinates put it on the basin's cells.
  if (!setsTheBasin) return false;
  RequireNetcdfCellSize(*this, nc);
  const NetcdfFileCache& cache = NetcdfCacheOf(*this);
  if (cache.xAxis.count == 0 || cache.yAxis.count == 0) {
    if (log)
      *log << "FATAL: error reading " << file << ": the netCDF zone grid sets the basin's place, but the file has no "
           << (cache.xAxis.count == 0 ? "x" : "y") << " coordinate variable (\"x\" and \"y\", the cells' "
           << "coordinates along the dimensions of the grid)" << "[end-entry]";
    throw 22;
  }
  // Coordinates give the cells' centres; this program's writer, which marks its files with
  // "default_cellsize", gives their western and southern edges.
  const double cellsize = std::fabs(nc.cellSize);
  const double toEdge = cache.cellSizeAttribute ? 0.0 : 0.5 * cellsize;
  header.xllcorner = cache.xAxis.Lowest() - toEdge;
  header.yllcorner = cache.yAxis.Lowest() - toEdge;
  header.cellsize = cellsize;
  header.nodata_value = geometry.nodata_value;
  return true;
}

// Start-up step 6: geometry, zone grid, elevation model and river links.
void defaultini::ReadBasinGrids() {
  ReadGridHeader(geometry);
  run.geometry = geometry;
  run.firstRow = 1;
  run.lastRow = geometry.nrows;

  // The elevation model must share the zone grid's geometry: the derived grids combine both.
  // A netCDF elevation model gives its columns and rows here; the grid reader sets its
  // coordinates against the basin's as it reads it.
  bool netcdfElevation = false;
  {
    const GridGeometry& zone = geometry;
    GridGeometry dem;
    const bool placed = HeaderOf(standardGrids[2].fileName, dem, false, standardGrids[2].where);
    netcdfElevation = !placed;
    if (!placed) {
      dem.cellsize = zone.cellsize;
      dem.xllcorner = zone.xllcorner;
      dem.yllcorner = zone.yllcorner;
    }
    // The one rule of the grid reader: float noise, or a corner in the same whole metres.
    if (!LiesOnBasinCells(dem.ncols, dem.nrows, dem.xllcorner, dem.yllcorner, dem.cellsize, zone)) {
      if (log)
        *log << "FATAL: the elevation model " << standardGrids[2].fileName << " ("
             << GeometryText(dem.ncols, dem.nrows, dem.cellsize, dem.xllcorner, dem.yllcorner)
             << ") does not have the geometry of the zone grid " << standardGrids[1].fileName << " ("
             << GeometryText(zone.ncols, zone.nrows, zone.cellsize, zone.xllcorner, zone.yllcorner) << ")"
             << "[end-entry]";
      throw 22;
    }
  }

  for (int p = 1; p <= 2; ++p) {
    double** g = nullptr;
    ReadGrid(standardGrids[p].fileName, g, 0, true, true, false, 0.0);
    AdoptGrid(g);
    Register(p, standardGrids[p].fileName, g, standardGrids[p].internalName, 0);
  }
  zoneGrid = GridData(1);
  elevationModel = GridData(2);
  MarkCellsOutsideTheBasin();
  if (netcdfElevation && log)
    *log << "INFO: the elevation model " << standardGrids[2].fileName << " (" << standardGrids[2].where
         << ") is a netCDF file: it is copied onto the basin cell by cell and masked by the zone grid, as every "
            "netCDF grid the start-up reads, so it holds no elevation outside the basin. The slope and aspect of "
            "a cell at the basin's edge are then taken from its neighbours inside the basin; from an ASCII or "
            "binary elevation model, which keeps the cells beyond the edge, they differ there"
         << "[end-entry]";
  ReportElevationGaps();

  const int links = StandardGridPosition("river_links");
  if (links > 0) {
    StandardGridSpec& s = standardGrids[links];
    double** g = nullptr;
    ReadStartupGrid(s, g, "standard_grids");
    AdoptGrid(g);
    Register(links, s.fileName, g, s.internalName, s.writeCode);
  }
}

// A zone cell lies in the basin where its value lies above the no-data value. One below it
// (-9999.0001 of a float export, -10000) lies outside for every module: it is set to the
// no-data value itself, which some modules compare cells with.
void defaultini::MarkCellsOutsideTheBasin() {
  const double nodata = geometry.nodata_value;
  long marked = 0;
  int row = 0, column = 0;
  double first = 0.0;
  for (int r = 1; r <= geometry.nrows; ++r)
    for (int c = 1; c <= geometry.ncols; ++c) {
      double& v = zoneGrid[r][c];
      if (v > nodata || v == nodata) continue;
      if (marked++ == 0) row = r, column = c, first = v;
      v = nodata;
    }
  if (marked == 0 || !log) return;
  *log << "INFO: the zone grid " << standardGrids[1].fileName << " holds " << marked
       << (marked == 1 ? " cell" : " cells") << " below the no-data value " << NumberText(nodata) << " (the first "
       << NumberText(first) << " at row " << row << ", column " << column
       << "): a cell lies in the basin where its value lies above the no-data value, so these lie outside it for "
          "every module"
       << "[end-entry]";
}

// The elevation model is read without filling its gaps ([elevation_model] gives no fill
// code), so a cell of the basin without an elevation keeps the no-data value as one.
void defaultini::ReportElevationGaps() const {
  long gaps = 0;
  int row = 0, column = 0;
  for (int r = 1; r <= geometry.nrows; ++r)
    for (int c = 1; c <= geometry.ncols; ++c) {
      if (!IsBasinCell(r, c) || elevationModel[r][c] > geometry.nodata_value) continue;
      if (gaps++ == 0) row = r, column = c;
    }
  if (gaps == 0 || !log) return;
  *log << "WARNING: the elevation model " << standardGrids[2].fileName << " (" << standardGrids[2].where
       << ") holds no elevation in " << gaps << (gaps == 1 ? " cell" : " cells") << " of the basin (the zone grid's "
       << "cells), the first at row " << row << ", column " << column << ": it is read as it is, without filling "
       << "gaps (fill code 0), so " << (gaps == 1 ? "this cell takes" : "these cells take") << " the no-data value "
       << NumberText(geometry.nodata_value) << " as " << (gaps == 1 ? "its elevation" : "their elevation")
       << " wherever one is used (values interpolated by elevation, the radiation correction); the fix days of the "
          "land-use table are not shifted by altitude there, as at 400 m. Give every cell of the zone grid an "
          "elevation, or leave such a cell out of the zone grid"
       << "[end-entry]";
}

bool ReadAsCodes(const std::string& internalName) {
  static const char* const kCodes[] = {"lake_codes", "zonegrid_soilmodel", "regression_regions",
                                       "regression_regions2", "regression_regions3", "HydrologicResponseUnits",
                                       "MasterHydrologicResponseUnits", "river_links"};
  return IsCodeGrid(internalName) ||
         std::find(std::begin(kCodes), std::end(kCodes), internalName) != std::end(kCodes);
}

bool WrittenAsState(int writeCode) {
  const int units = writeCode % 10;
  return units >= 1 && units <= 7;
}

namespace {

// A glacier's cells are listed by code and fraction cell by cell: a resampled grid would
// move or smear glaciers over the basin (and a grid of another size is a wrong file).
bool GlacierCellByCell(const std::string& internalName) {
  static const char* const kCellByCell[] = {"ice_firn", "GlacierizedCells", "GlacierCodes"};
  return std::find(std::begin(kCellByCell), std::end(kCellByCell), internalName) != std::end(kCellByCell);
}

}  // namespace

bool NeededInEveryBasinCell(const std::string& internalName, int writeCode) {
  // The glacier grids mark glaciers by their cells and codes mark classes: a cell without
  // a value is meaningful there (or named by the code checks).
  if (ReadAsCodes(internalName) || GlacierCellByCell(internalName)) return false;
  // The elevation model's gaps are warned of; area weights and regions mark cells they
  // leave out by having no value.
  static const char* const kSparse[] = {"elevation", "RelCellArea", "MPIRegions"};
  if (std::find(std::begin(kSparse), std::end(kSparse), internalName) != std::end(kSparse)) return false;
  // A state the run writes again, the soil moisture it starts from, the topographic index of
  // every soil cell.
  return WrittenAsState(writeCode) || internalName == "soil_storage" || internalName == "topographic_faktor";
}

void defaultini::ReadStartupGrid(const StandardGridSpec& spec, double**& grid, const std::string& section) {
  struct Reading {
    modelobject& o;
    Reading(modelobject& self, const StandardGridSpec& s, const std::string& section) : o(self) {
      o.readGridName = "[" + section + "] " + s.internalName;
      o.readCodes = ReadAsCodes(s.internalName);
      o.readIsState = WrittenAsState(s.writeCode);
    }
    ~Reading() {
      o.readGridName.clear();
      o.readCodes = false;
      o.readIsState = true;
    }
  } reading(*this, spec, section);
  const EveryBasinCellScope everyCell(*this, NeededInEveryBasinCell(spec.internalName, spec.writeCode));
  if (GlacierCellByCell(spec.internalName))
    ReadBasinGrid(spec.fileName, grid, spec.fillCode, true, true, false, spec.defaultValue);
  else
    ReadGrid(spec.fileName, grid, spec.fillCode, true, true, false, spec.defaultValue);
}

// Start-up step 8: every other standard grid, the variable grids, and the grids that ask
// to be written once.
void defaultini::MakeStandardGrids() {
  const int last = std::min(standardGridCount + 2, static_cast<int>(standardGrids.size()) - 1);
  const int firstRow = 1, lastRow = geometry.nrows;
  for (int p = 3; p <= last; ++p) {
    StandardGridSpec& s = standardGrids[p];
    if (GridData(p) || s.internalName == "river_links") continue;
    double** g = nullptr;
    if (s.readCode < 1) {
      g = NewOwnedGrid(firstRow, lastRow);
      for (int r = firstRow; r <= lastRow; ++r)
        for (int c = 1; c <= geometry.ncols; ++c)
          g[r][c] = IsBasinCell(r, c) ? s.defaultValue : geometry.nodata_value;
    } else {
      ReadStartupGrid(s, g, "standard_grids");
      AdoptGrid(g);
    }
    Register(p, s.fileName, g, s.internalName, s.writeCode);
    UseOutputName(p);
    if (!s.persistent) {
      s.startValues.reset(matrix(firstRow, lastRow, 0, geometry.ncols));
      for (int r = firstRow; r <= lastRow; ++r)
        for (int c = 1; c <= geometry.ncols; ++c) s.startValues[r][c] = g[r][c];
    }
  }
  if (log) *log << "before reading variable grids" << instanceNumber << "[end-entry]";
  ReadVariableGrids();
  for (int p = 3; p <= last; ++p)
    if (standardGrids[p].writeCode == 8) WriteGridOnce(p);
  MakeCodesWhole();
}

void defaultini::MakeCodesWhole() {
  for (const char* name : {"lake_codes", "GlacierCodes", "ice_firn"}) {
    const int p = FindGrid(name);
    double** g = p > 0 ? GridData(p) : nullptr;
    if (!g) continue;
    for (int r = 1; r <= geometry.nrows; ++r)
      if (g[r])
        for (int c = 1; c <= geometry.ncols; ++c) g[r][c] = WholeIfNear(g[r][c]);
  }
}
