// Pieces of the grid reader (modelobject::ReadGrid) that tests and tools use alone: the
// wait between attempts to open a file, format recognition and the ring search of the
// hole filling.
#pragma once

#include <functional>
#include <string>

class TextCursor;
struct GridGeometry;

// The wait between two attempts to open a grid file. The default sleeps for real on a
// steady clock and ends early on SIGTERM, SIGHUP or SIGINT (the run then ends); tests
// install their own. An empty function restores the default.
using GridRetrySleeper = std::function<void(int milliseconds)>;
void SetGridRetrySleeper(GridRetrySleeper sleeper);

enum class GridFileFormat { Netcdf, Ascii, BinaryDouble, BinarySingle, Gif, Unknown };

// Recognises a grid file by its first bytes (up to 96 are looked at). An ASCII grid begins
// with one of its header keys (IsAsciiGridKey), after blanks and a UTF-8 byte-order mark as
// editors save it.
GridFileFormat DetectGridFormat(const std::string& firstBytes);

// The value that fills a hole at (row, col): the first cell not equal to nodata in rings
// 1..10 around it (ring d: rows row-d..row+d, the k-th of them columns col-k..col+k).
// False when none of the rings holds one.
bool FindRingValue(double** grid, int nrows, int ncols, int row, int col, double nodata, double& value);

// Whether `bytes` of ASCII values can hold ncols x nrows values: each needs at least one
// character and a separator. Checked before a grid is allocated for them.
bool AsciiGridCanHold(long long bytes, double ncols, double nrows);

// Reads `count` pairs of a keyword and a number, as grid headers hold them. 0 when all are
// read; otherwise the number (from 1) of the pair that is not, with what is wrong in
// `problem` (its keyword and the text that stands for its value).
// A value is its whole word ("1000.5.2" is none). firstNumber: the number of the first pair
// in the file, for the message.
int ReadHeaderPairs(TextCursor& cursor, int count, std::string* keys, double* values, std::string& problem,
                    int firstNumber = 1);

// The no-data value of the model where the zone grid's is one that data take (any value
// above it): below every value the model's grids hold.
constexpr double kModelNodata = -9999.0;

// The header of an ASCII grid: its lower-left corner (from "xllcenter"/"yllcenter", the
// centre of the lower-left cell, half a cell further in), its cell size (from "cellsize", or
// from "dx" and "dy" where they agree) and its no-data value (-9999 where the file gives
// none, NaN for "nan").
struct AsciiGridHeader {
  double ncols = 0, nrows = 0, xll = 0, yll = 0, cellsize = 0, nodata = kModelNodata;
};

// Reads the keys of an ASCII grid header by name, in any order and any case ("ncols",
// "nrows", "xllcorner" or "xllcenter", "yllcorner" or "yllcenter", "cellsize" or "dx" and
// "dy", "NODATA_value"), up to the first word that begins like a number: the values. Every
// key but the no-data value is needed. False when the header cannot be read: `problem` says
// why, and `pair` is the number (from 1) of the key whose value is wrong, or 0 for the header
// as a whole (a key missing, given twice, or unknown; dx and dy that differ).
bool ReadAsciiGridHeader(TextCursor& cursor, AsciiGridHeader& h, std::string& problem, int& pair);

// Whether a word is a header key of an ASCII grid (in any case).
bool IsAsciiGridKey(const std::string& word);

// The bytes a DOS copy or a padded transfer leaves behind the last value of a text file
// (0x1A, the DOS end-of-file mark, and NUL bytes, with blanks among them) are no part of it:
// the text is cut before them.
void CutEndOfFileBytes(std::string& text);

// Float noise in a grid's geometry: a cell size or corner within a millionth of a cell of the
// basin's (199.99999999999997 for 200, 454799.99999999994 for 454800) is the basin's.
constexpr double kGeometryNoise = 1e-6;

// Whether a grid of ncols x nrows cells of `cellsize` with the lower-left corner xll/yll lies
// on the basin's cells g, so that its cells are the basin's: the same columns and rows, the
// cell size within float noise of the basin's, and each corner in the same whole metres as
// the basin's or within `cornerTolerance` cells of it.
bool LiesOnBasinCells(double ncols, double nrows, double xll, double yll, double cellsize, const GridGeometry& g,
                      double cornerTolerance = kGeometryNoise);

// A corner or cell size for a message: ten significant digits, or as many more as tell it
// from its neighbours (454799.99999999994, not 454800).
std::string GeometryNumber(double v);
// A grid's geometry for a message: "32 x 25 cells of 1000 at 454800/4158000", every number
// with the digits that tell it from its neighbours (two geometries never read alike).
std::string GeometryText(double ncols, double nrows, double cellsize, double xll, double yll);

// A word of a file for a message, in quotes, cut after 40 characters.
std::string QuotedWord(const std::string& word);

// Largest number of columns or rows a grid file may declare.
constexpr double kMaxGridDimension = 1.0e7;

// Most cells a basin may have: just below 2^31, which 32-bit cell counts reach.
constexpr double kMaxBasinCells = 2.0e9;

// The number of cells of a header's ncols x nrows (their whole parts), every digit of it
// while it fits 64 bits.
std::string CellCountText(double ncols, double nrows);
