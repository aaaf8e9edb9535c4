// modelobject::ReadGrid: opens a grid file (waiting and trying again while it cannot be
// opened), recognises its format by its first bytes, reads ASCII, binary, GIF or netCDF
// grids onto the model grid (resampling grids of another geometry) and fills no-data
// holes inside the basin. modelobject::ReadBasinGrid reads grids that must lie on the
// basin's grid and refuses every other.
#include "grids/grid_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

#include "framework/file_reason.h"
#include "framework/module_log.h"
#include "framework/logstream.h"
#include "framework/modelobject.h"
#include "framework/run_files.h"
#include "framework/text_helpers.h"
#include "grids/gif_reader.h"
#include "grids/grid_io_internal.h"
#include "grids/grid_path.h"
#include "grids/grid_registry.h"
#include "grids/netcdf_grid_io.h"

namespace {

GridRetrySleeper& Sleeper() {
  static GridRetrySleeper sleeper;
  return sleeper;
}

// The wait before the next attempt to open a file: false when the program was asked to end
// (SIGTERM, SIGHUP, or SIGINT, which the wait does not ignore) before or during it.
bool WaitToTryAgain(int milliseconds) {
  const SignalAwareWait wait;
  if (!Sleeper()) return wait.Sleep(milliseconds);
  Sleeper()(milliseconds);
  return TerminationSignal == 0;
}

const int kOpenAttempts = 6;
const int kRetryWaitMs = 200;

[[noreturn]] void Fail(const modelobject& o, const std::string& text, int code) {
  if (o.log) *o.log << text << "[end-entry]";
  throw code;
}

// Opens a regular file for reading without waiting (a FIFO made under the name since it was
// looked at would wait for a writer for ever); null with errno set, or with kind set to what
// stands there when it is no regular file.
std::FILE* OpenRegularFile(const std::string& path, std::string& kind) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    kind = KindOfFile(st.st_mode);
    ::close(fd);
    return nullptr;
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  std::FILE* f = ::fdopen(fd, "rb");
  if (!f) ::close(fd);
  return f;
}

std::FILE* OpenWithRetries(const modelobject& o, const std::string& path) {
  // A grid read because a read flag asks for it: that flag and its section.
  const std::string asked =
      o.readFlagNote.empty()
          ? std::string()
          : " (read for " + o.readFlagNote + ": " +
                (o.readFlagAdvice.empty() ? "name the file the run before wrote, or set the flag to 0 to start without it"
                                          : o.readFlagAdvice) +
                ")";
  if (!RegularOrMissing(path)) Fail(o, "FATAL: error opening " + path + FileOpenReason(path, false, 0) + asked, 21);
  for (int attempt = 1;; ++attempt) {
    // Looked at again before every attempt: what stands under the name may change while it
    // is retried.
    std::string kind = NotARegularFile(path);
    std::FILE* f = kind.empty() ? OpenRegularFile(path, kind) : nullptr;
    if (f) return f;
    const int e = errno;
    if (!kind.empty()) Fail(o, "FATAL: error opening " + path + " (" + kind + ", not a regular file)" + asked, 21);
    // A loop of links never opens.
    const int left = e == ELOOP ? 0 : kOpenAttempts - attempt;
    if (left <= 0)
      Fail(o, std::string(attempt > 1 ? "FATAL: still error opening " : "FATAL: error opening ") + path +
                  " - no retry." + FileOpenReason(path, false, e) + asked,
           21);
    if (o.log)
      *o.log << "WARNING: error opening " << path << ". Will try again in " << kRetryWaitMs
             << " ms... (retriesleft = " << left << ")"
             << (o.readFlagNote.empty() ? std::string() : " It is read for " + o.readFlagNote + ".")
             << "[end-entry]";
    if (!WaitToTryAgain(kRetryWaitMs))
      Fail(o,
           std::string("FATAL: ") + TerminationSignalName() + " received while the run waited to open " + path +
               " again" + FileOpenReason(path, false, e) + ": it ends",
           kTerminatedCode);
  }
}

// The six header values of a grid file.
struct FileHeader {
  double ncols = 0, nrows = 0, xll = 0, yll = 0, cellsize = 0, nodata = -9999.0;
};

bool WholeCount(double v) { return std::isfinite(v) && v >= 1.0 && v <= kMaxGridDimension && v == std::floor(v); }

void CheckHeader(const modelobject& o, const std::string& path, const FileHeader& h) {
  auto bad = [&](const std::string& what) {
    Fail(o, "FATAL: error reading grid header of " + path + ": " + what, 22);
  };
  // Every digit that tells the value from a whole number: 25.0000000001 is not "25".
  auto given = [](double v) { return " (it gives " + ExactNumberText(v) + ")"; };
  if (!WholeCount(h.ncols)) bad("ncols must be a whole number from 1 to 10000000" + given(h.ncols));
  if (!WholeCount(h.nrows)) bad("nrows must be a whole number from 1 to 10000000" + given(h.nrows));
  if (!std::isfinite(h.xll)) bad("xllcorner must be a number" + given(h.xll));
  if (!std::isfinite(h.yll)) bad("yllcorner must be a number" + given(h.yll));
  if (!(std::isfinite(h.cellsize) && h.cellsize > 0.0)) bad("cellsize must be greater than 0" + given(h.cellsize));
  // NaN (an ASCII grid's "nan") marks the cells that hold it.
  if (std::isinf(h.nodata)) bad("nodata_value must be a number" + given(h.nodata));
}

// Values of the file that mean no-data become the model's no-data value: the file's own
// no-data value, and where that lies below the model's, every value at or below it. A file
// whose no-data value lies above the model's (0, 255) marks only the cells that hold it: its
// other values are data, however small. NaN (which a binary file can hold) is no value either.
inline double MapNodata(double v, double fileNodata, double modelNodata) {
  if (std::isnan(v)) return modelNodata;
  if (fileNodata == modelNodata) return v;
  return v == fileNodata || (fileNodata < modelNodata && v <= fileNodata) ? modelNodata : v;
}

struct ReadContext {
  modelobject& o;
  std::string path;
  std::FILE* file;
  long long fileSize;
};

// Number of words between from and to.
int WordsIn(const std::string& text, size_t from, size_t to) {
  int words = 0;
  bool inWord = false;
  for (size_t i = from; i < to && i < text.size(); ++i) {
    const bool blank = std::isspace(static_cast<unsigned char>(text[i])) != 0;
    if (!blank && !inWord) ++words;
    inWord = !blank;
  }
  return words;
}

size_t LineEndAt(const std::string& text, size_t at) { return std::min(text.find('\n', at), text.size()); }

// Whether a line break stands in text[from, to): looks at those bytes only, so a row's test
// costs its own length, not that of the rest of its line.
bool BreakWithin(const std::string& text, size_t from, size_t to) {
  return std::memchr(text.data() + from, '\n', to - from) != nullptr;
}

// A number that is its whole word, as grid files hold them ("1.5.2" and "1-2" are none); a
// read that fails leaves the cursor before the word.
bool ReadWholeDouble(TextCursor& cursor, double& value) {
  cursor.SkipBlanks();
  const size_t at = cursor.Pos();
  if (cursor.ReadDouble(value) && (cursor.AtEnd() || std::isspace(static_cast<unsigned char>(cursor.Peek()))))
    return true;
  cursor.Seek(at);
  return false;
}

// The keys of an ASCII grid header, by what they set.
enum class HeaderKey { Ncols, Nrows, Xll, Yll, Cellsize, Dx, Dy, Nodata, Count };

