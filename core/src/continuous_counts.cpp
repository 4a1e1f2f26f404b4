// Rows of a continuous target summed by distinct value, weighted quantile
// pre-bins, per-interval sums and the columns of a table of such rows.
//
// The sums per value and per interval are exact sums rounded once
// (exact_sum.hpp): they do not depend on the order of the rows, so a row of
// integer weight k counts exactly as k copies of it, and parts of a data set
// summed apart agree with one pass over it.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <sstream>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "exact_sum.hpp"
#include "large_buffer.hpp"
#include "numeric.hpp"
#include "sort_rows.hpp"
#include "tessaline/recycled_vectors.hpp"
#include "tessaline/tessaline.hpp"

namespace tessaline {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

std::string shown(double v) {
    std::ostringstream out;
    out.precision(17);
    out << v;
    return out.str();
}

// sum w*(y - mean)^2 of rows whose exact sums are W, S and Q. When Q - S m
// (m = S / W, all rounded) keeps at least a quarter of Q, it is good to a
// few units in the last place. Otherwise (a target far from zero, whose
// spread cancels away there) it is the exact sum Q - 2 m S + m^2 W, less
// the part (S - m W)^2 / W that m's rounding adds: nothing cancels before
// the one rounding. Either way it depends on the exact sums alone, not on
// how they were split into partials or terms.
//
// quick_centred is the first case alone, from the rounded sums: NaN where it
// does not hold.
double quick_centred(double weight, double total, double sum_sq) {
    if (!(weight > 0.0)) return 0.0;
    const double quick = sum_sq - total * (total / weight);
    return quick >= 0.25 * sum_sq ? quick : kNaN;
}

// Terms whose exact sum is one of the sums: an expansion's partials or a
// running sum's terms.
struct Terms {
    const double* data;
    std::size_t size;
};

Terms terms_of(const ExactSum& sum) {
    return {sum.partials().data(), sum.partials().size()};
}

// Hands the terms of Q - 2 m S + m^2 W to about(t) and those of S - m W to
// off(t), each product as its rounded value and its error; m^2 is
// m_sq + m_sq_error exactly.
template <typename About, typename Off>
void centred_terms(double m, double m_sq, double m_sq_error, Terms w, Terms s, Terms q, About about,
                   Off off) {
    const auto product = [](double a, double b, auto add) {
        const double p = a * b;
        add(p);
        add(std::fma(a, b, -p));
    };
    // A zero term (the running error of a sum that rounded nowhere, say)
    // adds nothing, nor do its products.
    for (std::size_t i = 0; i < q.size; ++i) {
        if (q.data[i] != 0.0) about(q.data[i]);
    }
    for (std::size_t i = 0; i < s.size; ++i) {
        if (s.data[i] == 0.0) continue;
        off(s.data[i]);
        product(-2.0 * m, s.data[i], about);
    }
    for (std::size_t i = 0; i < w.size; ++i) {
        if (w.data[i] == 0.0) continue;
        product(m_sq, w.data[i], about);
        product(m_sq_error, w.data[i], about);
        product(-m, w.data[i], off);
    }
}

// The terms of a few sums are summed exactly in place on the stack, with no
// expansion to copy or grow; `about` and `off` are scratch for longer ones,
// kept by the caller so that no call allocates. weight, total and sum_sq are
// W, S and Q rounded.
double centred_square_sum(double weight, double total, double sum_sq, Terms w, Terms s, Terms q,
                          ExactSum& about, ExactSum& off) {
    const double quick = quick_centred(weight, total, sum_sq);
    if (!std::isnan(quick)) return quick;
    const double m = total / weight;
    const double m_sq = m * m;
    const double m_sq_error = std::fma(m, m, -m_sq);
    constexpr std::size_t room = 64;
    double spread = 0.0, r = 0.0;
    if (q.size + 2 * s.size + 4 * w.size <= room && s.size + 2 * w.size <= room) {
        double about_terms[room], off_terms[room];
        std::size_t n_about = 0, n_off = 0;
        // Products that are exact have errors of zero, left out too.
        centred_terms(
            m, m_sq, m_sq_error, w, s, q,
            [&](double t) {
                if (t != 0.0) about_terms[n_about++] = t;
            },
            [&](double t) {
                if (t != 0.0) off_terms[n_off++] = t;
            });
        spread = exact_sum_in_place(about_terms, n_about);
        r = exact_sum_in_place(off_terms, n_off);
    } else {
        about.clear();
        off.clear();
        centred_terms(
            m, m_sq, m_sq_error, w, s, q, [&](double t) { about.add(t); },
            [&](double t) { off.add(t); });
        spread = about.value();
        r = off.value();
    }
    const double dev = spread - r * (r / weight);
    return dev > 0.0 ? dev : 0.0;
}

double centred_square_sum(const ExactSum& w, const ExactSum& s, const ExactSum& q, ExactSum& about,
                          ExactSum& off) {
    return centred_square_sum(w.value(), s.value(), q.value(), terms_of(w), terms_of(s),
                              terms_of(q), about, off);
}

// Sums that a double holds, or the error that names `where`.
// The message is built out of line, so that the test is made in line for
// every value.
[[noreturn]] void refuse_sums(const char* where) {
    throw std::invalid_argument(std::string(where) +
                                ": the weighted sums of the target are too large");
}

inline ContinuousStats checked(const ContinuousStats& s, const char* where) {
    if (!(is_finite(s.weight) && is_finite(s.sum) && is_finite(s.sum_sq) &&
          is_finite(s.sum_sq_dev))) {
        refuse_sums(where);
    }
    return s;
}

// The exact sums of a set of rows, and their count and range. Rows are
// added to running sums (a few plain additions a term); the expansions of
// the sums are made only when a value's spread or partials are read.
struct Accumulator {
    int64_t rows = 0;
    RunningExactSum weight, sum, sum_sq;
    double min = kNaN, max = kNaN;
    // The sums as expansions (totals()), and scratch of centred_square_sum.
    ExactSum weight_total, sum_total, sum_sq_total, about, off;

