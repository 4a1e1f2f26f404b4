// Unsupervised binning: cut points (equal width, quantile, caller-given), the
// bin of each value, and per-bin summaries of a binary or continuous target.
//
// Bins are closed on the right: with ascending cut points s[0..m-1], bin 0 is
// (-inf, s[0]], bin b is (s[b-1], s[b]] and bin m is (s[m-1], +inf), so the
// bin of a value is the number of cut points strictly below it and a value
// equal to a cut point falls in the lower bin. NaN has no bin.
//
// Quantiles follow the rule of linear_quantile: on `size` ascending values at
// probability p, pos = (size - 1) * p, lo = floor(pos), hi = ceil(pos), and
// the quantile is (v[hi] - v[lo]) * (pos - lo) + v[lo], a single value being
// its own quantile. Only the order statistics at lo and hi matter, so large
// inputs select those instead of sorting; the results are the same bits.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "bin_search.hpp"
#include "numeric.hpp"
#include "vector_paths.hpp"
#include "order_statistics.hpp"
#include "tessaline/tessaline.hpp"

namespace tessaline {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// ------------------------------------------------------------- quantiles

// Where the quantile rule reads `size` (> 1) ascending values at p.
struct QuantilePoint {
    double pos;
    std::size_t lo;
    std::size_t hi;
};

QuantilePoint quantile_point(std::size_t size, double p) {
    const double pos = static_cast<double>(size - 1) * p;
    return {pos, static_cast<std::size_t>(std::floor(pos)),
            static_cast<std::size_t>(std::ceil(pos))};
}

// The quantile from the order statistics at at.lo and at.hi, in exactly the
// evaluation order of linear_quantile.
double interpolate(const QuantilePoint& at, double at_lo, double at_hi) {
    return (at_hi - at_lo) * (at.pos - static_cast<double>(at.lo)) + at_lo;
}

// The quantile of v[0 .. size), size > 0, whose positions lo and hi already
// hold their sorted values.
double quantile_of_slice(const double* v, std::size_t size, double p) {
    if (size == 1) return v[0];
    const QuantilePoint at = quantile_point(size, p);
    return interpolate(at, v[at.lo], v[at.hi]);
}

// ------------------------------------------------------------ sampling

// Deterministic pseudo-random stream (splitmix64) for drawing samples.
uint64_t next_random(uint64_t& state) {
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

// Inputs this large have their bin medians bracketed through a sample of at
// least this many values.
constexpr std::size_t kSampledFrom = std::size_t{1} << 15;
constexpr std::size_t kSampleAtLeast = 1024;

// Index of position k in the ascending vector `wanted`, which holds it.
std::size_t index_of(const std::vector<std::size_t>& wanted, std::size_t k) {
    return static_cast<std::size_t>(std::lower_bound(wanted.begin(), wanted.end(), k) -
                                    wanted.begin());
}

// ------------------------------------------------------------ cut points

void require_bins(std::size_t n_bins) {
    if (n_bins == 0) throw std::invalid_argument("binning: n_bins debe ser al menos 1");
}

// How many values of x are finite, and the smallest and largest of them.
struct FiniteRange {
    std::size_t count = 0;
    double min = 0.0;
    double max = 0.0;
};

// The first value of x equal to zero (either sign) : the zero a running
// minimum or maximum keeps when zero is the extreme, since a later zero of the
// other sign is not smaller or larger.
double first_zero(const double* x, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        if (x[i] == 0.0) return x[i];
    }
    return 0.0;
}

// Four doubles, and four masks of 64 bits, in one vector register where the
// processor has 256-bit ones (two of 128 bits in the baseline).
using Doubles4 = double __attribute__((vector_size(32)));
using Masks4 = int64_t __attribute__((vector_size(32)));

// The running extremes of x in two sets of four lanes, so that no comparison
// waits for the one before it, and no branch on the data; a value that is
// not finite (v - v is not 0) moves neither extreme.
TESSALINE_VECTOR_BODY FiniteRange finite_range_in_lanes_plain(const double* x, std::size_t n) {
    constexpr double kInfinity = std::numeric_limits<double>::infinity();
    const Doubles4 zero = {0.0, 0.0, 0.0, 0.0};
    Doubles4 lo[2];
    Doubles4 hi[2];
    Masks4 finite_count[2] = {};
    for (int a = 0; a < 2; ++a) {
        lo[a] = zero + kInfinity;
        hi[a] = zero - kInfinity;
    }
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        for (int a = 0; a < 2; ++a) {
            Doubles4 v;
            std::memcpy(&v, x + i + 4 * a, sizeof v);
            const Masks4 finite = (v - v) == zero;
            lo[a] = (finite & (v < lo[a])) ? v : lo[a];
            hi[a] = (finite & (v > hi[a])) ? v : hi[a];
            finite_count[a] -= finite;  // a true mask is -1
        }
    }
    FiniteRange r;
    r.min = kInfinity;
    r.max = -kInfinity;
    for (int a = 0; a < 2; ++a) {
        for (int l = 0; l < 4; ++l) {
            r.min = lo[a][l] < r.min ? lo[a][l] : r.min;
            r.max = hi[a][l] > r.max ? hi[a][l] : r.max;
            r.count += static_cast<std::size_t>(finite_count[a][l]);
        }
    }
    for (; i < n; ++i) {
        const double v = x[i];
        if (!is_finite(v)) continue;
        r.min = v < r.min ? v : r.min;
        r.max = v > r.max ? v : r.max;
        ++r.count;
    }
    return r;
}
TESSALINE_VECTOR_VARIANTS(FiniteRange, finite_range_in_lanes, (const double* x, std::size_t n),
                          (x, n))

