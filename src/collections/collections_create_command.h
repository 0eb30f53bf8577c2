// `mivora collections create [<slug>] [--name] [--description] [--accent]
// [--prompt | --prompt-file] [--provider] [--dock | --all-apps | --apps] [--json]`:
// scaffolds a local collection, optionally seeded with one pending entry per
// application, and prints where it lives and what to run next.
#pragma once

#include "core/command.h"
#include "core/json.h"

#include <optional>
#include <string>
#include <vector>

namespace mivora::collections {

struct CreateCollectionResponse {
    bool success = true;
    std::string slug;
    std::string name;
    std::string directory;
    std::string manifest;
    int64_t seededApps = 0;
    std::vector<std::string> nextSteps;

    core::Json toJson() const;
};

class CollectionsCreateCommand : public core::Command {
public:
    core::CommandConfiguration configuration() const override;
    void declare(core::Arguments& arguments) override;
    void run() override;

    // The five lines that follow a create, for `slug`.
    static std::vector<std::string> nextSteps(const std::string& slug);

private:
    std::optional<std::string> slug;
    std::optional<std::string> name;
    std::string description;
    std::string accent = "#8b8b8b";
    std::optional<std::string> prompt;
    std::optional<std::string> promptFile;
    std::optional<std::string> provider;
    bool dock = false;
    bool allApps = false;
    std::optional<std::string> apps;
    bool json = false;
};

} // namespace mivora::collections
