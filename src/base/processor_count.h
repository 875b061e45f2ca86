// How many processors the process may run on: the thread-block strategy's
// threads per stage, and the share renders divide.
#pragma once

#include <cstdint>

namespace ruvivedu {

/// Processors this process may run on (at least 1): the CPU affinity on Linux,
/// the configured processors on macOS, the system information on Windows.
int32_t processor_count();

}  // namespace ruvivedu
