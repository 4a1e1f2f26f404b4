// Stable LSD radix sort of (x, label) rows on the IEEE bit patterns of x: one
// counting pass on the label, then one pass per byte of the ordered key that
// actually varies. Comparison sorts are kept for short inputs, where the
// fixed cost of the histograms does not pay.
#include "sort_rows.hpp"

#include <algorithm>
#include <array>
#include <cstring>

namespace tessaline {
namespace {

constexpr std::size_t kRadixThreshold = 512;

// Maps a double onto an unsigned key whose order is the numeric order.
// -0.0 is mapped like 0.0 so that the two stay equal (and stable).
inline uint64_t ordered_key(double v) {
    if (v == 0.0) v = 0.0;
    uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    return (bits >> 63) ? ~bits : (bits | (uint64_t{1} << 63));
}

bool row_less(const LabelledRow& a, const LabelledRow& b) {
    return a.x < b.x || (a.x == b.x && a.label < b.label);
}

}  // namespace

void sort_rows_by_value_then_label(std::vector<LabelledRow>& rows) {
    const std::size_t n = rows.size();
    if (n < kRadixThreshold) {
        std::stable_sort(rows.begin(), rows.end(), row_less);
        return;
    }

    // All histograms in one pass: eight key bytes and the label.
    std::vector<std::array<std::size_t, 256>> hist(8);
    for (auto& h : hist) h.fill(0);
    std::size_t label_zero = 0;
    for (const LabelledRow& r : rows) {
        const uint64_t key = ordered_key(r.x);
        for (int b = 0; b < 8; ++b) ++hist[b][(key >> (8 * b)) & 0xFF];
        label_zero += (r.label == 0);
    }

    std::vector<LabelledRow> buffer(n);
    LabelledRow* src = rows.data();
    LabelledRow* dst = buffer.data();

    // Least significant first: the label, then the key bytes from low to high.
    if (label_zero != 0 && label_zero != n) {
        std::size_t pos0 = 0;
        std::size_t pos1 = label_zero;
        for (std::size_t i = 0; i < n; ++i) {
            if (src[i].label == 0) {
                dst[pos0++] = src[i];
            } else {
                dst[pos1++] = src[i];
            }
        }
        std::swap(src, dst);
    }
    for (int b = 0; b < 8; ++b) {
        const auto& h = hist[b];
        if (std::find(h.begin(), h.end(), n) != h.end()) continue;  // byte never varies
        std::array<std::size_t, 256> offset;
        std::size_t sum = 0;
        for (int v = 0; v < 256; ++v) {
            offset[v] = sum;
            sum += h[v];
        }
        const int shift = 8 * b;
        for (std::size_t i = 0; i < n; ++i) {
            dst[offset[(ordered_key(src[i].x) >> shift) & 0xFF]++] = src[i];
        }
        std::swap(src, dst);
    }
    if (src != rows.data()) rows.swap(buffer);
}

}  // namespace tessaline
