// `mivora collections status <slug> [--dock] [--json]`: the generation progress
// of one local collection: counts per status, every entry with its reason, the
// publication, and the applications that have no entry yet.
#pragma once

#include "core/command.h"
#include "core/json.h"

#include <optional>
#include <string>
#include <vector>

namespace mivora::collections {

struct LocalCollectionIconEntry;

// One manifest entry as reported (also the reply of `collections mark`).
struct CollectionStatusItem {
    std::string appSlug;
    std::string appName;
    std::string status;
    bool dark = false;
    std::optional<std::string> reason;

    static CollectionStatusItem of(const std::string& appSlug, const LocalCollectionIconEntry& entry);
    core::Json toJson() const;
};

struct CollectionStatusResponse {
    std::string slug;
    std::string name;
    std::string kind = "local";
    std::string directory;
    int64_t total = 0;
    int64_t done = 0;
    int64_t pending = 0;
    int64_t rejected = 0;
    int64_t skipped = 0;
    std::vector<CollectionStatusItem> icons;
    std::vector<std::string> installedAppsWithoutEntry;
    bool published = false;
    std::optional<std::string> remoteSlug;

    core::Json toJson() const;
};

class CollectionsStatusCommand : public core::Command {
public:
    core::CommandConfiguration configuration() const override;
    void declare(core::Arguments& arguments) override;
    void run() override;

private:
    std::string slug;
    bool dock = false;
    bool json = false;
};

} // namespace mivora::collections
