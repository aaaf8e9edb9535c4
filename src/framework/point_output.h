// Special output: time series of grid values at chosen points ("[special_output]",
// optional: without the section the module is switched off).
//
// Each output file lists entities; an entity names one registered grid by its internal
// name and a list of points in map coordinates, optionally with a level per point for
// grids that are stacks. Every step buffers one row per file; full buffers and, at the
// end of the run, the remaining rows are appended to the files as tab-separated text.
//
//   point_output.cpp          the module: section, file blocks, per-step collection
//   point_output_file.cpp     output files and entities, header and row formats
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "framework/teilmod.h"

class LogStream;
class SpecialOutputClass;
class SpecialOutputFile;

// Bytes of row buffer per output file.
constexpr int64_t kSpecialOutputBufferBytes = 2097152;

// Rows a file buffers when each row holds valueCount values.
int64_t SpecialOutputCapacity(int64_t valueCount);

// The cell of a point, 1-based (row 1 is the northernmost row). A point on the boundary
// between two columns belongs to the western one, between two rows to the northern one.
// The results may lie outside the grid; they are clamped to the int range.
int PointColumn(double x, double xllcorner, double cellsize);
int PointRow(double y, double yllcorner, double cellsize, int nrows);

// Where the file objects find the grids and the cells of this instance.
struct SpecialOutputContext {
  LogStream* log = nullptr;
  GridRecord* grids = nullptr;
  GridGeometry geometry;
  std::string outputDirectory;
  int instanceNumber = 0;
  // Runs of steps under an hour write the minute after the hour ("mm"), as the statistics
  // files do; hourly and daily runs keep the four date columns.
  bool minuteColumn = false;
  double** regions = nullptr;  // "MPIRegions": the instance number of every active cell; null: all cells
  int firstRow = 1;            // rows this instance holds
  int lastRow = 0;
};

// One entity: a grid and its points.
class SpecialOutputEntity {
 public:
  // Reads ID, Symbol, Xcoords, Ycoords and Level from the entity text and locates the
  // points. Throws 104 for a missing ID or Symbol, 1006 / 1007 for coordinate and level
  // counts that do not match, 1008 for a point outside the grid.
  SpecialOutputEntity(const SpecialOutputContext& context, const std::string& text);

  // Registry position of the grid of that internal name (1..999), 0 when none.
  static int FindGrid(const GridRecord* grids, const std::string& internalName);
  // Writes the point values into values[firstColumn..]; returns the column after them.
  int CollectValues(const SpecialOutputContext& context, double* values, int firstColumn) const;

  int PointCount() const { return static_cast<int>(columns.size()); }
  // The column titles of the two title lines of the file.
  std::string CellTitles() const;
  std::string CoordinateTitles() const;

  std::string id, symbol;
  std::vector<double> x, y;
  std::vector<int> levels;  // empty, or one per point
  std::vector<int> columns, rows;
  int gridPosition = 0;
};

// One output file with its entities and row buffer.
class SpecialOutputFile {
 public:
  // Reads one file block (filename, header, entities), sizes the row buffer and, on
  // instance 0, creates the file with its three title lines. Throws like the entities,
  // 104 for a missing filename or header, 1007 when the file cannot be created.
  SpecialOutputFile(const SpecialOutputContext& context, const std::string& blockText);
  // Writes the rows still buffered, unless DiscardBufferedOutput is set or the last write
  // failed; a failure is named and noted for the end of the run (NoteUnraisedWriteFailure).
  ~SpecialOutputFile();
  SpecialOutputFile(const SpecialOutputFile&) = delete;
  SpecialOutputFile& operator=(const SpecialOutputFile&) = delete;

  // Puts the directory in front of a relative name (one not beginning with "/" or "~").
  static std::string MakePath(const std::string& directory, const std::string& name);

  void CollectValues(int64_t minute, int64_t hour, int64_t day, int64_t month, int64_t year);
  // WriteRows when rows are buffered.
  void Flush();
  // Appends the buffered rows to the file and empties the buffer; throws 65 when the
  // file cannot be opened or written (the file then keeps whole rows only and the rows
  // stay buffered).
  void WriteRows();

  int64_t RowCount() const { return rowCount; }
  int64_t Capacity() const { return capacity; }
  int ValueCount() const { return valueCount; }
  const std::string& FileName() const { return fileName; }
  const std::vector<SpecialOutputEntity>& Entities() const { return entities; }

 private:
  double* RowValues(int64_t row) { return values.data() + (row - 1) * (valueCount + 1); }

  const SpecialOutputContext& context;
  std::string header;
  std::string fileName;
  std::vector<SpecialOutputEntity> entities;
  int valueCount = 0;
  int64_t capacity = 0;
  int64_t rowCount = 0;
  std::vector<std::array<int64_t, 5>> dates;  // year, month, day, hour, minute of rows 1..capacity
  std::vector<double> values;                 // rows 1..capacity of values 0..valueCount (0 unused)
  bool newRow = true;
  bool writeFailed = false;  // the last WriteRows failed
};

class SpecialOutputClass : public teilmodellklasse {
 public:
  // Builds the module and its files. Failures are returned through error (0 = success):
  // the code of the failing check, or 104 for missing lines or settings. Files built
  // before a failure stay.
  SpecialOutputClass(int& error, const ModuleInputs& in, int intParam);
  ~SpecialOutputClass() override;

  // One row per file for the current step.
  virtual void CollectValues(int64_t minute, int64_t hour, int64_t day, int64_t month, int64_t year);
  // Writes the buffered rows of every file, each also after another one failed; throws
  // the first failure's code (65).
  virtual void FlushAll();
  // Releases every file (each writes its remaining rows first).
  void DeleteModule() override;

  const std::vector<std::unique_ptr<SpecialOutputFile>>& Files() const { return files; }

  std::string outputDirectory;
  int fileCount = 0;
  double** regionGrid = nullptr;  // "MPIRegions"

 private:
  void Build();
  // The next whole file block of the section (block `number`): lines up to the one that
  // closes its braces. A section that ends (at the next section or at the end of the file)
  // before the block begins ends the run naming "numfiles".
  std::string ReadFileBlock(int number);

  SpecialOutputContext context;
  std::vector<std::unique_ptr<SpecialOutputFile>> files;
};
