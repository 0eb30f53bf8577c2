#include "platform/distributed_notifications.h"

namespace mivora::platform {

void postDistributedNotification(const std::string& /*name*/) {}

} // namespace mivora::platform
