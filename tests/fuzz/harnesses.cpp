// The libFuzzer harnesses of the core, one per entry point group, all in this
// file: each harness binary is this file built with FUZZ_ENTRY naming its
// harness. A harness decodes its inputs (fuzz_input.hpp), accepts only the
// stated failures, and checks the results against plain re-derivations and
// the invariants they must keep; the checks are shared where two harnesses
// reach the same function (every binning goes through the bin check, every
// preprocessing through the pipeline check).
#include <map>
#include <numeric>
#include <type_traits>
#include <utility>

#include "fuzz_input.hpp"
#include "tessaline/tessaline.hpp"

// Outside an anonymous namespace: each binary calls only its own harness.
namespace fuzz {

using namespace tessaline;

// ------------------------------------------------------------ plain helpers

bool all_finite(const std::vector<double>& v) {
    return std::all_of(v.begin(), v.end(), finite_value);
}

bool increasing(const std::vector<double>& v) {
    return std::adjacent_find(v.begin(), v.end(), [](double a, double b) { return !(b > a); }) ==
           v.end();
}

// Cut points as the binding layer hands them to the core: finite, sorted
// ascending, repeats merged (or, when `merge` is false, kept).
std::vector<double> clean_cuts(std::vector<double> raw, bool merge = true) {
    raw.erase(std::remove_if(raw.begin(), raw.end(), [](double v) { return !finite_value(v); }),
              raw.end());
    std::sort(raw.begin(), raw.end());
    if (merge) raw.erase(std::unique(raw.begin(), raw.end()), raw.end());
    return raw;
}

double fraction(std::size_t part, std::size_t whole) {
    return whole == 0 ? 0.0 : static_cast<double>(part) / static_cast<double>(whole);
}

// ------------------------------------------------------------------ binning

// assign_bins against the number of cut points strictly below each value
// (a value equal to a cut falls in the lower bin); returns the bin of each
// record, with NaN in bin cuts.size() + 1.
std::vector<std::size_t> bins_of(const std::vector<double>& x, const std::vector<double>& cuts) {
    const std::vector<int64_t> bins = assign_bins(x.data(), x.size(), cuts);
    FUZZ_CHECK(bins.size() == x.size());
    std::vector<std::size_t> out(x.size());
    for (std::size_t i = 0; i < x.size(); ++i) {
        out[i] = std::isnan(x[i]) ? cuts.size() + 1
                                  : std::lower_bound(cuts.begin(), cuts.end(), x[i]) - cuts.begin();
        FUZZ_CHECK(bins[i] == (std::isnan(x[i]) ? -1 : static_cast<int64_t>(out[i])));
    }
    return out;
}

// Either bin summary against the records of each bin: edges, counts, shares,
// the target's figures; a NaN-x row comes last, only when it holds records.
// Records whose target is NaN are left out. (The exact representatives and
// quartiles are re-derived by the unit tests; here they must stay in order.)
template <typename Row, typename Y>
void check_summary(const std::vector<Row>& rows, const std::vector<double>& x,
                   const std::vector<Y>& y, const std::vector<double>& cuts) {
    const std::size_t m = cuts.size();
    const std::vector<std::size_t> bin = bins_of(x, cuts);
    std::vector<std::size_t> count(m + 2, 0), events(m + 2, 0);
    std::size_t used = 0;
    for (std::size_t i = 0; i < x.size(); ++i) {
        if (std::isnan(static_cast<double>(y[i]))) continue;
        ++used, ++count[bin[i]];
        events[bin[i]] += static_cast<double>(y[i]) == 1.0;
    }
    FUZZ_CHECK(rows.size() == m + 1 + (count[m + 1] == 0 ? 0 : 1));
    for (std::size_t b = 0; b < rows.size(); ++b) {
        const Row& r = rows[b];
        const bool inner = b <= m;
        FUZZ_CHECK(inner
                       ? same(r.left, b == 0 ? -kInf : cuts[b - 1]) &&
                             same(r.right, b == m ? kInf : cuts[b])
                       : std::isnan(r.left) && std::isnan(r.right) && std::isnan(r.representative));
        FUZZ_CHECK(r.count == count[b] && same(r.percentage, fraction(r.count, used)) &&
                   (count[b] > 0 || std::isnan(r.representative)));
        if constexpr (std::is_same_v<Row, BinningSummary>) {
            FUZZ_CHECK(r.c1 == events[b] && r.c0 + r.c1 == r.count &&
                       same(r.event_rate, fraction(r.c1, r.count)));
        } else {
            FUZZ_CHECK(count[b] > 0 || (std::isnan(r.target_mean) && std::isnan(r.target_median)));
            FUZZ_CHECK(!(r.target_p25 > r.target_median) && !(r.target_median > r.target_p75));
        }
    }
}

// Clean cut vectors and ascending ones that repeat values (which assign_bins
// accepts, a signed zero next to an unsigned one too), over short inputs and
// inputs long enough for the blocked search.
void fuzz_assign_bins(Reader& in) {
    const uint8_t mode = in.byte();
    const std::vector<double> cuts = clean_cuts(in.reals(in.size(600)), mode & 1);
    bins_of(sample(in, mode & 2, 2048, 20000), cuts);
}

// Cuts drawn from the data populate the bins; long inputs reach the sampled medians.
void fuzz_summaries(Reader& in) {
    const uint8_t mode = in.byte();
    const SummaryStatistic stat = mode & 1 ? SummaryStatistic::Mean : SummaryStatistic::Median;
    const std::vector<double> x =
        mode >= 224 ? synthesise(in, 38000 + in.size(6000)) : in.reals(in.size(1024));
    const bool drawn = mode & 4 && !x.empty();
    std::vector<double> cuts = drawn ? std::vector<double>(in.size(400)) : in.reals(in.size(64));
    for (double& c : cuts) c = drawn ? x[(in.u64() >> 3) % x.size()] : c;
    cuts = clean_cuts(cuts);
    if (mode & 8) {
        std::vector<double> y(x.size());
        for (double& v : y) v = mode & 16 ? static_cast<double>(in.byte() % 4) : in.real();
        check_summary(summarize_continuous(x.data(), y.data(), x.size(), cuts, stat), x, y, cuts);
        return;
    }
    std::vector<int> y(x.size());
    for (int& v : y) v = mode & 16 ? static_cast<int>(in.byte() & 1) : in.label();
    const bool labels_ok = std::all_of(y.begin(), y.end(), [](int v) { return v == 0 || v == 1; });
    const auto rows = guarded(labels_ok ? nullptr : "binning: y debe contener solo 0 y 1", [&] {
        return summarize_binary(x.data(), y.data(), x.size(), cuts, stat);
    });
    if (rows) check_summary(*rows, x, y, cuts);
}

// PSI and KS on arbitrary samples, cuts and floors: the failures in their
// order, counts of a plain binning, proportions and cumulative columns, each
// PSI term as defined.
void fuzz_distribution(Reader& in) {
    const uint8_t mode = in.byte();
    static const double floors[] = {1e-12,  1e-6, 0.5,  1.0,      0.0,
                                    -1e-12, kNaN, kInf, 4.9e-324, 2.2250738585072014e-308};
    const uint8_t e = in.byte();
    const double epsilon = e < 128 ? 1e-12 : e < 200 ? floors[e % 10] : in.real();
    const std::vector<double> raw = in.reals(in.size(64)), cuts = mode & 1 ? clean_cuts(raw) : raw;
    const std::vector<double> ref = sample(in, mode & 2, 1024, 20000);
    const std::vector<double> cur = sample(in, mode & 4, 1024, 20000);
    const char* expected =
        ref.empty() || cur.empty() || !(epsilon > 0.0) || !finite_value(epsilon)
            ? "compare_distributions: muestras vacías o epsilon inválido"
        : all_finite(cuts) && increasing(cuts)
            ? nullptr
            : "compare_distributions: splits deben ser finitos, crecientes y únicos";
    const auto result = guarded(expected, [&] {
        return compare_distributions(ref.data(), ref.size(), cur.data(), cur.size(), cuts, epsilon);
    });
    if (!result) return;
    const std::size_t k = cuts.size();
    std::vector<int64_t> count_ref(k + 2, 0), count_cur(k + 2, 0);
    for (std::size_t b : bins_of(ref, cuts)) ++count_ref[b];
    for (std::size_t b : bins_of(cur, cuts)) ++count_cur[b];
    const std::vector<PsiBin>& bins = result->bins;
    FUZZ_CHECK(bins.size() == k + 1 + (count_ref[k + 1] > 0 || count_cur[k + 1] > 0 ? 1 : 0));
    double cum_ref = 0.0, cum_cur = 0.0, psi = 0.0, ks = 0.0;
    for (std::size_t b = 0; b < bins.size(); ++b) {
        const PsiBin& r = bins[b];
        const double p_ref = fraction(count_ref[b], ref.size()),
                     p_cur = fraction(count_cur[b], cur.size());
        cum_ref += p_ref, cum_cur += p_cur;
        const double term =
            (p_ref - p_cur) * std::log(std::max(epsilon, p_ref) / std::max(epsilon, p_cur));
        FUZZ_CHECK(r.count_reference == count_ref[b] && r.count_current == count_cur[b] &&
                   same(r.proportion_reference, p_ref) && same(r.proportion_current, p_cur) &&
                   same(r.cumulative_reference, cum_ref) && same(r.cumulative_current, cum_cur));
        // A term is never negative; it stays finite unless the floor is so
        // small that the ratio of the floored shares overflows.
        FUZZ_CHECK(same(r.psi_bin, term) && term >= 0.0 &&
                   (epsilon < std::numeric_limits<double>::min() || finite_value(term)));
        psi += term;
        ks = std::max(ks, std::fabs(cum_ref - cum_cur));
    }
    FUZZ_CHECK(same(result->psi, psi) && same(result->ks, ks) && ks <= 1.0 + 1e-9);
}

// --------------------------------------------------------- cut generators

double unit_bound(Reader& in) {
    const uint8_t b = in.byte();
    return b < 160 ? static_cast<double>(b % 21) / 20.0 : in.real();
}

// Equal-width cuts over the full, quantile and IQR ranges, quantile cuts
// (also where order statistics come from value buckets, and among mostly
// missing values), and normalize_splits: the failures in their order, then
// finite increasing cuts, fewer than the bins asked for; quantile cuts lie
// in [min, max) of the data, normalised ones are the input sorted with
// repeats merged (-0.0 and 0.0 being one value).
void fuzz_splits(Reader& in) {
    const uint8_t mode = in.byte();
    std::size_t n_bins = in.size(5000);
    if (mode & 8) n_bins = 1 + in.size(2000);
    std::vector<double> x = mode >= 224
                                ? synthesise(in, (mode >= 248 ? 170000 : 38000) + in.size(6000))
                                : in.reals(in.size(2048));
    for (std::size_t i = 0; i < x.size() && mode >= 248; ++i) x[i] = i % 5 == 0 ? x[i] : kNaN;
    const std::vector<double> s = clean_cuts(x, false);
    const char* expected = n_bins == 0 ? "binning: n_bins debe ser al menos 1"
                           : s.empty() ? "binning: x no contiene valores finitos"
                                       : nullptr;
    std::optional<std::vector<double>> cuts;
    if (mode % 4 < 2) {
        const WidthRange range = static_cast<WidthRange>(in.byte() % 3);
        const double lq = unit_bound(in), uq = unit_bound(in);
        const uint8_t kb = in.byte();
        const double k = kb < 160 ? static_cast<double>(kb % 8) / 2.0 : in.real();
        if (!expected && range == WidthRange::Quantile && !(lq >= 0.0 && lq < uq && uq <= 1.0)) {
            expected = "binning: lower_quantile debe ser menor que upper_quantile";
        } else if (!expected && range == WidthRange::Iqr && !(finite_value(k) && k >= 0.0)) {
            expected = "binning: k debe ser finito y no negativo";
        }
        cuts = guarded(expected, [&] {
            return equal_width_splits(x.data(), x.size(), n_bins, range, lq, uq, k);
        });
    } else if (mode % 4 == 2) {
        cuts = guarded(expected, [&] { return quantile_splits(x.data(), x.size(), n_bins); });
        if (cuts && !cuts->empty())
            FUZZ_CHECK(cuts->front() >= s.front() && cuts->back() < s.back());
    } else {
        cuts = guarded(all_finite(x) ? nullptr : "binning: los puntos de corte deben ser finitos",
                       [&] { return normalize_splits(x.data(), x.size()); });
        const std::vector<double> want = clean_cuts(x);
        if (cuts) FUZZ_CHECK(std::equal(cuts->begin(), cuts->end(), want.begin(), want.end()));
    }
    if (cuts)
        FUZZ_CHECK(all_finite(*cuts) && increasing(*cuts) &&
                   (mode % 4 == 3 || cuts->size() < n_bins));
}

// ----------------------------------------------------------------- counts

// Rows counted by value against a plain map of each value's rows by class
// (both zeros one value, 0.0), with the rows whose x is NaN; then the pre-bins
// of those rows (refused for a label other than 0 and 1) hold what the map
// gives for their intervals, and a median summary read through the counts'
// index is the one read value by value. Large inputs give tens of thousands
// of values: several blocks of the merge and many strides of the index.
void fuzz_counts(Reader& in) {
    const uint8_t mode = in.byte();
    const bool large = mode & 1;
    const std::vector<double> x = sample(in, large, 600, 90000);
    std::vector<int32_t> y(x.size());
    uint64_t state = in.u64();
    const unsigned event_per_256 = in.byte();
    for (int32_t& label : y) {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        label = large ? static_cast<int32_t>((state >> 56) < event_per_256) : in.label();
    }
    std::map<double, std::pair<int64_t, int64_t>> want;
    int64_t missing[2] = {0, 0};
    bool binary = true;
    for (std::size_t i = 0; i < x.size(); ++i) {
        const bool one = y[i] != 0;
        binary = binary && (y[i] == 0 || y[i] == 1);
        if (std::isnan(x[i])) {
            ++missing[one];
            continue;
        }
        auto& rows = want[x[i] == 0.0 ? 0.0 : x[i]];
        ++(one ? rows.second : rows.first);
    }
    const ValueCounts counts = count_values(x.data(), y.data(), x.size());
    FUZZ_CHECK(counts.value.size() == want.size());
    std::size_t j = 0;
    for (const auto& [value, rows] : want) {
        FUZZ_CHECK(same(counts.value[j], value) && counts.c0[j] == rows.first &&
                   counts.c1[j] == rows.second);
        ++j;
    }
    const std::size_t n_prebins = in.size(60);
    const std::size_t max_parts = in.size(70);
    const double min_share = static_cast<double>(in.byte() % 11) / 100.0;
    const char* expected = !binary                 ? "counted_prebins: labels must be 0 or 1"
                           : n_prebins == 0        ? "binning: n_bins debe ser al menos 1"
                           : clean_cuts(x).empty() ? "binning: x no contiene valores finitos"
                                                   : nullptr;
    const auto got = guarded(expected, [&] {
        return counted_prebins(x.data(), y.data(), x.size(), n_prebins, max_parts, min_share);
    });
    if (!got) return;
    FUZZ_CHECK(same(got->counts.value, counts.value) && got->counts.c0 == counts.c0 &&
               got->counts.c1 == counts.c1);
    FUZZ_CHECK(got->missing_c0 == missing[0] && got->missing_c1 == missing[1]);
    std::vector<double> splits;
    for (const BinningSummary& bin : got->prebins) {
        // The first interval holds -inf, the last +inf.
        const bool first = splits.empty();
        int64_t c0 = 0, c1 = 0;
        for (const auto& [value, rows] : want) {
            if ((first || value > bin.left) && value <= bin.right)
                c0 += rows.first, c1 += rows.second;
        }
        FUZZ_CHECK(bin.c0 == static_cast<std::size_t>(c0) &&
                   bin.c1 == static_cast<std::size_t>(c1));
        if (finite_value(bin.right)) splits.push_back(bin.right);
    }
    FUZZ_CHECK(increasing(splits));
    // Cut points from the data's own values, a few of them at random.
    std::vector<double> cuts;
    for (std::size_t k = in.size(12); k > 0 && !counts.value.empty(); --k) {
        cuts.push_back(counts.value[static_cast<std::size_t>(in.u64() % counts.value.size())]);
    }
    cuts = clean_cuts(cuts);
    const std::vector<BinningSummary> by_index = summarize_binary_from_indexed_counts(
        counts.value.data(), counts.c0.data(), counts.c1.data(), counts.value.size(),
        got->index_c0.data(), got->index_c1.data(), got->index_c0.size(), missing[0], missing[1],
        cuts);
    const std::vector<BinningSummary> by_value = summarize_binary_from_counts(
        counts, missing[0], missing[1], cuts, SummaryStatistic::Median);
    FUZZ_CHECK(by_index.size() == by_value.size());
    for (std::size_t b = 0; b < by_index.size(); ++b) {
        const BinningSummary &p = by_index[b], &q = by_value[b];
        FUZZ_CHECK(same(p.left, q.left) && same(p.right, q.right) && p.count == q.count &&
                   same(p.percentage, q.percentage) && p.c0 == q.c0 && p.c1 == q.c1 &&
                   same(p.event_rate, q.event_rate) && same(p.representative, q.representative));
    }
}

// ----------------------------------------------------------------- scores

// Records with a NaN score leave before their label is looked at; then one
// point per distinct score, ascending, with shares that climb to (1, 1), and
// an AUC equal to the pair-counting definition (an event above a non-event,
// ties one half).
void fuzz_lorenz(Reader& in) {
    const uint8_t mode = in.byte();
    const std::vector<double> x =
        mode & 1 ? synthesise(in, in.size(6000)) : in.reals(in.size(1024));
    std::vector<int> y(x.size());
    for (int& v : y) v = mode & 2 ? static_cast<int>(in.byte() & 1) : in.label();
    std::vector<std::pair<double, int>> kept;
    bool bad_label = false;
    double n[2] = {0.0, 0.0};
    for (std::size_t i = 0; i < x.size(); ++i) {
        if (std::isnan(x[i])) continue;
        bad_label |= y[i] != 0 && y[i] != 1;
        kept.emplace_back(x[i], y[i] != 0);
        n[y[i] != 0] += 1.0;
    }
    const auto curve =
        guarded(bad_label                    ? "lorenz_curve: y debe contener solo 0 y 1"
                : n[0] == 0.0 || n[1] == 0.0 ? "lorenz_curve: se necesitan ambas clases"
                                             : nullptr,
                [&] { return lorenz_curve(x.data(), y.data(), x.size()); });
    if (!curve) return;
    // Each point carries the score of its group's first record in input order
    // (-0.0 and 0.0 are one score).
    std::stable_sort(kept.begin(), kept.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    const std::vector<LorenzPoint>& points = curve->points;
    std::size_t group = 0;
    double c[2] = {0.0, 0.0}, above = 0.0;
    for (std::size_t i = 0, j = 0; i < kept.size(); i = j, ++group) {
        double g[2] = {0.0, 0.0};
        for (; j < kept.size() && kept[j].first == kept[i].first; ++j) g[kept[j].second] += 1.0;
        // Its events score above the non-events of earlier groups and tie with those of their own.
        above += g[1] * (c[0] + 0.5 * g[0]);
        c[0] += g[0], c[1] += g[1];
        FUZZ_CHECK(group < points.size());
        const LorenzPoint& p = points[group];
        FUZZ_CHECK(same(p.value, kept[i].first) && same(p.cumulative_non_event, c[0] / n[0]) &&
                   same(p.cumulative_event, c[1] / n[1]));
        FUZZ_CHECK(group == 0 ||
                   (p.value > points[group - 1].value &&
                    p.cumulative_non_event >= points[group - 1].cumulative_non_event &&
                    p.cumulative_event >= points[group - 1].cumulative_event));
    }
    FUZZ_CHECK(group == points.size() && points.back().cumulative_non_event == 1.0 &&
               points.back().cumulative_event == 1.0);
    FUZZ_CHECK(std::fabs(curve->auc - above / (n[0] * n[1])) <= 1e-9 && curve->auc >= -1e-12 &&
               curve->auc <= 1.0 + 1e-12);
    FUZZ_CHECK(same(curve->gini, (curve->auc + curve->auc) - 1.0));
}

// Aggregation: each row's weights against the column values, standardised
// (sample deviation) when asked and the rows are not all equal.
void check_aggregate(const std::vector<double>& m, std::size_t n, std::size_t k,
                     const std::vector<double>& values, bool standardize) {
    const auto s = guarded(k == 0 ? "aggregate_membership: k debe ser positivo" : nullptr, [&] {
        return aggregate_membership(m.data(), n, k, values.data(), standardize);
    });
    if (!s) return;
    std::vector<double> want(n, 0.0);
    for (std::size_t i = 0; i < n; ++i)
        want[i] = std::inner_product(m.data() + i * k, m.data() + (i + 1) * k, values.data(), 0.0);
    const double mean = std::accumulate(want.begin(), want.end(), 0.0) / static_cast<double>(n);
    const double squares = std::accumulate(want.begin(), want.end(), 0.0, [&](double a, double v) {
        return a + (v - mean) * (v - mean);
    });
    const double sd = n < 2 ? 0.0 : std::sqrt(squares / static_cast<double>(n - 1));
    for (double& v : want) v = standardize && sd > 0.0 ? (v - mean) / sd : v;
    FUZZ_CHECK(same(*s, want));
}

// Membership rows each sum to 1 with one weight or two on the adjacent
// representatives around the value (NaN has its own column); aggregation of
// those rows and of arbitrary matrices.
void fuzz_membership(Reader& in) {
    const uint8_t mode = in.byte();
    if (mode & 2) {
        const std::size_t n = in.size(200), k = in.size(16);
        const std::vector<double> m = in.reals(n * k);
        check_aggregate(m, n, k, in.reals(k), mode & 1);
        return;
    }
    const std::vector<double> raw = in.reals(in.size(40)), reps = mode & 4 ? clean_cuts(raw) : raw;
    const std::vector<double> x = sample(in, mode & 8, 1024, 5000);
    const std::size_t k = reps.size();
    const auto m = guarded(
        k == 0                       ? "membership: faltan representantes"
        : k > 1 && !increasing(reps) ? "membership: representantes deben ser crecientes y únicos"
        : k > 1 && !all_finite(reps) ? "membership: representantes deben ser finitos"
                                     : nullptr,
        [&] { return membership_matrix(x.data(), x.size(), reps.data(), k); });
    if (!m) return;
    FUZZ_CHECK(m->size() == x.size() * (k + 1));
    for (std::size_t i = 0; i < x.size(); ++i) {
        const double* row = m->data() + i * (k + 1);
        if (std::isnan(x[i])) {
            FUZZ_CHECK(std::all_of(row, row + k, [](double w) { return w == 0.0; }) &&
                       row[k] == 1.0);
            continue;
        }
        std::size_t first = k, last = 0;
        for (std::size_t j = 0; j < k; ++j) {
            FUZZ_CHECK(row[j] >= 0.0 && row[j] <= 1.0);
            if (row[j] != 0.0) first = std::min(first, j), last = std::max(last, j);
        }
        FUZZ_CHECK(row[k] == 0.0 && first < k && last - first <= 1 &&
                   std::fabs(std::accumulate(row, row + k, 0.0) - 1.0) <= 1e-12);
        if (k > 1) {
            FUZZ_CHECK(last == first || (reps[first] < x[i] && x[i] < reps[last]));
            FUZZ_CHECK((x[i] > reps[0] || row[0] == 1.0) &&
                       (x[i] < reps[k - 1] || row[k - 1] == 1.0));
        }
    }
    // Against one value per column, tamed to modest finite values when asked.
    std::vector<double> values = in.reals(k + 1);
    for (double& v : values) v = mode & 16 ? (finite_value(v) ? std::fmod(v, 1e6) : 1.0) : v;
    check_aggregate(*m, x.size(), k + 1, values, mode & 1);
}

// -------------------------------------------------------------- supervised

bool same_split(const SplitResult& a, const SplitResult& b) {
    return a.found == b.found && a.has_candidate == b.has_candidate && a.idx == b.idx &&
           same(a.pto, b.pto) && same(a.gain, b.gain) && same(a.cost_pos, b.cost_pos) &&
           same(a.cost_struct, b.cost_struct) && same(a.cost, b.cost);
}

// A candidate lies at an inner row of the segment L..R and carries that
// row's cut; without a candidate every figure keeps its empty value.
bool sound(const SplitResult& r, const std::vector<Boundary>& B, std::size_t L, std::size_t R) {
    return r.has_candidate
               ? r.idx > L && r.idx < R && R < B.size() && same(r.pto, B[r.idx].pto_corte)
               : same_split(r, SplitResult{});
}

bool same_log(const std::vector<SplitResult>& a, const std::vector<SplitResult>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), same_split);
}

