#!/usr/bin/env python3
"""Writes hourly station files for temperature and precipitation of the example basin.

Usage: make_station_files.py <folder with stations.csv and monthly.csv>
       (writes temperature.dat and precipitation.dat here)

Six real stations in and around the basin (positions and elevations from stations.csv),
hourly from 1 January 1985 0:00 to 1 February 1985 0:00. The hourly values are made up
around each station's January 1985 values of monthly.csv:
- temperature: the mean of the monthly mean minimum and maximum, a daily cycle of half
  their difference (warmest at 15:00) and a common 6-day swing of +-4 K, to 0.1 degree C;
- precipitation: the station's monthly total spread over four common events in the
  shares 3:2:4:1, evenly over each event's hours, to 0.1 mm.
monthly.csv and stations.csv are derived from the GPL-2+ data set COmonthlyMet, and so
are the files written here (GNU General Public License, version 2 or later).
Plain Python, no other module needed.
"""
import csv
import math
import os
import sys

STATIONS = ["056977", "053541", "050776", "057315", "051964", "058781"]
# (day, first hour, hours, share)
EVENTS = [(4, 14, 10, 3.0), (11, 2, 8, 2.0), (19, 20, 14, 4.0), (27, 9, 5, 1.0)]


def hours():
    """Hourly dates of the period: (year, month, day, hour)."""
    out = [(1985, 1, d, h) for d in range(1, 32) for h in range(24)]
    out.append((1985, 2, 1, 0))
    return out


def main(folder):
    with open(os.path.join(folder, "stations.csv")) as f:
        stations = {r["id"]: r for r in csv.DictReader(f)}
    with open(os.path.join(folder, "monthly.csv")) as f:
        monthly = {r["id"]: r for r in csv.DictReader(f) if r["year"] == "1985" and r["month"] == "1"}
    chosen = [stations[i] for i in STATIONS]
    names = " ".join(s["name"].replace(" ", "_") for s in chosen)
    head = ["YY MM DD HH " + " ".join(s[k] for s in chosen) for k in ("elevation_m", "x", "y")]
    here = os.path.dirname(os.path.abspath(__file__))

    def write(fname, title, value):
        with open(os.path.join(here, fname), "w") as f:
            f.write(title + " (made by make_station_files.py; GPL-2+, see there)\n")
            f.write("\n".join(head) + "\n")
            f.write("YY MM DD HH " + names + "\n")
            for (y, m, d, h) in hours():
                f.write("%d %d %d %d %s\n" % (y, m, d, h, " ".join(value(s["id"], d + (m - 1) * 31, h)
                                                                   for s in chosen)))

    def temperature(sid, day, hour):
        tmin, tmax = float(monthly[sid]["tmin_c"]), float(monthly[sid]["tmax_c"])
        t = (tmin + tmax) / 2 + (tmax - tmin) / 2 * math.cos(2 * math.pi * (hour - 15) / 24)
        t += 4.0 * math.sin(2 * math.pi * (day - 1 + hour / 24.0) / 6.0)
        return "%.1f" % t

    total_share = sum(e[3] for e in EVENTS)

    def precipitation(sid, day, hour):
        p = float(monthly[sid]["precip_mm"])
        t = (day - 1) * 24 + hour
        for (d0, h0, n, share) in EVENTS:
            start = (d0 - 1) * 24 + h0
            if start <= t < start + n:
                return "%.1f" % (p * share / total_share / n)
        return "0.0"

    write("temperature.dat", "Air temperature in degree C, hourly, six stations", temperature)
    write("precipitation.dat", "Precipitation in mm per hour, six stations", precipitation)


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    main(sys.argv[1])
