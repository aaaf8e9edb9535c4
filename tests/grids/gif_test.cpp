#include <gtest/gtest.h>

#include <cmath>
#include <map>

#include "grid_fixture.h"
#include "grids/gif_reader.h"

namespace {

// A GIF89a writer with a real LZW encoder, for building test images.
struct GifBuilder {
  int width, height;
  std::string extensions;  // raw extension blocks put before the image
  bool globalTable = true;
  bool clearWhenFull = true;
  int minimumCodeSize = 8;
  int imageWidth = -1, imageHeight = -1;

  GifBuilder(int w, int h) : width(w), height(h) {}

  static std::string Le16(int v) { return std::string{static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF)}; }

  static std::string Lzw(const std::vector<int>& pixels, int minCode, bool clearWhenFull) {
    const int clear = 1 << minCode, end = clear + 1;
    std::string out;
    uint32_t acc = 0;
    int bits = 0;
    int sinceClear = 0;
    auto emit = [&](int code) {
      int n = std::min(clear + 2 + sinceClear, 4096), size = minCode + 1;
      while (n > (1 << size) && size < 12) ++size;
      acc |= static_cast<uint32_t>(code) << bits;
      bits += size;
      while (bits >= 8) {
        out.push_back(static_cast<char>(acc & 0xFF));
        acc >>= 8;
        bits -= 8;
      }
      ++sinceClear;
    };
    std::map<std::pair<int, int>, int> table;
    int next = clear + 2;
    emit(clear);
    sinceClear = 0;
    int prefix = pixels[0];
    for (size_t i = 1; i < pixels.size(); ++i) {
      const int k = pixels[i];
      auto it = table.find({prefix, k});
      if (it != table.end()) {
        prefix = it->second;
        continue;
      }
      emit(prefix);
      if (next < 4096) {
        table[{prefix, k}] = next++;
      } else if (clearWhenFull) {
        emit(clear);
        sinceClear = 0;
        table.clear();
        next = clear + 2;
      }
      prefix = k;
    }
    emit(prefix);
    emit(end);
    if (bits > 0) out.push_back(static_cast<char>(acc & 0xFF));
    return out;
  }

  std::string Build(const std::vector<int>& pixels) const {
    const int iw = imageWidth < 0 ? width : imageWidth, ih = imageHeight < 0 ? height : imageHeight;
    std::string g = "GIF89a" + Le16(width) + Le16(height);
    g.push_back(static_cast<char>(globalTable ? 0x80 | 0x07 : 0x00));
    g += std::string("\0\0", 2);
    if (globalTable) g += std::string(3 * 256, '\x10');
    g += extensions;
    g += "\x2C" + Le16(0) + Le16(0) + Le16(iw) + Le16(ih);
    g.push_back('\0');
    g.push_back(static_cast<char>(minimumCodeSize));
    const std::string data = Lzw(pixels, minimumCodeSize, clearWhenFull);
    for (size_t i = 0; i < data.size(); i += 255) {
      const std::string part = data.substr(i, 255);
      g.push_back(static_cast<char>(part.size()));
      g += part;
    }
    g.push_back('\0');
    g.push_back('\x3B');
    return g;
  }
};

std::vector<int> Pattern(int w, int h) {
  std::vector<int> p;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) p.push_back((x / 3 + y * 7) % 23 + (x % 2) * 100);
  return p;
}

// Decodes bytes; returns the error text or "" and fills pixels.
std::string Decode(const std::string& bytes, MatrixOwner& pixels) {
  GIFReader reader("t.gif", Bytes(bytes));
  int w, h;
  reader.ReadSize(w, h);
  pixels.reset(AllocateMatrix(nullptr, 1, h, w, 0));
  try {
    reader.Decode(pixels.get());
  } catch (const GifFormatError& e) {
    return e.what();
  }
  return "";
}

