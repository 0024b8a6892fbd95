// Processor identification (CPUID leaves 0 and 1) and the encoder's processor class.
#pragma once

#include <cstdint>
#include <optional>

// Raw register values of CPUID leaves 0 and 1.
struct CpuidLeaves {
    bool available = false; // false: no CPUID instruction
    std::uint32_t maxLeaf = 0;
    std::uint32_t leaf0Ebx = 0;
    std::uint32_t leaf0Ecx = 0;
    std::uint32_t leaf0Edx = 0;
    std::uint32_t leaf1Eax = 0;
    std::uint32_t leaf1Ebx = 0;
    std::uint32_t leaf1Edx = 0;
};

struct ProcessorInfo {
    std::int32_t brandIndex = 0;    // leaf 1 EBX bits 0-7
    std::int32_t processorType = 0; // leaf 1 EAX bits 12-13
    std::int32_t family = 0;        // leaf 1 EAX bits 8-11
    std::int32_t model = 0;         // leaf 1 EAX bits 4-7
    std::int32_t stepping = 0;      // leaf 1 EAX bits 0-3
    std::uint32_t featureFlags = 0; // leaf 1 EDX
    char vendor[13] = {' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', '\0'};
};

constexpr std::uint32_t kFeatureTimeStamp = 1u << 4;
constexpr std::uint32_t kFeatureMmx = 1u << 23;
constexpr std::uint32_t kFeatureSse = 1u << 25;
constexpr std::uint32_t kFeatureSse2 = 1u << 26;

// Environment variable that forces the processor class (an integer 0 to 6) off Windows.
constexpr const char* kProcessorClassVariable = "QMJPEG_USECPU";

// Registry key (under the local-machine root) and 32-bit value that force the processor class
// on Windows.
constexpr const char* kProcessorClassRegistryKey = "Software\\Dodov Corporation\\VIDidur\\RADuz";
constexpr const char* kProcessorClassRegistryValue = "USECPU";

// Runs CPUID leaves 0 and 1 (leaf 1 only when leaf 0 reports it); not available off x86.
CpuidLeaves readCpuidLeaves();

// Decodes the register values.
ProcessorInfo processorInfoFromCpuid(const CpuidLeaves& leaves);

// Class 0 to 6 from the family and the MMX, SSE and SSE2 feature bits.
int processorClassFromInfo(const ProcessorInfo& info);

// The override value: a text of decimal digits only, with a value 0 to 6. Anything else
// (empty, signs, blanks, other characters, larger values) gives nothing.
std::optional<int> parseProcessorClassOverride(const char* text);

// The registry value as a class: 0 to 6 as they are; anything else (read as a signed 32-bit
// number, so 0xFFFFFFFF is -1) gives nothing.
std::optional<int> processorClassFromRegistryValue(std::uint32_t value);

// The class decision: the override when it is valid, otherwise the class of the processor.
int decideProcessorClass(const CpuidLeaves& leaves, std::optional<int> forced);

// This platform's override: the registry value on Windows (the environment is not read
// there), the environment variable elsewhere. Nothing when absent or out of range.
std::optional<int> platformProcessorClassOverride();

// The process-wide processor information, refreshed by detectProcessorClass.
const ProcessorInfo& processorInfo();

// Refreshes the processor information and decides the class for this machine, with the
// platform's override.
int detectProcessorClass();
