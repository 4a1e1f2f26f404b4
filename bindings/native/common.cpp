#include "common.hpp"

#include <stdexcept>
#include <string>
#include <vector>

namespace tessaline::native {

b::Int64Array counts_array(const py::object& counts, const char* where, const char* name) {
    return b::integer_array<int64_t>(counts, where, name);
}

b::Int32Array labels_array(const py::object& labels, const char* where) {
    return b::integer_array<int32_t>(labels, where, "labels");
}

CountsInPlace counts_in_place(const b::DoubleArray& value, const py::object& c0_counts,
                              const py::object& c1_counts, const char* where, const char* c0_name) {
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
                                    const char* c0_name) {
    const CountsInPlace in = counts_in_place(value, c0_counts, c1_counts, where, c0_name);
    return tessaline::ValueCounts{std::vector<double>(in.value.data, in.value.data + in.value.size),
                                  std::vector<int64_t>(in.c0.data, in.c0.data + in.c0.size),
                                  std::vector<int64_t>(in.c1.data, in.c1.data + in.c1.size)};
}

tessaline::TessalineParams search_params(const char* where, int64_t minobs, int monotonicity,
                                         int mono_dir, double alpha_pos, double beta_struct,
                                         bool force_first_split) {
    // Compared as unsigned, so that a negative mode is refused too.
    if (static_cast<unsigned>(monotonicity) > 3u) {
        throw std::invalid_argument(std::string(where) +
                                    ": monotonicity must be 0, 1, 2 or 3, not " +
                                    std::to_string(monotonicity));
    }
    tessaline::TessalineParams params;
    params.minobs = minobs;
    params.monotonicity = monotonicity;
    params.mono_dir = mono_dir;
    params.alpha_pos = alpha_pos;
    params.beta_struct = beta_struct;
    params.force_first_split = force_first_split;
    return params;
}

tessaline::OptimalBinningConstraints grouping_limits(std::size_t max_bins, double min_bin_share,
                                                     double min_events, double min_non_events,
                                                     tessaline::BinTrend trend, double max_pvalue) {
    tessaline::OptimalBinningConstraints limits;
    limits.max_bins = max_bins;
    limits.min_bin_share = min_bin_share;
    limits.min_events = min_events;
    limits.min_non_events = min_non_events;
    limits.trend = trend;
    limits.max_pvalue = max_pvalue;
    return limits;
}

const char* trend_name(tessaline::BinTrend trend) {
    static const char* const names[] = {"none", "ascending", "descending",
                                        "peak", "valley",    "auto"};
    return names[static_cast<int>(trend)];
}

py::dict lorenz_dict(const tessaline::LorenzCurve& curve) {
    using L = tessaline::LorenzPoint;
    return py::dict(
        py::arg("value") = b::column(curve.points, &L::value),
        py::arg("cumulative_non_event") = b::column(curve.points, &L::cumulative_non_event),
        py::arg("cumulative_event") = b::column(curve.points, &L::cumulative_event),
        py::arg("auc") = curve.auc, py::arg("gini") = curve.gini);
}

}  // namespace tessaline::native
