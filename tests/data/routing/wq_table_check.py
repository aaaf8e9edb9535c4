#!/usr/bin/env python3
"""Recomputes the golden level-discharge tables wq_table.001 and wq_table.002 from their
channel values, independently of the program, and compares every printed number.

Channels (routing_module_test.cpp): 1 h steps in 2 sub-intervals, qmin 1, qmax 100 l/(s km²),
10 intervals; km 2 h, bm 5 m, hm 5 m, kstm 25, slope 0.01; lengths 8000 and 20000 m over
catchments of 10 and 20 km². The mean channel is 5 m deep, so the flood plains stay dry.
Run: python3 wq_table_check.py  (prints "ok" or the differences)."""
import math
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))


def manning(q, b, v, kst, sqrt_i):
    for _ in range(50):
        a = q / v if v > 0 else 0.0
        h = a / b
        r = a / (2 * h + b)
        new = kst * r ** 0.66667 * sqrt_i if r > 0 else 0.0
        change = abs(v - new)
        v = new
        if change <= 0.005:
            break
    return h, v


def table(length, area, dt=60.0, subint=2, qmin=1.0, qmax=100.0, n=10):
    dlog = math.log(qmax / qmin) / n
    rows = {}
    v = 1.0
    for j in range(n + 1, 0, -1):
        q = math.exp(math.log(qmax) - (n + 1 - j) * dlog)
        big_q = q / 1000.0 * area
        h, v = manning(big_q, 5.0, v, 25.0, math.sqrt(0.01))
        rows[j] = dict(q=q, depth=q * 0.0036 * dt / 60, Q=big_q, dm=h, v=v, t=length / v / 3600)
    t1, tl = rows[1]["t"], rows[n + 1]["t"]
    m = 1
    while not (t1 / m <= tl / m + dt / 60):
        m += 1
    for j in rows:
        rows[j]["delta"] = int(rows[j]["t"] / m / dt * 60 * subint)
    d1 = rows[1]["delta"]
    for j in rows:
        rows[j]["delta"] = min(rows[j]["delta"], d1)
    elements = int((subint + max(r["delta"] for r in rows.values())) * m)
    return m, elements, rows


def check(name, length, area):
    m, elements, rows = table(length, area)
    lines = open(os.path.join(HERE, name)).read().splitlines()
    bad = []
    head = {l.split(":")[0].strip(): l.split(":")[1].strip() for l in lines[3:19] if ":" in l}
    if int(float(head["number of sub-channels"])) != m:
        bad.append(f"{name}: sub-channels {head['number of sub-channels']} != {m}")
    if int(head["total number of storage elements"]) != 2 + elements:
        bad.append(f"{name}: storage elements {head['total number of storage elements']} != {2 + elements}")
    for line in lines[23:]:
        f = line.split()
        j = int(f[0])
        r = rows[j]
        expected = [f"{r['depth']:.3f}", f"{r['q']:.1f}", f"{r['Q']:.2f}", f"{r['dm']:.2f}", "0.00",
                    f"{r['v']:.2f}", f"{r['v']:.2f}", "0.00", f"{r['t']:.2f}", str(r["delta"]), "0.000"]
        if f[1:] != expected:
            bad.append(f"{name} row {j}: {f[1:]} != {expected}")
    return bad


problems = check("wq_table.001", 8000, 10) + check("wq_table.002", 20000, 20)
print("\n".join(problems) if problems else "ok")
sys.exit(1 if problems else 0)
