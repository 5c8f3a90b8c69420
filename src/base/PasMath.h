#pragma once
// Pascal's rounding rules: Round halves to even, Trunc goes toward zero.
#include <cmath>
#include <cstdint>

inline int64_t PasRound(double x) { return static_cast<int64_t>(std::nearbyint(x)); }  // FE_TONEAREST: half to even
inline int64_t PasTrunc(double x) { return static_cast<int64_t>(std::trunc(x)); }
inline double PasFrac(double x) { return x - std::trunc(x); }
