// GIF rasters as grids: the decoder (GIF87a/GIF89a block structure with LZW compression)
// that turns an image into a matrix of pixel indices, the resampling of a grid of one
// geometry onto another, and the mapping of pixel indices to values.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

// A format error of a GIF file; what() is the text the grid reader reports.
class GifFormatError : public std::runtime_error {
 public:
  explicit GifFormatError(const std::string& text) : std::runtime_error(text) {}
};

class GIFReader {
 public:
  // Reads the file into memory; a file that cannot be read leaves the reader empty, so
  // that ReadSize gives 0 x 0 and Decode reports a truncated file.
  explicit GIFReader(const std::string& fileName);
  // A reader over bytes already in memory.
  GIFReader(const std::string& fileName, std::vector<unsigned char> bytes);
  ~GIFReader();
  GIFReader(const GIFReader&) = delete;
  GIFReader& operator=(const GIFReader&) = delete;

  // Logical screen width and height (0 x 0 when the file is shorter than its descriptor).
  void ReadSize(int& width, int& height);
  // Decodes the image into pixels (rows 1..height, columns 1..width of the screen); throws
  // GifFormatError on a format error. With places (one per screen column, index 0 unused)
  // the pixel of screen column c is kept at pixels[row][places[c]], and dropped where that
  // place is 0 or the row's pointer is null: the pixels of a large screen that a grid needs
  // are kept without reserving the whole screen.
  void Decode(double** pixels, const std::vector<int>* places = nullptr);

  // Places a grid of one geometry onto another (bilinear where all four neighbours are
  // valid, by inverse distance over the valid ones otherwise); see the .cpp for the rules.
  // With sourcePlaces the source column c is read at source[row][sourcePlaces[c]] (as
  // Decode keeps them). Each target cell is sampled at its lower-left corner, or with
  // atCentres at its centre, where a centre on a source cell's centre (within a billionth of
  // a cell) takes that cell's value, with or without one, and a centre beyond the source's
  // cells takes none.
  static void ResampleToGrid(double** source, int sourceFirstCol, int sourceLastCol, int sourceFirstRow,
                             int sourceLastRow, double** target, int targetFirstCol, int targetLastCol,
                             int targetFirstRow, int targetLastRow, double** mask, double sourceX,
                             double sourceY, double sourceCellsize, double targetX, double targetY,
                             double targetCellsize, const std::vector<int>* sourcePlaces = nullptr,
                             bool atCentres = false);
  // The source columns and rows that ResampleToGrid reads for a target of that geometry
  // (the two columns and two rows around the sample point of any target cell), each once,
  // in ascending order.
  static void SampledCells(int sourceFirstCol, int sourceLastCol, int sourceFirstRow, int sourceLastRow,
                           int targetFirstCol, int targetLastCol, int targetFirstRow, int targetLastRow,
                           double sourceX, double sourceY, double sourceCellsize, double targetX, double targetY,
                           double targetCellsize, std::vector<int>& columns, std::vector<int>& rows);
  // Most pixels that n bytes of LZW data can yield: a code of b bits (12 at most) stands for
  // a string of at most 2^b - 2 pixels, so no more than 4094 pixels come from 12 bits.
  static double MostPixels(double bytes) { return bytes * 8.0 * 4094.0 / 12.0; }
  // Turns pixel indices into values with the two-branch exponential mapping.
  static void MapValues(double** grid, int firstCol, int lastCol, int firstRow, int lastRow, int threshold,
                        double f1, double x1, double f2, double x2);
  static double MapValue(double v, int threshold, double f1, double x1, double f2, double x2);

  // The LZW table operations of Decode.
  void InitCodeTable(int minimumCodeSize);
  // Writes the string of code into out (first character first); returns its length.
  int EmitString(int code, unsigned char* out) const;

  int ScreenWidth() const { return width_; }
  int ScreenHeight() const { return height_; }

 private:
  int NextByte();  // -1 at the end of the data
  void Need(size_t n, const char* what);
  void SkipSubBlocks();
  void DecodeImage(double** pixels, const std::vector<int>* places);

  std::string fileName_;
  std::vector<unsigned char> bytes_;
  size_t pos_ = 0;
  int width_ = 0;
  int height_ = 0;
  int colourTableSize_ = 0;

  // LZW table: codes up to 12 bits.
  static const int kMaxCodes = 4096;
  int16_t prefix_[kMaxCodes];
  unsigned char suffix_[kMaxCodes];
  uint16_t length_[kMaxCodes];
  int clearCode_ = 0;
  int endCode_ = 0;
  int nextCode_ = 0;
  int codeSize_ = 0;
};
