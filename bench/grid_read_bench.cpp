// Reading and writing large grids: a 4000 x 4000 ASCII grid read by the model's grid
// reader and, side by side in the same run, by GDAL's AAIGrid driver (gdal_translate to
// ENVI, when GDAL is installed); binary single and double grids written and read; the
// retry wait of the reader for a file that does not appear. Each time is the least of the
// rounds (--repeats).
//
//   grid_read_bench [common options of bench_support.h]     (default 4000 x 4000 cells)
#include <fcntl.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>

#include "bench_support.h"
#include "framework/logstream.h"
#include "framework/memory_handling.h"
#include "framework/modelobject.h"
#include "grids/grid_registry.h"

namespace {

template <typename F>
double Best(int runs, F&& f) {
  double best = 1e300;
  for (int i = 0; i < runs; ++i) {
    const double t0 = bench::Now();
    f();
    best = std::min(best, bench::Now() - t0);
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  const bench::Options o = bench::Start(argc, argv, 1, 4000, {}, "");
  const int n = o.size, runs = o.repeats;
  namespace fs = std::filesystem;
  bench::Folder folder(o.folder, "grid_read_bench");
  const fs::path dir = folder.Path();

  std::ostringstream sink;
  LogStream log(sink, (dir / "diag.xml").string(), 0);
  GridRegistry registry;
  modelobject obj;
  obj.log = &log;
  obj.name = "bench";
  obj.grids = registry.Records();
  obj.geometry = GridGeometry{n, n, 500000.0, 4000000.0, 25.0, -9999.0};
  obj.output.outputDirectory = dir.string() + "/";
  obj.output.inputDirectory = dir.string() + "/";

  // A terrain-like field with a no-data border.
  MatrixOwner grid(n, n);
  for (int r = 1; r <= n; ++r)
    for (int c = 1; c <= n; ++c)
      grid[r][c] = (r < 10 || c < 10) ? -9999.0 : 500.0 + 300.0 * std::sin(r * 0.003) * std::cos(c * 0.002) + 0.01 * c;

  double t = Best(1, [&] { obj.WriteGrid("dem.asc", grid.get(), true, false, false); });
  std::printf("grid %d x %d, ASCII file %.0f MB (%s)\n", n, n, fs::file_size(dir / "dem.asc") / 1e6,
              bench::LoadText().c_str());
  std::printf("write ASCII           %8.3f s\n", t);
  t = Best(runs, [&] {
    double** g = nullptr;
    obj.ReadGrid("dem.asc", g, 0, true, false, false, 0.0);
    MatrixOwner owner(g);
  });
  std::printf("read ASCII (model)    %8.3f s\n", t);

  if (std::system("command -v gdal_translate >/dev/null 2>&1") == 0) {
    const std::string cmd = "gdal_translate -q -of ENVI '" + (dir / "dem.asc").string() + "' '" +
                            (dir / "dem.envi").string() + "'";
    double g = Best(runs, [&] {
      if (std::system(cmd.c_str()) != 0) std::fprintf(stderr, "gdal_translate failed\n");
    });
    std::printf("read ASCII (GDAL)     %8.3f s   (gdal_translate -of ENVI, AAIGrid driver)\n", g);
  } else {
    std::printf("read ASCII (GDAL)     not measured: gdal_translate is not installed\n");
  }

  for (bool asDouble : {false, true}) {
    const char* name = asDouble ? "dem.dbl" : "dem.bin";
    double w = Best(runs, [&] { obj.WriteGrid(name, grid.get(), false, asDouble, false); });
    double r = Best(runs, [&] {
      double** g = nullptr;
      obj.ReadGrid(name, g, 0, true, false, false, 0.0);
      MatrixOwner owner(g);
    });
    // A plain read() of the whole file into fresh memory, freed again: the floor of any
    // reader that makes its grid.
    const std::string path = (dir / name).string();
    const size_t size = static_cast<size_t>(fs::file_size(path));
    double plain = Best(runs, [&] {
      std::unique_ptr<char[]> bytes(new char[size]);
      const int fd = open(path.c_str(), O_RDONLY);
      size_t got = 0;
      while (fd >= 0 && got < size) {
        const ssize_t k = read(fd, bytes.get() + got, size - got);
        if (k <= 0) break;
        got += static_cast<size_t>(k);
      }
      if (fd >= 0) close(fd);
    });
    std::printf("binary %s  write %8.3f s   read %8.3f s   plain read() %8.3f s (%.2f times)\n",
                asDouble ? "double" : "single", w, r, plain, r / plain);
  }
  // A grid file that never appears: the reader waits between its attempts before it gives up.
  t = Best(1, [&] {
    double** g = nullptr;
    try {
      obj.ReadGrid("missing.asc", g, 0, true, false, false, 0.0);
    } catch (int) {
    }
    MatrixOwner owner(g);
  });
  std::printf("missing grid given up after %8.3f s   (5 waits of 200 ms between 6 attempts)\n", t);
  return 0;
}