// make_segment and evaluate_segment on arbitrary tables (any cut values,
// counts that fall or reach the ends of int64, any L and R): never a failure
// nor a fault, a candidate only at an inner row of a real segment. (The
// criterion's values are re-derived by the search's unit tests.)
void fuzz_segment(Reader& in) {
    const uint8_t mode = in.byte();
    TessalineParams p;
    p.alpha_pos = mode & 1 ? in.real() : 1.0;
    p.beta_struct = mode & 2 ? in.real() : 1.0;
    p.minobs = in.integer();
    p.monotonicity = in.byte() % 4;
    const uint8_t d = in.byte();
    p.mono_dir = d < 200 ? static_cast<int>(d % 3) - 1 : static_cast<int32_t>(in.integer());
    // Cumulative counts that mostly rise by a few records (the real shape of
    // a table), or anything at all.
    std::vector<Boundary> B(in.size(300));
    const bool wild = mode & 4;
    int64_t c0 = 0, c1 = 0;
    for (Boundary& b : B) {
        b.pto_corte = in.real();
        const uint8_t step = wild ? 0 : in.byte();
        b.c0 = wild ? in.integer() : (c0 += step & 7);
        b.c1 = wild ? in.integer() : (c1 += (step >> 3) & 7);
    }
    std::size_t L = in.size(B.size() + 2), R = in.size(B.size() + 2);
    if (mode & 8 && !B.empty()) L = 0, R = B.size() - 1;
    if (mode & 16) R = std::numeric_limits<std::size_t>::max() - (mode >> 5);
    const Segment s = make_segment(B, L, R);
    const bool inside = L < R && R < B.size();
    FUZZ_CHECK(s.L == L && s.R == R && s.c0_start == (inside ? B[L].c0 : 0) &&
               s.c1_start == (inside ? B[L].c1 : 0));
    FUZZ_CHECK(inside || (s.c0_seg == 0 && s.c1_seg == 0));
    const SplitResult r = evaluate_segment(B, s, p);
    FUZZ_CHECK(sound(r, B, L, R) && (!r.has_candidate || r.found == (r.gain > r.cost)));
    // On a real table the gain is an entropy difference in [0, 1].
    FUZZ_CHECK(wild || !r.has_candidate || (r.gain >= -1e-12 && r.gain <= 1.0 + 1e-12));
}

