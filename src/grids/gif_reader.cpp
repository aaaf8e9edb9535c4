#include "grids/gif_reader.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sstream>

#include "framework/text_helpers.h"

GIFReader::GIFReader(const std::string& fileName) : fileName_(fileName) {
  std::string contents;
  if (ReadWholeFile(fileName, contents)) bytes_.assign(contents.begin(), contents.end());
}

GIFReader::GIFReader(const std::string& fileName, std::vector<unsigned char> bytes)
    : fileName_(fileName), bytes_(std::move(bytes)) {}

GIFReader::~GIFReader() = default;

void GIFReader::ReadSize(int& width, int& height) {
  width = height = 0;
  if (bytes_.size() < 13) return;
  width_ = bytes_[6] | (bytes_[7] << 8);
  height_ = bytes_[8] | (bytes_[9] << 8);
  width = width_;
  height = height_;
}

int GIFReader::NextByte() { return pos_ < bytes_.size() ? bytes_[pos_++] : -1; }

void GIFReader::Need(size_t n, const char* what) {
  if (bytes_.size() - pos_ < n || pos_ > bytes_.size())
    throw GifFormatError(std::string("file ends inside the ") + what);
}

void GIFReader::SkipSubBlocks() {
  while (true) {
    int size = NextByte();
    if (size < 0) throw GifFormatError("file ends inside a data sub-block");
    if (size == 0) return;
    Need(static_cast<size_t>(size), "data sub-block");
    pos_ += static_cast<size_t>(size);
  }
}

void GIFReader::InitCodeTable(int minimumCodeSize) {
  clearCode_ = 1 << minimumCodeSize;
  endCode_ = clearCode_ + 1;
  nextCode_ = clearCode_ + 2;
  codeSize_ = minimumCodeSize + 1;
  for (int i = 0; i < clearCode_; ++i) {
    prefix_[i] = -1;
    suffix_[i] = static_cast<unsigned char>(i);
    length_[i] = 1;
  }
}

int GIFReader::EmitString(int code, unsigned char* out) const {
  int n = length_[code];
  for (int i = n - 1; i >= 0; --i) {
    out[i] = suffix_[code];
    code = prefix_[code];
  }
  return n;
}

void GIFReader::Decode(double** pixels, const std::vector<int>* places) {
  pos_ = 0;
  Need(13, "header");
  ReadSize(width_, height_);
  pos_ = 6;
  unsigned char packed = bytes_[10];
  pos_ = 13;
  if (packed & 0x80) {
    colourTableSize_ = 3 * (1 << ((packed & 7) + 1));
    Need(static_cast<size_t>(colourTableSize_), "global colour table");
    pos_ += static_cast<size_t>(colourTableSize_);
  }
  bool imageSeen = false;
  while (true) {
    int block = NextByte();
    if (block < 0) {
      if (!imageSeen) throw GifFormatError("file ends before an image");
      return;
    }
    if (block == 0x21) {
      int label = NextByte();
      if (label < 0) throw GifFormatError("file ends inside an extension");
      if (label == 0x01 || label == 0xFE || label == 0xFF) {
        SkipSubBlocks();
      } else if (label == 0xF9) {
        int size = NextByte();
        if (size < 0) throw GifFormatError("file ends inside the graphic control extension");
        Need(static_cast<size_t>(size), "graphic control extension");
        pos_ += static_cast<size_t>(size);
        if (NextByte() != 0x00)
          throw GifFormatError("Graphics COntrol extension found, but block end not found as 0x00 after " +
                               std::to_string(size) + " bytes");
      } else {
        char hex[16];
        std::snprintf(hex, sizeof hex, "%X", label);
        throw GifFormatError(std::string("invalid extension type ID \"0x") + hex + "\" found");
      }
    } else if (block == 0x2C) {
      DecodeImage(pixels, places);
      imageSeen = true;
    } else {
      // The trailer (0x3B) or any other byte ends the image data.
      if (!imageSeen) throw GifFormatError("no image found");
      return;
    }
  }
}

