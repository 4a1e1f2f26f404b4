// Python face of the one-call MDLP pipeline with its summary and counters.
#include "mdlp_params.hpp"
#include "summary_dict.hpp"
#include "tessaline/tessaline.hpp"
#include "wrappers.hpp"

namespace tessaline::bindings {

py::dict mdlp_full_raw(const DoubleArray& x, const DoubleArray& y, int64_t minobs, int monotonicity,
                       int mono_dir, double alpha_pos, double beta_struct, bool force_first_split,
                       const py::object& value, double percentile,
                       const std::string& representative) {
    const auto xs = flat_view(x);
    const auto ys = flat_view(y);
    require_same_length(xs, ys, "mdlp_full");
    const TessalineParams p =
        search_params(minobs, monotonicity, mono_dir, alpha_pos, beta_struct, force_first_split);
    const std::optional<double> threshold = optional_from_object(value);
    MdlpFullRawResult r;
    {
        py::gil_scoped_release unlocked;
        const SummaryStatistic stat = parse_summary_statistic(representative);
        r = fit_mdlp_full_from_raw(xs.data, ys.data, xs.size, p, threshold, percentile, stat);
    }
    return mdlp_full_raw_dict(r);
}

}  // namespace tessaline::bindings
