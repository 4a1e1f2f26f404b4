// Rows with sample weights: counted by distinct value (or category) as sums of
// weights, and the cut points, summaries and boundary tables of those sums.
// The order statistics are read by the same code as rows counted by value
// (counted_rows.hpp), a weight standing for that many rows, so integer
// weights give exactly the results of the rows repeated. Every sum of weights
// is the exact sum rounded once (exact_sum.hpp): it does not depend on the
// order of the rows, nor on how they were split into parts and merged.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "count_index.hpp"
#include "counted_rows.hpp"
#include "exact_sum.hpp"
#include "large_buffer.hpp"
#include "numeric.hpp"
#include "sort_rows.hpp"
#include "vector_paths.hpp"
#include "weight_strides.hpp"
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#endif
#include "tessaline/recycled_vectors.hpp"
#include "tessaline/tessaline.hpp"

namespace tessaline {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Weights must be finite and not negative; the message names the first row
// that is not (rows numbered from 0).
void require_weights(const double* w, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        if (!(is_finite(w[i]) && w[i] >= 0.0)) {
            char text[40];
            std::snprintf(text, sizeof text, "%.17g", w[i]);
            throw std::invalid_argument("sample_weight must be finite and non-negative: row " +
                                        std::to_string(i) + " is " + text);
        }
    }
}

// Every function reading weighted counts reads them as a merge leaves them.
// Returns their total weight, added value by value from 0 on the way.
template <typename Weighted>
double require_merged(const Weighted& counts, const char* where) {
    const std::size_t m = counts.value.size();
    if (counts.c0.size() != m || counts.c1.size() != m || counts.rows.size() != m) {
        throw std::invalid_argument(std::string(where) +
                                    ": value, c0, c1 and rows must have the same length");
    }
    double total = 0.0;
    for (std::size_t j = 0; j < m; ++j) {
        const bool ascending =
            j == 0 ? !std::isnan(counts.value[0]) : counts.value[j - 1] < counts.value[j];
        if (!ascending || !(is_finite(counts.c0[j]) && counts.c0[j] >= 0.0) ||
            !(is_finite(counts.c1[j]) && counts.c1[j] >= 0.0) || counts.rows[j] < 0) {
            throw std::invalid_argument(
                std::string(where) +
                ": values must be ascending and distinct (not NaN), weights finite and not "
                "negative");
        }
        total += counts.c0[j] + counts.c1[j];
    }
    return total;
}

// A sum of whole weights whose total a double holds exactly.
struct PlainSum {
    double sum = 0.0;
    void add(double w) { sum += w; }
    // Adds the sum of `other` (whole sums below 2^53: exact in any order).
    void absorb(const PlainSum& other) { sum += other.sum; }
    double value() { return std::exchange(sum, 0.0); }
    void clear() { sum = 0.0; }
};

// Weights that are each a whole multiple of one power of two, 2^scale, and
// below 2^64 times it, summed as those multiples in 128 bits: exactly, for an
// integer addition a weight where RunningExactSum, on fractional weights,
// keeps an error at most additions. The sum is rounded once to the nearest
// double, as RunningExactSum rounds it, so either gives the same bits.
class ScaledSum {
  public:
    explicit ScaledSum(int scale) : up_(std::ldexp(1.0, -scale)), scale_(scale) {}
    void add(double w) { sum_ += static_cast<uint64_t>(w * up_); }
    double value() { return rounded(std::exchange(sum_, 0)); }
    void clear() { sum_ = 0; }
    // Adds the sum of `other`, exactly.
    void absorb(const ScaledSum& other) { sum_ += other.sum_; }
    // The exact sum of this and `other` rounded once.
    double with(const ScaledSum& other) const { return rounded(sum_ + other.sum_); }

  private:
    // Below 2^53 the multiple is a double as it is; above, its parts above
    // bit 64, from bit 32 and below are (each of at most 53 bits), and their
    // exact sum rounds once. Scaled back by a power of two, exactly: the
    // scale keeps every sum of weights a normal double (common_scale).
    double rounded(unsigned __int128 s) const {
        double multiple;
        if (s < (static_cast<unsigned __int128>(1) << 53)) {
            multiple = static_cast<double>(static_cast<uint64_t>(s));
        } else {
            ExactSum parts;
            parts.add(std::ldexp(static_cast<double>(static_cast<uint64_t>(s >> 64)), 64));
            parts.add(
                std::ldexp(static_cast<double>(static_cast<uint64_t>(s >> 32) & 0xFFFFFFFFu), 32));
            parts.add(static_cast<double>(static_cast<uint64_t>(s) & 0xFFFFFFFFu));
            multiple = parts.value();
        }
        return std::ldexp(multiple, scale_);
    }

    unsigned __int128 sum_ = 0;
    double up_;
    int scale_;
};

// The scale of ScaledSum for weights between `least` and `most` above 0, if
// there is one: every weight is a whole multiple of the ulp of the least
// (2^(ilogb(least) - 52)); within 11 binades of it, below 2^64 times that
// ulp. A least weight of a normal ulp and a largest far from the top keep
// every sum of fewer than 2^60 weights a normal, finite double. None where
// no weight is above 0.
std::optional<int> common_scale(double least, double most) {
    if (!(least <= most)) return std::nullopt;
    const int low = std::ilogb(least);
    const int high = std::ilogb(most);
    if (high - low > 10 || low - 52 < -1022 || high > 960) return std::nullopt;
    return low - 52;
}

// The weights of a group of rows by class, each summed by `Sum`.
template <typename Sum>
struct BasicClassSums {
    Sum c0, c1;
    void add(bool event, double w) { (event ? c1 : c0).add(w); }
    void clear() {
        c0.clear();
        c1.clear();
    }
};
using ClassSums = BasicClassSums<RunningExactSum>;

// A sum of weights that a double cannot hold is refused, not read as infinity.
void require_sum(double total, const char* where) {
    if (!is_finite(total)) {
        throw std::invalid_argument(std::string(where) +
                                    ": sample_weight adds up beyond the largest double; "
                                    "divide the weights by a common factor");
    }
}

double share(double part, double whole) {
    return whole == 0.0 ? 0.0 : part / whole;
}

// A row to count is a KeyedRecord: its value's ordered key, and as payload
// its weight, negated for a row of class 1 (counted weights are above 0, so
// the sign bit is free).
using KeyedRow = KeyedRecord;

// What one pass over the weights finds: whether each is 1, and whether each
// is a whole number with a total below 2^53. Below 2^53 every partial sum of
// whole weights is a whole number a double holds, so plain addition in any
// order gives the exact sums. (A total of exactly 2^53 may be a rounded one:
// 2^53 + 1 reads as 2^53, and the sums below it may have lost a row.)
struct WeightPass {
    WeightKinds kinds;
    bool refused;  // a weight that is not finite or below 0
};

// Four doubles, and four masks of 64 bits, in one vector register where the
// processor has 256-bit ones (two of 128 bits in the baseline).
using Doubles4 = double __attribute__((vector_size(32)));
using Masks4 = int64_t __attribute__((vector_size(32)));

// Checks the weights and finds their kind, with the least above 0 and the
// largest, in one pass without branches, four weights at a time
// (TESSALINE_VECTOR_VARIANTS); the row of a refused weight is then found by
// require_weights. A weight of at least 2^52 is a whole
// number; below, adding and taking away 2^52 rounds away any fraction. The
// total is read only for whole weights, as four running sums that do not
// wait on one another: each is exact while below 2^53, and one that reaches
// it means the total does, so their sum is below 2^53 exactly when the
// total is.
TESSALINE_VECTOR_BODY WeightPass weight_kinds_in_lanes_plain(const double* w, std::size_t n) {
    constexpr double kTwo52 = 4503599627370496.0;
    constexpr double kLargest = std::numeric_limits<double>::max();
    const Doubles4 zero = {0.0, 0.0, 0.0, 0.0};
    // Each test as a mask that every weight's ors in (a true mask is -1).
    Masks4 refused = {};
    Masks4 not_one = {};
    Masks4 fraction = {};
    Masks4 zeros = {};
    Doubles4 totals = zero;
    const double kInf = std::numeric_limits<double>::infinity();
    Doubles4 least = {kInf, kInf, kInf, kInf};
    Doubles4 most = zero;
    std::size_t i = 0;
    for (; i + 4 <= n; i += 4) {
        Doubles4 v;
        std::memcpy(&v, w + i, sizeof v);
        const Doubles4 magnitude = v < zero ? -v : v;
        refused |= ~((magnitude <= kLargest) & (v >= zero));
        not_one |= v != 1.0;
        fraction |= (v < kTwo52) & (((v + kTwo52) - kTwo52) != v);
        zeros |= v == zero;
        totals += v;
        least = ((v > zero) & (v < least)) ? v : least;
        most = v > most ? v : most;
    }
    bool any_refused = false;
    bool ones = true;
    bool whole = true;
    bool any_zero = false;
    for (int l = 0; l < 4; ++l) {
        any_refused |= refused[l] != 0;
        ones &= not_one[l] == 0;
        whole &= fraction[l] == 0;
        any_zero |= zeros[l] != 0;
    }
    double total = (totals[0] + totals[1]) + (totals[2] + totals[3]);
    double lightest = std::min(std::min(least[0], least[1]), std::min(least[2], least[3]));
    double heaviest = std::max(std::max(most[0], most[1]), std::max(most[2], most[3]));
    for (; i < n; ++i) {
        const double wi = w[i];
        if (wi > 0.0 && wi < lightest) lightest = wi;
        if (wi > heaviest) heaviest = wi;
        any_refused |= !(is_finite(wi) && wi >= 0.0);
        ones &= wi == 1.0;
        whole &= wi >= kTwo52 || (wi + kTwo52) - kTwo52 == wi;
        any_zero |= wi == 0.0;
        total += wi;
    }
    if (any_refused) return WeightPass{WeightKinds{}, true};
    return WeightPass{
        WeightKinds{ones, whole && total < 9007199254740992.0, lightest, heaviest, any_zero},
        false};
}
TESSALINE_VECTOR_VARIANTS(WeightPass, weight_kinds_in_lanes, (const double* w, std::size_t n),
                          (w, n))

