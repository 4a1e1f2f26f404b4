// Many columns counted and pre-binned in one call, the columns shared among
// threads: a table of short columns spends less in starting each column than
// in a call per column, and no thread waits on another for the interpreter.
#include "column_threads.hpp"
#include "tessaline/tessaline.hpp"

namespace tessaline {

std::vector<CountedPrebins> counted_prebins_columns(const std::vector<LabelledColumn>& columns,
                                                    std::size_t n_prebins,
                                                    std::size_t max_class_parts,
                                                    double min_class_share, std::size_t n_threads) {
    std::vector<CountedPrebins> out(columns.size());
    for_each_column_on_threads(columns.size(), n_threads, [&](std::size_t i) {
        out[i] = counted_prebins(columns[i].x, columns[i].y, columns[i].n, n_prebins,
                                 max_class_parts, min_class_share);
    });
    return out;
}

}  // namespace tessaline