    void clear() {
        rows = 0;
        weight.clear();
        sum.clear();
        sum_sq.clear();
        min = max = kNaN;
    }
    // w * y and w * y * y exactly: each product as its rounded value and its
    // error (an explicit fused multiply-add), y * y split first.
    void add_row(double w, double y) {
        ++rows;
        weight.add(w);
        add_product(sum, w, y);
        const double sq = y * y;
        add_product(sum_sq, w, sq);
        add_product(sum_sq, w, std::fma(y, y, -sq));
        if (std::isnan(min)) {
            min = max = y;
        } else {
            min = std::min(min, y);
            max = std::max(max, y);
        }
    }
    // A weight of 1 makes the product exact: its error is 0, which leaves a
    // running sum as it is (a sum that starts from 0.0 is never -0.0), so
    // neither the error nor the call that makes it is needed.
    static void add_product(RunningExactSum& to, double a, double b) {
        const double p = a * b;
        to.add_rounding(p);
        if (a != 1.0) to.add_rounding(std::fma(a, b, -p));
    }
    void totals() {
        weight.expansion(weight_total);
        sum.expansion(sum_total);
        sum_sq.expansion(sum_sq_total);
    }
    // The centred sum of squares from the running sums' own terms (copied to
    // the stack where they are few, as they are but for heavy weights), so
    // that no expansion is made; w, s and q are their rounded values.
    double spread_of_sums(double w, double s, double q) {
        constexpr std::size_t room = 8;
        if (weight.n_terms() > room || sum.n_terms() > room || sum_sq.n_terms() > room) {
            totals();
            return centred_square_sum(weight_total, sum_total, sum_sq_total, about, off);
        }
        double wt[room], st[room], qt[room];
        weight.terms(wt);
        sum.terms(st);
        sum_sq.terms(qt);
        return centred_square_sum(w, s, q, {wt, weight.n_terms()}, {st, sum.n_terms()},
                                  {qt, sum_sq.n_terms()}, about, off);
    }
    // The stats of rows added one by one (rows of one y deviate by nothing).
    ContinuousStats row_stats(const char* where) {
        const double w = weight.settled();
        const double s = sum.settled();
        const double q = sum_sq.settled();
        double dev = 0.0;
        if (rows > 0 && min != max) {
            dev = quick_centred(w, s, q);
            if (std::isnan(dev)) dev = spread_of_sums(w, s, q);
        }
        return checked({rows, w, s, q, dev, min, max}, where);
    }
};

[[noreturn]] void refuse_row(const double* y, const double* w, std::size_t i) {
    if (w != nullptr && !(is_finite(w[i]) && w[i] >= 0.0)) {
        throw std::invalid_argument(
            "count_continuous_values: sample_weight must hold finite non-negative weights: row " +
            std::to_string(i) + " holds " + shown(w[i]));
    }
    throw std::invalid_argument(
        "count_continuous_values: y must hold finite numbers or missing values: row " +
        std::to_string(i) + " holds " + shown(y[i]));
}

// A weight finite and not negative, y finite or NaN; the message, built
// apart, names the first fault of the row.
inline void check_row(const double* y, const double* w, std::size_t i) {
    const bool bad_weight = w != nullptr && !(is_finite(w[i]) && w[i] >= 0.0);
    if (bad_weight || (!std::isnan(y[i]) && !is_finite(y[i]))) refuse_row(y, w, i);
}

}  // namespace