void GIFReader::DecodeImage(double** pixels, const std::vector<int>* places) {
  Need(9, "image descriptor");
  const unsigned char* d = &bytes_[pos_];
  int imageWidth = d[4] | (d[5] << 8);
  int imageHeight = d[6] | (d[7] << 8);
  unsigned char packed = d[8];
  pos_ += 9;
  if (imageWidth > width_ || imageHeight > height_) {
    std::ostringstream text;
    text << "image of " << imageWidth << " x " << imageHeight << " pixels is larger than its logical screen of "
         << width_ << " x " << height_;
    throw GifFormatError(text.str());
  }
  const bool interlaced = (packed & 0x40) != 0;
  if (packed & 0x80) {
    size_t local = 3u * (1u << ((packed & 7) + 1));
    Need(local, "local colour table");
    pos_ += local;
  }
  int minimumCodeSize = NextByte();
  if (minimumCodeSize < 1 || minimumCodeSize > 8)
    throw GifFormatError("invalid LZW minimum code size " + std::to_string(minimumCodeSize));

  // Gather the data sub-blocks into one stream of codes.
  std::vector<unsigned char> data;
  while (true) {
    int size = NextByte();
    if (size < 0) throw GifFormatError("file ends inside the image data");
    if (size == 0) break;
    Need(static_cast<size_t>(size), "image data");
    data.insert(data.end(), bytes_.begin() + static_cast<long>(pos_), bytes_.begin() + static_cast<long>(pos_ + size));
    pos_ += static_cast<size_t>(size);
  }

  const int64_t total = static_cast<int64_t>(imageWidth) * imageHeight;
  int64_t written = 0;
  // Row of the image that the n-th decoded row goes to (interlaced images in four passes).
  auto imageRow = [&](int n) {
    if (!interlaced) return n;
    static const int start[4] = {0, 4, 2, 1};
    static const int step[4] = {8, 8, 4, 2};
    for (int pass = 0; pass < 4; ++pass) {
      int rows = imageHeight > start[pass] ? (imageHeight - start[pass] + step[pass] - 1) / step[pass] : 0;
      if (n < rows) return start[pass] + n * step[pass];
      n -= rows;
    }
    return imageHeight - 1;
  };
  unsigned char out[kMaxCodes];
  // The pixels of a string go along the image rows; a row that is not kept is passed over
  // at once, a pixel of a kept row goes to its column's place.
  auto put = [&](int n) {
    for (int i = 0; i < n && written < total;) {
      const int x = static_cast<int>(written % imageWidth);
      const int run = static_cast<int>(std::min<int64_t>(n - i, imageWidth - x));
      double* row = pixels[imageRow(static_cast<int>(written / imageWidth)) + 1];
      if (row)
        for (int k = 0; k < run; ++k) {
          const int place = places ? (*places)[static_cast<size_t>(x + k + 1)] : x + k + 1;
          if (place) row[place] = out[i + k];
        }
      i += run;
      written += run;
    }
  };

  InitCodeTable(minimumCodeSize);
  size_t bitPos = 0;
  const size_t bitCount = data.size() * 8;
  int previous = -1;
  bool ended = false;
  while (bitPos + static_cast<size_t>(codeSize_) <= bitCount) {
    int code = 0;
    for (int b = 0; b < codeSize_; ++b, ++bitPos)
      if (data[bitPos >> 3] & (1u << (bitPos & 7))) code |= 1 << b;
    if (code == clearCode_) {
      InitCodeTable(minimumCodeSize);
      previous = -1;
      continue;
    }
    if (code == endCode_) {
      ended = true;
      break;
    }
    int n;
    if (previous < 0) {
      if (code >= clearCode_) throw GifFormatError("corrupt LZW data: code " + std::to_string(code) + " after a clear code");
      n = EmitString(code, out);
    } else if (code < nextCode_) {
      n = EmitString(code, out);
      if (nextCode_ < kMaxCodes) {
        prefix_[nextCode_] = static_cast<int16_t>(previous);
        suffix_[nextCode_] = out[0];
        length_[nextCode_] = static_cast<uint16_t>(length_[previous] + 1);
        ++nextCode_;
      }
    } else if (code == nextCode_ && nextCode_ < kMaxCodes) {
      n = EmitString(previous, out);
      out[n] = out[0];
      ++n;
      prefix_[nextCode_] = static_cast<int16_t>(previous);
      suffix_[nextCode_] = out[0];
      length_[nextCode_] = static_cast<uint16_t>(n);
      ++nextCode_;
    } else {
      throw GifFormatError("corrupt LZW data: code " + std::to_string(code) + " not yet defined");
    }
    if (nextCode_ == (1 << codeSize_) && codeSize_ < 12) ++codeSize_;
    put(n);
    previous = code;
  }
  if (written < total)
    throw GifFormatError("LZW data end after " + std::to_string(written) + " of " + std::to_string(total) +
                         " pixels");
  (void)ended;
}

