// The catalog's strictly decoded answers: the collection list, one collection,
// and the publish calls' replies, all from the same bytes.
#include "catalog/icon_collections.h"
#include "collections/publish_client.h"
#include "core/json_decoding.h"

#include <cstdint>
#include <string_view>

namespace {

template <class Decode> void attempt(Decode decode) {
    try {
        decode();
    } catch (const mivora::core::JSONDecodingError&) {
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    using namespace mivora;
    attempt([&] {
        core::JSONValue json = core::parseJSONDocument(bytes);
        attempt([&] { catalog::IconCollectionsResponse::decode(core::JSONObjectReader(json, "")); });
        attempt([&] { catalog::IconCollectionDetail::decode(core::JSONObjectReader(json, "")); });
    });
    attempt([&] { collections::PublishCreateResponse::decode(bytes); });
    attempt([&] { collections::PublishUploadResponse::decode(bytes); });
    attempt([&] { collections::PublishFinalizeResponse::decode(bytes); });
    return 0;
}
