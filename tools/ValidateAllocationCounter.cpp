// Counts every allocation and release of the process, so the validator can
// tell whether a plug-in touches the allocator while it processes. Linked
// into programs that validate (vxhost, the validator's tests) on Linux.
//
// Under AddressSanitizer the sanitizer owns the allocator and offers hooks;
// otherwise the C library's allocation functions are replaced by counting
// ones that hand over to glibc's own (the documented way to replace malloc),
// which also catches operator new, whose library version calls malloc.
#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdint>

#include "ValidatorAllocations.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VX_UNDER_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define VX_UNDER_ASAN 1
#endif

namespace {

std::atomic<uint64_t> g_allocator_calls{0};

void Count() { g_allocator_calls.fetch_add(1, std::memory_order_relaxed); }

uint64_t AllocatorCalls() { return g_allocator_calls.load(std::memory_order_relaxed); }

}  // namespace

#if defined(VX_UNDER_ASAN)

// The sanitizer runtime's hook interface (GCC does not ship its header).
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*on_allocate)(const volatile void*, size_t),
                                                         void (*on_release)(const volatile void*));

namespace {

void OnAllocate(const volatile void*, size_t) { Count(); }
void OnRelease(const volatile void*) { Count(); }

struct Installer {
    Installer() {
        __sanitizer_install_malloc_and_free_hooks(&OnAllocate, &OnRelease);
        vxhost::InstallAllocationCounter(&AllocatorCalls);
    }
} g_installer;

}  // namespace

#elif defined(__GLIBC__) || defined(__linux__)

extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* pointer, size_t size);
void* __libc_memalign(size_t alignment, size_t size);
void* __libc_valloc(size_t size);
void* __libc_pvalloc(size_t size);
void __libc_free(void* pointer);

void* malloc(size_t size) {
    Count();
    return __libc_malloc(size);
}

void free(void* pointer) {
    if (pointer != nullptr) Count();
    __libc_free(pointer);
}

void* calloc(size_t count, size_t size) {
    Count();
    return __libc_calloc(count, size);
}

void* realloc(void* pointer, size_t size) {
    Count();
    return __libc_realloc(pointer, size);
}

void* memalign(size_t alignment, size_t size) {
    Count();
    return __libc_memalign(alignment, size);
}

void* aligned_alloc(size_t alignment, size_t size) {
    Count();
    return __libc_memalign(alignment, size);
}

int posix_memalign(void** out, size_t alignment, size_t size) {
    if (alignment < sizeof(void*) || (alignment & (alignment - 1)) != 0) return EINVAL;
    Count();
    void* pointer = __libc_memalign(alignment, size);
    if (pointer == nullptr) return ENOMEM;
    *out = pointer;
    return 0;
}

void* valloc(size_t size) {
    Count();
    return __libc_valloc(size);
}

void* pvalloc(size_t size) {
    Count();
    return __libc_pvalloc(size);
}
}

namespace {

struct Installer {
    Installer() { vxhost::InstallAllocationCounter(&AllocatorCalls); }
} g_installer;

}  // namespace

#endif
