#include "platform/skylight.h"

#include <dlfcn.h>

#include "platform/environment.h"

namespace mivora::platform {

SetAppearanceThemeFunction skyLightSetAppearanceTheme() {
    static const SetAppearanceThemeFunction function = []() -> SetAppearanceThemeFunction {
        std::string path = systemPath("/System/Library/PrivateFrameworks/SkyLight.framework/SkyLight");
        // Kept loaded for the life of the process.
        void* handle = ::dlopen(path.c_str(), RTLD_NOW);
        if (handle == nullptr) return nullptr;
        void* symbol = ::dlsym(handle, "SLSSetAppearanceThemeLegacy");
        return reinterpret_cast<SetAppearanceThemeFunction>(symbol);
    }();
    return function;
}

} // namespace mivora::platform
