// The widest vector instruction set that kernels may take, as the environment limits it for
// measurements and tests: the bytes are the same with every set.
#pragma once

#include <optional>

// From the narrowest to the widest: the vector arithmetic computed lane by lane in portable
// code, SSE2, AVX2, AVX-512.
enum class VectorLimit { Portable, Sse2, Avx2, Avx512 };

// Environment variable that names the limit: "portable", "sse2", "avx2" or "avx512".
inline constexpr const char* kVectorLimitVariable = "QMJPEG_KERNELS";

// The limit a value of kVectorLimitVariable names; nothing for an absent value or any other
// text.
std::optional<VectorLimit> parseVectorLimit(const char* text);

// The limit the environment gives now.
std::optional<VectorLimit> vectorLimitFromEnvironment();
