// The process environment as the rest of the program sees it: the user's home,
// the temporary folder, the root under which fixed system locations live, and
// the environment handed to child processes. Each value is computed once.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace mivora::platform {

// Value of an environment variable, or nothing when it is not set at all.
std::optional<std::string> environmentValue(const char* name);

// The home folder cannot be found (HOME relative, or unset or empty with no
// usable entry in the user database); what() says which.
class HomeDirectoryError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The user's home folder, without a trailing "/": $HOME when it is set and not
// empty (it must be absolute), else the user database's home folder of our
// user id when that is an existing folder other than "/". Never falls back to
// "/": throws HomeDirectoryError instead, at every call.
const std::string& homeDirectory();

// The system temporary folder ($TMPDIR, default "/tmp"), without a trailing "/".
const std::string& temporaryDirectory();

// $MIVORA_SYSTEM_ROOT, or "/" when it is unset or empty.
const std::string& systemRoot();

// A fixed absolute system location ("/Applications", "/usr/bin/killall")
// looked up under systemRoot(), never producing "//".
std::string systemPath(const std::string& fixedPath);

// The folder that holds our stand-in programs, when there is one.
const std::optional<std::string>& standinsDirectory();

// The environment of every child process: ours, with the stand-ins folder
// appended to PATH so that a program placed earlier on PATH wins.
const std::vector<std::string>& childEnvironment();

// The locale categories the tool honours, each with its own variable.
enum class LocaleCategory { collation, time, numeric };

// The user's locale name for one category as the variables give it
// ("de_DE.UTF-8"), in the POSIX order: LC_ALL, then the category's variable
// (LC_COLLATE, LC_TIME, LC_NUMERIC), then LANG; the first that is set and not
// empty decides. Empty when none is set. `usableLocale` (locale_names.h) turns
// it into the locale the formatters and the collation use.
const std::string& userLocaleName(LocaleCategory category);

// The current working folder.
std::string currentDirectory();

} // namespace mivora::platform
