// `mivora status [-v] [--json]`: whether the tool can change icons on this
// machine (the helper files and the sudo rule the desktop application
// installs), how many aliases and cached icons there are, and where the files
// live. Changes nothing; every probe failure shows as a negative answer.
#pragma once

#include "core/command.h"
#include "core/json.h"

namespace mivora::icons {

struct StatusPaths {
    std::string configDir;
    std::string cacheDir;
    std::string helperScript;
    std::string fileicon;
    std::string appDefaults;

    core::Json toJson() const;
};

struct StatusResponse {
    bool helperFilesInstalled = false;
    bool sudoConfigured = false;
    int aliases = 0;
    int cachedIcons = 0;
    bool setupReady = false;
    StatusPaths paths;

    core::Json toJson() const;
};

class StatusCommand : public core::Command {
public:
    core::CommandConfiguration configuration() const override;
    void declare(core::Arguments& arguments) override;
    void run() override;

private:
    bool verbose = false;
    bool json = false;
};

} // namespace mivora::icons
