#!/usr/bin/env python3
"""Level-discharge tables computed independently of the program, from the hydraulics of a
rectangular mean channel with rectangular flood plains (Manning-Strickler, the exchange
towards a common level starting from a flood-plain velocity of 1 m/s), written in the
layout of the program's "wq_table.%.3d" files.

The golden files wq_table.001 and wq_table.002 beside this script are the output of this
calculation for the two channels of the routing tests (routing_module_test.cpp): 1 h steps
in 2 sub-intervals, qmin 1, qmax 100 l/(s km2), 10 intervals; km 2 h, kf 5 h, bm 5 m,
bf 50 m, kstm 25, kstf 10, slope 0.01. Channel 1 (8000 m, 10 km2) has a mean channel 0.1 m
deep, so its largest discharges wet the flood plains; channel 2 (20000 m, 20 km2) is 5 m
deep and keeps them dry.

  python3 wq_table_check.py            compares the golden files with the calculation
                                       (prints "ok" or the lines that differ, exit 1)
  python3 wq_table_check.py --write    writes the golden files from the calculation
  python3 wq_table_check.py --example  prints the tables of the example basin's channels
"""
import math
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))


def manning(q, b, v, kst, sqrt_i, iterations=50, tolerance=0.005):
    """Depth h and velocity v of a rectangular section of width b carrying q, iterated from
    the start velocity v until it changes by no more than the tolerance."""
    h = 0.0
    for _ in range(iterations):
        area = q / v if v > 0 else 0.0
        h = area / b
        perimeter = 2 * h + b
        if perimeter > 0:
            r = area / perimeter
            new = kst * r ** 0.66667 * sqrt_i if r > 0 else 0.0
        else:
            new = 0.0
        change = abs(v - new)
        v = new
        if not change > tolerance:
            break
    return h, v


class Channel:
    def __init__(self, km, kf, bm, bf, hm, kstm, kstf, slope, length, area):
        self.km, self.kf, self.bm, self.bf, self.hm = km, kf, bm, bf, hm
        self.kstm, self.kstf, self.slope, self.length, self.area = kstm, kstf, slope, length, area


def table(c, qmin, qmax, n, dt, subint, area_factor=1.0):
    sqrt_i = math.sqrt(c.slope)
    dlog = math.log(qmax / qmin) / n
    rows = {}
    vm = 1.0
    for j in range(n + 1, 0, -1):
        q = math.exp(math.log(qmax) - (n + 1 - j) * dlog)
        big_q = q / 1000.0 * c.area / area_factor
        qm, qf, df, vf = big_q, 0.0, 0.0, 0.0
        dm, vm = manning(qm, c.bm, vm, c.kstm, sqrt_i)
        if dm > c.hm:
            vf = 1.0  # the flood plains start from the mean channel's first velocity
            for _ in range(50):
                level = (dm + df + c.hm) / 2
                df = level - c.hm
                if dm > level:
                    x = min((dm - level) * c.bm * vm, (dm - level) * c.bf * vf)
                    qm, qf = qm - x, qf + x
                else:
                    x = min((level - dm) * c.bm * vm, (level - dm) * c.bf * vf)
                    qm, qf = qm + x, qf - x
                dm, vm = manning(qm, c.bm, vm, c.kstm, sqrt_i)
                df, vf = manning(qf, c.bf, vf, c.kstf, sqrt_i)
                if not abs(dm - df - c.hm) > 0.01:
                    break
        total = qm + qf
        v = qm / total * vm + qf / total * vf if total != 0 else vm
        rows[j] = dict(q=q, depth=q * 0.0036 * dt / 60, Q=big_q, dm=dm, df=df, v=v, vm=vm, vf=vf,
                       t=c.length / v / 3600, share=qf / total if total != 0 else 0.0)
    t1, tl = rows[1]["t"], rows[n + 1]["t"]
    m = 1
    while not (t1 / m <= tl / m + dt / 60):
        m += 1
    for r in rows.values():
        r["delta"] = int(r["t"] / m / dt * 60 * subint)
    d1 = rows[1]["delta"]
    for r in rows.values():
        r["delta"] = min(r["delta"], d1)  # no row translates longer than the smallest discharge
    elements = int((subint + max(r["delta"] for r in rows.values())) * m)
    return m, elements, rows


