#!/usr/bin/env python3
"""Draws the routed discharge of a run: one line per sub-basin outlet from the routing
module's statistics file (a tab-separated table: title row with the sub-basin codes,
a description row, a row of the areas upstream of the outlets in km², then YY MM DD HH [mm]
and one value per sub-basin).

    scripts/plot_hydrograph.py <discharge.stat> <picture.png> [title] [<code>=<label> ...]

A <code>=<label> argument adds the label to the legend entry of that sub-basin (for example
5="outlet, below the reservoir"). Where every value is above 0 the axis is logarithmic, and
its label says so.
"""
import datetime
import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402


def read_table(path):
    with open(path) as f:
        lines = f.read().splitlines()
    titles = lines[0].split("\t")
    minute = len(titles) > 4 and titles[4] == "mm"
    first = 5 if minute else 4
    codes = [t.strip('"') for t in titles[first:]]
    unit = lines[1]
    times, series = [], [[] for _ in codes]
    for line in lines[3:]:
        f = line.split("\t")
        if len(f) < first + len(codes) or not f[0].strip().lstrip("-").isdigit():
            break  # the efficiency block follows the rows
        y, mo, d, h = (int(x) for x in f[:4])
        mi = int(f[4]) if minute else 0
        times.append(datetime.datetime(y, mo, d) + datetime.timedelta(hours=h, minutes=mi))
        for k in range(len(codes)):
            series[k].append(float(f[first + k]))
    return codes, unit, times, series


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    codes, unit, times, series = read_table(sys.argv[1])
    if not times:
        sys.exit(f"{sys.argv[1]}: no rows")
    labels = dict(a.split("=", 1) for a in sys.argv[4:] if "=" in a)
    fig, ax = plt.subplots(figsize=(9, 4.8))
    for code, values in zip(codes, series):
        name = f"sub-basin {code}" + (f": {labels[code]}" if code in labels else "")
        ax.plot(times, values, lw=1.6 if code == codes[-1] else 0.9, label=name)
    ylabel = "m³/s" if "m3 per sec" in unit else "mm per step"
    # A logarithmic axis keeps the small events beside a large recession readable.
    if all(v > 0 for values in series for v in values):
        ax.set_yscale("log")
        ylabel += " (logarithmic axis)"
    ax.set_ylabel(ylabel)
    ax.set_title(sys.argv[3] if len(sys.argv) > 3 else "routed discharge at the sub-basin outlets")
    ax.grid(alpha=0.3)
    fig.autofmt_xdate()
    # Below the axes, so that no line hides behind it.
    ax.legend(fontsize=8, ncol=min(len(codes), 3), loc="upper center", bbox_to_anchor=(0.5, -0.22))
    fig.tight_layout()
    fig.savefig(sys.argv[2], dpi=110)


if __name__ == "__main__":
    main()