// The boundary table of a view, whatever the view holds: sentinel rows,
// cumulative counts that rise by one record at least per row, the totals at
// the end, and a row exactly where both value and label change.
void check_table(const SortedView& v, const std::vector<Boundary>& B) {
    FUZZ_CHECK(v.n == 0 ? B.empty() : B.size() >= 2 && B.size() <= v.n + 1);
    if (v.n == 0) return;
    FUZZ_CHECK(same(B.front().pto_corte, v.x[0]) && B.front().c0 == 0 && B.front().c1 == 0);
    int64_t c[2] = {0, 0};
    std::size_t row = 1;
    for (std::size_t i = 0; i < v.n; ++i) {
        if (i > 0 && v.x[i] != v.x[i - 1] && v.y[i] != v.y[i - 1]) {
            FUZZ_CHECK(row + 1 < B.size() && B[row].c0 == c[0] && B[row].c1 == c[1]);
            ++row;
        }
        ++c[v.y[i] != 0];
    }
    FUZZ_CHECK(row + 1 == B.size() && same(B.back().pto_corte, v.x[v.n - 1]) &&
               B.back().c0 == c[0] && B.back().c1 == c[1]);
    for (std::size_t i = 1; i < B.size(); ++i)
        FUZZ_CHECK(B[i].c0 >= B[i - 1].c0 && B[i].c1 >= B[i - 1].c1 &&
                   B[i].c0 + B[i].c1 > B[i - 1].c0 + B[i - 1].c1);
}