// The kinds given, or those of the weights found in a pass over them.
WeightKinds kinds_of(const double* w, std::size_t n, const WeightKinds* given) {
    return given != nullptr ? *given : weight_kinds(w, n);
}

// Gives back the room of a result that fills less than an eighth of it: the
// groups move to a vector of their size, and the room goes back to the kept
// vectors (recycled_vectors.hpp) for the next column.
template <typename T>
void fit_room(std::vector<T>& v) {
    if (v.size() >= v.capacity() / 8) return;
    std::vector<T> fitted(v.begin(), v.end());
    recycle(std::move(v));
    v = std::move(fitted);
}

// Room for n groups in each of the counts' vectors, from the kept ones
// (size_recycled): each group is written once, in its place.
void size_counts(WeightedValueCounts& counts, std::size_t n) {
    size_recycled(counts.value, n);
    size_recycled(counts.c0, n);
    size_recycled(counts.c1, n);
    size_recycled(counts.rows, n);
}

// The counts cut to their first g groups, the room of a vector mostly left
// empty given back (fit_room).
void cut_counts(WeightedValueCounts& counts, std::size_t g) {
    counts.value.resize(g);
    counts.c0.resize(g);
    counts.c1.resize(g);
    counts.rows.resize(g);
    fit_room(counts.value);
    fit_room(counts.c0);
    fit_room(counts.c1);
    fit_room(counts.rows);
}

// Groups converted or indexed a block at a time: the block's arrays stay in
// the core's cache, and each append is one copy per array rather than a call
// per group and array.
constexpr std::size_t kBlockGroups = 2048;

struct GroupBlock {
    double c0[kBlockGroups];
    double c1[kBlockGroups];
};

// The rows' weights counted as rows: every weight is 1. Converted a block
// at a time, so each array is written once, never zeroed first; the records
// of each value take the place of its count of non-events, read just before,
// and the count of events goes back to the kept vectors.
WeightedValueCounts as_weighted(ValueCounts&& counted) {
    WeightedValueCounts counts;
    counts.value = std::move(counted.value);
    const std::size_t m = counts.value.size();
    reserve_recycled(counts.c0, m);
    reserve_recycled(counts.c1, m);
    const std::unique_ptr<GroupBlock> block = std::make_unique<GroupBlock>();
    for (std::size_t from = 0; from < m; from += kBlockGroups) {
        const std::size_t k = std::min(kBlockGroups, m - from);
        for (std::size_t j = 0; j < k; ++j) {
            const int64_t zeros = counted.c0[from + j];
            const int64_t ones = counted.c1[from + j];
            block->c0[j] = static_cast<double>(zeros);
            block->c1[j] = static_cast<double>(ones);
            counted.c0[from + j] = zeros + ones;
        }
        counts.c0.insert(counts.c0.end(), block->c0, block->c0 + k);
        counts.c1.insert(counts.c1.end(), block->c1, block->c1 + k);
    }
    counts.rows = std::move(counted.c0);
    recycle(std::move(counted.c1));
    return counts;
}

// Sums the sorted rows group by group of equal keys, a run of them at a time
// (no group spans two runs), `Sum` adding each class's weights. A group of
// one row (most of them, in a column of continuous values) is its own exact
// sum, finite as its weight is; a group of many may add up beyond a double,
// which is refused once every run is summed.
template <typename Sum>
class GroupSums {
  public:
    // Room for n groups, from the kept vectors where they hold it: pages
    // already mapped, not faulted in and zeroed again for every column. Each
    // group is written once, in its place, and the vectors cut to the groups
    // at the end. Each class's weights are summed by copies of `sum`.
    GroupSums(std::size_t n, const Sum& sum) : c0_(sum), c1_(sum) { size_counts(counts_, n); }

    void add_run(const KeyedRow* order, std::size_t n) {
        // The cursor and the arrays in locals: in the members every group
        // would wait for the stores of the one before.
        double* const values = counts_.value.data();
        double* const zero_weights = counts_.c0.data();
        double* const one_weights = counts_.c1.data();
        int64_t* const records = counts_.rows.data();
        std::size_t g = g_;
        for (std::size_t a = 0; a < n;) {
            const uint64_t key = order[a].key;
            std::size_t b = a + 1;
            while (b < n && order[b].key == key) ++b;
            double zeros = 0.0;
            double ones = 0.0;
            if (b - a == 1) {
                // The weight goes to its class by a mask of its sign bit, not
                // a branch: the classes of neighbouring values do not repeat.
                uint64_t bits;
                const double w = order[a].payload;
                std::memcpy(&bits, &w, sizeof bits);
                const uint64_t event = 0 - (bits >> 63);
                const uint64_t magnitude = bits & ~(uint64_t{1} << 63);
                const uint64_t zero_bits = magnitude & ~event;
                const uint64_t one_bits = magnitude & event;
                std::memcpy(&zeros, &zero_bits, sizeof zeros);
                std::memcpy(&ones, &one_bits, sizeof ones);
            } else {
                for (std::size_t i = a; i < b; ++i) {
                    const double w = order[i].payload;
                    if (w < 0.0) {
                        c1_.add(-w);
                    } else {
                        c0_.add(w);
                    }
                }
                zeros = c0_.value();
                ones = c1_.value();
                finite_ &= is_finite(zeros + ones);
            }
            // The key of both zeros reads back as 0.0.
            values[g] = value_of_key(key);
            zero_weights[g] = zeros;
            one_weights[g] = ones;
            records[g] = static_cast<int64_t>(b - a);
            ++g;
            a = b;
        }
        g_ = g;
    }

    WeightedValueCounts finish() {
        if (!finite_) require_sum(std::numeric_limits<double>::infinity(), "count_values_weighted");
        cut_counts(counts_, g_);
        return std::move(counts_);
    }

  private:
    WeightedValueCounts counts_;
    std::size_t g_ = 0;
    bool finite_ = true;
    Sum c0_, c1_;
};

// Below this many rows the vector quicksort's setup outweighs the bucket sort.
constexpr std::size_t kVectorSortRows = 256;

// The groups of the rows, sorted in place by the vector quicksort where the
// processor has it, and summed; else sorted by bucket_sort_runs (its second
// buffer a scratch that a previous column may have left) and summed a run at
// a time while the run is in the caches. Either order gives the same sums.
template <typename Sum>
WeightedValueCounts sorted_sums(KeyedRow* rows, std::size_t n, const Sum& sum) {
    GroupSums<Sum> sums(n, sum);
    if (n >= kVectorSortRows && sort_records_vectorized(rows, n)) {
        sums.add_run(rows, n);
        return sums.finish();
    }
    Scratch<KeyedRow> spare = large_scratch<KeyedRow>(n);
    bucket_sort_runs(rows, spare.get(), n,
                     [&](const KeyedRow* run, std::size_t size) { sums.add_run(run, size); });
    return sums.finish();
}

// Whole weights of at most kMostLevel (rows down-sampled 1 in 2, 3 or 4,
// say): the rows are filed by class and weight into at most 2 * kMostLevel
// ranges of bare keys, each range sorted as the unweighted count sorts a
// class (half the bytes of a record of key and weight to move), and a merge
// of the ranges counts every value's rows in each. A value's weight of a
// class is the sum over its ranges of rows times weight: whole numbers below
// 2^53 in all, so exact, the bits of the plain sums. With more ranges the
// merge's steps cost more than the sort of records saves.
constexpr std::size_t kMostLevel = 4;
constexpr std::size_t kLevelRanges = 2 * kMostLevel;

// The index of running sums of whole counts that a merge of ranges builds
// as it goes (count_index.hpp), and the rows of each class behind it.
struct RowsIndex {
    CountIndex index;
    int64_t rows0 = 0;
    int64_t rows1 = 0;
    // The records before every kIndexStride-th value, and all of them.
    std::vector<int64_t> records_before;
    int64_t records = 0;
};

// The counts of each class of a block of groups as whole numbers, which
// extend the index while the block is in the cache.
struct LevelBlock {
    int64_t zeros[kBlockGroups];
    int64_t ones[kBlockGroups];
};

// Extends the index by the k groups from `first` on, their counts of each
// class in the block and their records in `records`.
void index_level_block(const LevelBlock& block, const int64_t* records, std::size_t first,
                       std::size_t k, RowsIndex& index) {
    extend_index(index.index, block.zeros, block.ones, first, k, index.rows0, index.rows1);
    // A stride at a time, as extend_index sums: the sum in a local.
    int64_t sum = index.records;
    for (std::size_t j = 0; j < k;) {
        const std::size_t into = (first + j) % kIndexStride;
        if (into == 0) index.records_before.push_back(sum);
        const std::size_t end = std::min(k, j + (kIndexStride - into));
        for (; j < end; ++j) sum += records[first + j];
    }
    index.records = sum;
}

