// The supervised pipeline from the boundary table to the raw full MDLP:
// compute_boundaries, compute_boundaries_from_raw, make_segment,
// evaluate_segment, compute_splits, mdlp, fit_mdlp_from_raw, mdlp_full and
// fit_mdlp_full_from_raw, on raw rows and on unchecked "sorted" views.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <optional>
#include <vector>

#include "fuzz_input.hpp"
#include "tessaline/tessaline.hpp"

namespace {

using namespace fuzz;
using namespace tessaline;

const char* const kPercentile = "preprocess_data: percentile debe estar entre 0 y 100";

bool same_log(const std::vector<SplitResult>& a, const std::vector<SplitResult>& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i].found != b[i].found || a[i].has_candidate != b[i].has_candidate ||
            !same(a[i].pto, b[i].pto) || !same(a[i].gain, b[i].gain) ||
            !same(a[i].cost_pos, b[i].cost_pos) || !same(a[i].cost_struct, b[i].cost_struct) ||
            !same(a[i].cost, b[i].cost) || a[i].idx != b[i].idx) {
            return false;
        }
    }
    return true;
}

bool same_table(const std::vector<Boundary>& a, const std::vector<Boundary>& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (!same(a[i].pto_corte, b[i].pto_corte) || a[i].c0 != b[i].c0 || a[i].c1 != b[i].c1) {
            return false;
        }
    }
    return true;
}

TessalineParams read_params(Reader& in) {
    TessalineParams p;
    static const double weights[] = {1.0, 0.0, 0.5, 2.0, -1.0, kNaN, kInf, -kInf, 1e-300};
    const uint8_t b = in.byte();
    p.alpha_pos = b < 128 ? 1.0 : b < 200 ? weights[b % 9] : in.real();
    const uint8_t c = in.byte();
    p.beta_struct = c < 128 ? 1.0 : c < 200 ? weights[c % 9] : in.real();
    p.minobs = in.integer();
    const uint8_t m = in.byte();
    p.monotonicity = m % 4;
    static const int32_t dirs[] = {0, 1, -1, 0, 1, -1, std::numeric_limits<int32_t>::min(),
                                   std::numeric_limits<int32_t>::max()};
    p.mono_dir = dirs[(m >> 2) % 8];
    p.force_first_split = (m >> 5) & 1;
    return p;
}

// The boundary table of a view, whatever the view holds: sentinel rows,
// cumulative counts that rise by one record at least per row, the totals at
// the end, and a row exactly where both value and label change.
void check_table(const SortedView& v, const std::vector<Boundary>& B) {
    if (v.n == 0) {
        FUZZ_CHECK(B.empty());
        return;
    }
    FUZZ_CHECK(B.size() >= 2 && B.size() <= v.n + 1);
    FUZZ_CHECK(same(B.front().pto_corte, v.x[0]) && B.front().c0 == 0 && B.front().c1 == 0);
    int64_t zeros = 0, ones = 0;
    std::size_t row = 1;
    for (std::size_t i = 0; i < v.n; ++i) {
        if (i > 0 && v.x[i] != v.x[i - 1] && v.y[i] != v.y[i - 1]) {
            FUZZ_CHECK(row + 1 < B.size());
            FUZZ_CHECK(B[row].c0 == zeros && B[row].c1 == ones);
            ++row;
        }
        if (v.y[i] == 0) ++zeros; else ++ones;
    }
    FUZZ_CHECK(row + 1 == B.size());
    FUZZ_CHECK(same(B.back().pto_corte, v.x[v.n - 1]) && B.back().c0 == zeros &&
               B.back().c1 == ones);
    for (std::size_t i = 1; i < B.size(); ++i) {
        FUZZ_CHECK(B[i].c0 >= B[i - 1].c0 && B[i].c1 >= B[i - 1].c1);
        FUZZ_CHECK(B[i].c0 + B[i].c1 > B[i - 1].c0 + B[i - 1].c1);
    }
}

// On prepared data (ascending finite x) every inner cut separates its two
// values: lower <= cut < upper, and it is their midpoint whenever that does.
void check_cuts_separate(const SortedView& v, const std::vector<Boundary>& B) {
    for (std::size_t r = 1; r + 1 < B.size(); ++r) {
        const std::size_t i = static_cast<std::size_t>(B[r].c0 + B[r].c1);
        FUZZ_CHECK(i >= 1 && i < v.n);
        const double lower = v.x[i - 1], upper = v.x[i], cut = B[r].pto_corte;
        FUZZ_CHECK(finite_value(cut) && lower <= cut && cut < upper);
        const double mid = (lower + upper) * 0.5;
        if (lower < mid && mid < upper) FUZZ_CHECK(same(cut, mid));
    }
    for (std::size_t r = 1; r < B.size(); ++r) FUZZ_CHECK(B[r].pto_corte >= B[r - 1].pto_corte);
}

