// Replaces the global allocator of the model tests to record the largest single request and
// the sum of all requests, so tests can show that a lying count never turns into a large
// allocation and that a load stays in proportion to its file.
#include "allocationProbe.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<std::size_t> largest{0};
std::atomic<std::size_t> total{0};
} // namespace

std::size_t largestAllocation() {
    return largest.load();
}
std::size_t totalAllocated() {
    return total.load();
}
void resetLargestAllocation() {
    largest.store(0);
    total.store(0);
}

void* operator new(std::size_t size) {
    total += size;
    std::size_t seen = largest.load();
    while (size > seen && !largest.compare_exchange_weak(seen, size)) {
    }
    if (void* p = std::malloc(size == 0 ? 1 : size)) {
        return p;
    }
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
    return operator new(size);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}