// The split log of a table: the root first, evaluated as a whole (a forced
// first split accepts its candidate), candidates at inner rows, and at most
// two more evaluations for every accepted split.
void check_log(const std::vector<Boundary>& B, const TessalineParams& p,
               const std::vector<SplitResult>& log) {
    FUZZ_CHECK(log.empty() == (B.size() <= 2));
    if (log.empty()) return;
    SplitResult root = evaluate_segment(B, make_segment(B, 0, B.size() - 1), p);
    root.found |= p.force_first_split && log.size() == 1 && root.has_candidate;
    FUZZ_CHECK(same_split(root, log[0]));
    std::size_t accepted = 0;
    for (const SplitResult& r : log) {
        FUZZ_CHECK(sound(r, B, 0, B.size() - 1));
        accepted += r.found ? 1 : 0;
    }
    FUZZ_CHECK(log.size() <= 2 * accepted + 1);
}

// Intervals from -inf to +inf, each starting where the previous one ends,
// counts adding up to the table's totals.
void check_intervals(const std::vector<SummaryInterval>& s, const std::vector<Boundary>& B) {
    FUZZ_CHECK(s.empty() == B.empty());
    if (s.empty()) return;
    FUZZ_CHECK(s.front().left == -kInf && s.back().right == kInf);
    int64_t c0 = 0, c1 = 0;
    for (std::size_t i = 0; i < s.size(); ++i) {
        const double p1 =
            s[i].total > 0 ? static_cast<double>(s[i].c1) / static_cast<double>(s[i].total) : 0.0;
        FUZZ_CHECK((i == 0 || same(s[i].left, s[i - 1].right)) && s[i].total == s[i].c0 + s[i].c1 &&
                   same(s[i].p1, p1));
        c0 += s[i].c0, c1 += s[i].c1;
    }
    FUZZ_CHECK(c0 == B.back().c0 && c1 == B.back().c1);
}

