// Grid files written by the writer thread: the same bytes as a direct write for every
// format and thread count, header statistics equal to the cell-by-cell ones, failures
// raised once at the next check, order and completeness of what was handed over.
#include "grids/grid_output_thread.h"

#include <gtest/gtest.h>
#include <omp.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <memory>

#include "grid_fixture.h"
#include "framework/thread_policy.h"

namespace {

constexpr int kCols = 310, kRows = 260;  // enough cells for the parallel pass

struct Case {
  const char* name;
  bool ascii, asDouble, periodVariant;
};
const Case kCases[] = {
    {"g.asc", true, false, false},  {"g.bin", false, false, false}, {"g.dbl", false, true, false},
    {"p.asc", true, false, true},   {"p.bin", false, false, true},  {"p.dbl", false, true, true},
};

// A domain with a weight grid, active columns narrower than the grid, rows without
// active cells and values spread over many magnitudes.
struct Domain {
  GridModule m{kCols, kRows};
  MatrixOwner weights;
  Domain() : weights(kRows, kCols) {
    m.obj.rowBounds.assign(kRows + 1, RowBounds{});
    for (int r = 1; r <= kRows; ++r) {
      m.obj.rowBounds[static_cast<size_t>(r)] = r % 17 == 0 ? RowBounds{0, -1} : RowBounds{1 + r % 7, kCols - r % 5};
      for (int c = 1; c <= kCols; ++c) weights[r][c] = 0.25 + ((r * 7 + c * 3) % 11) / 8.0;
    }
    m.obj.relCellArea = weights.get();
  }
  MatrixOwner Values(double shift) const {
    return m.Grid([shift](int r, int c) {
      if ((r * 31 + c * 17) % 23 == 0) return -9999.0;
      return shift + std::sin(r * 0.37 + c * 0.11) * std::pow(10.0, (r + c) % 9 - 4);
    });
  }
  void Write(const Case& k, const std::string& name, double** v) {
    if (k.periodVariant)
      m.obj.WriteGridDouble(name, v, k.ascii, k.asDouble, false);
    else
      m.obj.WriteGrid(name, v, k.ascii, k.asDouble, false);
  }
  std::string Read(const std::string& name) const { return ReadTextFile(m.file(name)); }
};

}  // namespace

TEST(GridOutputThread, WritesTheBytesOfADirectWriteForEveryFormatAndThreadCount) {
  const ScopedMinParallelCells forkAlways(0);  // small grids run the parallel path too
  Domain d;
  MatrixOwner v = d.Values(3.0);
  // Two rows the grid does not hold.
  double* saved[2] = {v[5], v[200]};
  v.get()[5] = nullptr;
  v.get()[200] = nullptr;
  // An earlier grid of the same size whose cells the writer's reused buffer still holds.
  MatrixOwner earlier = d.Values(-7.0);
  const int threadsBefore = omp_get_max_threads();
  for (const Case& k : kCases) {
    omp_set_num_threads(1);
    d.Write(k, std::string("direct_") + k.name, v.get());
    const std::string direct = d.Read(std::string("direct_") + k.name);
    EXPECT_FALSE(direct.empty()) << k.name;
    for (int threads : {2, 5}) {
      omp_set_num_threads(threads);
      const std::string name = std::string("thread") + std::to_string(threads) + "_" + k.name;
      {
        GridOutputThread writer(&d.m.log.log());
        d.Write(k, "earlier_" + name, earlier.get());
        writer.Drain();
        d.Write(k, name, v.get());
        writer.Drain();
        EXPECT_EQ(d.Read(name), direct) << name;
        EXPECT_NO_THROW(writer.RaiseFailure());
      }
      EXPECT_FALSE(std::ifstream(d.m.file(name + ".tmp")).good());
    }
  }
  omp_set_num_threads(threadsBefore);
  v.get()[5] = saved[0];
  v.get()[200] = saved[1];
}

TEST(GridOutputThread, HeaderStatisticsEqualTheCellByCellStatistics) {
  Domain d;
  MatrixOwner v = d.Values(-2.0);
  d.m.obj.WriteGrid("s.dbl", v.get(), false, true, false);
  const std::array<double, 12> header = d.m.obj.binaryHeader;

  modelobject reference;
  reference.ResetStatistics(-9999.0);
  for (int r = 1; r <= kRows; ++r) {
    const RowBounds b = d.m.obj.rowBounds[static_cast<size_t>(r)];
    const int first = b.last < 1 ? 1 : b.first, last = b.last < 1 ? kCols : b.last;
    for (int c = first; c <= last; ++c) reference.AddToStatistics(v[r][c], d.weights[r][c]);
  }
  double expected[6];
  reference.GetStatistics(expected[0], expected[1], expected[2], expected[3], expected[4], expected[5]);
  for (int i = 0; i < 6; ++i)
    EXPECT_NEAR(header[static_cast<size_t>(6 + i)], expected[i], 1e-12 * (std::fabs(expected[i]) + 1.0)) << i;
  EXPECT_EQ(header[7], expected[1]);  // minimum and maximum exactly
  EXPECT_EQ(header[8], expected[2]);

  // The file's header holds the same statistics.
  const std::string bytes = d.Read("s.dbl");
  ASSERT_GE(bytes.size(), 12 * sizeof(double));
  double fileHeader[12];
  std::memcpy(fileHeader, bytes.data(), sizeof fileHeader);
  EXPECT_EQ(std::memcmp(fileHeader, header.data(), sizeof fileHeader), 0);
}