// No key of a value that is not NaN has every bit set, so it closes a range.
constexpr uint64_t kEndKey = ~uint64_t{0};

#if defined(__clang__)
#define TESSALINE_UNROLL_RANGES
#else
#define TESSALINE_UNROLL_RANGES _Pragma("GCC unroll 8")
#endif

// The least of N keys, N known to the compiler, which unrolls the pairs.
template <std::size_t N>
inline uint64_t least_key(const uint64_t* keys) {
    if constexpr (N == 1) {
        return keys[0];
    } else {
        return std::min(least_key<N / 2>(keys), least_key<N - N / 2>(keys + N / 2));
    }
}

// The groups of N ranges of rows filed by class and weight, written to
// `counts` (room for every row) and to `index` through `block`; returns how
// many: at_start[r] the first key of range r, each range
// sorted and closed by kEndKey, `level[r]` the weight of its rows and
// `event[r]` their class. N is known to the compiler, which keeps the
// cursors and each range's next key in registers.
template <std::size_t N, bool kEveryRange>
std::size_t merge_ranges(const double* const* at_start, const int64_t* level, const bool* event,
                         WeightedValueCounts& counts, LevelBlock& block, RowsIndex& index) {
    double* const values = counts.value.data();
    double* const zero_weights = counts.c0.data();
    double* const one_weights = counts.c1.data();
    int64_t* const records = counts.rows.data();
    const double* at[N];
    uint64_t head[N];
    // Each range's weight as the weight of class 0 and of class 1 (0 for the other).
    int64_t of_zeros[N];
    int64_t of_ones[N];
    for (std::size_t r = 0; r < N; ++r) {
        at[r] = at_start[r];
        head[r] = load_key(at[r]);
        of_zeros[r] = event[r] ? 0 : level[r];
        of_ones[r] = event[r] ? level[r] : 0;
    }
    // Where every range of the levels 1 to N / 2 holds rows, range r is of
    // level r / 2 + 1 and class r % 2: constants once the loop is unrolled,
    // which frees the registers the weights would take.
    const auto zeros_of = [&](std::size_t r) {
        return kEveryRange ? (r % 2 == 0 ? static_cast<int64_t>(r / 2 + 1) : 0) : of_zeros[r];
    };
    const auto ones_of = [&](std::size_t r) {
        return kEveryRange ? (r % 2 == 1 ? static_cast<int64_t>(r / 2 + 1) : 0) : of_ones[r];
    };
    uint64_t least = least_key<N>(head);
    // Groups [first, first + g) are in the block.
    std::size_t first = 0;
    std::size_t g = 0;
    int64_t zeros = 0;
    int64_t ones = 0;
    int64_t rows = 0;
    // Every step takes the least key's row from each range that holds it,
    // without a branch on which do (in a column of mostly distinct values
    // each would be mispredicted). A range's key after its head is loaded
    // before the step knows whether it moves on, so the step waits on
    // comparisons only, not on loads. A value of more than one row in some
    // range takes further steps before its group is written.
    while (least != kEndKey) {
        TESSALINE_UNROLL_RANGES
        for (std::size_t r = 0; r < N; ++r) {
            const bool here = head[r] == least;
            const uint64_t after = load_key(at[r] + 1);
            at[r] += here;
            head[r] = here ? after : head[r];
            zeros += here * zeros_of(r);
            ones += here * ones_of(r);
            rows += here;
        }
        const uint64_t next = least_key<N>(head);
        if (next != least) {
            const std::size_t at_group = first + g;
            // The key of both zeros reads back as 0.0.
            values[at_group] = value_of_key(least);
            zero_weights[at_group] = static_cast<double>(zeros);
            one_weights[at_group] = static_cast<double>(ones);
            records[at_group] = rows;
            block.zeros[g] = zeros;
            block.ones[g] = ones;
            zeros = ones = rows = 0;
            if (++g == kBlockGroups) {
                index_level_block(block, records, first, g, index);
                first += g;
                g = 0;
            }
        }
        least = next;
    }
    index_level_block(block, records, first, g, index);
    return first + g;
}

// merge_ranges for the N (1 to kLevelRanges) that is `n_ranges`.
template <std::size_t... N>
std::size_t merge_any(std::size_t n_ranges, const double* const* at, const int64_t* level,
                      const bool* event, WeightedValueCounts& counts, LevelBlock& block,
                      RowsIndex& index, std::index_sequence<N...>) {
    // Every range present: levels 1, 1, 2, 2, ... and classes 0, 1, 0, 1, ...
    bool every = n_ranges % 2 == 0;
    for (std::size_t r = 0; r < n_ranges; ++r) {
        every &= level[r] == static_cast<int64_t>(r / 2 + 1) && event[r] == (r % 2 == 1);
    }
    std::size_t groups = 0;
    ((n_ranges == N + 1
          ? void(groups = every
                              ? merge_ranges<N + 1, true>(at, level, event, counts, block, index)
                              : merge_ranges<N + 1, false>(at, level, event, counts, block, index))
          : void()),
     ...);
    return groups;
}

// The groups of the `n_ranges` ranges at `at` (as merge_ranges reads them),
// which hold `kept` rows in all, and their index.
WeightedValueCounts merged_ranges(const double* const* at, const int64_t* level, const bool* event,
                                  std::size_t n_ranges, std::size_t kept, RowsIndex& index) {
    WeightedValueCounts counts;
    if (n_ranges == 0) {
        finish_index(index.index, 0, 0, 0);
        index.records_before.push_back(0);
        return counts;
    }
    size_counts(counts, kept);
    // Room for the index of as many groups as rows: it grows without moving.
    index.index.c0_before.reserve(index_entries(kept));
    index.index.c1_before.reserve(index_entries(kept));
    index.records_before.reserve(index_entries(kept));
    const std::unique_ptr<LevelBlock> block = std::make_unique<LevelBlock>();
    const std::size_t groups = merge_any(n_ranges, at, level, event, counts, *block, index,
                                         std::make_index_sequence<kLevelRanges>{});
    cut_counts(counts, groups);
    finish_index(index.index, groups, index.rows0, index.rows1);
    if (groups % kIndexStride == 0) index.records_before.push_back(index.records);
    return counts;
}

// Whether a flag is neither 0, 1 nor NaN.
inline bool refused_flag(double f) {
    return !((f == 0.0) | (f == 1.0) | (f != f));
}

// A row's code in leveled_rows: its range (class 0 of weight k at 2(k - 1),
// class 1 next to it), kMissingRow for a row counted whose x is NaN, or
// kNoRange for a row not counted.
constexpr uint8_t kMissingRow = 0xFE;
constexpr uint8_t kNoRange = 0xFF;

// The code of one row, without a branch; true in `beyond` for a row counted
// whose weight is not a level (kinds given for the weights are trusted but
// for such a weight, which would file the row out of bounds).
inline uint8_t level_code(double xi, double wi, bool known, bool one, bool& beyond) {
    const bool counted = (wi > 0.0) & known;
    const bool nan = std::isnan(xi);
    const bool in_range = (wi >= 1.0) & (wi <= static_cast<double>(kMostLevel));
    beyond |= counted & !nan & !in_range;
    // The weight converted only where it is a level (else 1, dropped).
    const auto weight = static_cast<std::size_t>(in_range ? wi : 1.0);
    const std::size_t filed = 2 * (weight - 1) + static_cast<std::size_t>(one);
    return static_cast<uint8_t>(!counted   ? kNoRange
                                : nan      ? kMissingRow
                                : in_range ? filed
                                           : kNoRange);
}

// What the pass that files rows by their flags finds amiss: a flag neither
// 0, 1 nor NaN, and a row counted whose weight is beyond the levels.
struct CodesAmiss {
    bool flags;
    bool beyond;
};

// The codes of rows whose class is a flag (0 or 1 known, NaN not), four at a
// time (TESSALINE_VECTOR_VARIANTS), the flags checked on the way. A level (1
// to kMostLevel) plus 2^52 holds it in its low bits.
TESSALINE_VECTOR_BODY CodesAmiss level_codes_of_flags_plain(const double* x, const double* flags,
                                                            const double* w, std::size_t n,
                                                            uint8_t* codes) {
    constexpr double kTwo52 = 4503599627370496.0;
    constexpr auto kMost = static_cast<double>(kMostLevel);
    const Doubles4 one_level = {1.0, 1.0, 1.0, 1.0};
    const Doubles4 two52 = {kTwo52, kTwo52, kTwo52, kTwo52};
    Masks4 beyond = {};
    Masks4 refused = {};
    std::size_t i = 0;
    for (; i + 4 <= n; i += 4) {
        Doubles4 f;
        Doubles4 wv;
        Doubles4 xv;
        std::memcpy(&f, flags + i, sizeof f);
        std::memcpy(&wv, w + i, sizeof wv);
        std::memcpy(&xv, x + i, sizeof xv);
        const Masks4 counted = (wv > 0.0) & (f == f);
        refused |= ~((f == 0.0) | (f == 1.0) | (f != f));
        const Masks4 nan = xv != xv;
        const Masks4 in_range = (wv >= 1.0) & (wv <= kMost);
        beyond |= counted & ~nan & ~in_range;
        Masks4 weight;
        const Doubles4 level = (in_range ? wv : one_level) + two52;
        std::memcpy(&weight, &level, sizeof weight);
        const Masks4 two = {2, 2, 2, 2};
        // A true mask is -1: taking the flag-of-1 mask away adds the class.
        const Masks4 filed = two * ((weight & 0xF) - 1) - (f == 1.0);
        const Masks4 none = {kNoRange, kNoRange, kNoRange, kNoRange};
        const Masks4 missing = {kMissingRow, kMissingRow, kMissingRow, kMissingRow};
        const Masks4 code = counted ? (nan ? missing : (in_range ? filed : none)) : none;
        for (int l = 0; l < 4; ++l) codes[i + l] = static_cast<uint8_t>(code[l]);
    }
    CodesAmiss amiss{false, false};
    for (int l = 0; l < 4; ++l) {
        amiss.beyond |= beyond[l] != 0;
        amiss.flags |= refused[l] != 0;
    }
    for (; i < n; ++i) {
        amiss.flags |= refused_flag(flags[i]);
        codes[i] = level_code(x[i], w[i], !std::isnan(flags[i]), flags[i] == 1.0, amiss.beyond);
    }
    return amiss;
}
TESSALINE_VECTOR_VARIANTS(CodesAmiss, level_codes_of_flags,
                          (const double* x, const double* flags, const double* w, std::size_t n,
                           uint8_t* codes),
                          (x, flags, w, n, codes))

