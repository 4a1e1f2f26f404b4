// make_segment and evaluate_segment on arbitrary boundary tables (any cut
// values, counts that fall or reach the ends of int64, any L and R): the core
// never fails and never misbehaves; on tables whose counts stay modest the
// result equals a plain evaluation of the MDL criterion.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "fuzz_input.hpp"
#include "tessaline/tessaline.hpp"

namespace {

using namespace fuzz;
using namespace tessaline;

double entropy(int64_t a, int64_t b) {
    if (a == 0 || b == 0 || a + b == 0) return 0.0;
    const double f0 = static_cast<double>(a) / static_cast<double>(a + b);
    const double f1 = static_cast<double>(b) / static_cast<double>(a + b);
    return -(f0 * std::log2(f0) + f1 * std::log2(f1));
}

// The criterion written out from its definition; counts must not overflow.
SplitResult reference(const std::vector<Boundary>& B, std::size_t L, std::size_t R,
                      const TessalineParams& p) {
    SplitResult r;
    if (B.empty() || L >= R || R >= B.size() || R == L + 1) return r;
    const int64_t c0s = B[L].c0, c1s = B[L].c1;
    const int64_t c0seg = B[R].c0 - c0s, c1seg = B[R].c1 - c1s;
    const int64_t N = c0seg + c1seg;
    if (N < 2) return r;
    const double h = entropy(c0seg, c1seg);
    const double cost_pos = std::log2(static_cast<double>(N - 1)) / static_cast<double>(N);
    const bool filter = (p.monotonicity == 1 || p.monotonicity == 3) && p.mono_dir != 0;
    double best = kInf;
    for (std::size_t i = L + 1; i < R; ++i) {
        const int64_t nl0 = B[i].c0 - c0s, nl1 = B[i].c1 - c1s;
        const int64_t nr0 = c0seg - nl0, nr1 = c1seg - nl1;
        const int64_t nl = nl0 + nl1, nr = nr0 + nr1;
        if (p.minobs >= std::min(nl, nr)) continue;
        const double hl = entropy(nl0, nl1), hr = entropy(nr0, nr1);
        const double e = (static_cast<double>(nl) * hl + static_cast<double>(nr) * hr) /
                         static_cast<double>(N);
        if (filter) {
            const double rl = static_cast<double>(nl1) / static_cast<double>(nl);
            const double rr = static_cast<double>(nr1) / static_cast<double>(nr);
            if (p.mono_dir > 0 ? !(rr >= rl) : !(rl >= rr)) continue;
        }
        if (e < best) {
            best = e;
            r.has_candidate = true;
            r.idx = i;
            r.pto = B[i].pto_corte;
            r.gain = h - e;
            r.cost_pos = cost_pos;
            r.cost_struct = (2.807354922057604 - 2.0 * (h - hl - hr)) / static_cast<double>(N);
            r.cost = p.alpha_pos * r.cost_pos + p.beta_struct * r.cost_struct;
        }
    }
    r.found = r.has_candidate && r.gain > r.cost;
    return r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    Reader in(data, size);
    const uint8_t mode = in.byte();
    TessalineParams p;
    p.alpha_pos = mode & 1 ? in.real() : 1.0;
    p.beta_struct = mode & 2 ? in.real() : 1.0;
    p.minobs = in.integer();
    p.monotonicity = in.byte() % 4;
    const uint8_t d = in.byte();
    p.mono_dir = d < 200 ? static_cast<int>(d % 3) - 1 : static_cast<int32_t>(in.integer());

    // Rows with cumulative counts that mostly rise by a few records (the real
    // shape of a table), or anything at all.
    const std::size_t rows = in.size(300);
    std::vector<Boundary> B(rows);
    int64_t c0 = 0, c1 = 0;
    const bool wild = mode & 4;
    for (Boundary& b : B) {
        b.pto_corte = in.real();
        if (wild) {
            b.c0 = in.integer();
            b.c1 = in.integer();
        } else {
            const uint8_t step = in.byte();
            c0 += step & 7;
            c1 += (step >> 3) & 7;
            b.c0 = c0;
            b.c1 = c1;
        }
    }
    std::size_t L = in.size(rows + 2);
    std::size_t R = in.size(rows + 2);
    if (mode & 8 && rows > 0) {
        L = 0;
        R = rows - 1;
    }
    if (mode & 16) R = std::numeric_limits<std::size_t>::max() - (mode >> 5);

    const Segment s = make_segment(B, L, R);
    FUZZ_CHECK(s.L == L && s.R == R);
    if (L >= R || B.empty() || R >= B.size()) {
        FUZZ_CHECK(s.c0_start == 0 && s.c1_start == 0 && s.c0_seg == 0 && s.c1_seg == 0);
    } else {
        FUZZ_CHECK(s.c0_start == B[L].c0 && s.c1_start == B[L].c1);
    }
    const SplitResult r = evaluate_segment(B, s, p);

    if (!r.has_candidate) {
        FUZZ_CHECK(!r.found && r.idx == 0 && r.pto == 0.0 && r.gain == 0.0 && r.cost_pos == 0.0 &&
                   r.cost_struct == 0.0 && r.cost == 0.0);
    } else {
        FUZZ_CHECK(r.idx > L && r.idx < R && R < B.size());
        FUZZ_CHECK(same(r.pto, B[r.idx].pto_corte));
        FUZZ_CHECK(r.found == (r.gain > r.cost));
    }

    // Modest counts: the exact result of the criterion, bit for bit.
    const auto modest = [](int64_t v) { return v > -(int64_t{1} << 40) && v < (int64_t{1} << 40); };
    const bool plain = std::all_of(B.begin(), B.end(), [&](const Boundary& b) {
        return modest(b.c0) && modest(b.c1);
    });
    if (plain) {
        const SplitResult want = reference(B, L, R, p);
        FUZZ_CHECK(r.has_candidate == want.has_candidate && r.found == want.found &&
                   r.idx == want.idx && same(r.pto, want.pto) && same(r.gain, want.gain) &&
                   same(r.cost_pos, want.cost_pos) && same(r.cost_struct, want.cost_struct) &&
                   same(r.cost, want.cost));
        if (!wild && r.has_candidate) {
            // On a real table the gain is an entropy difference in [0, 1].
            FUZZ_CHECK(r.gain >= -1e-12 && r.gain <= 1.0 + 1e-12);
        }
    }
    return 0;
}
