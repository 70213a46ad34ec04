#pragma once
// Hints to the system about large buffers.

#include <cstddef>

namespace qninet::sys {

/// Asks for huge pages behind the whole 2 MiB pages inside [p, p + bytes), so that filling a
/// large buffer that was not touched yet takes a fraction of the page faults. Only a hint.
void advise_huge_pages(void* p, std::size_t bytes);

/// Gives the pages of freed blocks back to the system, wherever they lie in the heap: a large
/// structure freed before another is built then does not add to the process's peak. A no-op
/// where the C library has no way to do it.
void return_free_memory();

}  // namespace qninet::sys