// The rows of summed_rows whose weights are whole and at most kMostLevel,
// counted by class and weight as bare keys, with the index of their counts.
// `flags`, where given, are the classes that `known` and `event` read.
template <typename Known, typename Event>
WeightedValueCounts leveled_rows(const double* x, const double* w, std::size_t n, Known known,
                                 Event event, const double* flags, ClassSums& missing,
                                 int64_t& missing_rows, RowsIndex& index) {
    // Each row's code, in a pass that takes no branch and sums nothing (its
    // state stays in registers); the rare rows of NaN x are summed in a pass
    // of their own.
    Scratch<uint8_t> range_of = large_scratch<uint8_t>(n);
    bool beyond = false;
    if (flags != nullptr) {
        const CodesAmiss amiss = level_codes_of_flags(x, flags, w, n, range_of.get());
        if (amiss.flags)
            throw std::invalid_argument("count_column_weighted: flags must be 0, 1 or NaN");
        beyond = amiss.beyond;
    } else {
        for (std::size_t i = 0; i < n; ++i) {
            range_of[i] = level_code(x[i], w[i], known(i), event(i), beyond);
        }
    }
    if (beyond) {
        throw std::invalid_argument("count_column_weighted: weights beyond the kinds given");
    }
    std::size_t sizes[256] = {};
    for (std::size_t i = 0; i < n; ++i) ++sizes[range_of[i]];
    if (sizes[kMissingRow] > 0) {
        // memchr finds the next such row many codes at a time.
        const uint8_t* const codes = range_of.get();
        const void* found = std::memchr(codes, kMissingRow, n);
        while (found != nullptr) {
            const auto i = static_cast<std::size_t>(static_cast<const uint8_t*>(found) - codes);
            missing.add(event(i), w[i]);
            found = std::memchr(codes + i + 1, kMissingRow, n - i - 1);
        }
        missing_rows += static_cast<int64_t>(sizes[kMissingRow]);
    }
    // The ranges that hold rows, each followed by a slot for its end key.
    std::size_t start[kLevelRanges + 1];
    // Where each code's next key goes: the rows of no range all write to
    // the slot after the last range, which the merge reads and drops.
    std::size_t next[256];
    int64_t level[kLevelRanges];
    bool is_event[kLevelRanges];
    std::size_t used[kLevelRanges];
    std::size_t n_ranges = 0;
    std::size_t room = 0;
    for (std::size_t r = 0; r < kLevelRanges; ++r) {
        next[r] = room;
        if (sizes[r] == 0) continue;
        start[n_ranges] = room;
        level[n_ranges] = static_cast<int64_t>(r / 2 + 1);
        is_event[n_ranges] = r % 2 == 1;
        used[n_ranges++] = r;
        room += sizes[r] + 1;
    }
    std::fill(next + kLevelRanges, next + 256, room);
    // One slot more than the ranges take: the merge reads the key after a
    // range's end key (and drops it) before it knows the range has ended.
    // Both buffers are sized for every row and range (room is at most that),
    // so that the next column of as many rows takes the same blocks again:
    // sized to its own rows, it would often miss them by a few slots and
    // fault in fresh pages.
    Scratch<double> keys = large_scratch<double>(n + kLevelRanges + 1);
    Scratch<double> spare = large_scratch<double>(n + kLevelRanges);
    for (std::size_t i = 0; i < n; ++i) {
        const uint8_t r = range_of[i];
        store_key(keys.get() + next[r], ordered_key(x[i]));
        next[r] += static_cast<std::size_t>(r < kLevelRanges);
    }
    store_key(keys.get() + room, kEndKey);
    const double* at[kLevelRanges];
    std::size_t kept = 0;
    for (std::size_t k = 0; k < n_ranges; ++k) {
        const std::size_t size = sizes[used[k]];
        double* range = keys.get() + start[k];
        const double* sorted = sort_key_ranges(range, spare.get() + start[k], size, size);
        if (sorted != range) std::copy(sorted, sorted + size, range);
        store_key(range + size, kEndKey);
        at[k] = range;
        kept += size;
    }
    return merged_ranges(at, level, is_event, n_ranges, kept, index);
}

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
// The records of summed_rows for rows whose classes are flags, eight rows
// at a time in 512-bit registers where the processor has them: keys made as
// ordered_key makes them, each weight with its row's class in the sign bit,
// the rows kept compressed in the registers and stored as records from
// there (a compressing store to memory is slow on some processors). Eight
// records are stored whole, those past the ones kept landing on slots still
// free (eight rows still to file leave at least eight). Rows counted whose
// x is NaN go to `missing`, one by one (they are few); a flag neither 0, 1
// nor NaN sets `refused`. Returns the rows filed, a multiple of eight (0
// where the vector instructions are missing); the caller files the rest.
__attribute__((target("avx512f,avx2,popcnt"))) std::size_t file_records_in_registers(
    const double* x, const double* w, const double* flags, std::size_t n, KeyedRow* rows,
    std::size_t& kept, ClassSums& missing, int64_t& missing_rows, bool& refused) {
    const __m512i sign = _mm512_set1_epi64(static_cast<long long>(uint64_t{1} << 63));
    const __m512d zero = _mm512_setzero_pd();
    const __m512d one = _mm512_set1_pd(1.0);
    // Keys and payloads side by side: lanes 0-3 of both, then lanes 4-7.
    const __m512i low_pairs = _mm512_set_epi64(11, 3, 10, 2, 9, 1, 8, 0);
    const __m512i high_pairs = _mm512_set_epi64(15, 7, 14, 6, 13, 5, 12, 4);
    __mmask8 refused_lanes = 0;
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        const __m512d values = _mm512_loadu_pd(x + i);
        const __m512d weights = _mm512_loadu_pd(w + i);
        const __m512d f = _mm512_loadu_pd(flags + i);
        const __mmask8 known = _mm512_cmp_pd_mask(f, f, _CMP_ORD_Q);
        const __mmask8 event = _mm512_cmp_pd_mask(f, one, _CMP_EQ_OQ);
        const __mmask8 zero_flag = _mm512_cmp_pd_mask(f, zero, _CMP_EQ_OQ);
        refused_lanes |= static_cast<__mmask8>(known & ~(event | zero_flag));
        const __mmask8 counted =
            static_cast<__mmask8>(_mm512_cmp_pd_mask(weights, zero, _CMP_GT_OQ) & known);
        const __mmask8 number = _mm512_cmp_pd_mask(values, values, _CMP_ORD_Q);
        const auto keep = static_cast<__mmask8>(counted & number);
        const auto at_missing = static_cast<__mmask8>(counted & ~number);
        if (at_missing != 0) {
            for (unsigned l = 0; l < 8; ++l) {
                if ((at_missing >> l) & 1u) {
                    missing.add(((event >> l) & 1u) != 0, w[i + l]);
                    ++missing_rows;
                }
            }
        }
        // -0.0 takes the key of 0.0; negative values have every bit
        // flipped, the others the sign bit (as ordered_key).
        __m512i bits = _mm512_castpd_si512(values);
        const __mmask8 negative_zero = _mm512_cmpeq_epi64_mask(bits, sign);
        bits = _mm512_mask_mov_epi64(bits, negative_zero, _mm512_setzero_si512());
        const __m512i key =
            _mm512_xor_si512(bits, _mm512_or_si512(_mm512_maskz_srai_epi64(0xFF, bits, 63), sign));
        const __m512i weight_bits = _mm512_castpd_si512(weights);
        const __m512i payload = _mm512_mask_or_epi64(weight_bits, event, weight_bits, sign);
        const __m512i keys = _mm512_maskz_compress_epi64(keep, key);
        const __m512i payloads = _mm512_maskz_compress_epi64(keep, payload);
        auto* const at = reinterpret_cast<long long*>(rows + kept);
        _mm512_storeu_si512(at, _mm512_permutex2var_epi64(keys, low_pairs, payloads));
        _mm512_storeu_si512(at + 8, _mm512_permutex2var_epi64(keys, high_pairs, payloads));
        kept += static_cast<std::size_t>(__builtin_popcount(keep));
    }
    refused |= refused_lanes != 0;
    return i;
}

