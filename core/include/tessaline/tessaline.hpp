// tessaline: discretisation ("binning") of one numeric variable and scoring of
// the result. Every function is a pure free function: it reads its inputs,
// returns its result by value, keeps no state and never prints. Invalid input
// is reported with std::invalid_argument and a Spanish message.
#ifndef TESSALINE_TESSALINE_HPP
#define TESSALINE_TESSALINE_HPP

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <vector>

// The core is linked into the extension module, whose symbols are hidden by
// default; the public functions stay exported with their native signatures.
#define TESSALINE_API __attribute__((visibility("default")))

namespace tessaline {

// ---------------------------------------------------------------- records

// Rows kept by preprocessing (x ascending, 0/1 labels) and its counters.
struct PreprocessResult {
    std::vector<double> x;
    std::vector<int32_t> y;
    std::size_t missing_count = 0;  // x NaN, y finite and giving a label
    std::size_t missing_c0 = 0;
    std::size_t missing_c1 = 0;
    std::size_t n_input = 0;
    std::size_t n_used = 0;
    std::size_t n_missing_x = 0;
    std::size_t n_missing_y = 0;
    std::size_t n_missing_both = 0;
    std::size_t n_non_finite = 0;
    bool target_was_binary = true;
    double threshold = 0.0;
};

// Non-owning view of sorted, labelled data; it must not outlive its arrays.
struct SortedView {
    const double* x;
    const int32_t* y;
    std::size_t n;
};

// One candidate cut with the class counts of every record before it.
struct Boundary {
    double pto_corte;
    int64_t c0;
    int64_t c1;
};

// Rows L..R of a boundary table with the class counts inside them.
struct Segment {
    std::size_t L;
    std::size_t R;
    int64_t c0_start;
    int64_t c1_start;
    int64_t c0_seg;
    int64_t c1_seg;
};

// Parameters of the MDLP split search.
struct TessalineParams {
    double alpha_pos = 1.0;
    double beta_struct = 1.0;
    int64_t minobs = 0;
    int32_t mono_dir = 0;
    int32_t monotonicity = 0;
    bool force_first_split = false;
};

// Outcome of one segment evaluation (the best candidate, accepted or not).
struct SplitResult {
    bool found = false;
    bool has_candidate = false;
    double pto = 0.0;
    double gain = 0.0;
    double cost_pos = 0.0;
    double cost_struct = 0.0;
    double cost = 0.0;
    std::size_t idx = 0;
};

// One final MDLP interval (left, right] with its class counts.
struct SummaryInterval {
    double left;
    double right;
    int64_t c0;
    int64_t c1;
    int64_t total;
    double p1;
};

struct MdlpFullResult {
    std::vector<SplitResult> mdlp;
    std::vector<SummaryInterval> summary;
};

// Range over which equal-width cut points are spread.
enum class WidthRange { Full = 0, Quantile = 1, Iqr = 2 };

// Representative value of x inside a bin.
enum class SummaryStatistic { Mean = 0, Median = 1 };

// One row of a binary-target bin summary.
struct BinningSummary {
    double left;
    double right;
    std::size_t count;
    double percentage;
    std::size_t c0;
    std::size_t c1;
    double event_rate;
    double representative;
};

// One row of a continuous-target bin summary.
struct ContinuousBinningSummary {
    double left;
    double right;
    std::size_t count;
    double percentage;
    double representative;
    double target_mean;
    double target_p25;
    double target_median;
    double target_p75;
};

struct MdlpFullRawResult {
    std::vector<SplitResult> mdlp;
    std::vector<SummaryInterval> intervals;
    std::vector<BinningSummary> summary;
    std::size_t n_input = 0;
    std::size_t n_used = 0;
    std::size_t n_missing_x = 0;
    std::size_t n_missing_y = 0;
    std::size_t n_missing_both = 0;
    std::size_t n_non_finite = 0;
    bool target_was_binary = true;
    double threshold = 0.0;
};

// One bin of a distribution comparison.
struct PsiBin {
    int64_t count_reference;
    int64_t count_current;
    double proportion_reference;
    double proportion_current;
    double cumulative_reference;
    double cumulative_current;
    double psi_bin;
};

struct DistributionComparison {
    std::vector<PsiBin> bins;
    double psi = 0.0;
    double ks = 0.0;
};

// One point of a Lorenz curve, closed by a distinct score value.
struct LorenzPoint {
    double value;
    double cumulative_non_event;
    double cumulative_event;
};

struct LorenzCurve {
    std::vector<LorenzPoint> points;
    double auc = 0.0;
    double gini = 0.0;
};

// A Lorenz curve written into caller-owned columns: how many points were
// written, and the AUC and Gini.
struct LorenzSummary {
    std::size_t points = 0;
    double auc = 0.0;
    double gini = 0.0;
};

// Columns receiving the points of a Lorenz curve, each with room for one
// point per record whose score is not NaN.
struct LorenzColumns {
    double* value;
    double* cumulative_non_event;
    double* cumulative_event;
};

// ------------------------------------------------------------- functions

// Module frame: IEEE double addition.
TESSALINE_API double suma(double a, double b);

// Data preparation: drop and count missing/infinite rows, binarise y, sort by x.
TESSALINE_API PreprocessResult preprocess_data(const double* x, const double* y, std::size_t n,
                                               std::optional<double> value, double percentile);

// Data preparation: boundary table of candidate cuts with cumulative counts.
TESSALINE_API std::vector<Boundary> compute_boundaries(const SortedView& view);
TESSALINE_API std::vector<Boundary> compute_boundaries_from_raw(const double* x, const double* y,
                                                                std::size_t n,
                                                                std::optional<double> value,
                                                                double percentile);

// MDLP segmentation: one segment under the MDL criterion.
TESSALINE_API Segment make_segment(const std::vector<Boundary>& B, std::size_t L, std::size_t R);
TESSALINE_API SplitResult evaluate_segment(const std::vector<Boundary>& B, const Segment& s,
                                           const TessalineParams& p);

// MDLP segmentation: depth-first split search and its pipelines.
TESSALINE_API std::vector<SplitResult> compute_splits(const std::vector<Boundary>& B,
                                                      const TessalineParams& p);
TESSALINE_API std::vector<SplitResult> mdlp(const SortedView& view, const TessalineParams& p);
TESSALINE_API std::vector<SplitResult> fit_mdlp_from_raw(const double* x, const double* y,
                                                         std::size_t n, const TessalineParams& p,
                                                         std::optional<double> value,
                                                         double percentile);

// MDLP segmentation: final intervals, from sorted data or from raw data.
TESSALINE_API MdlpFullResult mdlp_full(const SortedView& view, const TessalineParams& params);
TESSALINE_API MdlpFullRawResult fit_mdlp_full_from_raw(const double* x, const double* y,
                                                       std::size_t n, const TessalineParams& params,
                                                       std::optional<double> value,
                                                       double percentile,
                                                       SummaryStatistic representative);

// Unsupervised binning: cut-point generation.
TESSALINE_API std::vector<double> equal_width_splits(const double* x, std::size_t n,
                                                     std::size_t n_bins, WidthRange range,
                                                     double lower_quantile, double upper_quantile,
                                                     double k);
TESSALINE_API std::vector<double> quantile_splits(const double* x, std::size_t n,
                                                  std::size_t n_bins);
TESSALINE_API std::vector<double> normalize_splits(const double* splits, std::size_t n);
// "full", "quantile" or "iqr".
TESSALINE_API WidthRange parse_width_range(const std::string& s);

// Unsupervised binning: bin index of each value (NaN gives -1).
TESSALINE_API std::vector<int64_t> assign_bins(const double* x, std::size_t n,
                                               const std::vector<double>& splits);
// The same indices written to bins[0..n), which the caller provides.
TESSALINE_API void assign_bins_into(const double* x, std::size_t n,
                                    const std::vector<double>& splits, int64_t* bins);

// Unsupervised binning: per-bin summaries of a binary or continuous target.
TESSALINE_API std::vector<BinningSummary> summarize_binary(const double* x, const int* y,
                                                           std::size_t n,
                                                           const std::vector<double>& splits,
                                                           SummaryStatistic stat);
TESSALINE_API std::vector<ContinuousBinningSummary> summarize_continuous(
    const double* x, const double* y, std::size_t n, const std::vector<double>& splits,
    SummaryStatistic stat);
// "mean" or "median".
TESSALINE_API SummaryStatistic parse_summary_statistic(const std::string& s);

// Distribution diagnostics: PSI and KS between two samples over given cuts.
TESSALINE_API DistributionComparison compare_distributions(const double* reference,
                                                           std::size_t n_ref, const double* current,
                                                           std::size_t n_cur,
                                                           const std::vector<double>& splits,
                                                           double epsilon);

// Distribution diagnostics: Lorenz curve, AUC and Gini of a score.
TESSALINE_API LorenzCurve lorenz_curve(const double* x, const int* y, std::size_t n);
// The same curve written column by column into `out`, without a record per point.
TESSALINE_API LorenzSummary lorenz_curve_into(const double* x, const int* y, std::size_t n,
                                              const LorenzColumns& out);

// Distribution diagnostics: soft membership in ordered representatives.
TESSALINE_API std::vector<double> membership_matrix(const double* x, std::size_t n,
                                                    const double* representatives, std::size_t k);
// The same matrix written straight into the buffer that allocate(rows, width)
// returns, called once after the representatives pass their checks.
TESSALINE_API void membership_matrix_into(
    const double* x, std::size_t n, const double* representatives, std::size_t k,
    const std::function<double*(std::size_t, std::size_t)>& allocate);
TESSALINE_API std::vector<double> aggregate_membership(const double* membership, std::size_t n,
                                                       std::size_t k, const double* values,
                                                       bool standardize);

// Categorical variables. A category is an integer code in [0, k); code -1
// marks a missing value. Labels are 1.0 (event), 0.0 (non-event) or NaN (the
// target is missing: the row is left out and counted).
struct CategoryCounts {
    std::vector<int64_t> c0;  // non-events per code
    std::vector<int64_t> c1;  // events per code
    int64_t missing_c0 = 0;   // rows with code -1, by class
    int64_t missing_c1 = 0;
    int64_t n_missing_target = 0;
};
TESSALINE_API CategoryCounts count_categories(const int64_t* codes, const double* labels,
                                              std::size_t n, std::size_t k);
// The codes holding at least one row, by ascending event rate c1 / (c0 + c1),
// equal rates in ascending code order (callers number categories by name, so
// the order is deterministic). Rates are compared exactly.
TESSALINE_API std::vector<int64_t> event_rate_order(const int64_t* c0, const int64_t* c1,
                                                    std::size_t k);
// How the n values of a 0/1 target read: `missing` of them are NaN, and
// `binary` says every other one is 0 or 1.
struct BinaryTargetRead {
    std::size_t missing = 0;
    bool binary = true;
};
TESSALINE_API BinaryTargetRead read_binary_target(const double* y, std::size_t n);
// The labels of the rows whose target is not NaN, in their order: 0.0 and 1.0
// as 0 and 1, any other value as -1 (for the caller to refuse by name).
// `labels` has room for the rows not NaN; `known` (room for n) takes whether
// each row's target is known, and may be null when none is NaN.
TESSALINE_API void binary_labels(const double* y, std::size_t n, int32_t* labels, bool* known);
// out[i] = table[codes[i]] for codes in [0, k), `missing` for code -1.
TESSALINE_API void lookup_codes(const int64_t* codes, std::size_t n, const double* table,
                                std::size_t k, double missing, double* out);
TESSALINE_API void lookup_codes(const int64_t* codes, std::size_t n, const int64_t* table,
                                std::size_t k, int64_t missing, int64_t* out);

// ---------------------------------------------------------------- optimal binning
// The contiguous grouping of ordered pre-bins (their non-event and event
// counts) of largest information value under limits. Messages are in English.

// Shape of the event rate c1 / (c0 + c1) over consecutive groups. Every step is
// strict: neighbours of equal rate break every trend but none. Peak rises then
// falls, valley falls then rises (either part may be empty); automatic is the
// better of ascending and descending, ascending on a tie.
enum class BinTrend { none, ascending, descending, peak, valley, automatic };

// Limits every chosen group meets.
struct OptimalBinningConstraints {
    std::size_t max_bins = 0;     // most groups; 0 sets no limit
    double min_bin_share = 0.0;   // least (c0 + c1) of a group over all rows, in [0, 1]
    double min_events = 0.0;      // least c1 of a group
    double min_non_events = 0.0;  // least c0 of a group
    BinTrend trend = BinTrend::none;
    // Greatest p-value of the test of equal event rates between neighbouring
    // groups (`equal_rates_test`); 1 sets no limit, as no p-value exceeds it.
    double max_pvalue = 1.0;
    // Pre-bins that must begin a group (an analyst's fixed cuts), ascending,
    // each in [1, n_prebins); a group never spans one of them.
    std::vector<std::size_t> fixed_starts;
};

// A grouping was found, or the limit no grouping can meet. The fixed_*
// statuses tell which limit the fixed starts break: a segment between two of
// them holds too few rows, events or non-events, there are more segments than
// max_bins, or no grouping around them follows the trend.
enum class OptimalBinningStatus {
    optimal,
    min_events_not_met,
    min_non_events_not_met,
    single_class,
    fixed_min_bin_share,
    fixed_min_events,
    fixed_min_non_events,
    fixed_max_bins,
    fixed_trend
};

// WoE and IV of one group (a zero class count counts 0.5 in its own group).
struct GroupWoe {
    double woe;
    double iv;
};

// One chosen group: pre-bins first..last (inclusive) and what they hold.
struct OptimalBinningGroup {
    std::size_t first;
    std::size_t last;
    double c0;
    double c1;
    double woe;
    double iv;
};

// The chosen groups in order, and their IV summed left to right (NaN if none).
struct OptimalBinning {
    OptimalBinningStatus status = OptimalBinningStatus::optimal;
    BinTrend trend = BinTrend::none;  // the trend met; automatic resolves to one
    std::vector<OptimalBinningGroup> groups;
    double iv = 0.0;
    // For fixed_min_*: the segment (0 before the first fixed start) that breaks the limit.
    std::size_t broken_segment = 0;
};

// WoE and IV of a group with counts c0, c1 out of column totals total_c0, total_c1.
TESSALINE_API GroupWoe group_woe(double c0, double c1, double total_c0, double total_c1);
// Best grouping; ties go to fewer groups, then the earliest last cut, then the earliest cut before
// it.
TESSALINE_API OptimalBinning optimal_binning(const double* c0, const double* c1,
                                             std::size_t n_prebins,
                                             const OptimalBinningConstraints& constraints);
// `optimal_binning` under each trend of `trends` in place of the
// constraints' own, the groups built and the trends searched in one pass.
TESSALINE_API std::vector<OptimalBinning> optimal_binnings(
    const double* c0, const double* c1, std::size_t n_prebins,
    const OptimalBinningConstraints& constraints, const std::vector<BinTrend>& trends);
// One column's pre-bins (n_prebins non-event and event counts) and what
// optimal_binnings searches in them.
struct PrebinSearch {
    const double* c0 = nullptr;
    const double* c1 = nullptr;
    std::size_t n_prebins = 0;
    OptimalBinningConstraints constraints;
    std::vector<BinTrend> trends;
};
// optimal_binnings of each column, in the columns' order, computed on up to
// `n_threads` threads (the caller's among them); the error of the first
// column that fails, after every thread has finished.
TESSALINE_API std::vector<std::vector<OptimalBinning>> optimal_binnings_columns(
    const std::vector<PrebinSearch>& searches, std::size_t n_threads);
// "none", "ascending", "descending", "peak", "valley" or "auto".
TESSALINE_API BinTrend parse_bin_trend(const std::string& s);
// What a status other than optimal tells the analyst.
TESSALINE_API const char* optimal_binning_status_message(OptimalBinningStatus status);

// ---- two-variable (grid) binning
// The product grid of two ordered axes of pre-bins (rows x, columns y; the
// non-event and event counts of cell (i, j) at i * n_y + j): a grouping of
// each axis into contiguous intervals, every row group crossed with every
// column group a cell, of largest information value summed over the cells.
// Every cell holds at least one row and a share `min_cell_share` of all rows;
// a trend along x asks the WoE of every column to follow it from row group to
// row group, strictly, and a trend along y the same of every row.

// Limits of a grid; trends are none, ascending, descending or automatic (the
// better of the two, chosen for each axis).
struct GridBinningConstraints {
    std::size_t max_bins_x = 0;  // most row groups; 0 sets no limit
    std::size_t max_bins_y = 0;  // most column groups; 0 sets no limit
    double min_cell_share = 0.0;
    BinTrend trend_x = BinTrend::none;
    BinTrend trend_y = BinTrend::none;
    // Most groupings of one axis tried one by one; beyond it, or beyond a
    // few seconds of work, the search alternates between the axes and may
    // stop short of the optimum.
    std::size_t max_exhaustive = 4096;
};

// The chosen grid: the first pre-bin of each group of either axis, the IV of
// its cells (row by row, left to right; NaN when no grid meets the limits),
// the trends met, and whether the optimum was proved by exhausting one axis.
struct GridBinning {
    std::string message;  // empty when a grid was found, else why none was
    bool exact = false;
    std::vector<std::size_t> x_starts;
    std::vector<std::size_t> y_starts;
    BinTrend trend_x = BinTrend::none;
    BinTrend trend_y = BinTrend::none;
    double iv = 0.0;
};

// Best grid; on a tie, fewer cells, then the grouping of x met first.
TESSALINE_API GridBinning grid_binning(const double* c0, const double* c1, std::size_t n_x,
                                       std::size_t n_y, const GridBinningConstraints& constraints);

// The partition of the same grid of pre-bins into at most max_bins_x *
// max_bins_y rectangles (each [x_first, x_last] by [y_first, y_last],
// inclusive) of largest IV among those that cuts of whole rectangles make:
// the grid cut in two along a pre-bin boundary of either axis, each part
// again, and so on. Every rectangle holds at least one row and
// `min_cell_share` of all rows. Under a trend along x (none along y), the
// partitions are stripes: y cut into at most max_bins_y intervals, each cut
// along x into at most max_bins_x rectangles whose WoE follows the trend
// strictly from each to the next; a trend along y likewise, swapped.
struct GridRectanglesConstraints {
    std::size_t max_bins_x = 5;
    std::size_t max_bins_y = 5;
    double min_cell_share = 0.0;
    BinTrend trend_x = BinTrend::none;
    BinTrend trend_y = BinTrend::none;
};

struct GridRectangle {
    std::size_t x_first = 0, x_last = 0, y_first = 0, y_last = 0;
};

// The rectangles in order of (x_first, y_first), the IV summed in that
// order, the trend met ("auto" resolved); `message` says why none were found
// (the rows hold a single class, or too many pre-bins to search: the caller
// keeps the product grid).
struct GridRectangles {
    std::string message;
    bool exact = false;
    std::vector<GridRectangle> rectangles;
    BinTrend trend_x = BinTrend::none;
    BinTrend trend_y = BinTrend::none;
    double iv = 0.0;
};

// Best partition; on a tie, fewer rectangles (fewer stripes), then the cut
// met first (x before y, lower before higher).
TESSALINE_API GridRectangles grid_rectangles(const double* c0, const double* c1, std::size_t n_x,
                                             std::size_t n_y,
                                             const GridRectanglesConstraints& constraints);
// ---- end of two-variable binning
// -- significance of a searched grouping, by permutation ----------------------
// A search for the grouping of largest IV finds some IV in pure noise too. Its
// honest reference is the IV the same search finds when the target is
// independent of the column: tables whose rows per pre-bin are the observed
// ones and whose events are dealt among them at random (a multivariate
// hypergeometric draw of the observed total).

// A fixed 64-bit generator (splitmix64), so that a seed gives the same draws
// on every platform and standard library.
// Defined here: a permutation test calls it once a draw, millions of times.
class SplitMix64 {
  public:
    explicit SplitMix64(uint64_t seed) : state_(seed) {}
    uint64_t next() {
        uint64_t z = (state_ += GAMMA);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    // Uniform in [0, m), exactly (by rejection), for m > 0.
    uint64_t below(uint64_t m);
    // Uniform in [0, 1) with 53 random bits.
    double unit() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }
    // Where `calls` calls of next() leave it: each adds GAMMA to the state
    // (modulo 2^64), whatever it returns.
    void skip(uint64_t calls) { state_ += calls * GAMMA; }

