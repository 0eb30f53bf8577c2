#include "apps/quit_app_command.h"

#include "apps/app_lookup.h"
#include "apps/quit_app.h"
#include "core/output.h"

namespace mivora::apps {

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
    auto result = apps::quitApp(apps::findApp(app), wait);
    if (json)
        core::printJSON(result);
    else
        core::printLine(result.message);
}

} // namespace mivora::apps