// The key a word names (any case), and whether a corner key gives the cell's centre;
// HeaderKey::Count for none.
HeaderKey KeyOf(const std::string& word, bool& centre) {
  static const struct {
    const char* name;
    HeaderKey key;
    bool centre;
  } kKeys[] = {{"ncols", HeaderKey::Ncols, false},       {"nrows", HeaderKey::Nrows, false},
               {"xllcorner", HeaderKey::Xll, false},     {"xllcenter", HeaderKey::Xll, true},
               {"yllcorner", HeaderKey::Yll, false},     {"yllcenter", HeaderKey::Yll, true},
               {"cellsize", HeaderKey::Cellsize, false}, {"dx", HeaderKey::Dx, false},
               {"dy", HeaderKey::Dy, false},             {"nodata_value", HeaderKey::Nodata, false}};
  for (const auto& k : kKeys)
    if (SameLetters(word, k.name)) {
      centre = k.centre;
      return k.key;
    }
  // "nodata", "NODATA_VALUE", "nodatavalue": the no-data value as exporters name it.
  return word.size() >= 6 && SameLetters(word.substr(0, 6), "nodata") ? HeaderKey::Nodata : HeaderKey::Count;
}

// "nan", "-nan", "NaN": the no-data value of float grids as GIS tools write it.
bool IsNanWord(const std::string& word) {
  const size_t sign = !word.empty() && (word[0] == '-' || word[0] == '+') ? 1 : 0;
  return word.size() == sign + 3 && SameLetters(word.substr(sign), "nan");
}

bool Agree(double a, double b) { return std::fabs(a - b) <= kGeometryNoise * std::max(std::fabs(a), std::fabs(b)); }

// How the rows of an ASCII grid lie on its lines, as its first row shows: each on a line of
// its own, each beginning a line and ending one (wrapped over several lines), or read on as
// a stream of values (all on one line, or lines of a fixed number of values).
enum class RowLayout { Undecided, OnePerLine, Wrapped, Stream };

std::string RowHolds(int r, int words, int ncols, long line) {
  return "row " + std::to_string(r) + " holds " + std::to_string(words) + " values, its header gives " +
         std::to_string(ncols) + " columns (line " + std::to_string(line) + ")";
}

// The line of the text at byte at, as the cursor counts it.
long LineAt(TextCursor& cursor, size_t at) {
  cursor.Seek(at);
  return cursor.LineNumber();
}

// A row that breaks the layout of the file's first row (rowEnd: where its values end).
[[noreturn]] void RowDiffers(ReadContext& ctx, TextCursor& cursor, RowLayout layout, int r, size_t rowStart,
                             size_t rowEnd, int ncols) {
  const std::string& text = cursor.Text();
  const std::string head = "FATAL: error reading ascii grid " + ctx.path + ": ";
  const long line = LineAt(cursor, rowStart);
  if (layout == RowLayout::OnePerLine)
    Fail(ctx.o,
         head + RowHolds(r, WordsIn(text, rowStart, LineEndAt(text, rowStart)), ncols, line) +
             "; every row of this file stands on a line of its own, as its first row does: give each row its "
             "header's number of values",
         22);
  Fail(ctx.o,
       head + "row " + std::to_string(r) + " (from line " + std::to_string(line) +
           ") does not end at the end of a line: every row of this file begins a line of its own, as its first row "
           "does, and line " +
           std::to_string(LineAt(cursor, rowEnd)) + " holds values of this row and the next; give each row its header's " +
           std::to_string(ncols) + " values",
       22);
}

// Where a file read as a stream holds too many or too few values and all but a few of its
// lines hold one row each: its first line of another number of values; empty otherwise (the
// cursor then stays where it is).
std::string StreamHint(TextCursor& cursor, size_t from, int nrows, int ncols) {
  const std::string& text = cursor.Text();
  long full = 0, row = 0, firstOther = 0, otherLine = 0, others = 0;
  int otherWords = 0;
  long line = 0;  // lines from the one of `from`
  for (size_t at = from; at < text.size(); ++line) {
    const size_t end = LineEndAt(text, at);
    const int words = WordsIn(text, at, end);
    if (words > 0) {
      ++row;
      if (words == ncols)
        ++full;
      else if (++others == 1)
        firstOther = row, otherLine = line, otherWords = words;
      else if (others > 2)
        return std::string();
    }
    at = end + 1;
  }
  if (firstOther == 0 || firstOther > nrows || 2 * full < nrows) return std::string();
  return RowHolds(static_cast<int>(firstOther), otherWords, ncols, LineAt(cursor, from) + otherLine) +
         "; its other rows stand on lines of their own: give each row its header's number of values";
}

// The next value of an ASCII grid: a number that is its whole word ("1.5.2" and "1-2" are no
// two values), or "nan" where the header's no-data value is; otherwise the run ends naming the
// row, the column and what stands there.
double ReadAsciiValue(ReadContext& ctx, TextCursor& cursor, RowLayout layout, size_t valuesStart, int r,
                      size_t rowStart, int c, int nrows, int ncols, bool nanIsNodata) {
  const std::string& text = cursor.Text();
  double v;
  if (ReadWholeDouble(cursor, v)) return v;
  if (nanIsNodata && IsNanWord(cursor.PeekWord())) {
    std::string nan;
    cursor.ReadWord(nan);
    return std::nan("");
  }
  const size_t at = cursor.Pos();
  // A row of a file of one row per line that runs short is named as such.
  if (layout == RowLayout::OnePerLine && BreakWithin(text, rowStart, at))
    RowDiffers(ctx, cursor, layout, r, rowStart, at, ncols);
  const std::string where = "FATAL: error reading ascii grid " + ctx.path + " in ASCII-Format in row " +
                            std::to_string(r) + ", col " + std::to_string(c);
  std::string word;
  if (cursor.ReadWord(word))
    Fail(ctx.o,
         where + ": " + QuotedWord(word) + " is not a number" +
             (word.find('\0') != std::string::npos
                  ? " (it holds a NUL byte, \\0, as a copy cut short or padded leaves it: write the value again)"
                  : ""),
         22);
  const std::string hint = StreamHint(cursor, valuesStart, nrows, ncols);
  if (!hint.empty()) Fail(ctx.o, "FATAL: error reading ascii grid " + ctx.path + ": " + hint, 22);
  Fail(ctx.o,
       where + ": the file ends there, its header gives " + std::to_string(nrows) + " rows of " +
           std::to_string(ncols) + " values",
       22);
}

// ASCII values into rows 1..nrows, columns 1..ncols of m (null rows are read and dropped).
// The file holds exactly nrows x ncols values. Where its first row stands on a line of its
// own (or begins and ends lines), every row must: a row of one value too many or too few
// then ends the run naming it, rather than moving every later cell.
void ReadAsciiValues(ReadContext& ctx, TextCursor& cursor, double** m, int nrows, int ncols, double fileNodata,
                     double modelNodata) {
  const std::string& text = cursor.Text();
  RowLayout layout = RowLayout::Undecided;
  const bool nanNodata = std::isnan(fileNodata);
  cursor.SkipBlanks();
  const size_t valuesStart = cursor.Pos();
  for (int r = 1; r <= nrows; ++r) {
    double* row = m[r];
    cursor.SkipBlanks();
    const size_t rowStart = cursor.Pos();
    for (int c = 1; c <= ncols; ++c) {
      const double v = ReadAsciiValue(ctx, cursor, layout, valuesStart, r, rowStart, c, nrows, ncols, nanNodata);
      if (row) row[c] = MapNodata(v, fileNodata, modelNodata);
    }
    const bool endsLine = cursor.AtLineEnd();
    const bool oneLine = !BreakWithin(text, rowStart, cursor.Pos());
    if (layout == RowLayout::Undecided)
      layout = !endsLine ? RowLayout::Stream : oneLine ? RowLayout::OnePerLine : RowLayout::Wrapped;
    else if ((layout == RowLayout::OnePerLine && !(endsLine && oneLine)) || (layout == RowLayout::Wrapped && !endsLine))
      RowDiffers(ctx, cursor, layout, r, rowStart, cursor.Pos(), ncols);
  }
  // A file of one row per line but for a row or two that hold a value too many and too few:
  // every cell between them would take its neighbour's value.
  cursor.SkipBlanks();
  const std::string hint = layout == RowLayout::Stream || !cursor.AtEnd()
                               ? StreamHint(cursor, valuesStart, nrows, ncols)
                               : std::string();
  if (cursor.AtEnd() && hint.empty()) return;
  Fail(ctx.o,
       "FATAL: error reading ascii grid " + ctx.path + ": " +
           (!hint.empty() ? hint
                          : "values follow its last row (line " + std::to_string(cursor.LineNumber()) +
                                "; its header gives " + std::to_string(nrows) + " rows of " + std::to_string(ncols) +
                                " values)"),
       22);
}