namespace {

// A row to count: its value's ordered key and its target (the record's
// payload), with its weight where the rows are weighted. The sort moves the
// rows' own numbers, so the sums read them in order rather than gathering
// them from the columns.
using KeyedRow = KeyedRecord;

struct WeightedKeyedRow {
    uint64_t key;
    double y;
    double w;
};

inline double target_of(const KeyedRow& row) {
    return row.payload;
}
inline double weight_of(const KeyedRow&) {
    return 1.0;
}
inline double target_of(const WeightedKeyedRow& row) {
    return row.y;
}
inline double weight_of(const WeightedKeyedRow& row) {
    return row.w;
}

// The rows left out and the missing values' sums of one count.
struct Counted {
    Accumulator missing;
    int64_t n_missing_target = 0;
    int64_t n_zero_weight = 0;
};

// Calls visit(value, sums) for each distinct value of the n rows sorted by
// key, in ascending order, with the sums of its rows (one accumulator,
// cleared and reused, so that no value allocates); single(value, row) first
// for a value of one row, which it may take itself (true).
template <typename Row, typename Reserve, typename Visit, typename Single>
void sum_by_value(const Row* kept, std::size_t n, Reserve reserve, Visit visit, Single single) {
    std::size_t distinct = 0;
    for (std::size_t k = 0; k < n; ++k) distinct += k == 0 || kept[k].key != kept[k - 1].key;
    reserve(distinct);
    Accumulator a;
    for (std::size_t k = 0; k < n;) {
        const uint64_t key = kept[k].key;
        const bool alone = k + 1 == n || kept[k + 1].key != key;
        if (alone && single(value_of_key(key), kept[k])) {
            ++k;
            continue;
        }
        a.clear();
        for (; k < n && kept[k].key == key; ++k) a.add_row(weight_of(kept[k]), target_of(kept[k]));
        // 0.0 and -0.0 are one value, written 0.0.
        visit(value_of_key(key), a);
    }
}

// Below this many rows the vector quicksort's setup outweighs the bucket sort.
constexpr std::size_t kVectorSortRows = 256;

// The n rows sorted by key, in `rows` or `spare` (room for n). The sums of a
// value are exact, so the order of its rows matters only to its least and
// greatest y, and there only between 0.0 and -0.0, which compare equal: the
// first of them in the rows' order is kept. Rows free of -0.0 take the
// vector quicksort where the processor has it (unweighted rows only: its
// records are a key and one number), which leaves a value's rows in any
// order; the others the bucket sort, which keeps their order: it goes by the
// top bits first, then each bucket in the caches, two passes through memory
// where a digit at a time takes one per digit.
// `any_order` is false where the partials of the sums are read: they are
// exact, but how a sum splits into partials follows the order of its terms.
template <typename Row>
const Row* sorted_rows(Row* rows, std::size_t n, bool any_order) {
    if constexpr (std::is_same_v<Row, KeyedRow>) {
        if (any_order && n >= kVectorSortRows && sort_records_vectorized(rows, n)) return rows;
    }
    // A scratch that a previous count may have left: fresh pages would
    // cost a fault and a zeroed page each.
    Scratch<Row> spare = large_scratch<Row>(n);
    return bucket_sort_records(rows, spare.get(), n);
}

// Files rows [0, n) into `kept`: the rows left out and those whose x is NaN
// are counted in `out`; `make` builds the record of a row kept. Returns the
// number of rows kept.
// `negative_zero` tells whether the target of a row kept is -0.0.
template <typename Row, typename Make>
std::size_t file_rows(const double* x, const double* y, const double* w, std::size_t n, Row* kept,
                      Counted& out, bool& negative_zero, Make make) {
    std::size_t filed = 0;
    bool signed_zero = false;
    for (std::size_t i = 0; i < n; ++i) {
        check_row(y, w, i);
        if (std::isnan(y[i])) {
            ++out.n_missing_target;
        } else if (w != nullptr && w[i] == 0.0) {
            ++out.n_zero_weight;
        } else if (std::isnan(x[i])) {
            out.missing.add_row(w == nullptr ? 1.0 : w[i], y[i]);
        } else {
            signed_zero |= y[i] == 0.0 && std::signbit(y[i]);
            kept[filed++] = make(i);
        }
    }
    negative_zero = signed_zero;
    return filed;
}

// Counts the rows, calling reserve(number of distinct values) once, then
// visit(value, sums) for each distinct value in ascending order with the sums
// of its rows (the results, reserved, are never moved as they grow).
// Only the rounded sums are read where `rounded` holds, so that the rows of a
// value may come in any order.
template <typename Reserve, typename Visit, typename Single>
Counted accumulate(const double* x, const double* y, const double* w, std::size_t n, bool rounded,
                   Reserve reserve, Visit visit, Single single) {
    if (n > 0 && (x == nullptr || y == nullptr)) {
        throw std::invalid_argument("count_continuous_values: missing rows");
    }
    Counted out;
    bool negative_zero = false;
    // The rows are filed in scratch that a previous count may have left. The
    // order of a value's rows does not matter to its sums: they are exact.
    if (w == nullptr) {
        Scratch<KeyedRow> rows = large_scratch<KeyedRow>(n);
        const std::size_t kept =
            file_rows(x, y, w, n, rows.get(), out, negative_zero,
                      [&](std::size_t i) { return KeyedRow{ordered_key(x[i]), y[i]}; });
        sum_by_value(sorted_rows(rows.get(), kept, rounded && !negative_zero), kept, reserve, visit,
                     single);
    } else {
        Scratch<WeightedKeyedRow> rows = large_scratch<WeightedKeyedRow>(n);
        const std::size_t kept = file_rows(
            x, y, w, n, rows.get(), out, negative_zero,
            [&](std::size_t i) { return WeightedKeyedRow{ordered_key(x[i]), y[i], w[i]}; });
        sum_by_value(sorted_rows(rows.get(), kept, rounded && !negative_zero), kept, reserve, visit,
                     single);
    }
    return out;
}

// The sums of one unweighted row are its own numbers: y as it is (0.0 for
// either zero, as a running sum from 0.0 leaves it) and y * y, the exact
// square rounded once where the square is a normal double or 0, which also
// makes them finite. False (the row is summed as any other) otherwise.
inline bool single_row_stats(double y, ContinuousStats& s) {
    const double sq = y * y;
    if (!(sq == 0.0 || std::isnormal(sq))) return false;
    s = ContinuousStats{1, 1.0, 0.0 + y, sq, 0.0, y, y};
    return true;
}

void append_partials(const ExactSum& sum, std::vector<double>& terms,
                     std::vector<int64_t>& offsets) {
    terms.insert(terms.end(), sum.partials().begin(), sum.partials().end());
    offsets.push_back(static_cast<int64_t>(terms.size()));
}

}  // namespace

