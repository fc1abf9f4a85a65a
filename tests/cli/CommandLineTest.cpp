#include "cli/CommandLine.h"
#include "cli/JsonLines.h"

#include <gtest/gtest.h>

namespace meridane::cli {
namespace {

using Action = ParsedCommandLine::Action;

struct ParseCase {
    const char* name;
    std::vector<std::string> arguments;
    Action action;
    ProcessingOptionValues options;
    std::vector<std::string> paths;
};

void PrintTo(const ParseCase& c, std::ostream* os) { *os << c.name; }

class ParseCommandLine : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseCommandLine, GivesActionOptionsAndPaths) {
    const ParseCase& c = GetParam();
    const ParsedCommandLine parsed = parseCommandLine(c.arguments);
    EXPECT_EQ(parsed.action, c.action);
    if (c.action != Action::run)
        return;
    EXPECT_EQ(parsed.options.processing, c.options);
    std::vector<std::string> paths;
    for (const auto& p : parsed.options.paths)
        paths.push_back(p.string());
    EXPECT_EQ(paths, c.paths);
}

const ProcessingOptionValues kDefaults{true, false, true, false};

INSTANTIATE_TEST_SUITE_P(
    Cases, ParseCommandLine,
    ::testing::Values(
        ParseCase{"DefaultsAreTheWindows", {"photos"}, Action::run, kDefaults, {"photos"}},
        ParseCase{"EveryOption",
                  {"--write", "--always-overwrite", "--any-camera", "--silently-ignore-skipped", "a", "b"},
                  Action::run,
                  {false, true, false, true},
                  {"a", "b"}},
        ParseCase{"OptionsAfterPaths", {"a", "--write"}, Action::run, {false, false, true, false}, {"a"}},
        ParseCase{"DoubleDashEndsOptions", {"--", "--write", "-x"}, Action::run, kDefaults, {"--write", "-x"}},
        ParseCase{"LoneDashIsAPath", {"-"}, Action::run, kDefaults, {"-"}},
        ParseCase{"Help", {"a", "--help"}, Action::help, kDefaults, {}},
        ParseCase{"ShortHelp", {"-h"}, Action::help, kDefaults, {}},
        ParseCase{"Version", {"--version"}, Action::version, kDefaults, {}},
        ParseCase{"Unknown", {"--writ", "a"}, Action::usageError, kDefaults, {}},
        ParseCase{"NoPath", {"--write"}, Action::usageError, kDefaults, {}},
        ParseCase{"OnlyDoubleDash", {"--"}, Action::usageError, kDefaults, {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ParseCommandLine, DebugAndJsonAreFrontEndSwitches) {
    const ParsedCommandLine parsed = parseCommandLine({"--debug", "--json", "x"});
    EXPECT_TRUE(parsed.options.debug);
    EXPECT_TRUE(parsed.options.json);
    EXPECT_EQ(parsed.options.processing, kDefaults);
}

struct JsonCase {
    const char* name;
    std::string text;
    std::string json;
};

void PrintTo(const JsonCase& c, std::ostream* os) { *os << c.name; }

class JsonString : public ::testing::TestWithParam<JsonCase> {};

TEST_P(JsonString, EscapesAndStaysValidUtf8) { EXPECT_EQ(jsonString(GetParam().text), GetParam().json); }

INSTANTIATE_TEST_SUITE_P(
    Cases, JsonString,
    ::testing::Values(JsonCase{"Plain", "IMG_0001.HEIC", "\"IMG_0001.HEIC\""},
                      JsonCase{"QuoteAndBackslash", "a\"b\\c", "\"a\\\"b\\\\c\""},
                      JsonCase{"Newlines", "a\nb\r\tc", "\"a\\nb\\r\\tc\""},
                      JsonCase{"ControlBytes", std::string("\x01\x1f\x7f", 3), "\"\\u0001\\u001f\\u007f\""},
                      JsonCase{"Nul", std::string("a\0b", 3), "\"a\\u0000b\""},
                      JsonCase{"Utf8Kept", "\u2022 \u2192 caf\u00e9", "\"\u2022 \u2192 caf\u00e9\""},
                      JsonCase{"InvalidByteReplaced", "caf\xE9", "\"caf\xEF\xBF\xBD\""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(JsonLine, HoldsPathCasePayloadAndReport) {
    const auto detail = ProcessingResultDetail::make(
        "/p/a.heic", ProcessingResult::skippedDifferentGPS({GPSDifference{"Latitude", "1.0", "2.0"}}));
    EXPECT_EQ(jsonLine(detail),
              "{\"path\":\"/p/a.heic\",\"case\":\"skippedDifferentGPS\",\"payload\":{\"differences\":[{\"field\":"
              "\"Latitude\",\"currentValue\":\"1.0\",\"newValue\":\"2.0\"}]},\"report\":\"Skipped (GPS "
              "differs):\\n\u2022 Latitude: 1.0 \u2192 2.0\"}");
}

TEST(JsonLine, PathThatIsNotUtf8IsAlsoGivenExactly) {
    const auto detail = ProcessingResultDetail::make("/p/\xE9.heic", ProcessingResult::alreadyCorrect());
    EXPECT_EQ(jsonLine(detail),
              "{\"path\":\"/p/\xEF\xBF\xBD.heic\",\"pathBase64\":\"L3Av6S5oZWlj\",\"case\":\"alreadyCorrect\","
              "\"payload\":{},\"report\":\"Already correct\"}");
}

}  // namespace
}  // namespace meridane::cli