  private:
    static constexpr uint64_t GAMMA = 0x9E3779B97F4A7C15ULL;
    uint64_t state_;
};

// One draw of the events of each of k groups holding `rows[i]` rows, when
// `events` of all the rows are events and every row is as likely: group by
// group, the hypergeometric count of the events left among the rows left.
TESSALINE_API std::vector<int64_t> hypergeometric_table(const int64_t* rows, std::size_t k,
                                                        int64_t events, SplitMix64& rng);

// Threads a caller's pool has left idle (its tasks run out), lent to the
// permutation tests still running there: a test drawing on one thread
// borrows them for the draws up to its next checkpoint, then gives them
// back, so that a pool's last long test does not draw alone while the
// other threads wait. Shared between threads: every call is atomic.
class SpareThreads {
  public:
    // `count` more threads idle.
    void give(std::size_t count) { idle_.fetch_add(count); }
    // Up to `most` of the idle threads, taken; 0 when none is.
    std::size_t take(std::size_t most) {
        std::size_t idle = idle_.load();
        while (idle > 0 && !idle_.compare_exchange_weak(idle, idle - (idle < most ? idle : most))) {
        }
        const std::size_t taken = idle < most ? idle : most;
        taken_.fetch_add(taken, std::memory_order_relaxed);
        return taken;
    }
    std::size_t idle() const { return idle_.load(std::memory_order_relaxed); }
    // Threads taken so far, in all.
    std::size_t taken() const { return taken_.load(std::memory_order_relaxed); }