TEST(GifDecode, ReadsImagesOfEverySizeAndTableState) {
  for (auto [w, h, minCode, clear] : {std::tuple{7, 5, 8, true}, {1, 1, 8, true}, {300, 200, 8, true},
                                      {300, 200, 8, false}, {64, 64, 2, true}, {500, 300, 5, false}}) {
    std::vector<int> pixels = Pattern(w, h);
    for (int& p : pixels) p %= (1 << minCode);
    GifBuilder b(w, h);
    b.minimumCodeSize = minCode;
    b.clearWhenFull = clear;
    MatrixOwner out;
    ASSERT_EQ(Decode(b.Build(pixels), out), "") << w << "x" << h;
    int wrong = 0;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) wrong += out[y + 1][x + 1] != pixels[static_cast<size_t>(y * w + x)];
    EXPECT_EQ(wrong, 0) << w << "x" << h << " min " << minCode << " clear " << clear;
  }
}

TEST(GifDecode, ConstantImagesUseTheRepeatedStringCase) {
  GifBuilder b(400, 400);
  std::vector<int> pixels(400 * 400, 42);
  MatrixOwner out;
  ASSERT_EQ(Decode(b.Build(pixels), out), "");
  EXPECT_EQ(out[1][1], 42.0);
  EXPECT_EQ(out[400][400], 42.0);
}

TEST(GifDecode, ExtensionsAreSkippedOrRejected) {
  std::vector<int> pixels = Pattern(4, 3);
  GifBuilder b(4, 3);
  b.extensions = std::string("\x21\xFE\x05hello\x00", 9) + std::string("\x21\xFF\x0B" "NETSCAPE2.0\x03\x01\x00\x00\x00", 19) +
                 std::string("\x21\xF9\x04\x00\x00\x00\x00\x00", 8) + std::string("\x21\x01\x02xy\x00", 6);
  b.globalTable = false;
  MatrixOwner out;
  EXPECT_EQ(Decode(b.Build(pixels), out), "");
  EXPECT_EQ(out[3][4], pixels[11]);

  b.extensions = std::string("\x21\x02\x00", 3);
  EXPECT_EQ(Decode(b.Build(pixels), out), "invalid extension type ID \"0x2\" found");
  b.extensions = std::string("\x21\xF9\x04\x00\x00\x00\x00\x07", 8);
  EXPECT_EQ(Decode(b.Build(pixels), out),
            "Graphics COntrol extension found, but block end not found as 0x00 after 4 bytes");
}

TEST(GifDecode, CorruptInputEndsWithAnErrorText) {
  std::vector<int> pixels = Pattern(30, 20);
  GifBuilder b(30, 20);
  const std::string good = b.Build(pixels);
  MatrixOwner out;
  // Larger than its screen.
  GifBuilder big(30, 20);
  big.imageWidth = 31;
  EXPECT_NE(Decode(big.Build(Pattern(31, 20)), out).find("larger than its logical screen"), std::string::npos);
  // Truncated anywhere.
  for (size_t cut : {size_t{5}, size_t{12}, size_t{13} + 100, good.size() - 40, good.size() - 3})
    EXPECT_NE(Decode(good.substr(0, cut), out), "") << cut;
  // A code that is not yet in the table.
  std::string bad = good;
  const size_t dataStart = 13 + 768 + 10 + 1 + 1;
  bad[dataStart + 3] = static_cast<char>(0xFF);
  bad[dataStart + 4] = static_cast<char>(0xFF);
  EXPECT_NE(Decode(bad, out), "");
  // Invalid minimum code size.
  bad = good;
  bad[13 + 768 + 10] = 12;
  EXPECT_EQ(Decode(bad, out), "invalid LZW minimum code size 12");
}

TEST(GifMapping, TwoBranchExponential) {
  const double f = 8.916787e-05, x = 0.0767528404;
  EXPECT_EQ(GIFReader::MapValue(0, 127, f, x, f, x), 0.0);
  EXPECT_EQ(GIFReader::MapValue(251, 127, f, x, f, x), -9999.0);
  EXPECT_EQ(GIFReader::MapValue(-9999, 127, f, x, f, x), -9999.0);
  EXPECT_NEAR(GIFReader::MapValue(100, 127, f, x, f, x), 0.192, 0.0005);
  EXPECT_DOUBLE_EQ(GIFReader::MapValue(127, 127, 1.0, 0.0, 2.0, 0.0), 1.0);
  EXPECT_DOUBLE_EQ(GIFReader::MapValue(128, 127, 1.0, 0.0, 2.0, 0.0), 2.0);
  EXPECT_DOUBLE_EQ(GIFReader::MapValue(250, 127, 1.0, 0.0, 2.0, 0.0), 2.0);
}

