// Four doubles: the horizontal pass's vectors, and the AVX2 vertical pass's.
// Like ResampleWidePasses.h it is included once per instruction set, inside
// that set's namespace, so it has no include guard.

struct Ops256 {
    typedef __m256d Doubles;
    static inline Doubles Set(double value) { return _mm256_set1_pd(value); }
    static inline Doubles Add(Doubles a, Doubles b) { return _mm256_add_pd(a, b); }
    static inline Doubles Sub(Doubles a, Doubles b) { return _mm256_sub_pd(a, b); }
    static inline Doubles Mul(Doubles a, Doubles b) { return _mm256_mul_pd(a, b); }
    static inline Doubles Div(Doubles a, Doubles b) { return _mm256_div_pd(a, b); }
    // The second operand wherever the first is NaN.
    static inline Doubles Max(Doubles a, Doubles b) { return _mm256_max_pd(a, b); }
    static inline Doubles Min(Doubles a, Doubles b) { return _mm256_min_pd(a, b); }
    static inline Doubles Floor(Doubles a) { return _mm256_floor_pd(a); }
    static inline bool AnyGreater(Doubles a, Doubles b) {
        return _mm256_movemask_pd(_mm256_cmp_pd(a, b, _CMP_GT_OQ)) != 0;
    }
};
