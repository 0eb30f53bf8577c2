// What the end-to-end tests of set-icon, remove-icon and remove-dark-icon share:
// a sandbox with a pass-through recording sudo, the recording helper pair and
// a recording killall; icon images; and the state the commands leave behind.
#pragma once

#include "core/json.h"
#include "support/sandbox.h"

#include <optional>
#include <string>
#include <vector>

namespace mivora::testing {

using Calls = std::vector<std::vector<std::string>>;

// Fake sudo, recording helper.sh and fileicon, a recording <root>/usr/bin/killall
// (log killall.log) and the given system appearance.
void prepareIconCommands(const Sandbox& sandbox, bool dark);

// Writes a small PNG image at `path` (its folders made) and returns the path.
std::string writeIcon(const Sandbox& sandbox, const std::string& path);

// <root>/usr/local/lib/mivora/fileicon and helper.sh.
std::string fileiconIn(const Sandbox& sandbox);
std::string helperIn(const Sandbox& sandbox);

// What the recording helper got for setting `icon` (or "--remove") on `target`.
std::vector<std::string> helperCall(const Sandbox& sandbox, const std::string& target,
                                    const std::string& icon);

// icon-cache.json as JSON; nothing when the file is missing.
std::optional<core::Json> iconCacheDocument(const Sandbox& sandbox);
// The names in the cached images folder, sorted (none when it is missing).
std::vector<std::string> cachedImageNames(const Sandbox& sandbox);
// The cached image that the light slot of `appPath`'s entry names; "" without one.
std::string lightImageOf(const Sandbox& sandbox, const std::string& appPath);

// A helper.sh that writes every argument it gets, each ended by a NUL byte, to
// tmp/<logName> (so that arguments holding line breaks survive), one call after another.
void installNulRecordingHelper(const Sandbox& sandbox, const std::string& logName = "helper.args");
// The calls in such a log: each call ends with an empty argument written by the helper.
Calls nulSeparatedCalls(const Sandbox& sandbox, const std::string& logName = "helper.args");

// Every path under `folder` (recursively) whose last component is `name`.
std::vector<std::string> findNamed(const std::string& folder, const std::string& name);

} // namespace mivora::testing