FiniteRange finite_range(const double* x, std::size_t n) {
    FiniteRange r = finite_range_in_lanes(x, n);
    if (r.count == 0) throw std::invalid_argument("binning: x no contiene valores finitos");
    // Of the two zeros, the one met first, as a pass in order keeps it.
    if (r.min == 0.0) r.min = first_zero(x, n);
    if (r.max == 0.0) r.max = first_zero(x, n);
    return r;
}

// The order-statistic positions that the quantiles at p = i / n_bins, i = 1
// .. n_bins - 1, read from `size` values: ascending and without repeats. Both
// lo and hi never decrease with i and hi <= lo + 1, so any position not above
// the last one kept is already kept.
std::vector<std::size_t> quantile_positions(std::size_t size, std::size_t n_bins) {
    std::vector<std::size_t> wanted;
    wanted.reserve(std::min(2 * (n_bins - 1), size));
    for (std::size_t i = 1; i < n_bins; ++i) {
        const double p = static_cast<double>(i) / static_cast<double>(n_bins);
        const QuantilePoint at = quantile_point(size, p);
        for (const std::size_t k : {at.lo, at.hi}) {
            if (wanted.empty() || k > wanted.back()) wanted.push_back(k);
        }
    }
    return wanted;
}

// Room for the n_bins - 1 cuts; more than a vector can ever hold is the same
// failure as any other impossible size, not a length error.
void reserve_cuts(std::vector<double>& cuts, std::size_t n_bins) {
    if (n_bins - 1 > cuts.max_size()) throw std::bad_alloc();
    cuts.reserve(n_bins - 1);
}

// Cuts i * width + lo for i = 1 .. n_bins - 1, keeping finite ones that
// strictly increase.
std::vector<double> equal_width_cuts(double lo, double hi, std::size_t n_bins) {
    std::vector<double> cuts;
    if (n_bins == 1 || lo == hi) return cuts;
    const double width = (hi - lo) / static_cast<double>(n_bins);
    reserve_cuts(cuts, n_bins);
    for (std::size_t i = 1; i < n_bins; ++i) {
        const double cut = static_cast<double>(i) * width + lo;
        if (is_finite(cut) && (cuts.empty() || cut > cuts.back())) cuts.push_back(cut);
    }
    return cuts;
}

