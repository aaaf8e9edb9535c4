// Weights of up to three regression regions at one cell, from the distances to the
// nearest cells of the other regions.
#pragma once

// Own weight from the distance to the nearest cell of another region (in cells) and the
// transition distance d (in cells): 0.5 at the border, 1.0 at d and beyond.
double OwnRegionWeight(double nearestDistance, double d);

struct ThreeRegionWeights {
  double w1, w2, w3;
};
// Weights of the own region and of regions 2 and 3 whose nearest cells lie at exact
// distances a and b; they sum to 1.
ThreeRegionWeights ThreeRegionBlend(double a, double b, double d);