std::size_t file_records_vectorized(const double* x, const double* w, const double* flags,
                                    std::size_t n, KeyedRow* rows, std::size_t& kept,
                                    ClassSums& missing, int64_t& missing_rows, bool& refused) {
    return use_avx512f() ? file_records_in_registers(x, w, flags, n, rows, kept, missing,
                                                     missing_rows, refused)
                         : 0;
}
#else
std::size_t file_records_vectorized(const double*, const double*, const double*, std::size_t,
                                    KeyedRow*, std::size_t&, ClassSums&, int64_t&, bool&) {
    return 0;
}
#endif

// The rows of positive weight and known class whose x is not NaN, as keyed
// rows sorted by key (the order within a key does not matter: its weights
// are summed exactly), summed as the `kinds` of weights allow; those whose x is
// NaN go to `missing` with their records. `event(i)` is the class of row i,
// `known(i)` whether it has one. The rows are written to scratch that a
// previous column may have left: fresh pages cost a fault and a zeroed page
// each. Rows counted by class and weight leave the index of their counts
// in `index`, where one is asked for (else it stays empty).
template <typename Known, typename Event>
WeightedValueCounts summed_rows(const double* x, const double* w, std::size_t n,
                                const WeightKinds& kinds, Known known, Event event,
                                ClassSums& missing, int64_t& missing_rows,
                                std::optional<RowsIndex>* index = nullptr,
                                const double* flags = nullptr) {
    if (kinds.whole && kinds.most <= static_cast<double>(kMostLevel)) {
        RowsIndex made;
        WeightedValueCounts counts =
            leveled_rows(x, w, n, known, event, flags, missing, missing_rows, made);
        if (index != nullptr) *index = std::move(made);
        return counts;
    }
    Scratch<KeyedRow> rows = large_scratch<KeyedRow>(n);
    std::size_t kept = 0;
    bool refused = false;
    std::size_t i = flags != nullptr ? file_records_vectorized(x, w, flags, n, rows.get(), kept,
                                                               missing, missing_rows, refused)
                                     : 0;
    // Every row is written to the next slot, which only a row counted keeps:
    // no branch on the data but for the rare rows of NaN x. Flags, where
    // given, are checked on the way.
    for (; i < n; ++i) {
        refused |= flags != nullptr && refused_flag(flags[i]);
        const bool counted = (w[i] > 0.0) & known(i);
        const bool nan = std::isnan(x[i]);
        const bool one = event(i);
        // The class goes to the sign bit by a mask, not a branch: the
        // classes of neighbouring rows do not repeat. (-w for a weight above
        // 0, the only one kept.)
        uint64_t bits;
        std::memcpy(&bits, w + i, sizeof bits);
        bits |= static_cast<uint64_t>(one) << 63;
        double payload;
        std::memcpy(&payload, &bits, sizeof payload);
        rows[kept] = KeyedRow{ordered_key(x[i]), payload};
        kept += static_cast<std::size_t>(counted & !nan);
        if (counted && nan) {
            missing.add(one, w[i]);
            ++missing_rows;
        }
    }
    if (refused) throw std::invalid_argument("count_column_weighted: flags must be 0, 1 or NaN");
    if (kinds.whole) return sorted_sums(rows.get(), kept, PlainSum{});
    if (const std::optional<int> scale = common_scale(kinds.least, kinds.most)) {
        return sorted_sums(rows.get(), kept, ScaledSum(*scale));
    }
    return sorted_sums(rows.get(), kept, RunningExactSum{});
}

// The pre-bins of rows counted as rows (weights of 1), read through the
// count's own index: those weighted_prebins makes of the same counts as
// weights, whose whole sums are exact in either form. False where they
// cannot be made.
bool prebins_of_rows(const CountedColumn& column, const PrebinRequest& request,
                     std::vector<WeightedPrebin>& out) {
    std::vector<BinningSummary> bins;
    try {
        bins = indexed_prebins(column.counts, column.index, column.counted_c0 + column.counted_c1,
                               request.n_prebins, request.max_class_parts, request.min_class_share);
    } catch (const std::invalid_argument&) {
        return false;
    }
    append_weighted_prebins(bins, out);
    return true;
}

// What one pass over a column's event flags finds: whether one is neither
// 0, 1 nor NaN (refused), and whether one is NaN (a row of unknown target).
struct FlagKinds {
    bool refused;
    bool unknown;
};

// The flags read four at a time without branches (TESSALINE_VECTOR_VARIANTS):
// each test a mask that every flag ors in. A NaN flag is the one unequal to
// itself.
TESSALINE_VECTOR_BODY FlagKinds flag_kinds_in_lanes_plain(const double* flags, std::size_t n) {
    Masks4 refused = {};
    Masks4 unknown = {};
    std::size_t i = 0;
    for (; i + 4 <= n; i += 4) {
        Doubles4 f;
        std::memcpy(&f, flags + i, sizeof f);
        const Masks4 nan = f != f;
        refused |= ~(nan | (f == 0.0) | (f == 1.0));
        unknown |= nan;
    }
    bool any_refused = false;
    bool any_unknown = false;
    for (int l = 0; l < 4; ++l) {
        any_refused |= refused[l] != 0;
        any_unknown |= unknown[l] != 0;
    }
    for (; i < n; ++i) {
        const double f = flags[i];
        const bool nan = std::isnan(f);
        any_unknown |= nan;
        any_refused |= refused_flag(f);
    }
    return FlagKinds{any_refused, any_unknown};
}
TESSALINE_VECTOR_VARIANTS(FlagKinds, flag_kinds_in_lanes, (const double* flags, std::size_t n),
                          (flags, n))

// Four labels of 32 bits, narrowed from four masks of flags equal to 1.
using Labels4 = int32_t __attribute__((vector_size(16)));

// The labels of flags that are all 0 or 1: 1 for a flag of 1, four at a time.
TESSALINE_VECTOR_BODY void labels_of_flags_plain(const double* flags, std::size_t n,
                                                 int32_t* labels) {
    std::size_t i = 0;
    for (; i + 4 <= n; i += 4) {
        Doubles4 f;
        std::memcpy(&f, flags + i, sizeof f);
        const Labels4 four = __builtin_convertvector((f == 1.0) & 1, Labels4);
        std::memcpy(labels + i, &four, sizeof four);
    }
    for (; i < n; ++i) labels[i] = static_cast<int32_t>(flags[i] == 1.0);
}
TESSALINE_VECTOR_VARIANTS(void, labels_of_flags,
                          (const double* flags, std::size_t n, int32_t* labels), (flags, n, labels))

// The values and labels of the rows of known target (flag 0 or 1), in
// order; returns how many. Every row is written to the next slot, which only
// a row of known target keeps: no branch on the flags, whose NaNs may come
// anywhere.
std::size_t known_rows(const double* x, const double* flags, std::size_t n, double* xs,
                       int32_t* labels) {
    std::size_t kept = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const double f = flags[i];
        xs[kept] = x[i];
        labels[kept] = static_cast<int32_t>(f == 1.0);
        kept += static_cast<std::size_t>(f == f);
    }
    return kept;
}

}  // namespace

WeightKinds weight_kinds(const double* w, std::size_t n) {
    const WeightPass pass = weight_kinds_in_lanes(w, n);
    if (pass.refused) require_weights(w, n);
    return pass.kinds;
}

WeightedValueCounts count_values_weighted(const double* x, const int32_t* y, const double* w,
                                          std::size_t n) {
    const WeightKinds kinds = weight_kinds(w, n);
    // Weights of 1 are rows: the unweighted count gives the same sums.
    if (kinds.all_ones) return as_weighted(count_values(x, y, n));
    ClassSums missing;
    int64_t missing_rows = 0;
    return summed_rows(
        x, w, n, kinds, [](std::size_t) { return true; }, [&](std::size_t i) { return y[i] != 0; },
        missing, missing_rows);
}

