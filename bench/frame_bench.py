#!/usr/bin/env python3
"""Speed of the frame: the program on a 1000 x 1000 basin with five interpolated variables,
zone statistics of each and a grid of each written every step, against the program built
from an earlier commit, side by side in one run.

Usage: bench/frame_bench.py [--base COMMIT] [--binary PATH] [--steps N] [--threads N]

The earlier program is built from COMMIT (default: the commit before the frame's speed
work) in build-bench/base; the current one is PATH (default: build/orvelvco64). Each is run
on 1 and on N threads (default: all cores) for N steps and for 2 steps; the time per step
is the difference over the steps between, so the start-up is left out. Also printed: the
peak memory of each run in bytes per cell, and the machine's load while it ran.
Plain Python; needs git, cmake and a compiler for the earlier build.
"""
import argparse
import math
import os
import re
import shutil
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BASE_COMMIT = "2b10f28"
ROWS = COLS = 1000
CELL = 100.0
XLL, YLL = 430000.0, 4130000.0
VARIABLES = 5
STATIONS = 50
ZONES = 20


def build_base(commit):
    """Builds orvelvco64 of the commit (once; kept in build-bench/base)."""
    out = os.path.join(ROOT, "build-bench", "base")
    binary = os.path.join(out, "build", "orvelvco64")
    stamp = os.path.join(out, "commit")
    if os.path.exists(binary) and os.path.exists(stamp) and open(stamp).read().strip() == commit:
        return binary
    shutil.rmtree(out, ignore_errors=True)
    os.makedirs(os.path.join(out, "src"))
    archive = subprocess.run(["git", "-C", ROOT, "archive", commit], check=True, capture_output=True).stdout
    subprocess.run(["tar", "-x", "-C", os.path.join(out, "src")], input=archive, check=True)
    subprocess.run(["cmake", "-S", os.path.join(out, "src"), "-B", os.path.join(out, "build"),
                    "-DCMAKE_BUILD_TYPE=RelWithDebInfo", "-DORVEL_TESTS=OFF"], check=True, capture_output=True)
    subprocess.run(["cmake", "--build", os.path.join(out, "build"), "-j4", "--target", "orvelvco64"], check=True,
                   capture_output=True)
    with open(stamp, "w") as f:
        f.write(commit + "\n")
    return binary


def write_grid(path, value):
    with open(path, "w") as f:
        f.write("ncols %d\nnrows %d\nxllcorner %.1f\nyllcorner %.1f\ncellsize %.1f\nnodata_value -9999\n"
                % (COLS, ROWS, XLL, YLL, CELL))
        for r in range(ROWS):
            f.write(" ".join(value(r, c) for c in range(COLS)) + "\n")


