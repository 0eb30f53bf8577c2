// The HTTP side of publishing a local collection to the catalog service: ask
// whether a remote collection exists, create one (which hands back the
// per-collection publish token), upload staged icons, finalise and delete. Every
// change of a remote collection carries its token as a bearer token. The client
// has its own session (30 s without progress, 120 s in all) and shares only the
// base address with the catalog client.
#pragma once

#include "collections/local_collection_store.h"
#include "core/json.h"
#include "platform/http.h"

#include <optional>
#include <string>

namespace mivora::collections {

struct PublishCreateResponse {
    std::string slug; // assigned by the service; differs from the requested one when that was taken
    std::string name;
    std::string publishToken;

    core::Json toJson() const;
    // Every key required; throws core::JSONDecodingError.
    static PublishCreateResponse decode(std::string_view body);
};

struct PublishUploadResponse {
    bool ok = false;
    std::string slug;
    std::string appSlug;
    std::string iconUrl;

    core::Json toJson() const;
    static PublishUploadResponse decode(std::string_view body);
};

struct PublishFinalizeResponse {
    bool ok = false;
    std::string slug;
    int64_t iconCount = 0;
    bool listed = false;
    std::string shareUrl;
    std::optional<std::string> note;

    core::Json toJson() const;
    static PublishFinalizeResponse decode(std::string_view body);
};

struct CollectionPublishClient {
    // Built on first use, shared by every publish call of the run.
    static platform::HttpSession& session();

    // GET <base>/collections/<remoteSlug>: true for 200, false for 404, nothing
    // for any other answer, a transport failure or a bad address.
    static std::optional<bool> remoteStatus(const std::string& remoteSlug);
    // POST <base>/collections with the manifest's name, description, accent and slug.
    static PublishCreateResponse createCollection(const LocalCollectionManifest& manifest);
    // PUT <base>/collections/<remoteSlug>/icons/<appSlug> with the PNG bytes.
    static PublishUploadResponse uploadIcon(const std::string& remoteSlug, const std::string& token,
                                            const std::string& appSlug, const std::string& pngData);
    // POST <base>/collections/<remoteSlug>/finalize; the share address comes back through publicURL.
    static PublishFinalizeResponse finalize(const std::string& remoteSlug, const std::string& token);
    // DELETE <base>/collections/<remoteSlug>.
    static void deleteCollection(const std::string& remoteSlug, const std::string& token);

    // Passes a 2xx answer; otherwise throws LocalCollectionError::publishFailed
    // "Could not <action>: HTTP <status>[: <error>][ (rate limited …)]".
    static void checkResponse(const platform::HttpResponse& response, const std::string& action);
    // An address on the legacy origin host moved onto the catalog site; others unchanged.
    static std::string publicURL(const std::string& address);
};

} // namespace mivora::collections
