// A throw-away macOS tree for end-to-end runs of the real binary:
//   <dir>/root  the system root (MIVORA_SYSTEM_ROOT): /Applications, /System, /usr/local/lib/mivora
//   <dir>/home  the user's home (HOME)
//   <dir>/tmp   the temporary folder (TMPDIR)
//   <dir>/bin   recording stand-ins, first on PATH
#pragma once

#include "platform/file_reading.h"
#include "platform/property_list.h"

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace mivora::testing {

// What the tests read back of the files a run leaves.
inline constexpr platform::ReadLimit kTestReadLimit{"a test file", 1'000'000'000};

struct RunResult {
    int status = -1;
    std::string out;
    std::string err;
    bool timedOut = false;
};

struct AppBundle {
    std::string name;                      // "Notes" -> Notes.app
    std::string folder;                    // absolute; default: <root>/Applications
    std::optional<std::string> bundleId;   // CFBundleIdentifier
    std::optional<std::string> executable; // CFBundleExecutable, written to Contents/MacOS
    std::string executableBytes = "binary";
    std::map<std::string, std::string> extraStrings; // more string keys of Info.plist
    bool binaryPlist = false;
    bool writeInfoPlist = true;
};

class Sandbox {
public:
    Sandbox();
    ~Sandbox();
    Sandbox(const Sandbox&) = delete;
    Sandbox& operator=(const Sandbox&) = delete;

    const std::string& dir() const { return dir_; }
    const std::string& root() const { return root_; }
    const std::string& home() const { return home_; }
    const std::string& tmp() const { return tmp_; }
    const std::string& bin() const { return bin_; }
    std::string rootPath(const std::string& absolute) const { return root_ + absolute; }
    std::string homePath(const std::string& relative) const { return home_ + "/" + relative; }

    // Writes a file, creating its folders.
    void writeFile(const std::string& path, const std::string& bytes) const;
    // Writes an executable shell script (a "#!/bin/sh" line is added unless present).
    void writeScript(const std::string& path, const std::string& body) const;
    void writePlist(const std::string& path, const platform::Plist& plist, bool binary = false) const;
    std::optional<std::string> readFile(const std::string& path) const;

    // Writes an application bundle and returns its path.
    std::string addApp(const AppBundle& app) const;

    // bin/sudo: appends each argument on its own line, then "--", to tmp/sudo.log,
    // drops "-n" and runs the rest; exits 1 with a password message when
    // bin/sudo.refuse exists. `sudo -n -l` prints bin/sudo.rules, or asks for a
    // password (status 1) when there is no such file.
    void installFakeSudo() const;
    // Recording fakes for <root>/usr/local/lib/mivora/helper.sh and fileicon.
    // helper.sh appends its arguments to tmp/helper.log (one per line, then "--")
    // and exits with the status written in bin/helper.status (0 when missing).
    void installHelperFiles(bool helper = true, bool fileicon = true) const;
    std::vector<std::vector<std::string>> loggedCalls(const std::string& logName) const;

    // Runs build/mivora with HOME, TMPDIR, MIVORA_SYSTEM_ROOT and PATH set.
    RunResult run(const std::vector<std::string>& arguments, const std::string& workingDirectory = "",
                  double timeoutSeconds = 60) const;
    // Runs any program with the sandbox's environment.
    RunResult runProgram(const std::vector<std::string>& argv, const std::string& workingDirectory = "",
                         double timeoutSeconds = 60) const;

    // Extra variables for runs ("LANG", "MIVORA_API_BASE_URL", ...).
    std::map<std::string, std::string> environment;

    // The whole environment of a run, as "NAME=value" items.
    std::vector<std::string> runEnvironment() const;

private:
    std::string dir_, root_, home_, tmp_, bin_;
};

// Runs build/mivora in the sandbox (from its tmp/) after a line of sh such as
// "umask 077" or "ulimit -f 256".
RunResult runAfter(const Sandbox& sandbox, const std::string& setup,
                   const std::vector<std::string>& arguments);

// Whether `path` is the temporary file that a creating write of `destination`
// uses: ".<name>.XXXXXX" beside it.
bool isTemporaryFileOf(const std::string& path, const std::string& destination);

// The path of the built binary and of the stand-ins folder.
std::string mivoraBinary();
std::string standinsDirectory();

} // namespace mivora::testing