def text(c, title, qmin, qmax, n, dt, subint):
    m, elements, rows = table(c, qmin, qmax, n, dt, subint)
    lines = [title, "input parameters from the control file:", "-" * 42]
    lines += [
        f"storage constant mean channel [h] : {c.km:7.2f}",
        f"storage constant flood plain [h]  : {c.kf:7.2f}",
        f"width of the mean channel [m]     : {c.bm:7.2f}",
        f"width of flood plains  [m]        : {c.bf:7.2f}",
        f"depth of mean channel  [m]        : {c.hm:7.2f}",
        f"Manning-coef. mean chan[m^(1/3)/s]: {c.kstm:7.2f}",
        f"Manning-ceof. flood pl.[m^(1/3)/s]: {c.kstf:7.2f}",
        f"slope angle            [1/1]      : {c.slope:7.4f}",
        f"channel length         [m]        : {c.length:7.1f}",
        f"catchment area         [km^2]     : {c.area:7.2f}",
        f"min. spec. discharge   [l/s/km^2] : {qmin:7.1f}",
        f"max. spec. discharge   [l/s/km^2] : {qmax:7.1f}",
        f"intervals for w-q-table[-]        : {n + 1:7.0f}",
        f"sub-intervals (time)   [-]        : {subint:7d}  ",
        f"number of sub-channels            : {m:7.0f}",
        f"total number of storage elements  : {subint + elements:7d}  ",
        "-" * 79,
        "  #    q      q       Q     dm    df     v      vm     vf     t   delta   Qf/Q ",
        "     [mm]  l/s/km2 [m^3/s]  [m]   [m]   [m/s]  [m/s]  [m/s]  [h]  [Int]   [1/1]",
        "-" * 79,
    ]
    for j in range(1, n + 2):
        r = rows[j]
        lines.append(f"{j:3d}  {r['depth']:5.3f} {r['q']:6.1f} {r['Q']:7.2f}  {r['dm']:5.2f} {r['df']:5.2f} "
                     f"{r['v']:5.2f}  {r['vm']:5.2f}  {r['vf']:5.2f}  {r['t']:5.2f}  {r['delta']:3d}   "
                     f"{r['share']:5.3f}")
    return "\n".join(lines) + "\n"


def tested_channel(length, area, hm):
    return Channel(2.0, 5.0, 5.0, 50.0, hm, 25.0, 10.0, 0.01, length, area)


GOLDEN = {
    "wq_table.001": ("waterlevel-discharge-table for the channel of subbasin 1 to the outlet of subbasin 3",
                     tested_channel(8000, 10, 0.1)),
    "wq_table.002": ("waterlevel-discharge-table for the channel of subbasin 2 to the outlet of subbasin 3",
                     tested_channel(20000, 20, 5.0)),
}

# The OL channels of the example basin (examples/basin/basin.ctl): 1 h steps in 2
# sub-intervals, qmin 1, qmax 2000 l/(s km2), 20 intervals.
EXAMPLE = {
    1: Channel(3, 10, 4, 30, 1.0, 25, 15, 0.030, 9000, 50),
    3: Channel(4, 12, 6, 40, 1.2, 25, 15, 0.025, 14000, 113),
    2: Channel(3, 10, 5, 30, 1.0, 25, 15, 0.020, 11000, 64),
    4: Channel(5, 15, 8, 50, 1.5, 30, 15, 0.010, 7000, 283),
}


def main():
    if "--example" in sys.argv:
        for code, c in EXAMPLE.items():
            print(text(c, f"channel of subbasin {code}", 1.0, 2000.0, 20, 60.0, 2))
        return 0
    bad = []
    for name, (title, c) in GOLDEN.items():
        expected = text(c, title, 1.0, 100.0, 10, 60.0, 2)
        path = os.path.join(HERE, name)
        if "--write" in sys.argv:
            with open(path, "w") as f:
                f.write(expected)
            continue
        with open(path) as f:
            golden = f.read()
        if golden != expected:
            g, e = golden.splitlines(), expected.splitlines()
            bad += [f"{name} line {k + 1}:\n  file: {a}\n  calc: {b}"
                    for k, (a, b) in enumerate(zip(g, e)) if a != b]
            if len(g) != len(e):
                bad.append(f"{name}: {len(g)} lines, the calculation gives {len(e)}")
    if "--write" not in sys.argv:
        print("\n".join(bad) if bad else "ok")
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
