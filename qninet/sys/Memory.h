#pragma once
// Hints to the system about large buffers.

#include <cstddef>

namespace qninet::sys {

/// Asks for huge pages behind the whole 2 MiB pages inside [p, p + bytes), so that filling a
/// large buffer that was not touched yet takes a fraction of the page faults. Only a hint.
void advise_huge_pages(void* p, std::size_t bytes);

}  // namespace qninet::sys
