// Every piece is evaluated with exactly the grouping written here, left to
// right: the contribution tables keep every weight that is not exactly zero,
// so a regrouped polynomial (or a contracted multiply-add) changes the taps.
#include "resample/FilterKernel.h"

#include <cmath>

namespace {

constexpr double kPi = 3.141592653589793;

// sin(pi u) / (pi u), with the zero test on u itself.
double Sinc(double u) {
    if (u == 0.0) return 1.0;
    const double x = kPi * u;
    return std::sin(x) / x;
}

constexpr FilterKernel kKernels[] = {
    {1, "triangle", TriangleWeight, 1.0},  {2, "box", BoxWeight, 0.5},
    {3, "lanczos3", Lanczos3Weight, 3.0},  {4, "lanczos8", Lanczos8Weight, 8.0},
    {5, "mitchell", MitchellWeight, 2.0},  {6, "keys", KeysWeight, 2.0},
    {7, "keys6", Keys6Weight, 3.0},
};

}  // namespace

const FilterKernel* FindFilterKernel(int32_t mode) {
    if (mode < 1 || mode > 7) return nullptr;
    return &kKernels[mode - 1];
}

double TriangleWeight(double t) { return t < 1.0 ? 1.0 - t : 0.0; }

// The bound 0.5 belongs to the box.
double BoxWeight(double t) { return t <= 0.5 ? 1.0 : 0.0; }

double Lanczos3Weight(double t) { return t < 3.0 ? Sinc(t) * Sinc(t / 3.0) : 0.0; }

double Lanczos8Weight(double t) { return t < 8.0 ? Sinc(t) * Sinc(t * 0.125) : 0.0; }

// Mitchell-Netravali with B = C = 1/3.
double MitchellWeight(double t) {
    const double q = t * t;
    if (t < 1.0) return ((q * -12.0) + ((t * q) * 7.0) + 16.0 / 3.0) / 6.0;
    if (t < 2.0) return ((t * -20.0) + ((q * 12.0) + ((q * t) * (-7.0 / 3.0))) + 32.0 / 3.0) / 6.0;
    return 0.0;
}

// Keys cubic convolution, a = -0.75, nested form.
double KeysWeight(double t) {
    if (t < 1.0) return (((t * 1.25) - 2.25) * t) * t + 1.0;
    if (t < 2.0) return (((t * -0.75) + 3.75) * t - 6.0) * t + 3.0;
    return 0.0;
}

// Keys six-point cubic; each bound belongs to the piece below it.
double Keys6Weight(double t) {
    const double q = t * t;
    if (t <= 1.0) return ((q * (-7.0 / 3.0)) + (t * (q * (4.0 / 3.0)))) + 1.0;
    if (t <= 2.0) return (((q * 3.0) + ((q * (-7.0 / 12.0)) * t)) + (t * (-59.0 / 12.0))) + 2.5;
    if (t <= 3.0) return (((q * (-2.0 / 3.0)) + ((q * (1.0 / 12.0)) * t)) + (t * 1.75)) - 1.5;
    return 0.0;
}
