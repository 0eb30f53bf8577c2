#include "support/icon_fixtures.h"

#include "platform/filesystem.h"
#include "platform/image/png.h"

#include <gtest/gtest.h>

namespace mivora::testing {

std::string typicalIcns() {
    return icnsFile({
        {"ic07", solidPNG(128, 128, kIconBlue)},
        {"ic10", solidPNG(1024, 1024, kIconRed)},
        {"is32", runLengthChannels(16, {kIconGreen.red, kIconGreen.green, kIconGreen.blue})},
        {"s8mk", std::string(256, '\xFF')},
    });
}

std::string addAppWithIcon(const Sandbox& sandbox, const std::string& name, const std::string& icns,
                           const std::string& folder) {
    AppBundle app;
    app.name = name;
    app.folder = folder;
    app.extraStrings = {{"CFBundleIconFile", "AppIcon"}};
    std::string path = sandbox.addApp(app);
    sandbox.writeFile(path + "/Contents/Resources/AppIcon.icns", icns);
    return path;
}

void installRecordingStandin(const Sandbox& sandbox, const std::string& program) {
    sandbox.writeScript(sandbox.bin() + "/" + program,
                        "log=\"" + sandbox.tmp() + "/" + program +
                            ".log\"\n"
                            "for a in \"$@\"; do printf '%s\\n' \"$a\" >> \"$log\"; done\n"
                            "printf '%s\\n' -- >> \"$log\"\n"
                            "exec \"" +
                            standinsDirectory() + "/" + program + "\" \"$@\"\n");
}

void appendStandinsToPath(Sandbox& sandbox) {
    sandbox.environment["PATH"] = sandbox.bin() + ":/usr/local/bin:/usr/bin:/bin:" + standinsDirectory();
}

image::Bitmap readPNGFile(const std::string& path) {
    auto bytes = platform::readFile(path, testing::kTestReadLimit);
    if (!bytes) {
        ADD_FAILURE() << "no file at " << path;
        return {};
    }
    try {
        return image::decodePNG(*bytes);
    } catch (const image::ImageError& error) {
        ADD_FAILURE() << path << ": " << error.what();
        return {};
    }
}

} // namespace mivora::testing
