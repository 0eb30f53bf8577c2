// Notifications posted to every process of the user's session. Linux has no
// such centre and nothing here listens, so posting does nothing.
#pragma once

#include <string>

namespace mivora::platform {

void postDistributedNotification(const std::string& name);

} // namespace mivora::platform
