// Completion scripts: valid for their shells, and offering the command tree
// when a real shell asks them.
#include "support/sandbox.h"

#include <gtest/gtest.h>
#include <unistd.h>

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
std::vector<std::string> bashOffers(const Sandbox& sandbox, const std::string& scriptPath,
                                    const std::string& words) {
    std::string driver = "source " + scriptPath +
                         "\n"
                         "COMP_WORDS=(" +
                         words +
                         ")\n"
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
    for (const char* name : {"list", "show", "apply"})
        EXPECT_TRUE(has(nested, name)) << name;
    EXPECT_FALSE(has(nested, "collections"));
    EXPECT_FALSE(has(nested, "set-icon"));
    auto options = bashOffers(sandbox, script("bash"), "mivora collections apply --app");
    EXPECT_EQ(options, std::vector<std::string>{"--appearance"});
    auto values = bashOffers(sandbox, script("bash"), "mivora collections apply x --appearance ''");
    EXPECT_TRUE(has(values, "light") && has(values, "dark"));
}

// What fish's completion offers for a command line, run in `folder`.
std::vector<std::string> fishOffers(const Sandbox& sandbox, const std::string& scriptPath,
                                    const std::string& line, const std::string& folder = "") {
    auto result = sandbox.runProgram(
        {"/usr/bin/fish", "--no-config", "-c", "source " + scriptPath + "; complete -C '" + line + "'"},
        folder);
    EXPECT_EQ(result.status, 0) << result.err;
    std::vector<std::string> words;
    for (const auto& l : lines(result.out))
        words.push_back(l.substr(0, l.find('\t')));
    return words;
}

TEST_F(Completions, FishOffersSubcommandsAndValues) {
    auto ask = [&](const std::string& line) { return fishOffers(sandbox, script("fish"), line); };
    EXPECT_TRUE(has(ask("mivora "), "completions"));
    auto values = ask("mivora completions ");
    EXPECT_TRUE(has(values, "zsh") && has(values, "fish"));
    EXPECT_FALSE(has(values, "completions"));
    EXPECT_TRUE(has(ask("mivora completions --"), "--help"));
    auto nested = ask("mivora collections ");
    for (const char* name : {"list", "show", "apply"})
        EXPECT_TRUE(has(nested, name)) << name;
    EXPECT_FALSE(has(nested, "set-icon"));
}

TEST_F(Completions, FishOffersOnlyTheListOfAnOptionThatHasOne) {
    // Files in the folder, which a file-taking option offers and a closed list must not.
    sandbox.writeFile(sandbox.tmp() + "/icon.png", "x");
    sandbox.writeFile(sandbox.tmp() + "/notes.txt", "x");
    for (const char* line :
         {"mivora set-icon Notes icon.png --appearance ", "mivora apply-from-catalog Notes --appearance ",
          "mivora collections apply sunlight --appearance "}) {
        SCOPED_TRACE(line);
        auto offered = fishOffers(sandbox, script("fish"), line, sandbox.tmp());
        std::sort(offered.begin(), offered.end());
        EXPECT_EQ(offered, (std::vector<std::string>{"dark", "light"}));
    }
    auto files = fishOffers(sandbox, script("fish"), "mivora extract-icon Notes --out ", sandbox.tmp());
    EXPECT_TRUE(has(files, "icon.png") && has(files, "notes.txt"));
}

