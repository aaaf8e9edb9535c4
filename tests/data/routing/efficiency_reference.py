#!/usr/bin/env python3
"""Reference of the routing module's efficiency block, by a two-pass computation (means
first, then sums of squared deviations) independent of the program's running sums.

Writes efficiency_observed.txt (the observed discharge file, 60 hourly rows from
2001-01-01 01:00), efficiency_simulated.txt (the runoff of the single sub-basin for the 40
steps of the run) and efficiency_expected.txt: per shift -10..10 the linear and logarithmic
R-square and coefficient of variation. Step t compares the runoff of step t with the
observation of step t + shift (the first observation before the start)."""
import math
import os

HERE = os.path.dirname(os.path.abspath(__file__))
STEPS, ROWS = 40, 60

obs = [1.0 + 0.8 * math.sin(i / 3.0 + 0.4) + 0.1 * math.cos(i) for i in range(ROWS)]
obs[7] = 0.0  # a value that is left out of every sum
sim = [1.0 + 0.8 * math.sin(t / 3.0) for t in range(STEPS)]
sim[12] = -0.5  # a negative runoff: in the linear sums only


def measures(pairs):
    n = len(pairs)
    if n < 3:
        return 1.0, 1.0
    s = [p[0] for p in pairs]
    o = [p[1] for p in pairs]
    mo = sum(o) / n
    var_o = sum((x - mo) ** 2 for x in o) / (n - 1)
    d = [a - b for a, b in zip(s, o)]
    md = sum(d) / n
    r2 = 1.0 - (sum(x * x for x in d) / (n - 1)) / var_o
    cv = 1.0 - (sum((x - md) ** 2 for x in d) / (n - 1)) / var_o
    return r2, cv


with open(os.path.join(HERE, "efficiency_observed.txt"), "w") as f:
    f.write("YY\tMM\tDD\tHH\tQ1\n")
    for i in range(ROWS):
        h = 1 + i
        f.write(f"2001\t1\t{1 + h // 24}\t{h % 24}\t{obs[i]:.17g}\n")
with open(os.path.join(HERE, "efficiency_simulated.txt"), "w") as f:
    f.write("\n".join(f"{x:.17g}" for x in sim) + "\n")
with open(os.path.join(HERE, "efficiency_expected.txt"), "w") as f:
    f.write("# shift lin_r2 log_r2 lin_cv log_cv\n")
    for k in range(-10, 11):
        lin, lg = [], []
        for t in range(STEPS):
            o = obs[max(0, t + k)]
            if o > 0:
                lin.append((sim[t], o))
                if sim[t] > 0:
                    lg.append((math.log(sim[t]), math.log(o)))
        r2, cv = measures(lin)
        lr2, lcv = measures(lg)
        f.write(f"{k} {r2:.17g} {lr2:.17g} {cv:.17g} {lcv:.17g}\n")
