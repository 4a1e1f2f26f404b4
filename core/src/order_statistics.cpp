// Selection of order statistics: in place on short ranges, through buckets
// of equal width in value on long ones.
#include "order_statistics.hpp"

#include <algorithm>
#include <vector>

namespace tessaline {
namespace {

// Ranges this short, or this crowded with wanted positions, are cheaper to
// sort outright than to keep splitting with selections.
constexpr std::size_t kSortRange = 64;
constexpr std::size_t kSortPositionsPerValue = 16;

// The values data[0..count) (reordered), at the positions wanted, to out.
void select_in_values(double* data, std::size_t count, const std::size_t* wanted,
                      const std::size_t* wanted_end, double* out) {
    const std::size_t positions = static_cast<std::size_t>(wanted_end - wanted);
    auto select_directly = [&] {
        select_positions(data, 0, count, wanted, wanted_end);
        for (std::size_t j = 0; j < positions; ++j) out[j] = data[wanted[j]];
    };
    if (count < kBucketedFrom || positions * kSortPositionsPerValue >= count) {
        select_directly();
        return;
    }
    const auto [least, greatest] = std::minmax_element(data, data + count);
    const double lo = *least;
    const double hi = *greatest;
    if (!(lo < hi)) {  // all equal
        for (std::size_t j = 0; j < positions; ++j) out[j] = data[wanted[j]];
        return;
    }
    if (!ValueBuckets::fit(lo, hi)) {
        select_directly();
        return;
    }
    const ValueBuckets buckets(lo, hi);
    std::vector<std::size_t> bucket_count(ValueBuckets::kCount + 1, 0);
    for (std::size_t i = 0; i < count; ++i) ++bucket_count[buckets.of(data[i])];
    BucketPlan plan = plan_buckets(bucket_count, wanted, wanted_end);
    // Buckets that keep most values (values spread over many orders of
    // magnitude) narrow the search too slowly to be worth another pass.
    if (plan.gathered > count / 2) {
        select_directly();
        return;
    }
    std::vector<double> buffer(plan.gathered + 1);
    for (std::size_t i = 0; i < count; ++i) plan.place(data[i], buckets.of(data[i]), buffer.data());
    select_in_gathered(buffer.data(), plan, wanted, wanted_end, out);
}

}  // namespace

// Selecting the middle wanted position splits the range into two
// independent halves (everything left of it is <= it, everything right is
// >=), so the work is about (last - first) * log2(number of positions).
void select_positions(double* data, std::size_t first, std::size_t last, const std::size_t* wanted,
                      const std::size_t* wanted_end) {
    while (wanted != wanted_end) {
        const std::size_t length = last - first;
        const std::size_t positions = static_cast<std::size_t>(wanted_end - wanted);
        if (length <= kSortRange || positions * kSortPositionsPerValue >= length) {
            std::sort(data + first, data + last);
            return;
        }
        const std::size_t* middle = wanted + positions / 2;
        std::nth_element(data + first, data + *middle, data + last);
        select_positions(data, first, *middle, wanted, middle);
        first = *middle + 1;
        wanted = middle + 1;
    }
}

BucketPlan plan_buckets(const std::vector<std::size_t>& count, const std::size_t* wanted,
                        const std::size_t* wanted_end) {
    const std::size_t buckets = count.size();
    BucketPlan plan;
    plan.before.assign(buckets, 0);
    for (std::size_t b = 1; b < buckets; ++b) plan.before[b] = plan.before[b - 1] + count[b - 1];

    // Each wanted position lies in the bucket whose values start at or before
    // it and end after it; the positions only grow, and so do their buckets.
    std::vector<char> needed(buckets, 0);
    plan.bucket_of_wanted.reserve(static_cast<std::size_t>(wanted_end - wanted));
    std::size_t b = 0;
    for (const std::size_t* w = wanted; w != wanted_end; ++w) {
        while (b + 2 < buckets && plan.before[b + 1] <= *w) ++b;
        plan.bucket_of_wanted.push_back(b);
        needed[b] = 1;
    }

    plan.next.assign(buckets, 0);
    plan.step.assign(buckets, 0);
    plan.end.assign(buckets, 0);
    plan.gathered_at.assign(buckets, 0);
    for (std::size_t k = 0; k < buckets; ++k) {
        if (!needed[k]) continue;
        plan.gathered_at[k] = plan.next[k] = plan.gathered;
        plan.step[k] = 1;
        plan.gathered += count[k];
        plan.end[k] = plan.gathered;
    }
    for (std::size_t k = 0; k < buckets; ++k) {
        if (!needed[k]) {
            plan.next[k] = plan.gathered;
            plan.end[k] = plan.gathered + 1;
        }
    }
    return plan;
}

void select_in_gathered(double* buffer, const BucketPlan& plan, const std::size_t* wanted,
                        const std::size_t* wanted_end, double* out) {
    const std::size_t positions = static_cast<std::size_t>(wanted_end - wanted);
    std::vector<std::size_t> local;
    for (std::size_t j = 0; j < positions;) {
        const std::size_t b = plan.bucket_of_wanted[j];
        local.clear();
        std::size_t end = j;
        for (; end < positions && plan.bucket_of_wanted[end] == b; ++end) {
            local.push_back(wanted[end] - plan.before[b]);
        }
        const std::size_t size = plan.before[b + 1] - plan.before[b];
        select_in_values(buffer + plan.gathered_at[b], size, local.data(),
                         local.data() + local.size(), out + j);
        j = end;
    }
}

}  // namespace tessaline
