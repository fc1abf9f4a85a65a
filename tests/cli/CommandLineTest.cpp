// SPDX-License-Identifier: GPL-3.0-or-later
// The command line parsed, and results encoded as JSON, in-process.
#include "cli/CommandLine.h"
#include "cli/JsonLines.h"

#include <gtest/gtest.h>

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
    const auto detail = ProcessingResultDetail::make("/p/\xE9.heic", ProcessingResult::alreadyCorrect());
    EXPECT_EQ(jsonLine(detail), "{\"path\":\"/p/\xEF\xBF\xBD.heic\",\"pathBase64\":\"L3Av6S5oZWlj\",\"case\":"
                                "\"alreadyCorrect\",\"payload\":{},\"report\":\"Already correct\"}");
}

}  // namespace
}  // namespace meridane::cli