// A grid read during the run is not resampled: its rows, columns, cell size and lower-left
// corner must be the basin's. Its corner may lie up to a hundredth of a cell from the basin's
// (a grid that is resampled is read cell by cell only within float noise).
const double kNearBasinCorner = 0.01;
const char* const kNotResampled =
    "A grid read during the run (or a state grid) is not resampled: it must have the zone grid's columns, rows, "
    "cell size and lower-left corner";
// The start-up reads only the glacier grids so ("ice_firn", "GlacierizedCells", "GlacierCodes").
const char* const kGivenCellByCell =
    "A glacier grid gives its glaciers cell by cell and is not resampled (that would move or smear them): it must "
    "have the zone grid's columns, rows, cell size and lower-left corner";

// Who reads a grid, as a message names it: the start-up's grid by its section and name.
std::string ReadBy(const modelobject& o) {
  return o.readGridName.empty() ? " read by " + o.name : " (" + o.readGridName + ")";
}

void RequireBasinGeometry(const modelobject& o, const std::string& path, double ncols, double nrows, double xll,
                          double yll, double cellsize, const char* why = kNotResampled) {
  const GridGeometry& g = o.geometry;
  std::string differs;
  auto add = [&](const std::string& what) { differs += (differs.empty() ? "" : ", ") + what; };
  if (ncols != g.ncols) add(NumberText(ncols) + " columns (the basin has " + std::to_string(g.ncols) + ")");
  if (nrows != g.nrows) add(NumberText(nrows) + " rows (the basin has " + std::to_string(g.nrows) + ")");
  if (LiesOnBasinCells(ncols, nrows, xll, yll, cellsize, g, kNearBasinCorner)) return;
  if (!LiesOnBasinCells(g.ncols, g.nrows, g.xllcorner, g.yllcorner, cellsize, g))
    add("cell size " + GeometryNumber(cellsize) + " (the basin's is " + GeometryNumber(g.cellsize) + ")");
  if (!LiesOnBasinCells(g.ncols, g.nrows, xll, yll, g.cellsize, g, kNearBasinCorner))
    add("lower-left corner " + GeometryNumber(xll) + "/" + GeometryNumber(yll) + " (the basin's is " +
        GeometryNumber(g.xllcorner) + "/" + GeometryNumber(g.yllcorner) + ")");
  Fail(o,
       "FATAL: the grid " + path + ReadBy(o) + " does not lie on the basin's grid: " + differs + ". " +
           why,
       24);
}

template <typename T>
void ReadBinaryValues(ReadContext& ctx, double** m, int nrows, int ncols, double fileNodata, double modelNodata,
                      const char* shortReadText) {
  if (std::fseek(ctx.file, static_cast<long>(12 * sizeof(T)), SEEK_SET) != 0)
    Fail(ctx.o, shortReadText + ctx.path, 22);
  const size_t n = static_cast<size_t>(ncols);
  std::vector<T> skipped;  // only for rows the matrix does not hold
  for (int r = 1; r <= nrows; ++r) {
    if (!m[r]) {
      skipped.resize(n);
      if (std::fread(skipped.data(), sizeof(T), n, ctx.file) != n) Fail(ctx.o, shortReadText + ctx.path, 22);
      continue;
    }
    // The row's values go straight into the matrix row (1..ncols). Single values are read
    // into the upper half of the row's memory and widened from the front: a double written
    // at column c never reaches a single value not yet widened.
    double* row = m[r];
    unsigned char* bytes = reinterpret_cast<unsigned char*>(row + 1);
    const size_t offset = (sizeof(double) - sizeof(T)) * n;
    if (std::fread(bytes + offset, sizeof(T), n, ctx.file) != n) Fail(ctx.o, shortReadText + ctx.path, 22);
    for (size_t c = 0; c < n; ++c) {
      T v;
      std::memcpy(&v, bytes + offset + c * sizeof(T), sizeof(T));
      row[c + 1] = MapNodata(static_cast<double>(v), fileNodata, modelNodata);
    }
  }
}

void FillHoles(modelobject& o, double** grid, const std::string& path, double fileNodata, int fillCode,
               bool announce, bool report, double defaultValue) {
  const GridGeometry& g = o.geometry;
  const double nodata = g.nodata_value;
  if (announce && o.log) *o.log << "... " << path << " checking nodata values and replace" << "[end-entry]";
  std::string notes;  // for the module log

  MatrixOwner copy(g.nrows, g.ncols, o.log);
  for (int r = 1; r <= g.nrows; ++r) {
    if (!grid[r]) continue;
    for (int c = 1; c <= g.ncols; ++c) {
      if (grid[r][c] == fileNodata) grid[r][c] = nodata;
      copy[r][c] = grid[r][c];
    }
  }
  double** zone = grid_io::ZoneGridOf(o);
  long holes = 0;
  for (int r = 1; r <= g.nrows; ++r) {
    if (!grid[r]) continue;
    for (int c = 1; c <= g.ncols; ++c) {
      const bool outside = zone && zone[r] && !(zone[r][c] > nodata);
      if (grid[r][c] != nodata) {
        if (outside) copy[r][c] = nodata;
        continue;
      }
      if (outside) continue;
      ++holes;
      if (fillCode == 2) {
        copy[r][c] = defaultValue;
        continue;
      }
      double found;
      if (FindRingValue(grid, g.nrows, g.ncols, r, c, nodata, found)) {
        if (report) {
          if (o.log)
            *o.log << "DEBUG: " << "y: " << r << " x: " << c << "in " << path << ": " << grid[r][c]
                   << " replaced by " << found << "[end-entry]";
          notes += FormatText("y: %d x: %d  in %s %lf replaced by %lf!\n", r, c, path.c_str(), grid[r][c], found);
        }
        copy[r][c] = found;
      } else if (report) {
        if (o.log)
          *o.log << "FATAL: In " << path << " is a too big hole at x/y = " << c << "/" << r << "!" << "[end-entry]";
        AppendModuleLog(o.log, notes + FormatText("In %s is a too big hole at x/y = %d/%d\n!\n", path.c_str(), c, r));
        throw 25;
      } else {
        copy[r][c] = defaultValue;
      }
    }
  }
  if (holes > 0) {
    if (o.log) *o.log << "DEBUG: In " << path << ": " << holes << " nodata values replaced!" << "[end-entry]";
    notes += FormatText("in %s: %ld nodata values replaced!\n\n", path.c_str(), holes);
    for (int r = 1; r <= g.nrows; ++r)
      if (grid[r])
        for (int c = 1; c <= g.ncols; ++c) grid[r][c] = copy[r][c];
  }
  AppendModuleLog(o.log, notes);
}

