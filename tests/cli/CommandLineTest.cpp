// SPDX-License-Identifier: GPL-3.0-or-later
// The command line parsed, and results encoded as JSON, in-process.
#include "cli/CliRun.h"
#include "cli/CommandLine.h"
#include "cli/JsonLines.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <map>

namespace meridane::cli {
namespace {

using Action = ParsedCommandLine::Action;

TEST(CommandLine, GivesActionOptionsAndPaths) {
    const ProcessingOptionValues defaults{true, false, true, false};
    const struct {
        std::vector<std::string> arguments;
        Action action;
        ProcessingOptionValues options;
        std::vector<std::filesystem::path> paths;
    } cases[] = {
        {{"photos"}, Action::run, defaults, {"photos"}},
        {{"--write", "--always-overwrite", "--any-camera", "--silently-ignore-skipped", "a", "b"}, Action::run,
         {false, true, false, true}, {"a", "b"}},
        {{"a", "--write"}, Action::run, {false, false, true, false}, {"a"}},
        {{"--", "--write", "-x"}, Action::run, defaults, {"--write", "-x"}},
        {{"-"}, Action::run, defaults, {"-"}},
        {{"a", "--help"}, Action::help, defaults, {}}, {{"--version"}, Action::version, defaults, {}},
        {{"--coordinate-format=dm", "--sidecar-name=full", "a"}, Action::run,
         {.coordinateFormat = CoordinateFormat::dm, .sidecarNaming = SidecarNaming::full}, {"a"}},
        {{"--coordinate-format=decimal", "--sidecar-name=stem", "a"}, Action::run, defaults, {"a"}},
        {{"--coordinate-format=DM", "a"}, Action::usageError, defaults, {}},
        {{"--coordinate-format", "dm", "a"}, Action::usageError, defaults, {}},
        {{"--sidecar-name=", "a"}, Action::usageError, defaults, {}},
        {{"--writ", "a"}, Action::usageError, defaults, {}},
        {{"--write"}, Action::usageError, defaults, {}}, {{"--"}, Action::usageError, defaults, {}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments.empty() ? "" : c.arguments.front());
        const ParsedCommandLine parsed = parseCommandLine(c.arguments);
        EXPECT_EQ(parsed.action, c.action);
        if (c.action == Action::run) {
            EXPECT_EQ(parsed.options.processing, c.options);
            EXPECT_EQ(parsed.options.paths, c.paths);
        }
    }
}

TEST(JsonLines, StayValidUtf8AndGiveAForeignPathExactly) {
    EXPECT_EQ(jsonString(std::string("a\"b\\c\n\r\t\x01\x7f\0", 11)), "\"a\\\"b\\\\c\\n\\r\\t\\u0001\\u007f\\u0000\"");
    EXPECT_EQ(jsonString("\u2022 caf\xE9"), "\"\u2022 caf\xEF\xBF\xBD\"");
    // Every C0 control is escaped, the last (U+001F) as much as the first.
    const std::map<int, std::string> named = {{'\b', "\\b"}, {'\t', "\\t"}, {'\n', "\\n"}, {'\f', "\\f"}, {'\r', "\\r"}};
    for (int c = 0; c < 0x20; ++c) {
        char escaped[16];
        std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
        EXPECT_EQ(jsonString(std::string(1, static_cast<char>(c))), "\"" + (named.contains(c) ? named.at(c) : escaped) + "\"");
    }
    const auto detail = ProcessingResultDetail::make("/p/\xE9.heic", ProcessingResult::alreadyCorrect());
    EXPECT_EQ(jsonLine(detail), "{\"path\":\"/p/\xEF\xBF\xBD.heic\",\"pathBase64\":\"L3Av6S5oZWlj\",\"case\":"
                                "\"alreadyCorrect\",\"payload\":{},\"report\":\"Already correct\"}");
}

// Rows that go into a pipe mostly reach the progress line's terminal (tee, less): it would cut them apart.
TEST(Progress, IsDrawnOnATerminalUnlessTheRowsGoIntoAPipe) {
    const int terminal = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (terminal < 0 || ::grantpt(terminal) != 0 || ::unlockpt(terminal) != 0)
        GTEST_SKIP() << "no pseudo-terminal here";
    const int follower = ::open(::ptsname(terminal), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(follower, 0);
    int pipeEnds[2];
    ASSERT_EQ(::pipe2(pipeEnds, O_CLOEXEC), 0);
    std::FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    EXPECT_TRUE(showsProgress(follower, follower));
    EXPECT_TRUE(showsProgress(::fileno(file), follower));
    EXPECT_FALSE(showsProgress(pipeEnds[1], follower));
    EXPECT_FALSE(showsProgress(follower, ::fileno(file)));
    std::fclose(file);
    for (const int fd : {pipeEnds[0], pipeEnds[1], follower, terminal})
        ::close(fd);
}

}  // namespace
}  // namespace meridane::cli