void check_log(const std::vector<Boundary>& B, const TessalineParams& p,
               const std::vector<SplitResult>& log) {
    if (B.size() <= 2) {
        FUZZ_CHECK(log.empty());
        return;
    }
    FUZZ_CHECK(!log.empty());
    // The root comes first and is evaluated as a whole.
    SplitResult root = evaluate_segment(B, make_segment(B, 0, B.size() - 1), p);
    const bool forced = p.force_first_split && log.size() == 1 && root.has_candidate && !root.found;
    if (forced) root.found = true;
    FUZZ_CHECK(same_log({root}, {log[0]}));
    std::size_t accepted = 0;
    for (const SplitResult& r : log) {
        if (r.has_candidate) {
            FUZZ_CHECK(r.idx > 0 && r.idx + 1 < B.size());
            FUZZ_CHECK(same(r.pto, B[r.idx].pto_corte));
        } else {
            FUZZ_CHECK(!r.found && r.idx == 0 && r.pto == 0.0 && r.gain == 0.0 && r.cost == 0.0 &&
                       r.cost_pos == 0.0 && r.cost_struct == 0.0);
        }
        accepted += r.found ? 1 : 0;
    }
    // Every accepted split opens at most two more evaluations.
    FUZZ_CHECK(log.size() <= 2 * accepted + 1);
}

// Intervals from -inf to +inf, each starting where the previous one ends,
// counts adding up to the view's totals.
void check_intervals(const std::vector<SummaryInterval>& s, int64_t n0, int64_t n1) {
    FUZZ_CHECK(!s.empty());
    FUZZ_CHECK(s.front().left == -kInf && s.back().right == kInf);
    int64_t c0 = 0, c1 = 0;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (i > 0) FUZZ_CHECK(same(s[i].left, s[i - 1].right));
        FUZZ_CHECK(s[i].total == s[i].c0 + s[i].c1);
        const double p1 = s[i].total > 0 ? static_cast<double>(s[i].c1) / static_cast<double>(s[i].total) : 0.0;
        FUZZ_CHECK(same(s[i].p1, p1));
        c0 += s[i].c0;
        c1 += s[i].c1;
    }
    FUZZ_CHECK(c0 == n0 && c1 == n1);
}

