// Sample weights: counts as sums of weights, with the records behind them.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "common.hpp"

namespace tessaline::native {
namespace {

// Weighted counts read in place from the caller's arrays (`records` kept
// alive by the caller), their lengths checked.
tessaline::WeightedCountsView counts_view(const b::DoubleArray& value, const b::DoubleArray& c0,
                                          const b::DoubleArray& c1, const b::Int64Array& records,
                                          const char* where) {
    const auto v = b::flat_view(value);
    const auto a = b::flat_view(c0);
    const auto e = b::flat_view(c1);
    const auto r = b::flat_view(records);
    if (a.size != v.size || e.size != v.size || r.size != v.size) {
        throw std::invalid_argument(std::string(where) +
                                    ": value, c0, c1 and rows must have the same length");
    }
    return tessaline::WeightedCountsView{v.data, a.data, e.data, r.data, v.size};
}

// Weighted counts copied from the caller's arrays, their lengths checked.
tessaline::WeightedValueCounts weighted_counts(const b::DoubleArray& value,
                                               const b::DoubleArray& c0, const b::DoubleArray& c1,
                                               const py::object& rows, const char* where) {
    const b::Int64Array records = counts_array(rows, where, "rows");
    const tessaline::WeightedCountsView v = counts_view(value, c0, c1, records, where);
    return tessaline::WeightedValueCounts{
        std::vector<double>(v.value, v.value + v.size), std::vector<double>(v.c0, v.c0 + v.size),
        std::vector<double>(v.c1, v.c1 + v.size), std::vector<int64_t>(v.rows, v.rows + v.size)};
}

// The counts' arrays over their own storage, which goes back to the kept
// vectors once freed: the next column's counts of about as many values take
// pages already mapped.
py::dict weighted_counts_dict(tessaline::WeightedValueCounts&& counts) {
    py::dict out;
    out["value"] = array_recycling(std::move(counts.value));
    out["c0"] = array_recycling(std::move(counts.c0));
    out["c1"] = array_recycling(std::move(counts.c1));
    out["rows"] = array_recycling(std::move(counts.rows));
    return out;
}

py::dict count_values_weighted(const b::DoubleArray& x, const py::object& labels,
                               const b::DoubleArray& weights) {
    const b::Int32Array label_array = labels_array(labels, "count_values_weighted");
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

py::dict prebins_dict(const std::vector<tessaline::WeightedPrebin>& prebins) {
    using P = tessaline::WeightedPrebin;
    return py::dict(py::arg("left") = b::column(prebins, &P::left),
                    py::arg("right") = b::column(prebins, &P::right),
                    py::arg("c0") = b::column(prebins, &P::c0),
                    py::arg("c1") = b::column(prebins, &P::c1));
}

// A column's weighted counts and the weights of its rows of NaN x, in one
// pass over its rows with the lock released.
// The kinds of the weights given with a call: None, or those weight_kinds
// found for the weights whose rows these are.
const tessaline::WeightKinds* given_kinds(const py::object& kinds) {
    return kinds.is_none() ? nullptr : &kinds.cast<const tessaline::WeightKinds&>();
}

py::dict count_column_weighted(const b::DoubleArray& x, const b::DoubleArray& flags,
                               const b::DoubleArray& weights, std::size_t n_prebins,
                               std::size_t max_class_parts, double min_class_share,
                               const py::object& kinds) {
    const tessaline::WeightKinds* given = given_kinds(kinds);
    const auto xs = b::flat_view(x);
    const auto fs = b::flat_view(flags);
    const auto ws = b::flat_view(weights);
    b::require_same_length(xs, fs, "count_column_weighted");
    b::require_same_length(xs, ws, "count_column_weighted");
    tessaline::WeightedCountedColumn column;
    {
        py::gil_scoped_release release;
        const tessaline::PrebinRequest request{n_prebins, max_class_parts, min_class_share};
        column = tessaline::count_column_weighted(xs.data, fs.data, ws.data, xs.size,
                                                  n_prebins > 0 ? &request : nullptr, given);
    }
    py::dict out = weighted_counts_dict(std::move(column.counts));
    if (column.has_prebins) out["prebins"] = prebins_dict(column.prebins);
    out["missing_c0"] = column.missing_c0;
    out["missing_c1"] = column.missing_c1;
    out["missing_rows"] = column.missing_rows;
    if (!column.index_c0.empty()) {
        out["index_c0"] = b::array_taking(std::move(column.index_c0));
        out["index_c1"] = b::array_taking(std::move(column.index_c1));
        out["index_rows"] = b::array_taking(std::move(column.index_rows));
    }
    return out;
}

// The pre-bins of the default binning of merged weighted counts, read in
// place: {"left", "right", "c0", "c1"} per interval.
py::dict prebins_from_weighted_counts(const b::DoubleArray& value, const b::DoubleArray& c0,
                                      const b::DoubleArray& c1, const py::object& rows,
                                      std::size_t n_prebins, std::size_t max_class_parts,
                                      double min_class_share) {
    constexpr const char* where = "prebins_from_weighted_counts";
    const b::Int64Array records = counts_array(rows, where, "rows");
    const tessaline::WeightedCountsView counts = counts_view(value, c0, c1, records, where);
    std::vector<tessaline::WeightedPrebin> prebins;
    {
        py::gil_scoped_release release;
        prebins = tessaline::weighted_prebins(counts, n_prebins, max_class_parts, min_class_share);
    }
    return prebins_dict(prebins);
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

// The rows of a weighted summary as columns.
py::dict weighted_summary_dict(const std::vector<tessaline::WeightedBinningSummary>& out) {
    using R = tessaline::WeightedBinningSummary;
    return py::dict(
        py::arg("left") = b::column(out, &R::left), py::arg("right") = b::column(out, &R::right),
        py::arg("count") = b::column(out, &R::count), py::arg("rows") = b::column(out, &R::rows),
        py::arg("percentage") = b::column(out, &R::percentage),
        py::arg("c0") = b::column(out, &R::c0), py::arg("c1") = b::column(out, &R::c1),
        py::arg("event_rate") = b::column(out, &R::event_rate),
        py::arg("representative") = b::column(out, &R::representative));
}

py::dict summary_binary_from_weighted_counts(const b::DoubleArray& value, const b::DoubleArray& c0,
                                             const b::DoubleArray& c1, const py::object& rows,
                                             double missing_c0, double missing_c1,
                                             int64_t missing_rows, const b::DoubleArray& splits,
                                             const std::string& representative) {
    const auto cuts = b::flat_view(splits);
    const std::vector<double> cut_points = tessaline::normalize_splits(cuts.data, cuts.size);
    // Read in place: a copy of a long column would be made with the lock held.
    const b::Int64Array records = counts_array(rows, "summary_binary_from_counts", "rows");
    const tessaline::WeightedCountsView counts =
        counts_view(value, c0, c1, records, "summary_binary_from_counts");
    const tessaline::SummaryStatistic stat = tessaline::parse_summary_statistic(representative);
    std::vector<tessaline::WeightedBinningSummary> out;
    {
        py::gil_scoped_release release;
        out = tessaline::summarize_binary_weighted(counts, missing_c0, missing_c1, missing_rows,
                                                   cut_points, stat);
    }
    return weighted_summary_dict(out);
}

// summary_binary_from_weighted_counts (median) of counts as
// count_column_weighted gives them with their index: not checked again.
py::dict summary_binary_from_indexed_weighted_counts(
    const b::DoubleArray& value, const b::DoubleArray& c0, const b::DoubleArray& c1,
    const py::object& rows, const py::object& index_c0, const py::object& index_c1,
    const py::object& index_rows, double missing_c0, double missing_c1, int64_t missing_rows,
    const b::DoubleArray& splits) {
    constexpr const char* where = "summary_binary_from_counts";
    const auto cuts = b::flat_view(splits);
    const std::vector<double> cut_points = tessaline::normalize_splits(cuts.data, cuts.size);
    const b::Int64Array records = counts_array(rows, where, "rows");
    const tessaline::WeightedCountsView counts = counts_view(value, c0, c1, records, where);
    const b::Int64Array index0_array = counts_array(index_c0, where, "index_c0");
    const b::Int64Array index1_array = counts_array(index_c1, where, "index_c1");
    const b::Int64Array index_rows_array = counts_array(index_rows, where, "index_rows");
    const auto i0 = b::flat_view(index0_array);
    const auto i1 = b::flat_view(index1_array);
    const auto ir = b::flat_view(index_rows_array);
    if (i1.size != i0.size || ir.size != i0.size) {
        throw std::invalid_argument(
            std::string(where) + ": index_c0, index_c1 and index_rows must have the same length");
    }
    std::vector<tessaline::WeightedBinningSummary> out;
    {
        py::gil_scoped_release release;
        out = tessaline::summarize_binary_weighted_indexed(counts, i0.data, i1.data, ir.data,
                                                           i0.size, missing_c0, missing_c1,
                                                           missing_rows, cut_points);
    }
    return weighted_summary_dict(out);
}

// The MDLP split log of weighted counts (finite values) and its cut points.
py::dict mdlp_splits_from_weighted_counts(const b::DoubleArray& value, const b::DoubleArray& c0,
                                          const b::DoubleArray& c1, const py::object& rows,
                                          int64_t minobs, int monotonicity, int mono_dir,
                                          double alpha_pos, double beta_struct,
                                          bool force_first_split) {
    const tessaline::WeightedValueCounts counts =
        weighted_counts(value, c0, c1, rows, "mdlp_from_counts");
    const tessaline::TessalineParams params =
        search_params("mdlp_from_counts", minobs, monotonicity, mono_dir, alpha_pos, beta_struct,
                      force_first_split);
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
    return lorenz_dict(c);
}

py::dict count_categories_weighted(const b::Int64Array& codes, const b::DoubleArray& labels,
                                   const b::DoubleArray& weights, std::size_t k, bool every,
                                   const py::object& kinds) {
    const tessaline::WeightKinds* given = given_kinds(kinds);
    const auto c = b::flat_view(codes);
    const auto y = b::flat_view(labels);
    const auto w = b::flat_view(weights);
    b::require_same_length(c, y, "count_categories_weighted");
    b::require_same_length(c, w, "count_categories_weighted");
    tessaline::WeightedCategoryCounts counts;
    {
        py::gil_scoped_release release;
        counts =
            tessaline::count_categories_weighted(c.data, y.data, w.data, c.size, k, every, given);
    }
    py::dict out;
    out["c0"] = b::array_from_vector(counts.c0);
    out["c1"] = b::array_from_vector(counts.c1);
    out["rows"] = b::array_from_vector(counts.rows);
    out["missing_c0"] = counts.missing_c0;
    out["missing_c1"] = counts.missing_c1;
    out["missing_rows"] = counts.missing_rows;
    if (every) {
        out["every"] = b::array_from_vector(counts.every);
        out["missing_every"] = counts.missing_every;
    }
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

}  // namespace

void register_weights(py::module_& m) {
    // Made only by weight_kinds, from weights it has read: a call trusts them.
    py::class_<tessaline::WeightKinds>(m, "WeightKinds",
                                       "The kinds of a set of weights, read once for many "
                                       "columns of the same rows.")
        .def_readonly("all_ones", &tessaline::WeightKinds::all_ones, "Whether every weight is 1.")
        .def_readonly("least", &tessaline::WeightKinds::least,
                      "The least weight above 0 (infinity where none is).")
        .def_readonly("most", &tessaline::WeightKinds::most, "The largest weight.")
        .def_readonly("zeros", &tessaline::WeightKinds::zeros, "Whether some weight is 0.");
    m.def(
        "weight_kinds",
        [](const b::DoubleArray& weights) {
            const auto w = b::flat_view(weights);
            py::gil_scoped_release release;
            return tessaline::weight_kinds(w.data, w.size);
        },
        py::arg("weights"),
        "The kinds of the weights (all 1, whole, least and largest), for the counts of any "
        "columns of their rows; a negative, NaN or infinite weight is refused.");
    m.def("count_values_weighted", &count_values_weighted, py::arg("x"), py::arg("labels"),
          py::arg("weights"),
          "Weights of the rows by distinct x (ascending) and class, with their records; NaN x "
          "and zero weights left out.");
    m.def("count_column_weighted", &count_column_weighted, py::arg("x"), py::arg("flags"),
          py::arg("weights"), py::arg("n_prebins") = 0, py::arg("max_class_parts") = 0,
          py::arg("min_class_share") = 0.0, py::arg("kinds") = py::none(),
          "Weights of the rows of known target (flags 0 or 1) by distinct x and class, with "
          "their records, and those of the rows whose x is NaN; zero weights left out. With "
          "n_prebins, under \"prebins\" the pre-bins of the default binning where they can be "
          "made.");
    m.def("prebins_from_weighted_counts", &prebins_from_weighted_counts, py::arg("value"),
          py::arg("c0"), py::arg("c1"), py::arg("rows"), py::arg("n_prebins"),
          py::arg("max_class_parts"), py::arg("min_class_share"),
          "Pre-bins of the default binning of merged weighted counts: edges and class weights.");
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
    m.def("summary_binary_from_indexed_weighted_counts",
          &summary_binary_from_indexed_weighted_counts, py::arg("value"), py::arg("c0"),
          py::arg("c1"), py::arg("rows"), py::arg("index_c0"), py::arg("index_c1"),
          py::arg("index_rows"), py::arg("missing_c0"), py::arg("missing_c1"),
          py::arg("missing_rows"), py::arg("splits"),
          "summary_binary_from_weighted_counts (median) of whole weights as "
          "count_column_weighted gives them with their index: not checked again.");
    m.def("mdlp_splits_from_weighted_counts", &mdlp_splits_from_weighted_counts, py::arg("value"),
          py::arg("c0"), py::arg("c1"), py::arg("rows"), py::arg("minobs"), py::arg("monotonicity"),
          py::arg("mono_dir"), py::arg("alpha_pos"), py::arg("beta_struct"),
          py::arg("force_first_split"), "MDLP split log of weighted counts of finite values.");
    m.def("lorenz_curve_from_weighted_counts", &lorenz_curve_from_weighted_counts, py::arg("value"),
          py::arg("c0"), py::arg("c1"), py::arg("rows"),
          "Lorenz curve, AUC and Gini from scores weighted by class.");
    m.def("count_categories_weighted", &count_categories_weighted, py::arg("codes"),
          py::arg("labels"), py::arg("weights"), py::arg("k"), py::arg("every") = false,
          py::arg("kinds") = py::none(),
          "Weights of non-events and events per category code, with their records; with "
          "every, also the weight of all rows of each code (\"every\", \"missing_every\").");
    m.def("event_rate_order_weighted", &event_rate_order_weighted, py::arg("c0"), py::arg("c1"),
          "Codes holding weight, by ascending weighted event rate, equal rates by code.");
    m.def("weigh_into_bins", &weigh_into_bins, py::arg("values"), py::arg("weights"),
          py::arg("splits"), "Weights summed per right-closed bin, the last sum for NaN.");
    m.def("compare_distributions_from_weights", &compare_distributions_from_weights,
          py::arg("weight_reference"), py::arg("weight_current"), py::arg("splits"),
          py::arg("epsilon"), "PSI and KS from the weight of each sample per bin.");
}

}  // namespace tessaline::native