namespace {

// Whole source cells from the first cell centre to a sample point, kept in a range that
// far outside the source still clamps to its edge without overflow.
int64_t CellsToSample(double point, double origin, double cellsize) {
  const double f = std::floor((point - (origin + 0.5 * cellsize)) / cellsize);
  return static_cast<int64_t>(std::fmax(-1e9, std::fmin(1e9, f)));
}

int Clamp(int64_t v, int first, int last) { return static_cast<int>(v < first ? first : (v > last ? last : v)); }

}  // namespace

void GIFReader::SampledCells(int sourceFirstCol, int sourceLastCol, int sourceFirstRow, int sourceLastRow,
                             int targetFirstCol, int targetLastCol, int targetFirstRow, int targetLastRow,
                             double sourceX, double sourceY, double sourceCellsize, double targetX,
                             double targetY, double targetCellsize, std::vector<int>& columns,
                             std::vector<int>& rows) {
  const double cs = sourceCellsize;
  columns.clear();
  rows.clear();
  for (int c = targetFirstCol; c <= targetLastCol; ++c) {
    const double x = targetX + (c - targetFirstCol) * targetCellsize;
    const int64_t s = sourceFirstCol + CellsToSample(x, sourceX, cs);
    columns.push_back(Clamp(s, sourceFirstCol, sourceLastCol));
    columns.push_back(Clamp(s + 1, sourceFirstCol, sourceLastCol));
  }
  for (int r = targetFirstRow; r <= targetLastRow; ++r) {
    const double y = targetY + (targetLastRow - r) * targetCellsize;
    const int64_t t = sourceLastRow - CellsToSample(y, sourceY, cs);
    rows.push_back(Clamp(t - 1, sourceFirstRow, sourceLastRow));
    rows.push_back(Clamp(t, sourceFirstRow, sourceLastRow));
  }
  for (std::vector<int>* cells : {&columns, &rows}) {
    std::sort(cells->begin(), cells->end());
    cells->erase(std::unique(cells->begin(), cells->end()), cells->end());
  }
}

