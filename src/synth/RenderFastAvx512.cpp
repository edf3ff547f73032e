// The note kernel for processors with AVX-512 (F and DQ); called only when the
// processor has them.
//
// Lanes run across partials: 16 partials a block, several blocks in flight so
// the phase recurrence's latency is hidden. The phase steps exactly as the
// reference's scalar loop: the wrap (phase - floor(phase), which is what the
// reference's repeated subtraction of 1.0 gives for every phase below 2^24),
// a truncating table read, and float(double(phase) + inc). The products
// (level x w) x gain keep their float roundings. A 16 x 16 transpose turns a
// tile of 16 frames x 16 partials into one vector per partial over 16 frames,
// which is added to the mix partial by partial in ascending order: each frame
// receives exactly the reference's sequence of float additions.

#include "RenderFastKernel.h"

// The instruction set is chosen here, for this file alone (whoever builds it):
// the rest of the program runs on any x86-64 processor.
#pragma GCC target("avx512f,avx512dq")

// GCC 12's AVX-512 header leaves the upper half of some conversions undefined
// on purpose and then warns about it.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <immintrin.h>
#pragma GCC diagnostic pop

namespace marovane_fast {
namespace {

constexpr int kLanes = 16;

inline void Transpose16(__m512 r[16])
{
    __m512 t[16];
    for (int i = 0; i < 16; i += 2) {
        t[i] = _mm512_unpacklo_ps(r[i], r[i + 1]);
        t[i + 1] = _mm512_unpackhi_ps(r[i], r[i + 1]);
    }
    // u[4q + m]: rows 4q..4q+3, element m of each 128-bit lane.
    __m512 u[16];
    for (int q = 0; q < 4; ++q) {
        const __m512d a = _mm512_castps_pd(t[4 * q]);
        const __m512d b = _mm512_castps_pd(t[4 * q + 1]);
        const __m512d c = _mm512_castps_pd(t[4 * q + 2]);
        const __m512d d = _mm512_castps_pd(t[4 * q + 3]);
        u[4 * q + 0] = _mm512_castpd_ps(_mm512_unpacklo_pd(a, c));
        u[4 * q + 1] = _mm512_castpd_ps(_mm512_unpackhi_pd(a, c));
        u[4 * q + 2] = _mm512_castpd_ps(_mm512_unpacklo_pd(b, d));
        u[4 * q + 3] = _mm512_castpd_ps(_mm512_unpackhi_pd(b, d));
    }
    for (int m = 0; m < 4; ++m) {
        const __m512 ve = _mm512_shuffle_f32x4(u[m], u[4 + m], 0x88);
        const __m512 vo = _mm512_shuffle_f32x4(u[m], u[4 + m], 0xdd);
        const __m512 we = _mm512_shuffle_f32x4(u[8 + m], u[12 + m], 0x88);
        const __m512 wo = _mm512_shuffle_f32x4(u[8 + m], u[12 + m], 0xdd);
        r[0 + m] = _mm512_shuffle_f32x4(ve, we, 0x88);
        r[4 + m] = _mm512_shuffle_f32x4(vo, wo, 0x88);
        r[8 + m] = _mm512_shuffle_f32x4(ve, we, 0xdd);
        r[12 + m] = _mm512_shuffle_f32x4(vo, wo, 0xdd);
    }
}

// NB blocks of 16 partials starting at partial `first`.
template <int NB>
void Group(const NoteKernelArgs& a, int first)
{
    __m512 ph[NB], lev[NB];
    __m512d incLo[NB], incHi[NB];
#pragma GCC unroll 8
    for (int b = 0; b < NB; ++b) {
        const int off = first + kLanes * b;
        ph[b] = _mm512_load_ps(a.phase + off);
        lev[b] = _mm512_load_ps(a.level + off);
        incLo[b] = _mm512_load_pd(a.inc + off);
        incHi[b] = _mm512_load_pd(a.inc + off + 8);
    }
    alignas(64) float tile[NB][kLanes][kLanes] = {};
    const __m512 scale = _mm512_set1_ps(32768.0f);
    for (unsigned t0 = 0; t0 < a.frames; t0 += kLanes) {
        const unsigned count = a.frames - t0 < kLanes ? a.frames - t0 : kLanes;
        for (unsigned j = 0; j < count; ++j) {
#pragma GCC unroll 8
            for (int b = 0; b < NB; ++b) {
                const __m512 p = ph[b];
                const __m512 pw = _mm512_sub_ps(p, _mm512_roundscale_ps(p, _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC));
                const __m512i ix = _mm512_cvttps_epi32(_mm512_mul_ps(pw, scale));
                const __m512 w = _mm512_i32gather_ps(ix, a.sine, 4);
                _mm512_store_ps(tile[b][j], _mm512_mul_ps(lev[b], w));
                const __m512d lo = _mm512_add_pd(_mm512_cvtps_pd(_mm512_castps512_ps256(pw)), incLo[b]);
                const __m512d hi = _mm512_add_pd(_mm512_cvtps_pd(_mm512_extractf32x8_ps(pw, 1)), incHi[b]);
                ph[b] = _mm512_insertf32x8(_mm512_castps256_ps512(_mm512_cvtpd_ps(lo)), _mm512_cvtpd_ps(hi), 1);
            }
        }
        const __m512 g = _mm512_load_ps(a.gain + t0);
        __m512 mix = _mm512_load_ps(a.mix + t0);
        for (int b = 0; b < NB; ++b) {
            __m512 r[kLanes];
#pragma GCC unroll 16
            for (int j = 0; j < kLanes; ++j)
                r[j] = _mm512_load_ps(tile[b][j]);
            Transpose16(r);
            const int valid = a.partials - (first + kLanes * b);
            if (valid >= kLanes) {
#pragma GCC unroll 16
                for (int k = 0; k < kLanes; ++k)
                    mix = _mm512_add_ps(mix, _mm512_mul_ps(r[k], g));
            } else {
                for (int k = 0; k < valid; ++k)
                    mix = _mm512_add_ps(mix, _mm512_mul_ps(r[k], g));
            }
        }
        _mm512_store_ps(a.mix + t0, mix);
    }
#pragma GCC unroll 8
    for (int b = 0; b < NB; ++b)
        _mm512_store_ps(a.phase + first + kLanes * b, ph[b]);
}

} // namespace

void RenderNoteAvx512(const NoteKernelArgs& a)
{
    constexpr int kInFlight = 2;
    int first = 0;
    for (; a.partials - first >= kInFlight * kLanes; first += kInFlight * kLanes)
        Group<kInFlight>(a, first);
    for (; first < a.partials; first += kLanes)
        Group<1>(a, first);
}

} // namespace marovane_fast
