// Fresh random UUIDs in their upper-case text form ("E621E1F8-C36C-495A-93FC-0C247A3E6E5F").
#pragma once

#include <string>

namespace mivora::platform {

std::string newUUIDString();

} // namespace mivora::platform
