// Working buffers of millions of elements. Their cost is dominated not by the
// work done in them but by the first touch of every fresh page, which the
// kernel must fault in and zero; backed by 2 MiB pages (as NumPy backs its own
// large arrays) a buffer takes one fault per 2 MiB instead of one per 4 KiB.
#ifndef TESSALINE_LARGE_BUFFER_HPP
#define TESSALINE_LARGE_BUFFER_HPP

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace tessaline {

// Asks for huge pages over the whole 2 MiB pages inside [data, data + bytes).
// Only a hint: where the system has none to give, nothing changes.
inline void advise_huge_pages(const void* data, std::size_t bytes) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    constexpr uintptr_t kHuge = uintptr_t{2} << 20;
    if (bytes < 2 * kHuge) return;
    const uintptr_t start = reinterpret_cast<uintptr_t>(data);
    const uintptr_t begin = (start + kHuge - 1) & ~(kHuge - 1);
    const uintptr_t end = (start + bytes) & ~(kHuge - 1);
    if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#else
    (void)data;
    (void)bytes;
#endif
}

// Room for n elements in v (empty), advised before any page is touched.
template <typename T>
void reserve_large(std::vector<T>& v, std::size_t n) {
    v.reserve(n);
    advise_huge_pages(v.data(), n * sizeof(T));
}

// A vector of n value-initialised elements on advised pages.
template <typename T>
std::vector<T> large_vector(std::size_t n) {
    std::vector<T> v;
    reserve_large(v, n);
    v.resize(n);
    return v;
}

// Room for n elements on advised pages, left uninitialised: for buffers
// whose every element is written before it is read, which need no zeroing.
template <typename T>
std::unique_ptr<T[]> large_scratch(std::size_t n) {
    std::unique_ptr<T[]> buffer(new T[n]);
    advise_huge_pages(buffer.get(), n * sizeof(T));
    return buffer;
}

}  // namespace tessaline

#endif  // TESSALINE_LARGE_BUFFER_HPP
