// assign_bins against a plain count of the cut points below each value, with
// clean cut vectors and with ascending ones that repeat values (which the
// function accepts), over short inputs and inputs long enough for the blocked
// search.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "fuzz_input.hpp"
#include "tessaline/tessaline.hpp"

using namespace fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    Reader in(data, size);
    const uint8_t mode = in.byte();
    std::vector<double> cuts = in.reals(in.size(600));
    if (mode & 1) {
        cuts = clean_cuts(cuts);
    } else {
        // Ascending with repeats (a signed zero next to an unsigned one too).
        cuts.erase(std::remove_if(cuts.begin(), cuts.end(), [](double v) { return !finite_value(v); }),
                   cuts.end());
        std::sort(cuts.begin(), cuts.end());
    }
    std::vector<double> x = mode & 2 ? synthesise(in, in.size(20000)) : in.reals(in.size(2048));

    const std::vector<int64_t> bins = tessaline::assign_bins(x.data(), x.size(), cuts);
    FUZZ_CHECK(bins.size() == x.size());
    for (std::size_t i = 0; i < x.size(); ++i) {
        const int64_t want =
            std::isnan(x[i]) ? -1 : static_cast<int64_t>(reference_bin(cuts, x[i]));
        FUZZ_CHECK_MSG(bins[i] == want, "value " + std::to_string(i));
        FUZZ_CHECK(bins[i] >= -1 && bins[i] <= static_cast<int64_t>(cuts.size()));
    }
    return 0;
}
