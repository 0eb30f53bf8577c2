// `mivora escape-jail [<app-path>] [-d] [-v]`: applies the icon file inside an
// application bundle to that bundle again as a custom icon, through the
// privileged helper, so that the system shows it unframed. Without a path it
// works on every application in /Applications that has no custom icon yet.
#pragma once

#include "core/command.h"

#include <optional>
#include <string>

namespace mivora::icons {

class EscapeJailCommand : public core::Command {
public:
    core::CommandConfiguration configuration() const override;
    void declare(core::Arguments& arguments) override;
    void run() override;

    // The work on one bundle; throws CLIError for a bundle problem or a failed helper run.
    static void escapeJail(const std::string& appPath, bool dryRun, bool verbose);

private:
    // escapeJail within the application's turn, which the caller holds.
    static void escapeBundle(const std::string& appPath, bool dryRun, bool verbose);

    std::optional<std::string> appPath;
    bool dryRun = false;
    bool verbose = false;
};

} // namespace mivora::icons