// --------------------------------------------------------------- summaries

double fraction(std::size_t part, std::size_t whole) {
    return whole == 0 ? 0.0 : static_cast<double>(part) / static_cast<double>(whole);
}

// Edges of bin b of m + 1 bins.
double left_edge(const std::vector<double>& splits, std::size_t b) {
    return b == 0 ? -kInf : splits[b - 1];
}
double right_edge(const std::vector<double>& splits, std::size_t b) {
    return b == splits.size() ? kInf : splits[b];
}

// Median of the x values of every bin. The bins cut the line into
// consecutive intervals, so bin b's values are the positions start[b] ..
// start[b] + count[b] - 1 of all non-NaN x in ascending order, and its median
// needs the order statistics of that whole sample at two of those positions.
std::vector<double> bin_medians(const double* x, std::size_t n,
                                const std::vector<std::size_t>& count, std::size_t bins) {
    std::vector<std::size_t> wanted;
    wanted.reserve(2 * bins);
    std::size_t start = 0;
    for (std::size_t b = 0; b < bins; ++b) {
        if (count[b] == 1) {
            wanted.push_back(start);
        } else if (count[b] > 1) {
            const QuantilePoint at = quantile_point(count[b], 0.5);
            wanted.push_back(start + at.lo);
            if (at.hi != at.lo) wanted.push_back(start + at.hi);
        }
        start += count[b];
    }
    std::vector<double> at_wanted(wanted.size());
    order_statistics(
        x, n, [](double v) { return !std::isnan(v); }, start, wanted, at_wanted.data());

    std::vector<double> median(bins, kNaN);
    for (std::size_t b = 0, w = 0; b < bins; ++b) {
        const std::size_t c = count[b];
        if (c == 1) {
            median[b] = at_wanted[w++];
        } else if (c > 1) {
            const QuantilePoint at = quantile_point(c, 0.5);
            const double at_lo = at_wanted[w++];
            const double at_hi = at.hi != at.lo ? at_wanted[w++] : at_lo;
            median[b] = interpolate(at, at_lo, at_hi);
        }
    }
    return median;
}

// Where the median of one bin is looked for: the values v with lower <= v <=
// upper. An infinite side reaches the edge of the bin.
struct MedianBracket {
    double lower;
    double upper;
};

// Brackets for the medians of the m + 1 bins of the cuts (and an empty one
// for the missing-value slot m + 1), from a sorted random sample of the
// non-NaN x: each bin's sample values, and a band of about four standard
// deviations of rank around the middle one. A bin with too few sample values
// to tell gets the whole bin; so does every bin of a short input.
std::vector<MedianBracket> median_brackets(const double* x, std::size_t n, const double* cuts,
                                           std::size_t m) {
    std::vector<MedianBracket> brackets(m + 2, MedianBracket{-kInf, kInf});
    brackets[m + 1] = MedianBracket{kInf, -kInf};
    if (n < kSampledFrom) return brackets;

    const std::size_t target = std::max<std::size_t>(
        kSampleAtLeast, static_cast<std::size_t>(std::pow(static_cast<double>(n), 2.0 / 3.0)));
    std::vector<double> sample;
    sample.reserve(target);
    uint64_t state = 0x5EED5EED5EED5EEDull;
    for (std::size_t draw = 0; draw < 4 * target && sample.size() < target; ++draw) {
        const double v = x[next_random(state) % n];
        if (!std::isnan(v)) sample.push_back(v);
    }
    std::sort(sample.begin(), sample.end());

    constexpr std::size_t kBandAtLeast = 64;  // sample values a bin needs for a band
    std::size_t first = 0;
    for (std::size_t b = 0; b <= m; ++b) {
        // The sample values of bin b are those not above cut b.
        std::size_t last = sample.size();
        if (b < m) {
            last = static_cast<std::size_t>(
                std::upper_bound(sample.begin() + static_cast<std::ptrdiff_t>(first), sample.end(),
                                 cuts[b]) -
                sample.begin());
        }
        const std::size_t size = last - first;
        if (size >= kBandAtLeast) {
            const std::size_t middle = first + size / 2;
            const std::size_t half_width =
                static_cast<std::size_t>(std::ceil(2.0 * std::sqrt(static_cast<double>(size))));
            if (middle >= first + half_width) brackets[b].lower = sample[middle - half_width];
            if (middle + half_width < last) brackets[b].upper = sample[middle + half_width];
        }
        first = last;
    }
    return brackets;
}

