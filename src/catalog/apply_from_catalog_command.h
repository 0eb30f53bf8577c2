// `mivora apply-from-catalog <app>`: the one-shot road for agents: find the
// application, search the catalog for it, choose an icon (by index, by style
// words or by whole-name match), download it and apply it for one slot.
#pragma once

#include "apps/installed_app.h"
#include "catalog/catalog_icon.h"
#include "core/command.h"
#include "core/json.h"
#include "icons/appearance.h"

#include <optional>
#include <string>
#include <vector>

namespace mivora::catalog {

struct ApplyFromCatalogResponse {
    bool success = true;
    apps::InstalledApp app;
    CatalogIcon catalogIcon;
    std::string appearance;
    bool appliedToBundle = false;
    std::string message;

    core::Json toJson() const;
};

class ApplyFromCatalogCommand : public core::Command {
public:
    core::CommandConfiguration configuration() const override;
    void declare(core::Arguments& arguments) override;
    void run() override;

private:
    CatalogIcon chooseIcon(const std::vector<CatalogIcon>& results, const apps::InstalledApp& app) const;

    std::string app;
    std::optional<std::string> style;
    std::optional<int64_t> pick;
    std::optional<std::string> query;
    bool noRefresh = false;
    bool json = false;
    bool liquidGlass = false;
    std::optional<icons::IconAppearance> appearance;
    bool quit = false;
};

} // namespace mivora::catalog