void ReadGifGrid(ReadContext& ctx, double** grid) {
  modelobject& o = ctx.o;
  const GridGeometry& g = o.geometry;
  std::vector<unsigned char> bytes(static_cast<size_t>(ctx.fileSize));
  std::rewind(ctx.file);
  if (!bytes.empty() && std::fread(bytes.data(), 1, bytes.size(), ctx.file) != bytes.size())
    Fail(o, "FATAL: error reading GIF " + ctx.path + " (file cannot be read)", 22);
  GIFReader reader(ctx.path, std::move(bytes));
  int width, height;
  reader.ReadSize(width, height);
  try {
    if (width < 1 || height < 1) throw GifFormatError("logical screen without pixels");
    // A screen far beyond what the file's LZW codes can fill is corrupt.
    if (static_cast<double>(width) * height > GIFReader::MostPixels(static_cast<double>(ctx.fileSize)))
      throw GifFormatError("logical screen of " + std::to_string(width) + " x " + std::to_string(height) +
                           " pixels cannot be filled from " + std::to_string(ctx.fileSize) + " bytes");
    if (o.positionX == 0.0) o.positionX = 255000.0;
    if (o.positionY == 0.0) o.positionY = -160000.0;
    if (o.positionZ == 0.0) o.positionZ = 1000.0;
    // Only the pixels that the basin's cells take their values from are kept: at most two
    // columns per basin column and two rows per basin row, whatever the screen's size.
    std::vector<int> columns, rows;
    GIFReader::SampledCells(1, width, 1, height, 1, g.ncols, 1, g.nrows, o.positionX, o.positionY, o.positionZ,
                            g.xllcorner, g.yllcorner, g.cellsize, columns, rows);
    MatrixOwner kept;
    try {
      kept.reset(
          AllocateMatrix(nullptr, 1, static_cast<int64_t>(rows.size()), static_cast<int64_t>(columns.size()), 0));
    } catch (int code) {
      Fail(o,
           "FATAL: error reading GIF " + ctx.path + ": the " + std::to_string(columns.size()) + " x " +
               std::to_string(rows.size()) + " pixels of its screen that the basin's cells take their values from "
               "cannot be reserved",
           code);
    }
    std::vector<double*> screenRows(static_cast<size_t>(height) + 1, nullptr);
    std::vector<int> places(static_cast<size_t>(width) + 1, 0);
    for (size_t k = 0; k < rows.size(); ++k)
      screenRows[static_cast<size_t>(rows[k])] = kept[static_cast<int64_t>(k) + 1];
    for (size_t k = 0; k < columns.size(); ++k) places[static_cast<size_t>(columns[k])] = static_cast<int>(k) + 1;
    reader.Decode(screenRows.data(), &places);
    GIFReader::ResampleToGrid(screenRows.data(), 1, width, 1, height, grid, 1, g.ncols, 1, g.nrows, o.readMask,
                              o.positionX, o.positionY, o.positionZ, g.xllcorner, g.yllcorner, g.cellsize, &places);
  } catch (const GifFormatError& e) {
    Fail(o, "FATAL: error reading GIF " + ctx.path + " (" + e.what() + ")", 22);
  }
  GIFReader::MapValues(grid, 1, g.ncols, 1, g.nrows, o.gifThreshold, o.gifOffset1, o.gifScale1, o.gifOffset2,
                       o.gifScale2);
}

// A netCDF grid of the basin's size read by a module without a georeference of its own is
// copied onto the basin cell by cell, whatever its coordinates say; they serve only to
// refuse a grid that surely lies elsewhere. They can be set against the basin's only when
// every axis of two or more values is spaced by the basin's cell size (within 1 %), which
// also puts them in its units. A coordinate may then be a cell's centre, its lower (western,
// southern) edge, as this program's writer gives it, or its upper edge: a grid is refused
// when under each reading its lower-left corner lies more than a cell from the basin's.
// Coordinates in another unit or spacing (degrees, cell indices) are noted once per file.
void CheckNetcdfPlace(modelobject& o, const std::string& path) {
  const GridGeometry& g = o.geometry;
  const double cs = g.cellsize;
  NetcdfFileCache& cache = NetcdfCacheOf(o);
  const NetcdfFileCache::Axis& x = cache.xAxis;
  const NetcdfFileCache::Axis& y = cache.yAxis;
  if (x.count == 0 && y.count == 0) return;  // the file states no place

  bool spaced = false, comparable = true;
  std::string spacing;
  for (const auto& axis : {std::make_pair("x", &x), std::make_pair("y", &y)}) {
    const NetcdfFileCache::Axis& a = *axis.second;
    if (a.count == 0) continue;
    spacing += std::string(spacing.empty() ? "" : ", ") + axis.first;
    if (a.count == 1) {
      spacing += " of one value";
      continue;
    }
    const double step = (a.Highest() - a.Lowest()) / static_cast<double>(a.count - 1);
    spacing += " spaced " + NumberText(step);
    spaced = true;
    comparable = comparable && std::fabs(step - cs) <= 0.01 * cs;
  }
  if (!spaced || !comparable) {
    if (cache.unplacedFiles.insert(path).second && o.log)
      *o.log << "INFO: the netCDF grid " << path << " read by " << o.name
             << " is copied onto the basin cell by cell; its coordinates (" << spacing
             << ") are not in the basin's cells of " << NumberText(cs)
             << ", so its place cannot be set against the basin's" << "[end-entry]";
    return;
  }
  // Distance of the nearest reading of an axis's lowest coordinate from the basin's corner.
  auto offset = [&](const NetcdfFileCache::Axis& a, double corner) {
    if (a.count == 0) return 0.0;
    double nearest = std::fabs(a.Lowest() - corner);
    for (double shift : {0.5 * cs, cs}) nearest = std::min(nearest, std::fabs(a.Lowest() - shift - corner));
    return nearest;
  };
  const double reach = 1.01 * cs;
  if (offset(x, g.xllcorner) <= reach && offset(y, g.yllcorner) <= reach) return;
  const double fileX = x.count ? x.Lowest() : g.xllcorner, fileY = y.count ? y.Lowest() : g.yllcorner;
  Fail(o,
       "FATAL: the grid " + path + " read by " + o.name + " does not lie on the basin's grid: lower-left corner " +
           GeometryNumber(fileX) + "/" + GeometryNumber(fileY) + " (the basin's is " +
           GeometryNumber(g.xllcorner) + "/" + GeometryNumber(g.yllcorner) +
           "), more than a cell away whether its coordinates give the cells' centres, lower or upper edges. A "
           "netCDF grid read without a georeference of its own is copied cell by cell: coordinates in the "
           "basin's units and cell size must put it within a cell of the basin",
       24);
}

// The resampler takes the value of each model cell at its lower-left corner from the file's
// cells around it and, past the file's edge, from the edge. Within a cell of the edge that
// is the nearest value; a cell it fills farther out would take a value from elsewhere.
void RequireNetcdfCover(const modelobject& o, const std::string& path, const NetcdfGrid& nc) {
  const GridGeometry& g = o.geometry;
  const double cs = std::fabs(nc.cellSize), reach = std::max(cs, g.cellsize);
  const double west = nc.LowerLeftX() - reach, south = nc.LowerLeftY() - reach;
  const double east = nc.LowerLeftX() + nc.ncols * cs + reach, north = nc.LowerLeftY() + nc.nrows * cs + reach;
  for (int r = 1; r <= g.nrows; ++r)
    for (int c = 1; c <= g.ncols; ++c) {
      if (o.readMask && o.readMask[r] && o.readMask[r][c] <= -9999.0) continue;  // not filled
      const double x = g.xllcorner + (c - 1) * g.cellsize, y = g.yllcorner + (g.nrows - r) * g.cellsize;
      if (x >= west && x <= east && y >= south && y <= north) continue;
      Fail(o,
           "FATAL: the netCDF grid " + path + " read by " + o.name + " does not cover the basin: its cells span x " +
               NumberText(nc.LowerLeftX()) + " to " + NumberText(nc.LowerLeftX() + nc.ncols * cs) + ", y " +
               NumberText(nc.LowerLeftY()) + " to " + NumberText(nc.LowerLeftY() + nc.nrows * cs) +
               ", the lower-left corner of the basin's cell in row " + std::to_string(r) + ", column " +
               std::to_string(c) + " lies at " + NumberText(x) + "/" + NumberText(y) + ", more than a cell outside",
           24);
    }
}

