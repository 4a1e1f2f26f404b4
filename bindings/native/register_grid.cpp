// The optimal product grid of two axes of pre-bins of a binary target.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "common.hpp"

namespace tessaline::native {
namespace {

py::array starts_array(const std::vector<std::size_t>& starts) {
    std::vector<int64_t> out(starts.begin(), starts.end());
    return b::array_from_vector(out);
}

// The grid of largest IV of the cells (c0, c1: n_x * n_y counts, x major):
// the first pre-bin of each group of either axis, the trends met, the IV,
// whether the optimum is proved, and "message" saying why no grid was found
// (empty when one was).
py::dict grid_binning(const b::DoubleArray& c0, const b::DoubleArray& c1, std::size_t n_x,
                      std::size_t n_y, std::size_t max_bins_x, std::size_t max_bins_y,
                      double min_cell_share, const std::string& trend_x, const std::string& trend_y,
                      std::size_t max_exhaustive) {
    const auto a = b::flat_view(c0);
    const auto e = b::flat_view(c1);
    if (a.size != e.size || a.size != n_x * n_y) {
        throw std::invalid_argument("grid_binning: c0 and c1 must hold n_x * n_y cells");
    }
    tessaline::GridBinningConstraints limits;
    limits.max_bins_x = max_bins_x;
    limits.max_bins_y = max_bins_y;
    limits.min_cell_share = min_cell_share;
    limits.trend_x = tessaline::parse_bin_trend(trend_x);
    limits.trend_y = tessaline::parse_bin_trend(trend_y);
    limits.max_exhaustive = max_exhaustive;
    tessaline::GridBinning grid;
    {
        py::gil_scoped_release release;
        grid = tessaline::grid_binning(a.data, e.data, n_x, n_y, limits);
    }
    py::dict out;
    out["message"] = grid.message;
    out["exact"] = grid.exact;
    out["x_starts"] = starts_array(grid.x_starts);
    out["y_starts"] = starts_array(grid.y_starts);
    out["trend_x"] = trend_name(grid.trend_x);
    out["trend_y"] = trend_name(grid.trend_y);
    out["iv"] = grid.iv;
    return out;
}

// The partition into at most max_bins_x * max_bins_y rectangles of largest
// IV among those that cuts of whole rectangles make (stripes under a trend
// along one axis): x_first, x_last, y_first, y_last (pre-bins, inclusive) of
// each, the trends met, the IV, and "message" saying why none was found
// (empty when one was).
py::dict grid_rectangles(const b::DoubleArray& c0, const b::DoubleArray& c1, std::size_t n_x,
                         std::size_t n_y, std::size_t max_bins_x, std::size_t max_bins_y,
                         double min_cell_share, const std::string& trend_x,
                         const std::string& trend_y) {
    const auto a = b::flat_view(c0);
    const auto e = b::flat_view(c1);
    if (a.size != e.size || a.size != n_x * n_y) {
        throw std::invalid_argument("grid_rectangles: c0 and c1 must hold n_x * n_y cells");
    }
    tessaline::GridRectanglesConstraints limits;
    limits.max_bins_x = max_bins_x;
    limits.max_bins_y = max_bins_y;
    limits.min_cell_share = min_cell_share;
    limits.trend_x = tessaline::parse_bin_trend(trend_x);
    limits.trend_y = tessaline::parse_bin_trend(trend_y);
    tessaline::GridRectangles found;
    {
        py::gil_scoped_release release;
        found = tessaline::grid_rectangles(a.data, e.data, n_x, n_y, limits);
    }
    std::vector<std::size_t> x_first, x_last, y_first, y_last;
    for (const auto& r : found.rectangles) {
        x_first.push_back(r.x_first);
        x_last.push_back(r.x_last);
        y_first.push_back(r.y_first);
        y_last.push_back(r.y_last);
    }
    py::dict out;
    out["message"] = found.message;
    out["exact"] = found.exact;
    out["x_first"] = starts_array(x_first);
    out["x_last"] = starts_array(x_last);
    out["y_first"] = starts_array(y_first);
    out["y_last"] = starts_array(y_last);
    out["trend_x"] = trend_name(found.trend_x);
    out["trend_y"] = trend_name(found.trend_y);
    out["iv"] = found.iv;
    return out;
}

}  // namespace

void register_grid(py::module_& m) {
    m.def("grid_binning", &grid_binning, py::arg("c0"), py::arg("c1"), py::arg("n_x"),
          py::arg("n_y"), py::arg("max_bins_x"), py::arg("max_bins_y"), py::arg("min_cell_share"),
          py::arg("trend_x"), py::arg("trend_y"), py::arg("max_exhaustive") = 4096,
          "Product grid of two axes of pre-bins of largest IV of its cells under the limits.");
    m.def("grid_rectangles", &grid_rectangles, py::arg("c0"), py::arg("c1"), py::arg("n_x"),
          py::arg("n_y"), py::arg("max_bins_x"), py::arg("max_bins_y"), py::arg("min_cell_share"),
          py::arg("trend_x"), py::arg("trend_y"),
          "Partition of a grid of pre-bins into rectangles, by cuts, of largest IV of its cells.");
}

}  // namespace tessaline::native
