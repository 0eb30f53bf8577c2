// Completion scripts: valid for their shells, and offering the command tree
// when a real shell asks them.
#include <gtest/gtest.h>
#include <unistd.h>

#include "support/sandbox.h"

namespace mivora::testing {
namespace {

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        result.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return result;
}

bool has(const std::vector<std::string>& items, const std::string& item) {
    return std::find(items.begin(), items.end(), item) != items.end();
}

class Completions : public ::testing::Test {
protected:
    void SetUp() override {
        ::symlink(mivoraBinary().c_str(), (sandbox.bin() + "/mivora").c_str());
        for (const char* shell : {"zsh", "bash", "fish"}) {
            auto result = sandbox.run({"completions", shell});
            ASSERT_EQ(result.status, 0) << shell << result.err;
            sandbox.writeFile(sandbox.dir() + "/completion." + shell, result.out);
        }
    }
    std::string script(const std::string& shell) const { return sandbox.dir() + "/completion." + shell; }
    Sandbox sandbox;
};

TEST_F(Completions, ScriptsParseInTheirShells) {
    EXPECT_EQ(sandbox.runProgram({"/bin/zsh", "-n", script("zsh")}).status, 0);
    EXPECT_EQ(sandbox.runProgram({"/bin/bash", "-n", script("bash")}).status, 0);
    auto fish = sandbox.runProgram({"/usr/bin/fish", "--no-execute", script("fish")});
    EXPECT_EQ(fish.status, 0) << fish.err;
}

TEST_F(Completions, ShellNameIsComparedLowerCased) {
    auto upper = sandbox.run({"completions", "ZSH"});
    EXPECT_EQ(upper.status, 0);
    EXPECT_EQ(upper.out, *sandbox.readFile(script("zsh")));
    EXPECT_EQ(upper.out.rfind("#compdef mivora\n", 0), 0u);
}

TEST_F(Completions, UnsupportedShellIsAValidationError) {
    auto result = sandbox.run({"completions", "PowerShell"});
    EXPECT_EQ(result.status, 64);
    EXPECT_EQ(result.err, "Error: Unsupported shell 'PowerShell'. Use zsh, bash, or fish.\n"
                          "Usage: mivora completions <shell-name>\n"
                          "  See 'mivora completions --help' for more information.\n");
    EXPECT_EQ(sandbox.run({"completions"}).status, 64);
}

// What the bash completion function offers for the words typed so far.
std::vector<std::string> bashOffers(const Sandbox& sandbox, const std::string& scriptPath, const std::string& words) {
    std::string driver = "source " + scriptPath + "\n"
                         "COMP_WORDS=(" + words + ")\n"
                         "COMP_CWORD=$(( ${#COMP_WORDS[@]} - 1 ))\n"
                         "_mivora_complete\n"
                         "printf '%s\\n' \"${COMPREPLY[@]}\"\n";
    sandbox.writeFile(sandbox.dir() + "/driver.bash", driver);
    auto result = sandbox.runProgram({"/bin/bash", sandbox.dir() + "/driver.bash"});
    EXPECT_EQ(result.status, 0) << result.err;
    return lines(result.out);
}

TEST_F(Completions, BashOffersSubcommandsOptionsAndValues) {
    auto top = bashOffers(sandbox, script("bash"), "mivora ''");
    EXPECT_TRUE(has(top, "completions"));
    EXPECT_TRUE(has(top, "--version"));
    auto partial = bashOffers(sandbox, script("bash"), "mivora comp");
    EXPECT_EQ(partial, std::vector<std::string>{"completions"});
    auto values = bashOffers(sandbox, script("bash"), "mivora completions ''");
    EXPECT_TRUE(has(values, "zsh") && has(values, "bash") && has(values, "fish"));
    EXPECT_TRUE(has(values, "--help"));
    EXPECT_FALSE(has(values, "completions"));
}

TEST_F(Completions, BashOffersTheNestedSubcommandsOfAGroup) {
    auto nested = bashOffers(sandbox, script("bash"), "mivora collections ''");
    for (const char* name : {"list", "show", "apply"}) EXPECT_TRUE(has(nested, name)) << name;
    EXPECT_FALSE(has(nested, "collections"));
    EXPECT_FALSE(has(nested, "set-icon"));
    auto options = bashOffers(sandbox, script("bash"), "mivora collections apply --app");
    EXPECT_EQ(options, std::vector<std::string>{"--appearance"});
    auto values = bashOffers(sandbox, script("bash"), "mivora collections apply x --appearance ''");
    EXPECT_TRUE(has(values, "light") && has(values, "dark"));
}

TEST_F(Completions, FishOffersSubcommandsAndValues) {
    auto ask = [&](const std::string& line) {
        auto result = sandbox.runProgram(
            {"/usr/bin/fish", "--no-config", "-c", "source " + script("fish") + "; complete -C '" + line + "'"});
        EXPECT_EQ(result.status, 0) << result.err;
        std::vector<std::string> words;
        for (const auto& l : lines(result.out)) words.push_back(l.substr(0, l.find('\t')));
        return words;
    };
    EXPECT_TRUE(has(ask("mivora "), "completions"));
    auto values = ask("mivora completions ");
    EXPECT_TRUE(has(values, "zsh") && has(values, "fish"));
    EXPECT_FALSE(has(values, "completions"));
    EXPECT_TRUE(has(ask("mivora completions --"), "--help"));
    auto nested = ask("mivora collections ");
    for (const char* name : {"list", "show", "apply"}) EXPECT_TRUE(has(nested, name)) << name;
    EXPECT_FALSE(has(nested, "set-icon"));
}

TEST_F(Completions, ZshScriptDefinesAFunctionPerCommand) {
    std::string text = *sandbox.readFile(script("zsh"));
    EXPECT_NE(text.find("_mivora() {"), std::string::npos);
    EXPECT_NE(text.find("_mivora_completions() {"), std::string::npos);
    EXPECT_NE(text.find("':shell-name:(zsh bash fish)'"), std::string::npos);
    // Loading it into an interactive-style zsh with the completion system registers it.
    auto result = sandbox.runProgram({"/bin/zsh", "-f", "-c",
                                      "autoload -Uz compinit && compinit -u -d " + sandbox.tmp() +
                                          "/zcompdump; source " + script("zsh") + "; print -r -- $_comps[mivora]"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "_mivora\n");
}

} // namespace
} // namespace mivora::testing