// A 2 x 2 source at (0, 0) with cells of 10 onto a target at the same corner with cells of 5.
struct Resample : ::testing::Test {
  MatrixOwner source{2, 2}, target{4, 4};
  void Run(double** mask = nullptr, double tx = 0, double ty = 0) {
    GIFReader::ResampleToGrid(source.get(), 1, 2, 1, 2, target.get(), 1, 4, 1, 4, mask, 0, 0, 10, tx, ty, 5);
  }
};

TEST_F(Resample, SamplePointIsTheTargetCellsLowerLeftCorner) {
  source[1][1] = 1;  // north-west
  source[1][2] = 2;
  source[2][1] = 3;  // south-west
  source[2][2] = 4;
  Run();
  // Target (3,2): sample (5, 5) is the centre of the source's south-west cell.
  EXPECT_DOUBLE_EQ(target[3][2], 3.0);
  // Target (2,3): sample (10, 10), the common corner of all four cells.
  EXPECT_DOUBLE_EQ(target[2][3], 2.5);
  // Target (3,3): sample (10, 5): halfway between the two southern cells.
  EXPECT_DOUBLE_EQ(target[3][3], 3.5);
  // Outside the source the indices clamp to its edge.
  EXPECT_DOUBLE_EQ(target[4][1], 3.0);
}

TEST_F(Resample, MissingNeighboursAndMask) {
  source[1][1] = -9999;
  source[1][2] = -9999;
  source[2][1] = 8;
  source[2][2] = -9999;
  Run();
  EXPECT_DOUBLE_EQ(target[2][3], 8.0);  // a single valid neighbour gives its value
  source[2][1] = -9999;
  Run();
  EXPECT_EQ(target[2][3], -9999.0);
  source[2][1] = -10000;  // invalid, but not exactly -9999: no division by zero
  Run();
  EXPECT_EQ(target[2][3], -9999.0);
  source[1][1] = 2;
  source[2][2] = 6;
  Run();
  // Two valid neighbours at distances d1 = d2 from the sample corner: their plain mean.
  EXPECT_DOUBLE_EQ(target[2][3], 4.0);
  // At (10, 5) the south-eastern centre (6) lies 5 away, the north-western one (2) sqrt(125):
  // the nearer weighs more (inverse distance), so the value leans to its 6.
  EXPECT_DOUBLE_EQ(target[3][3], (6.0 / 5 + 2.0 / std::sqrt(125.0)) / (1.0 / 5 + 1.0 / std::sqrt(125.0)));
  EXPECT_GT(target[3][3], 4.0);
  MatrixOwner mask(4, 4);
  mask[2][3] = -9999.5;
  Run(mask.get());
  EXPECT_EQ(target[2][3], -9999.5);
}

TEST(GifGrid, ReadGridPlacesAGifWithTheDefaultGeoreference) {
  GridModule m(3, 2, 255000, -160000, 1000);
  m.obj.SetPosition(0, 0, 0, 0);
  std::vector<int> pixels(6, 100);
  WriteTextFile(m.file("rain.gif"), GifBuilder(3, 2).Build(pixels));
  double** grid = nullptr;
  ASSERT_EQ(GridModule::CodeOf([&] { m.obj.ReadGrid("rain.gif", grid, 0, true, false, false, 0); }), 0);
  MatrixOwner owner(grid);
  EXPECT_NEAR(grid[1][1], 8.916787e-05 * std::exp(7.67528404), 1e-12);
  EXPECT_NEAR(grid[2][3], 8.916787e-05 * std::exp(7.67528404), 1e-12);
  EXPECT_EQ(m.obj.positionX, 255000.0);
  EXPECT_EQ(m.obj.positionY, -160000.0);
  EXPECT_EQ(m.obj.positionZ, 1000.0);
}

