// Two-variable binning into rectangles: a partition of the grid of pre-bins
// of two ordered axes into at most max_bins_x * max_bins_y rectangles, of largest
// information value summed over them, found by splitting.
//
// A partition is built by cutting the whole grid in two along one pre-bin
// boundary of either axis, then each part again, and so on: every
// partition that a sequence of such cuts makes is searched. A product grid is
// one of them, so the best partition's IV is never below the best grid's of
// as many cells; where the data are dense it keeps fine cuts that a product
// grid would have to carry across the sparse part too, where no cell could
// meet the least share.
//
// The IV of a partition is the sum of its rectangles' terms and the parts of
// one cut are partitioned independently, so a dynamic programme over every
// rectangle of pre-bins and every count of cells finds the optimum exactly:
// best(r, k), the largest IV of at most k rectangles in r, is r itself
// (when it meets the limits) or the best over the cuts of r and the split of
// k between the two parts. Rectangles are taken smallest first, so both
// parts of a cut are known. For n_x by n_y pre-bins and k cells that is
// O(n_x^2 n_y^2 (n_x + n_y) k^2) time and O(n_x^2 n_y^2 k) memory, so the
// search refuses grids past a work budget and the caller falls back to the
// product grid.
//
// Under a trend along x the partitions searched are stripes: y cut into at
// most max_bins_y intervals, and each stripe cut along x into at most
// max_bins_x rectangles whose WoE rises (or falls) strictly from each to the
// next; a trend along y is the same with the variables swapped. Each stripe
// is the exact grouping search of one axis (grouping_search.hpp) and the
// stripes add up, so a second programme over the stripes finds the best
// exactly. A product grid under that trend is such a partition too, with the
// same cuts in every stripe.
#include <algorithm>
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <vector>

#include "grouping_search.hpp"
#include "numeric.hpp"
#include "tessaline/tessaline.hpp"

namespace tessaline {
namespace {

constexpr double kUnreached = -std::numeric_limits<double>::infinity();
// Operations (about a nanosecond each) and states past which the search
// would keep an analyst waiting, or hold too much memory.
constexpr double kMaxWork = 2e8;
constexpr double kMaxStates = 8e6;

std::size_t tri(std::size_t first, std::size_t last) {
    return last * (last + 1) / 2 + first;
}

struct Totals {
    double c0 = 0.0, c1 = 0.0;
};

struct Search {
    std::size_t nx = 0, ny = 0, max_cells = 0;
    double total = 0.0, min_share = 0.0, min_rows = 0.0;
    Totals totals;
    std::vector<double> p0, p1;  // prefix sums, (nx + 1) by (ny + 1)
    std::vector<double> best;    // (rectangle, k - 1): at most k cells
    std::vector<uint16_t> most;  // the most cells a rectangle can hold