void ReadNetcdfIntoGrid(ReadContext& ctx, const std::string& fullName, double** grid, bool basinOnly) {
  modelobject& o = ctx.o;
  const GridGeometry& g = o.geometry;
  NetcdfGrid nc = ReadNetcdfForStep(o, fullName);
  const bool ownGeoreference = !(o.positionX == 9999.0 && o.positionY == 9999.0 && o.positionZ == 9999.0);

  if (!ownGeoreference && !basinOnly && (nc.ncols != g.ncols || nc.nrows != g.nrows))
    Fail(o,
         "FATAL: error assigning cell values from a netCDF file to Orvel grids from file " + fullName +
             ". number of columns (" + std::to_string(nc.ncols) + ") and/or rows (" + std::to_string(nc.nrows) +
             ") in nc-file not matching those in Orvel (" + std::to_string(g.ncols) + " and " +
             std::to_string(g.nrows) + " resp.).\n" +
             " If the error occurs in interpolation method 9, please define xllcorner, yllcorner and cellsize in "
             "the x-, y- and z header rows of the input file for interpolation",
         22);
  if (!ownGeoreference) {
    // Copied cell by cell: a grid read during the run must have the basin's columns and rows.
    if (basinOnly)
      RequireBasinGeometry(o, ctx.path, nc.ncols, nc.nrows, g.xllcorner, g.yllcorner, g.cellsize,
                           "A netCDF grid read without a georeference of its own is copied cell by cell: it must "
                           "have the zone grid's columns and rows");
    CheckNetcdfPlace(o, ctx.path);
    double** mask = o.readMask ? o.readMask : grid_io::ZoneGridOf(o);
    for (int r = 1; r <= g.nrows; ++r) {
      if (!grid[r]) continue;
      for (int c = 1; c <= g.ncols; ++c) {
        const bool masked = mask && mask[r] && mask[r][c] <= g.nodata_value;
        grid[r][c] = masked ? g.nodata_value : nc.values[r][c];
      }
    }
    return;
  }
  // Placed by the file's own coordinates: its lower-left corner lies half a cell west and
  // south of the centre of its south-western cell.
  RequireNetcdfCellSize(o, nc);
  RequireNetcdfCover(o, ctx.path, nc);
  GIFReader::ResampleToGrid(nc.values.get(), 1, nc.ncols, 1, nc.nrows, grid, 1, g.ncols, 1, g.nrows, o.readMask,
                            nc.LowerLeftX(), nc.LowerLeftY(), std::fabs(nc.cellSize), g.xllcorner, g.yllcorner,
                            g.cellsize);
}

// A grid of codes on another geometry: every basin cell takes the code of the file's cell
// that its centre lies in, and no value beyond the file's cells. Codes are never blended.
void TakeCodesAtCentres(double** source, int fileCols, int fileRows, double fileX, double fileY,
                        double fileCellsize, double** target, const GridGeometry& g, double** mask) {
  for (int r = 1; r <= g.nrows; ++r) {
    if (!target[r]) continue;
    for (int c = 1; c <= g.ncols; ++c) {
      if (mask && mask[r] && mask[r][c] <= -9999.0) {
        target[r][c] = mask[r][c];
        continue;
      }
      const double x = g.xllcorner + (c - 0.5) * g.cellsize, y = g.yllcorner + (g.nrows - r + 0.5) * g.cellsize;
      const double east = std::floor((x - fileX) / fileCellsize), north = std::floor((y - fileY) / fileCellsize);
      const bool inside = east >= 0 && east < fileCols && north >= 0 && north < fileRows;
      const double* row = inside ? source[fileRows - static_cast<int>(north)] : nullptr;
      target[r][c] = row ? row[static_cast<int>(east) + 1] : g.nodata_value;
    }
  }
}

// The INFO that names a grid the start-up resamples and how.
void TellResampled(const modelobject& o, const std::string& path, const FileHeader& h) {
  if (!o.log) return;
  const GridGeometry& g = o.geometry;
  const auto place = GeometryText;
  *o.log << "INFO: the grid " << path
         << (o.readGridName.empty() ? std::string() : " (" + o.readGridName + ")") << " lies on "
         << place(h.ncols, h.nrows, h.cellsize, h.xll, h.yll) << ", the basin on "
         << place(g.ncols, g.nrows, g.cellsize, g.xllcorner, g.yllcorner) << ": it is resampled onto the basin's cells, "
         << (o.readCodes ? "each taking the code of the file's cell that its centre lies in (codes are never "
                           "blended; a cell beyond the file's cells holds no value)"
                         : "each taking the bilinear blend of the four file cells around its centre (of those "
                           "that hold a value, by inverse distance, where some do not; a centre on a file cell's "
                           "centre takes that cell's value; a cell beyond the file's cells holds no value)")
         << "[end-entry]";
}


// The header of a grid file: six pairs of an ASCII grid (the no-data line may be left out),
// the first values of a binary one (kept in the module's header buffer), the model's own
// geometry for GIF and netCDF files.
FileHeader ReadFileHeader(ReadContext& ctx, GridFileFormat format, const std::string& prefix, TextCursor& cursor) {
  modelobject& o = ctx.o;
  const GridGeometry& g = o.geometry;
  FileHeader h{static_cast<double>(g.ncols), static_cast<double>(g.nrows), g.xllcorner, g.yllcorner, g.cellsize,
               g.nodata_value};
  if (format == GridFileFormat::Ascii) {
    std::string text(static_cast<size_t>(ctx.fileSize), '\0');
    std::rewind(ctx.file);
    text.resize(std::fread(&text[0], 1, text.size(), ctx.file));
    const size_t mark = ByteOrderMarkLength(text);
    CutEndOfFileBytes(text);
    cursor.SetText(std::move(text));
    cursor.Seek(mark);
    AsciiGridHeader a;
    std::string problem;
    int pair = 0;
    if (!ReadAsciiGridHeader(cursor, a, problem, pair))
      Fail(o,
           (pair ? "FATAL: error reading ascii value #" + std::to_string(pair) + " from "
                 : std::string("FATAL: error reading grid header of ")) +
               ctx.path + ": " + problem,
           22);
    return FileHeader{a.ncols, a.nrows, a.xll, a.yll, a.cellsize, a.nodata};
  }
  if (format == GridFileFormat::BinarySingle) {
    if (prefix.size() < 12 * sizeof(float))
      Fail(o,
           "FATAL: error reading double value #" + std::to_string(prefix.size() / sizeof(float) + 1) +
               " from the header of " + ctx.path,
           22);
    float values[12];
    std::memcpy(values, prefix.data(), sizeof values);
    for (int i = 0; i < 12; ++i) o.binaryHeader[static_cast<size_t>(i)] = values[i];
  } else if (format == GridFileFormat::BinaryDouble) {
    if (prefix.size() < 12 * sizeof(double))
      Fail(o, "FATAL: error reading double value from the header of " + ctx.path, 22);
    std::memcpy(o.binaryHeader.data(), prefix.data(), 12 * sizeof(double));
  } else {
    return h;
  }
  const auto& b = o.binaryHeader;
  return FileHeader{b[0], b[1], b[2], b[3], b[4], b[5]};
}

