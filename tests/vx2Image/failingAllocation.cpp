// Replaces the no-throw operator new of the image handle tests, so that they can make a body
// allocation fail.
#include "failingAllocation.h"

#include <new>

namespace {
int pendingFailures = 0;
}

void failNextNoThrowAllocations(int count) {
    pendingFailures = count;
}

void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    if (pendingFailures > 0) {
        --pendingFailures;
        return nullptr;
    }
    try {
        return ::operator new(size);
    } catch (...) {
        return nullptr;
    }
}

void operator delete(void* block, const std::nothrow_t&) noexcept {
    ::operator delete(block);
}