namespace {

// The rows counted by value into `out`: each value's sums handed to `append`
// (a value of one unweighted row takes its own numbers where they are exact),
// then the rows of missing x and those left out.
template <class Out, class Reserve, class Append>
void count_by_value(Out& out, const double* x, const double* y, const double* w, std::size_t n,
                    Reserve reserve, Append append) {
    const auto visit = [&](double value, Accumulator& a) {
        append(value, a.row_stats("count_continuous_values"));
    };
    const auto single = [&](double value, const auto& row) {
        if constexpr (std::is_same_v<std::decay_t<decltype(row)>, KeyedRow>) {
            ContinuousStats s;
            if (!single_row_stats(target_of(row), s)) return false;
            append(value, s);
            return true;
        }
        return false;
    };
    Counted c = accumulate(x, y, w, n, true, reserve, visit, single);
    out.missing = c.missing.row_stats("count_continuous_values");
    out.n_missing_target = c.n_missing_target;
    out.n_zero_weight = c.n_zero_weight;
}

}  // namespace

ContinuousValueCounts count_continuous_values(const double* x, const double* y, const double* w,
                                              std::size_t n) {
    ContinuousValueCounts out;
    const auto reserve = [&](std::size_t k) {
        out.value.reserve(k);
        out.stats.reserve(k);
    };
    count_by_value(out, x, y, w, n, reserve, [&](double value, const ContinuousStats& s) {
        out.value.push_back(value);
        out.stats.push_back(s);
    });
    return out;
}