TEST(GridOutputThread, AFailedWriteIsRaisedOnceAndEveryGridItCouldNotWriteIsNamed) {
  Domain d;
  MatrixOwner v = d.Values(1.0);
  auto named = [&](const std::string& name) {
    return d.m.log.console().find("error creating " + d.m.file(name) + " for writing in binary mode.") !=
           std::string::npos;
  };
  {
    GridOutputThread writer(&d.m.log.log());
    d.m.obj.WriteGrid("missing_folder/x.bin", v.get(), false, false, false);  // handed over: no throw here
    d.m.obj.WriteGrid("missing_folder/y.bin", v.get(), false, false, false);
    d.m.obj.WriteGrid("after.bin", v.get(), false, false, false);
    writer.Drain();
    EXPECT_TRUE(std::ifstream(d.m.file("after.bin")).good());
    EXPECT_EQ(GridModule::CodeOf([&] { writer.RaiseFailure(); }), 26);
    EXPECT_TRUE(named("missing_folder/x.bin") && named("missing_folder/y.bin")) << d.m.log.console();
    EXPECT_EQ(GridModule::CodeOf([&] { writer.RaiseFailure(); }), 0);  // raised once
    // A grid that fails while the run ends for that failure is named when the thread ends.
    d.m.obj.WriteGrid("missing_folder/z.bin", v.get(), false, false, false);
  }
  EXPECT_TRUE(named("missing_folder/z.bin")) << d.m.log.console();
  // Another failure ended the run first: every grid the thread could not write is named.
  {
    GridOutputThread writer(&d.m.log.log());
    d.m.obj.WriteGrid("missing_folder/u.bin", v.get(), false, false, false);
    d.m.obj.WriteGrid("missing_folder/w.bin", v.get(), false, false, false);
  }
  EXPECT_TRUE(named("missing_folder/u.bin") && named("missing_folder/w.bin")) << d.m.log.console();
}

TEST(GridOutputThread, GridsAreWrittenInTheOrderHandedOverAndAllBeforeTheThreadEnds) {
  Domain d;
  {
    // A bound of one byte: every hand-over waits for the previous file.
    GridOutputThread writer(&d.m.log.log(), 1);
    for (int step = 1; step <= 4; ++step) {
      MatrixOwner v = d.m.Grid([step](int, int) { return step; });
      d.m.obj.WriteGrid("same.asc", v.get(), true, false, false);
      d.m.obj.WriteGrid("step" + std::to_string(step) + ".asc", v.get(), true, false, false);
    }
    // No Drain: the end of the thread writes what is still waiting.
  }
  EXPECT_EQ(d.Read("same.asc"), d.Read("step4.asc"));
  for (int step = 1; step <= 4; ++step)
    EXPECT_NE(d.Read("step" + std::to_string(step) + ".asc").find("\n" + std::to_string(step) + "\t"),
              std::string::npos);

  // A failure never raised is still logged when the thread ends.
  {
    GridOutputThread writer(&d.m.log.log());
    MatrixOwner v = d.Values(0.0);
    d.m.obj.WriteGrid("missing_folder/y.asc", v.get(), true, false, false);
  }
  EXPECT_NE(d.m.log.console().find("missing_folder/y.asc for writing in text mode."), std::string::npos);
  EXPECT_EQ(GridOutputThread::Active(), nullptr);
}

TEST(GridOutputThread, KeepsTheBuffersOfWrittenFilesWithinItsBoundAndGivesEachOnce) {
  Domain d;
  MatrixOwner v = d.Values(1.0);
  const size_t cells = static_cast<size_t>(kRows) * kCols;
  auto job = [](GridFileJob::Format f) {
    GridFileJob j;
    j.format = f;
    return j;
  };
  {
    GridOutputThread writer(&d.m.log.log());
    d.m.obj.WriteGrid("a.bin", v.get(), false, false, false);
    d.m.obj.WriteGrid("b.dbl", v.get(), false, true, false);
    writer.Drain();
    GridFileJob other = job(GridFileJob::Format::Float);
    EXPECT_FALSE(writer.TakeSpareBuffer(other, cells + 1));  // another size
    GridFileJob f = job(GridFileJob::Format::Float), g = job(GridFileJob::Format::Double);
    EXPECT_TRUE(writer.TakeSpareBuffer(f, cells));
    EXPECT_EQ(f.floats.size(), cells);
    EXPECT_FALSE(writer.TakeSpareBuffer(f, cells));  // each kept buffer once
    EXPECT_TRUE(writer.TakeSpareBuffer(g, cells));
    EXPECT_EQ(g.doubles.size(), cells);
  }
  {
    // A bound below one grid keeps nothing.
    GridOutputThread writer(&d.m.log.log(), size_t(512) << 20, cells * sizeof(float) - 1);
    d.m.obj.WriteGrid("c.bin", v.get(), false, false, false);
    writer.Drain();
    GridFileJob f = job(GridFileJob::Format::Float);
    EXPECT_FALSE(writer.TakeSpareBuffer(f, cells));
  }
}
