// Results from merged counts: the fits, cut points, summaries and curves
// that the rows give, computed from their counts by value.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cmath>
#include <stdexcept>
#include <string>
#include <vector>

#include "common.hpp"

namespace tessaline::native {
namespace {

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
    const tessaline::TessalineParams params =
        search_params("mdlp_full_from_counts", minobs, monotonicity, mono_dir, alpha_pos,
                      beta_struct, force_first_split);
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
    return lorenz_dict(c);
}

}  // namespace

void register_from_counts(py::module_& m) {
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
}

}  // namespace tessaline::native
