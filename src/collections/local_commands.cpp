#include "collections/local_commands.h"

#include "collections/collections_add_command.h"
#include "collections/collections_create_command.h"
#include "collections/collections_mark_command.h"
#include "collections/collections_publish_command.h"
#include "collections/collections_status_command.h"
#include "collections/collections_unpublish_command.h"

namespace mivora::collections {

std::vector<core::CommandFactory> localCollectionCommandFactories() {
    return {
        core::makeCommand<CollectionsCreateCommand>,  core::makeCommand<CollectionsAddCommand>,
        core::makeCommand<CollectionsMarkCommand>,    core::makeCommand<CollectionsStatusCommand>,
        core::makeCommand<CollectionsPublishCommand>, core::makeCommand<CollectionsUnpublishCommand>,
    };
}

} // namespace mivora::collections
