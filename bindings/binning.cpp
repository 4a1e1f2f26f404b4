// Python face of unsupervised binning: cut points, bin assignment and
// per-bin summaries. All four functions release the interpreter lock while
// the core computes; the input arrays stay alive for the whole call.
#include <cmath>
#include <limits>
#include <stdexcept>
#include <vector>

#include "tessaline/tessaline.hpp"
#include "summary_dict.hpp"
#include "wrappers.hpp"

namespace tessaline::bindings {

namespace {

// Caller-given cut points as a clean split vector: every element in memory
// order, sorted ascending, repeats merged; a NaN or infinite one is an error.
std::vector<double> splits_from_array(const DoubleArray& splits) {
    const auto s = flat_view(splits);
    if (s.size == 0) return {};
    return normalize_splits(s.data, s.size);
}

// "custom" cut points are used exactly as given, so they must already be a
// one-dimensional, finite, strictly increasing sequence.
std::vector<double> checked_custom_splits(const DoubleArray& custom_splits) {
    if (custom_splits.ndim() != 1) {
        throw std::invalid_argument("binning: los puntos de corte deben ser unidimensionales");
    }
    const auto s = flat_view(custom_splits);
    for (std::size_t i = 0; i < s.size; ++i) {
        const double v = s.data[i];
        const bool finite = std::fabs(v) <= std::numeric_limits<double>::max();
        if (!finite || (i > 0 && !(v > s.data[i - 1]))) {
            throw std::invalid_argument(
                "binning: los puntos de corte deben ser finitos, crecientes y únicos");
        }
    }
    return std::vector<double>(s.data, s.data + s.size);
}

}  // namespace

py::array_t<double> binning_splits(const DoubleArray& x, const std::string& method,
                                   std::size_t n_bins, const std::string& range,
                                   double lower_quantile, double upper_quantile, double k,
                                   const DoubleArray& custom_splits) {
    const auto xs = flat_view(x);
    // Errors in custom cut points are reported before the method is looked at.
    const bool custom = method == "custom";
    std::vector<double> cuts;
    if (custom) cuts = checked_custom_splits(custom_splits);
    {
        py::gil_scoped_release release;
        if (method == "equal_width") {
            cuts = equal_width_splits(xs.data, xs.size, n_bins, parse_width_range(range),
                                      lower_quantile, upper_quantile, k);
        } else if (method == "quantile") {
            cuts = quantile_splits(xs.data, xs.size, n_bins);
        } else if (!custom) {
            throw std::invalid_argument("binning: method no reconocido");
        }
    }
    return array_from_vector(cuts);
}

py::array_t<int64_t> binning_transform(const DoubleArray& x, const DoubleArray& splits) {
    const auto xs = flat_view(x);
    const std::vector<double> cuts = splits_from_array(splits);
    // The result array is made first and the indices are written straight
    // into it, once.
    py::array_t<int64_t> bins(static_cast<py::ssize_t>(xs.size));
    int64_t* out = bins.mutable_data();
    {
        py::gil_scoped_release release;
        assign_bins_into(xs.data, xs.size, cuts, out);
    }
    return bins;
}

py::dict binning_summary_binary(const DoubleArray& x, const Int32Array& y,
                                const DoubleArray& splits, const std::string& representative) {
    const auto xs = flat_view(x);
    const auto ys = flat_view(y);
    require_same_length(xs, ys, "binning");
    const std::vector<double> cuts = splits_from_array(splits);
    std::vector<BinningSummary> rows;
    {
        py::gil_scoped_release release;
        const SummaryStatistic stat = parse_summary_statistic(representative);
        rows = summarize_binary(xs.data, ys.data, xs.size, cuts, stat);
    }
    return binning_summary_dict(rows);
}

py::dict binning_summary_continuous(const DoubleArray& x, const DoubleArray& y,
                                    const DoubleArray& splits, const std::string& representative) {
    const auto xs = flat_view(x);
    const auto ys = flat_view(y);
    require_same_length(xs, ys, "binning");
    const std::vector<double> cuts = splits_from_array(splits);
    std::vector<ContinuousBinningSummary> rows;
    {
        py::gil_scoped_release release;
        const SummaryStatistic stat = parse_summary_statistic(representative);
        rows = summarize_continuous(xs.data, ys.data, xs.size, cuts, stat);
    }
    using R = ContinuousBinningSummary;
    return py::dict(py::arg("left") = column(rows, &R::left),
                    py::arg("right") = column(rows, &R::right),
                    py::arg("count") = column(rows, &R::count),
                    py::arg("percentage") = column(rows, &R::percentage),
                    py::arg("representative") = column(rows, &R::representative),
                    py::arg("target_mean") = column(rows, &R::target_mean),
                    py::arg("target_p25") = column(rows, &R::target_p25),
                    py::arg("target_median") = column(rows, &R::target_median),
                    py::arg("target_p75") = column(rows, &R::target_p75));
}

}  // namespace tessaline::bindings