WeightedCountedColumn count_column_weighted(const double* x, const double* flags, const double* w,
                                            std::size_t n, const PrebinRequest* prebins,
                                            const WeightKinds* given) {
    constexpr const char* where = "count_column_weighted";
    // The flags checked, in a pass that only reads them, before the weights
    // are; a NaN flag is a row of unknown target, left out. With the kinds
    // of weights given (none refused), and not all 1, the count's own pass
    // over the rows checks the flags instead.
    const bool flags_checked_later = given != nullptr && !given->all_ones;
    const FlagKinds flag_kinds =
        flags_checked_later ? FlagKinds{false, false} : flag_kinds_in_lanes(flags, n);
    if (flag_kinds.refused) {
        throw std::invalid_argument(std::string(where) + ": flags must be 0, 1 or NaN");
    }
    const WeightKinds kinds = kinds_of(w, n, given);
    WeightedCountedColumn out;
    if (kinds.all_ones) {
        // Rows: the unweighted count of the rows of known class, which counts
        // the rows of NaN x by class on the way.
        Scratch<int32_t> labels = large_scratch<int32_t>(n);
        CountedColumn column;
        if (flag_kinds.unknown) {
            Scratch<double> xs = large_scratch<double>(n);
            const std::size_t kept = known_rows(x, flags, n, xs.get(), labels.get());
            column = count_column(xs.get(), labels.get(), kept);
        } else {
            labels_of_flags(flags, n, labels.get());
            column = count_column(x, labels.get(), n);
        }
        if (prebins != nullptr) {
            out.has_prebins = prebins_of_rows(column, *prebins, out.prebins);
        }
        out.counts = as_weighted(std::move(column.counts));
        out.missing_c0 = static_cast<double>(column.missing_c0);
        out.missing_c1 = static_cast<double>(column.missing_c1);
        out.missing_rows = column.missing_c0 + column.missing_c1;
        return out;
    }
    ClassSums missing;
    std::optional<RowsIndex> index;
    // A flag of 0 or 1 is known (NaN is not); the event is a flag of 1.
    out.counts = summed_rows(
        x, w, n, kinds, [&](std::size_t i) { return !std::isnan(flags[i]); },
        [&](std::size_t i) { return flags[i] == 1.0; }, missing, out.missing_rows, &index, flags);
    out.missing_c0 = missing.c0.value();
    out.missing_c1 = missing.c1.value();
    if (prebins != nullptr) {
        const WeightedCountsView view{out.counts.value.data(), out.counts.c0.data(),
                                      out.counts.c1.data(), out.counts.rows.data(),
                                      out.counts.value.size()};
        try {
            // Summed here, so merged. Whole weights (those whose sums are
            // whole, not merely said to be) read as rows through an index:
            // the one the count built, or one built here.
            if (index.has_value()) {
                const std::size_t m = view.size;
                const WholeCountsView rows{{view.value, m}, {view.c0, m}, {view.c1, m}};
                append_weighted_prebins(
                    indexed_prebins(rows, index->index, index->rows0 + index->rows1,
                                    prebins->n_prebins, prebins->max_class_parts,
                                    prebins->min_class_share),
                    out.prebins);
            } else if (!kinds.whole ||
                       !whole_weighted_prebins(view, prebins->n_prebins, prebins->max_class_parts,
                                               prebins->min_class_share, out.prebins)) {
                out.prebins = merged_weighted_prebins(
                    view, prebins->n_prebins, prebins->max_class_parts, prebins->min_class_share);
            }
            out.has_prebins = true;
        } catch (const std::invalid_argument&) {
            out.has_prebins = false;
        }
    }
    require_sum(out.missing_c0 + out.missing_c1, "count_values_weighted");
    if (index.has_value()) {
        out.index_c0 = std::move(index->index.c0_before);
        out.index_c1 = std::move(index->index.c1_before);
        out.index_rows = std::move(index->records_before);
    }
    return out;
}

WeightedValueCounts merge_weighted_value_counts(const std::vector<WeightedValueCounts>& parts) {
    constexpr const char* where = "merge_weighted_value_counts";
    struct Entry {
        double value;
        double c0;
        double c1;
        int64_t rows;
        std::size_t at;  // place among the parts: equal values add up in it
    };
    std::vector<Entry> entries;
    for (const WeightedValueCounts& p : parts) {
        const std::size_t m = p.value.size();
        if (p.c0.size() != m || p.c1.size() != m || p.rows.size() != m) {
            throw std::invalid_argument(std::string(where) +
                                        ": value, c0, c1 and rows must have the same length");
        }
        for (std::size_t j = 0; j < m; ++j) {
            if (std::isnan(p.value[j]) || !(is_finite(p.c0[j]) && p.c0[j] >= 0.0) ||
                !(is_finite(p.c1[j]) && p.c1[j] >= 0.0) || p.rows[j] < 0) {
                throw std::invalid_argument(std::string(where) +
                                            ": values must not be NaN, weights finite and not "
                                            "negative");
            }
            entries.push_back(Entry{p.value[j], p.c0[j], p.c1[j], p.rows[j], entries.size()});
        }
    }
    const auto by_value = [](const Entry& a, const Entry& b) {
        return a.value < b.value || (a.value == b.value && a.at < b.at);
    };
    // Counts merged before come in order: checking costs a read, not a sort.
    if (!std::is_sorted(entries.begin(), entries.end(), by_value)) {
        std::sort(entries.begin(), entries.end(), by_value);
    }
    WeightedValueCounts out;
    ClassSums sums;
    for (std::size_t i = 0; i < entries.size();) {
        sums.clear();
        int64_t rows = 0;
        std::size_t j = i;
        for (; j < entries.size() && entries[j].value == entries[i].value; ++j) {
            sums.c0.add(entries[j].c0);
            sums.c1.add(entries[j].c1);
            rows = add_counts(rows, entries[j].rows, where);
        }
        const double c0 = sums.c0.value();
        const double c1 = sums.c1.value();
        if (!is_finite(c0 + c1)) {
            throw std::invalid_argument(std::string(where) + ": weights add up beyond a double");
        }
        if (c0 + c1 > 0.0) {
            // +0.0 for either zero, whatever order the parts came in.
            out.value.push_back(entries[i].value == 0.0 ? 0.0 : entries[i].value);
            out.c0.push_back(c0);
            out.c1.push_back(c1);
            out.rows.push_back(rows);
        }
        i = j;
    }
    return out;
}

std::vector<double> quantile_splits_weighted(const WeightedValueCounts& counts,
                                             std::size_t n_bins) {
    require_merged(counts, "quantile_splits_from_counts");
    return quantile_cuts(counts, n_bins);
}

std::vector<double> equal_width_splits_weighted(const WeightedValueCounts& counts,
                                                std::size_t n_bins, WidthRange range,
                                                double lower_quantile, double upper_quantile,
                                                double k) {
    require_merged(counts, "equal_width_splits_from_counts");
    if (n_bins == 0) throw std::invalid_argument("binning: n_bins debe ser al menos 1");
    const FinitePositions finite = finite_positions(counts);
    const double size = rows_of(counts, finite.first, finite.last);
    if (!(size > 0.0)) throw std::invalid_argument("binning: x no contiene valores finitos");
    const double lowest = counts.value[finite.first];
    const double highest = counts.value[finite.last - 1];
    const auto quantile = [&](double p) {
        RowCursor<WeightedValueCounts> cursor{counts, finite.first, finite.last};
        return quantile_of_rows(cursor, size, p);
    };
    double range_ends[2] = {lowest, highest};
    if (range == WidthRange::Quantile) {
        if (!(lower_quantile >= 0.0 && lower_quantile < upper_quantile && upper_quantile <= 1.0)) {
            throw std::invalid_argument(
                "binning: lower_quantile debe ser menor que upper_quantile");
        }
        range_ends[0] = quantile(lower_quantile);
        range_ends[1] = quantile(upper_quantile);
    } else if (range == WidthRange::Iqr) {
        if (!(is_finite(k) && k >= 0.0)) {
            throw std::invalid_argument("binning: k debe ser finito y no negativo");
        }
        const double q1 = quantile(0.25);
        const double q3 = quantile(0.75);
        const double iqr = q3 - q1;
        // Quartiles widened by k interquartile ranges, never beyond the data.
        if (iqr > 0.0) {
            range_ends[0] = std::max(q1 - k * iqr, lowest);
            range_ends[1] = std::min(q3 + k * iqr, highest);
        }
    }
    // The cut points of the full range of these two ends are those of the range.
    return equal_width_splits(range_ends, 2, n_bins, WidthRange::Full, 0.0, 1.0, 0.0);
}