TEST(GifGrid, BadGifsEndWithFatal22) {
  GridModule m(3, 2);
  GifBuilder big(3, 2);
  big.imageHeight = 3;
  WriteTextFile(m.file("big.gif"), big.Build(Pattern(3, 3)));
  double** grid = nullptr;
  EXPECT_EQ(GridModule::CodeOf([&] { m.obj.ReadGrid("big.gif", grid, 0, true, false, false, 0); }), 22);
  EXPECT_NE(m.log.console().find("error reading GIF " + m.file("big.gif") + " (image of 3 x 3 pixels"),
            std::string::npos);
  // A screen of 65535 x 65535 pixels in a file of a few bytes is refused before allocation.
  std::string huge = GifBuilder(3, 2).Build(Pattern(3, 2));
  huge[6] = huge[7] = huge[8] = huge[9] = static_cast<char>(0xFF);
  WriteTextFile(m.file("huge.gif"), huge);
  EXPECT_EQ(GridModule::CodeOf([&] { m.obj.ReadGrid("huge.gif", grid, 0, true, false, false, 0); }), 22);
  WriteTextFile(m.file("cut.gif"), "GIF89a\x03");
  EXPECT_EQ(GridModule::CodeOf([&] { m.obj.ReadGrid("cut.gif", grid, 0, true, false, false, 0); }), 22);
  EXPECT_EQ(grid, nullptr);
}

// A screen much larger than the basin: only the pixels that the basin's cells are sampled
// from are kept, and the grid is the one that resampling the whole screen gives, wherever
// the basin lies on the screen and whatever the sizes of their cells.
TEST(GifGrid, LargeScreensKeepOnlyThePixelsTheBasinIsSampledFrom) {
  const int w = 1200, h = 900;
  const std::string gif = GifBuilder(w, h).Build(Pattern(w, h));
  // The pixel index the grid holds at three cells, worked out by hand from the pattern:
  // a cell's lower-left corner is sampled bilinearly between the four pixel centres around
  // it, columns and rows beyond the screen's edge taking its edge. In the first case cell
  // (1, 1), corner (500000, 229000), lies where pixels 50 and 51 of rows 821 and 822 (1-based,
  // row 1 the northern) meet: (113 + 13 + 106 + 6) / 4 = 59.5.
  struct Cell {
    int row, column;
    double index;
  };
  struct Case {
    double x, y, cs;  // the GIF's lower-left corner and pixel size
    Cell cells[3];
  };
  // The basin: 40 x 30 cells of 1000 at (500000, 200000).
  const Case cases[] = {
      // basin inside, pixels of the basin's cell size: every cell halfway between four
      {450000, 150000, 1000, {{1, 1, 59.5}, {30, 40, 68.5}, {12, 7, 58.0}}},
      // the basin's south-western corner near the screen's: the first column is the edge
      {499700, 199400, 1000, {{1, 1, 17.3}, {30, 40, 85.4}, {12, 7, 26.4}}},
      // pixels smaller than the basin's cells
      {480000, 180000, 300, {{1, 1, 36.0}, {30, 40, 23.5}, {12, 7, 80.0 / 3.0}}},
      // pixels larger
      {-100000, -500000, 2500, {{1, 1, 60.8}, {30, 40, 95.5}, {12, 7, 22.2}}},
      // the screen covers a part of the basin: the cells west of it take its first column
      {520000, 210000, 1000, {{1, 1, 11.0}, {30, 40, 70.0}, {12, 7, 7.5}}},
      // the screen lies beside the basin: every cell takes its south-western pixel
      {900000, 900000, 1000, {{1, 1, 14.0}, {30, 40, 14.0}, {12, 7, 14.0}}},
  };
  // The pixel index as a value: 8.916787e-05 * exp(0.0767528404 * index) below 251.
  auto value = [](double index) { return 8.916787e-05 * std::exp(0.0767528404 * index); };
  for (const Case& c : cases) {
    GridModule m(40, 30, 500000, 200000, 1000);
    m.obj.SetPosition(0, c.x, c.y, c.cs);
    WriteTextFile(m.file("r.gif"), gif);
    const long long before = LiveMatrixBytes();
    ResetPeakMatrixBytes();
    double** grid = nullptr;
    ASSERT_EQ(GridModule::CodeOf([&] { m.obj.ReadGrid("r.gif", grid, 0, true, false, false, 0); }), 0)
        << m.log.console();
    MatrixOwner owner(grid);
    // The basin's grid and at most 80 x 60 pixels; the screen alone would take 8.6 MB.
    EXPECT_LE(PeakMatrixBytes() - before, 31 * 41 * 8 + 61 * 81 * 8) << c.x << " " << c.cs;
    for (const Cell& cell : c.cells)
      EXPECT_NEAR(grid[cell.row][cell.column], value(cell.index), 1e-12 * value(cell.index))
          << c.x << " " << c.y << " " << c.cs << ", cell " << cell.row << " " << cell.column;
  }
}

