// The dict of a binary-target summary, returned by binning_summary_binary and
// as the "summary" of mdlp_full_raw: one array per BinningSummary field.
#ifndef TESSALINE_BINDINGS_SUMMARY_DICT_HPP
#define TESSALINE_BINDINGS_SUMMARY_DICT_HPP

#include <vector>

#include "convert.hpp"
#include "tessaline/tessaline.hpp"

namespace tessaline::bindings {

inline py::dict binning_summary_dict(const std::vector<BinningSummary>& rows) {
    using R = BinningSummary;
    return py::dict(py::arg("left") = column(rows, &R::left),
                    py::arg("right") = column(rows, &R::right),
                    py::arg("count") = column(rows, &R::count),
                    py::arg("percentage") = column(rows, &R::percentage),
                    py::arg("c0") = column(rows, &R::c0), py::arg("c1") = column(rows, &R::c1),
                    py::arg("event_rate") = column(rows, &R::event_rate),
                    py::arg("representative") = column(rows, &R::representative));
}

}  // namespace tessaline::bindings

#endif  // TESSALINE_BINDINGS_SUMMARY_DICT_HPP
