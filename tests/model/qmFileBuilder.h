// Builds QM model files for the tests.
#pragma once

#include "support/testFiles.h"

#include <array>
#include <cstdint>
#include <vector>

namespace qm_test {

using testing_support::Bytes;

struct QmRecordSpec {
    std::array<std::vector<std::int16_t>, 4> parts;
    std::uint32_t value = 0;
};

struct QmFileSpec {
    std::uint32_t header0 = 0;
    std::uint32_t header1 = 0;
    std::array<std::vector<std::int16_t>, 4> vectors;
    std::vector<QmRecordSpec> records;
    std::uint32_t imageFlag = 0;
    Bytes image;
    Bytes trailing;
};

inline Bytes buildQmFile(const QmFileSpec& spec) {
    using testing_support::putU16;
    using testing_support::putU32;
    const std::string signature = "VXQM0001";
    Bytes b(signature.begin(), signature.end());
    putU32(b, spec.header0);
    putU32(b, spec.header1);
    for (const auto& v : spec.vectors) {
        putU32(b, static_cast<std::uint32_t>(v.size()));
    }
    putU32(b, static_cast<std::uint32_t>(spec.records.size()));
    putU32(b, spec.imageFlag);
    for (const auto& v : spec.vectors) {
        for (auto x : v) {
            putU16(b, static_cast<std::uint16_t>(x));
        }
    }
    for (const auto& r : spec.records) {
        for (const auto& p : r.parts) {
            for (auto x : p) {
                putU16(b, static_cast<std::uint16_t>(x));
            }
        }
        putU32(b, r.value);
    }
    if (spec.imageFlag == 1) {
        putU32(b, static_cast<std::uint32_t>(spec.image.size()));
    }
    b.insert(b.end(), spec.image.begin(), spec.image.end());
    b.insert(b.end(), spec.trailing.begin(), spec.trailing.end());
    return b;
}

} // namespace qm_test