def make_case(folder, steps):
    """The example basin's control file on a 1000 x 1000 grid with five variables."""
    os.makedirs(os.path.join(folder, "output"), exist_ok=True)
    if not os.path.exists(os.path.join(folder, "zones.asc")):
        write_grid(os.path.join(folder, "zones.asc"),
                   lambda r, c: str(1 + (r * 4 // ROWS) * 5 + (c * 5 // COLS)))
        write_grid(os.path.join(folder, "dem.asc"),
                   lambda r, c: "%.1f" % (2500 + 600 * math.sin(r / 97.0) * math.cos(c / 131.0)))
        seed = 12345
        xs, ys = [], []
        for _ in range(STATIONS):
            seed = (seed * 1103515245 + 12345) % 2 ** 32
            xs.append(XLL + (seed / 2 ** 32) * COLS * CELL)
            seed = (seed * 1103515245 + 12345) % 2 ** 32
            ys.append(YLL + (seed / 2 ** 32) * ROWS * CELL)
        for v in range(1, VARIABLES + 1):
            with open(os.path.join(folder, "v%d.dat" % v), "w") as f:
                f.write("variable %d, hourly, %d stations\n" % (v, STATIONS))
                f.write("YY MM DD HH " + " ".join("2000" for _ in xs) + "\n")
                f.write("YY MM DD HH " + " ".join("%.1f" % x for x in xs) + "\n")
                f.write("YY MM DD HH " + " ".join("%.1f" % y for y in ys) + "\n")
                f.write("YY MM DD HH " + " ".join("S%d" % k for k in range(STATIONS)) + "\n")
                for h in range(0, 24 * 6):
                    f.write("1985 1 %d %d %s\n" % (1 + h // 24, h % 24, " ".join(
                        "%.1f" % (10 * math.sin(0.1 * k + 0.3 * h + v)) for k in range(STATIONS))))
    text = open(os.path.join(ROOT, "examples", "basin", "basin.ctl")).read()
    text = text.replace("WriteAsciiGrids = 1", "WriteAsciiGrids = 0")
    text = text.replace("24      # reporting interval", "1000    # reporting interval")
    # The frame only: every process module, the point output and the assimilation off, and
    # no land-use grid (the case has none).
    text = re.sub(r"(?m)^1(\s+# flow control parameter)", r"0\1", text)
    text = text.replace("[infiltration_model]\n1 ", "[infiltration_model]\n0 ")
    # No variable grids: the modules that read them are off.
    text = re.sub(r"(?m)^\d+(\s+# number of variable grids.*\n)(?:.*\n)*?\n", r"0\1\n", text, count=1)
    text = re.sub(r"(?m)^(\d+)(\s+# number of standard grids\n)((?:.*\n)*?)landuse\.asc landuse .*\n",
                  lambda m: "%d%s%s" % (int(m.group(1)) - 1, m.group(2), m.group(3)), text)
    head, rest = text.split("[meteo_data_count]", 1)
    tail = rest[rest.index("# Precipitation gauges"):]
    template = rest[rest.index("[temperature]"):rest.index("[precipitation]")]
    sections = "[meteo_data_count]\n%d\n\n[meteo_names]\n%s\n\n" % (
        VARIABLES, "\n".join("v%d" % v for v in range(1, VARIABLES + 1)))
    for v in range(1, VARIABLES + 1):
        s = template.replace("[temperature]", "[v%d]" % v)
        s = s.replace("temperature.dat", "v%d.dat" % v)
        s = re.sub(r"(?m)^\S*temperature\.asc\s+# result grid.*$", "v%d.bin # result grid, written every step" % v, s)
        s = s.replace("5                       # grid write code", "1                       # grid write code")
        s = s.replace("temperature.stat 2001", "v%d.stat 2001" % v)
        s = s.replace("100000                  # maximum distance", "1000000                 # maximum distance")
        sections += s
    text = head + sections + tail
    end = 1 + steps - 1  # the last step's hour counted from day 1, hour 1
    text = text.replace("24      # end hour\n31      # end day",
                        "%d      # end hour\n%d      # end day" % (end % 24 if end % 24 else 24,
                                                                 (end - 1) // 24 + 1))
    ctl = os.path.join(folder, "frame%d.ctl" % steps)
    with open(ctl, "w") as f:
        f.write(text)
    return ctl


def run(binary, ctl, threads):
    """Seconds and peak resident bytes of one run."""
    env = dict(os.environ, OMP_NUM_THREADS=str(threads))
    env.pop("OMP_WAIT_POLICY", None)
    folder = os.path.dirname(ctl)
    with open(os.path.join(folder, "output", "console.txt"), "w") as out:
        t0 = time.monotonic()
        p = subprocess.Popen([binary, os.path.basename(ctl), "-diagfile:output/diag.xml"], cwd=folder, env=env,
                             stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT)
        _, status, usage = os.wait4(p.pid, 0)
        seconds = time.monotonic() - t0
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit("run failed (%d): %s, see %s/output/console.txt" % (os.waitstatus_to_exitcode(status), binary,
                                                                    folder))
    return seconds, usage.ru_maxrss * 1024


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--base", default=BASE_COMMIT)
    ap.add_argument("--binary", default=os.path.join(ROOT, "build", "orvelvco64"))
    ap.add_argument("--steps", type=int, default=100)
    ap.add_argument("--threads", type=int, default=os.cpu_count())
    ap.add_argument("--folder", default=os.path.join(ROOT, "build-bench", "case"))
    a = ap.parse_args()
    base = build_base(a.base)
    long_ctl = make_case(a.folder, a.steps)
    short_ctl = make_case(a.folder, 2)
    load0 = os.getloadavg()[0]
    print("frame: %d x %d cells, %d variables (inverse distance, %d stations), zone statistics and a binary grid "
          "of each every step" % (ROWS, COLS, VARIABLES, STATIONS))
    results = {}
    for name, binary in (("before", base), ("now", a.binary)):
        for threads in (1, a.threads):
            t_long, peak = run(binary, long_ctl, threads)
            t_short, _ = run(binary, short_ctl, threads)
            per_step = (t_long - t_short) / (a.steps - 2)
            results[(name, threads)] = per_step
            print("  %-6s %d thread(s): %7.1f ms per step (%d steps %.1f s, 2 steps %.1f s), peak %.0f bytes per cell"
                  % (name, threads, 1000 * per_step, a.steps, t_long, t_short, peak / (ROWS * COLS)))
    n = a.threads
    print("  now against before on %d threads: %.2f times faster per step" %
          (n, results[("before", n)] / results[("now", n)]))
    print("  speed-up 1 -> %d threads: before %.2f, now %.2f" %
          (n, results[("before", 1)] / results[("before", n)], results[("now", 1)] / results[("now", n)]))
    print("  load average (1 min) at the start %.1f, at the end %.1f, on %d cores" %
          (load0, os.getloadavg()[0], os.cpu_count()))


if __name__ == "__main__":
    main()
