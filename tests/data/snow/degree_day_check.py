#!/usr/bin/env python3
"""Independent step-by-step snow pack of the temperature-index (method 1) and the
temperature-and-wind-index (method 2) snow melt, for one cell.

usage: degree_day_check.py METHOD FORCING PARAMETERS > RESULT

FORCING holds one line per step: day month temperature precipitation wind.
PARAMETERS holds, one per line: steps per day, transzone, T0R, T0, CWH, then three lines of
twelve monthly values (degree-day factor, a, b).
RESULT: one line per step: solid liquid outflow melt (mm).
"""
import sys

MONTH_DAYS = [31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31]


def day_value(months, day, month):
    """Monthly value of the day: the month's own value from day 15 to 16, straight lines
    to the neighbouring months' values in between."""
    prev_m = months[month - 2] if month > 1 else months[11]
    this_m = months[month - 1]
    next_m = months[month] if month < 12 else months[0]
    if day < 16:
        return prev_m + (this_m - prev_m) * (day + 15.0) / 30.0
    return this_m + (next_m - this_m) * (day - 16.0) / MONTH_DAYS[month - 1]


def main():
    method = int(sys.argv[1])
    forcing = [line.split() for line in open(sys.argv[2]) if line.strip()]
    p = [line.split() for line in open(sys.argv[3]) if line.strip()]
    n, transzone, t0r, t0, cwh = (float(p[i][0]) for i in range(5))
    ddf, a, b = ([float(x) for x in p[i]] for i in (5, 6, 7))
    solid = liquid = 0.0
    for day, month, temp, prec, wind in forcing:
        day, month = int(day), int(month)
        temp, prec, wind = float(temp), float(prec), float(wind)
        if temp > t0r + transzone:
            snow_share = 0.0
        elif temp <= t0r - transzone:
            snow_share = 1.0
        else:
            snow_share = (t0r + transzone - temp) / (2.0 * transzone)
        solid += snow_share * prec
        liquid += (1.0 - snow_share) * prec
        melt = 0.0
        if temp > t0 and solid > 0.0:
            if method == 1:
                melt = (temp - t0) * day_value(ddf, day, month) / n
            else:
                melt = (temp - t0) * (day_value(a, day, month) + day_value(b, day, month) * wind) / n
            melt = min(solid, melt)
            liquid += melt
            solid -= melt
        outflow = 0.0
        melt_out = 0.0
        if liquid > cwh * solid:
            outflow = liquid - cwh * solid
            liquid = cwh * solid
            melt_out = melt if melt > 0.0 else 0.0
        print("%.12f %.12f %.12f %.12f" % (solid, liquid, outflow, melt_out))


if __name__ == "__main__":
    main()