ContinuousCountColumns count_continuous_columns(const double* x, const double* y, const double* w,
                                                std::size_t n) {
    ContinuousCountColumns out;
    // A column of many values costs a fault and a zeroed page per fresh page:
    // the columns of an earlier count, once freed, are taken again where
    // there are any of about this size (refits, the repeats of a benchmark),
    // else fresh ones on large pages.
    const auto reserve = [&](std::size_t k) {
        reserve_recycled(out.value, k);
        reserve_recycled(out.rows, k);
        reserve_recycled(out.weight, k);
        reserve_recycled(out.sum, k);
        reserve_recycled(out.sum_sq, k);
        reserve_recycled(out.sum_sq_dev, k);
        reserve_recycled(out.min, k);
        reserve_recycled(out.max, k);
    };
    count_by_value(out, x, y, w, n, reserve, [&](double value, const ContinuousStats& s) {
        out.value.push_back(value);
        out.rows.push_back(s.rows);
        out.weight.push_back(s.weight);
        out.sum.push_back(s.sum);
        out.sum_sq.push_back(s.sum_sq);
        out.sum_sq_dev.push_back(s.sum_sq_dev);
        out.min.push_back(s.min);
        out.max.push_back(s.max);
    });
    return out;
}

ContinuousPartials count_continuous_partials(const double* x, const double* y, const double* w,
                                             std::size_t n) {
    ContinuousPartials out;
    out.weight_offset.push_back(0);
    out.sum_offset.push_back(0);
    out.sum_sq_offset.push_back(0);
    const auto append = [&](double value, Accumulator& s) {
        s.totals();
        out.value.push_back(value);
        out.rows.push_back(s.rows);
        out.min.push_back(s.min);
        out.max.push_back(s.max);
        append_partials(s.weight_total, out.weight_terms, out.weight_offset);
        append_partials(s.sum_total, out.sum_terms, out.sum_offset);
        append_partials(s.sum_sq_total, out.sum_sq_terms, out.sum_sq_offset);
    };
    const auto reserve = [&](std::size_t k) {
        out.value.reserve(k + 1);
        out.rows.reserve(k + 1);
        out.min.reserve(k + 1);
        out.max.reserve(k + 1);
    };
    Counted c =
        accumulate(x, y, w, n, false, reserve, append, [](double, const auto&) { return false; });
    append(std::numeric_limits<double>::quiet_NaN(), c.missing);
    out.n_missing_target = c.n_missing_target;
    out.n_zero_weight = c.n_zero_weight;
    return out;
}

