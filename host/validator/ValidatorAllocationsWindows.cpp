// Counting a plug-in library's allocations on Windows. A DLL reaches the C
// runtime's allocator and the system heap through its own import table
// (operator new of a statically linked C++ library calls the runtime's
// malloc the same way), so pointing the table's slots for the allocation
// functions at counting ones that hand over to the originals sees every
// allocation the library makes, and nothing of the validator's own.
#if defined(_WIN32)

#include <windows.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <mutex>

#include "PluginLibrary.h"
#include "ValidatorAllocations.h"

namespace vxhost {

namespace {

std::atomic<uint64_t> g_allocator_calls{0};

void Count() { g_allocator_calls.fetch_add(1, std::memory_order_relaxed); }

uint64_t AllocatorCalls() { return g_allocator_calls.load(std::memory_order_relaxed); }

// The originals, as the first redirected library's table had them resolved.
using MallocFunction = void*(__cdecl*)(size_t);
using CallocFunction = void*(__cdecl*)(size_t, size_t);
using ReallocFunction = void*(__cdecl*)(void*, size_t);
using FreeFunction = void(__cdecl*)(void*);
using AlignedMallocFunction = void*(__cdecl*)(size_t, size_t);
using AlignedReallocFunction = void*(__cdecl*)(void*, size_t, size_t);
using StrdupFunction = char*(__cdecl*)(const char*);
using HeapAllocFunction = LPVOID(WINAPI*)(HANDLE, DWORD, SIZE_T);
using HeapReAllocFunction = LPVOID(WINAPI*)(HANDLE, DWORD, LPVOID, SIZE_T);
using HeapFreeFunction = BOOL(WINAPI*)(HANDLE, DWORD, LPVOID);
using LocalAllocFunction = HLOCAL(WINAPI*)(UINT, SIZE_T);
using LocalFreeFunction = HLOCAL(WINAPI*)(HLOCAL);
using VirtualAllocFunction = LPVOID(WINAPI*)(LPVOID, SIZE_T, DWORD, DWORD);
using VirtualFreeFunction = BOOL(WINAPI*)(LPVOID, SIZE_T, DWORD);

MallocFunction g_malloc;
CallocFunction g_calloc;
ReallocFunction g_realloc;
FreeFunction g_free;
AlignedMallocFunction g_aligned_malloc;
AlignedReallocFunction g_aligned_realloc;
FreeFunction g_aligned_free;
StrdupFunction g_strdup;
HeapAllocFunction g_heap_alloc;
HeapReAllocFunction g_heap_realloc;
HeapFreeFunction g_heap_free;
LocalAllocFunction g_local_alloc;
LocalFreeFunction g_local_free;
LocalAllocFunction g_global_alloc;
LocalFreeFunction g_global_free;
VirtualAllocFunction g_virtual_alloc;
VirtualFreeFunction g_virtual_free;

void* __cdecl CountingMalloc(size_t size) {
    Count();
    return g_malloc(size);
}
void* __cdecl CountingCalloc(size_t count, size_t size) {
    Count();
    return g_calloc(count, size);
}
void* __cdecl CountingRealloc(void* pointer, size_t size) {
    Count();
    return g_realloc(pointer, size);
}
void __cdecl CountingFree(void* pointer) {
    if (pointer != nullptr) Count();
    g_free(pointer);
}
void* __cdecl CountingAlignedMalloc(size_t size, size_t alignment) {
    Count();
    return g_aligned_malloc(size, alignment);
}
void* __cdecl CountingAlignedRealloc(void* pointer, size_t size, size_t alignment) {
    Count();
    return g_aligned_realloc(pointer, size, alignment);
}
void __cdecl CountingAlignedFree(void* pointer) {
    if (pointer != nullptr) Count();
    g_aligned_free(pointer);
}
char* __cdecl CountingStrdup(const char* text) {
    Count();
    return g_strdup(text);
}
LPVOID WINAPI CountingHeapAlloc(HANDLE heap, DWORD flags, SIZE_T size) {
    Count();
    return g_heap_alloc(heap, flags, size);
}
LPVOID WINAPI CountingHeapReAlloc(HANDLE heap, DWORD flags, LPVOID pointer, SIZE_T size) {
    Count();
    return g_heap_realloc(heap, flags, pointer, size);
}
BOOL WINAPI CountingHeapFree(HANDLE heap, DWORD flags, LPVOID pointer) {
    if (pointer != nullptr) Count();
    return g_heap_free(heap, flags, pointer);
}
HLOCAL WINAPI CountingLocalAlloc(UINT flags, SIZE_T size) {
    Count();
    return g_local_alloc(flags, size);
}
HLOCAL WINAPI CountingLocalFree(HLOCAL memory) {
    if (memory != nullptr) Count();
    return g_local_free(memory);
}
HGLOBAL WINAPI CountingGlobalAlloc(UINT flags, SIZE_T size) {
    Count();
    return g_global_alloc(flags, size);
}
HGLOBAL WINAPI CountingGlobalFree(HGLOBAL memory) {
    if (memory != nullptr) Count();
    return g_global_free(memory);
}
LPVOID WINAPI CountingVirtualAlloc(LPVOID address, SIZE_T size, DWORD type, DWORD protect) {
    Count();
    return g_virtual_alloc(address, size, type, protect);
}
BOOL WINAPI CountingVirtualFree(LPVOID address, SIZE_T size, DWORD type) {
    Count();
    return g_virtual_free(address, size, type);
}

struct Redirection {
    const char* name;
    void* counting;
    void** original;
};

template <typename Function>
void** Slot(Function* original) {
    return reinterpret_cast<void**>(original);
}

const Redirection kRedirections[] = {
    {"malloc", reinterpret_cast<void*>(&CountingMalloc), Slot(&g_malloc)},
    {"calloc", reinterpret_cast<void*>(&CountingCalloc), Slot(&g_calloc)},
    {"realloc", reinterpret_cast<void*>(&CountingRealloc), Slot(&g_realloc)},
    {"free", reinterpret_cast<void*>(&CountingFree), Slot(&g_free)},
    {"_aligned_malloc", reinterpret_cast<void*>(&CountingAlignedMalloc), Slot(&g_aligned_malloc)},
    {"_aligned_realloc", reinterpret_cast<void*>(&CountingAlignedRealloc), Slot(&g_aligned_realloc)},
    {"_aligned_free", reinterpret_cast<void*>(&CountingAlignedFree), Slot(&g_aligned_free)},
    {"_strdup", reinterpret_cast<void*>(&CountingStrdup), Slot(&g_strdup)},
    {"HeapAlloc", reinterpret_cast<void*>(&CountingHeapAlloc), Slot(&g_heap_alloc)},
    {"HeapReAlloc", reinterpret_cast<void*>(&CountingHeapReAlloc), Slot(&g_heap_realloc)},
    {"HeapFree", reinterpret_cast<void*>(&CountingHeapFree), Slot(&g_heap_free)},
    {"LocalAlloc", reinterpret_cast<void*>(&CountingLocalAlloc), Slot(&g_local_alloc)},
    {"LocalFree", reinterpret_cast<void*>(&CountingLocalFree), Slot(&g_local_free)},
    {"GlobalAlloc", reinterpret_cast<void*>(&CountingGlobalAlloc), Slot(&g_global_alloc)},
    {"GlobalFree", reinterpret_cast<void*>(&CountingGlobalFree), Slot(&g_global_free)},
    {"VirtualAlloc", reinterpret_cast<void*>(&CountingVirtualAlloc), Slot(&g_virtual_alloc)},
    {"VirtualFree", reinterpret_cast<void*>(&CountingVirtualFree), Slot(&g_virtual_free)},
};

const Redirection* FindRedirection(const char* name) {
    for (const Redirection& r : kRedirections)
        if (std::strcmp(r.name, name) == 0) return &r;
    return nullptr;
}

bool WriteSlot(void** slot, void* value) {
    DWORD was = 0;
    if (!VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &was)) return false;
    *slot = value;
    DWORD ignored = 0;
    VirtualProtect(slot, sizeof *slot, was, &ignored);
    return true;
}

// Walks the import directory of the mapped image. A slot already counting is
// left as it is; one whose original differs from the function another
// library resolved the same name to (another C runtime) cannot be forwarded
// with one set of originals, so the library is then reported as not counted.
bool RedirectImports(HMODULE module) {
    auto* const base = reinterpret_cast<unsigned char*>(module);
    const auto* const dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    if (dos->e_magic != IMAGE_DOS_SIGNATURE) return false;
    const auto* const nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    if (nt->Signature != IMAGE_NT_SIGNATURE) return false;
    const IMAGE_DATA_DIRECTORY& directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (directory.VirtualAddress == 0) return true;  // imports nothing, allocates nothing
    bool complete = true;
    for (auto* import = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + directory.VirtualAddress);
         import->Name != 0; ++import) {
        if (import->OriginalFirstThunk == 0) {
            complete = false;  // names gone once bound: nothing to match the slots against
            continue;
        }
        const auto* names = reinterpret_cast<const IMAGE_THUNK_DATA*>(base + import->OriginalFirstThunk);
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + import->FirstThunk);
        for (; names->u1.AddressOfData != 0; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
            const auto* by_name = reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            const Redirection* r = FindRedirection(reinterpret_cast<const char*>(by_name->Name));
            if (r == nullptr) continue;
            void** const slot = reinterpret_cast<void**>(&slots->u1.Function);
            if (*slot == r->counting) continue;
            if (*r->original == nullptr) *r->original = *slot;
            if (*r->original != *slot || !WriteSlot(slot, r->counting)) complete = false;
        }
    }
    return complete;
}

}  // namespace

// Redirecting again is harmless (counting slots are left alone), and a
// library loaded anew at the address of an unloaded one needs it.
bool CountAllocationsOf(const PluginLibrary& library) {
    static std::mutex mutex;
    const std::lock_guard<std::mutex> lock(mutex);
    void* const handle = library.NativeHandle();
    if (handle == nullptr || !RedirectImports(static_cast<HMODULE>(handle))) return false;
    InstallAllocationCounter(&AllocatorCalls);
    return true;
}

}  // namespace vxhost

#endif  // _WIN32
