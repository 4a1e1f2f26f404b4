// Runs of counts kept by batch (keys ascending and distinct, NaN last) walked
// all at once in the order of their keys: the merge of the held counts into
// one run, and the read of the searched counts straight from the runs, share
// the walk and differ only in what they make of each entry. Not part of the
// public header.
#ifndef TESSALINE_COUNT_RUNS_HPP
#define TESSALINE_COUNT_RUNS_HPP

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

#include "tessaline/tessaline.hpp"

namespace tessaline {

// The refusal of a batch's event flag other than 0, 1 and NaN, at `row`.
[[noreturn]] inline void refuse_event_flag(double flag, std::size_t row) {
    throw std::invalid_argument("count_batch: event flag " + std::to_string(flag) + " at row " +
                                std::to_string(row) + " is neither 0, 1 nor NaN");
}

// An unsigned key in the order of the doubles: both zeros one key, every NaN
// one key after +inf. Merges then compare integers, without branches.
constexpr uint64_t kNaNKey = std::numeric_limits<uint64_t>::max();
constexpr uint64_t kSignBit = uint64_t{1} << 63;

inline uint64_t ordered_key(double x) {
    if (std::isnan(x)) return kNaNKey;
    if (x == 0.0) x = 0.0;
    uint64_t bits = 0;
    std::memcpy(&bits, &x, sizeof bits);
    return (bits & kSignBit) != 0 ? ~bits : bits | kSignBit;
}

// A key of a merge of counts: NaN's above every number's, and above NaN's
// the key of a run with no entry left.
constexpr uint64_t kDoneKey = std::numeric_limits<uint64_t>::max();
constexpr uint64_t kNaNCountKey = kDoneKey - 1;

inline uint64_t count_key(double x) {
    return std::isnan(x) ? kNaNCountKey : ordered_key(x);
}

// Checks that every run is ascending and distinct (NaN last), refused with
// the entry where one is not; returns the form of zero (0.0 or -0.0) of the
// earliest run that holds one, which the merged key of zero takes.
double checked_runs_zero(const std::vector<CountRun>& runs);

// visit(key, run, i) for every entry i of every run, in ascending order of
// key (count_key), the entries of equal keys one after the other. The runs
// are merged all at once by a tree of losers: each leaf a run, each inner
// node the run that lost the match played there with its head key, so that
// taking the smallest head and replacing it replays one path of
// log2(runs) matches, each a choice by mask rather than a branch on the data.
template <typename Visit>
void visit_runs_in_order(const std::vector<CountRun>& runs, Visit&& visit) {
    std::size_t leaves = 1;
    while (leaves < runs.size()) leaves *= 2;
    std::vector<uint64_t> head(2 * leaves, kDoneKey);
    std::vector<std::size_t> run_of(2 * leaves, 0);
    for (std::size_t r = 0; r < leaves; ++r) {
        if (r < runs.size() && runs[r].size > 0) head[leaves + r] = count_key(runs[r].keys[0]);
        run_of[leaves + r] = r;
    }
    // Played bottom up: each inner node keeps its loser, its winner goes up.
    std::vector<uint64_t> loser_key(leaves, kDoneKey);
    std::vector<std::size_t> loser_run(leaves, 0);
    for (std::size_t node = leaves - 1; node >= 1; --node) {
        const std::size_t a = 2 * node;
        const std::size_t b = 2 * node + 1;
        const bool a_wins = head[a] <= head[b];
        head[node] = a_wins ? head[a] : head[b];
        run_of[node] = a_wins ? run_of[a] : run_of[b];
        loser_key[node] = a_wins ? head[b] : head[a];
        loser_run[node] = a_wins ? run_of[b] : run_of[a];
    }
    uint64_t key = head[1];
    std::size_t best = run_of[1];
    std::vector<std::size_t> at(leaves, 0);
    while (key != kDoneKey) {
        const CountRun& run = runs[best];
        const std::size_t i = at[best];
        visit(key, run, i);
        at[best] = i + 1;
        key = i + 1 < run.size ? count_key(run.keys[i + 1]) : kDoneKey;
        for (std::size_t node = (best + leaves) / 2; node >= 1; node /= 2) {
            const uint64_t other_key = loser_key[node];
            const std::size_t other = loser_run[node];
            const uint64_t swap_key = (other_key ^ key) & (uint64_t{0} - (other_key < key));
            const std::size_t swap_run = (other ^ best) & (std::size_t{0} - (other_key < key));
            loser_key[node] = other_key ^ swap_key;
            loser_run[node] = other ^ swap_run;
            key ^= swap_key;
            best ^= swap_run;
        }
    }
}

}  // namespace tessaline

#endif  // TESSALINE_COUNT_RUNS_HPP