namespace {

// Calls add(term) with each term of segment i of the terms, once the
// segment's offsets are checked to rise within the terms and each term to
// be finite; `where` names the caller in the messages.
template <typename Add>
void add_segment(const double* terms, std::size_t n_terms, const int64_t* offsets, std::size_t i,
                 const char* where, Add add) {
    if (offsets[i] < 0 || offsets[i] > offsets[i + 1] ||
        static_cast<std::size_t>(offsets[i + 1]) > n_terms) {
        throw std::invalid_argument(std::string(where) + ": offsets must rise within the terms");
    }
    for (int64_t j = offsets[i]; j < offsets[i + 1]; ++j) {
        if (!is_finite(terms[j]))
            throw std::invalid_argument(std::string(where) + ": terms must be finite");
        add(terms[j]);
    }
}

// The exact sum of segment i of the partials.
ExactSum segment_sum(const PartialSegments& p, std::size_t i, const char* where) {
    ExactSum sum;
    add_segment(p.terms, p.n_terms, p.offsets, i, where, [&](double t) { sum.add(t); });
    return sum;
}

}  // namespace

std::vector<double> exact_sums(const double* terms, std::size_t n_terms, const int64_t* offsets,
                               std::size_t k) {
    std::vector<double> out;
    out.reserve(k);
    RunningExactSum sum;
    for (std::size_t i = 0; i < k; ++i) {
        add_segment(terms, n_terms, offsets, i, "exact_sums", [&](double t) { sum.add(t); });
        out.push_back(sum.value());
    }
    return out;
}

std::vector<double> centred_square_sums(const PartialSegments& weight, const PartialSegments& sum,
                                        const PartialSegments& sum_sq, std::size_t k) {
    constexpr const char* where = "centred_square_sums";
    std::vector<double> out;
    out.reserve(k);
    ExactSum about, off;
    for (std::size_t i = 0; i < k; ++i) {
        const double dev =
            centred_square_sum(segment_sum(weight, i, where), segment_sum(sum, i, where),
                               segment_sum(sum_sq, i, where), about, off);
        if (!is_finite(dev)) {
            throw std::invalid_argument(std::string(where) +
                                        ": the weighted sums of the target are too large");
        }
        out.push_back(dev);
    }
    return out;
}

ExactPartials exact_partials(const double* terms, std::size_t n_terms, const int64_t* offsets,
                             std::size_t k) {
    ExactPartials out;
    out.offsets.reserve(k + 1);
    out.offsets.push_back(0);
    ExactSum sum;  // cleared and reused, so that no segment allocates
    for (std::size_t i = 0; i < k; ++i) {
        sum.clear();
        add_segment(terms, n_terms, offsets, i, "exact_sums", [&](double t) { sum.add(t); });
        append_partials(sum, out.terms, out.offsets);
    }
    return out;
}