// An ASCII or binary grid file must describe a grid and hold the values its header asks for
// before anything is reserved for them.
void CheckGridFile(ReadContext& ctx, GridFileFormat format, const FileHeader& h, const TextCursor& cursor) {
  CheckHeader(ctx.o, ctx.path, h);
  if (format == GridFileFormat::Ascii) {
    if (!AsciiGridCanHold(static_cast<long long>(cursor.Text().size() - cursor.Pos()), h.ncols, h.nrows))
      Fail(ctx.o,
           "FATAL: error reading ascii grid " + ctx.path + ": the file is too short for the " +
               std::to_string(static_cast<long long>(h.ncols)) + " x " +
               std::to_string(static_cast<long long>(h.nrows)) + " values of its header",
           22);
    return;
  }
  const long long w = format == GridFileFormat::BinaryDouble ? 8 : 4;
  const long long expected = 12 * w + static_cast<long long>(h.ncols) * static_cast<long long>(h.nrows) * w;
  if (ctx.fileSize != expected)
    Fail(ctx.o,
         "FATAL: error reading grid " + ctx.path + ": the file holds " + std::to_string(ctx.fileSize) +
             " bytes, its header asks for " + std::to_string(expected),
         22);
}

// The values of an ASCII or binary grid file into rows 1..nrows, columns 1..ncols of m, its
// no-data values made the model's.
void ReadGridValues(ReadContext& ctx, GridFileFormat format, TextCursor& cursor, double** m, int nrows, int ncols,
                    double fileNodata, const char* singleShortRead) {
  const double modelNodata = ctx.o.geometry.nodata_value;
  if (format == GridFileFormat::Ascii)
    ReadAsciiValues(ctx, cursor, m, nrows, ncols, fileNodata, modelNodata);
  else if (format == GridFileFormat::BinaryDouble)
    ReadBinaryValues<double>(ctx, m, nrows, ncols, fileNodata, modelNodata, "FATAL: error reading double grid ");
  else
    ReadBinaryValues<float>(ctx, m, nrows, ncols, fileNodata, modelNodata, singleShortRead);
}

// A grid a module needs in every basin cell must hold a value in each once the fill code
// has filled what it fills: the module would compute a cell without one with the no-data
// value as a storage or parameter. Named as a land-use cell without a code is.
void RequireEveryBasinCell(const modelobject& o, const std::string& path, double** grid) {
  const GridGeometry& g = o.geometry;
  double** zone = grid_io::ZoneGridOf(o);
  if (!zone) return;
  long count = 0;
  std::string first;
  for (int r = 1; r <= g.nrows; ++r) {
    if (!grid[r] || !zone[r]) continue;
    for (int c = 1; c <= g.ncols; ++c) {
      // Only the no-data value itself: any other value is one the state's range judges.
      if (!(zone[r][c] > g.nodata_value) || grid[r][c] != g.nodata_value) continue;
      if (o.readMask && o.readMask[r] && o.readMask[r][c] <= -9999.0) continue;
      if (++count <= 3) first += (count > 1 ? "; row " : "row ") + std::to_string(r) + ", column " + std::to_string(c);
    }
  }
  if (count == 0) return;
  const std::string mend =
      o.readGridName.empty()
          ? "give every cell of the zone grid a value (the end state a run writes holds one in each), or set the "
            "read flag to 0 to start without the grid" +
                (o.readFlagNote.empty() ? std::string() : " (it is read for " + o.readFlagNote + ")")
          : "give them a value, or let the start-up fill such cells by the grid's fill code in its line of the "
            "control file (1: the value of the nearest cell with one; 2: its default value)";
  Fail(o,
       "FATAL: the grid " + path + (o.readGridName.empty() ? std::string() : " (" + o.readGridName + ")") +
           " read by " + o.name + " holds no value in " + std::to_string(count) +
           (count == 1 ? " cell" : " cells") + " of the basin (the zone grid holds a value there): " + first +
           (count > 3 ? " and more" : "") + ". The grid is needed in every cell of the basin, which would be "
           "computed with the no-data value " + NumberText(g.nodata_value) + ": " + mend,
       25);
}

// A grid file of another geometry must reach the centre of a basin cell (one the zone grid
// holds and the module fills): every cell beyond the file's cells would hold no value.
void RequireBasinCellCovered(const modelobject& o, const std::string& path, const FileHeader& h) {
  const GridGeometry& g = o.geometry;
  double** zone = grid_io::ZoneGridOf(o);
  const double east = h.xll + h.ncols * h.cellsize, north = h.yll + h.nrows * h.cellsize;
  for (int r = 1; r <= g.nrows; ++r) {
    const double y = g.yllcorner + (g.nrows - r + 0.5) * g.cellsize;
    if (y < h.yll || y > north) continue;
    for (int c = 1; c <= g.ncols; ++c) {
      if (zone && zone[r] && !(zone[r][c] > g.nodata_value)) continue;
      if (o.readMask && o.readMask[r] && o.readMask[r][c] <= -9999.0) continue;
      const double x = g.xllcorner + (c - 0.5) * g.cellsize;
      if (x >= h.xll && x <= east) return;
    }
  }
  Fail(o,
       "FATAL: the grid " + path + (o.readGridName.empty() ? std::string() : " (" + o.readGridName + ")") +
           " read by " + o.name + " covers no cell of the basin: its cells span x " + NumberText(h.xll) + " to " +
           NumberText(east) + ", y " + NumberText(h.yll) + " to " + NumberText(north) + ", the basin's x " +
           NumberText(g.xllcorner) + " to " + NumberText(g.xllcorner + g.ncols * g.cellsize) + ", y " +
           NumberText(g.yllcorner) + " to " + NumberText(g.yllcorner + g.nrows * g.cellsize) +
           ", and no centre of a basin cell lies within its cells. Give the grid in the basin's coordinates",
       24);
}

// A grid file of another geometry is read whole and resampled onto the model grid; its
// no-data cells become the model's first, so the resampler never blends them as values. A
// grid of values is sampled at each cell's centre, so that a file of the basin's own cells on
// a wider extent or in finer cells of equal parts gives them back, and holds no value
// outside the basin (the zone grid's cells).
void ResampleGridFile(ReadContext& ctx, GridFileFormat format, TextCursor& cursor, const FileHeader& h,
                      double** target) {
  modelobject& o = ctx.o;
  const GridGeometry& g = o.geometry;
  const int fileCols = static_cast<int>(h.ncols), fileRows = static_cast<int>(h.nrows);
  RequireBasinCellCovered(o, ctx.path, h);
  MatrixOwner source(fileRows, fileCols, o.log);
  ReadGridValues(ctx, format, cursor, source.get(), fileRows, fileCols, h.nodata,
                 "FATAL: error reading (irregular) float  grid ");
  TellResampled(o, ctx.path, h);
  if (o.readCodes) {
    TakeCodesAtCentres(source.get(), fileCols, fileRows, h.xll, h.yll, h.cellsize, target, g, o.readMask);
    return;
  }
  GIFReader::ResampleToGrid(source.get(), 1, fileCols, 1, fileRows, target, 1, g.ncols, 1, g.nrows, o.readMask,
                            h.xll, h.yll, h.cellsize, g.xllcorner, g.yllcorner, g.cellsize, nullptr, true);
  double** zone = grid_io::ZoneGridOf(o);
  if (!zone) return;
  for (int r = 1; r <= g.nrows; ++r)
    if (target[r] && zone[r])
      for (int c = 1; c <= g.ncols; ++c)
        if (!(zone[r][c] > g.nodata_value)) target[r][c] = g.nodata_value;
}

}  // namespace

