// tessaline._native: the package's own hot paths over the core library, kept
// apart from the fixed function table of _tessaline. Each function converts,
// checks, releases the interpreter lock around the core call and builds its
// result; the numerics live in core/.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "convert.hpp"
#include "summary_dict.hpp"
#include "tessaline/tessaline.hpp"

namespace py = pybind11;
namespace b = tessaline::bindings;

namespace {

py::dict count_categories(const b::Int64Array& codes, const b::DoubleArray& labels, std::size_t k) {
    const auto c = b::flat_view(codes);
    const auto y = b::flat_view(labels);
    b::require_same_length(c, y, "count_categories");
    tessaline::CategoryCounts counts;
    {
        py::gil_scoped_release release;
        counts = tessaline::count_categories(c.data, y.data, c.size, k);
    }
    py::dict out;
    out["c0"] = b::array_from_vector(counts.c0);
    out["c1"] = b::array_from_vector(counts.c1);
    out["missing_c0"] = counts.missing_c0;
    out["missing_c1"] = counts.missing_c1;
    out["n_missing_target"] = counts.n_missing_target;
    return out;
}

py::array_t<int64_t> event_rate_order(const b::Int64Array& c0, const b::Int64Array& c1) {
    const auto a = b::flat_view(c0);
    const auto e = b::flat_view(c1);
    if (a.size != e.size) {
        throw std::invalid_argument("event_rate_order: c0 and c1 must have the same length");
    }
    return b::array_from_vector(tessaline::event_rate_order(a.data, e.data, a.size));
}

// One lookup for both element types: the table's dtype is the result's.
template <typename T>
py::array_t<T> lookup_codes(const b::Int64Array& codes,
                            const py::array_t<T, py::array::c_style | py::array::forcecast>& table,
                            T missing) {
    const auto c = b::flat_view(codes);
    const auto t = b::flat_view(table);
    py::array_t<T> out(static_cast<py::ssize_t>(c.size));
    T* dst = out.mutable_data();
    {
        py::gil_scoped_release release;
        tessaline::lookup_codes(c.data, c.size, t.data, t.size, missing, dst);
    }
    return out;
}

// Whether every value of a target that is not NaN is 0 or 1.
bool is_binary_target(const b::DoubleArray& y) {
    const auto ys = b::flat_view(y);
    py::gil_scoped_release release;
    return tessaline::read_binary_target(ys.data, ys.size).binary;
}

// (labels, known) of a 0/1 target: the int32 labels of the rows whose target
// is not NaN (-1 for a value other than 0 and 1), and which rows those are
// (None when all are).
py::tuple target_labels(const b::DoubleArray& y) {
    const auto ys = b::flat_view(y);
    std::size_t missing = 0;
    {
        py::gil_scoped_release release;
        missing = tessaline::read_binary_target(ys.data, ys.size).missing;
    }
    py::array_t<int32_t> labels(static_cast<py::ssize_t>(ys.size - missing));
    py::object known = py::none();
    bool* known_rows = nullptr;
    if (missing > 0) {
        py::array_t<bool> flags(static_cast<py::ssize_t>(ys.size));
        known_rows = flags.mutable_data();
        known = flags;
    }
    int32_t* label_rows = labels.mutable_data();
    {
        py::gil_scoped_release release;
        tessaline::binary_labels(ys.data, ys.size, label_rows, known_rows);
    }
    return py::make_tuple(labels, known);
}

// The best contiguous grouping of ordered pre-bins under the limits: the
// groups as first and last pre-bin, the trend met, and "message" naming the
// limit no grouping meets (empty when one was found).
py::dict optimal_binning(const b::DoubleArray& c0, const b::DoubleArray& c1, std::size_t max_bins,
                         double min_bin_share, double min_events, double min_non_events,
                         const std::string& trend, double max_pvalue,
                         const b::Int64Array& fixed_starts) {
    const auto a = b::flat_view(c0);
    const auto e = b::flat_view(c1);
    if (a.size != e.size) {
        throw std::invalid_argument("optimal_binning: c0 and c1 must have the same length");
    }
    tessaline::OptimalBinningConstraints limits;
    limits.max_bins = max_bins;
    limits.min_bin_share = min_bin_share;
    limits.min_events = min_events;
    limits.min_non_events = min_non_events;
    limits.trend = tessaline::parse_bin_trend(trend);
    limits.max_pvalue = max_pvalue;
    const auto fixed = b::flat_view(fixed_starts);
    for (std::size_t i = 0; i < fixed.size; ++i) {
        if (fixed.data[i] < 0) {
            throw std::invalid_argument("optimal_binning: fixed starts must not be negative");
        }
        limits.fixed_starts.push_back(static_cast<std::size_t>(fixed.data[i]));
    }
    tessaline::OptimalBinning best;
    {
        py::gil_scoped_release release;
        best = tessaline::optimal_binning(a.data, e.data, a.size, limits);
    }
    static const char* const trends[] = {"none", "ascending", "descending",
                                         "peak", "valley",    "auto"};
    std::vector<int64_t> first, last;
    for (const auto& g : best.groups) {
        first.push_back(static_cast<int64_t>(g.first));
        last.push_back(static_cast<int64_t>(g.last));
    }
    py::dict out;
    out["message"] = best.status == tessaline::OptimalBinningStatus::optimal
                         ? std::string()
                         : std::string(tessaline::optimal_binning_status_message(best.status));
    out["trend"] = trends[static_cast<int>(best.trend)];
    out["first"] = b::array_from_vector(first);
    out["last"] = b::array_from_vector(last);
    out["iv"] = best.iv;
    out["broken_segment"] = static_cast<int64_t>(best.broken_segment);
    return out;
}

// ------------------------------------------------- results from merged counts

// Counts arrive as any array of integers (or of whole numbers); `where` names
// the function in the messages.
b::Int64Array counts_array(const py::object& counts, const char* where, const char* name) {
    return b::integer_array<int64_t>(counts, where, name);
}

// Counts read in place (a fit's counts are as long as its rows): value, c0
// and c1 of one length, the count arrays converted only where they must be.
struct CountsInPlace {
    b::Int64Array c0_array;
    b::Int64Array c1_array;
    b::FlatView<double> value;
    b::FlatView<int64_t> c0;
    b::FlatView<int64_t> c1;
};

CountsInPlace counts_in_place(const b::DoubleArray& value, const py::object& c0_counts,
                              const py::object& c1_counts, const char* where,
                              const char* c0_name = "c0") {
    CountsInPlace in{counts_array(c0_counts, where, c0_name),
                     counts_array(c1_counts, where, "c1"),
                     b::flat_view(value),
                     {},
                     {}};
    in.c0 = b::flat_view(in.c0_array);
    in.c1 = b::flat_view(in.c1_array);
    if (in.c0.size != in.value.size || in.c1.size != in.value.size) {
        throw std::invalid_argument(std::string(where) +
                                    ": value, c0 and c1 must have the same length");
    }
    return in;
}

tessaline::ValueCounts value_counts(const b::DoubleArray& value, const py::object& c0_counts,
                                    const py::object& c1_counts, const char* where,
                                    const char* c0_name = "c0") {
    const CountsInPlace in = counts_in_place(value, c0_counts, c1_counts, where, c0_name);
    return tessaline::ValueCounts{std::vector<double>(in.value.data, in.value.data + in.value.size),
                                  std::vector<int64_t>(in.c0.data, in.c0.data + in.c0.size),
                                  std::vector<int64_t>(in.c1.data, in.c1.data + in.c1.size)};
}

py::dict value_counts_dict(tessaline::ValueCounts&& counts) {
    py::dict out;
    out["value"] = b::array_taking(std::move(counts.value));
    out["c0"] = b::array_taking(std::move(counts.c0));
    out["c1"] = b::array_taking(std::move(counts.c1));
    return out;
}

py::dict count_values(const b::DoubleArray& x, const py::object& labels) {
    const b::Int32Array label_array = b::integer_array<int32_t>(labels, "count_values", "labels");
    const auto xs = b::flat_view(x);
    const auto ys = b::flat_view(label_array);
    b::require_same_length(xs, ys, "count_values");
    tessaline::ValueCounts counts;
    {
        py::gil_scoped_release release;
        counts = tessaline::count_values(xs.data, ys.data, xs.size);
    }
    return value_counts_dict(std::move(counts));
}

// count_values of rows of at most `max_values` distinct x, or None.
py::object count_values_at_most(const b::DoubleArray& x, const py::object& labels,
                                std::size_t max_values) {
    const b::Int32Array label_array =
        b::integer_array<int32_t>(labels, "count_values_at_most", "labels");
    const auto xs = b::flat_view(x);
    const auto ys = b::flat_view(label_array);
    b::require_same_length(xs, ys, "count_values_at_most");
    std::optional<tessaline::ValueCounts> counts;
    {
        py::gil_scoped_release release;
        counts = tessaline::count_values_at_most(xs.data, ys.data, xs.size, max_values);
    }
    if (!counts) return py::none();
    return value_counts_dict(std::move(*counts));
}

// The rows counted by value and the pre-bins of the default binning, in one
// call with the lock released: {"value", "c0", "c1", "prebins": summary}.
py::dict counted_prebins(const b::DoubleArray& x, const py::object& labels, std::size_t n_prebins,
                         std::size_t max_class_parts, double min_class_share) {
    const b::Int32Array label_array =
        b::integer_array<int32_t>(labels, "counted_prebins", "labels");
    const auto xs = b::flat_view(x);
    const auto ys = b::flat_view(label_array);
    b::require_same_length(xs, ys, "counted_prebins");
    tessaline::CountedPrebins counted;
    {
        py::gil_scoped_release release;
        counted = tessaline::counted_prebins(xs.data, ys.data, xs.size, n_prebins, max_class_parts,
                                             min_class_share);
    }
    py::dict out = value_counts_dict(std::move(counted.counts));
    out["prebins"] = b::binning_summary_dict(counted.prebins);
    out["missing_c0"] = counted.missing_c0;
    out["missing_c1"] = counted.missing_c1;
    out["negative_zero"] = counted.negative_zero;
    out["index_c0"] = b::array_taking(std::move(counted.index_c0));
    out["index_c1"] = b::array_taking(std::move(counted.index_c1));
    return out;
}

py::dict merge_value_counts(const b::DoubleArray& value, const py::object& c0,
                            const py::object& c1) {
    const std::vector<tessaline::ValueCounts> parts{
        value_counts(value, c0, c1, "merge_value_counts")};
    tessaline::ValueCounts merged;
    {
        py::gil_scoped_release release;
        merged = tessaline::merge_value_counts(parts);
    }
    return value_counts_dict(std::move(merged));
}

// A row counter of the preprocessing: a whole number, not negative.
std::size_t counter(const py::dict& counters, const char* key) {
    const py::object v = counters[key];
    const bool whole = py::isinstance<py::int_>(v) ||
                       (py::hasattr(v, "__index__") && !py::isinstance<py::float_>(v));
    const int64_t count = whole ? py::int_(v).cast<int64_t>() : -1;
    if (count < 0) {
        throw std::invalid_argument(std::string("mdlp_full_from_counts: counters[\"") + key +
                                    "\"] must be a count of rows, not " +
                                    py::repr(v).cast<std::string>());
    }
    return static_cast<std::size_t>(count);
}

py::dict mdlp_full_from_counts(const b::DoubleArray& value, const py::object& c0,
                               const py::object& c1, const py::dict& counters, int64_t minobs,
                               int monotonicity, int mono_dir, double alpha_pos, double beta_struct,
                               bool force_first_split, const std::string& representative) {
    const tessaline::ValueCounts counts = value_counts(value, c0, c1, "mdlp_full_from_counts");
    if (static_cast<unsigned>(monotonicity) > 3u) {
        throw std::invalid_argument("monotonicity debe estar en 0..3");
    }
    tessaline::TessalineParams params;
    params.minobs = minobs;
    params.monotonicity = monotonicity;
    params.mono_dir = mono_dir;
    params.alpha_pos = alpha_pos;
    params.beta_struct = beta_struct;
    params.force_first_split = force_first_split;
    tessaline::PreprocessResult c;
    c.missing_count = counter(counters, "missing_count");
    c.missing_c0 = counter(counters, "missing_c0");
    c.missing_c1 = counter(counters, "missing_c1");
    c.n_input = counter(counters, "n_input");
    c.n_used = counter(counters, "n_used");
    c.n_missing_x = counter(counters, "n_missing_x");
    c.n_missing_y = counter(counters, "n_missing_y");
    c.n_missing_both = counter(counters, "n_missing_both");
    c.n_non_finite = counter(counters, "n_non_finite");
    c.target_was_binary = counters["target_was_binary"].cast<bool>();
    c.threshold = counters["threshold"].cast<double>();
    const tessaline::SummaryStatistic stat = tessaline::parse_summary_statistic(representative);
    tessaline::MdlpFullRawResult r;
    {
        py::gil_scoped_release release;
        r = tessaline::fit_mdlp_full_from_counts(counts, c, params, stat);
    }
    return b::mdlp_full_raw_dict(r);
}

py::array_t<double> class_split_cuts(const b::DoubleArray& value, const b::DoubleArray& c0,
                                     const b::DoubleArray& c1, std::size_t max_parts,
                                     double min_share) {
    const auto v = b::flat_view(value);
    const auto a = b::flat_view(c0);
    const auto e = b::flat_view(c1);
    if (a.size != v.size || e.size != v.size) {
        throw std::invalid_argument("class_split_cuts: value, c0 and c1 must have the same length");
    }
    for (std::size_t j = 0; j < v.size; ++j) {
        if (!(a.data[j] >= 0.0 && e.data[j] >= 0.0 && std::isfinite(a.data[j] + e.data[j]))) {
            throw std::invalid_argument(
                "class_split_cuts: c0 and c1 must be finite and non-negative");
        }
        if (!(j == 0 ? !std::isnan(v.data[0]) : v.data[j - 1] < v.data[j])) {
            throw std::invalid_argument("class_split_cuts: value must be strictly ascending");
        }
    }
    std::vector<double> cuts;
    {
        py::gil_scoped_release release;
        cuts = tessaline::class_split_cuts(v.data, a.data, e.data, v.size, max_parts, min_share);
    }
    return b::array_from_vector(cuts);
}

double percentile_from_counts(const b::DoubleArray& value, const py::object& count,
                              double percentile) {
    // The rows of each value as class 0: the percentile reads rows, not classes.
    tessaline::ValueCounts counts =
        value_counts(value, count, count, "percentile_from_counts", "count");
    counts.c1.assign(counts.c1.size(), 0);
    py::gil_scoped_release release;
    return tessaline::percentile_from_counts(counts, percentile);
}

py::array_t<double> quantile_splits_from_counts(const b::DoubleArray& value, const py::object& c0,
                                                const py::object& c1, std::size_t n_bins) {
    const tessaline::ValueCounts counts =
        value_counts(value, c0, c1, "quantile_splits_from_counts");
    std::vector<double> cuts;
    {
        py::gil_scoped_release release;
        cuts = tessaline::quantile_splits_from_counts(counts, n_bins);
    }
    return b::array_from_vector(cuts);
}

py::dict summary_binary_from_counts(const b::DoubleArray& value, const py::object& c0,
                                    const py::object& c1, int64_t missing_c0, int64_t missing_c1,
                                    const b::DoubleArray& splits,
                                    const std::string& representative) {
    const auto cuts = b::flat_view(splits);
    const std::vector<double> cut_points = tessaline::normalize_splits(cuts.data, cuts.size);
    const CountsInPlace in = counts_in_place(value, c0, c1, "summary_binary_from_counts");
    const tessaline::SummaryStatistic stat = tessaline::parse_summary_statistic(representative);
    std::vector<tessaline::BinningSummary> rows;
    {
        py::gil_scoped_release release;
        rows = tessaline::summarize_binary_from_count_arrays(in.value.data, in.c0.data, in.c1.data,
                                                             in.value.size, missing_c0, missing_c1,
                                                             cut_points, stat);
    }
    return b::binning_summary_dict(rows);
}

// summary_binary_from_counts (median) of counts as counted_prebins gives them,
// read through their index.
py::dict summary_binary_from_indexed_counts(const b::DoubleArray& value, const py::object& c0,
                                            const py::object& c1, const py::object& index_c0,
                                            const py::object& index_c1, int64_t missing_c0,
                                            int64_t missing_c1, const b::DoubleArray& splits) {
    const auto cuts = b::flat_view(splits);
    const std::vector<double> cut_points = tessaline::normalize_splits(cuts.data, cuts.size);
    constexpr const char* where = "summary_binary_from_counts";
    const CountsInPlace in = counts_in_place(value, c0, c1, where);
    const b::Int64Array index0_array = counts_array(index_c0, where, "index_c0");
    const b::Int64Array index1_array = counts_array(index_c1, where, "index_c1");
    const auto i0 = b::flat_view(index0_array);
    const auto i1 = b::flat_view(index1_array);
    if (i1.size != i0.size) {
        throw std::invalid_argument(std::string(where) +
                                    ": index_c0 and index_c1 must have the same length");
    }
    std::vector<tessaline::BinningSummary> rows;
    {
        py::gil_scoped_release release;
        rows = tessaline::summarize_binary_from_indexed_counts(
            in.value.data, in.c0.data, in.c1.data, in.value.size, i0.data, i1.data, i0.size,
            missing_c0, missing_c1, cut_points);
    }
    return b::binning_summary_dict(rows);
}

// The comparison's columns, "count_reference" and "count_current" read from
// the given members (row counts, or sums of weights).
template <typename Result, typename Bin, typename Count>
py::dict comparison_dict(const Result& r, Count Bin::* reference, Count Bin::* current) {
    return py::dict(py::arg("count_reference") = b::column(r.bins, reference),
                    py::arg("count_current") = b::column(r.bins, current),
                    py::arg("proportion_reference") = b::column(r.bins, &Bin::proportion_reference),
                    py::arg("proportion_current") = b::column(r.bins, &Bin::proportion_current),
                    py::arg("cumulative_reference") = b::column(r.bins, &Bin::cumulative_reference),
                    py::arg("cumulative_current") = b::column(r.bins, &Bin::cumulative_current),
                    py::arg("psi_bin") = b::column(r.bins, &Bin::psi_bin), py::arg("psi") = r.psi,
                    py::arg("ks") = r.ks);
}

py::dict compare_distributions_from_counts(const py::object& count_reference,
                                           const py::object& count_current,
                                           const b::DoubleArray& splits, double epsilon) {
    constexpr const char* where = "compare_distributions_from_counts";
    const b::Int64Array reference = counts_array(count_reference, where, "count_reference");
    const b::Int64Array current = counts_array(count_current, where, "count_current");
    const auto ref = b::flat_view(reference);
    const auto cur = b::flat_view(current);
    const auto cuts = b::flat_view(splits);
    if (ref.size != cuts.size + 2 || cur.size != cuts.size + 2) {
        throw std::invalid_argument(
            "compare_distributions_from_counts: each sample needs one count per bin and one "
            "for missing values");
    }
    const std::vector<double> cut_points(cuts.data, cuts.data + cuts.size);
    // Copies, which another thread cannot change while the lock is released
    // between the check of the counts and their use.
    const std::vector<int64_t> counts_ref(ref.data, ref.data + ref.size);
    const std::vector<int64_t> counts_cur(cur.data, cur.data + cur.size);
    tessaline::DistributionComparison r;
    {
        py::gil_scoped_release release;
        r = tessaline::compare_distributions_from_counts(counts_ref.data(), counts_cur.data(),
                                                         cut_points, epsilon);
    }
    return comparison_dict(r, &tessaline::PsiBin::count_reference,
                           &tessaline::PsiBin::count_current);
}

py::dict lorenz_curve_from_counts(const b::DoubleArray& value, const py::object& c0,
                                  const py::object& c1) {
    const tessaline::ValueCounts counts = value_counts(value, c0, c1, "lorenz_curve_from_counts");
    tessaline::LorenzCurve c;
    {
        py::gil_scoped_release release;
        c = tessaline::lorenz_curve_from_counts(counts);
    }
    using L = tessaline::LorenzPoint;
    return py::dict(py::arg("value") = b::column(c.points, &L::value),
                    py::arg("cumulative_non_event") = b::column(c.points, &L::cumulative_non_event),
                    py::arg("cumulative_event") = b::column(c.points, &L::cumulative_event),
                    py::arg("auc") = c.auc, py::arg("gini") = c.gini);
}

// ------------------------------------------------------------ sample weights

tessaline::WeightedValueCounts weighted_counts(const b::DoubleArray& value,
                                               const b::DoubleArray& c0, const b::DoubleArray& c1,
                                               const py::object& rows, const char* where) {
    const b::Int64Array records = counts_array(rows, where, "rows");
    const auto v = b::flat_view(value);
    const auto a = b::flat_view(c0);
    const auto e = b::flat_view(c1);
    const auto r = b::flat_view(records);
    if (a.size != v.size || e.size != v.size || r.size != v.size) {
        throw std::invalid_argument(std::string(where) +
                                    ": value, c0, c1 and rows must have the same length");
    }
    return tessaline::WeightedValueCounts{std::vector<double>(v.data, v.data + v.size),
                                          std::vector<double>(a.data, a.data + a.size),
                                          std::vector<double>(e.data, e.data + e.size),
                                          std::vector<int64_t>(r.data, r.data + r.size)};
}

py::dict weighted_counts_dict(tessaline::WeightedValueCounts&& counts) {
    py::dict out;
    out["value"] = b::array_taking(std::move(counts.value));
    out["c0"] = b::array_taking(std::move(counts.c0));
    out["c1"] = b::array_taking(std::move(counts.c1));
    out["rows"] = b::array_taking(std::move(counts.rows));
    return out;
}

py::dict count_values_weighted(const b::DoubleArray& x, const py::object& labels,
                               const b::DoubleArray& weights) {
    const b::Int32Array label_array =
        b::integer_array<int32_t>(labels, "count_values_weighted", "labels");
    const auto xs = b::flat_view(x);
    const auto ys = b::flat_view(label_array);
    const auto ws = b::flat_view(weights);
    b::require_same_length(xs, ys, "count_values_weighted");
    b::require_same_length(xs, ws, "count_values_weighted");
    tessaline::WeightedValueCounts counts;
    {
        py::gil_scoped_release release;
        counts = tessaline::count_values_weighted(xs.data, ys.data, ws.data, xs.size);
    }
    return weighted_counts_dict(std::move(counts));
}

py::dict merge_weighted_value_counts(const b::DoubleArray& value, const b::DoubleArray& c0,
                                     const b::DoubleArray& c1, const py::object& rows) {
    const std::vector<tessaline::WeightedValueCounts> parts{
        weighted_counts(value, c0, c1, rows, "merge_weighted_value_counts")};
    tessaline::WeightedValueCounts merged;
    {
        py::gil_scoped_release release;
        merged = tessaline::merge_weighted_value_counts(parts);
    }
    return weighted_counts_dict(std::move(merged));
}

py::array_t<double> quantile_splits_from_weighted_counts(const b::DoubleArray& value,
                                                         const b::DoubleArray& c0,
                                                         const b::DoubleArray& c1,
                                                         const py::object& rows,
                                                         std::size_t n_bins) {
    const tessaline::WeightedValueCounts counts =
        weighted_counts(value, c0, c1, rows, "quantile_splits_from_counts");
    std::vector<double> cuts;
    {
        py::gil_scoped_release release;
        cuts = tessaline::quantile_splits_weighted(counts, n_bins);
    }
    return b::array_from_vector(cuts);
}

py::array_t<double> equal_width_splits_from_weighted_counts(
    const b::DoubleArray& value, const b::DoubleArray& c0, const b::DoubleArray& c1,
    const py::object& rows, std::size_t n_bins, const std::string& range, double lower_quantile,
    double upper_quantile, double k) {
    const tessaline::WeightedValueCounts counts =
        weighted_counts(value, c0, c1, rows, "equal_width_splits_from_counts");
    const tessaline::WidthRange width_range = tessaline::parse_width_range(range);
    std::vector<double> cuts;
    {
        py::gil_scoped_release release;
        cuts = tessaline::equal_width_splits_weighted(counts, n_bins, width_range, lower_quantile,
                                                      upper_quantile, k);
    }
    return b::array_from_vector(cuts);
}

py::dict summary_binary_from_weighted_counts(const b::DoubleArray& value, const b::DoubleArray& c0,
                                             const b::DoubleArray& c1, const py::object& rows,
                                             double missing_c0, double missing_c1,
                                             int64_t missing_rows, const b::DoubleArray& splits,
                                             const std::string& representative) {
    const auto cuts = b::flat_view(splits);
    const std::vector<double> cut_points = tessaline::normalize_splits(cuts.data, cuts.size);
    const tessaline::WeightedValueCounts counts =
        weighted_counts(value, c0, c1, rows, "summary_binary_from_counts");
    const tessaline::SummaryStatistic stat = tessaline::parse_summary_statistic(representative);
    std::vector<tessaline::WeightedBinningSummary> out;
    {
        py::gil_scoped_release release;
        out = tessaline::summarize_binary_weighted(counts, missing_c0, missing_c1, missing_rows,
                                                   cut_points, stat);
    }
    using R = tessaline::WeightedBinningSummary;
    return py::dict(
        py::arg("left") = b::column(out, &R::left), py::arg("right") = b::column(out, &R::right),
        py::arg("count") = b::column(out, &R::count), py::arg("rows") = b::column(out, &R::rows),
        py::arg("percentage") = b::column(out, &R::percentage),
        py::arg("c0") = b::column(out, &R::c0), py::arg("c1") = b::column(out, &R::c1),
        py::arg("event_rate") = b::column(out, &R::event_rate),
        py::arg("representative") = b::column(out, &R::representative));
}

// The MDLP split log of weighted counts (finite values) and its cut points.
py::dict mdlp_splits_from_weighted_counts(const b::DoubleArray& value, const b::DoubleArray& c0,
                                          const b::DoubleArray& c1, const py::object& rows,
                                          int64_t minobs, int monotonicity, int mono_dir,
                                          double alpha_pos, double beta_struct,
                                          bool force_first_split) {
    const tessaline::WeightedValueCounts counts =
        weighted_counts(value, c0, c1, rows, "mdlp_from_counts");
    if (static_cast<unsigned>(monotonicity) > 3u) {
        throw std::invalid_argument("monotonicity debe estar en 0..3");
    }
    tessaline::TessalineParams params;
    params.minobs = minobs;
    params.monotonicity = monotonicity;
    params.mono_dir = mono_dir;
    params.alpha_pos = alpha_pos;
    params.beta_struct = beta_struct;
    params.force_first_split = force_first_split;
    std::vector<tessaline::SplitResult> log;
    {
        py::gil_scoped_release release;
        log = tessaline::mdlp_weighted(counts, params);
    }
    return b::split_log_dict(log);
}

py::dict lorenz_curve_from_weighted_counts(const b::DoubleArray& value, const b::DoubleArray& c0,
                                           const b::DoubleArray& c1, const py::object& rows) {
    const tessaline::WeightedValueCounts counts =
        weighted_counts(value, c0, c1, rows, "lorenz_curve_from_counts");
    tessaline::LorenzCurve c;
    {
        py::gil_scoped_release release;
        c = tessaline::lorenz_curve_weighted(counts);
    }
    using L = tessaline::LorenzPoint;
    return py::dict(py::arg("value") = b::column(c.points, &L::value),
                    py::arg("cumulative_non_event") = b::column(c.points, &L::cumulative_non_event),
                    py::arg("cumulative_event") = b::column(c.points, &L::cumulative_event),
                    py::arg("auc") = c.auc, py::arg("gini") = c.gini);
}

py::dict count_categories_weighted(const b::Int64Array& codes, const b::DoubleArray& labels,
                                   const b::DoubleArray& weights, std::size_t k) {
    const auto c = b::flat_view(codes);
    const auto y = b::flat_view(labels);
    const auto w = b::flat_view(weights);
    b::require_same_length(c, y, "count_categories_weighted");
    b::require_same_length(c, w, "count_categories_weighted");
    tessaline::WeightedCategoryCounts counts;
    {
        py::gil_scoped_release release;
        counts = tessaline::count_categories_weighted(c.data, y.data, w.data, c.size, k);
    }
    py::dict out;
    out["c0"] = b::array_from_vector(counts.c0);
    out["c1"] = b::array_from_vector(counts.c1);
    out["rows"] = b::array_from_vector(counts.rows);
    out["missing_c0"] = counts.missing_c0;
    out["missing_c1"] = counts.missing_c1;
    out["missing_rows"] = counts.missing_rows;
    return out;
}

py::array_t<int64_t> event_rate_order_weighted(const b::DoubleArray& c0, const b::DoubleArray& c1) {
    const auto a = b::flat_view(c0);
    const auto e = b::flat_view(c1);
    if (a.size != e.size) {
        throw std::invalid_argument("event_rate_order: c0 and c1 must have the same length");
    }
    return b::array_from_vector(tessaline::event_rate_order_weighted(a.data, e.data, a.size));
}

py::array_t<double> weigh_into_bins(const b::DoubleArray& values, const b::DoubleArray& weights,
                                    const b::DoubleArray& splits) {
    const auto v = b::flat_view(values);
    const auto w = b::flat_view(weights);
    if (w.size != v.size) {
        throw std::invalid_argument("weigh_into_bins: one weight per value is needed");
    }
    const auto cuts = b::flat_view(splits);
    const std::vector<double> cut_points = tessaline::normalize_splits(cuts.data, cuts.size);
    std::vector<double> sums;
    {
        py::gil_scoped_release release;
        sums = tessaline::weigh_into_bins(v.data, w.data, v.size, cut_points);
    }
    return b::array_from_vector(sums);
}

py::dict compare_distributions_from_weights(const b::DoubleArray& weight_reference,
                                            const b::DoubleArray& weight_current,
                                            const b::DoubleArray& splits, double epsilon) {
    const auto ref = b::flat_view(weight_reference);
    const auto cur = b::flat_view(weight_current);
    const auto cuts = b::flat_view(splits);
    if (ref.size != cuts.size + 2 || cur.size != cuts.size + 2) {
        throw std::invalid_argument(
            "compare_distributions_from_weights: each sample needs one weight per bin and one "
            "for missing values");
    }
    const std::vector<double> cut_points(cuts.data, cuts.data + cuts.size);
    // Copies, which another thread cannot change while the lock is released.
    const std::vector<double> weights_ref(ref.data, ref.data + ref.size);
    const std::vector<double> weights_cur(cur.data, cur.data + cur.size);
    tessaline::WeightedDistributionComparison r;
    {
        py::gil_scoped_release release;
        r = tessaline::compare_distributions_from_weights(weights_ref.data(), weights_cur.data(),
                                                          cut_points, epsilon);
    }
    return comparison_dict(r, &tessaline::WeightedPsiBin::weight_reference,
                           &tessaline::WeightedPsiBin::weight_current);
}

// ------------------------------------------------------------ validation

// The test of equal event rates between each bin and the next: k - 1 tests of k bins.
py::dict neighbour_rate_tests(const b::DoubleArray& c0, const b::DoubleArray& c1) {
    const auto a = b::flat_view(c0);
    const auto e = b::flat_view(c1);
    if (a.size != e.size) {
        throw std::invalid_argument("neighbour_rate_tests: c0 and c1 must have the same length");
    }
    std::vector<double> statistic, pvalue;
    for (std::size_t i = 1; i < a.size; ++i) {
        const tessaline::RateTest t =
            tessaline::equal_rates_test(a.data[i - 1], e.data[i - 1], a.data[i], e.data[i]);
        statistic.push_back(t.statistic);
        pvalue.push_back(t.pvalue);
    }
    return py::dict(py::arg("statistic") = b::array_from_vector(statistic),
                    py::arg("pvalue") = b::array_from_vector(pvalue));
}

// AUCs of the rows of a (k, n) array of scores against n labels, with their
// DeLong covariance as a (k, k) array.
py::dict delong_auc(const b::DoubleArray& scores, const b::Int32Array& labels) {
    if (scores.ndim() != 2) throw std::invalid_argument("delong_auc: scores must be 2-D");
    const auto k = static_cast<std::size_t>(scores.shape(0));
    const auto n = static_cast<std::size_t>(scores.shape(1));
    const auto y = b::flat_view(labels);
    if (y.size != n) {
        throw std::invalid_argument("delong_auc: one label per column of scores is needed");
    }
    tessaline::DelongAuc r;
    {
        py::gil_scoped_release release;
        r = tessaline::delong_auc(scores.data(), k, y.data, n);
    }
    py::array_t<double> covariance = b::array_from_vector(r.covariance);
    covariance.resize({static_cast<py::ssize_t>(k), static_cast<py::ssize_t>(k)});
    return py::dict(py::arg("auc") = b::array_from_vector(r.auc),
                    py::arg("covariance") = covariance, py::arg("n_events") = r.n_events,
                    py::arg("n_non_events") = r.n_non_events);
}

// ------------------------------------------------------------ continuous target

// Per-value or per-row sums of a continuous target as columns; "rows" as int64.
py::dict continuous_stats_dict(const std::vector<tessaline::ContinuousStats>& rows) {
    using S = tessaline::ContinuousStats;
    return py::dict(
        py::arg("rows") = b::column(rows, &S::rows),
        py::arg("weight") = b::column(rows, &S::weight), py::arg("sum") = b::column(rows, &S::sum),
        py::arg("sum_sq") = b::column(rows, &S::sum_sq),
        py::arg("sum_sq_dev") = b::column(rows, &S::sum_sq_dev),
        py::arg("min") = b::column(rows, &S::min), py::arg("max") = b::column(rows, &S::max));
}

// The sums of each row from columns of one length (min and max optional: NaN).
std::vector<tessaline::ContinuousStats> continuous_stats(
    const py::object& rows, const b::DoubleArray& weight, const b::DoubleArray& sum,
    const b::DoubleArray& sum_sq, const b::DoubleArray& sum_sq_dev, const char* where) {
    const b::Int64Array row_array = b::integer_array<int64_t>(rows, where, "rows");
    const auto r = b::flat_view(row_array);
    const auto w = b::flat_view(weight);
    const auto s = b::flat_view(sum);
    const auto q = b::flat_view(sum_sq);
    const auto d = b::flat_view(sum_sq_dev);
    if (w.size != r.size || s.size != r.size || q.size != r.size || d.size != r.size) {
        throw std::invalid_argument(
            std::string(where) +
            ": rows, weight, sum, sum_sq and sum_sq_dev must have the same length");
    }
    std::vector<tessaline::ContinuousStats> out(r.size);
    for (std::size_t i = 0; i < r.size; ++i) {
        out[i].rows = r.data[i];
        out[i].weight = w.data[i];
        out[i].sum = s.data[i];
        out[i].sum_sq = q.data[i];
        out[i].sum_sq_dev = d.data[i];
        // Not negative and finite (NaN fails both).
        if (!(d.data[i] >= 0.0 && d.data[i] <= std::numeric_limits<double>::max())) {
            throw std::invalid_argument(std::string(where) +
                                        ": sum_sq_dev must hold finite non-negative sums");
        }
    }
    return out;
}

py::dict count_continuous_values(const b::DoubleArray& x, const b::DoubleArray& y,
                                 const py::object& sample_weight) {
    const auto xs = b::flat_view(x);
    const auto ys = b::flat_view(y);
    if (xs.size != ys.size) {
        throw std::invalid_argument("count_continuous_values: x and y must have the same length");
    }
    const double* w = nullptr;
    b::DoubleArray weights;
    if (!sample_weight.is_none()) {
        weights = b::DoubleArray::ensure(sample_weight);
        if (!weights)
            throw std::invalid_argument("count_continuous_values: sample_weight must be numbers");
        const auto ws = b::flat_view(weights);
        if (ws.size != xs.size) {
            throw std::invalid_argument(
                "count_continuous_values: sample_weight must have one weight per row");
        }
        w = ws.data;
    }
    tessaline::ContinuousValueCounts c;
    {
        py::gil_scoped_release release;
        c = tessaline::count_continuous_values(xs.data, ys.data, w, xs.size);
    }
    py::dict out = continuous_stats_dict(c.stats);
    out["value"] = b::array_taking(std::move(c.value));
    out["missing"] = continuous_stats_dict({c.missing});
    out["n_missing_target"] = c.n_missing_target;
    out["n_zero_weight"] = c.n_zero_weight;
    return out;
}

// The exact partials of the sums by value, for counts merged across parts.
py::dict count_continuous_partials(const b::DoubleArray& x, const b::DoubleArray& y,
                                   const py::object& sample_weight) {
    const auto xs = b::flat_view(x);
    const auto ys = b::flat_view(y);
    if (xs.size != ys.size) {
        throw std::invalid_argument("count_continuous_partials: x and y must have the same length");
    }
    b::DoubleArray weights;
    const double* w = nullptr;
    if (!sample_weight.is_none()) {
        weights = b::DoubleArray::ensure(sample_weight);
        if (!weights || static_cast<std::size_t>(weights.size()) != xs.size) {
            throw std::invalid_argument(
                "count_continuous_partials: sample_weight must have one weight per row");
        }
        w = weights.data();
    }
    tessaline::ContinuousPartials p;
    {
        py::gil_scoped_release release;
        p = tessaline::count_continuous_partials(xs.data, ys.data, w, xs.size);
    }
    py::dict out;
    out["value"] = b::array_taking(std::move(p.value));
    out["rows"] = b::array_taking(std::move(p.rows));
    out["min"] = b::array_taking(std::move(p.min));
    out["max"] = b::array_taking(std::move(p.max));
    out["weight_terms"] = b::array_taking(std::move(p.weight_terms));
    out["weight_offset"] = b::array_taking(std::move(p.weight_offset));
    out["sum_terms"] = b::array_taking(std::move(p.sum_terms));
    out["sum_offset"] = b::array_taking(std::move(p.sum_offset));
    out["sum_sq_terms"] = b::array_taking(std::move(p.sum_sq_terms));
    out["sum_sq_offset"] = b::array_taking(std::move(p.sum_sq_offset));
    out["n_missing_target"] = p.n_missing_target;
    out["n_zero_weight"] = p.n_zero_weight;
    return out;
}

py::array_t<double> exact_sums(const b::DoubleArray& terms, const b::Int64Array& offsets) {
    const auto t = b::flat_view(terms);
    const auto o = b::flat_view(offsets);
    if (o.size == 0)
        throw std::invalid_argument("exact_sums: offsets must hold at least one entry");
    std::vector<double> sums;
    {
        py::gil_scoped_release release;
        sums = tessaline::exact_sums(t.data, t.size, o.data, o.size - 1);
    }
    return b::array_from_vector(sums);
}

py::dict exact_partials(const b::DoubleArray& terms, const b::Int64Array& offsets) {
    const auto t = b::flat_view(terms);
    const auto o = b::flat_view(offsets);
    if (o.size == 0)
        throw std::invalid_argument("exact_sums: offsets must hold at least one entry");
    tessaline::ExactPartials p;
    {
        py::gil_scoped_release release;
        p = tessaline::exact_partials(t.data, t.size, o.data, o.size - 1);
    }
    py::dict out;
    out["terms"] = b::array_taking(std::move(p.terms));
    out["offsets"] = b::array_taking(std::move(p.offsets));
    return out;
}

tessaline::PartialSegments partial_segments(const b::DoubleArray& terms,
                                            const b::Int64Array& offsets, std::size_t k) {
    const auto t = b::flat_view(terms);
    const auto o = b::flat_view(offsets);
    if (o.size != k + 1) {
        throw std::invalid_argument(
            "centred_square_sums: the offsets of weight, sum and sum_sq must be as many, and at "
            "least one");
    }
    return {t.data, t.size, o.data};
}

py::array_t<double> centred_square_sums(const b::DoubleArray& weight_terms,
                                        const b::Int64Array& weight_offset,
                                        const b::DoubleArray& sum_terms,
                                        const b::Int64Array& sum_offset,
                                        const b::DoubleArray& sum_sq_terms,
                                        const b::Int64Array& sum_sq_offset) {
    const std::size_t n_offsets = b::flat_view(weight_offset).size;
    const std::size_t k = n_offsets == 0 ? 0 : n_offsets - 1;
    const auto w = partial_segments(weight_terms, weight_offset, k);
    const auto s = partial_segments(sum_terms, sum_offset, k);
    const auto q = partial_segments(sum_sq_terms, sum_sq_offset, k);
    std::vector<double> out;
    {
        py::gil_scoped_release release;
        out = tessaline::centred_square_sums(w, s, q, k);
    }
    return b::array_from_vector(out);
}

// Values ascending with their sums, as count_continuous_values gives them.
tessaline::ContinuousValueCounts continuous_counts(
    const b::DoubleArray& value, const py::object& rows, const b::DoubleArray& weight,
    const b::DoubleArray& sum, const b::DoubleArray& sum_sq, const b::DoubleArray& sum_sq_dev,
    const char* where) {
    tessaline::ContinuousValueCounts c;
    c.stats = continuous_stats(rows, weight, sum, sum_sq, sum_sq_dev, where);
    const auto v = b::flat_view(value);
    if (v.size != c.stats.size()) {
        throw std::invalid_argument(std::string(where) + ": one value per row of sums is needed");
    }
    c.value.assign(v.data, v.data + v.size);
    for (std::size_t i = 0; i < v.size; ++i) {
        if (std::isnan(c.value[i]) || (i > 0 && !(c.value[i] > c.value[i - 1]))) {
            throw std::invalid_argument(std::string(where) +
                                        ": values must be distinct, ascending and not NaN");
        }
        if (c.stats[i].rows < 0) {
            throw std::invalid_argument(std::string(where) + ": rows must not be negative");
        }
    }
    return c;
}

py::array_t<double> weighted_quantile_cuts(const b::DoubleArray& value, const py::object& rows,
                                           const b::DoubleArray& weight, std::size_t n_bins) {
    const tessaline::ContinuousValueCounts c =
        continuous_counts(value, rows, weight, weight, weight, weight, "weighted_quantile_cuts");
    std::vector<double> cuts;
    {
        py::gil_scoped_release release;
        cuts = tessaline::weighted_quantile_cuts(c, n_bins);
    }
    return b::array_from_vector(cuts);
}

py::dict continuous_interval_stats(const b::DoubleArray& value, const py::object& rows,
                                   const b::DoubleArray& weight, const b::DoubleArray& sum,
                                   const b::DoubleArray& sum_sq, const b::DoubleArray& sum_sq_dev,
                                   const b::DoubleArray& min, const b::DoubleArray& max,
                                   const b::DoubleArray& splits) {
    constexpr const char* where = "continuous_interval_stats";
    tessaline::ContinuousValueCounts c =
        continuous_counts(value, rows, weight, sum, sum_sq, sum_sq_dev, where);
    const auto lo = b::flat_view(min);
    const auto hi = b::flat_view(max);
    if (lo.size != c.value.size() || hi.size != c.value.size()) {
        throw std::invalid_argument(std::string(where) + ": one min and max per value is needed");
    }
    for (std::size_t i = 0; i < lo.size; ++i) {
        c.stats[i].min = lo.data[i];
        c.stats[i].max = hi.data[i];
    }
    const auto cuts = b::flat_view(splits);
    const std::vector<double> cut_points(cuts.data, cuts.data + cuts.size);
    std::vector<tessaline::ContinuousStats> out;
    {
        py::gil_scoped_release release;
        out = tessaline::continuous_interval_stats(c, cut_points);
    }
    return continuous_stats_dict(out);
}

py::dict continuous_columns(const py::object& rows, const b::DoubleArray& weight,
                            const b::DoubleArray& sum, const b::DoubleArray& sum_sq,
                            const b::DoubleArray& sum_sq_dev) {
    const std::vector<tessaline::ContinuousStats> stats =
        continuous_stats(rows, weight, sum, sum_sq, sum_sq_dev, "continuous_columns");
    const tessaline::ContinuousColumns c =
        tessaline::continuous_columns(stats.data(), stats.size());
    return py::dict(py::arg("share") = b::array_from_vector(c.share),
                    py::arg("mean") = b::array_from_vector(c.mean),
                    py::arg("std") = b::array_from_vector(c.std_dev),
                    py::arg("mean_deviation") = b::array_from_vector(c.mean_deviation),
                    py::arg("overall_mean") = c.overall_mean, py::arg("between_ss") = c.between_ss,
                    py::arg("total_ss") = c.total_ss, py::arg("r2") = c.r2);
}

// The best contiguous grouping of ordered pre-bins of a continuous target:
// the groups as first and last pre-bin, the trend met, the criterion, and
// "message" naming the limit no grouping meets (empty when one was found).
py::dict continuous_binning(const b::DoubleArray& weight, const b::DoubleArray& sum,
                            const b::DoubleArray& rows, std::size_t max_bins, double min_bin_share,
                            double min_rows, const std::string& trend) {
    const auto w = b::flat_view(weight);
    const auto s = b::flat_view(sum);
    const auto r = b::flat_view(rows);
    if (s.size != w.size || r.size != w.size) {
        throw std::invalid_argument(
            "continuous_binning: weight, sum and rows must have the same length");
    }
    tessaline::ContinuousBinningConstraints limits;
    limits.max_bins = max_bins;
    limits.min_bin_share = min_bin_share;
    limits.min_rows = min_rows;
    limits.trend = tessaline::parse_bin_trend(trend);
    tessaline::ContinuousBinning best;
    {
        py::gil_scoped_release release;
        best = tessaline::continuous_binning(w.data, s.data, r.data, w.size, limits);
    }
    static const char* const trends[] = {"none", "ascending", "descending",
                                         "peak", "valley",    "auto"};
    std::vector<int64_t> first, last;
    for (const auto& g : best.groups) {
        first.push_back(static_cast<int64_t>(g.first));
        last.push_back(static_cast<int64_t>(g.last));
    }
    return py::dict(
        py::arg("message") = std::string(tessaline::continuous_binning_status_message(best.status)),
        py::arg("trend") = trends[static_cast<int>(best.trend)],
        py::arg("first") = b::array_from_vector(first),
        py::arg("last") = b::array_from_vector(last), py::arg("between_ss") = best.between_ss,
        py::arg("overall_mean") = best.overall_mean);
}

}  // namespace

