// The executable defines the malloc family itself and hands every call on to glibc's own
// entry points, counting it; shared libraries (libavcodec, libstdc++) bind to these
// definitions, so their allocations are counted too. The memory is glibc's, so its free()
// releases it unchanged.
#include "allocations.h"

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdlib>

namespace {
std::atomic<uint64_t> allocations{0};
inline void Count() { allocations.fetch_add(1, std::memory_order_relaxed); }
}  // namespace

#define QV_EXPORT __attribute__((visibility("default")))  // the build hides symbols by default

extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* pointer, size_t size);
void* __libc_memalign(size_t alignment, size_t size);

QV_EXPORT void* malloc(size_t size) noexcept {
    Count();
    return __libc_malloc(size);
}
QV_EXPORT void* calloc(size_t count, size_t size) noexcept {
    Count();
    return __libc_calloc(count, size);
}
QV_EXPORT void* realloc(void* pointer, size_t size) noexcept {
    Count();
    return __libc_realloc(pointer, size);
}
QV_EXPORT void* memalign(size_t alignment, size_t size) noexcept {
    Count();
    return __libc_memalign(alignment, size);
}
QV_EXPORT void* aligned_alloc(size_t alignment, size_t size) noexcept {
    Count();
    return __libc_memalign(alignment, size);
}
QV_EXPORT int posix_memalign(void** out, size_t alignment, size_t size) noexcept {
    if (alignment % sizeof(void*) != 0 || (alignment & (alignment - 1)) != 0) return EINVAL;
    Count();
    void* pointer = __libc_memalign(alignment, size);
    if (!pointer) return ENOMEM;
    *out = pointer;
    return 0;
}
}

uint64_t qvbench::AllocationCount() { return allocations.load(std::memory_order_relaxed); }