// The counting pass of the binary summary with the Median representative
// (count and ones per slot, m + 1 being the missing-value slot), which also
// gathers what the medians need, so that x is read once: per bin, the number
// of values below its bracket, and the values inside it. Bin b's median reads
// its values at positions lo and hi in ascending order; when both fall inside
// the bracket (always, unless the sample was far off), they are selected
// among the gathered values alone. Otherwise the general path finds them.
std::vector<double> count_with_medians(const double* x, const int* y, std::size_t n,
                                       const std::vector<double>& splits,
                                       std::vector<std::size_t>& count,
                                       std::vector<std::size_t>& ones) {
    const std::size_t m = splits.size();
    const double* cuts = splits.data();
    const std::size_t missing = m + 1;
    const std::vector<MedianBracket> brackets = median_brackets(x, n, cuts, m);
    std::vector<std::size_t> below(m + 2, 0);
    std::vector<std::size_t> inside(m + 2, 0);
    // Gathered values with their bins, in input order; every value is written
    // past the gathered ones, which only grow over it when it is inside, so
    // the pass never branches on the data. Only written pages are touched.
    std::unique_ptr<double[]> gathered_value(new double[n + 1]);
    std::unique_ptr<uint32_t[]> gathered_bin(new uint32_t[n + 1]);
    std::size_t n_gathered = 0;
    for_each_bin(x, n, cuts, m, [&](std::size_t i, std::size_t bin) {
        const double v = x[i];
        const std::size_t b = std::isnan(v) ? missing : bin;
        ++count[b];
        ones[b] += static_cast<std::size_t>(y[i]);
        const MedianBracket& k = brackets[b];
        below[b] += static_cast<std::size_t>(v < k.lower);
        const bool in = (v >= k.lower) & (v <= k.upper);
        gathered_value[n_gathered] = v;
        gathered_bin[n_gathered] = static_cast<uint32_t>(b);
        n_gathered += static_cast<std::size_t>(in);
        inside[b] += static_cast<std::size_t>(in);
    });

    for (std::size_t b = 0; b <= m; ++b) {
        if (count[b] == 0) continue;
        const QuantilePoint at = quantile_point(count[b], 0.5);
        if (at.lo < below[b] || at.hi >= below[b] + inside[b]) {
            return bin_medians(x, n, count, m + 1);
        }
    }

    // The gathered values bin after bin (a counting sort), then the two
    // positions of each bin selected in its own slice.
    std::vector<std::size_t> offset(m + 2, 0);
    for (std::size_t b = 0; b <= m; ++b) offset[b + 1] = offset[b] + inside[b];
    std::vector<double> buffer(n_gathered);
    std::vector<std::size_t> next(offset.begin(), offset.end() - 1);
    for (std::size_t j = 0; j < n_gathered; ++j) {
        buffer[next[gathered_bin[j]]++] = gathered_value[j];
    }
    std::vector<double> median(m + 1, kNaN);
    for (std::size_t b = 0; b <= m; ++b) {
        const std::size_t c = count[b];
        if (c == 0) continue;
        double* values = buffer.data() + offset[b];
        const QuantilePoint at = quantile_point(c, 0.5);
        const std::size_t local[2] = {at.lo - below[b], at.hi - below[b]};
        select_positions(values, 0, inside[b], local, local + (at.hi != at.lo ? 2 : 1));
        // One value is its own median, as in bin_medians.
        median[b] = c == 1 ? values[local[0]] : interpolate(at, values[local[0]], values[local[1]]);
    }
    return median;
}

