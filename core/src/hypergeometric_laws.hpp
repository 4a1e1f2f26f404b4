// Hypergeometric draws by inversion: how many of `n` rows drawn from `total`
// rows holding `events` events are events. The weights of the law relative
// to the mode's are walked out of the mode, right then left, and a uniform
// scaled by their total is compared with their running sums. Plain
// arithmetic only (no exp or log), so a seed gives the same draws everywhere.
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

// Whether the margins or an urn settle the events among `n` rows drawn from
// `total` rows holding `events` events, into `drawn`: up to URN_ROWS rows a
// draw picks them one by one; past it, the caller inverts the law.
bool settled(int64_t total, int64_t events, int64_t n, SplitMix64& rng, int64_t& drawn);

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

// The laws a test's draws invert, kept by group and events left: the rows
// left before each group are the same in every draw, and the events left
// take few values, so most draws read their laws instead of building them.
// Yet many laws are met once only (the events left spread wider than a short
// test's draws, down the groups): a law met for the first time is drawn by a
// walk from its mode only as far as its draw needs, some 2 to 4 standard
// deviations where the whole law takes 9 either side, and kept when met
// again.
//
// A law is kept as at most CHECKPOINTS states of its walk (the running sum
// and the last weight on either side), one every `block` steps, not as all
// of its running sums: a draw finds the block its target falls in and walks
// that block again, with the same products and sums as the first walk. The
// running sums of a law of standard deviation s take some 18 s doubles (9 s
// either side of the mode); its checkpoints take 48 at most, whatever s:
// the some 37000 laws of the test of a 2e5-row table fit in 16 MB, where the
// running sums would take 110 MB. Targets land mostly in the first blocks,
// which lie beside the law's mode and sum: a draw reads a cache line or two.
//
// Laws are found through buckets of BUCKET consecutive events left of a
// group, in a table open to linear probing: the buckets a test reads often
// are few and small, and stay in cache.
//
// Memory is bounded: at most `max_laws` laws, 416 bytes each, and no more
// buckets (of laws kept or met once) than that, 72 bytes each in a table at
// least a quarter full: at most 46 MB with the default. Past that, new laws
// are walked for their one draw.
//
// The laws' room outlives the cache: a test needs much the same room as the
// test before it, and fresh memory costs a page fault and a zeroed page on
// its first touch, which took more than building the laws in it. The
// process keeps up to KEPT_CHUNKS chunks of laws (some 27 MB) that caches
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
    // A law: its total weight, mode, the weights on either side of the mode,
    // the steps per checkpoint and the checkpoints. Left unset until walked,
    // so that room for laws costs no memory until they are built.
    struct Law {
        double sum;
        int64_t mode;
        uint32_t left, right, block, blocks;
        Checkpoint marks[CHECKPOINTS];
    };

    explicit LawCache(int64_t events, std::size_t max_laws = DEFAULT_MAX_LAWS);
    ~LawCache();
    LawCache(const LawCache&) = delete;
    LawCache& operator=(const LawCache&) = delete;

    // The law of the `n` rows of group `group` drawn from `total` rows
    // holding `events` (the group's key: the same group and events left
    // always come with the same rows), built now if met before (`built`
    // tells); none when met for the first time, or past the memory limit. It stays where it is
    // while the cache lasts.
    const Law* locate(std::size_t group, int64_t total, int64_t events, int64_t n, bool& built);
    // The law of group `group` with `events` left where it is kept already,
    // else none; changes nothing, so threads may read a cache no one builds in.
    const Law* kept(std::size_t group, int64_t events) const;
    // The events among those rows, from the law `locate` gave, or from one
    // walked as far as this draw needs where it gave none.
    int64_t draw(const Law* law, int64_t total, int64_t events, int64_t n, SplitMix64& rng);
    // The events from the law `locate` built last, before any other law is
    // walked: its running sums are at hand, so no step is walked again.
    int64_t draw_built(const Law& law, SplitMix64& rng) const {
        return invert_walked(law, rng.unit());
    }

    std::size_t held() const { return held_; }
    // Builds and keeps laws met for the first time too: a long test's laws
    // mostly come back.
    void keep_new() { keep_new_ = true; }

  private:
    static constexpr std::size_t BUCKET = 16;
    static constexpr std::size_t CHUNK = 1024;  // laws allocated together
    static constexpr std::size_t KEPT_CHUNKS = 64;
    static constexpr uint64_t EMPTY = ~uint64_t{0};
    static constexpr uint32_t SEEN = ~uint32_t{0};
    // The laws of BUCKET consecutive events left of a group: 1 + their
    // number, 0 where not seen, SEEN where drawn once and not kept.
    struct Bucket {
        uint64_t key = EMPTY;
        uint32_t law[BUCKET] = {};
    };

    std::size_t find(uint64_t key) const;
    void grow();
    // Room for CHUNK laws: a kept chunk if there is one, else fresh.
    static std::unique_ptr<Law[]> new_chunk();
    Law& law_at(uint32_t id) { return chunks_[id / CHUNK][id % CHUNK]; }
    // Walks the law of (total, events, n) whole: its weights into the
    // buffers, its sum, mode and sides into `law`.
    void walk(int64_t total, int64_t events, int64_t n, Law& law);
    // The checkpoints of the walk just made.
    void mark(Law& law) const;
    // The draw for the uniform `uniform` from the walk just made: the step
    // whose running sum first exceeds the target, found among the sums
    // after each step (they grow), then within the step, right side first.
    int64_t invert_walked(const Law& law, double uniform) const;
    // The draw for the uniform `uniform` from a law not kept, walked from
    // its mode only as far as that draw needs: the same count as the whole
    // law's, the target being uniform times the whole sum, which the walk
    // so far bounds closely enough, nearly always, to settle the step it
    // falls in (else the walk goes on, to the end if need be).
    int64_t draw_walking(int64_t total, int64_t events, int64_t n, double uniform);
    static int64_t invert_kept(const Law& law, int64_t total, int64_t events, int64_t n,
                               double target);

    uint64_t stride_;
    std::size_t max_laws_;
    std::vector<Bucket> buckets_ = std::vector<Bucket>(256);
    std::size_t n_buckets_ = 0;
    std::vector<std::unique_ptr<Law[]>> chunks_;
    std::size_t held_ = 0;
    bool keep_new_ = false;
    std::vector<double> left_, right_, before_;  // the walk just made
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
    // Keeps every law met, as a long test's laws mostly come back.
    void keep_laws() { cache_.keep_new(); }
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
