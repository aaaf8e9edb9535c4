// The glacier share of a cell from which the modules above the ground take it as all
// glacier: such a cell holds no canopy, its whole water input passes the interception and
// the annual glacier update gives what its canopy held to the glacier part's snow.
#pragma once

constexpr double kWholeGlacierShare = 0.99999;