// Median of the size values at v (reordered in place), equal to the median of
// their sorted copy: select the lower middle, then the smallest value above it.
double median_in_place(double* v, std::size_t size) {
    if (size == 0) return kNaN;
    if (size == 1) return v[0];
    const QuantilePoint at = quantile_point(size, 0.5);
    std::nth_element(v, v + at.lo, v + size);
    if (at.hi != at.lo) std::iter_swap(v + at.hi, std::min_element(v + at.hi, v + size));
    return interpolate(at, v[at.lo], v[at.hi]);
}

// Continuous summary. Slot m + 1 collects rows whose x is NaN and slot m + 2
// the rows whose y is NaN, which count nowhere. The y values of every slot are
// placed into one buffer, slot after slot (a counting sort), and sorted there;
// with the Median representative the x values of every bin share the same
// offsets in a second buffer. Slot is the integer type recording each row's
// slot.
template <typename Slot>
std::vector<ContinuousBinningSummary> continuous_summary(const double* x, const double* y,
                                                         std::size_t n,
                                                         const std::vector<double>& splits,
                                                         SummaryStatistic stat) {
    const std::size_t m = splits.size();
    const double* cuts = splits.data();
    const std::size_t missing = m + 1;
    const std::size_t skipped = m + 2;
    const bool median = stat == SummaryStatistic::Median;
    std::vector<std::size_t> count(m + 3, 0);
    std::vector<double> x_sum(m + 3, 0.0);
    std::vector<Slot> slot_of(n);

    for_each_bin(x, n, cuts, m, [&](std::size_t i, std::size_t bin) {
        const double v = x[i];
        const std::size_t b = std::isnan(y[i]) ? skipped : std::isnan(v) ? missing : bin;
        slot_of[i] = static_cast<Slot>(b);
        ++count[b];
        // Mean representative: a left-to-right sum in input order, per bin.
        if (b != skipped) x_sum[b] += v;
    });
    const std::size_t used = n - count[skipped];

    std::vector<std::size_t> start(missing + 2, 0);
    for (std::size_t b = 0; b <= missing; ++b) start[b + 1] = start[b] + count[b];
    std::vector<double> y_by_slot(used);
    std::vector<double> x_by_slot(median ? used : 0);
    std::vector<std::size_t> next(start.begin(), start.end() - 1);
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t b = slot_of[i];
        if (b == skipped) continue;
        const std::size_t at = next[b]++;
        // y and x are read again here. Unchanged, a used row's y and a bin's x
        // are never NaN; a NaN written since by another thread is taken as 0,
        // since the sorts and selections below need values that compare.
        const double yi = y[i];
        y_by_slot[at] = std::isnan(yi) ? 0.0 : yi;
        if (median) {
            const double xi = x[i];
            x_by_slot[at] = std::isnan(xi) ? 0.0 : xi;
        }
    }

    const bool has_missing = count[missing] > 0;
    std::vector<ContinuousBinningSummary> rows;
    rows.reserve(m + 1 + (has_missing ? 1 : 0));
    for (std::size_t b = 0; b <= (has_missing ? missing : m); ++b) {
        const std::size_t c = count[b];
        double* ys = y_by_slot.data() + start[b];
        std::sort(ys, ys + c);
        double y_sum = 0.0;
        for (std::size_t j = 0; j < c; ++j) y_sum += ys[j];

        ContinuousBinningSummary r{};
        r.left = b == missing ? kNaN : left_edge(splits, b);
        r.right = b == missing ? kNaN : right_edge(splits, b);
        r.count = c;
        r.percentage = fraction(c, used);
        if (b == missing || c == 0) {
            r.representative = kNaN;
        } else if (median) {
            r.representative = median_in_place(x_by_slot.data() + start[b], c);
        } else {
            r.representative = x_sum[b] / static_cast<double>(c);
        }
        if (c == 0) {
            r.target_mean = r.target_p25 = r.target_median = r.target_p75 = kNaN;
        } else {
            r.target_mean = y_sum / static_cast<double>(c);
            r.target_p25 = quantile_of_slice(ys, c, 0.25);
            r.target_median = quantile_of_slice(ys, c, 0.5);
            r.target_p75 = quantile_of_slice(ys, c, 0.75);
        }
        rows.push_back(r);
    }
    return rows;
}

}  // namespace

