#include "collections/collections_command.h"

#include "catalog/catalog_constants.h"
#include "collections/collections_apply_command.h"
#include "collections/collections_list_command.h"
#include "collections/collections_show_command.h"
#include "collections/local_commands.h"

namespace mivora::collections {

core::CommandConfiguration CollectionsCommand::configuration() const {
    core::CommandConfiguration config;
    config.commandName = "collections";
    config.abstract = "List, inspect, and apply Mivora style collections";
    config.discussion = std::string("Collections are complete matching icon sets from ") +
                        catalog::kCatalogSiteHost +
                        ",\n"
                        "plus your own local collections (create/add/status/publish).\n"
                        "\n"
                        "Examples:\n"
                        "  mivora collections --json\n"
                        "  mivora collections show sunlight --json\n"
                        "  mivora collections apply sunlight --dock --dry-run --json\n"
                        "  mivora collections apply paper --dock --quit --json\n"
                        "  mivora collections create naruto --name \"Naruto\" --dock\n"
                        "  mivora collections add naruto Notion /tmp/notion-styled.png\n"
                        "  mivora collections publish naruto";
    // The order of the help screen: list, show, apply, create, add, mark, status, publish, unpublish.
    config.subcommands = {
        core::makeCommand<CollectionsListCommand>,
        core::makeCommand<CollectionsShowCommand>,
        core::makeCommand<CollectionsApplyCommand>,
    };
    for (core::CommandFactory local : localCollectionCommandFactories()) config.subcommands.push_back(local);
    config.defaultSubcommand = 0;
    return config;
}

} // namespace mivora::collections
