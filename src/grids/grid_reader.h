// Pieces of the grid reader (modelobject::ReadGrid) that tests and tools use alone: the
// wait between attempts to open a file, format recognition and the ring search of the
// hole filling.
#pragma once

#include <functional>
#include <string>

class TextCursor;

// The wait between two attempts to open a grid file. The default sleeps for real on a
// steady clock and ends early on SIGTERM, SIGHUP or SIGINT (the run then ends); tests
// install their own. An empty function restores the default.
using GridRetrySleeper = std::function<void(int milliseconds)>;
void SetGridRetrySleeper(GridRetrySleeper sleeper);

enum class GridFileFormat { Netcdf, Ascii, BinaryDouble, BinarySingle, Gif, Unknown };

// Recognises a grid file by its first bytes (up to 96 are looked at). An ASCII grid may
// begin with a UTF-8 byte-order mark, as editors save it.
GridFileFormat DetectGridFormat(const std::string& firstBytes);

// The value that fills a hole at (row, col): the first cell not equal to nodata in rings
// 1..10 around it (ring d: rows row-d..row+d, the k-th of them columns col-k..col+k).
// False when none of the rings holds one.
bool FindRingValue(double** grid, int nrows, int ncols, int row, int col, double nodata, double& value);

// The lower-left corner of an ASCII grid header from its "xllcorner"/"yllcorner" value, or
// from an "xllcenter"/"yllcenter" value (the centre of the lower-left cell, half a cell in).
// Keywords count in any case.
double LowerLeftCorner(const std::string& keyword, double value, double cellsize);

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

// The six header lines of an ASCII grid ("ncols", "nrows", "xllcorner", "yllcorner",
// "cellsize", "NODATA_value"; the keywords play no part but for a corner given as a
// centre). The no-data line may be left out: where a number follows the cell size, the
// values begin there, values[5] is -9999 and words[5] is empty. Returns as ReadHeaderPairs.
int ReadAsciiGridHeader(TextCursor& cursor, std::string words[6], double values[6], std::string& problem);

// A word of a file for a message, in quotes, cut after 40 characters.
std::string QuotedWord(const std::string& word);

// Largest number of columns or rows a grid file may declare.
constexpr double kMaxGridDimension = 1.0e7;

// The no-data value of the model where the zone grid's is one that data take (any value
// above it): below every value the model's grids hold.
constexpr double kModelNodata = -9999.0;

// Most cells a basin may have: just below 2^31, which 32-bit cell counts reach.
constexpr double kMaxBasinCells = 2.0e9;

// The number of cells of a header's ncols x nrows (their whole parts), every digit of it
// while it fits 64 bits.
std::string CellCountText(double ncols, double nrows);