  private:
    std::atomic<std::size_t> idle_{0}, taken_{0};
};

struct IvPermutationOptions {
    std::size_t max_draws = 199;
    // At `checks[j]` draws (rising, before max_draws) the draws stop once at
    // most `below[j]` null IVs reached the observed one (the p-value is then
    // surely below the level; -1 never stops) or at least `above[j]` did
    // (surely above it). No check draws to max_draws.
    std::vector<std::size_t> checks;
    std::vector<int64_t> below, above;
    // Skips the draws when the chi-square bound of the p-value (see
    // iv_permutation_test) is below this; 0 always draws.
    double sure_pvalue = 0.0;
    uint64_t seed = 0;
    // Categories: each table's groups are searched in event-rate order.
    bool rate_order = false;
    // The best of ascending, descending, peak and valley by the table's IV.
    bool all_shapes = false;
    // Threads a long test's draws may be dealt and searched on; the result is
    // the same for any number.
    std::size_t threads = 1;
    // Where a test drawing on one thread may borrow idle threads (none: it
    // draws on `threads`); the result is the same.
    SpareThreads* spare = nullptr;
    // The groupings the same search already found on the observed table (a
    // fit's own), read in place of searching it again: one per shape searched
    // (ascending, descending, peak and valley with all_shapes, else the one
    // trend), each the first pre-bin of every group in the order searched,
    // empty where no grouping met the limits. Used as given when
    // `has_observed`; else the test searches the observed table itself.
    bool has_observed = false;
    std::vector<std::vector<std::size_t>> observed_firsts;
};

struct IvPermutationTest {
    double observed_iv = 0.0;  // the table's IV, the rows outside the search included
    double pvalue = 1.0;       // (1 + exceedances) / (1 + draws); the bound without draws
    std::size_t draws = 0;
    std::size_t exceedances = 0;
};

// The permutation test of the search of largest IV over k ordered pre-bins
// (non-events c0, events c1) under `limits`, beside `n_outside` rows of the
// table outside the search (missing and special values), whose events are
// dealt with the rest.
TESSALINE_API IvPermutationTest iv_permutation_test(const int64_t* c0, const int64_t* c1,
                                                    std::size_t k, const int64_t* outside_c0,
                                                    const int64_t* outside_c1,
                                                    std::size_t n_outside,
                                                    const OptimalBinningConstraints& limits,
                                                    const IvPermutationOptions& options);
// -- end of the significance of a searched grouping ---------------------------

// ---------------------------------------------------------------- from merged counts
// The results above rebuilt from rows counted by distinct value, so that
// counts taken over separate parts of a data set (partitions of a cluster)
// and summed give exactly what one pass over all rows gives.

// Rows of one variable summed by distinct value: the values ascending (0.0
// and -0.0 are one value), each with its rows of class 0 and of class 1.
struct ValueCounts {
    std::vector<double> value;
    std::vector<int64_t> c0;
    std::vector<int64_t> c1;
};

// The rows x[i] with label y[i] (0 is class 0, any other label class 1)
// counted by distinct x; rows whose x is NaN are left out.
TESSALINE_API ValueCounts count_values(const double* x, const int32_t* y, std::size_t n);
// The same counts when the rows hold at most `limit` distinct x, found
// without sorting the rows; none when they hold more.
TESSALINE_API std::optional<ValueCounts> count_values_at_most(const double* x, const int32_t* y,
                                                              std::size_t n, std::size_t limit);
// Tables of counts summed by value, in any order of the parts.
TESSALINE_API ValueCounts merge_value_counts(const std::vector<ValueCounts>& parts);
// The boundary table of the rows behind the counts (finite values), sorted
// as preprocessing sorts them.
TESSALINE_API std::vector<Boundary> boundaries_from_counts(const ValueCounts& counts);
// The final intervals of the accepted cuts of a split search on B.
TESSALINE_API std::vector<SummaryInterval> mdlp_intervals(const std::vector<Boundary>& B,
                                                          const std::vector<SplitResult>& splits);
// The full MDLP with its summary from the counts of the kept rows and the
// counters of their preprocessing (`counters.x` and `.y` are not read).
TESSALINE_API MdlpFullRawResult fit_mdlp_full_from_counts(const ValueCounts& counts,
                                                          const PreprocessResult& counters,
                                                          const TessalineParams& params,
                                                          SummaryStatistic representative);
// Quantile cut points of the finite values behind the counts (infinite ones
// are left out, as from raw values).
TESSALINE_API std::vector<double> quantile_splits_from_counts(const ValueCounts& counts,
                                                              std::size_t n_bins);
// The linear-interpolation percentile (0 to 100) of the finite values behind
// the counts, rows of both classes alike, as NumPy's percentile gives it for
// those rows; 0 when there is none.
TESSALINE_API double percentile_from_counts(const ValueCounts& counts, double percentile);
// Binary summary over the ascending cut points of the non-NaN rows behind the
// counts and the rows whose x is NaN (missing_c0, missing_c1). The Mean adds
// the values in ascending order, not in the input order of the rows.
TESSALINE_API std::vector<BinningSummary> summarize_binary_from_counts(
    const ValueCounts& counts, int64_t missing_c0, int64_t missing_c1,
    const std::vector<double>& splits, SummaryStatistic stat);
// The same of counts read in place: the m ascending values at `value` with
// their rows of each class at c0 and c1, arrays the caller keeps.
TESSALINE_API std::vector<BinningSummary> summarize_binary_from_count_arrays(
    const double* value, const int64_t* c0, const int64_t* c1, std::size_t m, int64_t missing_c0,
    int64_t missing_c1, const std::vector<double>& splits, SummaryStatistic stat);
// The same with the median of each interval, of counts as counted_prebins
// gives them with their index (the k = m / 64 + 1 running sums of each class
// before every 64th value): read through the index, not checked again, and
// no pass over the counts.
TESSALINE_API std::vector<BinningSummary> summarize_binary_from_indexed_counts(
    const double* value, const int64_t* c0, const int64_t* c1, std::size_t m,
    const int64_t* index_c0, const int64_t* index_c1, std::size_t k, int64_t missing_c0,
    int64_t missing_c1, const std::vector<double>& splits);
// Comparison from the rows of each sample per bin: k + 2 counts for k cut
// points, the last for NaN.
TESSALINE_API DistributionComparison
compare_distributions_from_counts(const int64_t* count_ref, const int64_t* count_cur,
                                  const std::vector<double>& splits, double epsilon);
// Lorenz curve from the scores counted by distinct value (non-events in c0,
// events in c1).
TESSALINE_API LorenzCurve lorenz_curve_from_counts(const ValueCounts& counts);

// Up to `max_parts` - 1 cut points that best separate the classes behind the
// counts (of rows or weights: only their sums are read): the finite values are
// parted in two where the impurity (Gini, weighted by rows) falls most, then
// the part whose best split lowers it most is parted next, and so on, every
// part keeping at least `min_share` of the rows; the cut points are values of
// the counts (a cut keeps its value below), ascending. `value` is ascending
// (as counts come), infinite values at its ends take no part. Beyond 4,096
// finite values the parts are made of runs of about equally many values.
// Swapping the classes gives the same cut points.
TESSALINE_API std::vector<double> class_split_cuts(const double* value, const double* c0,
                                                   const double* c1, std::size_t n,
                                                   std::size_t max_parts, double min_share);

// The pre-bins of the default binning of one column from its rows labelled 0
// or 1 (another label is refused): the rows counted by value, and the
// summary (rows only: its representative is NaN; no missing row) of the
// intervals at the `n_prebins` quantile cut points of those counts joined by
// the `class_split_cuts` of at most `max_class_parts` parts of
// `min_class_share`.
// The rows whose x is NaN are counted by class, for the missing-value row of
// a summary over those counts.
struct CountedPrebins {
    ValueCounts counts;
    // The rows of each class before every 64th value of the counts.
    std::vector<int64_t> index_c0;
    std::vector<int64_t> index_c1;
    std::vector<BinningSummary> prebins;
    int64_t missing_c0 = 0;
    int64_t missing_c1 = 0;
    // Whether some x was -0.0: the counts read it as 0.0, so a median of zero
    // read from them may have lost the sign the rows give it.
    bool negative_zero = false;
};
TESSALINE_API CountedPrebins counted_prebins(const double* x, const int32_t* y, std::size_t n,
                                             std::size_t n_prebins, std::size_t max_class_parts,
                                             double min_class_share);

// One column of rows for counted_prebins_columns: n values x and labels y.
struct LabelledColumn {
    const double* x = nullptr;
    const int32_t* y = nullptr;
    std::size_t n = 0;
};
// counted_prebins of each column, in the columns' order, computed on up to
// `n_threads` threads (the caller's among them); the error of the first
// column that fails, after every thread has finished.
TESSALINE_API std::vector<CountedPrebins> counted_prebins_columns(
    const std::vector<LabelledColumn>& columns, std::size_t n_prebins, std::size_t max_class_parts,
    double min_class_share, std::size_t n_threads);

// -- column profile (the data overview) --
// What a column's counts by distinct value tell before any binning: the
// linear-interpolation percentiles (0 to 100, as percentile_from_counts
// reads them) of its finite values, their mean (the exact sum of value times
// rows, rounded once, over the rows) and sample standard deviation (the
// squared deviations from that mean summed exactly, over rows - 1), and the
// positions of the values held by the most rows. NaN where there are no
// finite rows (the deviation: fewer than two).
struct ValueProfile {
    std::vector<double> quantiles;
    double mean = 0.0;
    double std = 0.0;
    int64_t finite_rows = 0;
    std::vector<std::size_t> top;
};
// `value` ascending and distinct (infinite values allowed, counted but not
// in the statistics), `count` the rows of each.
TESSALINE_API ValueProfile value_profile(const double* value, const int64_t* count, std::size_t n,
                                         const std::vector<double>& percentiles, std::size_t top);
// The positions of the `k` largest counts, largest first, ties by position.
TESSALINE_API std::vector<std::size_t> top_positions(const int64_t* count, std::size_t n,
                                                     std::size_t k);
// -- end of column profile --
// -- keys of counts kept by batch
// The distinct keys of n_runs runs, run r being keys[ends[r - 1] .. ends[r])
// (from 0 for the first), each ascending and distinct with NaN last (a run
// that is not is refused), and each entry's place among them. 0.0 and -0.0
// are one key, in the form of the earliest run that holds it.
struct KeyRunsUnion {
    std::vector<double> keys;
    std::vector<int64_t> place;
};
TESSALINE_API KeyRunsUnion merge_key_runs(const double* keys, const int64_t* ends,
                                          std::size_t n_runs);
// The keys of the same runs, each entry with its rows, rows of known target
// and events (rows[i], known[i], ones[i]), merged into their distinct keys
// with the counts of equal keys added: merge_key_runs's keys, with the
// counts summed by place.
struct CountRunsUnion {
    std::vector<double> keys;
    std::vector<int64_t> rows;
    std::vector<int64_t> known;
    std::vector<int64_t> ones;
};
TESSALINE_API CountRunsUnion merge_count_runs(const double* keys, const int64_t* rows,
                                              const int64_t* known, const int64_t* ones,
                                              const int64_t* ends, std::size_t n_runs);
// One run of entries where they are: its keys with their rows, rows of
// known target and events, size of each.
struct CountRun {
    const double* keys;
    const int64_t* rows;
    const int64_t* known;
    const int64_t* ones;
    std::size_t size;
};
// The same merge of runs held apart, in one pass over their entries.
TESSALINE_API CountRunsUnion merge_count_runs(const std::vector<CountRun>& runs);
// The same, written to keys, rows, known and ones, each with room for every
// entry of the runs: returns the entries written.
TESSALINE_API std::size_t merge_count_runs_into(const std::vector<CountRun>& runs, double* keys,
                                                int64_t* rows, int64_t* known, int64_t* ones);
// One batch of a numeric column counted by distinct value against its event
// flags (1.0, 0.0, NaN for an unknown target; any other flag is refused):
// the values ascending with the rows whose value is NaN last as one key (0.0
// and -0.0 are one key, in the form count_values gives it), each with its
// rows, rows of known target and events.
TESSALINE_API CountRunsUnion count_batch(const double* x, const double* flags, std::size_t n);
// One column of rows for count_batch_columns: n values x and their flags.
struct FlaggedColumn {
    const double* x = nullptr;
    const double* flags = nullptr;
    std::size_t n = 0;
};
// count_batch of each column, in the columns' order, on up to `n_threads`
// threads (the caller's among them, whose scratch room the next call reuses);
// the error of the first column that fails.
TESSALINE_API std::vector<CountRunsUnion> count_batch_columns(
    const std::vector<FlaggedColumn>& columns, std::size_t n_threads);
// -- end keys of counts kept by batch
// ---- pre-bins of merged counts
// counted_prebins of rows already counted elsewhere (an engine, batches):
// the parts' counts merged as merge_value_counts merges them (sorted where
// they are not, equal values summed, 0.0 for either zero, values without rows
// dropped), their index, and the pre-bins of those counts. No row is missing
// (missing_c0, missing_c1 0) and no sign of a zero is known (negative_zero
// false).
TESSALINE_API CountedPrebins prebins_from_counts(std::vector<ValueCounts> parts,
                                                 std::size_t n_prebins, std::size_t max_class_parts,
                                                 double min_class_share);
// One column of counts held by batch, merged: its runs, and the room its
// merged groups are written to (keys, rows, known and ones, each with room
// for every entry of the runs).
struct HeldRuns {
    std::vector<CountRun> runs;
    double* keys;
    int64_t* rows;
    int64_t* known;
    int64_t* ones;
};
// The groups written by each column of `columns` merged
// (merge_count_runs_into), on up to n_threads threads.
TESSALINE_API std::vector<std::size_t> merge_held_columns(const std::vector<HeldRuns>& columns,
                                                          std::size_t n_threads);
// One column of counts held by batch, read for a fit where it is: its runs,
// and its rows not counted yet (each batch's values and event flags, counted
// here together as one more run after the others).
struct HeldColumn {
    std::vector<CountRun> runs;
    std::vector<FlaggedColumn> rows;
};
// What a fit reads of a held column, the runs merged without writing their
// merged groups: in `searched`, the counts of the numbers (not NaN) that hold
// rows of known target (value, rows of known target less events, events;
// 0.0 for either zero), their index and, when `prebinned`, their pre-bins as
// prebins_from_counts makes them (counts no search can read are left to the
// search, which refuses them); the rows, rows of known target and events of
// the finite values, of the NaN values and of the infinite ones; and, when
// `finite`, the smallest and largest finite value holding rows in the form
// of zero of the earliest run that holds one (as the merged groups give it).
struct HeldColumnRead {
    CountedPrebins searched;
    bool prebinned = false;
    int64_t totals[3][3] = {};
    bool finite = false;
    double low = 0.0;
    double high = 0.0;
};
// Each column of `columns` read, on up to n_threads threads; nothing held
// is changed.
TESSALINE_API std::vector<HeldColumnRead> read_held_columns(const std::vector<HeldColumn>& columns,
                                                            std::size_t n_prebins,
                                                            std::size_t max_class_parts,
                                                            double min_class_share,
                                                            std::size_t n_threads);
// ---- end of pre-bins of merged counts

// ---------------------------------------------------------------- sample weights
// Rows that stand for several records each (a down-sampled class, a rejected
// applicant split into a weighted good and bad): every count becomes the sum
// of the rows' weights, as doubles. Weights are frequency weights: a row of
// integer weight w counts exactly as w copies of it, and a row of weight 0 as
// if it were absent (it is not even counted among the records). Messages are
// in English.

// Rows counted by distinct value with their weights: the values ascending
// (0.0 and -0.0 are one value), the weight of the rows of class 0 and of class
// 1 at each, and the rows (records) of positive weight behind them.
struct WeightedValueCounts {
    std::vector<double> value;
    std::vector<double> c0;
    std::vector<double> c1;
    std::vector<int64_t> rows;
};

// The rows x[i] with label y[i] (0 is class 0, any other label class 1) and
// weight w[i] counted by distinct x, each value's weights summed exactly and
// rounded once (the same sums in any order of the rows); rows whose x is NaN
// or whose weight is 0 are left out. A negative, NaN or infinite weight is
// refused, naming its row.
TESSALINE_API WeightedValueCounts count_values_weighted(const double* x, const int32_t* y,
                                                        const double* w, std::size_t n);
// Weighted counts read in place (arrays another owner keeps).
struct WeightedCountsView {
    const double* value;
    const double* c0;
    const double* c1;
    const int64_t* rows;
    std::size_t size;
};

// One pre-bin of the default binning: its edges and the weight of each class.
struct WeightedPrebin {
    double left;
    double right;
    double c0;
    double c1;
};

// The pre-bins of the default binning of merged weighted counts: the
// quantile cut points of quantile_splits_weighted joined by those of
// class_split_cuts (max_class_parts, min_class_share), and the weight of each
// class in every interval between them, summed value by value in ascending
// order as summarize_binary_weighted sums them.
TESSALINE_API std::vector<WeightedPrebin> weighted_prebins(const WeightedCountsView& counts,
                                                           std::size_t n_prebins,
                                                           std::size_t max_class_parts,
                                                           double min_class_share);
// The rows of one column of 0/1 flags (NaN: target unknown) with weights,
// counted as count_values_weighted counts those of known target, and the
// weight of each class and the records of those whose x is NaN: a column's
// counts in one pass over its rows. Rows of weight 0 are left out.
// Asked with a PrebinRequest, it also gives the pre-bins of the counts (as
// weighted_prebins makes them), read while the counts are at hand: weights
// of 1 through the index of the count of rows. Where the pre-bins cannot be
// made (no finite value, say) there are none, and the step on the counts
// says why in its turn.
struct PrebinRequest {
    std::size_t n_prebins;
    std::size_t max_class_parts;
    double min_class_share;
};
// What one pass over a set of weights finds (weight_kinds): whether each is
// 1, whether each is a whole number with a total below 2^53, the least above
// 0 (infinity where none is), the largest, and whether some weight is 0. Kinds found for a set of
// weights hold for any part of the same rows, so a table of many columns
// settles them once: a part may be all 1 where the whole is not, or whole
// with a smaller total, and the counts read them on another path with the
// same sums.
struct WeightKinds {
    bool all_ones = false;
    bool whole = false;
    double least = 0.0;
    double most = 0.0;
    bool zeros = false;
};
// The kinds of w[0..n); a negative, NaN or infinite weight is refused,
// naming its row.
TESSALINE_API WeightKinds weight_kinds(const double* w, std::size_t n);
struct WeightedCountedColumn {
    WeightedValueCounts counts;
    double missing_c0 = 0.0;
    double missing_c1 = 0.0;
    int64_t missing_rows = 0;
    bool has_prebins = false;
    std::vector<WeightedPrebin> prebins;
    // Where the count made them (whole weights of at most 4, filed by class
    // and weight): the weight of each class and the records of the values
    // before every 64th value, and one entry more when their number is a
    // multiple of 64; else empty.
    std::vector<int64_t> index_c0;
    std::vector<int64_t> index_c1;
    std::vector<int64_t> index_rows;
};
// With `kinds`, those of weights whose rows hold these (weight_kinds), the
// weights are taken as checked and not read for their kinds again.
TESSALINE_API WeightedCountedColumn count_column_weighted(const double* x, const double* flags,
                                                          const double* w, std::size_t n,
                                                          const PrebinRequest* prebins = nullptr,
                                                          const WeightKinds* kinds = nullptr);

// Tables of weighted counts summed by value, exactly and rounded once;
// values whose weight adds up to 0 are dropped.
TESSALINE_API WeightedValueCounts
merge_weighted_value_counts(const std::vector<WeightedValueCounts>& parts);

// A quantile of weighted rows: with W the weight of the finite values, the
// position of quantile p is (W - 1) * p, read by linear interpolation between
// the values at positions floor and ceil of it, the value at a position t
// being the first whose cumulative weight exceeds t (a position below 0 reads
// the smallest value). For integer weights these are the positions among the
// rows repeated, so the cut points are exactly theirs.
TESSALINE_API std::vector<double> quantile_splits_weighted(const WeightedValueCounts& counts,
                                                           std::size_t n_bins);
// Equal-width cut points over the range of the finite values behind the
// counts (a range of quantiles read as above for "quantile" and "iqr").
TESSALINE_API std::vector<double> equal_width_splits_weighted(const WeightedValueCounts& counts,
                                                              std::size_t n_bins, WidthRange range,
                                                              double lower_quantile,
                                                              double upper_quantile, double k);

// One row of a weighted binary summary: count = c0 + c1 (weights), rows the
// records of positive weight, percentage count over the total weight.
struct WeightedBinningSummary {
    double left;
    double right;
    double count;
    int64_t rows;
    double percentage;
    double c0;
    double c1;
    double event_rate;
    double representative;
};
// Binary summary over ascending cut points of the weighted rows behind the
// counts and the rows whose x is NaN (their weights by class and records).
// The median is the weighted quantile 0.5 above; the mean adds value * weight
// in ascending order over the weight.
TESSALINE_API std::vector<WeightedBinningSummary> summarize_binary_weighted(
    const WeightedValueCounts& counts, double missing_c0, double missing_c1, int64_t missing_rows,
    const std::vector<double>& splits, SummaryStatistic stat);
// The same of counts read in place (another owner's arrays), not copied.
TESSALINE_API std::vector<WeightedBinningSummary> summarize_binary_weighted(
    const WeightedCountsView& counts, double missing_c0, double missing_c1, int64_t missing_rows,
    const std::vector<double>& splits, SummaryStatistic stat);
// summarize_binary_weighted (median) of counts of whole weights as
// count_column_weighted leaves them with their index (k entries), read
// through it: a few reads per bin instead of passes over every value; the
// same bits, every sum of such weights being exact. Not checked again.
TESSALINE_API std::vector<WeightedBinningSummary> summarize_binary_weighted_indexed(
    const WeightedCountsView& counts, const int64_t* index_c0, const int64_t* index_c1,
    const int64_t* index_rows, std::size_t k, double missing_c0, double missing_c1,
    int64_t missing_rows, const std::vector<double>& splits);

// Lorenz curve of scores counted by distinct value with weights (the weight
// of the non-events in c0, of the events in c1): the points where each
// class's share of the weight has risen.
TESSALINE_API LorenzCurve lorenz_curve_weighted(const WeightedValueCounts& counts);

// A boundary table of weighted counts (cumulative weights by class).
struct WeightedBoundary {
    double pto_corte;
    double c0;
    double c1;
};
TESSALINE_API std::vector<WeightedBoundary> weighted_boundaries(const WeightedValueCounts& counts);
// The MDLP split search on weights: entropies of weighted shares, N the
// weight of a segment, `minobs` a weight.
TESSALINE_API std::vector<SplitResult> compute_splits_weighted(
    const std::vector<WeightedBoundary>& B, const TessalineParams& p);
// The split search on the boundary table of weighted counts (finite values).
TESSALINE_API std::vector<SplitResult> mdlp_weighted(const WeightedValueCounts& counts,
                                                     const TessalineParams& p);

// Categories counted with weights, as count_categories counts rows.
struct WeightedCategoryCounts {
    std::vector<double> c0;
    std::vector<double> c1;
    std::vector<int64_t> rows;  // records of positive weight and known label per code
    double missing_c0 = 0.0;
    double missing_c1 = 0.0;
    int64_t missing_rows = 0;
    // Asked with `every`: the weight of every row of each code (and of the
    // missing one), its label known or not, summed as c0 and c1 are.
    std::vector<double> every;
    double missing_every = 0.0;
};
TESSALINE_API WeightedCategoryCounts count_categories_weighted(const int64_t* codes,
                                                               const double* labels,
                                                               const double* w, std::size_t n,
                                                               std::size_t k, bool every = false,
                                                               const WeightKinds* kinds = nullptr);
// event_rate_order of weights: rates compared exactly as products of the
// weights (so equal rates of integer weights tie as the rows' do).
TESSALINE_API std::vector<int64_t> event_rate_order_weighted(const double* c0, const double* c1,
                                                             std::size_t k);

// One bin of a comparison of weighted samples: each sample's weight in it.
struct WeightedPsiBin {
    double weight_reference;
    double weight_current;
    double proportion_reference;
    double proportion_current;
    double cumulative_reference;
    double cumulative_current;
    double psi_bin;
};

struct WeightedDistributionComparison {
    std::vector<WeightedPsiBin> bins;
    double psi = 0.0;
    double ks = 0.0;
};

// The weights of values[i] summed into the right-closed bins of the cut
// points, in input order: k + 2 sums for k cut points, the last for NaN.
TESSALINE_API std::vector<double> weigh_into_bins(const double* values, const double* weights,
                                                  std::size_t n, const std::vector<double>& splits);
// `compare_distributions_from_counts` of each sample's weight per bin (k + 2
// sums, the last for NaN); the counts' comparison is this one on whole weights.
TESSALINE_API WeightedDistributionComparison
compare_distributions_from_weights(const double* weight_ref, const double* weight_cur,
                                   const std::vector<double>& splits, double epsilon);

// ---------------------------------------------------------------- validation
// Statistics a model's validator asks for: the significance of the difference
// between neighbouring bins and the uncertainty of a score's AUC.

// Pearson's chi-square test (one degree of freedom, no continuity correction)
// that two groups of c0 non-events and c1 events share one event rate. When a
// margin of the 2 x 2 table is empty the rates cannot differ: statistic 0, p 1.
struct RateTest {
    double statistic;
    double pvalue;
};
TESSALINE_API RateTest equal_rates_test(double c0_a, double c1_a, double c0_b, double c1_b);

// Welch's t-test that two groups of a continuous target share one mean, from
// each group's weight W (weights as frequencies), mean and sum of squared
// deviations D: t = (mean_a - mean_b) / sqrt(s_a^2 / W_a + s_b^2 / W_b) with
// s^2 = D / (W - 1), the Welch-Satterthwaite degrees of freedom and the
// two-sided p-value of Student's t. A group of weight 1 or less gives no
// estimate of its variance, so the means cannot be told apart: statistic 0,
// df NaN, p 1. Two constant groups: p 1 for equal means, else 0 (t infinite).
struct MeanTest {
    double statistic;
    double df;
    double pvalue;
};
TESSALINE_API MeanTest equal_means_test(double weight_a, double mean_a, double sum_sq_dev_a,
                                        double weight_b, double mean_b, double sum_sq_dev_b);

// AUCs of k scores on the same rows and DeLong's estimate of their covariance.
// The AUC of a score is P(event scores above non-event) + P(tie) / 2. The
// covariance matrix is k x k, row-major; NaN when a class has a single row.
struct DelongAuc {
    std::vector<double> auc;
    std::vector<double> covariance;
    std::size_t n_events = 0;
    std::size_t n_non_events = 0;
};
// `scores` holds k rows of n scores each (row-major); labels are 0 or not 0
// (an event). Scores must not be NaN and both classes must hold rows.
TESSALINE_API DelongAuc delong_auc(const double* scores, std::size_t k, const int32_t* labels,
                                   std::size_t n);

// ---------------------------------------------------------------- continuous target
// Binning against a numeric target y (a loss, an amount) with row weights w:
// rows are summed by distinct x, and ordered pre-bins are grouped into the
// contiguous bins whose means explain most of the target's variance.
// Messages are in English.

// Rows of a continuous target: their number, their weight W, the sums
// S = sum of w*y and Q = sum of w*y^2, the sum of squared deviations
// D = sum of w*(y - S/W)^2, and the least and greatest y (NaN when there is
// no row). Summed over the rows of one distinct value, W, S and Q are the
// exact sums correctly rounded, whatever the order of the rows, so that a row
// of integer weight k gives what k copies of it give, and D is worked out
// from the exact sums, to a few units in its last place. D is carried apart
// because Q - S^2/W cancels: a target far from zero (amounts near 1e9)
// leaves nothing of it in the rounded Q.
struct ContinuousStats {
    int64_t rows = 0;
    double weight = 0.0;
    double sum = 0.0;
    double sum_sq = 0.0;
    double sum_sq_dev = 0.0;
    double min = std::numeric_limits<double>::quiet_NaN();
    double max = std::numeric_limits<double>::quiet_NaN();
};

// Rows summed by distinct x (ascending; 0.0 and -0.0 are one value, written
// 0.0), the rows whose x is NaN, and the rows left out: y NaN (a missing
// target) or weight 0 (those rows count for nothing).
struct ContinuousValueCounts {
    std::vector<double> value;
    std::vector<ContinuousStats> stats;
    ContinuousStats missing;
    int64_t n_missing_target = 0;
    int64_t n_zero_weight = 0;
};

// Rows (x[i], y[i]) with weight w[i] (every weight 1 when w is null) summed
// by distinct x. A weight must be finite and not negative, and y finite or NaN.
TESSALINE_API ContinuousValueCounts count_continuous_values(const double* x, const double* y,
                                                            const double* w, std::size_t n);
// The same counts as columns, one entry per distinct value: what a caller
// hands on as columns needs no table of rows copied out of it.
struct ContinuousCountColumns {
    std::vector<double> value;
    std::vector<int64_t> rows;
    std::vector<double> weight, sum, sum_sq, sum_sq_dev, min, max;
    ContinuousStats missing;
    int64_t n_missing_target = 0;
    int64_t n_zero_weight = 0;
};
TESSALINE_API ContinuousCountColumns count_continuous_columns(const double* x, const double* y,
                                                              const double* w, std::size_t n);
// The sums of count_continuous_values before they are rounded, so that
// counts of separate parts of a data set (partitions of a cluster) add up
// exactly: per value (ascending, then NaN for the rows whose x is NaN) its
// rows, least and greatest y, and the non-overlapping partials whose exact
// sum is its weight, sum and sum_sq (value i's partials are
// terms[offset[i] .. offset[i + 1])).
struct ContinuousPartials {
    std::vector<double> value;
    std::vector<int64_t> rows;
    std::vector<double> min, max;
    std::vector<double> weight_terms, sum_terms, sum_sq_terms;
    std::vector<int64_t> weight_offset, sum_offset, sum_sq_offset;
    int64_t n_missing_target = 0;
    int64_t n_zero_weight = 0;
};
TESSALINE_API ContinuousPartials count_continuous_partials(const double* x, const double* y,
                                                           const double* w, std::size_t n);
// The exact sum of each segment terms[offsets[i] .. offsets[i + 1]) of k,
// rounded once: partials of several parts give the sum of one pass.
TESSALINE_API std::vector<double> exact_sums(const double* terms, std::size_t n_terms,
                                             const int64_t* offsets, std::size_t k);
// The same segments each reduced to the few non-overlapping partials whose
// exact sum is the segment's: sums kept between batches stay exact and small.
struct ExactPartials {
    std::vector<double> terms;
    std::vector<int64_t> offsets;  // segment i is terms[offsets[i] .. offsets[i + 1])
};
TESSALINE_API ExactPartials exact_partials(const double* terms, std::size_t n_terms,
                                           const int64_t* offsets, std::size_t k);
// Segments of partials: segment i is terms[offsets[i] .. offsets[i + 1]).
struct PartialSegments {
    const double* terms = nullptr;
    std::size_t n_terms = 0;
    const int64_t* offsets = nullptr;
};
// The sum of squared deviations D of each of k segments of the partials of
// weight, sum and sum_sq (as count_continuous_partials gives them, several
// parts' partials of a value joined): the D of one pass over the same rows.
TESSALINE_API std::vector<double> centred_square_sums(const PartialSegments& weight,
                                                      const PartialSegments& sum,
                                                      const PartialSegments& sum_sq, std::size_t k);
// The cut points of weighted quantile pre-bins: for i = 1 .. n_bins - 1 the
// least value whose cumulative weight (summed from the lowest value) reaches
// W * i / n_bins, each once, finite and below the greatest value. A value
// equal to a cut falls in the lower bin, so with integer weights these are
// the cuts of the rows repeated.
TESSALINE_API std::vector<double> weighted_quantile_cuts(const ContinuousValueCounts& counts,
                                                         std::size_t n_bins);
// The rows of each interval of the ascending cut points (k cuts, k + 1
// intervals closed on the right), W, S and Q summed exactly and rounded once;
// D the values' own D plus each value's weight times its mean's squared
// deviation from the interval's, summed exactly.
TESSALINE_API std::vector<ContinuousStats> continuous_interval_stats(
    const ContinuousValueCounts& counts, const std::vector<double>& splits);
// The same two from the values and their sums as columns of `size` entries,
// read where they are (values ascending, not NaN; min and max may be null,
// read as NaN): a table of many values is not copied into rows first.
struct ContinuousValueColumns {
    std::size_t size = 0;
    const double* value = nullptr;
    const int64_t* rows = nullptr;
    const double* weight = nullptr;
    const double* sum = nullptr;
    const double* sum_sq = nullptr;
    const double* sum_sq_dev = nullptr;
    const double* min = nullptr;
    const double* max = nullptr;
};
TESSALINE_API std::vector<double> weighted_quantile_cuts(const ContinuousValueColumns& counts,
                                                         std::size_t n_bins);
TESSALINE_API std::vector<ContinuousStats> continuous_interval_stats(
    const ContinuousValueColumns& counts, const std::vector<double>& splits);

// The columns of a table of rows: each row's share of the weight W / total,
// mean S / W, standard deviation sqrt(D / W) (the population form, weights
// as frequencies) and the deviation of its mean from the overall mean; NaN
// for a row of weight 0. The between-row sum of squares
// sum W_g (mean_g - mean)^2, the total sum of squares (the within-row D_g
// plus the between-row one) and their ratio R^2 (NaN for a constant target).
// Sums run in row order.
struct ContinuousColumns {
    std::vector<double> share;
    std::vector<double> mean;
    std::vector<double> std_dev;
    std::vector<double> mean_deviation;
    double overall_mean = 0.0;
    double between_ss = 0.0;
    double total_ss = 0.0;
    double r2 = 0.0;
};
TESSALINE_API ContinuousColumns continuous_columns(const ContinuousStats* rows, std::size_t k);

// Limits of the continuous optimal binning. The trend is that of the group
// means, every step strict, as for the binary target's event rate.
struct ContinuousBinningConstraints {
    std::size_t max_bins = 0;    // most groups; 0 sets no limit
    double min_bin_share = 0.0;  // least weight of a group over the total weight, in [0, 1]
    double min_rows = 0.0;       // least rows of a group
    BinTrend trend = BinTrend::none;
    // Greatest p-value of the test of equal means between neighbouring groups
    // (`equal_means_test`); 1 sets no limit, as no p-value exceeds it.
    double max_pvalue = 1.0;
};

enum class ContinuousBinningStatus { optimal, min_rows_not_met, no_weight };

// One chosen group: pre-bins first..last (inclusive), its weight, sum, mean
// and term W (mean - overall mean)^2 of the criterion.
struct ContinuousBinningGroup {
    std::size_t first;
    std::size_t last;
    double weight;
    double sum;
    double mean;
    double between_ss;
};

// The chosen groups, the criterion (their between-group sum of squares,
// summed left to right; NaN if none), the overall mean and the trend met.
struct ContinuousBinning {
    ContinuousBinningStatus status = ContinuousBinningStatus::optimal;
    BinTrend trend = BinTrend::none;
    std::vector<ContinuousBinningGroup> groups;
    double between_ss = 0.0;
    double overall_mean = 0.0;
};

// The contiguous grouping of ordered pre-bins (weight, sum of w*y and rows of
// each) of largest between-group sum of squares sum_g W_g (mean_g - mean)^2,
// which is sum_g S_g^2 / W_g - S^2 / W: the grouping whose group means
// explain most of the target's variance. A group of weight 0 has no mean and
// is never chosen. Ties go to fewer groups, then the earliest last cut, then
// the earliest cut before it; "auto" is the better of ascending and
// descending, ascending on a tie. A limit on the test between neighbours
// needs each pre-bin's sum of squared deviations D (`sum_sq_dev`); a group's
// D joins its pre-bins' left to right, each step adding
// W_a W_b / (W_a + W_b) (mean_a - mean_b)^2.
TESSALINE_API ContinuousBinning continuous_binning(const double* weight, const double* sum,
                                                   const double* rows, std::size_t n_prebins,
                                                   const ContinuousBinningConstraints& constraints,
                                                   const double* sum_sq_dev = nullptr);
// `continuous_binning` under each trend of `trends` in place of the
// constraints' own, the groups built and the trends searched in one pass.
TESSALINE_API std::vector<ContinuousBinning> continuous_binnings(
    const double* weight, const double* sum, const double* rows, std::size_t n_prebins,
    const ContinuousBinningConstraints& constraints, const std::vector<BinTrend>& trends,
    const double* sum_sq_dev = nullptr);
// What a status other than optimal tells the analyst.
TESSALINE_API const char* continuous_binning_status_message(ContinuousBinningStatus status);

// ---------------------------------------------------------------- multiclass target
// Binning against a target of k classes (current, delinquent, default,
// prepaid): rows are counted per class by distinct value, and ordered
// pre-bins are grouped into the contiguous bins of largest multiclass
// information value, the sum over the classes of the IV of each class
// against the rest. Counts are value-major: counts[i * k + c] is class c's
// in row i. Messages are in English.

// Rows counted by distinct x (ascending; 0.0 and -0.0 are one value, written
// 0.0) and class, the rows whose x is NaN by class, and the rows whose label
// is -1 (a missing target), which are left out.
struct ClassValueCounts {
    std::size_t k = 0;
    std::vector<double> value;
    std::vector<int64_t> counts;   // value.size() x k
    std::vector<int64_t> missing;  // k
    int64_t n_missing_target = 0;
};
// Rows x[i] of class labels[i], a code in [0, k) or -1.
TESSALINE_API ClassValueCounts count_class_values(const double* x, const int32_t* labels,
                                                  std::size_t n, std::size_t k);
// The rows of each class in each interval of the ascending cut points (a
// value equal to a cut falls in the lower interval): (splits + 1) x k, of
// the m ascending values at `value` and their counts (m x k).
TESSALINE_API std::vector<int64_t> class_interval_counts(const double* value, const int64_t* counts,
                                                         std::size_t m, std::size_t k,
                                                         const std::vector<double>& splits);

// The measures of a table of n rows of k class counts. Each class c is
// weighed against the rest as a binary target's event: woe = ln(share of c's
// rows / share of the others'), a zero count counting 0.5 in its own row, and
// iv = (share of c's - share of the others') * woe (`group_woe`); a row
// without rows has WoE and IV 0, and a class without rows NaN. A row's IV is
// its classes' summed in class order; class_iv sums each class's over the
// rows, and iv the rows' IV, both in row order. js is the Jensen-Shannon
// divergence of the classes' distributions over the rows, weighted by the
// classes' shares of the rows (the mutual information of row and class, in
// nats): row i's term sum_c n_ic / N ln((n_ic / N_c) / (n_i / N)), a zero
// count adding nothing; js_total sums them in row order.
struct MulticlassColumns {
    std::vector<double> share;  // n_i / N
    std::vector<double> woe;    // n x k
    std::vector<double> iv;     // n x k
    std::vector<double> row_iv;
    std::vector<double> js;
    std::vector<double> class_iv;  // k
    double iv_total = 0.0;
    double js_total = 0.0;
};
TESSALINE_API MulticlassColumns multiclass_columns(const double* counts, std::size_t n,
                                                   std::size_t k);

// What the multiclass search maximises: the multiclass IV, or the
// Jensen-Shannon divergence (both as `multiclass_columns` gives them).
enum class MulticlassObjective { iv, js };

// Limits of the multiclass optimal binning. `trends` holds one trend of the
// class's rate n_c / n per class, or none at all (every class free). One
// constrained class may follow any trend, automatic included; several
// constrained classes each follow ascending or descending, every step
// strict, as a binary target's event rate does.
struct MulticlassBinningConstraints {
    std::size_t max_bins = 0;      // most groups; 0 sets no limit
    double min_bin_share = 0.0;    // least rows of a group over all rows, in [0, 1]
    double min_class_count = 0.0;  // least rows of every class in a group
    std::vector<BinTrend> trends;
    MulticlassObjective objective = MulticlassObjective::iv;
};

enum class MulticlassBinningStatus { optimal, min_class_count_not_met, empty_class };

// One chosen group: pre-bins first..last (inclusive) and its term of the objective.
struct MulticlassBinningGroup {
    std::size_t first;
    std::size_t last;
    double value;
};

// The chosen groups, their objective summed left to right (NaN if none) and
// the trend each class met (automatic resolves to one).
struct MulticlassBinning {
    MulticlassBinningStatus status = MulticlassBinningStatus::optimal;
    std::vector<BinTrend> trends;
    std::vector<MulticlassBinningGroup> groups;
    double value = 0.0;
};

// The contiguous grouping of n ordered pre-bins (counts n x k, k >= 2) of
// largest objective under the limits. Ties go to fewer groups, then the
// earliest last cut, then the earliest cut before it. With k = 2 the IV of a
// group is twice its binary IV, and the IV's grouping the binary search's.
TESSALINE_API MulticlassBinning multiclass_binning(const double* counts, std::size_t n_prebins,
                                                   std::size_t k,
                                                   const MulticlassBinningConstraints& constraints);
// What a status other than optimal tells the analyst.
TESSALINE_API const char* multiclass_binning_status_message(MulticlassBinningStatus status);

// -- vector paths ---------------------------------------------------------------------
// Switches the AVX2 and AVX-512 paths off (false) or back on where the
// processor has them (true, the default). Every path gives the same bits:
// the switch lets a machine with vector units test the plain path.
TESSALINE_API void allow_vector_paths(bool allowed);

}  // namespace tessaline

#endif  // TESSALINE_TESSALINE_HPP
