// Four-float vectors for the audio hot loops. GCC's vector types map to SSE
// registers on every x86-64 and each lane does exactly the scalar IEEE
// operation (ISO C++ builds do not contract a·b + c), so vectorised and
// scalar paths give the same bits.
#pragma once

#include <cstring>

namespace crestline::simd {

using Float4 = float __attribute__((vector_size(16)));
using Int4 = int __attribute__((vector_size(16)));

inline Float4 load4(const float* p) {
    Float4 v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

inline void store4(float* p, Float4 v) { std::memcpy(p, &v, sizeof v); }

inline Float4 splat4(float x) { return Float4{x, x, x, x}; }

inline Float4 abs4(Float4 v) {
    Int4 bits;
    std::memcpy(&bits, &v, sizeof v);
    bits &= 0x7fffffff;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

// Lane-wise `m < a ? a : m`: a NaN in `a` leaves m as it was.
inline Float4 max4(Float4 m, Float4 a) { return m < a ? a : m; }

// The same fold over the four lanes, lane 0 first.
inline float maxLanes(Float4 v, float m) {
    for (int k = 0; k < 4; ++k) m = m < v[k] ? v[k] : m;
    return m;
}

}  // namespace crestline::simd