    std::size_t at(std::size_t x0, std::size_t x1, std::size_t y0, std::size_t y1) const {
        return tri(x0, x1) * (ny * (ny + 1) / 2) + tri(y0, y1);
    }
    double sum(const std::vector<double>& p, std::size_t x0, std::size_t x1, std::size_t y0,
               std::size_t y1) const {
        const std::size_t w = ny + 1;
        return p[(x1 + 1) * w + y1 + 1] - p[x0 * w + y1 + 1] - p[(x1 + 1) * w + y0] +
               p[x0 * w + y0];
    }
};

// The most cells of at least `min_rows` rows (and one) that `rows` can make.
std::size_t most_cells(double rows, double min_rows, std::size_t cap) {
    if (!(rows > 0.0)) return 0;
    const double floor = std::max(min_rows, 1.0);
    const double fit = std::floor(rows / floor) + 1.0;  // one spare: rounding never prunes
    return static_cast<std::size_t>(std::min(fit, static_cast<double>(cap)));
}

// The sums the search would make: for every rectangle, its cuts times the
// pairs of cell counts of their parts (bounded by the rows each can share
// out), so a least share that keeps cells large makes a larger grid
// affordable. Stops counting past `cap`.
double estimated_work(const Search& s, double cap) {
    double work = 0.0;
    for (std::size_t x0 = 0; x0 < s.nx; ++x0)
        for (std::size_t x1 = x0; x1 < s.nx; ++x1) {
            for (std::size_t y0 = 0; y0 < s.ny; ++y0)
                for (std::size_t y1 = y0; y1 < s.ny; ++y1) {
                    const double rows = s.sum(s.p0, x0, x1, y0, y1) + s.sum(s.p1, x0, x1, y0, y1);
                    const auto k = static_cast<double>(most_cells(
                        rows, s.min_rows, std::min(s.max_cells, (x1 - x0 + 1) * (y1 - y0 + 1))));
                    work += static_cast<double>(x1 - x0 + y1 - y0) * k * k / 2.0 + k;
                }
            if (work > cap) return work;
        }
    return work;
}

// Fills best for the rectangle [x0, x1] by [y0, y1]. Only values are kept:
// the loop over the cells of the second part then runs without branches,
// and `trace` finds the cut behind each value on the chosen path again.
void solve(Search& s, std::size_t x0, std::size_t x1, std::size_t y0, std::size_t y1) {
    const std::size_t r = s.at(x0, x1, y0, y1);
    const std::size_t K = s.max_cells;
    double* best = &s.best[r * K];
    const double a = s.sum(s.p0, x0, x1, y0, y1), e = s.sum(s.p1, x0, x1, y0, y1);
    const std::size_t most =
        most_cells(a + e, s.min_rows, std::min(K, (x1 - x0 + 1) * (y1 - y0 + 1)));
    s.most[r] = static_cast<uint16_t>(most);
    if (most == 0) return;
    // An empty cell has no WoE to show, so a partition never makes one.
    if ((a + e) / s.total >= s.min_share && a + e > 0.0)
        best[0] = group_woe(a, e, s.totals.c0, s.totals.c1).iv;
    auto join = [&](std::size_t ra, std::size_t rb) {
        const std::size_t ka = std::min<std::size_t>(s.most[ra], most - 1);
        const std::size_t kb = s.most[rb];
        const double* ba = &s.best[ra * K];
        const double* bb = &s.best[rb * K];
        for (std::size_t i = 0; i < ka; ++i) {
            const double va = ba[i];
            // One cell fewer reaches as much: its sums are made already.
            if (va == kUnreached || (i > 0 && va == ba[i - 1])) continue;
            const std::size_t n = std::min(kb, most - 1 - i);
            double* into = best + i + 1;
            for (std::size_t j = 0; j < n; ++j) {
                const double v = va + bb[j];
                into[j] = into[j] < v ? v : into[j];
            }
        }
    };
    const std::size_t w = x1 - x0 + 1, h = y1 - y0 + 1;
    for (std::size_t c = 1; c < w; ++c)
        join(s.at(x0, x0 + c - 1, y0, y1), s.at(x0 + c, x1, y0, y1));
    for (std::size_t c = 1; c < h; ++c)
        join(s.at(x0, x1, y0, y0 + c - 1), s.at(x0, x1, y0 + c, y1));
    // At most k cells.
    for (std::size_t k = 1; k < most; ++k) best[k] = best[k] < best[k - 1] ? best[k - 1] : best[k];
}

// The rectangles of the best partition of [x0, x1] by [y0, y1] into at most
// k + 1: as few as reach its value, then the first cut (x before y, lower
// before higher) and the fewest cells in its first part that give it.
void trace(const Search& s, std::size_t x0, std::size_t x1, std::size_t y0, std::size_t y1,
           std::size_t k, std::vector<GridRectangle>& out) {
    const std::size_t K = s.max_cells;
    const double* best = &s.best[s.at(x0, x1, y0, y1) * K];
    while (k > 0 && !(best[k] > best[k - 1])) --k;
    if (k == 0) {
        out.push_back({x0, x1, y0, y1});
        return;
    }
    auto split = [&](std::size_t ra, std::size_t rb) -> std::size_t {
        const double* ba = &s.best[ra * K];
        const double* bb = &s.best[rb * K];
        for (std::size_t i = 0; i < k; ++i)
            if (i < s.most[ra] && k - 1 - i < s.most[rb] && ba[i] != kUnreached &&
                ba[i] + bb[k - 1 - i] == best[k])
                return i;
        return K;
    };
    for (std::size_t c = 1; c <= x1 - x0; ++c) {
        const std::size_t i = split(s.at(x0, x0 + c - 1, y0, y1), s.at(x0 + c, x1, y0, y1));
        if (i == K) continue;
        trace(s, x0, x0 + c - 1, y0, y1, i, out);
        trace(s, x0 + c, x1, y0, y1, k - 1 - i, out);
        return;
    }
    for (std::size_t c = 1; c <= y1 - y0; ++c) {
        const std::size_t i = split(s.at(x0, x1, y0, y0 + c - 1), s.at(x0, x1, y0 + c, y1));
        if (i == K) continue;
        trace(s, x0, x1, y0, y0 + c - 1, i, out);
        trace(s, x0, x1, y0 + c, y1, k - 1 - i, out);
        return;
    }
    throw std::logic_error("grid_rectangles: broken trace");
}

// A stripe's partition under a trend along x: the pre-bins of x grouped.
struct Stripe {
    double value = kUnreached;
    std::vector<std::pair<std::size_t, std::size_t>> groups;
};

// The best stripes of y, each grouped along x following `trend`: the
// rectangles (x0, x1, y0, y1) and their IV.
std::pair<double, std::vector<GridRectangle>> best_stripes(const Search& s, std::size_t max_x,
                                                           std::size_t max_y, BinTrend trend) {
    const std::size_t nx = s.nx, ny = s.ny;
    std::vector<Stripe> stripes(ny * (ny + 1) / 2);
    grouping::Limits limits;
    limits.max_bins = max_x;
    limits.who = "grid_rectangles";
    for (std::size_t y1 = 0; y1 < ny; ++y1)
        for (std::size_t y0 = 0; y0 <= y1; ++y0) {
            grouping::Groups g = grouping::sized_groups(nx);
            for (std::size_t x1 = 0; x1 < nx; ++x1)
                for (std::size_t x0 = 0; x0 <= x1; ++x0) {
                    const double a = s.sum(s.p0, x0, x1, y0, y1), e = s.sum(s.p1, x0, x1, y0, y1);
                    const GroupWoe w = group_woe(a, e, s.totals.c0, s.totals.c1);
                    const std::size_t at = grouping::tri(x0, x1);
                    g.value[at] = w.iv;
                    g.level[at] = w.woe;
                    g.allowed[at] = a + e > 0.0 && (a + e) / s.total >= s.min_share;
                }
            const grouping::Trace t = grouping::best_grouping(g, limits, trend);
            stripes[tri(y0, y1)] = {t.best.value, t.groups};
        }
    // reach[end, m]: the best m stripes covering the y pre-bins before `end`.
    const std::size_t most = std::min(max_y, ny);
    const std::size_t w = most + 1;
    std::vector<double> reach((ny + 1) * w, kUnreached);
    std::vector<std::size_t> from((ny + 1) * w, 0);
    reach[0] = 0.0;
    for (std::size_t end = 1; end <= ny; ++end)
        for (std::size_t m = 1; m <= most; ++m)
            for (std::size_t start = 0; start < end; ++start) {
                const double before = reach[start * w + m - 1];
                const double v = stripes[tri(start, end - 1)].value;
                if (before == kUnreached || v == kUnreached) continue;
                if (before + v > reach[end * w + m]) {
                    reach[end * w + m] = before + v;
                    from[end * w + m] = start;
                }
            }
    // Fewer stripes on a tie.
    std::size_t m_best = 0;
    double best = kUnreached;
    for (std::size_t m = 1; m <= most; ++m)
        if (reach[ny * w + m] > best) best = reach[ny * w + m], m_best = m;
    std::vector<GridRectangle> out;
    if (m_best == 0) return {kUnreached, out};
    for (std::size_t end = ny, m = m_best; m > 0; --m) {
        const std::size_t start = from[end * w + m];
        for (const auto& g : stripes[tri(start, end - 1)].groups)
            out.push_back({g.first, g.second, start, end - 1});
        end = start;
    }
    return {best, out};
}

Search searched_cells(const double* c0, const double* c1, std::size_t n_x, std::size_t n_y) {
    Search s;
    s.nx = n_x, s.ny = n_y;
    s.p0.assign((n_x + 1) * (n_y + 1), 0.0);
    s.p1.assign((n_x + 1) * (n_y + 1), 0.0);
    for (std::size_t i = 0; i < n_x; ++i)
        for (std::size_t j = 0; j < n_y; ++j) {
            const double a = c0[i * n_y + j], e = c1[i * n_y + j];
            if (!(is_finite(a) && is_finite(e) && a >= 0.0 && e >= 0.0))
                throw std::invalid_argument(
                    "grid_rectangles: cell counts must be finite and non-negative");
            const std::size_t w = n_y + 1;
            s.p0[(i + 1) * w + j + 1] =
                a + s.p0[i * w + j + 1] + s.p0[(i + 1) * w + j] - s.p0[i * w + j];
            s.p1[(i + 1) * w + j + 1] =
                e + s.p1[i * w + j + 1] + s.p1[(i + 1) * w + j] - s.p1[i * w + j];
            s.totals.c0 += a, s.totals.c1 += e;
        }
    s.total = s.totals.c0 + s.totals.c1;
    if (!is_finite(s.total)) throw std::invalid_argument("grid_rectangles: counts are too large");
    return s;
}

Search transposed(const double* c0, const double* c1, std::size_t n_x, std::size_t n_y) {
    std::vector<double> t0(n_x * n_y), t1(n_x * n_y);
    for (std::size_t i = 0; i < n_x; ++i)
        for (std::size_t j = 0; j < n_y; ++j) {
            t0[j * n_x + i] = c0[i * n_y + j];
            t1[j * n_x + i] = c1[i * n_y + j];
        }
    return searched_cells(t0.data(), t1.data(), n_y, n_x);
}

void sort_and_sum(const Search& s, GridRectangles& out) {
    std::sort(out.rectangles.begin(), out.rectangles.end(),
              [](const GridRectangle& a, const GridRectangle& b) {
                  return a.x_first != b.x_first ? a.x_first < b.x_first : a.y_first < b.y_first;
              });
    // The IV of the chosen rectangles in that order.
    double iv = 0.0;
    for (const auto& g : out.rectangles)
        iv += group_woe(s.sum(s.p0, g.x_first, g.x_last, g.y_first, g.y_last),
                        s.sum(s.p1, g.x_first, g.x_last, g.y_first, g.y_last), s.totals.c0,
                        s.totals.c1)
                  .iv;
    out.iv = iv;
    out.exact = true;
}

// The stripes under a trend along x (`along_x`) or y, "auto" as the better
// direction (ascending on a tie).
void stripes(const double* c0, const double* c1, std::size_t n_x, std::size_t n_y,
             const GridRectanglesConstraints& k, bool along_x, const Search& s,
             GridRectangles& out) {
    Search o = along_x ? s : transposed(c0, c1, n_x, n_y);
    o.min_share = k.min_cell_share;
    const BinTrend trend = along_x ? k.trend_x : k.trend_y;
    const std::size_t max_in = along_x ? k.max_bins_x : k.max_bins_y;
    const std::size_t max_across = along_x ? k.max_bins_y : k.max_bins_x;
    double best = kUnreached;
    for (BinTrend d : {BinTrend::ascending, BinTrend::descending}) {
        if (trend != BinTrend::automatic && trend != d) continue;
        auto found = best_stripes(o, max_in, max_across, d);
        if (!(found.first > best)) continue;
        best = found.first;
        out.rectangles.clear();
        for (const auto& r : found.second)
            out.rectangles.push_back(
                along_x ? r : GridRectangle{r.y_first, r.y_last, r.x_first, r.x_last});
        (along_x ? out.trend_x : out.trend_y) = d;
    }
    if (best == kUnreached) {
        out.message = "no partition meets the limits";
        return;
    }
    sort_and_sum(s, out);
}

}  // namespace

GridRectangles grid_rectangles(const double* c0, const double* c1, std::size_t n_x, std::size_t n_y,
                               const GridRectanglesConstraints& k) {
    if (n_x == 0 || n_y == 0) throw std::invalid_argument("grid_rectangles: no pre-bins");
    if (c0 == nullptr || c1 == nullptr)
        throw std::invalid_argument("grid_rectangles: missing counts");
    if (k.max_bins_x == 0 || k.max_bins_y == 0 || k.max_bins_x > 20 || k.max_bins_y > 20)
        throw std::invalid_argument("grid_rectangles: max_bins_x and max_bins_y must be 1 to 20");
    if (!(k.min_cell_share >= 0.0 && k.min_cell_share <= 1.0))
        throw std::invalid_argument("grid_rectangles: min_cell_share must be between 0 and 1");
    grouping::check_trend(k.trend_x, "grid_rectangles");
    grouping::check_trend(k.trend_y, "grid_rectangles");
    if (k.trend_x != BinTrend::none && k.trend_y != BinTrend::none)
        throw std::invalid_argument("grid_rectangles: a trend along one variable only");
    if (n_x > 4096 || n_y > 4096)
        throw std::invalid_argument("grid_rectangles: at most 4096 pre-bins per axis");
    Search s = searched_cells(c0, c1, n_x, n_y);
    s.min_share = k.min_cell_share;
    GridRectangles out;
    out.iv = std::numeric_limits<double>::quiet_NaN();
    if (s.totals.c0 == 0.0 || s.totals.c1 == 0.0) {
        out.message = "the rows hold a single class, so their information value is undefined";
        return out;
    }
    const double rects =
        static_cast<double>(n_x * (n_x + 1) / 2) * static_cast<double>(n_y * (n_y + 1) / 2);
    const char* too_many = "too many pre-bins to search every partition into rectangles";
    if (k.trend_x != BinTrend::none || k.trend_y != BinTrend::none) {
        // Every stripe's groups, each searched under a limit of bins.
        const auto in =
            static_cast<double>(k.trend_x != BinTrend::none ? k.max_bins_x : k.max_bins_y);
        if (rects * (in + 1.0) > kMaxWork)
            out.message = too_many;
        else
            stripes(c0, c1, n_x, n_y, k, k.trend_x != BinTrend::none, s, out);
        return out;
    }
    s.max_cells = std::min(k.max_bins_x * k.max_bins_y, n_x * n_y);
    s.min_rows = k.min_cell_share * s.total;
    if (rects * static_cast<double>(s.max_cells) > kMaxStates ||
        estimated_work(s, kMaxWork) > kMaxWork) {
        out.message = too_many;
        return out;
    }
    const auto states = static_cast<std::size_t>(rects);
    s.best.assign(states * s.max_cells, kUnreached);
    s.most.assign(states, 0);
    for (std::size_t w = 1; w <= n_x; ++w)
        for (std::size_t h = 1; h <= n_y; ++h)
            for (std::size_t x0 = 0; x0 + w <= n_x; ++x0)
                for (std::size_t y0 = 0; y0 + h <= n_y; ++y0)
                    solve(s, x0, x0 + w - 1, y0, y0 + h - 1);
    const std::size_t root = s.at(0, n_x - 1, 0, n_y - 1);
    const std::size_t top = s.most[root];
    if (top == 0 || s.best[root * s.max_cells + top - 1] == kUnreached) {
        out.message = "no partition meets the limits";
        return out;
    }
    trace(s, 0, n_x - 1, 0, n_y - 1, top - 1, out.rectangles);
    sort_and_sum(s, out);
    return out;
}

}  // namespace tessaline
