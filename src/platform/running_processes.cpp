#include "platform/running_processes.h"

#include "platform/environment.h"
#include "platform/filesystem.h"
#include "platform/property_list.h"

#include <algorithm>
#include <cstdlib>

namespace mivora::platform {

std::optional<std::string> enclosingBundlePath(const std::string& executablePath) {
    std::string path = parentPath(executablePath);
    while (!path.empty() && path != "/") {
        std::string name = lastPathComponent(path);
        if (name.size() > 4 && name.compare(name.size() - 4, 4, ".app") == 0) return path;
        path = parentPath(path);
    }
    return std::nullopt;
}

std::vector<RunningProcess> listRunningProcesses() {
    std::vector<RunningProcess> processes;
    auto entries = listDirectory("/proc");
    if (!entries) return processes;
    for (const auto& name : *entries) {
        if (name.empty() ||
            !std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; }))
            continue;
        auto exe = readSymbolicLink("/proc/" + name + "/exe");
        if (!exe) continue;
        // A replaced or deleted executable reads "<path> (deleted)".
        const std::string deleted = " (deleted)";
        if (exe->size() > deleted.size() &&
            exe->compare(exe->size() - deleted.size(), deleted.size(), deleted) == 0)
            exe->resize(exe->size() - deleted.size());
        RunningProcess process;
        process.pid = static_cast<pid_t>(std::strtol(name.c_str(), nullptr, 10));
        process.executablePath = *exe;
        process.bundlePath = enclosingBundlePath(*exe);
        if (process.bundlePath) {
            if (auto info = readPropertyListDictionary(*process.bundlePath + "/Contents/Info.plist",
                                                       read_limits::infoPlist))
                process.bundleIdentifier = info->view()["CFBundleIdentifier"].string();
        }
        processes.push_back(std::move(process));
    }
    std::sort(processes.begin(), processes.end(), [](const auto& a, const auto& b) { return a.pid < b.pid; });
    return processes;
}

std::vector<RunningProcess> runningApplications() {
    // Executable paths come resolved from /proc, so the folders are resolved too.
    auto resolved = [](const std::string& folder) { return resolveSymbolicLinks(folder).value_or(folder); };
    const std::string root = resolved(systemRoot());
    const std::string home = resolved(homeDirectory());
    auto inside = [](const std::string& path, const std::string& folder) {
        return folder == "/" || path.rfind(folder + "/", 0) == 0;
    };
    std::vector<RunningProcess> applications;
    for (auto& process : listRunningProcesses()) {
        if (!process.bundlePath) continue;
        if (inside(*process.bundlePath, root) || inside(*process.bundlePath, home))
            applications.push_back(std::move(process));
    }
    return applications;
}

} // namespace mivora::platform
