// Per-cell terrain functions of the start-up: slope and aspect from the four direct
// neighbours of a cell (central differences).
#pragma once

constexpr double kDegreesPerRadian = 57.29577951307855;

struct SlopeAspect {
  double slope;   // degrees from the horizontal
  double aspect;  // degrees clockwise from north of the downhill direction
};

// north, south, west, east: elevations of the neighbours; cellsize: distance of cells.
SlopeAspect SlopeAndAspect(double north, double south, double west, double east, double cellsize);
