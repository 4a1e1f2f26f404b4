// The dicts of results shared by both modules: a binary-target summary (from
// binning_summary_binary, and the "summary" of mdlp_full_raw), the split log
// of every MDLP function, and the whole result of the raw full MDLP.
#ifndef TESSALINE_BINDINGS_SUMMARY_DICT_HPP
#define TESSALINE_BINDINGS_SUMMARY_DICT_HPP

#include <vector>

#include "convert.hpp"
#include "tessaline/tessaline.hpp"

namespace tessaline::bindings {

inline py::dict binning_summary_dict(const std::vector<BinningSummary>& rows) {
    using R = BinningSummary;
    return py::dict(
        py::arg("left") = column(rows, &R::left), py::arg("right") = column(rows, &R::right),
        py::arg("count") = column(rows, &R::count),
        py::arg("percentage") = column(rows, &R::percentage), py::arg("c0") = column(rows, &R::c0),
        py::arg("c1") = column(rows, &R::c1), py::arg("event_rate") = column(rows, &R::event_rate),
        py::arg("representative") = column(rows, &R::representative));
}

// One array per reported SplitResult field, one element per evaluated segment:
// "found", "pto", "gain", "cost_pos", "cost_struct", "cost", "idx".
inline py::dict split_log_dict(const std::vector<SplitResult>& log) {
    return py::dict(py::arg("found") = column(log, &SplitResult::found),
                    py::arg("pto") = column(log, &SplitResult::pto),
                    py::arg("gain") = column(log, &SplitResult::gain),
                    py::arg("cost_pos") = column(log, &SplitResult::cost_pos),
                    py::arg("cost_struct") = column(log, &SplitResult::cost_struct),
                    py::arg("cost") = column(log, &SplitResult::cost),
                    py::arg("idx") = column(log, &SplitResult::idx));
}

// "mdlp" (the split log), "summary" and "metadata" (the preprocessing counters).
inline py::dict mdlp_full_raw_dict(const MdlpFullRawResult& r) {
    return py::dict(
        py::arg("mdlp") = split_log_dict(r.mdlp),
        py::arg("summary") = binning_summary_dict(r.summary),
        py::arg("metadata") = py::dict(
            py::arg("n_input") = r.n_input, py::arg("n_used") = r.n_used,
            py::arg("n_missing_x") = r.n_missing_x, py::arg("n_missing_y") = r.n_missing_y,
            py::arg("n_missing_both") = r.n_missing_both, py::arg("n_non_finite") = r.n_non_finite,
            py::arg("target_was_binary") = r.target_was_binary,
            py::arg("threshold") = r.threshold));
}

}  // namespace tessaline::bindings

#endif  // TESSALINE_BINDINGS_SUMMARY_DICT_HPP
