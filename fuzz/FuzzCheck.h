#pragma once
// What every target shares: a property that fails names itself and stops the run, so the
// fuzzer keeps the input as a finding.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#define FUZZ_CHECK(cond) ((cond) ? void(0) : ::fuzz::failed(#cond, __FILE__, __LINE__))

namespace fuzz {

[[noreturn]] inline void failed(const char* what, const char* file, int line) {
  std::fprintf(stderr, "%s:%d: property failed: %s\n", file, line, what);
  std::abort();
}

inline std::string_view bytes_of(const std::uint8_t* data, std::size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

}  // namespace fuzz
