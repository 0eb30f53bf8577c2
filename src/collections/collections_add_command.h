// `mivora collections add <slug> <app> <image> [--dark-image] [--raw] [--force] [--json]`:
// the quality gate through which a styled icon enters a local collection. The
// image is normalised for the Dock, checked, staged under icons/ and the
// application's entry marked done.
#pragma once

#include "core/command.h"
#include "core/json.h"

#include <optional>
#include <string>

namespace mivora::collections {

struct AddCollectionIconResponse {
    bool success = true;
    std::string slug;
    std::string appSlug;
    std::string appName;
    std::string iconPath;
    std::optional<std::string> darkIconPath;
    bool normalized = true;
    std::optional<std::string> warning;
    int64_t done = 0;
    int64_t pending = 0;

    core::Json toJson() const;
};

class CollectionsAddCommand : public core::Command {
public:
    core::CommandConfiguration configuration() const override;
    void declare(core::Arguments& arguments) override;
    void run() override;

private:
    std::string slug;
    std::string app;
    std::string image;
    std::optional<std::string> darkImage;
    bool raw = false;
    bool force = false;
    bool json = false;
};

} // namespace mivora::collections
