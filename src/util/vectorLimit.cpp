#include "util/vectorLimit.h"

#include <cstdlib>
#include <string_view>

std::optional<VectorLimit> parseVectorLimit(const char* text) {
    if (text == nullptr) {
        return std::nullopt;
    }
    constexpr std::pair<std::string_view, VectorLimit> kNames[] = {
        {"portable", VectorLimit::Portable},
        {"sse2", VectorLimit::Sse2},
        {"avx2", VectorLimit::Avx2},
        {"avx512", VectorLimit::Avx512}};
    for (const auto& [name, limit] : kNames) {
        if (name == text) {
            return limit;
        }
    }
    return std::nullopt;
}

std::optional<VectorLimit> vectorLimitFromEnvironment() {
    return parseVectorLimit(std::getenv(kVectorLimitVariable));
}