// ------------------------------------------------------------ cut points

WidthRange parse_width_range(const std::string& s) {
    if (s == "full") return WidthRange::Full;
    if (s == "quantile") return WidthRange::Quantile;
    if (s == "iqr") return WidthRange::Iqr;
    throw std::invalid_argument("range debe ser 'full', 'quantile' o 'iqr'");
}

std::vector<double> equal_width_splits(const double* x, std::size_t n, std::size_t n_bins,
                                       WidthRange range, double lower_quantile,
                                       double upper_quantile, double k) {
    require_bins(n_bins);
    double lo = 0.0;
    double hi = 0.0;
    switch (range) {
        case WidthRange::Full: {
            const FiniteRange r = finite_range(x, n);
            lo = r.min;
            hi = r.max;
            break;
        }
        case WidthRange::Quantile: {
            const std::vector<double> s = sorted_finite_values(x, n);
            if (!(lower_quantile >= 0.0 && lower_quantile < upper_quantile &&
                  upper_quantile <= 1.0)) {
                throw std::invalid_argument(
                    "binning: lower_quantile debe ser menor que upper_quantile");
            }
            lo = linear_quantile(s, lower_quantile);
            hi = linear_quantile(s, upper_quantile);
            break;
        }
        case WidthRange::Iqr: {
            const std::vector<double> s = sorted_finite_values(x, n);
            if (!(is_finite(k) && k >= 0.0)) {
                throw std::invalid_argument("binning: k debe ser finito y no negativo");
            }
            lo = s.front();
            hi = s.back();
            const double q1 = linear_quantile(s, 0.25);
            const double q3 = linear_quantile(s, 0.75);
            const double iqr = q3 - q1;
            // Quartiles widened by k interquartile ranges, never beyond the data.
            if (iqr > 0.0) {
                lo = std::max(q1 - k * iqr, s.front());
                hi = std::min(q3 + k * iqr, s.back());
            }
            break;
        }
    }
    return equal_width_cuts(lo, hi, n_bins);
}

std::vector<double> quantile_splits(const double* x, std::size_t n, std::size_t n_bins) {
    require_bins(n_bins);
    const FiniteRange finite = finite_range(x, n);
    std::vector<double> cuts;
    if (n_bins == 1 || finite.min == finite.max) return cuts;
    reserve_cuts(cuts, n_bins);

    const std::vector<std::size_t> wanted = quantile_positions(finite.count, n_bins);
    std::vector<double> at_wanted(wanted.size());
    order_statistics(
        x, n, [](double v) { return is_finite(v); }, finite.count, wanted, at_wanted.data(),
        KeptRange{finite.min, finite.max});

    for (std::size_t i = 1; i < n_bins; ++i) {
        const double p = static_cast<double>(i) / static_cast<double>(n_bins);
        const QuantilePoint at = quantile_point(finite.count, p);
        const double q =
            interpolate(at, at_wanted[index_of(wanted, at.lo)], at_wanted[index_of(wanted, at.hi)]);
        // Repeated quantiles collapse, and one equal to the maximum is no cut.
        if (is_finite(q) && q >= finite.min && q < finite.max &&
            (cuts.empty() || q > cuts.back())) {
            cuts.push_back(q);
        }
    }
    return cuts;
}

std::vector<double> normalize_splits(const double* splits, std::size_t n) {
    std::vector<double> cuts;
    cuts.reserve(n);
    for (std::size_t i = 0; i < n; ++i) {
        if (!is_finite(splits[i])) {
            throw std::invalid_argument("binning: los puntos de corte deben ser finitos");
        }
        cuts.push_back(splits[i]);
    }
    if (cuts.empty()) return cuts;
    std::sort(cuts.begin(), cuts.end());
    cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());
    return cuts;
}