// Every function that takes a view, on that view: its table, its log (the
// same from each entry point) and the intervals of the full fit.
std::vector<Boundary> check_view(const SortedView& view, const TessalineParams& p,
                                 std::vector<SplitResult>& log, MdlpFullResult& full) {
    const std::vector<Boundary> B = compute_boundaries(view);
    check_table(view, B);
    log = compute_splits(B, p);
    check_log(B, p, log);
    full = mdlp_full(view, p);
    FUZZ_CHECK(same_log(log, mdlp(view, p)) && same_log(log, full.mdlp));
    check_intervals(full.summary, B);
    return B;
}

// Raw rows through preprocessing: every row in one class, the kept ones
// finite and sorted by (x, label) with labels 0/1, the threshold 0 for a
// binary target, the given value, or else within the kept targets, the
// missing-x records split by label (their exact rules and the classes are
// worked through by the unit tests); then through every supervised entry
// point: the raw ones fail exactly when preprocessing does and otherwise
// agree with those on the prepared view.
void check_pipeline(const std::vector<double>& x, const std::vector<double>& y,
                    std::optional<double> value, double percentile, const TessalineParams& p,
                    SummaryStatistic stat) {
    const std::size_t n = x.size();
    std::vector<double> y_kept;
    for (std::size_t i = 0; i < n; ++i)
        if (finite_value(x[i]) && finite_value(y[i])) y_kept.push_back(y[i]);
    const bool binary =
        std::all_of(y_kept.begin(), y_kept.end(), [](double v) { return v == 0.0 || v == 1.0; });
    const bool bad_percentile = !binary && !value && !(percentile >= 0.0 && percentile <= 100.0);
    const char* expected =
        bad_percentile ? "preprocess_data: percentile debe estar entre 0 y 100" : nullptr;
    const auto r = guarded(
        expected, [&] { return preprocess_data(x.data(), y.data(), n, value, percentile); });
    const auto raw_table = guarded(expected, [&] {
        return compute_boundaries_from_raw(x.data(), y.data(), n, value, percentile);
    });
    const auto raw_log = guarded(
        expected, [&] { return fit_mdlp_from_raw(x.data(), y.data(), n, p, value, percentile); });
    const auto raw_full = guarded(expected, [&] {
        return fit_mdlp_full_from_raw(x.data(), y.data(), n, p, value, percentile, stat);
    });
    if (!r) return;
    FUZZ_CHECK(r->n_input == n && r->n_used == y_kept.size() && r->x.size() == y_kept.size() &&
               r->y.size() == y_kept.size() &&
               r->n_used + r->n_missing_x + r->n_missing_y + r->n_missing_both + r->n_non_finite ==
                   n &&
               r->target_was_binary == binary);
    const auto [lo, hi] = std::minmax_element(y_kept.begin(), y_kept.end());
    const double t = r->threshold;
    FUZZ_CHECK(binary ? t == 0.0 : value ? same(t, *value) : *lo <= t && t <= *hi);
    FUZZ_CHECK(r->missing_count == r->missing_c0 + r->missing_c1 &&
               r->missing_count <= r->n_missing_x);
    for (std::size_t i = 0; i < r->x.size(); ++i) {
        FUZZ_CHECK((r->y[i] == 0 || r->y[i] == 1) &&
                   (i == 0 || r->x[i - 1] < r->x[i] ||
                    (r->x[i - 1] == r->x[i] && r->y[i - 1] <= r->y[i])));
    }

    const SortedView view{r->x.data(), r->y.data(), r->x.size()};
    std::vector<SplitResult> log;
    MdlpFullResult full;
    const std::vector<Boundary> B = check_view(view, p, log, full);
    FUZZ_CHECK(std::equal(B.begin(), B.end(), raw_table->begin(), raw_table->end(),
                          [](const Boundary& a, const Boundary& b) {
                              return same(a.pto_corte, b.pto_corte) && a.c0 == b.c0 && a.c1 == b.c1;
                          }));
    // On prepared data every inner cut separates its two values (lower <= cut
    // < upper), and it is their midpoint whenever that does.
    for (std::size_t row = 1; row + 1 < B.size(); ++row) {
        const std::size_t i = static_cast<std::size_t>(B[row].c0 + B[row].c1);
        FUZZ_CHECK(i >= 1 && i < view.n && B[row].pto_corte >= B[row - 1].pto_corte);
        const double lower = view.x[i - 1], upper = view.x[i], cut = B[row].pto_corte,
                     mid = (lower + upper) * 0.5;
        FUZZ_CHECK(finite_value(cut) && lower <= cut && cut < upper &&
                   (!(lower < mid && mid < upper) || same(cut, mid)));
    }
    const MdlpFullRawResult& f = *raw_full;
    FUZZ_CHECK(same_log(log, *raw_log) && same_log(log, f.mdlp) &&
               f.intervals.size() == full.summary.size());
    check_intervals(f.intervals, B);
    // The intervals ascend, and each holds exactly the records left < x <= right.
    std::size_t start = 0;
    for (const SummaryInterval& s : full.summary) {
        std::size_t end = start;
        while (end < view.n && view.x[end] <= s.right) ++end;
        FUZZ_CHECK(s.left < s.right && static_cast<int64_t>(end - start) == s.total &&
                   (start == end || view.x[start] > s.left));
        start = end;
    }
    // The raw summary is the binary summary of the prepared records over the
    // intervals' cuts, the missing-x records (with their labels) as NaN;
    // without records there are no intervals, and at most the missing-x row.
    std::vector<double> xs(r->x), cuts;
    std::vector<int> ys(r->y.begin(), r->y.end());
    xs.resize(xs.size() + r->missing_count, kNaN);
    ys.resize(ys.size() + r->missing_c0, 0);
    ys.resize(ys.size() + r->missing_c1, 1);
    for (std::size_t i = 0; i + 1 < f.intervals.size(); ++i) cuts.push_back(f.intervals[i].right);
    if (!f.intervals.empty()) check_summary(f.summary, xs, ys, cuts);
    FUZZ_CHECK(!f.intervals.empty() || f.summary.size() == (r->missing_count > 0 ? 1 : 0));
    FUZZ_CHECK(!f.intervals.empty() || f.summary.empty() ||
               (f.summary[0].count == r->missing_count && f.summary[0].c0 == r->missing_c0 &&
                f.summary[0].c1 == r->missing_c1));
    FUZZ_CHECK(f.n_input == n && f.n_used == r->n_used && f.n_missing_x == r->n_missing_x &&
               f.n_missing_y == r->n_missing_y && f.n_missing_both == r->n_missing_both &&
               f.n_non_finite == r->n_non_finite && f.target_was_binary == binary &&
               same(f.threshold, t));
}

