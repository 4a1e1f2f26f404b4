// Multiclass optimal binning: the contiguous grouping of ordered pre-bins
// with the largest multiclass information value (the sum over the classes of
// each class's IV against the rest), or Jensen-Shannon divergence, under a bin limit, a least
// share, a least count of every class and a trend of chosen classes' rates. That IV is a sum of one
// term per group, so the grouping search (grouping_search.hpp) finds the optimum exactly, as it
// does a binary target's IV; so is the divergence, a sum of one term per group.
//
// A trend of one class's rate is the search's own trend of a level per
// group. Trends of several classes are a condition on each pair of
// neighbours (each constrained rate rises, or falls, from one to the next),
// which the search's limit between neighbours carries exactly.
#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

#include "grouping_search.hpp"
#include "numeric.hpp"
#include "tessaline/tessaline.hpp"

namespace tessaline {
namespace {

using grouping::tri;

// The IV of a row of k class counts against the totals, its classes' summed
// in class order: the one sum the search and the table share.
double row_iv(const double* c, const double* total, std::size_t k, double rows, double all,
              double* woe = nullptr, double* iv = nullptr) {
    double sum = 0.0;
    for (std::size_t j = 0; j < k; ++j) {
        const GroupWoe w = group_woe(rows - c[j], c[j], all - total[j], total[j]);
        if (woe != nullptr) woe[j] = w.woe, iv[j] = w.iv;
        sum += w.iv;
    }
    return sum;
}

// A row's term of the Jensen-Shannon divergence, its classes' summed in
// class order, a zero count adding nothing: the one sum the search and the
// table share.
double row_js(const double* c, const double* total, std::size_t k, double rows, double all) {
    double js = 0.0;
    for (std::size_t j = 0; j < k; ++j) {
        if (c[j] > 0.0) js += c[j] / all * std::log((c[j] / total[j]) / (rows / all));
    }
    return js;
}

double sum_of(const double* c, std::size_t k) {
    double s = 0.0;
    for (std::size_t j = 0; j < k; ++j) s += c[j];
    return s;
}

struct GroupTable {
    grouping::Groups search;
    std::vector<double> rate;  // groups x k: each class's share of the group's rows
};

GroupTable group_table(const double* counts, std::size_t n, std::size_t k,
                       const MulticlassBinningConstraints& con, const std::vector<double>& total,
                       double all) {
    GroupTable t{grouping::sized_groups(n), {}};
    t.rate.resize(t.search.value.size() * k);
    std::vector<double> s(k);
    for (std::size_t first = 0; first < n; ++first) {
        std::fill(s.begin(), s.end(), 0.0);
        for (std::size_t last = first; last < n; ++last) {
            for (std::size_t j = 0; j < k; ++j) s[j] += counts[last * k + j];
            const std::size_t g = tri(first, last);
            const double rows = sum_of(s.data(), k);
            bool counted = true;
            for (std::size_t j = 0; j < k; ++j) {
                t.rate[g * k + j] = rows > 0.0 ? s[j] / rows : 0.0;
                counted = counted && s[j] >= con.min_class_count;
            }
            t.search.value[g] = con.objective == MulticlassObjective::js
                                    ? row_js(s.data(), total.data(), k, rows, all)
                                    : row_iv(s.data(), total.data(), k, rows, all);
            // An empty group has no rates, so it is never chosen.
            t.search.allowed[g] = counted && rows > 0.0 && rows / all >= con.min_bin_share;
        }
    }
    return t;
}

bool is_monotone(BinTrend t) {
    return t == BinTrend::ascending || t == BinTrend::descending;
}

void check_arguments(const double* counts, std::size_t n, std::size_t k,
                     const MulticlassBinningConstraints& con) {
    if (n == 0) throw std::invalid_argument("multiclass_binning: no pre-bins");
    if (k < 2) throw std::invalid_argument("multiclass_binning: at least two classes are needed");
    if (counts == nullptr) throw std::invalid_argument("multiclass_binning: missing counts");
    for (std::size_t i = 0; i < n * k; ++i) {
        if (!(is_finite(counts[i]) && counts[i] >= 0.0)) {
            throw std::invalid_argument(
                "multiclass_binning: pre-bin counts must be finite and non-negative");
        }
    }
    if (!(con.min_bin_share >= 0.0 && con.min_bin_share <= 1.0)) {
        throw std::invalid_argument("multiclass_binning: min_bin_share must be between 0 and 1");
    }
    if (!(is_finite(con.min_class_count) && con.min_class_count >= 0.0)) {
        throw std::invalid_argument(
            "multiclass_binning: min_class_count must be finite and non-negative");
    }
    if (!con.trends.empty() && con.trends.size() != k) {
        throw std::invalid_argument("multiclass_binning: give one trend per class, or none");
    }
    std::size_t constrained = 0;
    for (BinTrend t : con.trends) {
        grouping::check_trend(t, "multiclass_binning");
        constrained += t != BinTrend::none;
    }
    for (BinTrend t : con.trends) {
        if (constrained > 1 && t != BinTrend::none && !is_monotone(t)) {
            throw std::invalid_argument(
                "multiclass_binning: when several classes follow a trend, each must be "
                "ascending or descending");
        }
    }
}

}  // namespace

MulticlassColumns multiclass_columns(const double* counts, std::size_t n, std::size_t k) {
    if (k == 0 || (n > 0 && counts == nullptr))
        throw std::invalid_argument("multiclass_columns: missing counts");
    for (std::size_t i = 0; i < n * k; ++i) {
        if (!(is_finite(counts[i]) && counts[i] >= 0.0))
            throw std::invalid_argument(
                "multiclass_columns: counts must be finite and non-negative");
    }
    std::vector<double> total(k, 0.0);
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t j = 0; j < k; ++j) total[j] += counts[i * k + j];
    const double all = sum_of(total.data(), k);
    MulticlassColumns out;
    out.share.resize(n);
    out.woe.resize(n * k);
    out.iv.resize(n * k);
    out.row_iv.resize(n);
    out.js.resize(n);
    out.class_iv.assign(k, 0.0);
    for (std::size_t i = 0; i < n; ++i) {
        const double* c = counts + i * k;
        const double rows = sum_of(c, k);
        out.share[i] = all > 0.0 ? rows / all : std::numeric_limits<double>::quiet_NaN();
        out.row_iv[i] = row_iv(c, total.data(), k, rows, all, &out.woe[i * k], &out.iv[i * k]);
        for (std::size_t j = 0; j < k; ++j) out.class_iv[j] += out.iv[i * k + j];
        out.js[i] = row_js(c, total.data(), k, rows, all);
        out.iv_total += out.row_iv[i];
        out.js_total += out.js[i];
    }
    return out;
}

