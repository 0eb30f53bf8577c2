// Process entry: meet the process limits, migrate the legacy data folder, then parse and run one command.
#include "app/migration.h"
#include "cli/frame.h"
#include "cli/root_command.h"
#include "platform/memory.h"
#include "platform/process_limits.h"

#include <cstdlib>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    mivora::platform::keepFreedMemoryForReuse();
    mivora::platform::ignoreFileSizeLimitSignal();
    mivora::app::migrateLegacyData();
    std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
    int status = mivora::cli::runCommandLine(mivora::core::makeCommand<mivora::cli::MivoraCLI>, arguments);
    std::exit(status);
}