TEST_F(Completions, ZshScriptDefinesAFunctionPerCommand) {
    std::string text = *sandbox.readFile(script("zsh"));
    EXPECT_NE(text.find("_mivora() {"), std::string::npos);
    EXPECT_NE(text.find("_mivora_completions() {"), std::string::npos);
    EXPECT_NE(text.find("':shell-name:(zsh bash fish)'"), std::string::npos);
    // Loading it into an interactive-style zsh with the completion system registers it.
    auto result =
        sandbox.runProgram({"/bin/zsh", "-f", "-c",
                            "autoload -Uz compinit && compinit -u -d " + sandbox.tmp() +
                                "/zcompdump; source " + script("zsh") + "; print -r -- $_comps[mivora]"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "_mivora\n");
}

// What zsh's completion system offers for a command line: an interactive zsh on
// a pseudo-terminal, whose compadd reports each match before adding it.
std::vector<std::string> zshOffers(const Sandbox& sandbox, const std::string& scriptPath,
                                   const std::string& line) {
    const std::string driver = sandbox.dir() + "/driver.zsh";
    sandbox.writeFile(driver, R"(zmodload zsh/zpty
zpty z zsh -f -i
zpty -w z "PS1=''; LISTMAX=100000; autoload -Uz compinit; compinit -u -d $TMPDIR/zcompdump; source $1"
zpty -w z 'compadd() { local -a hits; builtin compadd -O hits "$@"; print -lr -- "<""hit>"${^hits} >/dev/tty; builtin compadd "$@" }'
zpty -w z 'offer() { zle complete-word; print -r -- "<""done>" >/dev/tty }; zle -N offer; bindkey "^T" offer'
zpty -w -n z "$2"$'\C-t'
local line
while zpty -r z line; do
  [[ $line == *'<hit>'* ]] && print -r -- "${${line##*<hit>}%%$'\r'*}"
  [[ $line == *'<done>'* ]] && break
done
zpty -d z
)");
    auto result = sandbox.runProgram({"/bin/zsh", "-f", driver, scriptPath, line}, "", 30);
    EXPECT_EQ(result.status, 0) << result.err;
    auto words = lines(result.out);
    std::sort(words.begin(), words.end());
    words.erase(std::unique(words.begin(), words.end()), words.end());
    return words;
}

TEST_F(Completions, ZshOffersSubcommandsOptionsAndValues) {
    auto top = zshOffers(sandbox, script("zsh"), "mivora ");
    EXPECT_TRUE(has(top, "completions") && has(top, "set-icon")) << ::testing::PrintToString(top);
    EXPECT_EQ(zshOffers(sandbox, script("zsh"), "mivora comp"), std::vector<std::string>{"completions"});
    auto nested = zshOffers(sandbox, script("zsh"), "mivora collections ");
    for (const char* name : {"list", "show", "apply"})
        EXPECT_TRUE(has(nested, name)) << name;
    EXPECT_FALSE(has(nested, "set-icon"));
    EXPECT_EQ(zshOffers(sandbox, script("zsh"), "mivora set-icon Notes icon.png --appearance "),
              (std::vector<std::string>{"dark", "light"}));
    EXPECT_EQ(zshOffers(sandbox, script("zsh"), "mivora completions "),
              (std::vector<std::string>{"bash", "fish", "zsh"}));
}

// The parser's `help` subcommand: offered at the root, and followed by the commands it explains.
TEST_F(Completions, EveryShellOffersHelpAtTheRootAndTheCommandsAfterIt) {
    auto bashTop = bashOffers(sandbox, script("bash"), "mivora ''");
    auto fishTop = fishOffers(sandbox, script("fish"), "mivora ");
    auto zshTop = zshOffers(sandbox, script("zsh"), "mivora ");
    for (const auto* offered : {&bashTop, &fishTop, &zshTop})
        EXPECT_TRUE(has(*offered, "help"));
    EXPECT_EQ(bashOffers(sandbox, script("bash"), "mivora he"), std::vector<std::string>{"help"});
    EXPECT_EQ(fishOffers(sandbox, script("fish"), "mivora he"), std::vector<std::string>{"help"});
    EXPECT_EQ(zshOffers(sandbox, script("zsh"), "mivora he"), std::vector<std::string>{"help"});
    // Inside a command, "help" is no subcommand.
    EXPECT_FALSE(has(bashOffers(sandbox, script("bash"), "mivora collections ''"), "help"));
    EXPECT_FALSE(has(fishOffers(sandbox, script("fish"), "mivora collections "), "help"));
    EXPECT_FALSE(has(zshOffers(sandbox, script("zsh"), "mivora collections "), "help"));

    auto bashAfter = bashOffers(sandbox, script("bash"), "mivora help ''");
    auto fishAfter = fishOffers(sandbox, script("fish"), "mivora help ");
    auto zshAfter = zshOffers(sandbox, script("zsh"), "mivora help ");
    for (const auto* offered : {&bashAfter, &fishAfter, &zshAfter}) {
        EXPECT_TRUE(has(*offered, "set-icon") && has(*offered, "collections") && has(*offered, "completions"))
            << ::testing::PrintToString(*offered);
        EXPECT_FALSE(has(*offered, "help"));
        EXPECT_FALSE(has(*offered, "--version"));
    }
}

} // namespace
} // namespace mivora::testing
