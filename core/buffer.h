// A float vector whose growth does not zero-fill: readers and operations
// overwrite every value anyway, and zeroing a multi-gigabyte buffer costs a pass.
#pragma once

#include <sys/mman.h>

#include <cstdlib>
#include <memory>
#include <new>
#include <vector>

template <class T>
struct default_init_allocator : std::allocator<T> {
    template <class U>
    struct rebind {
        using other = default_init_allocator<U>;
    };
    default_init_allocator() = default;
    template <class U>
    default_init_allocator(const default_init_allocator<U>&) {}
    // Large images live on transparent huge pages where the system allows it:
    // touching a multi-gigabyte buffer then costs a few thousand faults, not millions.
    T* allocate(std::size_t n) {
        const std::size_t bytes = n * sizeof(T), huge = std::size_t(2) << 20;
        if (bytes < 4 * huge) return std::allocator<T>::allocate(n);
        void* p = nullptr;
        if (posix_memalign(&p, huge, (bytes + huge - 1) / huge * huge) != 0) throw std::bad_alloc();
#ifdef MADV_HUGEPAGE
        madvise(p, (bytes + huge - 1) / huge * huge, MADV_HUGEPAGE);
#endif
        return static_cast<T*>(p);
    }
    void deallocate(T* p, std::size_t n) {
        if (n * sizeof(T) < 8 * (std::size_t(1) << 20))
            std::allocator<T>::deallocate(p, n);
        else
            std::free(p);
    }
    template <class U>
    void construct(U* p) {
        ::new (static_cast<void*>(p)) U;
    }
    template <class U, class... A>
    void construct(U* p, A&&... a) {
        ::new (static_cast<void*>(p)) U(std::forward<A>(a)...);
    }
};

using FloatBuffer = std::vector<float, default_init_allocator<float>>;

// Upper bound on the values of one data set (4 GiB of floats); larger
// sizes in a header are refused before anything is allocated.
constexpr long long kMaxValues = 1LL << 30;
// 1 when nx*ny*nz is positive and within kMaxValues.
inline int saneSize(long long nx, long long ny, long long nz) {
    if (nx < 1 || ny < 1 || nz < 1) return 0;
    if (nx > kMaxValues || ny > kMaxValues || nz > kMaxValues) return 0;
    return nx * ny <= kMaxValues && nx * ny * nz <= kMaxValues;
}