namespace {

// The missing values' row, after the bins, where they weigh anything.
void add_missing_row(std::vector<WeightedBinningSummary>& rows, double missing_c0,
                     double missing_c1, int64_t missing_rows, double total) {
    const double missing = missing_c0 + missing_c1;
    if (missing > 0.0) {
        rows.push_back(WeightedBinningSummary{kNaN, kNaN, missing, missing_rows,
                                              share(missing, total), missing_c0, missing_c1,
                                              share(missing_c1, missing), kNaN});
    }
}

// Whether the values [from, to) of counts, as arrays, are as a merge leaves
// them: each above the one before it (the first value of all is checked
// apart: only that it is not NaN), both classes' weights finite and not
// negative, records not negative. Four values at a time
// (TESSALINE_VECTOR_VARIANTS), on a chunk the walk then sums from the cache.
TESSALINE_VECTOR_BODY bool merged_values_plain(const double* value, const double* c0,
                                               const double* c1, const int64_t* rows,
                                               std::size_t from, std::size_t to) {
    constexpr double kLargest = std::numeric_limits<double>::max();
    // Value j's weights finite and not negative, its records not negative.
    const auto sound = [&](std::size_t j) {
        return is_finite(c0[j]) && c0[j] >= 0.0 && is_finite(c1[j]) && c1[j] >= 0.0 && rows[j] >= 0;
    };
    bool merged = true;
    std::size_t j = from;
    if (j == 0 && j < to) {
        merged = sound(0);
        ++j;
    }
    Masks4 refused = {};
    for (; j + 4 <= to; j += 4) {
        Doubles4 here;
        Doubles4 before;
        Doubles4 a;
        Doubles4 e;
        Masks4 r;
        std::memcpy(&here, value + j, sizeof here);
        std::memcpy(&before, value + j - 1, sizeof before);
        std::memcpy(&a, c0 + j, sizeof a);
        std::memcpy(&e, c1 + j, sizeof e);
        std::memcpy(&r, rows + j, sizeof r);
        // Each test passes where it holds; a NaN fails every comparison.
        const Masks4 passed = (before < here) & (a >= 0.0) & (a <= kLargest) & (e >= 0.0) &
                              (e <= kLargest) & (r >= 0);
        refused |= ~passed;
    }
    for (int l = 0; l < 4; ++l) merged &= refused[l] == 0;
    for (; j < to; ++j) merged &= value[j - 1] < value[j] && sound(j);
    return merged;
}
TESSALINE_VECTOR_VARIANTS(bool, merged_values,
                          (const double* value, const double* c0, const double* c1,
                           const int64_t* rows, std::size_t from, std::size_t to),
                          (value, c0, c1, rows, from, to))

// The first element of counts owned or read in place.
template <typename T>
const T* data_of(const std::vector<T>& v) {
    return v.data();
}
template <typename T>
const T* data_of(const CountSpan<T>& span) {
    return span.data;
}

// What the summary's walk over one bin's values [from, to) finds: whether
// they are as a merge leaves them, the running total of every value's
// weight so far (`total` at the bin's start), the bin's weight of each class
// (value by value from 0) and its records (unsigned: records not yet
// checked add up without overflow). The strides of the bin's median cursor
// go to `strides`. Not inlined: inlined, its sums went through memory, a
// store and a load in the chain of every value.
struct BinWalk {
    bool merged;
    double total;
    double zeros;
    double ones;
    uint64_t records;
};

template <typename Weighted>
__attribute__((noinline)) BinWalk walk_bin(const Weighted& counts, std::size_t from, std::size_t to,
                                           double total, WeightStrides& strides) {
    bool merged = true;
    double zeros = 0.0;
    double ones = 0.0;
    uint64_t records = 0;
    size_strides(strides, from, to);
    double before = 0.0;
    // The stride's largest threshold as the larger of two, over the even
    // and the odd values: the larger of numbers is exact in any order, and
    // two halves do not wait on one another.
    constexpr double kBelowAny = -std::numeric_limits<double>::infinity();
    double most_even = kBelowAny;
    double most_odd = kBelowAny;
    const double* value = data_of(counts.value);
    const double* c0 = data_of(counts.c0);
    const double* c1 = data_of(counts.c1);
    const int64_t* rows = data_of(counts.rows);
    for (std::size_t j = from; j < to;) {
        const std::size_t stop = chunk_end(from, j, to);
        merged &= merged_values(value, c0, c1, rows, j, stop);
        for (; j + 2 <= stop; j += 2) {
            const double a = c0[j];
            const double e = c1[j];
            const double a2 = c0[j + 1];
            const double e2 = c1[j + 1];
            total += a + e;
            total += a2 + e2;
            zeros += a;
            zeros += a2;
            ones += e;
            ones += e2;
            records += static_cast<uint64_t>(rows[j]) + static_cast<uint64_t>(rows[j + 1]);
            most_even = largest_threshold(a, e, before, most_even);
            before += a + e;
            most_odd = largest_threshold(a2, e2, before, most_odd);
            before += a2 + e2;
        }
        if (j < stop) {
            const double a = c0[j];
            const double e = c1[j];
            total += a + e;
            zeros += a;
            ones += e;
            records += static_cast<uint64_t>(rows[j]);
            most_even = largest_threshold(a, e, before, most_even);
            before += a + e;
            ++j;
        }
        if (stride_done(from, j)) {
            record_stride(strides, from, j, before, std::max(most_even, most_odd));
            most_even = most_odd = kBelowAny;
        }
    }
    return BinWalk{merged, total, zeros, ones, records};
}

// The weighted summary of counts owned or read in place alike, in one walk
// over the values: the check of the counts (as require_merged makes it,
// refused after the walk, before anything is read from it), their total,
// and each bin's weights of each class (value by value from 0), its records
// and the strides of its median's cursor, each its own chain of additions.
// Bins of unchecked values are only ever within the values (an interval's
// end is searched from the last one's), so a refused count reads nothing
// beyond them.
template <typename Weighted>
std::vector<WeightedBinningSummary> weighted_summary(const Weighted& counts, double missing_c0,
                                                     double missing_c1, int64_t missing_rows,
                                                     const std::vector<double>& splits,
                                                     SummaryStatistic stat) {
    constexpr const char* where = "summary_binary_from_counts";
    constexpr double kInfinity = std::numeric_limits<double>::infinity();
    const std::size_t m = counts.value.size();
    if (counts.c0.size() != m || counts.c1.size() != m || counts.rows.size() != m) {
        throw std::invalid_argument(std::string(where) +
                                    ": value, c0, c1 and rows must have the same length");
    }
    struct Bin {
        double zeros;
        double ones;
        int64_t records;
        double representative;
    };
    std::vector<Bin> bins;
    bins.reserve(splits.size() + 1);
    WeightStrides strides;
    bool merged = m == 0 || !std::isnan(counts.value[0]);
    double total = 0.0;
    std::size_t from = 0;
    for (std::size_t b = 0; b <= splits.size(); ++b) {
        const std::size_t to = interval_end(counts, splits, b, from);
        const BinWalk walk = walk_bin(counts, from, to, total, strides);
        merged &= walk.merged;
        total = walk.total;
        const double zeros = walk.zeros;
        const double ones = walk.ones;
        const uint64_t records = walk.records;
        double representative = std::numeric_limits<double>::quiet_NaN();
        if (stat == SummaryStatistic::Mean) {
            representative = mean_of_rows(counts, from, to);
        } else if (to > from) {
            // Each median read among the bin's own rows, so that a sum of
            // weights rounded apart from a running one never reads a
            // neighbour's value.
            StrideCursor<Weighted> cursor{counts, strides, from, to};
            representative =
                median_at(0.0, zeros + ones, [&](double at) { return value_at(cursor, at); });
        }
        bins.push_back(Bin{zeros, ones, static_cast<int64_t>(records), representative});
        from = to;
    }
    if (!merged) {
        throw std::invalid_argument(
            std::string(where) +
            ": values must be ascending and distinct (not NaN), weights finite and not negative");
    }
    if (!(is_finite(missing_c0) && missing_c0 >= 0.0 && is_finite(missing_c1) &&
          missing_c1 >= 0.0 && missing_rows >= 0)) {
        throw std::invalid_argument(std::string(where) +
                                    ": missing weights must be finite and not negative");
    }
    total = (total + missing_c0) + missing_c1;
    std::vector<WeightedBinningSummary> rows;
    rows.reserve(splits.size() + 2);
    for (std::size_t b = 0; b < bins.size(); ++b) {
        const Bin& bin = bins[b];
        const double c = bin.zeros + bin.ones;
        rows.push_back(WeightedBinningSummary{b == 0 ? -kInfinity : splits[b - 1],
                                              b == splits.size() ? kInfinity : splits[b], c,
                                              bin.records, share(c, total), bin.zeros, bin.ones,
                                              share(bin.ones, c), bin.representative});
    }
    add_missing_row(rows, missing_c0, missing_c1, missing_rows, total);
    return rows;
}

}  // namespace

std::vector<WeightedBinningSummary> summarize_binary_weighted(const WeightedValueCounts& counts,
                                                              double missing_c0, double missing_c1,
                                                              int64_t missing_rows,
                                                              const std::vector<double>& splits,
                                                              SummaryStatistic stat) {
    return weighted_summary(counts, missing_c0, missing_c1, missing_rows, splits, stat);
}

std::vector<WeightedBinningSummary> summarize_binary_weighted(const WeightedCountsView& counts,
                                                              double missing_c0, double missing_c1,
                                                              int64_t missing_rows,
                                                              const std::vector<double>& splits,
                                                              SummaryStatistic stat) {
    return weighted_summary(spans_of(counts), missing_c0, missing_c1, missing_rows, splits, stat);
}

std::vector<WeightedBinningSummary> summarize_binary_weighted_indexed(
    const WeightedCountsView& counts, const int64_t* index_c0, const int64_t* index_c1,
    const int64_t* index_rows, std::size_t k, double missing_c0, double missing_c1,
    int64_t missing_rows, const std::vector<double>& splits) {
    constexpr const char* where = "summary_binary_from_counts";
    const std::size_t m = counts.size;
    if (k != index_entries(m)) {
        throw std::invalid_argument(std::string(where) +
                                    ": the index must hold one entry per 64 values, and one more");
    }
    if (!(is_finite(missing_c0) && missing_c0 >= 0.0 && is_finite(missing_c1) &&
          missing_c1 >= 0.0 && missing_rows >= 0)) {
        throw std::invalid_argument(std::string(where) +
                                    ": missing weights must be finite and not negative");
    }
    const WholeCountsView view{{counts.value, m}, {counts.c0, m}, {counts.c1, m}};
    const CountIndexView index{{index_c0, k}, {index_c1, k}};
    // Whole weights below 2^53 in all: their total is the one a sum value by
    // value from 0 gives.
    const ClassRows all = rows_before(view, index, m);
    const double total = (static_cast<double>(all.c0 + all.c1) + missing_c0) + missing_c1;
    const auto records_before = [&](std::size_t g) {
        int64_t records = index_rows[g / kIndexStride];
        for (std::size_t j = g / kIndexStride * kIndexStride; j < g; ++j) {
            records += counts.rows[j];
        }
        return records;
    };
    std::vector<WeightedBinningSummary> rows;
    rows.reserve(splits.size() + 2);
    std::size_t from = 0;
    std::size_t b = 0;
    for (const CountedBin<WholeCountsView>& bin : indexed_bins(view, index, splits, true)) {
        const std::size_t to = interval_end(view, splits, b++, from);
        const auto zeros = static_cast<double>(bin.zeros);
        const auto ones = static_cast<double>(bin.ones);
        const double c = zeros + ones;
        rows.push_back(WeightedBinningSummary{
            bin.left, bin.right, c, records_before(to) - records_before(from), share(c, total),
            zeros, ones, share(ones, c), bin.representative});
        from = to;
    }
    add_missing_row(rows, missing_c0, missing_c1, missing_rows, total);
    return rows;
}

