#include "hypergeometric_laws.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>
#include <utility>

#if !defined(_WIN32)
#include <pthread.h>
#endif

#include "vector_paths.hpp"

namespace tessaline::hypergeometric {
namespace {

// Weights below this share of the mode's are left out of the inversion: far
// below a double's resolution of the cumulative sum.
constexpr double NEGLIGIBLE = 1e-17;

// The support of the law and the mode the walk starts from (any start is
// sound; this one is the law's mode).
struct Support {
    int64_t others, lo, hi, mode;
};

Support support(int64_t total, int64_t events, int64_t n) {
    Support s{};
    s.others = total - events;
    s.lo = std::max<int64_t>(0, n - s.others);
    s.hi = std::min(n, events);
    const double mode_estimate =
        std::floor(static_cast<double>(n + 1) * static_cast<double>(events + 1) /
                   static_cast<double>(total + 2));
    s.mode = std::clamp(static_cast<int64_t>(mode_estimate), s.lo, s.hi);
    return s;
}

// ln(x!) for the whole numbers x[0..LANES) (each from 16 to 2^52), for the
// bounds of a law's total weight below: from the series of
// ln(x!) - (x + 1/2) ln x + x, whose first term left out is below
// 1 / (1680 x^7) < 3e-12. The logarithm is worked out here, lanes side by
// side, to a few units of its last place: x = 2^e f with
// f within a factor sqrt(2) of 1 (bits and exponent read off the double),
// ln f = 2 atanh(s) with s = (f - 1) / (f + 1), |s| < 0.172, whose series
// in s^2 < 0.03 is cut after its eleventh term (the rest below 1e-18).
constexpr int LANES = 12;

TESSALINE_VECTOR_BODY void log_factorials_plain(const double* __restrict x,
                                                double* __restrict out) {
    constexpr double LN2_HI = 6.93147180369123816490e-01;  // e * LN2_HI is exact for |e| < 2^11
    constexpr double LN2_LO = 1.90821492927058770002e-10;
    constexpr uint64_t SQRT2_BITS = 0x3FF6A09E667F3BCDULL;  // sqrt(2), as the bits of a double
    for (int j = 0; j < LANES; ++j) {
        const double v = x[j];
        uint64_t bits = 0;
        std::memcpy(&bits, &v, sizeof bits);
        // f from the mantissa with the exponent of 1, halved where above
        // sqrt(2) (positive doubles order as their bits do): the selects are
        // on bits, so that the lanes go side by side.
        uint64_t mantissa_bits = (bits & 0x000FFFFFFFFFFFFFULL) | 0x3FF0000000000000ULL;
        const uint64_t fold = mantissa_bits > SQRT2_BITS ? 1 : 0;
        mantissa_bits -= fold << 52;
        // The exponent as a double: its bits, plus the fold, in the low bits of 2^52.
        const uint64_t exponent_bits = ((bits >> 52) + fold) | 0x4330000000000000ULL;
        double exponent = 0.0, f = 0.0;
        std::memcpy(&exponent, &exponent_bits, sizeof exponent);
        std::memcpy(&f, &mantissa_bits, sizeof f);
        exponent -= 0x1p52 + 1023.0;
        const double s = (f - 1.0) / (f + 1.0), z = s * s;
        double p = 1.0 / 23.0;
        p = p * z + 1.0 / 21.0;
        p = p * z + 1.0 / 19.0;
        p = p * z + 1.0 / 17.0;
        p = p * z + 1.0 / 15.0;
        p = p * z + 1.0 / 13.0;
        p = p * z + 1.0 / 11.0;
        p = p * z + 1.0 / 9.0;
        p = p * z + 1.0 / 7.0;
        p = p * z + 1.0 / 5.0;
        p = p * z + 1.0 / 3.0;
        const double ln_f = 2.0 * s + (2.0 * s) * (z * p);
        const double ln_v = exponent * LN2_HI + (exponent * LN2_LO + ln_f);
        const double r = 1.0 / v, r2 = r * r;
        out[j] = (v + 0.5) * ln_v - v + 0.9189385332046727 +
                 r * (1.0 / 12.0 - r2 * (1.0 / 360.0 - r2 * (1.0 / 1260.0)));
    }
}
TESSALINE_VECTOR_VARIANTS(void, log_factorials, (const double* x, double* out), (x, out))

// Bounds of the sum of a law's weights relative to the weight at `s.mode`,
// as a walk adds them: the exact sum is 1 / P(mode), worked out from
// logarithms of factorials, and the walk's sum stays within a small share
// of it (each weight a product of rounded ratios, the negligible ones left
// out, the sum rounded). The bounds only tell a walk when it may stop: a
// draw is the same whatever they are, as long as they hold, so the margin
// is wide (128 units of the last place of every logarithm added, where at
// most 16 are made) and the logarithm and exponential of any library do.
struct SumBounds {
    double low, high;
};

SumBounds sum_bounds(int64_t total, int64_t events, int64_t n, const Support& s) {
    static constexpr double SMALL[16] = {0.0,
                                         0.0,
                                         0.693147180559945,
                                         1.7917594692280554,
                                         3.178053830347945,
                                         4.787491742782047,
                                         6.579251212010102,
                                         8.525161361065415,
                                         10.604602902745249,
                                         12.801827480081467,
                                         15.104412573075514,
                                         17.502307845873887,
                                         19.987214495661885,
                                         22.55216385312342,
                                         25.191221182738683,
                                         27.89927138384089};
    // ln of 1 / P(mode): the factorials of the mode's table over those of
    // the margins; those of numbers below 16 from the table above (within
    // 1e-15 of them), the lanes past the ninth not read.
    const int64_t m = s.mode;
    const int64_t args[LANES] = {
        m, events - m, n - m, s.others - n + m, total, events, s.others, n, total - n, 0, 0, 0};
    double x[LANES], terms[LANES];
    for (int j = 0; j < LANES; ++j) x[j] = static_cast<double>(std::max<int64_t>(args[j], 16));
    log_factorials(x, terms);
    double log_sum = 0.0, size = 0.0;
    for (int j = 0; j < 9; ++j) {
        const double term = args[j] < 16 ? SMALL[args[j]] : terms[j];
        log_sum += j < 5 ? term : -term;
        size += std::fabs(term);
    }
    const double steps = static_cast<double>(s.hi - s.lo);
    // The logarithms' rounding, the series' truncation, and the walk's share:
    // 16 units of the last place per step for the products and the sum, 1e-17
    // per weight left out (each below that share of the mode's, the sum at
    // least 1).
    const double margin = size * 0x1p-46 + 1e-10 + (steps + 2.0) * (16.0 * 0x1p-53 + 1e-17);
    // exp(log_sum -+ margin) lie within exp(log_sum) times 1 -+ twice the
    // margin, which is far above the exponential's and products' rounding.
    const double sum = std::exp(log_sum);
    return {sum * (1.0 - 2.0 * margin), sum * (1.0 + 2.0 * margin)};
}

// w(k-1)/w(k) and w(k+1)/w(k) of the weights w of the law.
inline double down_ratio(int64_t k, int64_t events, int64_t others, int64_t n) {
    return (static_cast<double>(k) * static_cast<double>(others - n + k)) /
           (static_cast<double>(events - k + 1) * static_cast<double>(n - k + 1));
}
inline double up_ratio(int64_t k, int64_t events, int64_t others, int64_t n) {
    return (static_cast<double>(events - k) * static_cast<double>(n - k)) /
           (static_cast<double>(k + 1) * static_cast<double>(others - n + k + 1));
}

// Steps of the walk whose ratios of weights are worked out together, before
// the products and sums that chain them: the divisions, independent of one
// another, then go several at a time. A walk for one draw sees after each
// segment whether it may stop: 16 steps stop it sooner than 32 on the laws
// of a few hundred rows, and 8 cost more in calls than they save.
constexpr int SEGMENT = 16;

// The ratios up_ratio and down_ratio give for the SEGMENT steps from `from`
// out of the mode, from the counts as doubles (see walk_weights). The
// divisions are most of a walk's time: on processors with 256-bit vectors
// they go four at a time instead of two, each lane with the operations of
// one step alone, so the ratios are the same bits on either path.
TESSALINE_VECTOR_BODY void segment_ratios_plain(double mode, double ev, double rows, double spare,
                                                double from, double* up, double* down) {
    for (int j = 0; j < SEGMENT; ++j) {
        const double t = from + j, k_up = mode + t, k_down = mode - t;
        up[j] = ((ev - k_up) * (rows - k_up)) / ((k_up + 1.0) * (spare + k_up + 1.0));
        down[j] = (k_down * (spare + k_down)) / ((ev - k_down + 1.0) * (rows - k_down + 1.0));
    }
}
TESSALINE_VECTOR_VARIANTS(void, segment_ratios,
                          (double mode, double ev, double rows, double spare, double from,
                           double* up, double* down),
                          (mode, ev, rows, spare, from, up, down))

}  // namespace

// A walk of the weights relative to the mode's, from the mode outwards, that
// may stop after any segment and go on: w(mode - 1), w(mode - 2), ... into
// `left`, w(mode + 1), ... into `right`, each side until a weight is
// negligible, and the running sum before each step (a step adds the right
// weight, then the left) into `before`. The buffers grow as the walk goes,
// to its length, not the law's support.
struct Walk {
    // The counts as doubles: whole numbers far below 2^53, so each sum below
    // is the very double its integer converts to, and every ratio the same
    // as up_ratio's and down_ratio's.
    double mode, ev, rows, spare;
    std::size_t left_steps, right_steps;
    double right_weight = 1.0, left_weight = 1.0, left_sum = 1.0, running = 1.0;
    // The ratios of the last step either side.
    double right_ratio = 1.0, left_ratio = 1.0;
    bool go_right, go_left;
    std::size_t step = 0, nl = 0, nr = 0;
    // Bounds of the whole walk's sum (see sum_bounds), worked out once the
    // first segment has not settled the draw (none before).
    double sum_low = 0.0, sum_high = HUGE_VAL;

