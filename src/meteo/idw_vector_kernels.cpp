#include "meteo/idw_vector_kernels.h"

#include <atomic>

#if defined(__x86_64__)
#include <immintrin.h>
#define ORVEL_X86_KERNELS 1
#endif

namespace {

#if ORVEL_X86_KERNELS
// Each kernel keeps two registers of points, so that two independent chains of sums and
// divisions overlap. A station out of reach (or of no weight) leaves a lane's sums as
// they are, as IdwValue skips it. The weight of a station at a point is made once and
// added to the sums of each of the K value sets; the stations valid in set 0 count.

template <bool Squared, int K>
void IdwSse2(const StationPoints& s, const double* const* values, const IdwSettings& w, double nodata, double ratio,
             const double* px, const double* py, double* sumW, double* sumWV) {
  const double valid = -nodata;
  const __m128d one = _mm_set1_pd(1.0), zero = _mm_setzero_pd(),
                lim = _mm_set1_pd(Squared ? w.maxDistanceSquared : w.maxDistance), rat = _mm_set1_pd(ratio);
  const __m128d x0 = _mm_loadu_pd(px), x1 = _mm_loadu_pd(px + 2), y0 = _mm_loadu_pd(py), y1 = _mm_loadu_pd(py + 2);
  __m128d w0 = zero, w1 = zero, wv0[K], wv1[K];
  for (int k = 0; k < K; ++k) wv0[k] = wv1[k] = zero;
  // The weight at the points (x, y), zero in the lanes whose station is out of reach.
  auto weigh = [&](__m128d xs, __m128d ys, __m128d x, __m128d y, __m128d& take) {
    const __m128d dx = _mm_mul_pd(_mm_sub_pd(xs, x), rat);
    const __m128d dy = _mm_sub_pd(ys, y);
    __m128d d = _mm_add_pd(_mm_mul_pd(dx, dx), _mm_mul_pd(dy, dy));
    if (!Squared) d = _mm_sqrt_pd(d);
    const __m128d atCell = _mm_cmpeq_pd(d, zero);
    d = _mm_or_pd(_mm_andnot_pd(atCell, d), _mm_and_pd(atCell, one));
    const __m128d weight = _mm_div_pd(one, d);
    take = _mm_and_pd(_mm_cmple_pd(d, lim), _mm_cmpgt_pd(weight, zero));
    return weight;
  };
  for (int i = 1; i <= s.n; ++i) {
    if (!(s.v[i] >= valid)) continue;
    const __m128d xs = _mm_set1_pd(s.x[i]), ys = _mm_set1_pd(s.y[i]);
    __m128d t0, t1;
    const __m128d a = weigh(xs, ys, x0, y0, t0), b = weigh(xs, ys, x1, y1, t1);
    w0 = _mm_add_pd(w0, _mm_and_pd(t0, a));
    w1 = _mm_add_pd(w1, _mm_and_pd(t1, b));
    for (int k = 0; k < K; ++k) {
      const __m128d vs = _mm_set1_pd(values[k][i]);
      wv0[k] = _mm_add_pd(wv0[k], _mm_and_pd(t0, _mm_mul_pd(a, vs)));
      wv1[k] = _mm_add_pd(wv1[k], _mm_and_pd(t1, _mm_mul_pd(b, vs)));
    }
  }
  _mm_storeu_pd(sumW, w0);
  _mm_storeu_pd(sumW + 2, w1);
  for (int k = 0; k < K; ++k) {
    _mm_storeu_pd(sumWV + k * kMaxIdwBatch, wv0[k]);
    _mm_storeu_pd(sumWV + k * kMaxIdwBatch + 2, wv1[k]);
  }
}

template <bool Squared, int K>
__attribute__((target("avx2"))) void IdwAvx2(const StationPoints& s, const double* const* values,
                                              const IdwSettings& w, double nodata, double ratio, const double* px,
                                              const double* py, double* sumW, double* sumWV) {
  const double valid = -nodata;
  const __m256d one = _mm256_set1_pd(1.0), zero = _mm256_setzero_pd(),
                lim = _mm256_set1_pd(Squared ? w.maxDistanceSquared : w.maxDistance), rat = _mm256_set1_pd(ratio);
  const __m256d x0 = _mm256_loadu_pd(px), x1 = _mm256_loadu_pd(px + 4), y0 = _mm256_loadu_pd(py),
                y1 = _mm256_loadu_pd(py + 4);
  __m256d w0 = zero, w1 = zero, wv0[K], wv1[K];
  for (int k = 0; k < K; ++k) wv0[k] = wv1[k] = zero;
  auto weigh = [&](__m256d xs, __m256d ys, __m256d x, __m256d y, __m256d& take) __attribute__((target("avx2"))) {
    const __m256d dx = _mm256_mul_pd(_mm256_sub_pd(xs, x), rat);
    const __m256d dy = _mm256_sub_pd(ys, y);
    __m256d d = _mm256_add_pd(_mm256_mul_pd(dx, dx), _mm256_mul_pd(dy, dy));
    if (!Squared) d = _mm256_sqrt_pd(d);
    d = _mm256_blendv_pd(d, one, _mm256_cmp_pd(d, zero, _CMP_EQ_OQ));
    const __m256d weight = _mm256_div_pd(one, d);
    take = _mm256_and_pd(_mm256_cmp_pd(d, lim, _CMP_LE_OQ), _mm256_cmp_pd(weight, zero, _CMP_GT_OQ));
    return weight;
  };
  for (int i = 1; i <= s.n; ++i) {
    if (!(s.v[i] >= valid)) continue;
    const __m256d xs = _mm256_set1_pd(s.x[i]), ys = _mm256_set1_pd(s.y[i]);
    __m256d t0, t1;
    const __m256d a = weigh(xs, ys, x0, y0, t0), b = weigh(xs, ys, x1, y1, t1);
    w0 = _mm256_add_pd(w0, _mm256_and_pd(t0, a));
    w1 = _mm256_add_pd(w1, _mm256_and_pd(t1, b));
    for (int k = 0; k < K; ++k) {
      const __m256d vs = _mm256_set1_pd(values[k][i]);
      wv0[k] = _mm256_add_pd(wv0[k], _mm256_and_pd(t0, _mm256_mul_pd(a, vs)));
      wv1[k] = _mm256_add_pd(wv1[k], _mm256_and_pd(t1, _mm256_mul_pd(b, vs)));
    }
  }
  _mm256_storeu_pd(sumW, w0);
  _mm256_storeu_pd(sumW + 4, w1);
  for (int k = 0; k < K; ++k) {
    _mm256_storeu_pd(sumWV + k * kMaxIdwBatch, wv0[k]);
    _mm256_storeu_pd(sumWV + k * kMaxIdwBatch + 4, wv1[k]);
  }
}

template <bool Squared, int K>
__attribute__((target("avx512f"))) void IdwAvx512(const StationPoints& s, const double* const* values,
                                                  const IdwSettings& w, double nodata, double ratio, const double* px,
                                                  const double* py, double* sumW, double* sumWV) {
  const double valid = -nodata;
  const __m512d one = _mm512_set1_pd(1.0), zero = _mm512_setzero_pd(),
                lim = _mm512_set1_pd(Squared ? w.maxDistanceSquared : w.maxDistance), rat = _mm512_set1_pd(ratio);
  const __m512d x0 = _mm512_loadu_pd(px), x1 = _mm512_loadu_pd(px + 8), y0 = _mm512_loadu_pd(py),
                y1 = _mm512_loadu_pd(py + 8);
  __m512d w0 = zero, w1 = zero, wv0[K], wv1[K];
  for (int k = 0; k < K; ++k) wv0[k] = wv1[k] = zero;
  auto weigh = [&](__m512d xs, __m512d ys, __m512d x, __m512d y, __mmask8& take) __attribute__((target("avx512f"))) {
    const __m512d dx = _mm512_mul_pd(_mm512_sub_pd(xs, x), rat);
    const __m512d dy = _mm512_sub_pd(ys, y);
    __m512d d = _mm512_add_pd(_mm512_mul_pd(dx, dx), _mm512_mul_pd(dy, dy));
    if (!Squared) d = _mm512_maskz_sqrt_pd(0xFF, d);  // all lanes (the unmasked form trips a GCC 12 warning)
    d = _mm512_mask_blend_pd(_mm512_cmp_pd_mask(d, zero, _CMP_EQ_OQ), d, one);
    const __m512d weight = _mm512_div_pd(one, d);
    take = _mm512_cmp_pd_mask(d, lim, _CMP_LE_OQ) & _mm512_cmp_pd_mask(weight, zero, _CMP_GT_OQ);
    return weight;
  };
  for (int i = 1; i <= s.n; ++i) {
    if (!(s.v[i] >= valid)) continue;
    const __m512d xs = _mm512_set1_pd(s.x[i]), ys = _mm512_set1_pd(s.y[i]);
    __mmask8 t0, t1;
    const __m512d a = weigh(xs, ys, x0, y0, t0), b = weigh(xs, ys, x1, y1, t1);
    w0 = _mm512_mask_add_pd(w0, t0, w0, a);
    w1 = _mm512_mask_add_pd(w1, t1, w1, b);
    for (int k = 0; k < K; ++k) {
      const __m512d vs = _mm512_set1_pd(values[k][i]);
      wv0[k] = _mm512_mask_add_pd(wv0[k], t0, wv0[k], _mm512_mul_pd(a, vs));
      wv1[k] = _mm512_mask_add_pd(wv1[k], t1, wv1[k], _mm512_mul_pd(b, vs));
    }
  }
  _mm512_storeu_pd(sumW, w0);
  _mm512_storeu_pd(sumW + 8, w1);
  for (int k = 0; k < K; ++k) {
    _mm512_storeu_pd(sumWV + k * kMaxIdwBatch, wv0[k]);
    _mm512_storeu_pd(sumWV + k * kMaxIdwBatch + 8, wv1[k]);
  }
}

// The kernel of the set for K value sets.
template <int K>
void RunKernel(IdwInstructionSet set, bool squared, const StationPoints& s, const double* const* values,
               const IdwSettings& w, double nodata, double ratio, const double* px, const double* py, double* sumW,
               double* sumWV) {
  switch (set) {
    case IdwInstructionSet::Avx512:
      squared ? IdwAvx512<true, K>(s, values, w, nodata, ratio, px, py, sumW, sumWV)
              : IdwAvx512<false, K>(s, values, w, nodata, ratio, px, py, sumW, sumWV);
      break;
    case IdwInstructionSet::Avx2:
      squared ? IdwAvx2<true, K>(s, values, w, nodata, ratio, px, py, sumW, sumWV)
              : IdwAvx2<false, K>(s, values, w, nodata, ratio, px, py, sumW, sumWV);
      break;
    default:
      squared ? IdwSse2<true, K>(s, values, w, nodata, ratio, px, py, sumW, sumWV)
              : IdwSse2<false, K>(s, values, w, nodata, ratio, px, py, sumW, sumWV);
  }
}

bool CpuHas(IdwInstructionSet set) {
  switch (set) {
    case IdwInstructionSet::Sse2: return true;
    case IdwInstructionSet::Avx2: return __builtin_cpu_supports("avx2");
    case IdwInstructionSet::Avx512: return __builtin_cpu_supports("avx512f");
  }
  return false;
}
#else
bool CpuHas(IdwInstructionSet set) { return set == IdwInstructionSet::Sse2; }
#endif

IdwInstructionSet Widest() {
  if (CpuHas(IdwInstructionSet::Avx512)) return IdwInstructionSet::Avx512;
  if (CpuHas(IdwInstructionSet::Avx2)) return IdwInstructionSet::Avx2;
  return IdwInstructionSet::Sse2;
}

std::atomic<int>& Selected() {
  static std::atomic<int> selected{static_cast<int>(Widest())};
  return selected;
}

}  // namespace

