// Validation statistics.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <stdexcept>
#include <vector>

#include "common.hpp"

namespace tessaline::native {
namespace {

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

// Welch's test of equal means between each bin and the next, from the bins'
// weights, means and sums of squared deviations: k - 1 tests of k bins.
py::dict neighbour_mean_tests(const b::DoubleArray& weight, const b::DoubleArray& mean,
                              const b::DoubleArray& sum_sq_dev) {
    const auto w = b::flat_view(weight);
    const auto m = b::flat_view(mean);
    const auto d = b::flat_view(sum_sq_dev);
    if (m.size != w.size || d.size != w.size) {
        throw std::invalid_argument(
            "neighbour_mean_tests: weight, mean and sum_sq_dev must have the same length");
    }
    std::vector<double> statistic, df, pvalue;
    for (std::size_t i = 1; i < w.size; ++i) {
        const tessaline::MeanTest t = tessaline::equal_means_test(
            w.data[i - 1], m.data[i - 1], d.data[i - 1], w.data[i], m.data[i], d.data[i]);
        statistic.push_back(t.statistic);
        df.push_back(t.df);
        pvalue.push_back(t.pvalue);
    }
    return py::dict(py::arg("statistic") = b::array_from_vector(statistic),
                    py::arg("df") = b::array_from_vector(df),
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

}  // namespace

void register_validation(py::module_& m) {
    m.def("neighbour_rate_tests", &neighbour_rate_tests, py::arg("c0"), py::arg("c1"),
          "Chi-square test of equal event rates between each bin and the next.");
    m.def("neighbour_mean_tests", &neighbour_mean_tests, py::arg("weight"), py::arg("mean"),
          py::arg("sum_sq_dev"), "Welch's test of equal means between each bin and the next.");
    m.def("delong_auc", &delong_auc, py::arg("scores"), py::arg("labels"),
          "AUCs of k scores on the same rows and DeLong's covariance of them.");
}

}  // namespace tessaline::native
