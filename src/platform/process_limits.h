// How the process meets the limits the system sets on it.
#pragma once

namespace mivora::platform {

// A write past the file-size limit (RLIMIT_FSIZE) then fails with an error that
// is reported like any other, instead of the signal ending the process.
void ignoreFileSizeLimitSignal();

} // namespace mivora::platform
