// Large vectors of counts handed back when the array that held them is freed,
// and handed out again to the next count of the same size. A table's counts
// by value (one entry per distinct value) are fresh memory for every column,
// and the allocator returns freed blocks of that size to the system, so each
// column would pay a page fault and a zeroed page per 4 KiB it writes, often
// more than the counting itself; refitted tables, and the columns of one
// table that follow a freed one, reuse memory already mapped instead.
#ifndef TESSALINE_RECYCLED_VECTORS_HPP
#define TESSALINE_RECYCLED_VECTORS_HPP

#include <cstddef>
#include <cstdint>
#include <vector>

#if defined(_WIN32)
#define TESSALINE_RECYCLED_API
#else
#define TESSALINE_RECYCLED_API __attribute__((visibility("default")))
#endif

namespace tessaline {

// Vectors below this size are left to the allocator, which keeps them.
constexpr std::size_t kRecycledMinBytes = std::size_t{64} << 10;
// The most the vectors kept for reuse hold, for each element type: the
// weighted counts of a table's four columns of a million values each (three
// arrays of floats a column), so that fit after fit takes them back rather
// than fresh pages.
constexpr std::size_t kRecycledBytes = std::size_t{128} << 20;

// Room for n elements in the empty vector v: a kept vector of at least n and
// at most 2n elements when there is one, else fresh room.
TESSALINE_RECYCLED_API void reserve_recycled(std::vector<double>& v, std::size_t n);
TESSALINE_RECYCLED_API void reserve_recycled(std::vector<int64_t>& v, std::size_t n);

// n elements in the empty vector v, taken as reserve_recycled takes room,
// for a caller that writes every one before reading it: a kept vector keeps
// the values it held (0 beyond them), so that its memory is written once, by
// the caller, not first cleared.
TESSALINE_RECYCLED_API void size_recycled(std::vector<double>& v, std::size_t n);
TESSALINE_RECYCLED_API void size_recycled(std::vector<int64_t>& v, std::size_t n);

// Keeps v's room for a later reserve_recycled, or frees it (too small, or
// the vectors kept already hold kRecycledBytes).
TESSALINE_RECYCLED_API void recycle(std::vector<double>&& v);
TESSALINE_RECYCLED_API void recycle(std::vector<int64_t>&& v);

// The bytes kept for reuse, of both element types (for tests).
TESSALINE_RECYCLED_API std::size_t recycled_bytes();

}  // namespace tessaline

#endif  // TESSALINE_RECYCLED_VECTORS_HPP
