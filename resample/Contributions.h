// Contribution tables: for every destination index of one direction, the
// source pixels that contribute to it and their weights. Built once per
// direction and call, so the pixel passes see only (pixel, weight) taps.
#pragma once

#include <cstdint>

#include "resample/FilterKernel.h"

struct Contribution {
    float weight;
    int32_t pixel;
};

struct ContributionList {
    Contribution* entries;  // owned; null when no array could be had
    int32_t count;
    float weightSum;        // sum of the double weights, rounded once
};

// Fills lists 0..destinationLength-1 of table for resampling sourceLength
// pixels to destinationLength with kernel. A list whose entries cannot be
// allocated is left empty.
void BuildContributions(const FilterKernel& kernel, int32_t sourceLength, int32_t destinationLength,
                        ContributionList* table);

// Frees the entries of lists 0..length-1; the array itself stays.
void FreeContributions(ContributionList* table, int32_t length);

// Entries a list may need: the window of candidates with one to spare.
int64_t ContributionCapacity(const FilterKernel& kernel, int32_t sourceLength, int32_t destinationLength);
