#!/usr/bin/env python3
"""Derives the example basin's 1 km grids from the 200 m grids of the Huerfano example.

Usage: make_grids.py <folder with dem.asc and zones.asc>   (writes dem.asc, zones.asc,
landuse.asc, snow_swe.asc and snow_assim.txt here)

Each 1 km cell is a block of 5 x 5 source cells. The southernmost source row is dropped so
that the 126 rows divide into 25 blocks. Elevation: mean of the block, to 0.1 m. Zone: the
code held by most cells of the block when at least 13 of its 25 cells lie in the catchment,
otherwise no data. Land use (the source has none): conifer forest (code 1) in the basin's
cells below 3300 m, alpine grassland (code 2) from 3300 m up. Snow water equivalent for the
assimilation rule of basin.ctl (not an observation, the source has none): 0 below 2400 m, then
0.1 mm per metre above, in the basin's cells; snow_assim.txt lists it for 15 January 1985, 12 h.
Plain Python, no other module needed.
"""
import os
import sys
from collections import Counter

BLOCK = 5
TREELINE = 3300.0  # m: conifer forest below, alpine grassland above
SNOWLINE = 2400.0  # m: no snow water equivalent below
SWE_GRADIENT = 0.1  # mm of snow water equivalent per m above the snow line
SWE_DATE = "1985 1 15 12"  # year month day hour the snow grid replaces the model's


def read_ascii_grid(path):
    with open(path) as f:
        header = {}
        for _ in range(6):
            key, value = f.readline().split()
            header[key.lower()] = float(value)
        values = [float(v) for v in f.read().split()]
    ncols, nrows = int(header["ncols"]), int(header["nrows"])
    assert len(values) == ncols * nrows, path
    rows = [values[r * ncols:(r + 1) * ncols] for r in range(nrows)]
    return header, rows


def write_ascii_grid(path, ncols, nrows, xll, yll, cellsize, rows, fmt):
    with open(path, "w") as f:
        f.write("ncols %d\nnrows %d\nxllcorner %.1f\nyllcorner %.1f\ncellsize %.1f\nnodata_value -9999\n"
                % (ncols, nrows, xll, yll, cellsize))
        for row in rows:
            f.write(" ".join(fmt(v) for v in row) + "\n")


def main(src):
    here = os.path.dirname(os.path.abspath(__file__))
    # The 1 km grids are written here: read from here, they would be aggregated again.
    if os.path.isdir(src) and os.path.samefile(src, here):
        sys.exit("make_grids.py: %s is the folder the 1 km grids are written to; name the folder of the "
                 "200 m source grids" % src)
    hd, dem = read_ascii_grid(os.path.join(src, "dem.asc"))
    hz, zones = read_ascii_grid(os.path.join(src, "zones.asc"))
    nodata = hz["nodata_value"]
    nrows = int(hd["nrows"]) // BLOCK
    ncols = int(hd["ncols"]) // BLOCK
    dropped = int(hd["nrows"]) - nrows * BLOCK  # southern rows left out
    yll = hd["yllcorner"] + dropped * hd["cellsize"]
    out_dem, out_zones = [], []
    for R in range(nrows):
        drow, zrow = [], []
        for C in range(ncols):
            cells = [(r, c) for r in range(R * BLOCK, R * BLOCK + BLOCK) for c in range(C * BLOCK, C * BLOCK + BLOCK)]
            drow.append(sum(dem[r][c] for r, c in cells) / len(cells))
            codes = Counter(int(zones[r][c]) for r, c in cells if zones[r][c] != nodata)
            inside = sum(codes.values())
            zrow.append(codes.most_common(1)[0][0] if inside * 2 > len(cells) else -9999)
        out_dem.append(drow)
        out_zones.append(zrow)
    cs = hd["cellsize"] * BLOCK
    write_ascii_grid(os.path.join(here, "dem.asc"), ncols, nrows, hd["xllcorner"], yll, cs, out_dem,
                     lambda v: "%.1f" % v)
    write_ascii_grid(os.path.join(here, "zones.asc"), ncols, nrows, hd["xllcorner"], yll, cs, out_zones,
                     lambda v: "%d" % v)
    landuse = [[-9999 if z == -9999 else (1 if d < TREELINE else 2) for d, z in zip(drow, zrow)]
               for drow, zrow in zip(out_dem, out_zones)]
    write_ascii_grid(os.path.join(here, "landuse.asc"), ncols, nrows, hd["xllcorner"], yll, cs, landuse,
                     lambda v: "%d" % v)
    swe = [[-9999 if z == -9999 else max(0.0, (d - SNOWLINE) * SWE_GRADIENT) for d, z in zip(drow, zrow)]
           for drow, zrow in zip(out_dem, out_zones)]
    write_ascii_grid(os.path.join(here, "snow_swe.asc"), ncols, nrows, hd["xllcorner"], yll, cs, swe,
                     lambda v: "%d" % v if v == -9999 else "%.1f" % v)
    with open(os.path.join(here, "snow_assim.txt"), "w") as f:
        f.write("snow water equivalent for assimilation\nnumber of columns : %d\nnumber of rows : %d\n"
                "grid cell size : %d\nunit of values : mm\n%s snow_swe.asc\n" % (ncols, nrows, cs, SWE_DATE))
    counts = Counter(v for row in out_zones for v in row if v != -9999)
    print("%d x %d cells, %d in the basin, per zone %s" % (ncols, nrows, sum(counts.values()), dict(sorted(counts.items()))))


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    main(sys.argv[1])
