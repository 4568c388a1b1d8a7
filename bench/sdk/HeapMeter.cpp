#include "HeapMeter.h"

#include <malloc.h>

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<bool> counting{false};
std::atomic<long long> live{0};
std::atomic<long long> peak{0};

void* Allocate(std::size_t size) {
    void* p = std::malloc(size == 0 ? 1 : size);
    if (p == nullptr)
        throw std::bad_alloc();
    if (counting.load(std::memory_order_relaxed)) {
        const long long now =
            live.fetch_add(static_cast<long long>(malloc_usable_size(p)), std::memory_order_relaxed) +
            static_cast<long long>(malloc_usable_size(p));
        long long seen = peak.load(std::memory_order_relaxed);
        while (now > seen && !peak.compare_exchange_weak(seen, now, std::memory_order_relaxed)) {
        }
    }
    return p;
}

void Release(void* p) noexcept {
    if (p == nullptr)
        return;
    if (counting.load(std::memory_order_relaxed))
        live.fetch_sub(static_cast<long long>(malloc_usable_size(p)), std::memory_order_relaxed);
    std::free(p);
}

} // namespace

namespace heapmeter {

void Start() {
    live.store(0);
    peak.store(0);
    counting.store(true);
}

std::size_t Stop() {
    counting.store(false);
    return static_cast<std::size_t>(peak.load());
}

} // namespace heapmeter

void* operator new(std::size_t size) {
    return Allocate(size);
}
void* operator new[](std::size_t size) {
    return Allocate(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return Allocate(size);
    } catch (...) {
        return nullptr;
    }
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return Allocate(size);
    } catch (...) {
        return nullptr;
    }
}
void operator delete(void* p) noexcept {
    Release(p);
}
void operator delete[](void* p) noexcept {
    Release(p);
}
void operator delete(void* p, std::size_t) noexcept {
    Release(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    Release(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
    Release(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    Release(p);
}
