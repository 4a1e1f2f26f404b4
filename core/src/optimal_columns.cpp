// The searches of many columns' pre-bins in one call, the columns shared
// among threads: a table of short columns otherwise spends, column after
// column, a search that no other column's work overlaps.
#include "column_threads.hpp"
#include "tessaline/tessaline.hpp"

namespace tessaline {

std::vector<std::vector<OptimalBinning>> optimal_binnings_columns(
    const std::vector<PrebinSearch>& searches, std::size_t n_threads) {
    std::vector<std::vector<OptimalBinning>> out(searches.size());
    for_each_column_on_threads(searches.size(), n_threads, [&](std::size_t i) {
        const PrebinSearch& s = searches[i];
        out[i] = optimal_binnings(s.c0, s.c1, s.n_prebins, s.constraints, s.trends);
    });
    return out;
}

}  // namespace tessaline