MulticlassBinning multiclass_binning(const double* counts, std::size_t n, std::size_t k,
                                     const MulticlassBinningConstraints& con) {
    check_arguments(counts, n, k, con);
    std::vector<double> total(k, 0.0);
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t j = 0; j < k; ++j) total[j] += counts[i * k + j];
    const double all = sum_of(total.data(), k);
    if (!is_finite(all))
        throw std::invalid_argument("multiclass_binning: pre-bin counts are too large");
    MulticlassBinning out;
    out.value = std::numeric_limits<double>::quiet_NaN();
    out.trends = con.trends.empty() ? std::vector<BinTrend>(k, BinTrend::none) : con.trends;
    // One group of every row meets every limit but the class counts.
    for (std::size_t j = 0; j < k; ++j) {
        if (total[j] < con.min_class_count)
            out.status = MulticlassBinningStatus::min_class_count_not_met;
    }
    for (std::size_t j = 0; j < k && out.status == MulticlassBinningStatus::optimal; ++j) {
        if (total[j] == 0.0) out.status = MulticlassBinningStatus::empty_class;
    }
    if (out.status != MulticlassBinningStatus::optimal) return out;

    GroupTable table = group_table(counts, n, k, con, total, all);
    std::vector<std::size_t> constrained;
    for (std::size_t j = 0; j < k; ++j)
        if (out.trends[j] != BinTrend::none) constrained.push_back(j);
    grouping::Limits limits;
    limits.max_bins = con.max_bins;
    limits.who = "multiclass_binning";
    BinTrend search_trend = BinTrend::none;
    if (constrained.size() == 1) {
        const std::size_t j = constrained[0];
        for (std::size_t g = 0; g < table.search.level.size(); ++g)
            table.search.level[g] = table.rate[g * k + j];
        search_trend = out.trends[j];
    } else if (constrained.size() > 1) {
        limits.neighbours = [&table, &out, &constrained, k](const std::vector<std::size_t>& before,
                                                            const std::vector<std::size_t>& after,
                                                            std::vector<char>& allowed) {
            allowed.resize(before.size() * after.size());
            for (std::size_t a = 0; a < after.size(); ++a) {
                for (std::size_t b = 0; b < before.size(); ++b) {
                    bool ok = true;
                    for (std::size_t j : constrained) {
                        const double from = table.rate[before[b] * k + j];
                        const double to = table.rate[after[a] * k + j];
                        ok = ok && (out.trends[j] == BinTrend::ascending ? from < to : from > to);
                    }
                    allowed[a * before.size() + b] = ok;
                }
            }
        };
    }
    BinTrend met = search_trend;
    const grouping::Trace chosen =
        grouping::best_grouping_of(table.search, limits, search_trend, met);
    if (constrained.size() == 1) out.trends[constrained[0]] = met;
    if (chosen.best.value == grouping::kUnreached) {
        throw std::logic_error("multiclass_binning: no grouping though one group meets the limits");
    }
    double total_value = 0.0;
    for (const auto& [first, last] : chosen.groups) {
        const double value = table.search.value[tri(first, last)];
        out.groups.push_back({first, last, value});
        total_value += value;
    }
    out.value = total_value;
    return out;
}

const char* multiclass_binning_status_message(MulticlassBinningStatus status) {
    // In the order of the statuses; optimal needs no message.
    static const char* const messages[] = {
        "",
        "a class holds fewer rows than min_class_count",
        "a class holds no row with a known value",
    };
    return messages[static_cast<int>(status)];
}

}  // namespace tessaline
