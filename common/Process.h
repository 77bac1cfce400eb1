#pragma once
// Small process-level helpers of the example, the benchmarks and the tests: option numbers and
// what a long run must not leak.
#include <cstdint>
#include <set>
#include <string>

namespace ZephCommon {

// Decimal digits with an optional k or m suffix (KiB, MiB). Signs, spaces, other junk and
// values beyond 64 bits are refused; `value` is set only on success.
bool ParseNumber(const std::string& text, unsigned long long& value);

// The descriptors this process has open now (not counting the one used to list them).
std::set<int> OpenDescriptors();

// This process's resident memory in KiB, or 0 when /proc cannot tell.
uint64_t ResidentKiB();

}  // namespace ZephCommon