void GIFReader::ResampleToGrid(double** source, int sourceFirstCol, int sourceLastCol, int sourceFirstRow,
                               int sourceLastRow, double** target, int targetFirstCol, int targetLastCol,
                               int targetFirstRow, int targetLastRow, double** mask, double sourceX,
                               double sourceY, double sourceCellsize, double targetX, double targetY,
                               double targetCellsize, const std::vector<int>* sourcePlaces, bool atCentres) {
  const double cs = sourceCellsize;
  auto clampCol = [&](int64_t s) { return Clamp(s, sourceFirstCol, sourceLastCol); };
  auto clampRow = [&](int64_t t) { return Clamp(t, sourceFirstRow, sourceLastRow); };
  // The sample point: the lower-left corner of the target cell, or its centre.
  const double half = atCentres ? 0.5 : 0.0;
  const double sourceEast = sourceX + (sourceLastCol - sourceFirstCol + 1) * cs;
  const double sourceNorth = sourceY + (sourceLastRow - sourceFirstRow + 1) * cs;
  for (int r = targetLastRow; r >= targetFirstRow; --r) {
    if (!target[r]) continue;
    for (int c = targetFirstCol; c <= targetLastCol; ++c) {
      if (mask && mask[r] && mask[r][c] <= -9999.0) {
        target[r][c] = mask[r][c];
        continue;
      }
      const double x = targetX + (c - targetFirstCol + half) * targetCellsize;
      const double y = targetY + (targetLastRow - r + half) * targetCellsize;
      // A centre beyond the file's cells (more than half a cell past its edge centres) has
      // no value there: the edge's values would stand for ground the file does not show.
      if (atCentres && (x < sourceX || y < sourceY || x > sourceEast || y > sourceNorth)) {
        target[r][c] = -9999.0;
        continue;
      }
      const int64_t s = sourceFirstCol + CellsToSample(x, sourceX, cs);
      const int64_t t = sourceLastRow - CellsToSample(y, sourceY, cs);
      const int cols[2] = {clampCol(s), clampCol(s + 1)};
      const int places[2] = {sourcePlaces ? (*sourcePlaces)[static_cast<size_t>(cols[0])] : cols[0],
                             sourcePlaces ? (*sourcePlaces)[static_cast<size_t>(cols[1])] : cols[1]};
      const int rows[2] = {clampRow(t), clampRow(t - 1)};
      double v[2][2];  // [row t / t-1][column s / s+1]
      bool allValid = true, allMissing = true;
      for (int i = 0; i < 2; ++i)
        for (int j = 0; j < 2; ++j) {
          double* row = source[rows[i]];
          v[i][j] = row ? row[places[j]] : -9999.0;
          if (!(v[i][j] > -9999.0)) allValid = false;
          if (v[i][j] != -9999.0) allMissing = false;
        }
      // Cell centres of column s and row t (before clamping, so the weights stay in 0..1).
      const double centreX = sourceX + (static_cast<double>(s - sourceFirstCol) + 0.5) * cs;
      const double centreY = sourceY + (static_cast<double>(sourceLastRow - t) + 0.5) * cs;
      const double fx = (x - centreX) / cs, fy = (y - centreY) / cs;
      if (atCentres) {
        // A point on a source cell's centre takes that cell's value as it stands.
        const double nearX = std::round(fx), nearY = std::round(fy);
        if (std::fabs(fx - nearX) <= 1e-9 && std::fabs(fy - nearY) <= 1e-9) {
          target[r][c] = v[nearY > 0.5 ? 1 : 0][nearX > 0.5 ? 1 : 0];
          continue;
        }
      }
      if (allValid) {
        target[r][c] = (1 - fx) * (1 - fy) * v[0][0] + fx * (1 - fy) * v[0][1] + (1 - fx) * fy * v[1][0] +
                       fx * fy * v[1][1];
        continue;
      }
      if (allMissing) {
        target[r][c] = -9999.0;
        continue;
      }
      // Inverse distance over the neighbours with a value: the nearer, the more weight.
      double sumWV = 0.0, sumW = 0.0;
      bool exact = false;
      double exactValue = 0.0;
      for (int i = 0; i < 2 && !exact; ++i)
        for (int j = 0; j < 2; ++j) {
          if (!(v[i][j] > -9999.0)) continue;
          const double nx = sourceX + (cols[j] - sourceFirstCol + 0.5) * cs;
          const double ny = sourceY + (sourceLastRow - rows[i] + 0.5) * cs;
          const double d = std::hypot(x - nx, y - ny);
          if (d == 0.0) {
            exact = true;
            exactValue = v[i][j];
            break;
          }
          sumWV += v[i][j] / d;
          sumW += 1.0 / d;
        }
      if (exact)
        target[r][c] = exactValue;
      else
        target[r][c] = sumW > 0.0 ? sumWV / sumW : -9999.0;
    }
  }
}

double GIFReader::MapValue(double v, int threshold, double f1, double x1, double f2, double x2) {
  if (v <= -9999.0) return v;
  if (v == 0.0) return 0.0;
  if (v <= threshold) return f1 * std::exp(x1 * v);
  if (v <= 250.0) return f2 * std::exp(x2 * v);
  return -9999.0;
}

void GIFReader::MapValues(double** grid, int firstCol, int lastCol, int firstRow, int lastRow, int threshold,
                          double f1, double x1, double f2, double x2) {
  for (int r = firstRow; r <= lastRow; ++r) {
    if (!grid[r]) continue;
    for (int c = firstCol; c <= lastCol; ++c) grid[r][c] = MapValue(grid[r][c], threshold, f1, x1, f2, x2);
  }
}
