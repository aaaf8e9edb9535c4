// Codes held by grids: sub-basins, land-use and soil classes, irrigation, lake, region and
// river-link numbers. A grid stores a code as a number, and a grid exported in floating
// point writes the code 3 as 2.9999999 or 3.0000001: that is still the code 3, for every
// reader of the grid alike.
#pragma once

#include <string>

#include "framework/modelobject.h"

// The whole number a value stands for: true, with the number, where the value lies within a
// float's rounding of it (a millionth, of the number's size above 1); false for a value that
// is no whole number (2.6) and for one that is not a number.
bool WholeCodeOf(double value, double& code);

// The value as the whole number it stands for where it is one to rounding; else unchanged.
double WholeIfNear(double value);

// The code of a value by its integer part (the rule of the zone grid, the land-use, soil and
// irrigation codes, the regression regions and the river links): the whole number it stands
// for where it is one to rounding, else its integer part (4.9 is 4, 2.9999999 is 3).
double IntegerPartCode(double value);

// "row 3, column 4 (centre x 456300, y 4179500)": a cell of the basin as messages name it.
std::string CellPlace(const GridGeometry& geometry, int row, int column);