void raw_pipeline(const std::vector<double>& x, const std::vector<double>& y,
                  const TessalineParams& p, std::optional<double> value, double percentile,
                  SummaryStatistic stat) {
    const std::size_t n = x.size();
    // Whether preprocessing must fail is its own harness's business; here the
    // pipelines must fail exactly when it does.
    std::optional<PreprocessResult> prepared;
    try {
        prepared = preprocess_data(x.data(), y.data(), n, value, percentile);
    } catch (const std::invalid_argument& e) {
        FUZZ_CHECK(std::string(e.what()) == kPercentile);
    }
    const char* expected = prepared ? nullptr : kPercentile;
    const auto raw_table = guarded(expected, [&] {
        return compute_boundaries_from_raw(x.data(), y.data(), n, value, percentile);
    });
    const auto raw_log = guarded(expected, [&] {
        return fit_mdlp_from_raw(x.data(), y.data(), n, p, value, percentile);
    });
    const auto raw_full = guarded(expected, [&] {
        return fit_mdlp_full_from_raw(x.data(), y.data(), n, p, value, percentile, stat);
    });
    if (!prepared) return;

    const PreprocessResult& r = *prepared;
    const SortedView view{r.x.data(), r.y.data(), r.x.size()};
    const std::vector<Boundary> B = compute_boundaries(view);
    check_table(view, B);
    check_cuts_separate(view, B);
    FUZZ_CHECK(same_table(B, *raw_table));

    const std::vector<SplitResult> log = compute_splits(B, p);
    check_log(B, p, log);
    FUZZ_CHECK(same_log(log, mdlp(view, p)));
    FUZZ_CHECK(same_log(log, *raw_log));

    const MdlpFullResult full = mdlp_full(view, p);
    FUZZ_CHECK(same_log(log, full.mdlp));
    const MdlpFullRawResult& f = *raw_full;
    FUZZ_CHECK(same_log(log, f.mdlp));
    if (view.n == 0) {
        FUZZ_CHECK(full.summary.empty() && f.intervals.empty());
    } else {
        check_intervals(full.summary, B.back().c0, B.back().c1);
        // On prepared data the intervals ascend, and each holds exactly the
        // records left < x <= right.
        std::size_t start = 0;
        for (const SummaryInterval& s : full.summary) {
            FUZZ_CHECK(s.left < s.right);
            std::size_t end = start;
            while (end < view.n && view.x[end] <= s.right) ++end;
            for (std::size_t i = start; i < end; ++i) FUZZ_CHECK(view.x[i] > s.left);
            FUZZ_CHECK(static_cast<int64_t>(end - start) == s.total);
            start = end;
        }
    }
    FUZZ_CHECK(f.intervals.size() == full.summary.size());

    // The raw summary: one row per interval, then the missing-x row.
    FUZZ_CHECK(f.summary.size() == f.intervals.size() + (r.missing_count > 0 ? 1 : 0));
    const std::size_t denominator = r.n_used + r.missing_count;
    std::size_t counted = 0;
    double shares = 0.0;
    std::size_t start = 0;
    for (std::size_t i = 0; i < f.summary.size(); ++i) {
        const BinningSummary& row = f.summary[i];
        counted += row.count;
        shares += row.percentage;
        FUZZ_CHECK(row.c0 + row.c1 == row.count);
        FUZZ_CHECK(row.event_rate >= 0.0 && row.event_rate <= 1.0);
        if (i == f.intervals.size()) {
            FUZZ_CHECK(std::isnan(row.left) && std::isnan(row.right) && std::isnan(row.representative));
            FUZZ_CHECK(row.count == r.missing_count && row.c0 == r.missing_c0 && row.c1 == r.missing_c1);
            continue;
        }
        const SummaryInterval& s = f.intervals[i];
        FUZZ_CHECK(same(row.left, s.left) && same(row.right, s.right));
        FUZZ_CHECK(static_cast<int64_t>(row.count) == s.total);
        const std::size_t end = start + row.count;
        if (row.count == 0) {
            FUZZ_CHECK(std::isnan(row.representative));
        } else {
            // The representative lies among the interval's records, unless
            // the stated formula itself overflows on huge values.
            const double lo = r.x[start], hi = r.x[end - 1];
            const double rep = row.representative;
            if (finite_value(hi - lo) && finite_value(rep)) {
                const double slack = 1e-12 * std::max(std::fabs(lo), std::fabs(hi));
                FUZZ_CHECK(rep >= lo - slack && rep <= hi + slack);
            }
        }
        start = end;
    }
    FUZZ_CHECK(counted == denominator);
    if (denominator > 0) FUZZ_CHECK(close(shares, 1.0, 1e-9));
    FUZZ_CHECK(f.n_input == r.n_input && f.n_used == r.n_used && f.n_missing_x == r.n_missing_x &&
               f.n_missing_y == r.n_missing_y && f.n_missing_both == r.n_missing_both &&
               f.n_non_finite == r.n_non_finite && f.target_was_binary == r.target_was_binary &&
               same(f.threshold, r.threshold));
}

// Views over data nobody checked (unsorted, NaN, any label): the functions
// that take a view must still finish, with tables and intervals that add up.
void unchecked_view(const std::vector<double>& x, const std::vector<int32_t>& y,
                    const TessalineParams& p) {
    const SortedView view{x.data(), y.data(), x.size()};
    const std::vector<Boundary> B = compute_boundaries(view);
    check_table(view, B);
    const std::vector<SplitResult> log = compute_splits(B, p);
    check_log(B, p, log);
    FUZZ_CHECK(same_log(log, mdlp(view, p)));
    const MdlpFullResult full = mdlp_full(view, p);
    FUZZ_CHECK(same_log(log, full.mdlp));
    if (view.n == 0) {
        FUZZ_CHECK(full.summary.empty());
    } else {
        check_intervals(full.summary, B.back().c0, B.back().c1);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    Reader in(data, size);
    const uint8_t mode = in.byte();
    const TessalineParams p = read_params(in);
    if (mode & 1) {
        const std::size_t n = in.size(512);
        std::vector<double> x = in.reals(n);
        std::vector<int32_t> y(n);
        for (int32_t& label : y) label = in.label();
        if (mode & 2) std::sort(x.begin(), x.end());  // NaN makes this order partial
        unchecked_view(x, y, p);
        return 0;
    }
    std::optional<double> value;
    if (mode & 2) value = in.real();
    const double percentile = mode & 4 ? in.real() : static_cast<double>(in.byte() % 101);
    const SummaryStatistic stat = mode & 8 ? SummaryStatistic::Mean : SummaryStatistic::Median;
    std::vector<double> x, y;
    if (mode & 16) {
        const std::size_t n = 500 + in.size(3000);
        x = synthesise(in, n);
        y = synthesise(in, n);
        if (mode & 32) {
            for (double& v : y) v = std::isnan(v) ? v : (v > 0 ? 1.0 : 0.0);
        }
    } else {
        const std::size_t n = in.size(512);
        x = in.reals(n);
        for (std::size_t i = 0; i < n; ++i) {
            y.push_back(mode & 32 ? in.real() : static_cast<double>(in.label() & 1));
        }
    }
    raw_pipeline(x, y, p, value, percentile, stat);
    return 0;
}
