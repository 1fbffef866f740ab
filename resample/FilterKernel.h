// The seven resampling kernels and the mode table that binds ScalingZPX's mode
// argument to them. Kernels are pure functions of the distance t >= 0 from the
// kernel's centre, in kernel units, evaluated only while weight tables are
// built, never per pixel.
#pragma once

#include <cstdint>

struct FilterKernel {
    int32_t mode;
    const char* name;
    double (*weight)(double t);
    // Support in kernel units: the weight is 0 beyond it.
    double radius;
};

// The row for a mode, or null for a mode outside 1..7.
const FilterKernel* FindFilterKernel(int32_t mode);

double TriangleWeight(double t);
double BoxWeight(double t);
double Lanczos3Weight(double t);
double Lanczos8Weight(double t);
double MitchellWeight(double t);
double KeysWeight(double t);
double Keys6Weight(double t);