namespace {

// Values and their sums read by position, from a table of rows or from columns.
struct StatsRows {
    const ContinuousValueCounts& counts;
    std::size_t size() const { return counts.value.size(); }
    double value(std::size_t i) const { return counts.value[i]; }
    double weight(std::size_t i) const { return counts.stats[i].weight; }
    const ContinuousStats& stats(std::size_t i) const { return counts.stats[i]; }
};

struct StatsColumns {
    const ContinuousValueColumns& c;
    std::size_t size() const { return c.size; }
    double value(std::size_t i) const { return c.value[i]; }
    double weight(std::size_t i) const { return c.weight[i]; }
    ContinuousStats stats(std::size_t i) const {
        return {c.rows[i],
                c.weight[i],
                c.sum[i],
                c.sum_sq[i],
                c.sum_sq_dev[i],
                c.min != nullptr ? c.min[i] : kNaN,
                c.max != nullptr ? c.max[i] : kNaN};
    }
};

template <typename Values>
std::vector<double> quantile_cuts(const Values& counts, std::size_t n_bins) {
    if (n_bins == 0)
        throw std::invalid_argument("weighted_quantile_cuts: n_bins must be at least 1");
    std::vector<double> cuts;
    const std::size_t m = counts.size();
    if (m < 2) return cuts;
    double total = 0.0;
    for (std::size_t i = 0; i < m; ++i) total += counts.weight(i);
    if (!is_finite(total)) {
        throw std::invalid_argument(
            "weighted_quantile_cuts: the weights add up beyond the largest double");
    }
    const auto wanted_at = [&](std::size_t i) {
        return total * static_cast<double>(i) / static_cast<double>(n_bins);
    };
    const double highest = counts.value(m - 1);
    double cumulative = counts.weight(0);
    std::size_t j = 0;
    for (std::size_t i = 1; i < n_bins; ++i) {
        while (j + 1 < m && cumulative < wanted_at(i)) cumulative += counts.weight(++j);
        // The greatest value is no cut, nor is any quantile after it: done,
        // however many pre-bins were asked for.
        if (j + 1 == m) break;
        const double cut = counts.value(j);
        if (is_finite(cut) && cut < highest && (cuts.empty() || cut > cuts.back())) {
            cuts.push_back(cut);
        }
        // The quantiles that this value's cumulative weight still reaches
        // read the same cut again: go on at the first beyond it (the wanted
        // weight rises with i), so that many pre-bins cost no more than few.
        std::size_t lo = i + 1;
        std::size_t hi = n_bins;
        while (lo < hi) {
            const std::size_t mid = lo + (hi - lo) / 2;
            if (cumulative < wanted_at(mid)) {
                hi = mid;
            } else {
                lo = mid + 1;
            }
        }
        i = lo - 1;
    }
    return cuts;
}

template <typename Values>
std::vector<ContinuousStats> interval_stats(const Values& counts,
                                            const std::vector<double>& splits) {
    for (std::size_t i = 0; i < splits.size(); ++i) {
        if (!is_finite(splits[i]) || (i > 0 && !(splits[i] > splits[i - 1]))) {
            throw std::invalid_argument(
                "continuous_interval_stats: cut points must be finite and increasing");
        }
    }
    const std::size_t n = counts.size();
    // A value equal to a cut point falls in the lower bin; the values rise,
    // so the sums walk the bins once.
    const auto bin_walk = [&](std::size_t i, std::size_t& b) {
        while (b < splits.size() && counts.value(i) > splits[b]) ++b;
        return b;
    };
    // Each bin's sums, exact and rounded once; only their values are read.
    struct BinSums {
        int64_t rows = 0;
        RunningExactSum weight, sum, sum_sq;
        double min = kNaN, max = kNaN;
    };
    std::vector<BinSums> bins(splits.size() + 1);
    std::size_t b = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const auto& s = counts.stats(i);
        BinSums& bin = bins[bin_walk(i, b)];
        bin.rows += s.rows;
        bin.weight.add(s.weight);
        bin.sum.add_rounding(s.sum);
        bin.sum_sq.add_rounding(s.sum_sq);
        if (std::isnan(s.min)) continue;
        bin.min = std::isnan(bin.min) ? s.min : std::min(bin.min, s.min);
        bin.max = std::isnan(bin.max) ? s.max : std::max(bin.max, s.max);
    }
    std::vector<ContinuousStats> out(bins.size());
    for (std::size_t g = 0; g < bins.size(); ++g) {
        BinSums& bin = bins[g];
        out[g] = ContinuousStats{
            bin.rows, bin.weight.value(), bin.sum.value(), bin.sum_sq.value(), 0.0, bin.min,
            bin.max};
    }
    // A bin's squared deviations: its values' own, plus W_i (mean_i - m)^2
    // = (S_i - W_i m)^2 / W_i about the bin's rounded mean m (S_i - W_i m
    // rounded once, so no cancellation), less W (mean - m)^2 = (S - m W)^2 / W,
    // the part m's rounding adds. Every term but the last is not negative,
    // so they are summed plainly, in the order of the values.
    std::vector<double> mean(bins.size(), 0.0), dev(bins.size(), 0.0), off(bins.size(), 0.0);
    for (std::size_t g = 0; g < bins.size(); ++g) {
        if (out[g].weight > 0.0) mean[g] = out[g].sum / out[g].weight;
    }
    // A bin at a time, from the end of the one before to the first value
    // above its cut, its two sums held in registers rather than in memory.
    std::size_t first = 0;
    for (std::size_t g = 0; g < bins.size(); ++g) {
        std::size_t end = n;
        if (g < splits.size()) {
            end = first;
            while (end < n && !(counts.value(end) > splits[g])) ++end;
        }
        const double m = mean[g];
        double d = 0.0, o = 0.0;
        for (std::size_t i = first; i < end; ++i) {
            const auto& s = counts.stats(i);
            d += s.sum_sq_dev;
            if (!(s.weight > 0.0)) continue;
            const double gap = std::fma(-s.weight, m, s.sum);
            d += gap * (gap / s.weight);
            o += gap;
        }
        dev[g] = d;
        off[g] = o;
        first = end;
    }
    for (std::size_t g = 0; g < bins.size(); ++g) {
        const double w = out[g].weight;
        const double d = w > 0.0 ? dev[g] - off[g] * (off[g] / w) : 0.0;
        out[g].sum_sq_dev = d > 0.0 ? d : 0.0;
        out[g] = checked(out[g], "continuous_interval_stats");
    }
    return out;
}

}  // namespace

