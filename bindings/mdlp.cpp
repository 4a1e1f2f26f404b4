// Python face of MDLP segmentation.
#include <stdexcept>
#include <vector>

#include "mdlp_params.hpp"
#include "summary_dict.hpp"
#include "tessaline/tessaline.hpp"
#include "wrappers.hpp"

namespace tessaline::bindings {

TessalineParams search_params(int64_t minobs, int monotonicity, int mono_dir, double alpha_pos,
                              double beta_struct, bool force_first_split) {
    TessalineParams p;
    p.alpha_pos = alpha_pos;
    p.beta_struct = beta_struct;
    p.minobs = minobs;
    p.mono_dir = mono_dir;
    p.monotonicity = monotonicity;
    p.force_first_split = force_first_split;
    // Compared as unsigned, so a negative mode fails as well.
    if (static_cast<unsigned>(p.monotonicity) > 3u) {
        throw std::invalid_argument("monotonicity debe estar en 0..3");
    }
    return p;
}

py::dict evaluate_segment(const DoubleArray& pto_corte, const Int64Array& c0, const Int64Array& c1,
                          std::size_t L, std::size_t R, int64_t minobs, int monotonicity,
                          int mono_dir, double alpha_pos, double beta_struct) {
    const auto pto = flat_view(pto_corte);
    const auto zeros = flat_view(c0);
    const auto ones = flat_view(c1);
    if (pto.size != zeros.size || pto.size != ones.size) {
        throw std::invalid_argument(
            "evaluate_segment: pto_corte, c0 y c1 deben tener la misma longitud");
    }
    if (pto.size == 0) throw std::invalid_argument("evaluate_segment: no hay boundaries en B");
    if (!(L < R && R < pto.size)) {
        throw std::invalid_argument("evaluate_segment: L y R deben cumplir L < R < length(B)");
    }
    const TessalineParams p =
        search_params(minobs, monotonicity, mono_dir, alpha_pos, beta_struct, false);

    // The rows are taken as they come: neither order nor counts are checked.
    std::vector<Boundary> table(pto.size);
    for (std::size_t i = 0; i < pto.size; ++i) {
        table[i] = Boundary{pto.data[i], zeros.data[i], ones.data[i]};
    }
    const SplitResult r = tessaline::evaluate_segment(table, make_segment(table, L, R), p);
    return py::dict(py::arg("found") = r.found, py::arg("pto") = r.pto, py::arg("gain") = r.gain,
                    py::arg("cost_pos") = r.cost_pos, py::arg("cost_struct") = r.cost_struct,
                    py::arg("cost") = r.cost, py::arg("idx") = r.idx);
}

py::dict mdlp_full(const DoubleArray& x, const Int32Array& y, int64_t minobs, int monotonicity,
                   int mono_dir, double alpha_pos, double beta_struct, bool force_first_split) {
    const auto xs = flat_view(x);
    const auto ys = flat_view(y);
    require_same_length(xs, ys, "mdlp_with_summary");
    const TessalineParams p =
        search_params(minobs, monotonicity, mono_dir, alpha_pos, beta_struct, force_first_split);
    // The caller's arrays are read in place, so the lock stays held.
    const SortedView view{xs.data, ys.data, xs.size};
    const MdlpFullResult r = tessaline::mdlp_full(view, p);
    const auto& s = r.summary;
    return py::dict(
        py::arg("mdlp") = split_log_dict(r.mdlp),
        py::arg("summary") = py::dict(py::arg("left") = column(s, &SummaryInterval::left),
                                      py::arg("right") = column(s, &SummaryInterval::right),
                                      py::arg("c0") = column(s, &SummaryInterval::c0),
                                      py::arg("c1") = column(s, &SummaryInterval::c1),
                                      py::arg("total") = column(s, &SummaryInterval::total),
                                      py::arg("p1") = column(s, &SummaryInterval::p1)));
}

py::dict mdlp(const DoubleArray& x, const Int32Array& y, int64_t minobs, int monotonicity,
              int mono_dir, double alpha_pos, double beta_struct, bool force_first_split) {
    const auto xs = flat_view(x);
    const auto ys = flat_view(y);
    require_same_length(xs, ys, "mdlp");
    const TessalineParams p =
        search_params(minobs, monotonicity, mono_dir, alpha_pos, beta_struct, force_first_split);
    // The caller's arrays are read in place, so the lock stays held.
    const SortedView view{xs.data, ys.data, xs.size};
    return split_log_dict(tessaline::mdlp(view, p));
}

py::dict mdlp_raw(const DoubleArray& x, const DoubleArray& y, int64_t minobs, int monotonicity,
                  int mono_dir, double alpha_pos, double beta_struct, bool force_first_split,
                  const py::object& value, double percentile) {
    const auto xs = flat_view(x);
    const auto ys = flat_view(y);
    require_same_length(xs, ys, "mdlp");
    const TessalineParams p =
        search_params(minobs, monotonicity, mono_dir, alpha_pos, beta_struct, force_first_split);
    const std::optional<double> threshold = optional_from_object(value);
    std::vector<SplitResult> log;
    {
        // The converted arrays stay alive until the wrapper returns.
        py::gil_scoped_release unlocked;
        log = fit_mdlp_from_raw(xs.data, ys.data, xs.size, p, threshold, percentile);
    }
    return split_log_dict(log);
}

}  // namespace tessaline::bindings
