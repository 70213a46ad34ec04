#pragma once
// The process's own memory figures, for the peak-memory measurements of the benchmarks.

#include <cstdlib>
#include <fstream>
#include <string>

namespace qninet::bench {

/// A "Vm...:" line of /proc/self/status in KiB ("VmRSS:" now, "VmHWM:" the peak); 0 when absent.
inline long status_kib(const std::string& key) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind(key, 0) == 0) return std::atol(line.c_str() + key.size());
  return 0;
}

/// Resets the recorded peak to the present size, so building the input does not count.
inline void reset_peak() { std::ofstream("/proc/self/clear_refs") << "5"; }

}  // namespace qninet::bench
