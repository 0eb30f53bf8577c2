// Work spread over a few threads, for readers of many small files.
#pragma once

#include <cstddef>
#include <functional>

namespace mivora::platform {

// Calls work(i) for every i below `count` on up to `threads` threads, the
// calling one among them (fewer when the machine has fewer cores or no more
// threads can be started). Each helper thread opens and closes files in a
// descriptor table of its own, so threads that open many files do not wait on
// one another: a descriptor opened inside `work` must be closed before it
// returns. A failure is rethrown here once every thread has ended: the one of
// the lowest i, as a plain loop would have thrown it.
void forEachConcurrently(size_t count, size_t threads, const std::function<void(size_t)>& work);

} // namespace mivora::platform
