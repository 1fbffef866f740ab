// Source pixel j covers [j, j + 1); destination pixel i has its centre at
// c = (i + 0.5) / s in source coordinates, s = destination / source length.
// When shrinking, the kernel is stretched by 1/s; when enlarging (or keeping
// the length) it keeps its own width. Candidates outside the source are not
// visited: the division by weightSum in the passes makes up for them.
#include "resample/Contributions.h"

#include <cmath>
#include <cstdlib>

#include "picture/CBuffer.h"

namespace {

struct Window {
    int64_t first;
    int64_t last;
};

Window CandidateWindow(double centre, double halfWidth, bool shrinking, int32_t sourceLength) {
    double lower = std::floor(centre - halfWidth);
    double upper = shrinking ? std::floor(centre + halfWidth) : std::ceil(centre + halfWidth);
    Window window;
    window.first = lower < 0.0 ? 0 : static_cast<int64_t>(lower);
    window.last = upper >= static_cast<double>(sourceLength) ? sourceLength - 1 : static_cast<int64_t>(upper);
    return window;
}

Contribution* AllocateEntries(int64_t capacity) { return AllocateZeroed<Contribution>(capacity).release(); }

}  // namespace

int64_t ContributionCapacity(const FilterKernel& kernel, int32_t sourceLength, int32_t destinationLength) {
    const double scale = static_cast<double>(destinationLength) / static_cast<double>(sourceLength);
    const double halfWidth = scale < 1.0 ? kernel.radius / scale : kernel.radius;
    const double capacity = std::floor(2.0 * halfWidth + 2.0);
    return capacity > static_cast<double>(kLargestWorkingBuffer) ? kLargestWorkingBuffer + 1 : static_cast<int64_t>(capacity);
}

void BuildContributions(const FilterKernel& kernel, int32_t sourceLength, int32_t destinationLength,
                        ContributionList* table) {
    const double scale = static_cast<double>(destinationLength) / static_cast<double>(sourceLength);
    const bool shrinking = scale < 1.0;
    const double halfWidth = shrinking ? kernel.radius / scale : kernel.radius;
    const int64_t capacity = ContributionCapacity(kernel, sourceLength, destinationLength);

    for (int32_t i = 0; i < destinationLength; ++i) {
        ContributionList& list = table[i];
        list = ContributionList{AllocateEntries(capacity), 0, 0.0f};
        if (list.entries == nullptr) continue;
        const double centre = (static_cast<double>(i) + 0.5) / scale;
        const Window window = CandidateWindow(centre, halfWidth, shrinking, sourceLength);
        double sum = 0.0;
        for (int64_t j = window.first; j <= window.last && list.count < capacity; ++j) {
            const double x = shrinking ? ((centre - static_cast<double>(j)) - 0.5) * scale
                                       : (centre - static_cast<double>(j)) - 0.5;
            const double w = kernel.weight(std::fabs(x));
            if (w == 0.0) continue;
            list.entries[list.count++] = Contribution{static_cast<float>(w), static_cast<int32_t>(j)};
            sum += w;
        }
        list.weightSum = static_cast<float>(sum);
    }
}

void FreeContributions(ContributionList* table, int32_t length) {
    for (int32_t i = 0; i < length; ++i) {
        free(table[i].entries);
        table[i].entries = nullptr;
    }
}