int IdwBatchSize(IdwInstructionSet set) {
  switch (set) {
    case IdwInstructionSet::Avx2: return 8;
    case IdwInstructionSet::Avx512: return 16;
    default: return 4;
  }
}

bool IdwInstructionSetAvailable(IdwInstructionSet set) { return CpuHas(set); }

IdwInstructionSet ActiveIdwInstructionSet() { return static_cast<IdwInstructionSet>(Selected().load()); }

bool SelectIdwInstructionSet(IdwInstructionSet set) {
  if (!CpuHas(set)) return false;
  Selected().store(static_cast<int>(set));
  return true;
}

const char* IdwInstructionSetName(IdwInstructionSet set) {
  switch (set) {
    case IdwInstructionSet::Avx2: return "AVX2";
    case IdwInstructionSet::Avx512: return "AVX-512";
    default: return "SSE2";
  }
}

void IdwBatchSets(IdwInstructionSet set, const StationPoints& s, const IdwSets& sets, const IdwSettings& w,
                  double ratio, const double* px, const double* py, double* out) {
  const int n = IdwBatchSize(set), K = sets.count;
#if ORVEL_X86_KERNELS
  double sumW[kMaxIdwBatch], sumWV[kMaxIdwSets * kMaxIdwBatch];
  const bool squared = w.mode == 2000;
  const double nodata = sets.nodata[0];
  switch (K) {
    case 1: RunKernel<1>(set, squared, s, sets.v, w, nodata, ratio, px, py, sumW, sumWV); break;
    case 2: RunKernel<2>(set, squared, s, sets.v, w, nodata, ratio, px, py, sumW, sumWV); break;
    case 3: RunKernel<3>(set, squared, s, sets.v, w, nodata, ratio, px, py, sumW, sumWV); break;
    case 4: RunKernel<4>(set, squared, s, sets.v, w, nodata, ratio, px, py, sumW, sumWV); break;
    case 5: RunKernel<5>(set, squared, s, sets.v, w, nodata, ratio, px, py, sumW, sumWV); break;
    case 6: RunKernel<6>(set, squared, s, sets.v, w, nodata, ratio, px, py, sumW, sumWV); break;
    default: return;
  }
  for (int k = 0; k < K; ++k)
    for (int l = 0; l < n; ++l)
      out[k * kMaxIdwBatch + l] =
          sumW[l] == 0.0 ? MissingResult(sets.nodata[k]) : sumWV[k * kMaxIdwBatch + l] / sumW[l];
#else
  // The stations valid in set 0 are those valid in every set: each set by itself.
  for (int k = 0; k < K; ++k) {
    const StationPoints one{s.n, s.x, s.y, sets.v[k]};
    for (int l = 0; l < n; ++l) out[k * kMaxIdwBatch + l] = IdwValue(one, w, sets.nodata[k], px[l], py[l], ratio);
  }
#endif
}

void IdwBatch(IdwInstructionSet set, const StationPoints& s, const IdwSettings& w, double nodata, double ratio,
              const double* px, const double* py, double* out) {
  IdwSets one;
  one.count = 1;
  one.v[0] = s.v;
  one.nodata[0] = nodata;
  IdwBatchSets(set, s, one, w, ratio, px, py, out);
}
