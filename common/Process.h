#pragma once
// Small process-level helpers of the example, the benchmarks and the tests: option numbers,
// what a long run must not leak, starting this program again and telling how a child ended.
#include <sys/types.h>

#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace ZephCommon {

// Decimal digits with an optional k or m suffix (KiB, MiB). Signs, spaces, other junk and
// values beyond 64 bits are refused; `value` is set only on success.
bool ParseNumber(const std::string& text, unsigned long long& value);

// The descriptors this process has open now (not counting the one used to list them).
std::set<int> OpenDescriptors();

// This process's resident memory in KiB, or 0 when /proc cannot tell.
uint64_t ResidentKiB();

// Starts this same program (/proc/self/exe) with `args`, args[0] included: 0 and `pid` set,
// or the error number of the failure.
int SpawnSelf(const std::vector<std::string>& args, pid_t& pid);

// "exit code N", "killed by signal N (name)" or "wait status N".
std::string DescribeWaitStatus(int status);

}  // namespace ZephCommon
