// Inverse distance with powers 1 and 2 at a batch of points on vector registers: SSE2
// (4 points), AVX2 (8) and AVX-512 (16), chosen at run time by what the CPU offers.
//
// Every lane performs the operations of IdwValue in the same order (no fused multiply-
// add: the program is compiled with -ffp-contract=off), so every point's value has the
// bits of IdwValue at that point, whichever set runs.
#pragma once

#include "meteo/interpolation_kernels.h"

enum class IdwInstructionSet { Sse2 = 0, Avx2 = 1, Avx512 = 2 };

// The largest batch of any set.
constexpr int kMaxIdwBatch = 16;

// Points per call of a set's kernel.
int IdwBatchSize(IdwInstructionSet set);
// True when this CPU (and this build) can run the set.
bool IdwInstructionSetAvailable(IdwInstructionSet set);
// The set the cell loop uses: the widest available unless one was selected.
IdwInstructionSet ActiveIdwInstructionSet();
// Selects the set the cell loop uses (tests, benchmarks); false, and no change, when the
// set is not available.
bool SelectIdwInstructionSet(IdwInstructionSet set);
const char* IdwInstructionSetName(IdwInstructionSet set);

// Inverse distance at IdwBatchSize(set) points (px[k], py[k]) into out[k], for settings
// of mode 2000 or 1000. ratio scales the x differences (1.0: isotropic).
void IdwBatch(IdwInstructionSet set, const StationPoints& s, const IdwSettings& w, double nodata, double ratio,
              const double* px, const double* py, double* out);

// Value sets of stations that stand at the same places and are valid in the same sets
// (variables of one station file, say): the weight of a station at a point is made once
// for all of them.
constexpr int kMaxIdwSets = 6;
struct IdwSets {
  int count = 0;                   // 1..kMaxIdwSets
  const double* v[kMaxIdwSets]{};  // values 1..n of each set
  double nodata[kMaxIdwSets]{};    // each set's nodata value N
};
// IdwBatch of every set into out[k * kMaxIdwBatch + l] (set k, point l), with the bits of
// IdwBatch of that set alone. The stations that count are those valid in set 0
// (s.v must be sets.v[0]); they must be the valid ones of every set.
void IdwBatchSets(IdwInstructionSet set, const StationPoints& s, const IdwSets& sets, const IdwSettings& w,
                  double ratio, const double* px, const double* py, double* out);