void SetGridRetrySleeper(GridRetrySleeper sleeper) { Sleeper() = std::move(sleeper); }

GridFileFormat DetectGridFormat(const std::string& b) {
  if (const size_t mark = ByteOrderMarkLength(b)) {
    if (b.size() >= mark + 4 && DetectGridFormat(b.substr(mark)) == GridFileFormat::Ascii)
      return GridFileFormat::Ascii;
  }
  if (b.size() >= 4) {
    int nonZero = 0;
    for (int i = 0; i < 4; ++i)
      if (b[static_cast<size_t>(i)] != '\0') ++nonZero;
    if (nonZero >= 3 && (b.compare(1, 3, "HDF") == 0 || b.compare(0, 3, "CDF") == 0)) return GridFileFormat::Netcdf;
    std::string head = b.substr(0, 4);
    for (char& c : head) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (head == "ncol") return GridFileFormat::Ascii;
  }
  // The header keys in any order: the file's first word is one of them.
  const size_t from = std::min(b.find_first_not_of(" \t\r\n"), b.size());
  const size_t to = std::min(b.find_first_of(" \t\r\n", from), b.size());
  if (to < b.size() && IsAsciiGridKey(b.substr(from, to - from))) return GridFileFormat::Ascii;
  if (b.size() >= 6 * sizeof(double)) {
    double nodata;
    std::memcpy(&nodata, b.data() + 5 * sizeof(double), sizeof nodata);
    if (nodata == -9999.0) return GridFileFormat::BinaryDouble;
  }
  if (b.size() >= 6 * sizeof(float)) {
    float nodata;
    std::memcpy(&nodata, b.data() + 5 * sizeof(float), sizeof nodata);
    if (nodata == -9999.0f) return GridFileFormat::BinarySingle;
  }
  if (b.size() >= 4 && b.compare(0, 4, "GIF8") == 0) return GridFileFormat::Gif;
  return GridFileFormat::Unknown;
}

std::string QuotedWord(const std::string& word) {
  // Control bytes (a NUL ends the text of a log line) are shown by their code.
  std::string shown;
  for (size_t i = 0; i < word.size() && i < 40; ++i) {
    const unsigned char c = static_cast<unsigned char>(word[i]);
    shown += c == 0 ? std::string("\\0") : c < 0x20 || c == 0x7F ? FormatText("\\x%02X", c) : std::string(1, word[i]);
  }
  return "\"" + shown + (word.size() > 40 ? "..." : "") + "\"";
}

int ReadHeaderPairs(TextCursor& cursor, int count, std::string* keys, double* values, std::string& problem,
                    int firstNumber) {
  for (int k = 0; k < count; ++k) {
    if (!cursor.ReadWord(keys[k])) {
      problem = "the header ends before value #" + std::to_string(k + firstNumber);
      return k + 1;
    }
    // A value is its whole word: "1000.5.2" is no number, nor 1000.5 and a keyword ".2".
    if (ReadWholeDouble(cursor, values[k])) continue;
    std::string word;
    problem = QuotedWord(keys[k]) + (cursor.ReadWord(word) ? " is " + QuotedWord(word) + ", not a number" : " has no value");
    return k + 1;
  }
  return 0;
}

bool IsAsciiGridKey(const std::string& word) {
  bool centre = false;
  return KeyOf(word, centre) != HeaderKey::Count;
}

bool ReadAsciiGridHeader(TextCursor& cursor, AsciiGridHeader& h, std::string& problem, int& pair) {
  const int kKeys = static_cast<int>(HeaderKey::Count);
  double value[kKeys] = {};
  int givenAt[kKeys] = {};  // the pair that gave a key (0: none)
  bool centre[2] = {false, false}, ended = false;
  pair = 0;
  for (int k = 1;; ++k) {
    const size_t afterValue = cursor.Pos();
    cursor.SkipBlanks();
    // The values begin at the first word that begins like a number; the header ends behind
    // its last value.
    ended = cursor.AtEnd();
    if (ended || BeginsLikeNumber(cursor.PeekWord()) || IsNanWord(cursor.PeekWord())) {
      cursor.Seek(afterValue);
      break;
    }
    std::string word;
    cursor.ReadWord(word);
    bool isCentre = false;
    const HeaderKey key = KeyOf(word, isCentre);
    if (key == HeaderKey::Count) {
      problem = QuotedWord(word) + " is no key of an ASCII grid header (ncols, nrows, xllcorner or xllcenter, "
                                   "yllcorner or yllcenter, cellsize or dx and dy, NODATA_value)";
      return false;
    }
    const int at = static_cast<int>(key);
    if (givenAt[at]) {
      problem = "the header gives " + QuotedWord(word) + " twice (pairs #" + std::to_string(givenAt[at]) + " and #" +
                std::to_string(k) + ")";
      return false;
    }
    givenAt[at] = k;
    if (key == HeaderKey::Xll || key == HeaderKey::Yll) centre[key == HeaderKey::Yll] = isCentre;
    if (ReadWholeDouble(cursor, value[at])) continue;
    std::string text;
    const bool hasWord = cursor.ReadWord(text);
    if (key == HeaderKey::Nodata && IsNanWord(text)) {
      value[at] = std::nan("");
      continue;
    }
    pair = k;
    problem = QuotedWord(word) + (hasWord ? " is " + QuotedWord(text) + ", not a number" : " has no value");
    return false;
  }
  const bool dx = givenAt[static_cast<int>(HeaderKey::Dx)] != 0, dy = givenAt[static_cast<int>(HeaderKey::Dy)] != 0;
  double& cellsize = value[static_cast<int>(HeaderKey::Cellsize)];
  if (dx != dy) {
    problem = std::string("the header gives ") + (dx ? "dx" : "dy") + " without " + (dx ? "dy" : "dx") +
              ": give both, or the cellsize";
    return false;
  }
  if (dx) {
    const double x = value[static_cast<int>(HeaderKey::Dx)], y = value[static_cast<int>(HeaderKey::Dy)];
    const bool sized = givenAt[static_cast<int>(HeaderKey::Cellsize)] != 0;
    if (!Agree(x, y) || (sized && !Agree(x, cellsize))) {
      problem = "its cells are " + GeometryNumber(x) + " wide (dx) and " + GeometryNumber(y) + " high (dy)" +
                (sized ? " with a cellsize of " + GeometryNumber(cellsize) : std::string()) +
                ": the model's cells are square; resample the grid to square cells";
      return false;
    }
    if (!sized) {
      cellsize = x;
      givenAt[static_cast<int>(HeaderKey::Cellsize)] = givenAt[static_cast<int>(HeaderKey::Dx)];
    }
  }
  static const char* const kNeeded[] = {"ncols", "nrows", "xllcorner (or xllcenter)", "yllcorner (or yllcenter)",
                                        "cellsize (or dx and dy)"};
  for (int k = 0; k < 5; ++k)
    if (!givenAt[k]) {
      problem = std::string("the header gives no ") + kNeeded[k] +
                (ended ? std::string(" before the file ends") : " before the values begin");
      return false;
    }
  h.ncols = value[static_cast<int>(HeaderKey::Ncols)];
  h.nrows = value[static_cast<int>(HeaderKey::Nrows)];
  h.cellsize = cellsize;
  h.xll = value[static_cast<int>(HeaderKey::Xll)] - (centre[0] ? 0.5 * cellsize : 0.0);
  h.yll = value[static_cast<int>(HeaderKey::Yll)] - (centre[1] ? 0.5 * cellsize : 0.0);
  h.nodata = givenAt[static_cast<int>(HeaderKey::Nodata)] ? value[static_cast<int>(HeaderKey::Nodata)] : kModelNodata;
  return true;
}