std::vector<double> weighted_quantile_cuts(const ContinuousValueCounts& counts,
                                           std::size_t n_bins) {
    if (n_bins == 0)
        throw std::invalid_argument("weighted_quantile_cuts: n_bins must be at least 1");
    if (counts.value.size() != counts.stats.size()) {
        throw std::invalid_argument("weighted_quantile_cuts: one summary per value is needed");
    }
    return quantile_cuts(StatsRows{counts}, n_bins);
}

std::vector<double> weighted_quantile_cuts(const ContinuousValueColumns& counts,
                                           std::size_t n_bins) {
    return quantile_cuts(StatsColumns{counts}, n_bins);
}

std::vector<ContinuousStats> continuous_interval_stats(const ContinuousValueCounts& counts,
                                                       const std::vector<double>& splits) {
    if (counts.value.size() != counts.stats.size()) {
        throw std::invalid_argument("continuous_interval_stats: one summary per value is needed");
    }
    return interval_stats(StatsRows{counts}, splits);
}

std::vector<ContinuousStats> continuous_interval_stats(const ContinuousValueColumns& counts,
                                                       const std::vector<double>& splits) {
    return interval_stats(StatsColumns{counts}, splits);
}

ContinuousColumns continuous_columns(const ContinuousStats* rows, std::size_t k) {
    ContinuousColumns out;
    double weight = 0.0, sum = 0.0;
    for (std::size_t g = 0; g < k; ++g) {
        if (!(is_finite(rows[g].weight) && rows[g].weight >= 0.0 && is_finite(rows[g].sum) &&
              is_finite(rows[g].sum_sq) && is_finite(rows[g].sum_sq_dev) &&
              rows[g].sum_sq_dev >= 0.0)) {
            throw std::invalid_argument(
                "continuous_columns: weights and sums must be finite, weights and squared "
                "deviations not negative");
        }
        weight += rows[g].weight;
        sum += rows[g].sum;
    }
    out.overall_mean = weight > 0.0 ? sum / weight : kNaN;
    double between = 0.0, within = 0.0;
    for (std::size_t g = 0; g < k; ++g) {
        const ContinuousStats& r = rows[g];
        out.share.push_back(weight > 0.0 ? r.weight / weight : 0.0);
        if (!(r.weight > 0.0)) {
            out.mean.push_back(kNaN);
            out.std_dev.push_back(kNaN);
            out.mean_deviation.push_back(kNaN);
            continue;
        }
        const double mean = r.sum / r.weight;
        const double spread = r.sum_sq_dev;
        const double deviation = mean - out.overall_mean;
        out.mean.push_back(mean);
        out.std_dev.push_back(std::sqrt(spread / r.weight));
        out.mean_deviation.push_back(deviation);
        between += r.weight * (deviation * deviation);
        within += spread;
    }
    out.between_ss = weight > 0.0 ? between : kNaN;
    out.total_ss = weight > 0.0 ? within + between : kNaN;
    out.r2 = out.total_ss > 0.0 ? out.between_ss / out.total_ss : kNaN;
    return out;
}

}  // namespace tessaline
