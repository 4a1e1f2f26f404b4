// Order statistics of unsorted values: the value that a full ascending sort
// would put at each wanted position, found without sorting.
//
// Large inputs go through buckets of equal width in value: one pass counts
// the values of every bucket, the counts tell which buckets hold the wanted
// positions, a second pass gathers the values of those buckets only, and the
// search goes on inside each gathered bucket, whose values are far fewer.
// Equal values always share a bucket, so the positions found are exact.
#ifndef TESSALINE_ORDER_STATISTICS_HPP
#define TESSALINE_ORDER_STATISTICS_HPP

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <vector>

namespace tessaline {

// Puts at each wanted position of data[first, last) the value a full
// ascending sort would put there. `wanted` is ascending, without repeats and
// inside [first, last).
void select_positions(double* data, std::size_t first, std::size_t last, const std::size_t* wanted,
                      const std::size_t* wanted_end);

// kCount buckets of equal width between two finite values lo < hi. The bucket
// of a value never decreases as the value grows (every step rounds the same
// way), which is all the search needs; halves keep the width finite even
// when hi - lo overflows.
class ValueBuckets {
  public:
    static constexpr std::size_t kCount = 2048;

    ValueBuckets(double lo, double hi)
        : low_(lo * 0.5), scale_(static_cast<double>(kCount) / (hi * 0.5 - lo * 0.5)) {}

    // Whether buckets can be laid between lo and hi: both finite, apart, and
    // not so close (a few subnormals apart) that the halved width vanishes
    // or its reciprocal overflows.
    static bool fit(double lo, double hi) {
        const double largest = std::numeric_limits<double>::max();
        if (!(lo < hi && lo >= -largest && hi <= largest)) return false;
        return static_cast<double>(kCount) / (hi * 0.5 - lo * 0.5) <= largest;
    }

    // The bucket of a value in [lo, hi]; a value outside (one written by
    // another thread since lo and hi were measured) goes to the nearer end.
    std::size_t of(double v) const {
        // Clamped to 0 <= at <= kCount - 1 before the conversion, which is
        // then exact; inside [lo, hi] the clamp changes nothing.
        double at = (v * 0.5 - low_) * scale_;
        at = std::min(std::max(at, 0.0), static_cast<double>(kCount - 1));
        return static_cast<std::size_t>(at);
    }

  private:
    double low_;
    double scale_;
};

// Where the values of one bucket go in a gathering pass.
struct BucketPlan {
    // Per bucket (plus a last one for values not kept): the next slot to
    // write and how far a write moves it, 0 for buckets not gathered, whose
    // values all land in one spare slot past the gathered ones.
    std::vector<std::size_t> next;
    std::vector<std::size_t> step;
    std::vector<std::size_t> end;  // slot past each bucket's share (spare + 1 if not gathered)
    std::vector<std::size_t> gathered_at;       // first slot of each gathered bucket
    std::vector<std::size_t> before;            // kept values in all lower buckets
    std::vector<std::size_t> bucket_of_wanted;  // bucket holding each wanted position
    std::size_t gathered = 0;

    // Writes v, of bucket b, to its slot. Every value is written; only those
    // of gathered buckets move their cursor, so a gathering pass never
    // branches on the data.
    // A bucket that gained values since it was counted (another thread
    // writing the input) sends the excess to the spare slot.
    void place(double v, std::size_t b, double* buffer) {
        const std::size_t at = next[b] < end[b] ? next[b] : gathered;
        buffer[at] = v;
        next[b] = at + step[b];
    }