LorenzCurve lorenz_curve_weighted(const WeightedValueCounts& counts) {
    require_merged(counts, "lorenz_curve_from_counts");
    return lorenz_of_counts(counts);
}

std::vector<WeightedBoundary> weighted_boundaries(const WeightedValueCounts& counts) {
    require_merged(counts, "boundaries_from_counts");
    return boundary_table<WeightedBoundary>(counts);
}

std::vector<SplitResult> mdlp_weighted(const WeightedValueCounts& counts,
                                       const TessalineParams& p) {
    return compute_splits_weighted(weighted_boundaries(counts), p);
}

namespace {

// The exact sum of both classes' weights rounded once, the classes' own sums
// left as they are. Whole weights below 2^53 in all add up exactly.
double both_classes(const BasicClassSums<PlainSum>& sums) {
    return sums.c0.sum + sums.c1.sum;
}

double both_classes(const BasicClassSums<ScaledSum>& sums) {
    return sums.c0.with(sums.c1);
}

double both_classes(const BasicClassSums<RunningExactSum>& sums) {
    ExactSum both;
    ExactSum ones;
    sums.c0.expansion(both);
    sums.c1.expansion(ones);
    for (const double part : ones.partials()) both.add(part);
    return both.value();
}

// The categories' weights, each class's summed by a copy of `sum`; with `every`, the
// weight of every row of each code too: in the same pass where some row's
// label is missing, else as the exact sum of the two classes' sums, which
// holds the same rows (a weight added once, not twice, a row).
template <typename Sum>
WeightedCategoryCounts categories_summed(const int64_t* codes, const double* labels,
                                         const double* w, std::size_t n, std::size_t k, bool every,
                                         const Sum& sum) {
    WeightedCategoryCounts counts;
    // Slot 2 * (code + 1) + class: the missing code (-1) first, then code j
    // at 2 * (j + 1), each class's weights next to the other's. A row goes
    // to its class's slot by index, not by a branch: the classes of
    // neighbouring rows do not repeat. Each slot adds its rows in the order
    // they come, as a sum per code and class would.
    std::vector<Sum> sums(2 * (k + 1), sum);
    std::vector<int64_t> records(k + 1, 0);
    // Odd rows go to a second copy of the slots, added in at the end (every
    // sum is exact): a row then never waits on the store of the row just
    // before it, which often has the same slot.
    std::vector<Sum> odd_sums(2 * (k + 1), sum);
    std::vector<int64_t> odd_records(k + 1, 0);
    Sum* const sets[2] = {sums.data(), odd_sums.data()};
    int64_t* const record_sets[2] = {records.data(), odd_records.data()};
    // Whether some label is missing, four labels at a time (the flags'
    // pass, its other finding left to the count's own check below).
    const bool unknown = every && flag_kinds_in_lanes(labels, n).unknown;
    const bool every_here = every && unknown;
    // Slot k: the missing code.
    std::vector<Sum> every_sums(every_here ? k + 1 : 0, sum);
    for (std::size_t i = 0; i < n; ++i) {
        const int64_t code = codes[i];
        if (code < -1 || (code >= 0 && static_cast<uint64_t>(code) >= k)) {
            throw std::invalid_argument("count_categories: code " + std::to_string(code) +
                                        " outside -1.." + std::to_string(k) + " - 1");
        }
        if (every_here && w[i] != 0.0)
            every_sums[code < 0 ? k : static_cast<std::size_t>(code)].add(w[i]);
        const double label = labels[i];
        if (std::isnan(label) || w[i] == 0.0) continue;
        // Zero only for a label of 0 or 1 (either factor near 1 where the
        // other is small, so no product underflows): one test, which no
        // row's class decides, where two comparisons compile to a branch
        // on the first.
        if (label * (label - 1.0) != 0.0) {
            throw std::invalid_argument("count_categories: labels must be 0, 1 or NaN");
        }
        const auto slot = static_cast<std::size_t>(code + 1);
        sets[i & 1][2 * slot + static_cast<std::size_t>(label == 1.0)].add(w[i]);
        ++record_sets[i & 1][slot];
    }
    for (std::size_t j = 0; j < sums.size(); ++j) sums[j].absorb(odd_sums[j]);
    for (std::size_t j = 0; j <= k; ++j) records[j] += odd_records[j];
    // The exact sum of both classes' weights of a slot, rounded once.
    const auto both = [&](std::size_t slot) {
        return both_classes(BasicClassSums<Sum>{sums[2 * slot], sums[2 * slot + 1]});
    };
    if (every && !unknown) {
        counts.every.reserve(k);
        for (std::size_t j = 0; j < k; ++j) counts.every.push_back(both(j + 1));
        counts.missing_every = both(0);
    }
    counts.c0.reserve(k);
    counts.c1.reserve(k);
    counts.rows.assign(records.begin() + 1, records.end());
    counts.missing_rows = records[0];
    for (std::size_t j = 0; j < k; ++j) {
        counts.c0.push_back(sums[2 * (j + 1)].value());
        counts.c1.push_back(sums[2 * (j + 1) + 1].value());
        require_sum(counts.c0.back() + counts.c1.back(), "count_categories_weighted");
    }
    counts.missing_c0 = sums[0].value();
    counts.missing_c1 = sums[1].value();
    require_sum(counts.missing_c0 + counts.missing_c1, "count_categories_weighted");
    if (every_here) {
        counts.every.reserve(k);
        for (std::size_t j = 0; j < k; ++j) counts.every.push_back(every_sums[j].value());
        counts.missing_every = every_sums[k].value();
    }
    if (every) {
        for (const double sum : counts.every) require_sum(sum, "count_categories_weighted");
        require_sum(counts.missing_every, "count_categories_weighted");
    }
    return counts;
}

// The categories of rows of weight 1 as the count of rows gives them (whose
// whole sums are exact in either form), where it can: codes and labels
// sound, and with `every`, no label missing (the count of rows does not say
// which codes hold those rows). False where it cannot, `out` then untouched.
bool rows_counted(const int64_t* codes, const double* labels, std::size_t n, std::size_t k,
                  bool every, WeightedCategoryCounts& out) {
    CategoryCounts rows;
    try {
        rows = count_categories(codes, labels, n, k);
    } catch (const std::invalid_argument&) {
        return false;  // refused by the weighted count, with its own message
    }
    if (every && rows.n_missing_target != 0) return false;
    out.c0.reserve(k);
    out.c1.reserve(k);
    out.rows.reserve(k);
    for (std::size_t j = 0; j < k; ++j) {
        out.c0.push_back(static_cast<double>(rows.c0[j]));
        out.c1.push_back(static_cast<double>(rows.c1[j]));
        out.rows.push_back(rows.c0[j] + rows.c1[j]);
    }
    out.missing_c0 = static_cast<double>(rows.missing_c0);
    out.missing_c1 = static_cast<double>(rows.missing_c1);
    out.missing_rows = rows.missing_c0 + rows.missing_c1;
    if (every) {
        out.every.reserve(k);
        for (std::size_t j = 0; j < k; ++j) out.every.push_back(out.c0[j] + out.c1[j]);
        out.missing_every = out.missing_c0 + out.missing_c1;
    }
    return true;
}

}  // namespace

WeightedCategoryCounts count_categories_weighted(const int64_t* codes, const double* labels,
                                                 const double* w, std::size_t n, std::size_t k,
                                                 bool every, const WeightKinds* given) {
    const WeightKinds kinds = kinds_of(w, n, given);
    WeightedCategoryCounts counts;
    if (kinds.all_ones && rows_counted(codes, labels, n, k, every, counts)) return counts;
    // Whole weights below 2^53 in all add up exactly in plain sums.
    if (kinds.whole) return categories_summed(codes, labels, w, n, k, every, PlainSum{});
    if (const std::optional<int> scale = common_scale(kinds.least, kinds.most)) {
        return categories_summed(codes, labels, w, n, k, every, ScaledSum(*scale));
    }
    return categories_summed(codes, labels, w, n, k, every, RunningExactSum{});
}

namespace {

// a * b < c * d exactly: each product is split into its rounded value and
// its exact error (an explicit fused multiply-add, not a contraction), so
// products that round alike still order by their error. The sort asks only
// "below?", so no three-way answer is built that nobody reads.
bool product_below(double a, double b, double c, double d) {
    const double p = a * b;
    const double q = c * d;
    if (p != q) return p < q;
    return std::fma(a, b, -p) < std::fma(c, d, -q);
}

}  // namespace

std::vector<int64_t> event_rate_order_weighted(const double* c0, const double* c1, std::size_t k) {
    std::vector<int64_t> order;
    order.reserve(k);
    for (std::size_t j = 0; j < k; ++j) {
        if (!(is_finite(c0[j]) && c0[j] >= 0.0 && is_finite(c1[j]) && c1[j] >= 0.0)) {
            throw std::invalid_argument(
                "event_rate_order: weights must be finite and not negative");
        }
        if (c0[j] + c1[j] > 0.0) order.push_back(static_cast<int64_t>(j));
    }
    // a1 / (a0 + a1) < b1 / (b0 + b1) as a1 * (b0 + b1) < b1 * (a0 + a1).
    std::stable_sort(order.begin(), order.end(), [&](int64_t a, int64_t b) {
        return product_below(c1[a], c0[b] + c1[b], c1[b], c0[a] + c1[a]);
    });
    return order;
}

}  // namespace tessaline
