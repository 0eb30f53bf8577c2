// The catalog's search answers, read by the tolerant parser (it never fails).
#include "catalog/catalog_api.h"

#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    mivora::catalog::CatalogAPI::parseIconsResponse(bytes);
    return 0;
}