    // Slots a bucket that lost values left unwritten get `filler`, so that
    // every gathered slot holds a value of the input.
    void fill_shortfall(double filler, double* buffer) const {
        for (std::size_t k = 0; k < next.size(); ++k) {
            if (step[k] == 0) continue;
            for (std::size_t at = next[k]; at < end[k]; ++at) buffer[at] = filler;
        }
    }
};

// The plan from the bucket counts (kCount + 1 of them, the last for values
// not kept) and the ascending wanted positions.
BucketPlan plan_buckets(const std::vector<std::size_t>& count, const std::size_t* wanted,
                        const std::size_t* wanted_end);

// Finishes the search inside every gathered bucket: buffer holds the
// gathered values bucket after bucket, and out[j] receives the value at
// wanted[j].
void select_in_gathered(double* buffer, const BucketPlan& plan, const std::size_t* wanted,
                        const std::size_t* wanted_end, double* out);

// Inputs shorter than this are copied and selected in directly.
constexpr std::size_t kBucketedFrom = std::size_t{1} << 14;

// Order statistics of the n_kept values of x[0..n) that `keep` accepts, at
// the ascending, distinct positions `wanted`, written to out[j]: each is the
// value a full ascending sort of the accepted values puts at that position.
// x is not copied, except for the values of the buckets the positions need.
// The least and greatest kept value, where the caller knows them, spare a
// pass.
struct KeptRange {
    double lo;
    double hi;
};

template <typename Keep>
KeptRange kept_range(const double* x, std::size_t n, Keep keep) {
    KeptRange r{std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity()};
    for (std::size_t i = 0; i < n; ++i) {
        const double v = x[i];
        if (keep(v)) {
            r.lo = std::min(r.lo, v);
            r.hi = std::max(r.hi, v);
        }
    }
    return r;
}

template <typename Keep>
void order_statistics(const double* x, std::size_t n, Keep keep, std::size_t n_kept,
                      const std::vector<std::size_t>& wanted, double* out,
                      std::optional<KeptRange> known_range = std::nullopt) {
    if (wanted.empty()) return;
    KeptRange range{0.0, 0.0};
    if (n_kept >= kBucketedFrom) range = known_range ? *known_range : kept_range(x, n, keep);
    const double lo = range.lo;
    const double hi = range.hi;
    // Copies the kept values and selects among them. The copy holds exactly
    // n_kept values, the count the wanted positions were drawn from, even if
    // another thread changed x since it was counted.
    auto select_in_copy = [&] {
        std::vector<double> values;
        values.reserve(n_kept);
        for (std::size_t i = 0; i < n && values.size() < n_kept; ++i) {
            const double v = x[i];
            if (keep(v)) values.push_back(v);
        }
        values.resize(n_kept, values.empty() ? 0.0 : values.front());
        select_positions(values.data(), 0, values.size(), wanted.data(),
                         wanted.data() + wanted.size());
        for (std::size_t j = 0; j < wanted.size(); ++j) out[j] = values[wanted[j]];
    };
    if (n_kept < kBucketedFrom || !ValueBuckets::fit(lo, hi)) {
        select_in_copy();
        return;
    }

    // Values not kept count in the extra last bucket; they are measured as lo
    // so that no NaN or infinity reaches the bucket arithmetic.
    const ValueBuckets buckets(lo, hi);
    constexpr std::size_t kNotKept = ValueBuckets::kCount;
    auto bucket_of = [&](double v) {
        const bool kept = keep(v);
        const std::size_t b = buckets.of(kept ? v : lo);
        return kept ? b : kNotKept;
    };
    std::vector<std::size_t> count(kNotKept + 1, 0);
    for (std::size_t i = 0; i < n; ++i) ++count[bucket_of(x[i])];
    if (n - count[kNotKept] != n_kept) {  // x changed since it was counted
        select_in_copy();
        return;
    }
    BucketPlan plan = plan_buckets(count, wanted.data(), wanted.data() + wanted.size());

    // Left uninitialised: only the slots written are ever touched.
    std::unique_ptr<double[]> buffer(new double[plan.gathered + 1]);
    for (std::size_t i = 0; i < n; ++i) {
        const double v = x[i];
        plan.place(v, bucket_of(v), buffer.get());
    }
    plan.fill_shortfall(lo, buffer.get());
    select_in_gathered(buffer.get(), plan, wanted.data(), wanted.data() + wanted.size(), out);
}

}  // namespace tessaline

#endif  // TESSALINE_ORDER_STATISTICS_HPP