void CutEndOfFileBytes(std::string& text) {
  size_t end = text.size();
  bool marks = false;
  for (; end > 0; --end) {
    const char c = text[end - 1];
    if (c == '\x1A' || c == '\0')
      marks = true;
    else if (!std::isspace(static_cast<unsigned char>(c)))
      break;
  }
  if (marks) text.resize(end);
}

bool LiesOnBasinCells(double ncols, double nrows, double xll, double yll, double cellsize, const GridGeometry& g,
                      double cornerTolerance) {
  auto sameCorner = [&](double corner, double basin) {
    return std::floor(corner) == std::floor(basin) || std::fabs(corner - basin) <= cornerTolerance * g.cellsize;
  };
  return ncols == g.ncols && nrows == g.nrows && std::fabs(cellsize - g.cellsize) <= kGeometryNoise * g.cellsize &&
         sameCorner(xll, g.xllcorner) && sameCorner(yll, g.yllcorner);
}

std::string GeometryNumber(double v) { return ExactNumberText(v, 10); }

std::string GeometryText(double ncols, double nrows, double cellsize, double xll, double yll) {
  return NumberText(ncols) + " x " + NumberText(nrows) + " cells of " + GeometryNumber(cellsize) + " at " +
         GeometryNumber(xll) + "/" + GeometryNumber(yll);
}

std::string CellCountText(double ncols, double nrows) {
  const double c = std::floor(ncols), r = std::floor(nrows);
  const double kMax32 = 4294967295.0;  // (2^32 - 1)^2 < 2^64
  if (c >= 0 && r >= 0 && c <= kMax32 && r <= kMax32)
    return std::to_string(static_cast<unsigned long long>(c) * static_cast<unsigned long long>(r));
  return FormatText("%.10Lg", static_cast<long double>(c) * static_cast<long double>(r));  // no overflow to inf
}

bool AsciiGridCanHold(long long bytes, double ncols, double nrows) {
  return static_cast<double>(bytes) >= 2.0 * ncols * nrows - 1.0;
}

bool FindRingValue(double** grid, int nrows, int ncols, int row, int col, double nodata, double& value) {
  for (int d = 1; d <= 10; ++d) {
    for (int k = 0; k <= 2 * d; ++k) {
      const int r = row - d + k;
      if (r < 1 || r > nrows || !grid[r]) continue;
      for (int c = col - k; c <= col + k; ++c) {
        if (c < 1 || c > ncols) continue;
        if (grid[r][c] > nodata) {
          value = grid[r][c];
          return true;
        }
      }
    }
  }
  return false;
}

void modelobject::ReadGrid(const std::string& fileName, double**& grid, int fillCode, bool allocate, bool announce,
                           bool report, double defaultValue) {
  ReadGridFile(fileName, grid, fillCode, allocate, announce, report, defaultValue, false);
}

void modelobject::ReadBasinGrid(const std::string& fileName, double**& grid, int fillCode, bool allocate,
                                bool announce, bool report, double defaultValue) {
  ReadGridFile(fileName, grid, fillCode, allocate, announce, report, defaultValue, true);
}

void modelobject::RefuseNegativeCells(double** grid, const std::string& fileName, const std::string& what) const {
  RefuseImpossibleCells(grid, fileName, what, StateRange::Storage());
}

void modelobject::ReadGridFile(const std::string& fileName, double**& grid, int fillCode, bool allocate,
                               bool announce, bool report, double defaultValue, bool basinOnly) {
  grid_io::SigintGuard sigint;
  const size_t lt = fileName.find('<');
  const std::string path = MakePath(output.inputDirectory, lt == std::string::npos ? fileName : fileName.substr(0, lt));
  const std::string fullName = MakePath(output.inputDirectory, fileName);

  grid_io::File file(OpenWithRetries(*this, path));
  RunFiles::Current().Opened(path, fileno(file.get()));  // held against other runs' writes before it is read
  ReadContext ctx{*this, path, file.get(), 0};
  struct stat st;
  if (fstat(fileno(file.get()), &st) == 0) ctx.fileSize = static_cast<long long>(st.st_size);

  std::string prefix(96, '\0');
  prefix.resize(std::fread(&prefix[0], 1, prefix.size(), file.get()));
  const GridFileFormat format = DetectGridFormat(prefix);
  if (format == GridFileFormat::Unknown)
    Fail(*this,
         "FATAL: could not recognise file format (neither ascii, nor single, double, or GIF) for " + path, 22);
  if (announce && log) *log << "reading " << path << " for " << name << "..." << "[end-entry]";

  const GridGeometry& g = geometry;
  TextCursor cursor;
  FileHeader h = ReadFileHeader(ctx, format, prefix, cursor);
  const bool gridFile = format == GridFileFormat::Ascii || format == GridFileFormat::BinarySingle ||
                        format == GridFileFormat::BinaryDouble;
  if (gridFile) CheckGridFile(ctx, format, h, cursor);
  if (gridFile && basinOnly)
    RequireBasinGeometry(*this, path, h.ncols, h.nrows, h.xll, h.yll, h.cellsize,
                         readGridName.empty() ? kNotResampled : kGivenCellByCell);
  binaryHeader[0] = h.ncols;
  binaryHeader[1] = h.nrows;
  binaryHeader[2] = h.xll;
  binaryHeader[3] = h.yll;
  binaryHeader[4] = h.cellsize;
  binaryHeader[5] = h.nodata;

  // A grid on the basin's cells (within float noise, or its corner in the same whole metres)
  // is read cell by cell; any other is resampled where its header places it. A grid that
  // must lie on the basin was checked above.
  const bool fits = basinOnly || LiesOnBasinCells(h.ncols, h.nrows, h.xll, h.yll, h.cellsize, g);

  MatrixOwner allocated;
  if (allocate) {
    allocated.reset(matrix(1, g.nrows, 1, g.ncols));
    // A grid file of the model's geometry sets every cell; other sources may leave cells.
    const bool setsEveryCell = gridFile && fits;
    if (!setsEveryCell)
      for (int r = 1; r <= g.nrows; ++r)
        for (int c = 1; c <= g.ncols; ++c) allocated[r][c] = g.nodata_value;
  } else if (!grid) {
    Fail(*this,
         "FATAL: error reading grid " + path + " no memory allocated (pointer given to function is NULL)", 22);
  }
  double** target = allocate ? allocated.get() : grid;

  if (format == GridFileFormat::Gif)
    ReadGifGrid(ctx, target);
  else if (format == GridFileFormat::Netcdf)
    ReadNetcdfIntoGrid(ctx, fullName, target, basinOnly);
  else if (fits)
    ReadGridValues(ctx, format, cursor, target, g.nrows, g.ncols, h.nodata, "FATAL: error reading double grid ");
  else
    ResampleGridFile(ctx, format, cursor, h, target);
  if (!file.Close()) Fail(*this, "FATAL: error closing grid " + path, 23);

  if (fillCode == 1 || fillCode == 2)
    // Every no-data value of the file is the model's by now (mapped or resampled).
    FillHoles(*this, target, path, g.nodata_value, fillCode, announce, report, defaultValue);
  if (readEveryCell) RequireEveryBasinCell(*this, path, target);
  if (allocate) grid = allocated.release();
  // A grid read while the run is built is read at its start; the registry names it later.
  RunFiles& files = RunFiles::Current();
  if (!files.Building()) return;
  if (readIsState)
    files.Read("[" + name + "] grid " + fileName, path, RunFiles::When::StartOnly, grid, true);
  else  // an input of the start-up, tied to no state: no file of a warm start
    files.Read(readGridName, path, RunFiles::When::StartOnly);
}
