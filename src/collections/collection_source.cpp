#include "collections/collection_source.h"

namespace mivora::collections {

ResolvedCollection resolveCollection(const std::string& slug) {
    return {catalog::getCollection(slug), false};
}

std::optional<std::string> darkVariantFile(const ResolvedCollection&, const std::string&, const std::string&) {
    return std::nullopt;
}

} // namespace mivora::collections
