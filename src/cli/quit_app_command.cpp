#include "cli/quit_app_command.h"

#include "core/app_lookup.h"
#include "core/output.h"
#include "core/quit_app.h"

namespace mivora::cli {

core::CommandConfiguration QuitAppCommand::configuration() const {
    core::CommandConfiguration config;
    config.commandName = "quit-app";
    config.abstract = "Quit a running application before changing its icon";
    return config;
}

void QuitAppCommand::declare(core::Arguments& arguments) {
    arguments.positional("app", app, "App name or path to .app bundle");
    arguments.option("wait", wait, "Seconds to wait after quit (default: 2)", {.hasDefault = true});
    arguments.flag("json", json, "Output JSON for agents");
}

void QuitAppCommand::run() {
    auto result = core::quitApp(core::findApp(app), wait);
    if (json)
        core::printJSON(result);
    else
        core::printLine(result.message);
}

} // namespace mivora::cli
