// Hypergeometric draws by inversion: how many of `n` rows drawn from `total`
// rows holding `events` events are events. The weights of the law relative
// to the mode's are walked out of the mode, right then left, and a uniform
// scaled by their total is compared with their running sums. The draws take
// plain arithmetic only (logarithms only bound the total, to tell a walk
// when it may stop), so a seed gives the same draws everywhere.
//
// `Inversion` is one law held whole; `LawCache` keeps many laws of one
// permutation test compactly and gives, for the same generator, the very
// draws the whole law gives: the same weights and sums, in the same order.
#ifndef TESSALINE_HYPERGEOMETRIC_LAWS_HPP
#define TESSALINE_HYPERGEOMETRIC_LAWS_HPP

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "tessaline/tessaline.hpp"

namespace tessaline::hypergeometric {

// Up to this many rows a draw picks them one by one (an urn); past it, it
// inverts the distribution.
constexpr int64_t URN_ROWS = 32;

// The events among `n` rows picked one by one from `total` rows holding
// `events` events.
int64_t urn_draw(int64_t total, int64_t events, int64_t n, SplitMix64& rng);

// Whether the margins or an urn settle the events among `n` rows drawn from
// `total` rows holding `events` events, into `drawn`: up to URN_ROWS rows a
// draw picks them one by one; past it, the caller inverts the law. Defined
// here: every group of every table asks, and most are not settled.
inline bool settled(int64_t total, int64_t events, int64_t n, SplitMix64& rng, int64_t& drawn) {
    drawn = 0;
    if (n == 0 || events == 0) return true;
    if (events == total || n == total) {
        drawn = events == total ? n : events;
        return true;
    }
    if (n > URN_ROWS) return false;
    drawn = urn_draw(total, events, n, rng);
    return true;
}

// One law whole: its mode, total weight and the running sums of the weights
// from the mode outwards, right then left, each with the count it stands for.
struct Inversion {
    int64_t mode = 0;
    double sum = 1.0;
    std::vector<double> running;
    std::vector<int64_t> count;
    int64_t past_end = 0;  // where rounding leaves a target past the last weight
};

void build_inversion(int64_t total, int64_t events, int64_t n, std::vector<double>& weights,
                     Inversion& law);
int64_t invert(const Inversion& law, SplitMix64& rng);

// The draw for the uniform `uniform` from a law held whole: the mode below
// a target of 1, else the count of the first running sum above it.
int64_t invert(const Inversion& law, double uniform);

// A walk of a law's weights out of its mode, that may stop and go on.
struct Walk;

// The laws a test's draws invert, kept by group and events left: the rows
// left before each group are the same in every draw, and the events left
// take few values, so most draws read their laws instead of building them.
//
// A law is kept as the partial walk its draws have needed: from its mode
// only as far out as they went, where the whole law takes 9 standard
// deviations either side, and walked on when a draw's target is not
// settled inside that stretch. The target is uniform times the whole sum,
// which a stretch does not know, but bounds: from the sum so far to that
// sum plus what the log-concave tails may still add, and closer still,
// within some 1e-9 of the exact total the law's factorials give (the
// reciprocal of the mode's probability), so that a walk goes little
// further than its draw's count. A draw whose bounds
// fall in the same step of the stretch is settled there (nearly all); else
// the walk goes on from where the stretch stops, with the very products and
// sums of one walk, and the law keeps the longer stretch. A walk that
// reaches both ends of the law makes it whole, with its sum: then the target
// is exact. Keeping a stretch costs little more than the walk for its first
// draw, so even the many laws met once (the events left spread wider than a
// short test's draws, down the groups) are kept: the next meeting reads it.
//
// A stretch is kept as at most CHECKPOINTS states of its walk (the running
// sum and the last weight on either side), one every `block` steps, a power
// of two doubled as the stretch grows, and the state where it stops: a
// draw finds the block its bounds fall in and walks that block again. The
// checkpoints take 48 doubles at most, whatever the law's width, where the
// running sums of a law of standard deviation s take some 18 s; and a block
// is a sixteenth to an eighth of the stretch, not a sixteenth of the whole
// law's 18 standard deviations.
//
// Laws are found through buckets of BUCKET consecutive events left of a
// group, in a table open to linear probing: the buckets a test reads often
// are few and small, and stay in cache.
//
// Memory is bounded: at most `max_laws` laws, 480 bytes each, and no more
// buckets (of laws kept) than that, 72 bytes each in a table at
// least a quarter full: at most 50 MB with the default. Past that, new laws
// are walked for their one draw.
//
// The laws' room outlives the cache: a test needs much the same room as the
// test before it, and fresh memory costs a page fault and a zeroed page on
// its first touch, which took more than building the laws in it. The
// process keeps up to KEPT_CHUNKS chunks of laws (some 30 MB) that caches
// handed back, and hands them to the next caches; a law is written whole
// before it is read, so whatever a kept chunk held does not matter.

class LawCache {
  public:
    static constexpr std::size_t CHECKPOINTS = 16;
    static constexpr std::size_t DEFAULT_MAX_LAWS = std::size_t{1} << 16;

