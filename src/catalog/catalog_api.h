// The catalog service client's shared pieces: the base address (environment
// override or built-in), the one catalog session, error bodies, asset-address
// rewriting and icon downloads into the temporary folder.
#pragma once

#include <optional>
#include <string>

#include "catalog/catalog_icon.h"
#include "core/errors.h"
#include "platform/http.h"

namespace mivora::catalog {

class CatalogAPIError : public core::MessageError {
public:
    enum class Kind { httpError, noConfidentMatch, downloadFailed, invalidResponse, noResults };

    static CatalogAPIError httpError(long status, const std::string& message);
    static CatalogAPIError noConfidentMatch(const std::string& message);
    static CatalogAPIError downloadFailed(const std::string& reason);
    static CatalogAPIError invalidResponse();
    static CatalogAPIError noResults();

    Kind kind() const { return kind_; }
    long status() const { return status_; }

private:
    CatalogAPIError(Kind kind, const std::string& message, long status = 0)
        : core::MessageError(message), kind_(kind), status_(status) {}
    Kind kind_;
    long status_;
};

struct CatalogAPI {
    // MIVORA_API_BASE_URL (even when blank), else VANTORQUELL_API_BASE_URL, trimmed; empty is none.
    static std::optional<std::string> apiBaseURLOverride();
    // The override or the built-in base, with every "/" removed from both ends. Read afresh each call.
    static std::string apiBaseURL();
    // apiBaseURL() without a final "/api".
    static std::string siteBaseURL();

    // The catalog session: 15 s without progress, 30 s in all; built on first use.
    static platform::HttpSession& session();

    // One GET expecting JSON and a 2xx status. Throws CatalogAPIError or a transport error.
    static std::string getJSON(const std::string& url);
    // "message", else "statusMessage", else "error" of a JSON object body, when a string.
    static std::optional<std::string> errorMessage(const std::string& body);

    // Legacy hosted-origin addresses rewritten onto the site; others unchanged.
    static std::string resolveAssetURL(const std::string& address);
    // Fetches the address into <tmp>/mivora-<UUID>.<ext> and returns that path.
    static std::string download(const std::string& address, const std::string& defaultExtension);
    // The ICNS file first when asked, falling back to the PNG.
    static std::string downloadIcon(const CatalogIcon& icon, bool preferICNS);
};

} // namespace mivora::catalog