// ------------------------------------------------------------ assignment

void assign_bins_into(const double* x, std::size_t n, const std::vector<double>& splits,
                      int64_t* bins) {
    for_each_bin(x, n, splits.data(), splits.size(), [&](std::size_t i, std::size_t bin) {
        bins[i] = std::isnan(x[i]) ? -1 : static_cast<int64_t>(bin);
    });
}

std::vector<int64_t> assign_bins(const double* x, std::size_t n,
                                 const std::vector<double>& splits) {
    std::vector<int64_t> bins(n);
    assign_bins_into(x, n, splits, bins.data());
    return bins;
}

// ------------------------------------------------------------- summaries

SummaryStatistic parse_summary_statistic(const std::string& s) {
    if (s == "mean") return SummaryStatistic::Mean;
    if (s == "median") return SummaryStatistic::Median;
    throw std::invalid_argument("representative debe ser 'mean' o 'median'");
}

std::vector<BinningSummary> summarize_binary(const double* x, const int* y, std::size_t n,
                                             const std::vector<double>& splits,
                                             SummaryStatistic stat) {
    // Every label is checked before anything is counted, whatever its x.
    for (std::size_t i = 0; i < n; ++i) {
        if (static_cast<unsigned>(y[i]) > 1u) {
            throw std::invalid_argument("binning: y debe contener solo 0 y 1");
        }
    }
    // Slot m + 1 collects the rows whose x is NaN.
    const std::size_t m = splits.size();
    const double* cuts = splits.data();
    const std::size_t missing = m + 1;
    std::vector<std::size_t> count(m + 2, 0);
    std::vector<std::size_t> ones(m + 2, 0);
    std::vector<double> x_sum(m + 2, 0.0);  // in input order, for the Mean
    const bool mean = stat == SummaryStatistic::Mean;
    std::vector<double> representative(m + 1, kNaN);
    if (!mean && m + 2 <= std::numeric_limits<uint32_t>::max()) {
        representative = count_with_medians(x, y, n, splits, count, ones);
    } else {
        for_each_bin(x, n, cuts, m, [&](std::size_t i, std::size_t bin) {
            const double v = x[i];
            const std::size_t b = std::isnan(v) ? missing : bin;
            ++count[b];
            ones[b] += static_cast<std::size_t>(y[i]);
            if (mean) x_sum[b] += v;
        });
        if (!mean) {
            representative = bin_medians(x, n, count, m + 1);
        } else {
            for (std::size_t b = 0; b <= m; ++b) {
                if (count[b] > 0) representative[b] = x_sum[b] / static_cast<double>(count[b]);
            }
        }
    }

    const bool has_missing = count[missing] > 0;
    std::vector<BinningSummary> rows;
    rows.reserve(m + 1 + (has_missing ? 1 : 0));
    auto add_row = [&](double left, double right, std::size_t b, double rep) {
        const std::size_t c = count[b];
        rows.push_back(BinningSummary{left, right, c, fraction(c, n), c - ones[b], ones[b],
                                      fraction(ones[b], c), rep});
    };
    for (std::size_t b = 0; b <= m; ++b) {
        add_row(left_edge(splits, b), right_edge(splits, b), b, representative[b]);
    }
    if (has_missing) add_row(kNaN, kNaN, missing, kNaN);
    return rows;
}

std::vector<ContinuousBinningSummary> summarize_continuous(const double* x, const double* y,
                                                           std::size_t n,
                                                           const std::vector<double>& splits,
                                                           SummaryStatistic stat) {
    // Row slots fit in 32 bits unless there are billions of cut points.
    if (splits.size() + 3 <= std::numeric_limits<uint32_t>::max()) {
        return continuous_summary<uint32_t>(x, y, n, splits, stat);
    }
    return continuous_summary<std::size_t>(x, y, n, splits, stat);
}

}  // namespace tessaline