    // The walk before a block's first step.
    struct Checkpoint {
        double running, right_weight, left_weight;
    };
    // A law: its mode; where its kept stretch stops, the walk's running sum,
    // last weights and ratios either side, whether either side goes on, and
    // the steps taken and weights kept either side; the total weight once
    // walked whole (0 before); the steps per checkpoint and the checkpoints.
    // Left unset until walked, so that room for laws costs no memory until
    // they are built.
    struct Law {
        double sum;
        int64_t mode;
        double running, right_weight, left_weight, right_ratio, left_ratio;
        double sum_low, sum_high;  // bounds of the total weight (0 and infinity before known)
        uint32_t steps, left, right, block, blocks;
        bool go_right, go_left;
        Checkpoint marks[CHECKPOINTS];

        bool whole() const { return !go_right && !go_left; }
    };

    explicit LawCache(int64_t events, std::size_t max_laws = DEFAULT_MAX_LAWS);
    ~LawCache();
    LawCache(const LawCache&) = delete;
    LawCache& operator=(const LawCache&) = delete;

    // The law of the rows of group `group` drawn with `events` left (the
    // group's key: the same group and events left always come with the
    // same rows), where kept; else room for it (`fresh` tells: draw_fresh
    // must walk it before any other law is located), or none past the
    // memory limit. It stays where it is while the cache lasts.
    Law* locate(std::size_t group, int64_t events, bool& fresh);
    // The law of group `group` with `events` left where it is kept already,
    // else none; changes nothing, so threads may read a cache no one builds in.
    const Law* kept(std::size_t group, int64_t events) const;
    // The events among those rows for the uniform `uniform`, from the law
    // `locate` gave (walked on where the draw needs it), or from one walked
    // as far as this draw needs where it gave none.
    int64_t draw(Law* law, int64_t total, int64_t events, int64_t n, double uniform);
    // The same from the room `locate` gave fresh: the walk is kept there.
    int64_t draw_fresh(Law& law, int64_t total, int64_t events, int64_t n, double uniform);
    // The same from a law another cache keeps (of group `group`), which is
    // only read: where the draw needs it walked on, it is copied into this
    // cache (or, past the memory limit, aside) and walked on there.
    int64_t draw_shared(const Law& law, std::size_t group, int64_t total, int64_t events, int64_t n,
                        double uniform);

    std::size_t held() const { return held_; }

  private:
    static constexpr std::size_t BUCKET = 16;
    static constexpr std::size_t CHUNK = 1024;  // laws allocated together
    static constexpr std::size_t KEPT_CHUNKS = 64;
    static constexpr uint64_t EMPTY = ~uint64_t{0};
    // The laws of BUCKET consecutive events left of a group: 1 + their
    // number, 0 where not met.
    struct Bucket {
        uint64_t key = EMPTY;
        uint32_t law[BUCKET] = {};
    };