PYBIND11_MODULE(_native, m, py::multiple_interpreters::not_supported()) {
    // TESSALINE_DISABLE_SIMD (anything but "" or "0") keeps the package's
    // kernels on the plain path, so that a machine with vector units tests
    // the bits that a machine without them computes.
    if (const char* v = std::getenv("TESSALINE_DISABLE_SIMD"); v && *v && std::strcmp(v, "0") != 0)
        tessaline::allow_vector_paths(false);
    m.doc() = "Native hot paths of the tessaline package (categorical variables)";
    m.def("count_categories", &count_categories, py::arg("codes"), py::arg("labels"), py::arg("k"),
          "Non-events and events per category code (code -1: missing value; label NaN: "
          "row left out and counted).");
    m.def("event_rate_order", &event_rate_order, py::arg("c0"), py::arg("c1"),
          "Codes holding rows, by ascending event rate, equal rates by code.");
    m.def("is_binary_target", &is_binary_target, py::arg("y"),
          "Whether every value of the target `y` that is not NaN is 0 or 1.");
    m.def("target_labels", &target_labels, py::arg("y"),
          "(labels, known) of a 0/1 target: int32 labels of the rows whose target is not NaN "
          "(-1 for a value other than 0 and 1), and which rows those are (None when all are).");
    m.def("lookup_codes", &lookup_codes<double>, py::arg("codes"), py::arg("table"),
          py::arg("missing"), "table[code] per row; `missing` for code -1.");
    m.def("optimal_binning", &optimal_binning, py::arg("c0"), py::arg("c1"), py::arg("max_bins"),
          py::arg("min_bin_share"), py::arg("min_events"), py::arg("min_non_events"),
          py::arg("trend"), py::arg("max_pvalue") = 1.0,
          py::arg("fixed_starts") = py::array_t<int64_t>(0),
          "Contiguous grouping of ordered pre-bins of largest IV under the limits, every "
          "fixed start beginning a group.");
    m.def("lookup_codes_int", &lookup_codes<int64_t>, py::arg("codes"), py::arg("table"),
          py::arg("missing"), "table[code] per row (int64); `missing` for code -1.");
    m.def("count_values", &count_values, py::arg("x"), py::arg("labels"),
          "Rows counted by distinct x (ascending) and class; NaN x left out.");
    m.def("count_values_at_most", &count_values_at_most, py::arg("x"), py::arg("labels"),
          py::arg("max_values"),
          "count_values of rows of at most max_values distinct x (found without a sort), "
          "else None.");
    m.def("counted_prebins", &counted_prebins, py::arg("x"), py::arg("labels"),
          py::arg("n_prebins"), py::arg("max_class_parts"), py::arg("min_class_share"),
          "Rows counted by distinct x and the pre-bins of the default binning.");
    m.def("merge_value_counts", &merge_value_counts, py::arg("value"), py::arg("c0"), py::arg("c1"),
          "Counts summed by value, values ascending.");
    m.def("mdlp_full_from_counts", &mdlp_full_from_counts, py::arg("value"), py::arg("c0"),
          py::arg("c1"), py::arg("counters"), py::arg("minobs"), py::arg("monotonicity"),
          py::arg("mono_dir"), py::arg("alpha_pos"), py::arg("beta_struct"),
          py::arg("force_first_split"), py::arg("representative"),
          "Full MDLP with summary and counters from merged counts of the kept rows.");
    m.def("class_split_cuts", &class_split_cuts, py::arg("value"), py::arg("c0"), py::arg("c1"),
          py::arg("max_parts"), py::arg("min_share"),
          "Cut points that best separate the classes behind the counts (Gini splits).");
    m.def("percentile_from_counts", &percentile_from_counts, py::arg("value"), py::arg("count"),
          py::arg("percentile"),
          "Linear-interpolation percentile of the finite values counted by distinct value.");
    m.def("quantile_splits_from_counts", &quantile_splits_from_counts, py::arg("value"),
          py::arg("c0"), py::arg("c1"), py::arg("n_bins"),
          "Quantile cut points of the finite values behind the counts.");
    m.def("summary_binary_from_indexed_counts", &summary_binary_from_indexed_counts,
          py::arg("value"), py::arg("c0"), py::arg("c1"), py::arg("index_c0"), py::arg("index_c1"),
          py::arg("missing_c0"), py::arg("missing_c1"), py::arg("splits"),
          "summary_binary_from_counts with medians of counts as counted_prebins gives them, "
          "read through their index (index_c0, index_c1): not checked again.");
    m.def("summary_binary_from_counts", &summary_binary_from_counts, py::arg("value"),
          py::arg("c0"), py::arg("c1"), py::arg("missing_c0"), py::arg("missing_c1"),
          py::arg("splits"), py::arg("representative"),
          "Binary summary over cut points from merged counts.");
    m.def("compare_distributions_from_counts", &compare_distributions_from_counts,
          py::arg("count_reference"), py::arg("count_current"), py::arg("splits"),
          py::arg("epsilon"), "PSI and KS from the rows of each sample per bin.");
    m.def("lorenz_curve_from_counts", &lorenz_curve_from_counts, py::arg("value"), py::arg("c0"),
          py::arg("c1"), "Lorenz curve, AUC and Gini from scores counted by class.");
    // Sample weights: counts as sums of weights, with the records behind them.
    m.def("count_values_weighted", &count_values_weighted, py::arg("x"), py::arg("labels"),
          py::arg("weights"),
          "Weights of the rows by distinct x (ascending) and class, with their records; NaN x "
          "and zero weights left out.");
    m.def("merge_weighted_value_counts", &merge_weighted_value_counts, py::arg("value"),
          py::arg("c0"), py::arg("c1"), py::arg("rows"),
          "Weighted counts summed by value, values ascending.");
    m.def("quantile_splits_from_weighted_counts", &quantile_splits_from_weighted_counts,
          py::arg("value"), py::arg("c0"), py::arg("c1"), py::arg("rows"), py::arg("n_bins"),
          "Quantile cut points of the weighted finite values.");
    m.def("equal_width_splits_from_weighted_counts", &equal_width_splits_from_weighted_counts,
          py::arg("value"), py::arg("c0"), py::arg("c1"), py::arg("rows"), py::arg("n_bins"),
          py::arg("range"), py::arg("lower_quantile"), py::arg("upper_quantile"), py::arg("k"),
          "Equal-width cut points over the range of the weighted finite values.");
    m.def("summary_binary_from_weighted_counts", &summary_binary_from_weighted_counts,
          py::arg("value"), py::arg("c0"), py::arg("c1"), py::arg("rows"), py::arg("missing_c0"),
          py::arg("missing_c1"), py::arg("missing_rows"), py::arg("splits"),
          py::arg("representative"), "Binary summary over cut points from weighted counts.");
    m.def("mdlp_splits_from_weighted_counts", &mdlp_splits_from_weighted_counts, py::arg("value"),
          py::arg("c0"), py::arg("c1"), py::arg("rows"), py::arg("minobs"), py::arg("monotonicity"),
          py::arg("mono_dir"), py::arg("alpha_pos"), py::arg("beta_struct"),
          py::arg("force_first_split"), "MDLP split log of weighted counts of finite values.");
    m.def("lorenz_curve_from_weighted_counts", &lorenz_curve_from_weighted_counts, py::arg("value"),
          py::arg("c0"), py::arg("c1"), py::arg("rows"),
          "Lorenz curve, AUC and Gini from scores weighted by class.");
    m.def("count_categories_weighted", &count_categories_weighted, py::arg("codes"),
          py::arg("labels"), py::arg("weights"), py::arg("k"),
          "Weights of non-events and events per category code, with their records.");
    m.def("event_rate_order_weighted", &event_rate_order_weighted, py::arg("c0"), py::arg("c1"),
          "Codes holding weight, by ascending weighted event rate, equal rates by code.");
    m.def("weigh_into_bins", &weigh_into_bins, py::arg("values"), py::arg("weights"),
          py::arg("splits"), "Weights summed per right-closed bin, the last sum for NaN.");
    m.def("compare_distributions_from_weights", &compare_distributions_from_weights,
          py::arg("weight_reference"), py::arg("weight_current"), py::arg("splits"),
          py::arg("epsilon"), "PSI and KS from the weight of each sample per bin.");
    // Validation statistics.
    m.def("neighbour_rate_tests", &neighbour_rate_tests, py::arg("c0"), py::arg("c1"),
          "Chi-square test of equal event rates between each bin and the next.");
    m.def("delong_auc", &delong_auc, py::arg("scores"), py::arg("labels"),
          "AUCs of k scores on the same rows and DeLong's covariance of them.");
    // Continuous target.
    m.def("count_continuous_values", &count_continuous_values, py::arg("x"), py::arg("y"),
          py::arg("sample_weight") = py::none(),
          "Rows, weight, sums of w*y and w*y^2, sum of w*(y - mean)^2, least and greatest y per "
          "distinct x (exact sums), the rows whose x is NaN, and the rows left out.");
    m.def("count_continuous_partials", &count_continuous_partials, py::arg("x"), py::arg("y"),
          py::arg("sample_weight") = py::none(),
          "count_continuous_values with the exact partials of each value's sums (the rows "
          "whose x is NaN last, as value NaN), for counts merged across parts.");
    m.def("exact_sums", &exact_sums, py::arg("terms"), py::arg("offsets"),
          "The exact sum of each segment terms[offsets[i]:offsets[i + 1]], rounded once.");
    m.def("exact_partials", &exact_partials, py::arg("terms"), py::arg("offsets"),
          "Each segment terms[offsets[i]:offsets[i + 1]] as the few partials of its exact "
          "sum: a dict of terms and offsets.");
    m.def("centred_square_sums", &centred_square_sums, py::arg("weight_terms"),
          py::arg("weight_offset"), py::arg("sum_terms"), py::arg("sum_offset"),
          py::arg("sum_sq_terms"), py::arg("sum_sq_offset"),
          "The sum of w*(y - mean)^2 of each segment of the partials of weight, sum and sum_sq.");
    m.def("weighted_quantile_cuts", &weighted_quantile_cuts, py::arg("value"), py::arg("rows"),
          py::arg("weight"), py::arg("n_bins"), "Cut points of weighted quantile pre-bins.");
    m.def("continuous_interval_stats", &continuous_interval_stats, py::arg("value"),
          py::arg("rows"), py::arg("weight"), py::arg("sum"), py::arg("sum_sq"),
          py::arg("sum_sq_dev"), py::arg("min"), py::arg("max"), py::arg("splits"),
          "Sums of the rows of each interval of the cut points.");
    m.def("continuous_columns", &continuous_columns, py::arg("rows"), py::arg("weight"),
          py::arg("sum"), py::arg("sum_sq"), py::arg("sum_sq_dev"),
          "Share of the weight, mean, standard deviation and deviation from the overall mean of "
          "each row; "
          "between-row and total sums of squares and R^2.");
    m.def("continuous_binning", &continuous_binning, py::arg("weight"), py::arg("sum"),
          py::arg("rows"), py::arg("max_bins"), py::arg("min_bin_share"), py::arg("min_rows"),
          py::arg("trend"),
          "Contiguous grouping of ordered pre-bins of largest between-group sum of squares.");
}