// Raw rows: short ones spelled out, or long synthesised ones above the
// radix-sort threshold, whose target is made 0/1 when `binary`.
std::pair<std::vector<double>, std::vector<double>> raw_rows(Reader& in, bool large,
                                                             std::size_t base, std::size_t limit,
                                                             std::size_t short_limit, bool binary) {
    const std::size_t n = large ? base + in.size(limit) : 0;
    std::vector<double> x = large ? synthesise(in, n) : in.reals(in.size(short_limit)),
                        y = large ? synthesise(in, n) : x;
    // Mostly 0/1 targets, so that the binary path is common.
    for (double& v : y)
        v = large    ? (std::isnan(v) || !binary ? v
                        : v > 0                  ? 1.0
                                                 : 0.0)
            : binary ? static_cast<double>(in.label() & 1)
                     : in.real();
    return {x, y};
}

void fuzz_preprocess(Reader& in) {
    const uint8_t mode = in.byte();
    std::optional<double> value;
    if (mode & 1) value = in.real();
    double percentile = in.real();
    if (mode & 2) percentile = static_cast<double>(in.byte() % 101);
    auto [x, y] = raw_rows(in, mode & 4, 400, 4000, 1024, mode & 8);
    if (!(mode & 4) && mode & 16 && !x.empty()) y[in.byte() % x.size()] = in.real();
    check_pipeline(x, y, value, percentile, TessalineParams{}, SummaryStatistic::Median);
}