    std::size_t find(uint64_t key) const;
    void grow();
    // Room for CHUNK laws: a kept chunk if there is one, else fresh.
    static std::unique_ptr<Law[]> new_chunk();
    Law& law_at(uint32_t id) { return chunks_[id / CHUNK][id % CHUNK]; }
    // Room for the next law, filed under `key` at `at` (the bucket found at
    // `slot`); none past the memory limit.
    Law* add(std::size_t slot, uint64_t key, std::size_t at);
    // The walk `w` on, from its step `from` (the steps before it those kept
    // in `law`, none where `from` is 0), until the count the target
    // uniform times the whole sum falls on is settled, or the walk reaches
    // both ends; then the count where `from` is 0, the walk having all the
    // weights, else BEYOND.
    int64_t walk_on(Walk& w, const Law* law, std::size_t from, double uniform);
    // Walks `law` on from its stretch for the draw of `uniform`, and keeps
    // the longer stretch, or the law whole where the walk reaches both ends.
    int64_t extend(Law& law, int64_t total, int64_t events, int64_t n, double uniform);
    // Keeps the walk `w`, whose steps from `from` are in the buffers, in
    // `law`: its state and its checkpoints.
    void keep(const Walk& w, std::size_t from, Law& law) const;

    uint64_t stride_;
    std::size_t max_laws_;
    std::vector<Bucket> buckets_ = std::vector<Bucket>(256);
    std::size_t n_buckets_ = 0;
    std::vector<std::unique_ptr<Law[]>> chunks_;
    std::size_t held_ = 0;
    std::vector<double> left_, right_, before_;  // the walk just made
    Law aside_{};                                // a shared law walked on past the memory limit
};

// Whether two generators stand at the same state: their next values are the
// same exactly then.
bool same_state(SplitMix64 a, SplitMix64 b);

// The tables hypergeometric_table deals from one generator, in its order,
// from the laws a cache keeps, dealt WIDTH at a time group by group: each
// draw waits on its law's memory, and the draws of one table follow each
// other (the events left pick the next law), while the tables of a batch
// are independent, so their waits overlap. Each table of a batch starts
// where the generator stands after the one before if that took as many
// calls as the last table did (nearly always: one per law, one per row of
// an urn); a table that started elsewhere is dropped with those after it.
// A law is the same whichever table builds it, so a batch's tables, kept or
// dropped, change no other table.
class TableDeals {
  public:
    static constexpr std::size_t WIDTH = 4;

    TableDeals(std::vector<int64_t> rows, int64_t events, SplitMix64 rng,
               std::size_t max_laws = LawCache::DEFAULT_MAX_LAWS);

    // The next table, into `drawn`.
    void next(std::vector<int64_t>& drawn);
    // Deals on from `rng`, as if the tables before had left it there; the
    // laws kept stay, as they are the same whatever the generator.
    void restart(SplitMix64 rng);
    // Reads the laws `shared` keeps before its own (none: its own only):
    // `shared` must outlive the deals and take no new law while they read it.
    void share(const LawCache* shared) { shared_ = shared; }
    // The generator as the tables taken left it, and the calls the last of
    // them took (0 before one is taken).
    SplitMix64 generator() const { return taken_ > 0 ? ends_[taken_ - 1] : rng_; }
    std::size_t last_calls() const { return taken_ > 0 ? calls_of_[taken_ - 1] : 0; }

    const LawCache& cache() const { return cache_; }

  private:
    void deal(std::size_t width);

    std::vector<int64_t> rows_;
    int64_t events_, total_ = 0;
    SplitMix64 rng_;
    LawCache cache_;
    const LawCache* shared_ = nullptr;
    std::size_t calls_ = 0;  // the generator's calls of the last table dealt
    // The first table alone: it tells how many calls a table takes.
    std::size_t width_ = 1;
    std::vector<int64_t> tables_[WIDTH];
    SplitMix64 ends_[WIDTH] = {SplitMix64(0), SplitMix64(0), SplitMix64(0), SplitMix64(0)};
    std::size_t calls_of_[WIDTH] = {};
    std::size_t ready_ = 0, taken_ = 0;
};

}  // namespace tessaline::hypergeometric

#endif  // TESSALINE_HYPERGEOMETRIC_LAWS_HPP
