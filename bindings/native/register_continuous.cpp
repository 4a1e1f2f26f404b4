// Continuous target: sums of the target by value, exact sums of their
// partials, and the grouping of pre-bins by between-group sum of squares.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "common.hpp"

namespace tessaline::native {
namespace {

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

// The sums of each row of counts by value or bin, read in place from
// columns of one length: `rows` converted and kept here (the other arrays
// must outlive the views), every sum of squared deviations finite and not
// negative.
struct SumColumns {
    b::Int64Array row_array;
    b::FlatView<int64_t> rows;
    b::FlatView<double> weight, sum, sum_sq, sum_sq_dev;
};

SumColumns sum_columns(const py::object& rows, const b::DoubleArray& weight,
                       const b::DoubleArray& sum, const b::DoubleArray& sum_sq,
                       const b::DoubleArray& sum_sq_dev, const char* where) {
    SumColumns out{counts_array(rows, where, "rows"), {}, {}, {}, {}, {}};
    out.rows = b::flat_view(out.row_array);
    out.weight = b::flat_view(weight);
    out.sum = b::flat_view(sum);
    out.sum_sq = b::flat_view(sum_sq);
    out.sum_sq_dev = b::flat_view(sum_sq_dev);
    const std::size_t n = out.rows.size;
    if (out.weight.size != n || out.sum.size != n || out.sum_sq.size != n ||
        out.sum_sq_dev.size != n) {
        throw std::invalid_argument(
            std::string(where) +
            ": rows, weight, sum, sum_sq and sum_sq_dev must have the same length");
    }
    for (std::size_t i = 0; i < n; ++i) {
        const double d = out.sum_sq_dev.data[i];
        // Not negative and finite (NaN fails both).
        if (!(d >= 0.0 && d <= std::numeric_limits<double>::max())) {
            throw std::invalid_argument(std::string(where) +
                                        ": sum_sq_dev must hold finite non-negative sums");
        }
    }
    return out;
}

// The sums of each row from columns of one length (min and max optional: NaN).
std::vector<tessaline::ContinuousStats> continuous_stats(
    const py::object& rows, const b::DoubleArray& weight, const b::DoubleArray& sum,
    const b::DoubleArray& sum_sq, const b::DoubleArray& sum_sq_dev, const char* where) {
    const SumColumns c = sum_columns(rows, weight, sum, sum_sq, sum_sq_dev, where);
    std::vector<tessaline::ContinuousStats> out(c.rows.size);
    for (std::size_t i = 0; i < c.rows.size; ++i) {
        out[i].rows = c.rows.data[i];
        out[i].weight = c.weight.data[i];
        out[i].sum = c.sum.data[i];
        out[i].sum_sq = c.sum_sq.data[i];
        out[i].sum_sq_dev = c.sum_sq_dev.data[i];
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
    tessaline::ContinuousCountColumns c;
    {
        py::gil_scoped_release release;
        c = tessaline::count_continuous_columns(xs.data, ys.data, w, xs.size);
    }
    // The columns are handed over as they are, without a copy, and kept for
    // the next count once the arrays are freed.
    py::dict out(py::arg("rows") = array_recycling(std::move(c.rows)),
                 py::arg("weight") = array_recycling(std::move(c.weight)),
                 py::arg("sum") = array_recycling(std::move(c.sum)),
                 py::arg("sum_sq") = array_recycling(std::move(c.sum_sq)),
                 py::arg("sum_sq_dev") = array_recycling(std::move(c.sum_sq_dev)),
                 py::arg("min") = array_recycling(std::move(c.min)),
                 py::arg("max") = array_recycling(std::move(c.max)));
    out["value"] = array_recycling(std::move(c.value));
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

// Values ascending with their sums, as count_continuous_values gives them,
// checked and read in place (the arrays must outlive the view; `rows` is
// kept here, converted where it is not int64).
struct ValueColumns {
    b::Int64Array row_array;
    tessaline::ContinuousValueColumns columns;
};

ValueColumns value_columns(const b::DoubleArray& value, const py::object& rows,
                           const b::DoubleArray& weight, const b::DoubleArray& sum,
                           const b::DoubleArray& sum_sq, const b::DoubleArray& sum_sq_dev,
                           const char* where) {
    SumColumns c = sum_columns(rows, weight, sum, sum_sq, sum_sq_dev, where);
    ValueColumns out{std::move(c.row_array), {}};
    const auto r = c.rows;
    const auto v = b::flat_view(value);
    if (v.size != r.size) {
        throw std::invalid_argument(std::string(where) + ": one value per row of sums is needed");
    }
    for (std::size_t i = 0; i < v.size; ++i) {
        if (std::isnan(v.data[i]) || (i > 0 && !(v.data[i] > v.data[i - 1]))) {
            throw std::invalid_argument(std::string(where) +
                                        ": values must be distinct, ascending and not NaN");
        }
        if (r.data[i] < 0) {
            throw std::invalid_argument(std::string(where) + ": rows must not be negative");
        }
    }
    out.columns = {
        v.size,  v.data, r.data, c.weight.data, c.sum.data, c.sum_sq.data, c.sum_sq_dev.data,
        nullptr, nullptr};
    return out;
}

py::array_t<double> weighted_quantile_cuts(const b::DoubleArray& value, const py::object& rows,
                                           const b::DoubleArray& weight, std::size_t n_bins) {
    const ValueColumns c =
        value_columns(value, rows, weight, weight, weight, weight, "weighted_quantile_cuts");
    std::vector<double> cuts;
    {
        py::gil_scoped_release release;
        cuts = tessaline::weighted_quantile_cuts(c.columns, n_bins);
    }
    return b::array_from_vector(cuts);
}

py::dict continuous_interval_stats(const b::DoubleArray& value, const py::object& rows,
                                   const b::DoubleArray& weight, const b::DoubleArray& sum,
                                   const b::DoubleArray& sum_sq, const b::DoubleArray& sum_sq_dev,
                                   const b::DoubleArray& min, const b::DoubleArray& max,
                                   const b::DoubleArray& splits) {
    constexpr const char* where = "continuous_interval_stats";
    ValueColumns c = value_columns(value, rows, weight, sum, sum_sq, sum_sq_dev, where);
    const auto lo = b::flat_view(min);
    const auto hi = b::flat_view(max);
    if (lo.size != c.columns.size || hi.size != c.columns.size) {
        throw std::invalid_argument(std::string(where) + ": one min and max per value is needed");
    }
    c.columns.min = lo.data;
    c.columns.max = hi.data;
    const auto cuts = b::flat_view(splits);
    const std::vector<double> cut_points(cuts.data, cuts.data + cuts.size);
    std::vector<tessaline::ContinuousStats> out;
    {
        py::gil_scoped_release release;
        out = tessaline::continuous_interval_stats(c.columns, cut_points);
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

// The best contiguous grouping of ordered pre-bins of a continuous target
// under each trend, one dict per trend: the groups as first and last
// pre-bin, the trend met, the criterion, and "message" naming the limit no
// grouping meets (empty when one was found).
py::list continuous_binnings(const b::DoubleArray& weight, const b::DoubleArray& sum,
                             const b::DoubleArray& rows, std::size_t max_bins, double min_bin_share,
                             double min_rows, const py::list& trends, double max_pvalue,
                             const b::DoubleArray& sum_sq_dev) {
    const auto w = b::flat_view(weight);
    const auto s = b::flat_view(sum);
    const auto r = b::flat_view(rows);
    const auto d = b::flat_view(sum_sq_dev);
    if (s.size != w.size || r.size != w.size) {
        throw std::invalid_argument(
            "continuous_binning: weight, sum and rows must have the same length");
    }
    if (d.size != 0 && d.size != w.size) {
        throw std::invalid_argument(
            "continuous_binning: sum_sq_dev must be empty or have one value per pre-bin");
    }
    tessaline::ContinuousBinningConstraints limits;
    limits.max_bins = max_bins;
    limits.min_bin_share = min_bin_share;
    limits.min_rows = min_rows;
    std::vector<tessaline::BinTrend> parsed;
    for (const py::handle trend : trends)
        parsed.push_back(tessaline::parse_bin_trend(trend.cast<std::string>()));
    limits.max_pvalue = max_pvalue;
    std::vector<tessaline::ContinuousBinning> found;
    {
        py::gil_scoped_release release;
        found = tessaline::continuous_binnings(w.data, s.data, r.data, w.size, limits, parsed,
                                               d.size != 0 ? d.data : nullptr);
    }
    py::list out;
    for (const auto& best : found) {
        std::vector<int64_t> first, last;
        for (const auto& g : best.groups) {
            first.push_back(static_cast<int64_t>(g.first));
            last.push_back(static_cast<int64_t>(g.last));
        }
        out.append(py::dict(
            py::arg("message") =
                std::string(tessaline::continuous_binning_status_message(best.status)),
            py::arg("trend") = trend_name(best.trend),
            py::arg("first") = b::array_from_vector(first),
            py::arg("last") = b::array_from_vector(last), py::arg("between_ss") = best.between_ss,
            py::arg("overall_mean") = best.overall_mean));
    }
    return out;
}

py::dict continuous_binning(const b::DoubleArray& weight, const b::DoubleArray& sum,
                            const b::DoubleArray& rows, std::size_t max_bins, double min_bin_share,
                            double min_rows, const std::string& trend, double max_pvalue,
                            const b::DoubleArray& sum_sq_dev) {
    py::list trends;
    trends.append(trend);
    return continuous_binnings(weight, sum, rows, max_bins, min_bin_share, min_rows, trends,
                               max_pvalue, sum_sq_dev)[0]
        .cast<py::dict>();
}

}  // namespace

void register_continuous(py::module_& m) {
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
          py::arg("trend"), py::arg("max_pvalue") = 1.0,
          py::arg("sum_sq_dev") = py::array_t<double>(0),
          "Contiguous grouping of ordered pre-bins of largest between-group sum of squares, "
          "neighbours' means differing at most at p-value max_pvalue (which needs sum_sq_dev).");
    m.def("continuous_binnings", &continuous_binnings, py::arg("weight"), py::arg("sum"),
          py::arg("rows"), py::arg("max_bins"), py::arg("min_bin_share"), py::arg("min_rows"),
          py::arg("trends"), py::arg("max_pvalue") = 1.0,
          py::arg("sum_sq_dev") = py::array_t<double>(0),
          "continuous_binning under each of the trends, searched in one pass: one dict per "
          "trend.");
}

}  // namespace tessaline::native