// Parameters of every kind, odd weights and directions included.
TessalineParams read_params(Reader& in) {
    static const double weights[] = {1.0, 0.0, 0.5, 2.0, -1.0, kNaN, kInf, -kInf, 1e-300};
    static const int32_t dirs[] = {0, 1, -1, 0, 1, -1, INT32_MIN, INT32_MAX};
    TessalineParams p;
    const uint8_t b = in.byte();
    p.alpha_pos = b < 128 ? 1.0 : b < 200 ? weights[b % 9] : in.real();
    const uint8_t c = in.byte();
    p.beta_struct = c < 128 ? 1.0 : c < 200 ? weights[c % 9] : in.real();
    p.minobs = in.integer();
    const uint8_t m = in.byte();
    p.monotonicity = m % 4;
    p.mono_dir = dirs[(m >> 2) % 8];
    p.force_first_split = (m >> 5) & 1;
    return p;
}

// The supervised pipeline on raw rows, and on views over data nobody checked
// (unsorted, NaN, any label), which must still finish with tables and
// intervals that add up.
void fuzz_pipeline(Reader& in) {
    const uint8_t mode = in.byte();
    const TessalineParams p = read_params(in);
    if (mode & 1) {
        std::vector<double> x = in.reals(in.size(512));
        std::vector<int32_t> y(x.size());
        for (int32_t& label : y) label = in.label();
        if (mode & 2) std::sort(x.begin(), x.end());  // NaN makes this order partial
        std::vector<SplitResult> log;
        MdlpFullResult full;
        check_view(SortedView{x.data(), y.data(), x.size()}, p, log, full);
        return;
    }
    std::optional<double> value;
    if (mode & 2) value = in.real();
    const double percentile = mode & 4 ? in.real() : static_cast<double>(in.byte() % 101);
    const SummaryStatistic stat = mode & 8 ? SummaryStatistic::Mean : SummaryStatistic::Median;
    const bool large = mode & 16;
    const auto [x, y] = raw_rows(in, large, 500, 3000, 512, large == bool(mode & 32));
    check_pipeline(x, y, value, percentile, p, stat);
}

}  // namespace fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    fuzz::Reader in(data, size);
    fuzz::FUZZ_ENTRY(in);
    return 0;
}