// The screen is checked against what the file's LZW codes can fill before anything is
// reserved for it; a constant image, as compressed as LZW gets, passes.
TEST(GifGrid, ScreensTheFileCannotFillAreRefusedNamingTheFile) {
  GridModule m(3, 2, 255000, -160000, 1000);
  m.obj.SetPosition(0, 0, 0, 0);
  const std::string good = GifBuilder(3, 2).Build(Pattern(3, 2));
  // A comment of some 400 kB (sub-blocks of 255 bytes) behind the image's screen descriptor.
  std::string comment = "\x21\xFE";
  for (int i = 0; i < 1600; ++i) comment += "\xFF" + std::string(255, 'c');
  comment += std::string(1, '\0');
  for (int side : {40000, 65535}) {
    std::string big = good;
    big.insert(13 + 768, comment);
    for (int k : {6, 8}) {
      big[static_cast<size_t>(k)] = static_cast<char>(side & 0xFF);
      big[static_cast<size_t>(k) + 1] = static_cast<char>(side >> 8);
    }
    WriteTextFile(m.file("big.gif"), big);
    double** grid = nullptr;
    const long long before = LiveMatrixBytes();
    ResetPeakMatrixBytes();
    EXPECT_EQ(GridModule::CodeOf([&] { m.obj.ReadGrid("big.gif", grid, 0, true, false, false, 0); }), 22);
    EXPECT_LE(PeakMatrixBytes() - before, 3 * 8 * 8);  // the basin's grid only
    EXPECT_NE(m.log.console().find("error reading GIF " + m.file("big.gif") + " (logical screen of " +
                                   std::to_string(side) + " x " + std::to_string(side) + " pixels cannot be filled "
                                   "from " + std::to_string(big.size()) + " bytes)"),
              std::string::npos)
        << m.log.console();
    EXPECT_EQ(grid, nullptr);
  }
  GifBuilder flat(2000, 2000);
  WriteTextFile(m.file("flat.gif"), flat.Build(std::vector<int>(2000 * 2000, 100)));
  double** grid = nullptr;
  ASSERT_EQ(GridModule::CodeOf([&] { m.obj.ReadGrid("flat.gif", grid, 0, true, false, false, 0); }), 0)
      << m.log.console();
  MatrixOwner owner(grid);
  EXPECT_NEAR(grid[2][3], 8.916787e-05 * std::exp(7.67528404), 1e-12);
}

}  // namespace

namespace {

// An image written by an independent encoder (GDAL's GIF driver) decodes to its pixels.
TEST(GifDecode, ReadsGifsOfTheStandardTools) {
  ORVEL_NEEDS_TOOLS("gdal_translate");
  std::string out;
  TempDir dir;
  const int w = 157, h = 93;
  std::string text = "ncols 157\nnrows 93\nxllcorner 0\nyllcorner 0\ncellsize 1\n";
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) text += std::to_string((x * x / 7 + y * 3) % 256) + " ";
    text += "\n";
  }
  WriteTextFile(dir.file("p.asc"), text);
  ASSERT_EQ(RunCommand("gdal_translate -q -ot Byte -of GIF '" + dir.file("p.asc") + "' '" + dir.file("p.gif") + "'",
                       &out),
            0)
      << out;
  GIFReader reader(dir.file("p.gif"));
  int rw, rh;
  reader.ReadSize(rw, rh);
  ASSERT_EQ(rw, w);
  ASSERT_EQ(rh, h);
  MatrixOwner pixels(h, w);
  reader.Decode(pixels.get());
  int wrong = 0;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) wrong += pixels[y + 1][x + 1] != (x * x / 7 + y * 3) % 256;
  EXPECT_EQ(wrong, 0);
}

}  // namespace