    Walk(int64_t events, int64_t n, const Support& s)
        : mode(static_cast<double>(s.mode)),
          ev(static_cast<double>(events)),
          rows(static_cast<double>(n)),
          spare(static_cast<double>(s.others - n)),
          left_steps(static_cast<std::size_t>(s.mode - s.lo)),
          right_steps(static_cast<std::size_t>(s.hi - s.mode)),
          go_right(right_steps > 0),
          go_left(left_steps > 0) {}

    bool going() const { return go_right || go_left; }
};

namespace {

// The next SEGMENT steps of the walk (fewer where both sides end).
void walk_segment(Walk& w, std::vector<double>& left, std::vector<double>& right,
                  std::vector<double>& before) {
    if (before.size() < w.step + SEGMENT + 1) {
        const std::size_t room = 2 * (w.step + SEGMENT + 1);
        before.resize(room), left.resize(room), right.resize(room);
    }
    if (w.step == 0) before[0] = 1.0;
    double up[SEGMENT], down[SEGMENT];
    segment_ratios(w.mode, w.ev, w.rows, w.spare, static_cast<double>(w.step), up, down);
    double right_weight = w.right_weight, left_weight = w.left_weight, left_sum = w.left_sum,
           running = w.running, right_ratio = w.right_ratio, left_ratio = w.left_ratio;
    bool go_right = w.go_right, go_left = w.go_left;
    std::size_t step = w.step, nl = w.nl, nr = w.nr;
    int j = 0;
    // Where both sides go on past the segment's steps, only a negligible
    // weight stops a step: the steps up to one are taken without the other
    // tests, and that step is left to the loop below, which takes it as
    // every step was taken before.
    if (go_right && go_left && step + SEGMENT <= std::min(w.right_steps, w.left_steps)) {
        for (; j < SEGMENT; ++j, ++step) {
            const double rw = right_weight * up[j], lw = left_weight * down[j];
            if (rw < NEGLIGIBLE || lw < NEGLIGIBLE) break;
            right_weight = rw, left_weight = lw;
            right[nr++] = rw, running += rw;
            left[nl++] = lw, left_sum += lw, running += lw;
            before[step + 1] = running;
        }
        if (j > 0) right_ratio = up[j - 1], left_ratio = down[j - 1];
    }
    for (; j < SEGMENT && (go_right || go_left); ++j, ++step) {
        if (go_right) {
            right_ratio = up[j];
            go_right = step < w.right_steps && !((right_weight *= up[j]) < NEGLIGIBLE);
            if (go_right) right[nr++] = right_weight, running += right_weight;
        }
        if (go_left) {
            left_ratio = down[j];
            go_left = step < w.left_steps && !((left_weight *= down[j]) < NEGLIGIBLE);
            if (go_left) left[nl++] = left_weight, left_sum += left_weight, running += left_weight;
        }
        before[step + 1] = running;
    }
    w.right_weight = right_weight, w.left_weight = left_weight, w.left_sum = left_sum;
    w.running = running, w.right_ratio = right_ratio, w.left_ratio = left_ratio;
    w.go_right = go_right, w.go_left = go_left;
    w.step = step, w.nl = nl, w.nr = nr;
}

// The sum of the weights of a finished walk: the left side first.
double walked_sum(const Walk& w, const std::vector<double>& right) {
    double sum = w.left_sum;
    for (std::size_t j = 0; j < w.nr; ++j) sum += right[j];
    return sum;
}

// The count the target `target` falls on among steps `first` to `steps` of
// a walk with `right_kept` weights on its right side (step j adds right[j]
// where j < right_kept, then the left weight), the target being at least
// the running sum before step `first`: the mode below 1, else the step
// whose running sum first exceeds the target, found among the sums after
// each step (they grow), then within the step, right side first; with the
// least target that gives that count, into `start`. BEYOND where the target
// is not below the last of those sums.
constexpr int64_t BEYOND = INT64_MIN;

int64_t count_from(double target, int64_t mode, std::size_t first, std::size_t steps,
                   std::size_t right_kept, const std::vector<double>& before,
                   const std::vector<double>& right, double& start) {
    if (target < 1.0) {
        start = -HUGE_VAL;
        return mode;
    }
    // Most targets of a walk under way lie past it: no search for those.
    if (!(target < before[steps])) return BEYOND;
    const double* after = before.data() + 1;
    const auto step =
        static_cast<std::size_t>(std::upper_bound(after + first, after + steps, target) - after);
    start = before[step];
    // The step adds its right weight first: the very sum the walk made.
    if (step < right_kept) {
        const double middle = before[step] + right[step];
        if (target < middle) return mode + 1 + static_cast<int64_t>(step);
        start = middle;
    }
    return mode - 1 - static_cast<int64_t>(step);
}

// The same among the steps `law` keeps, walked again from the checkpoint
// before the target, with the products and sums of the walk that kept them.
int64_t kept_count(const LawCache::Law& law, int64_t events, int64_t others, int64_t n,
                   double target, double& start) {
    if (target < 1.0) {
        start = -HUGE_VAL;
        return law.mode;
    }
    if (!(target < law.running)) return BEYOND;
    // The block whose first running sum is the last not above the target:
    // the sums grow, so the first sum above it lies in that block.
    // The sums grow, so that block's index counts the checkpoints after the
    // first whose sum is not above the target: counted without a branch, as
    // where the target falls is a toss (the law is fetched whole before).
    std::size_t b = 0;
    for (std::size_t j = 1; j < law.blocks; ++j) b += !(target < law.marks[j].running);
    const LawCache::Checkpoint& mark = law.marks[b];
    double running = mark.running, right_weight = mark.right_weight, left_weight = mark.left_weight;
    const std::size_t end = std::min<std::size_t>(law.steps, (b + 1) * law.block);
    // The ratios of up_ratio and down_ratio, from the counts as doubles as
    // the walk works them out (see Walk).
    const double ev = static_cast<double>(events), rows = static_cast<double>(n),
                 spare = static_cast<double>(others - n), mode = static_cast<double>(law.mode);
    for (std::size_t step = b * law.block; step < end; ++step) {
        const auto k = static_cast<int64_t>(step);
        const double t = static_cast<double>(step);
        if (step < law.right) {
            const double k_up = mode + t;
            right_weight *= ((ev - k_up) * (rows - k_up)) / ((k_up + 1.0) * (spare + k_up + 1.0));
            const double after = running + right_weight;
            if (target < after) {
                start = running;
                return law.mode + 1 + k;
            }
            running = after;
        }
        if (step < law.left) {
            const double k_down = mode - t;
            left_weight *=
                (k_down * (spare + k_down)) / ((ev - k_down + 1.0) * (rows - k_down + 1.0));
            const double after = running + left_weight;
            if (target < after) {
                start = running;
                return law.mode - 1 - k;
            }
            running = after;
        }
    }
    return BEYOND;  // not reached: the target is below the stretch's sum
}

// The count of a law walked whole past its last running sum: the last
// weight's, where rounding leaves the target.
int64_t past_end(const LawCache::Law& law) {
    return law.right > 0 ? law.mode + law.right : law.mode - static_cast<int64_t>(law.left);
}

// The weights a walk has yet to add on one side are at most the last one
// times q + q^2 + ..., q the ratio of the next step: the law is log-concave,
// so the ratios fall away from the mode. The rounding of each ratio and
// product (a few units of the last place, step by step) stays far inside
// the margin on q. Infinite where q is not below 1 (beside the mode, where
// the walk has just begun).
double side_tail(double weight, double ratio) {
    const double q = ratio * (1.0 + 1e-6);
    return q < 1.0 ? weight * (q / (1.0 - q)) : HUGE_VAL;
}

// What a walk (or the stretch a law keeps of one: the same fields) may
// still add beyond its running sum, as far as the target's bounds need it:
// its tails, or nothing said (infinity) once the total's bounds are known,
// which are the closer ones.
template <typename Walked>
double open_tails(const Walked& w) {
    if (w.sum_high != HUGE_VAL) return HUGE_VAL;
    double rest = 0.0;
    if (w.go_right) rest += side_tail(w.right_weight, w.right_ratio);
    if (w.go_left) rest += side_tail(w.left_weight, w.left_ratio);
    return rest;
}

// The sum of the whole walk is a sum of at most hi - lo + 1 weights, the
// walk's running sum one of some of them, each within m units of the last
// place (of the m terms) of its exact sum: so the whole sum lies between the
// running sum less twice that share and the running sum plus the weights to
// come, plus twice that share, rounding of these bounds included. This is
// that share, doubled.
double sum_slack(const Support& s) {
    return (4.0 * static_cast<double>(s.hi - s.lo) + 8.0) * 0x1p-53;
}

// The bounds of the target, uniform times the whole sum, where the walk's
// running sum is `running` and its tails at most `rest` (the product rounds
// the same way for a larger factor).
struct TargetBounds {
    double low, high;
};
// The tighter of those and the bounds `sum_low` and `sum_high` of the sum
// give (the product rounds the same way for a larger factor).
TargetBounds target_bounds(double uniform, double running, double rest, double slack,
                           double sum_low, double sum_high) {
    // A uniform of 0 times an unknown (infinite) bound is not a number:
    // fmin takes the other bound then.
    return {std::max(uniform * (running * (1.0 - slack)), uniform * sum_low),
            std::fmin(uniform * ((running + rest) * (1.0 + slack)), uniform * sum_high)};
}

// The support of a kept law, whose mode is known.
Support kept_support(int64_t mode, int64_t total, int64_t events, int64_t n) {
    const int64_t others = total - events;
    return {others, std::max<int64_t>(0, n - others), std::min(n, events), mode};
}

}  // namespace

int64_t urn_draw(int64_t total, int64_t events, int64_t n, SplitMix64& rng) {
    int64_t drawn = 0;
    for (int64_t j = 0; j < n; ++j) {
        if (rng.below(static_cast<uint64_t>(total - j)) < static_cast<uint64_t>(events - drawn)) {
            ++drawn;
        }
    }
    return drawn;
}

void build_inversion(int64_t total, int64_t events, int64_t n, std::vector<double>& weights,
                     Inversion& law) {
    const Support s = support(total, events, n);
    // `weights` holds w(mode - 1), w(mode - 2), ... then w(mode + 1), ...;
    // the sum adds them in that order.
    weights.clear();
    double w = 1.0, sum = 1.0;
    for (int64_t k = s.mode; k > s.lo; --k) {
        w *= down_ratio(k, events, s.others, n);
        if (w < NEGLIGIBLE) break;
        weights.push_back(w);
        sum += w;
    }
    const std::size_t n_left = weights.size();
    w = 1.0;
    for (int64_t k = s.mode; k < s.hi; ++k) {
        w *= up_ratio(k, events, s.others, n);
        if (w < NEGLIGIBLE) break;
        weights.push_back(w);
        sum += w;
    }
    const std::size_t n_right = weights.size() - n_left;
    law.mode = s.mode;
    law.sum = sum;
    law.running.clear();
    law.count.clear();
    double running = 1.0;
    for (std::size_t step = 0; step < std::max(n_left, n_right); ++step) {
        if (step < n_right) {
            running += weights[n_left + step];
            law.running.push_back(running);
            law.count.push_back(s.mode + 1 + static_cast<int64_t>(step));
        }
        if (step < n_left) {
            running += weights[step];
            law.running.push_back(running);
            law.count.push_back(s.mode - 1 - static_cast<int64_t>(step));
        }
    }
    law.past_end = n_right > 0 ? s.mode + static_cast<int64_t>(n_right)
                               : s.mode - static_cast<int64_t>(n_left);
}

int64_t invert(const Inversion& law, SplitMix64& rng) {
    return invert(law, rng.unit());
}

int64_t invert(const Inversion& law, double uniform) {
    const double target = uniform * law.sum;
    if (target < 1.0) return law.mode;
    for (std::size_t j = 0; j < law.running.size(); ++j) {
        if (target < law.running[j]) return law.count[j];
    }
    return law.past_end;
}

namespace {

// The chunks of laws caches handed back, for the next caches of any thread
// (a test's threads end with it; its caches go on to the next test).
struct KeptChunks {
    std::mutex lock;
    std::vector<std::unique_ptr<LawCache::Law[]>> chunks;
};

KeptChunks& kept_chunks();

#if !defined(_WIN32)
// The lock is held across a fork, so that the child's copy of the chunks is
// whole and its lock free: a thread of the parent that held it would not be
// in the child to let it go.
void lock_for_fork() {
    kept_chunks().lock.lock();
}
void unlock_after_fork() {
    kept_chunks().lock.unlock();
}
#endif

KeptChunks* new_kept_chunks() {
    auto* kept = new KeptChunks;
#if !defined(_WIN32)
    pthread_atfork(lock_for_fork, unlock_after_fork, unlock_after_fork);
#endif
    return kept;
}

KeptChunks& kept_chunks() {
    // Never destroyed: a thread still running at exit may hand chunks back.
    static KeptChunks* kept = new_kept_chunks();
    return *kept;
}

// Made when the library is loaded: a child forked while another thread was
// first making it would wait forever on its static.
[[maybe_unused]] const KeptChunks& chunks_made = kept_chunks();

}  // namespace

LawCache::LawCache(int64_t events, std::size_t max_laws)
    : stride_(static_cast<uint64_t>(events) / BUCKET + 1), max_laws_(max_laws) {}

LawCache::~LawCache() {
    KeptChunks& kept = kept_chunks();
    const std::lock_guard<std::mutex> hold(kept.lock);
    for (auto& chunk : chunks_) {
        if (kept.chunks.size() == KEPT_CHUNKS) break;
        kept.chunks.push_back(std::move(chunk));
    }
}

std::unique_ptr<LawCache::Law[]> LawCache::new_chunk() {
    {
        KeptChunks& kept = kept_chunks();
        const std::lock_guard<std::mutex> hold(kept.lock);
        if (!kept.chunks.empty()) {
            std::unique_ptr<Law[]> chunk = std::move(kept.chunks.back());
            kept.chunks.pop_back();
            return chunk;
        }
    }
    return std::unique_ptr<Law[]>(new Law[CHUNK]);
}

std::size_t LawCache::find(uint64_t key) const {
    const std::size_t mask = buckets_.size() - 1;
    std::size_t slot = static_cast<std::size_t>((key * 0x9E3779B97F4A7C15ULL) >> 20) & mask;
    while (buckets_[slot].key != key && buckets_[slot].key != EMPTY) slot = (slot + 1) & mask;
    return slot;
}

void LawCache::grow() {
    std::vector<Bucket> old(2 * buckets_.size());
    old.swap(buckets_);
    for (const Bucket& bucket : old) {
        if (bucket.key != EMPTY) buckets_[find(bucket.key)] = bucket;
    }
}

LawCache::Law* LawCache::add(std::size_t slot, uint64_t key, std::size_t at) {
    if (held_ >= max_laws_) return nullptr;
    if (held_ % CHUNK == 0) chunks_.push_back(new_chunk());
    Law* law = &law_at(static_cast<uint32_t>(held_));
    ++held_;
    if (buckets_[slot].key != key) {
        buckets_[slot].key = key;
        if (2 * ++n_buckets_ > buckets_.size()) grow(), slot = find(key);
    }
    buckets_[slot].law[at] = static_cast<uint32_t>(held_);
    return law;
}

int64_t LawCache::walk_on(Walk& w, const Law* law, std::size_t from, double uniform) {
    const Support s{static_cast<int64_t>(w.spare) + static_cast<int64_t>(w.rows),
                    static_cast<int64_t>(w.mode) - static_cast<int64_t>(w.left_steps),
                    static_cast<int64_t>(w.mode) + static_cast<int64_t>(w.right_steps),
                    static_cast<int64_t>(w.mode)};
    const double slack = sum_slack(s);
    const auto mode = static_cast<int64_t>(w.mode), events = static_cast<int64_t>(w.ev),
               n = static_cast<int64_t>(w.rows);
    double start = 0.0;
    // The count where the target's bounds `t` fall in one step, else BEYOND.
    const auto settle = [&](const TargetBounds& t) {
        // Below the stretch kept, the count is found there.
        const int64_t at_high =
            from > 0 && t.high < before_[from]
                ? kept_count(*law, events, s.others, n, t.high, start)
                : count_from(t.high, mode, from, w.step, w.nr, before_, right_, start);
        return at_high != BEYOND && !(t.low < start) ? at_high : BEYOND;
    };
    do {
        walk_segment(w, left_, right_, before_);
        if (!w.going()) break;
        // The ratios fall away from the mode: the last ones bound the next.
        const double rest = open_tails(w);
        int64_t count =
            settle(target_bounds(uniform, w.running, rest, slack, w.sum_low, w.sum_high));
        // Where the tails leave the draw open, the total's bounds are worked
        // out once (narrow laws seldom need them: their tails are short).
        if (count == BEYOND && w.sum_high == HUGE_VAL) {
            const SumBounds b = sum_bounds(s.others + events, events, n, s);
            w.sum_low = b.low, w.sum_high = b.high;
            count = settle(target_bounds(uniform, w.running, rest, slack, w.sum_low, w.sum_high));
        }
        if (count != BEYOND) return count;
    } while (true);
    if (from > 0) return BEYOND;
    const int64_t count =
        count_from(uniform * walked_sum(w, right_), mode, 0, w.step, w.nr, before_, right_, start);
    if (count != BEYOND) return count;
    return w.nr > 0 ? mode + static_cast<int64_t>(w.nr) : mode - static_cast<int64_t>(w.nl);
}

void LawCache::keep(const Walk& w, std::size_t from, Law& law) const {
    law.mode = static_cast<int64_t>(w.mode);
    law.running = w.running;
    law.right_weight = w.right_weight, law.left_weight = w.left_weight;
    law.right_ratio = w.right_ratio, law.left_ratio = w.left_ratio;
    law.go_right = w.go_right, law.go_left = w.go_left;
    law.sum_low = w.sum_low, law.sum_high = w.sum_high;
    law.steps = static_cast<uint32_t>(w.step);
    law.left = static_cast<uint32_t>(w.nl), law.right = static_cast<uint32_t>(w.nr);
    law.sum = law.whole() ? walked_sum(w, right_) : 0.0;  // known once whole
    if (from == 0) law.block = 1, law.blocks = 0;
    // Twice the steps per block, every other checkpoint kept, until the
    // checkpoints cover the stretch.
    while (law.steps > CHECKPOINTS * law.block) {
        const uint32_t kept = (law.blocks + 1) / 2;
        for (uint32_t b = 1; b < kept; ++b) law.marks[b] = law.marks[2 * b];
        law.blocks = kept;
        law.block *= 2;
    }
    // The last weight on either side before each new block's first step:
    // the walk's own while both sides still went, else the side's last.
    const auto last = [](const std::vector<double>& side, std::size_t kept, std::size_t step) {
        const std::size_t j = std::min(kept, step);
        return j == 0 ? 1.0 : side[j - 1];
    };
    std::size_t b = law.blocks, step = b * law.block;
    if (b == 0 && law.steps > 0) law.marks[b++] = {before_[0], 1.0, 1.0}, step = law.block;
    const std::size_t both = std::min(law.right, law.left);
    for (; step < law.steps && step <= both; ++b, step += law.block) {
        law.marks[b] = {before_[step], right_[step - 1], left_[step - 1]};
    }
    for (; step < law.steps; ++b, step += law.block) {
        law.marks[b] = {before_[step], last(right_, law.right, step), last(left_, law.left, step)};
    }
    law.blocks = static_cast<uint32_t>(b);
}

int64_t LawCache::draw_fresh(Law& law, int64_t total, int64_t events, int64_t n, double uniform) {
    Walk w(events, n, support(total, events, n));
    const int64_t count = walk_on(w, nullptr, 0, uniform);
    keep(w, 0, law);
    return count;
}

int64_t LawCache::extend(Law& law, int64_t total, int64_t events, int64_t n, double uniform) {
    const Support s = kept_support(law.mode, total, events, n);
    Walk w(events, n, s);
    w.right_weight = law.right_weight, w.left_weight = law.left_weight;
    w.running = law.running, w.right_ratio = law.right_ratio, w.left_ratio = law.left_ratio;
    w.go_right = law.go_right, w.go_left = law.go_left;
    w.sum_low = law.sum_low, w.sum_high = law.sum_high;
    w.step = law.steps, w.nl = law.left, w.nr = law.right;
    // The buffers hold the walk from where the stretch stops, with the
    // running sum and last weights there, as the checkpoints read them.
    const std::size_t from = law.steps;
    if (before_.size() < from + 1) {
        before_.resize(2 * (from + 1)), left_.resize(2 * (from + 1)), right_.resize(2 * (from + 1));
    }
    before_[from] = law.running;
    if (law.right > 0) right_[law.right - 1] = law.right_weight;
    if (law.left > 0) left_[law.left - 1] = law.left_weight;
    const int64_t count = walk_on(w, &law, from, uniform);
    if (w.going()) {
        keep(w, from, law);
        return count;
    }
    // Both ends reached: the whole sum adds the weights in another order
    // than the walk, so the law is walked whole again from its mode.
    return draw_fresh(law, total, events, n, uniform);
}

namespace {

// The draw for the uniform `uniform` from the stretch `law` keeps of the law
// of (total, events, n): exact where the law is whole, else where the
// bounds of the target fall in one step of the stretch; BEYOND where they
// do not.
int64_t settle_kept(const LawCache::Law& law, int64_t total, int64_t events, int64_t n,
                    double uniform) {
    const int64_t others = total - events;
    double start = 0.0;
    if (law.whole()) {
        const int64_t count = kept_count(law, events, others, n, uniform * law.sum, start);
        return count != BEYOND ? count : past_end(law);
    }
    const TargetBounds t = target_bounds(uniform, law.running, open_tails(law),
                                         sum_slack(kept_support(law.mode, total, events, n)),
                                         law.sum_low, law.sum_high);
    const int64_t at_high = kept_count(law, events, others, n, t.high, start);
    return at_high != BEYOND && !(t.low < start) ? at_high : BEYOND;
}

}  // namespace

int64_t LawCache::draw(Law* law, int64_t total, int64_t events, int64_t n, double uniform) {
    if (law == nullptr) {
        Walk w(events, n, support(total, events, n));
        return walk_on(w, nullptr, 0, uniform);
    }
    const int64_t count = settle_kept(*law, total, events, n, uniform);
    return count != BEYOND ? count : extend(*law, total, events, n, uniform);
}

int64_t LawCache::draw_shared(const Law& law, std::size_t group, int64_t total, int64_t events,
                              int64_t n, double uniform) {
    const int64_t count = settle_kept(law, total, events, n, uniform);
    if (count != BEYOND) return count;
    // This cache's copy, walked on before, or a new one.
    const uint64_t key = group * stride_ + static_cast<uint64_t>(events) / BUCKET;
    const std::size_t at = static_cast<std::size_t>(events) % BUCKET;
    const std::size_t slot = find(key);
    const uint32_t id = buckets_[slot].key == key ? buckets_[slot].law[at] : 0;
    if (id != 0) return draw(&law_at(id - 1), total, events, n, uniform);
    Law* copy = add(slot, key, at);
    if (copy == nullptr) copy = &aside_;
    *copy = law;
    return extend(*copy, total, events, n, uniform);
}

LawCache::Law* LawCache::locate(std::size_t group, int64_t events, bool& fresh) {
    const uint64_t key = group * stride_ + static_cast<uint64_t>(events) / BUCKET;
    const std::size_t at = static_cast<std::size_t>(events) % BUCKET;
    const std::size_t slot = find(key);
    const uint32_t id = buckets_[slot].key == key ? buckets_[slot].law[at] : 0;
    fresh = false;
    if (id != 0) return &law_at(id - 1);
    Law* law = add(slot, key, at);
    fresh = law != nullptr;
    return law;
}

const LawCache::Law* LawCache::kept(std::size_t group, int64_t events) const {
    const uint64_t key = group * stride_ + static_cast<uint64_t>(events) / BUCKET;
    const Bucket& bucket = buckets_[find(key)];
    const uint32_t id =
        bucket.key == key ? bucket.law[static_cast<std::size_t>(events) % BUCKET] : 0;
    return id != 0 ? &chunks_[(id - 1) / CHUNK][(id - 1) % CHUNK] : nullptr;
}

bool same_state(SplitMix64 a, SplitMix64 b) {
    // A generator's step and output are one to one.
    return a.next() == b.next();
}

TableDeals::TableDeals(std::vector<int64_t> rows, int64_t events, SplitMix64 rng,
                       std::size_t max_laws)
    : rows_(std::move(rows)), events_(events), rng_(rng), cache_(events, max_laws) {
    for (int64_t r : rows_) total_ += r;
}

void TableDeals::next(std::vector<int64_t>& drawn) {
    if (taken_ == ready_) deal(width_);
    drawn = tables_[taken_++];
}

void TableDeals::restart(SplitMix64 rng) {
    rng_ = rng;
    calls_ = 0;
    width_ = 1;
    ready_ = taken_ = 0;
}

void TableDeals::deal(std::size_t width) {
    static_assert(WIDTH == 4, "one generator per table of a batch");
    SplitMix64 starts[WIDTH] = {rng_, rng_, rng_, rng_};
    for (std::size_t t = 1; t < width; ++t) {
        starts[t] = starts[t - 1];
        starts[t].skip(calls_);
    }
    SplitMix64 rngs[WIDTH] = {starts[0], starts[1], starts[2], starts[3]};
    int64_t events[WIDTH];
    std::size_t calls[WIDTH] = {};
    LawCache::Law* laws[WIDTH] = {};
    const LawCache::Law* shared[WIDTH] = {};
    bool inverted[WIDTH] = {};
    for (std::size_t t = 0; t < width; ++t) {
        events[t] = events_;
        tables_[t].assign(rows_.size(), 0);
    }
    int64_t total = total_;
    for (std::size_t i = 0; i < rows_.size(); ++i) {
        const int64_t n = rows_[i];
        // The laws of every table first, then their draws.
        for (std::size_t t = 0; t < width; ++t) {
            inverted[t] = false;
            if (events[t] == 0) continue;
            const bool urn = !(n == 0 || events[t] == total || n == total) && n <= URN_ROWS;
            if (settled(total, events[t], n, rngs[t], tables_[t][i])) {
                calls[t] += urn ? static_cast<std::size_t>(n) : 0;
                events[t] -= tables_[t][i];
                continue;
            }
            shared[t] = shared_ != nullptr ? shared_->kept(i, events[t]) : nullptr;
            bool fresh = false;
            laws[t] = shared[t] == nullptr ? cache_.locate(i, events[t], fresh) : nullptr;
            if (fresh) {
                // Walked for its first draw and kept: a table's draws follow
                // its own generator, whatever the order among tables.
                tables_[t][i] = cache_.draw_fresh(*laws[t], total, events[t], n, rngs[t].unit());
                events[t] -= tables_[t][i];
                ++calls[t];
                continue;
            }
            inverted[t] = true;
#if defined(__GNUC__)
            // A draw reads the law's head, then its checkpoints up to the
            // target's: the whole law asked for at once, as the checkpoints'
            // lines missed one after another cost the draws more than the
            // head's.
            const char* law = shared[t] != nullptr ? reinterpret_cast<const char*>(shared[t])
                                                   : reinterpret_cast<const char*>(laws[t]);
            if (law != nullptr) {
                for (std::size_t at = 0; at < sizeof(LawCache::Law); at += 64)
                    __builtin_prefetch(law + at);
                __builtin_prefetch(law + sizeof(LawCache::Law) - 1);
            }
#endif
        }
        for (std::size_t t = 0; t < width; ++t) {
            if (!inverted[t]) continue;
            const double uniform = rngs[t].unit();
            tables_[t][i] = shared[t] != nullptr
                                ? cache_.draw_shared(*shared[t], i, total, events[t], n, uniform)
                                : cache_.draw(laws[t], total, events[t], n, uniform);
            events[t] -= tables_[t][i];
            ++calls[t];
        }
        total -= n;
    }
    // Keep the tables up to the first that did not start where the one
    // before it ended.
    ready_ = 1;
    while (ready_ < width && same_state(rngs[ready_ - 1], starts[ready_])) ++ready_;
    for (std::size_t t = 0; t < ready_; ++t) ends_[t] = rngs[t], calls_of_[t] = calls[t];
    rng_ = rngs[ready_ - 1];
    calls_ = calls[ready_ - 1];
    taken_ = 0;
    // Tables whose calls vary (events run out, or fill the rows left, at
    // different groups) are dealt one at a time until a batch holds again.
    width_ = ready_ == width ? WIDTH : 1;
}

}  // namespace tessaline::hypergeometric
