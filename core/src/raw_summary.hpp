// Pieces of the raw full MDLP's summary shared by the row-wise pipeline and
// its rebuild from merged counts (not part of the public header).
#ifndef TESSALINE_RAW_SUMMARY_HPP
#define TESSALINE_RAW_SUMMARY_HPP

#include <cstddef>

#include "tessaline/tessaline.hpp"

namespace tessaline {

// count / denominator, 0 for an empty denominator.
inline double share(std::size_t count, std::size_t denominator) {
    return denominator == 0 ? 0.0 : static_cast<double>(count) / static_cast<double>(denominator);
}

// Closes the summary of `r` with the row of the records whose x is missing
// (when there are any; its share is over the usable and missing records, as
// every row's) and copies the preprocessing counters into `r`.
void close_raw_summary(const PreprocessResult& counters, MdlpFullRawResult& r);

}  // namespace tessaline

#endif  // TESSALINE_RAW_SUMMARY_HPP
