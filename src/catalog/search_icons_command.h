// `mivora search-icons <query>`: the best-ranked catalog icons for a text, as
// numbered lines (the indexes apply-from-catalog --pick takes) or as JSON.
#pragma once

#include "catalog/catalog_icon.h"
#include "core/command.h"
#include "core/json.h"

#include <cstdint>
#include <string>
#include <vector>

namespace mivora::catalog {

struct SearchIconsResponse {
    std::string query; // as typed, before the alias table
    std::vector<CatalogIcon> icons;
    int64_t count = 0;

    core::Json toJson() const;
};

class SearchIconsCommand : public core::Command {
public:
    core::CommandConfiguration configuration() const override;
    void declare(core::Arguments& arguments) override;
    void run() override;

private:
    std::string query;
    bool json = false;
    bool liquidGlass = false;
    int64_t limit = 20;
};

} // namespace mivora::catalog
