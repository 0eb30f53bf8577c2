// A local collection's manifest.json: strict decoding, and encoding what decoded.
#include "collections/local_collection_store.h"
#include "core/json_decoding.h"

#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    using mivora::collections::LocalCollectionManifest;
    try {
        LocalCollectionManifest manifest = LocalCollectionManifest::decode(bytes);
        manifest.encoded();
    } catch (const mivora::core::JSONDecodingError&) {
    }
    return 0;
}
