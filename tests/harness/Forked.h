#pragma once
// Runs one case in a forked child so that its peak memory can be read apart from the test
// program's: the child's maximum resident size comes back from wait4, and its growth is that
// peak less what the child held when it started (the parent's pages it inherited).

#include <functional>
#include <string>

namespace qninet::harness {

#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kSanitized = true;
#elif defined(__has_feature)
inline constexpr bool kSanitized = __has_feature(address_sanitizer);
#else
inline constexpr bool kSanitized = false;
#endif
/// A child forked while a server thread sits in the sanitizer's allocator can wait on its lock
/// for ever, so the forked matrices run in the plain builds only (where memory is measured too).
inline constexpr const char* kForkUnderSanitizer =
    "forking a threaded process under AddressSanitizer can deadlock on its allocator's locks";

struct ForkedOutcome {
  bool Ran = false;      ///< the child ended normally and reported
  bool Success = false;  ///< what the case said
  std::string Text;      ///< the case's error text (or why the child did not report)
  double Seconds = 0;    ///< the case's own duration, measured in the child
  long GrowthKiB = 0;    ///< the child's peak resident size less its size when the case began
};

/// What a case reports: whether it succeeded, and the error the user would see.
struct CaseResult {
  bool Success = false;
  std::string Text;
};

/// Runs `body` in a forked child (the caller's threads, such as a scripted server, stay in the
/// parent), with 4 GiB of address space (none under AddressSanitizer, which reserves terabytes)
/// and 60 seconds before SIGALRM ends it; with `cpuSeconds`, that much CPU time before SIGXCPU
/// does (a case that must stay linear in its input). `body` must not use the test framework's
/// assertions; an exception escaping it is a failure with the exception's text.
ForkedOutcome RunForked(const std::function<CaseResult()>& body, unsigned cpuSeconds = 0);

}  // namespace qninet::harness
