// Two-variable binning: the product grid of two ordered axes of pre-bins with
// the largest information value of its cells.
//
// Once the groups of one axis (the rows) are fixed, the IV of a grid is a sum
// over the column groups of the IV of their cells, so the best grouping of the
// columns is the exact grouping search of one axis (grouping_search.hpp): a
// column group is allowed when each of its cells meets the share and, under a
// trend along the rows, its cells follow it; a trend along the columns is a
// condition on neighbouring column groups, which the search takes as its limit
// between neighbours. Trying every grouping of the rows (the axis with fewer)
// then gives the optimum over all grids exactly. When that would take too
// long on both axes (too many groupings, or too many pre-bins to search for
// each), the search tries every grouping of the rows into as few groups as it
// can afford (the optimum among grids of so few rows), then
// alternates from there and from one column group with its best rows: the best
// columns given the rows, the best rows given those columns, until the IV
// stops rising. Each step is exact and the IV never falls, but the grid it
// ends on is a local optimum, so the result says it is not proved.
#include <algorithm>
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "grouping_search.hpp"
#include "numeric.hpp"
#include "tessaline/tessaline.hpp"

namespace tessaline {
namespace {

constexpr const char* kWho = "grid_binning";
// Rounds of the alternating search: each raises the IV, so it ends well before.
constexpr int kMaxRounds = 64;
// Operations (about a nanosecond each) beyond which trying every grouping of
// one axis would keep an analyst waiting: the search alternates instead.
constexpr double kMaxWork = 5e8;

// Counts of a grid of cells, (row, column) at row * cols + column.
struct Cells {
    std::size_t rows = 0, cols = 0;
    std::vector<double> c0, c1;
};

struct Totals {
    double c0 = 0.0, c1 = 0.0;
};

Cells transposed(const Cells& m) {
    Cells t{m.cols, m.rows, std::vector<double>(m.c0.size()), std::vector<double>(m.c1.size())};
    for (std::size_t r = 0; r < m.rows; ++r)
        for (std::size_t c = 0; c < m.cols; ++c) {
            t.c0[c * m.rows + r] = m.c0[r * m.cols + c];
            t.c1[c * m.rows + r] = m.c1[r * m.cols + c];
        }
    return t;
}

// The rows of `m` summed into the groups beginning at `starts`, top to bottom.
Cells rows_grouped(const Cells& m, const std::vector<std::size_t>& starts) {
    Cells g{starts.size(), m.cols, std::vector<double>(starts.size() * m.cols, 0.0),
            std::vector<double>(starts.size() * m.cols, 0.0)};
    for (std::size_t k = 0; k < starts.size(); ++k) {
        const std::size_t end = k + 1 < starts.size() ? starts[k + 1] : m.rows;
        for (std::size_t r = starts[k]; r < end; ++r)
            for (std::size_t c = 0; c < m.cols; ++c) {
                g.c0[k * m.cols + c] += m.c0[r * m.cols + c];
                g.c1[k * m.cols + c] += m.c1[r * m.cols + c];
            }
    }
    return g;
}

double sign_of(BinTrend trend) {
    return trend == BinTrend::descending ? -1.0 : 1.0;
}

// What one step searches: the grouping of the columns of `grouped` (rows
// already in their groups), a trend across the row groups within every
// column group, and one across the column groups within every row group.
struct Step {
    std::size_t max_bins;
    double min_cell_share;
    BinTrend across_rows;
    BinTrend across_cols;
};

// The best grouping of the columns given the row groups: trace.best.value is
// the IV of the grid's cells (kUnreached when none meets the limits).
grouping::Trace best_columns(const Cells& grouped, const Totals& t, const Step& s) {
    const std::size_t n = grouped.cols, rows = grouped.rows;
    const double total = t.c0 + t.c1;
    grouping::Groups groups = grouping::sized_groups(n);
    std::vector<double> woe(groups.value.size() * rows);
    std::vector<double> s0(rows), s1(rows);
    const double row_sign = sign_of(s.across_rows);
    for (std::size_t first = 0; first < n; ++first) {
        std::fill(s0.begin(), s0.end(), 0.0);
        std::fill(s1.begin(), s1.end(), 0.0);
        for (std::size_t last = first; last < n; ++last) {
            const std::size_t g = grouping::tri(first, last);
            bool allowed = true;
            double value = 0.0;
            for (std::size_t r = 0; r < rows; ++r) {
                s0[r] += grouped.c0[r * n + last];
                s1[r] += grouped.c1[r * n + last];
                const double cell = s0[r] + s1[r];
                const GroupWoe w = group_woe(s0[r], s1[r], t.c0, t.c1);
                woe[g * rows + r] = w.woe;
                value += w.iv;
                // An empty cell has no WoE to show, so a grid never makes one.
                allowed = allowed && cell > 0.0 && cell / total >= s.min_cell_share;
                if (r > 0 && s.across_rows != BinTrend::none)
                    allowed = allowed && row_sign * woe[g * rows + r - 1] < row_sign * w.woe;
            }
            groups.value[g] = value;
            groups.level[g] = 0.0;
            groups.allowed[g] = allowed;
        }
    }
    grouping::Limits limits;
    limits.max_bins = s.max_bins;
    limits.who = kWho;
    if (s.across_cols != BinTrend::none) {
        const double col_sign = sign_of(s.across_cols);
        limits.neighbours = [&woe, rows, col_sign](const std::vector<std::size_t>& before,
                                                   const std::vector<std::size_t>& after,
                                                   std::vector<char>& allowed) {
            allowed.resize(before.size() * after.size());
            for (std::size_t a = 0; a < after.size(); ++a)
                for (std::size_t b = 0; b < before.size(); ++b) {
                    bool rising = true;
                    for (std::size_t r = 0; r < rows && rising; ++r)
                        rising = col_sign * woe[before[b] * rows + r] <
                                 col_sign * woe[after[a] * rows + r];
                    allowed[a * before.size() + b] = rising;
                }
        };
    }
    return grouping::best_grouping(groups, limits, BinTrend::none);
}

std::vector<std::size_t> starts_of(const grouping::Trace& trace) {
    std::vector<std::size_t> starts;
    for (const auto& group : trace.groups) starts.push_back(group.first);
    return starts;
}

// A grid found so far, its rows and columns in the orientation searched.
struct Found {
    grouping::Reach best;  // IV, and cells for the tie
    std::vector<std::size_t> row_starts, col_starts;
    BinTrend across_rows = BinTrend::none, across_cols = BinTrend::none;
};

void keep_if_better(Found& found, const grouping::Trace& trace, std::vector<std::size_t> rows,
                    BinTrend across_rows, BinTrend across_cols) {
    if (trace.best.value == grouping::kUnreached) return;
    const auto cells = static_cast<uint32_t>(rows.size() * trace.groups.size());
    if (!grouping::better(trace.best.value, cells, found.best)) return;
    found = {
        {trace.best.value, cells}, std::move(rows), starts_of(trace), across_rows, across_cols};
}

// How many groupings of n pre-bins into at most max_bins groups (0: any),
// stopping once past `cap`.
std::size_t groupings(std::size_t n, std::size_t max_bins, std::size_t cap) {
    const std::size_t most = max_bins == 0 ? n : std::min(max_bins, n);
    std::size_t total = 0, choose = 1;  // choose = C(n - 1, k)
    for (std::size_t k = 0; k < most; ++k) {
        total += choose;
        if (total > cap) return cap + 1;
        choose = choose * (n - 1 - k) / (k + 1);
    }
    return total;
}

std::vector<BinTrend> directions(BinTrend trend) {
    if (trend == BinTrend::automatic) return {BinTrend::ascending, BinTrend::descending};
    return {trend};
}

// Operations of trying every grouping of `rows` pre-bins into at most
// `row_bins` groups, each with the search of `cols` pre-bins into at most
// `col_bins` groups (cubic under a trend across them), once per pair of
// directions; infinite past `cap` groupings.
double exhaustive_work(std::size_t rows, std::size_t row_bins, std::size_t cols,
                       std::size_t col_bins, BinTrend trend_rows, BinTrend trend_cols,
                       std::size_t cap) {
    const std::size_t count = groupings(rows, row_bins, cap);
    if (count > cap) return std::numeric_limits<double>::infinity();
    const double n = static_cast<double>(cols);
    const double r = static_cast<double>(row_bins == 0 ? rows : std::min(row_bins, rows));
    const double b = static_cast<double>(col_bins == 0 ? cols : std::min(col_bins, cols));
    const double step =
        n * n * r + (trend_cols == BinTrend::none ? b * n * n : n * n * n * (r + b) / 6.0);
    const auto combos =
        static_cast<double>(directions(trend_rows).size() * directions(trend_cols).size());
    return static_cast<double>(count) * step * combos;
}

// Every grouping of the rows into at most `max_rows` groups, by count of
// groups and then in lexicographic order of their starts, each with the best
// columns for it.
Found exhaustive(const Cells& m, const Totals& t, std::size_t max_rows, const Step& base,
                 BinTrend trend_rows) {
    Found found;
    const std::size_t most = max_rows == 0 ? m.rows : std::min(max_rows, m.rows);
    for (std::size_t groups = 1; groups <= most; ++groups) {
        std::vector<std::size_t> rows(groups);
        for (std::size_t i = 0; i < groups; ++i) rows[i] = i;
        while (true) {
            const Cells grouped = rows_grouped(m, rows);
            for (BinTrend across_rows : directions(trend_rows))
                for (BinTrend across_cols : directions(base.across_cols)) {
                    const Step s{base.max_bins, base.min_cell_share, across_rows, across_cols};
                    keep_if_better(found, best_columns(grouped, t, s), rows, across_rows,
                                   across_cols);
                }
            // The next starts after the first (always 0), as a combination.
            std::size_t i = groups;
            while (i > 1 && rows[i - 1] == m.rows - (groups - i) - 1) --i;
            if (i <= 1) break;
            ++rows[i - 1];
            for (std::size_t j = i; j < groups; ++j) rows[j] = rows[j - 1] + 1;
        }
    }
    return found;
}

// Alternates the exact search of one axis given the other from `rows`, under
// fixed directions, until the IV stops rising.
Found alternate(const Cells& m, const Cells& mt, const Totals& t, std::vector<std::size_t> rows,
                std::size_t max_rows, const Step& s) {
    Found found;
    const Step across{max_rows, s.min_cell_share, s.across_cols, s.across_rows};
    for (int round = 0; round < kMaxRounds; ++round) {
        const grouping::Trace cols = best_columns(rows_grouped(m, rows), t, s);
        const double before = found.best.value;
        keep_if_better(found, cols, rows, s.across_rows, s.across_cols);
        if (!(found.best.value > before)) break;
        const std::vector<std::size_t> col_starts = found.col_starts;
        const grouping::Trace next = best_columns(rows_grouped(mt, col_starts), t, across);
        if (next.best.value == grouping::kUnreached) break;
        rows = starts_of(next);
    }
    return found;
}

void keep_better(Found& best, const Found& f) {
    if (f.best.value != grouping::kUnreached &&
        grouping::better(f.best.value, f.best.bins, best.best))
        best = f;
}

// The best grid of at most as few row groups as `cap` groupings allow, found
// exactly, then alternated from to grids of more; and alternated from one
// column group with the best rows for it.
Found alternating(const Cells& m, const Totals& t, std::size_t max_rows, const Step& base,
                  BinTrend trend_rows, std::size_t cap) {
    const Cells mt = transposed(m);
    const std::size_t most = max_rows == 0 ? m.rows : std::min(max_rows, m.rows);
    std::size_t few = 1;
    while (few < most && exhaustive_work(m.rows, few + 1, m.cols, base.max_bins, trend_rows,
                                         base.across_cols, cap) <= kMaxWork)
        ++few;
    const Found exact_few = exhaustive(m, t, few, base, trend_rows);
    Found best = exact_few;
    if (exact_few.best.value != grouping::kUnreached) {
        const Step s{base.max_bins, base.min_cell_share, exact_few.across_rows,
                     exact_few.across_cols};
        keep_better(best, alternate(m, mt, t, exact_few.row_starts, max_rows, s));
    }
    for (BinTrend across_rows : directions(trend_rows))
        for (BinTrend across_cols : directions(base.across_cols)) {
            const Step s{base.max_bins, base.min_cell_share, across_rows, across_cols};
            const Step flipped{max_rows, s.min_cell_share, across_cols, across_rows};
            const grouping::Trace single = best_columns(rows_grouped(mt, {0}), t, flipped);
            if (single.best.value != grouping::kUnreached)
                keep_better(best, alternate(m, mt, t, starts_of(single), max_rows, s));
        }
    return best;
}

bool grid_trend(BinTrend trend) {
    return trend == BinTrend::none || trend == BinTrend::ascending ||
           trend == BinTrend::descending || trend == BinTrend::automatic;
}

void check_arguments(const double* c0, const double* c1, std::size_t n_x, std::size_t n_y,
                     const GridBinningConstraints& k) {
    if (n_x == 0 || n_y == 0) throw std::invalid_argument("grid_binning: no pre-bins");
    if (n_x > 4096 || n_y > 4096)
        throw std::invalid_argument("grid_binning: at most 4096 pre-bins per axis");
    if (c0 == nullptr || c1 == nullptr) throw std::invalid_argument("grid_binning: missing counts");
    for (std::size_t i = 0; i < n_x * n_y; ++i) {
        if (!(is_finite(c0[i]) && is_finite(c1[i]) && c0[i] >= 0.0 && c1[i] >= 0.0))
            throw std::invalid_argument(
                "grid_binning: cell counts must be finite and non-negative");
    }
    if (!(k.min_cell_share >= 0.0 && k.min_cell_share <= 1.0))
        throw std::invalid_argument("grid_binning: min_cell_share must be between 0 and 1");
    if (!grid_trend(k.trend_x) || !grid_trend(k.trend_y))
        throw std::invalid_argument(
            "grid_binning: a trend must be one of none, ascending, descending, auto");
}

}  // namespace

GridBinning grid_binning(const double* c0, const double* c1, std::size_t n_x, std::size_t n_y,
                         const GridBinningConstraints& k) {
    check_arguments(c0, c1, n_x, n_y, k);
    Cells m{n_x, n_y, std::vector<double>(c0, c0 + n_x * n_y),
            std::vector<double>(c1, c1 + n_x * n_y)};
    Totals t;
    for (std::size_t i = 0; i < n_x * n_y; ++i) t.c0 += c0[i], t.c1 += c1[i];
    if (!is_finite(t.c0 + t.c1)) throw std::invalid_argument("grid_binning: counts are too large");
    GridBinning out;
    out.iv = std::numeric_limits<double>::quiet_NaN();
    if (t.c0 == 0.0 || t.c1 == 0.0) {
        out.message = "the rows hold a single class, so their information value is undefined";
        return out;
    }
    // The axis whose groupings cost less to try is the one tried grouping by grouping.
    const std::size_t cap = k.max_exhaustive;
    const double by_x =
        exhaustive_work(n_x, k.max_bins_x, n_y, k.max_bins_y, k.trend_x, k.trend_y, cap);
    const double by_y =
        exhaustive_work(n_y, k.max_bins_y, n_x, k.max_bins_x, k.trend_y, k.trend_x, cap);
    const bool rows_are_x = by_x <= by_y;
    const Cells oriented = rows_are_x ? m : transposed(m);
    const std::size_t max_rows = rows_are_x ? k.max_bins_x : k.max_bins_y;
    const Step base{rows_are_x ? k.max_bins_y : k.max_bins_x, k.min_cell_share, BinTrend::none,
                    rows_are_x ? k.trend_y : k.trend_x};
    const BinTrend trend_rows = rows_are_x ? k.trend_x : k.trend_y;
    out.exact = std::min(by_x, by_y) <= kMaxWork;
    const Found f = out.exact ? exhaustive(oriented, t, max_rows, base, trend_rows)
                              : alternating(oriented, t, max_rows, base, trend_rows, cap);
    out.x_starts = rows_are_x ? f.row_starts : f.col_starts;
    out.y_starts = rows_are_x ? f.col_starts : f.row_starts;
    out.trend_x = rows_are_x ? f.across_rows : f.across_cols;
    out.trend_y = rows_are_x ? f.across_cols : f.across_rows;
    // The IV of the chosen cells, row by row, each row left to right.
    const Cells grid = rows_grouped(transposed(rows_grouped(m, out.x_starts)), out.y_starts);
    double iv = 0.0;
    for (std::size_t r = 0; r < grid.cols; ++r)
        for (std::size_t c = 0; c < grid.rows; ++c)
            iv += group_woe(grid.c0[c * grid.cols + r], grid.c1[c * grid.cols + r], t.c0, t.c1).iv;
    out.iv = iv;
    return out;
}

}  // namespace tessaline
