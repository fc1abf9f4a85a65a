// meridane-cli as a user runs it: a separate process over real files in a
// temporary folder, its standard output, standard error and exit status.
#include "../engine/TestImages.h"
#include "TestSupport.h"

#include <QByteArray>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QStringList>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <map>

namespace meridane {
namespace {

namespace fs = std::filesystem;
using testing::readFile;
using testing::TempDir;
using testing::TestImage;
using testing::testSidecar;
using testing::writeFile;
using testing::writeTestImage;

struct CliResult {
    int status = -1;
    std::string out;
    std::string err;
};

const std::string kCorrect = testSidecar("37.77490000N", "122.41940000W", "N", "W");
const std::string kNeedsLetters = testSidecar("37.7749", "122.4194", "N", "W");
const std::string kDifferent = testSidecar("48.85837000N", "2.29450000E", "N", "E");

class Cli : public ::testing::Test {
protected:
    // Arguments are bytes: paths need not be UTF-8.
    CliResult run(const std::vector<std::string>& arguments) {
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_CONFIG_HOME", QString::fromStdString((dir_ / "config").string()));
        env.insert("HOME", QString::fromStdString(dir_.path().string()));
        process.setProcessEnvironment(env);
        QStringList args;
        for (const std::string& a : arguments)
            args << QFile::decodeName(QByteArray::fromStdString(a));
        process.start(QStringLiteral(MERIDANE_CLI_PATH), args);
        process.waitForFinished(60000);
        CliResult result;
        result.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        result.out = process.readAllStandardOutput().toStdString();
        result.err = process.readAllStandardError().toStdString();
        return result;
    }

    fs::path photo(const std::string& stem, const std::optional<std::string>& sidecar, const TestImage& image = {}) {
        fs::create_directories((dir_ / "photos" / stem).parent_path());
        writeTestImage(dir_ / "photos" / (stem + ".HEIC"), image);
        if (sidecar)
            writeFile(dir_ / "photos" / (stem + ".xmp"), *sidecar);
        return dir_ / "photos" / (stem + ".HEIC");
    }

    fs::path photos() const { return dir_ / "photos"; }

    TempDir dir_;
};

// The report's entries after its header, each with its continuation lines,
// sorted: within a group of two files the order follows which finished first.
std::vector<std::string> entries(const std::string& out) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start <= out.size()) {
        const size_t end = out.find('\n', start);
        lines.push_back(out.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    std::vector<std::string> result;
    for (size_t i = 1; i < lines.size(); ++i) {
        if (lines[i].empty())
            continue;
        if (lines[i].rfind("\u2022 ", 0) == 0 && !result.empty())
            result.back() += "\n" + lines[i];
        else
            result.push_back(lines[i]);
    }
    std::sort(result.begin(), result.end());
    return result;
}

std::string firstLine(const std::string& out) { return out.substr(0, out.find('\n')); }

TEST_F(Cli, HelpAndVersionSucceed) {
    const CliResult help = run({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("Usage: meridane-cli", 0), 0u) << help.out;
    const CliResult version = run({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, std::string("meridane-cli ") + MERIDANE_VERSION + "\n");
}

struct UsageCase {
    const char* name;
    std::vector<std::string> arguments;
    const char* message;
};

void PrintTo(const UsageCase& c, std::ostream* os) { *os << c.name; }

class CliUsage : public Cli, public ::testing::WithParamInterface<UsageCase> {};

TEST_P(CliUsage, IsStatusTwoWithAMessageAndNoWork) {
    photo("IMG_0001", kNeedsLetters);
    std::vector<std::string> arguments = GetParam().arguments;
    for (std::string& a : arguments)
        if (a == "PHOTOS")
            a = photos().string();
    const CliResult result = run(arguments);
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(result.out, "");
    EXPECT_NE(result.err.find(GetParam().message), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("--help"), std::string::npos);
    EXPECT_EQ(readFile(photos() / "IMG_0001.xmp"), kNeedsLetters);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CliUsage,
    ::testing::Values(UsageCase{"UnknownOption", {"--write", "--frobnicate", "PHOTOS"}, "unknown option '--frobnicate'"},
                      UsageCase{"ShortUnknownOption", {"-x", "PHOTOS"}, "unknown option '-x'"},
                      UsageCase{"NoPath", {"--write", "--debug"}, "no path given"},
                      UsageCase{"NothingAtAll", {}, "no path given"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Cli, ReportIsTheHeaderThenOneEntryPerResult) {
    photo("IMG_0001", kNeedsLetters);
    photo("IMG_0002", kCorrect);
    photo("IMG_0003", kDifferent);
    photo("IMG_0004", std::nullopt);
    photo("IMG_0005", kCorrect, {"Apple", "iPhone", std::nullopt, std::nullopt});
    photo("DSC_0006", kCorrect, {"Canon", "Canon EOS R5", std::nullopt, Coordinate{1, 2}});
    writeFile(photos() / "notes.txt", "x");

    const CliResult result = run({photos().string()});
    EXPECT_EQ(result.status, 1) << "IMG_0005 has no position";
    const QRegularExpression header(
        QString::fromUtf8("^Results \u2014 \\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d \\+0000 \u2014 Settings: "
                          "DryRun=true ForceOverwrite=false AppleOnly=true SilentSkip=false$"));
    EXPECT_TRUE(header.match(QString::fromStdString(firstLine(result.out))).hasMatch()) << firstLine(result.out);
    EXPECT_EQ(entries(result.out),
              (std::vector<std::string>{
                  "DSC_0006.HEIC: Skipped (non-Apple): Canon Canon EOS R5 - Non-Apple source",
                  "IMG_0001.HEIC: [Dry Run] Would Update:\n"
                  "\u2022 [DRY RUN] would update: exif:GPSLatitude: 37.7749 \u2192 37.77490000N\n"
                  "\u2022 [DRY RUN] would update: exif:GPSLongitude: 122.4194 \u2192 122.41940000W",
                  "IMG_0002.HEIC: Already correct",
                  "IMG_0003.HEIC: Skipped (GPS differs):\n"
                  "\u2022 Latitude: 48.85837000N \u2192 37.77490000N\n"
                  "\u2022 Longitude: 2.29450000E \u2192 122.41940000W",
                  "IMG_0004.HEIC: Skipped (missing): No XMP sidecar file",
                  "IMG_0005.HEIC: Failed: No GPS available",
              }));
    EXPECT_EQ(result.out.back(), '\n');
    EXPECT_EQ(readFile(photos() / "IMG_0001.xmp"), kNeedsLetters) << "a dry run writes nothing";
    EXPECT_EQ(result.err.find("[DEBUG]"), std::string::npos);
    EXPECT_EQ(result.out.find("[DEBUG]"), std::string::npos);
    EXPECT_EQ(result.err.find("Processed "), std::string::npos) << "no progress line off a terminal";
    EXPECT_NE(result.err.find("Summary: 6 files in "), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("1 updated, 1 skippedMissing, 1 skippedNonApple, 1 skippedDifferentGPS, 1 failed, "
                              "1 alreadyCorrect"),
              std::string::npos)
        << result.err;
}

TEST_F(Cli, StatusIsZeroWhenNothingFailed) {
    photo("IMG_0001", kCorrect);
    photo("IMG_0002", std::nullopt);
    EXPECT_EQ(run({photos().string()}).status, 0);
}

TEST_F(Cli, WriteUpdatesTheSidecarAndTheReportSaysUpdated) {
    photo("IMG_0001", kNeedsLetters);
    const CliResult result = run({"--write", photos().string()});
    EXPECT_EQ(result.status, 0);
    EXPECT_NE(firstLine(result.out).find("DryRun=false"), std::string::npos);
    EXPECT_EQ(entries(result.out), std::vector<std::string>{
                                       "IMG_0001.HEIC: Updated:\n"
                                       "\u2022 exif:GPSLatitude: 37.7749 \u2192 37.77490000N\n"
                                       "\u2022 exif:GPSLongitude: 122.4194 \u2192 122.41940000W"});
    EXPECT_NE(readFile(photos() / "IMG_0001.xmp").find("37.77490000N"), std::string::npos);
    EXPECT_EQ(entries(run({photos().string()}).out), std::vector<std::string>{"IMG_0001.HEIC: Already correct"});
}

TEST_F(Cli, AlwaysOverwriteAndAnyCameraChangeTheDecisions) {
    photo("IMG_0001", kDifferent);
    photo("DSC_0002", kNeedsLetters, {"Canon", "EOS", std::nullopt, Coordinate{37.7749, -122.4194}});
    const CliResult result = run({"--always-overwrite", "--any-camera", photos().string()});
    EXPECT_NE(firstLine(result.out).find("ForceOverwrite=true AppleOnly=false"), std::string::npos);
    const auto found = entries(result.out);
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0].rfind("DSC_0002.HEIC: [Dry Run] Would Update:", 0), 0u) << found[0];
    EXPECT_EQ(found[1].rfind("IMG_0001.HEIC: [Dry Run] Would Update:", 0), 0u) << found[1];
}

TEST_F(Cli, SilentSkipLeavesSkippedAndCorrectOutAndNoPositionIsNoFailure) {
    photo("IMG_0001", kCorrect);
    photo("IMG_0002", std::nullopt);
    photo("IMG_0003", kCorrect, {"Apple", "iPhone", std::nullopt, std::nullopt});
    photo("IMG_0004", kDifferent);
    const CliResult result = run({"--silently-ignore-skipped", photos().string()});
    EXPECT_EQ(result.status, 0);
    EXPECT_NE(firstLine(result.out).find("SilentSkip=true"), std::string::npos);
    const auto found = entries(result.out);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].rfind("IMG_0004.HEIC: Skipped (GPS differs):", 0), 0u);
    EXPECT_NE(result.err.find("3 left out of the report"), std::string::npos) << result.err;
}

TEST_F(Cli, DebugSendsTheDiagnosticLinesToStandardErrorOnly) {
    photo("IMG_0001", kCorrect);
    const CliResult result = run({"--debug", photos().string()});
    EXPECT_NE(result.err.find("[DEBUG] Processing IMG_0001.HEIC\n"), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("[DEBUG] Enumerated 1 media files under " + photos().string() + "\n"),
              std::string::npos);
    EXPECT_EQ(result.out.find("[DEBUG]"), std::string::npos);
}

TEST_F(Cli, JsonGivesOneValidObjectPerResult) {
    photo("IMG_0001", kNeedsLetters);
    photo("caf\xE9 new\nline", kCorrect);
    photo("DSC_0003", kCorrect, {"Canon", std::nullopt, std::nullopt, Coordinate{1, 2}});
    const CliResult result = run({"--json", photos().string()});
    EXPECT_EQ(result.status, 0);
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = result.out.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(result.out.substr(start, end - start));
    EXPECT_EQ(start, result.out.size()) << "every object ends with a newline";
    ASSERT_EQ(lines.size(), 3u) << result.out;

    std::map<std::string, QJsonObject> byCase;
    for (const std::string& line : lines) {
        QJsonParseError error{};
        const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(line), &error);
        ASSERT_EQ(error.error, QJsonParseError::NoError) << line;
        ASSERT_TRUE(doc.isObject());
        byCase[doc.object()["case"].toString().toStdString()] = doc.object();
    }
    const QJsonObject updated = byCase["updated"];
    EXPECT_EQ(updated["path"].toString().toStdString(), (photos() / "IMG_0001.HEIC").string());
    EXPECT_EQ(updated["payload"].toObject()["changes"].toArray().size(), 2);
    EXPECT_EQ(updated["report"].toString().toStdString().rfind("[Dry Run] Would Update:\n\u2022 ", 0), 0u);
    EXPECT_FALSE(updated.contains("pathBase64"));

    const QJsonObject correct = byCase["alreadyCorrect"];
    const std::string rawPath = (photos() / "caf\xE9 new\nline.HEIC").string();
    EXPECT_EQ(correct["path"].toString().toStdString(),
              (photos() / "caf\xEF\xBF\xBD new\nline.HEIC").string());
    EXPECT_EQ(QByteArray::fromBase64(correct["pathBase64"].toString().toLatin1()).toStdString(), rawPath);
    EXPECT_EQ(correct["report"].toString(), QStringLiteral("Already correct"));
    EXPECT_TRUE(correct["payload"].toObject().isEmpty());

    const QJsonObject nonApple = byCase["skippedNonApple"];
    EXPECT_EQ(nonApple["payload"].toObject()["device"].toObject()["make"].toString(), QStringLiteral("Canon"));
    EXPECT_TRUE(nonApple["payload"].toObject()["device"].toObject()["model"].isNull());
    EXPECT_EQ(nonApple["payload"].toObject()["reason"].toString(), QStringLiteral("Non-Apple source"));
}

TEST_F(Cli, NamesWithNewlinesAndForeignBytesAppearAsTheyAreInTheReport) {
    photo("caf\xE9 new\nline", kCorrect);
    const CliResult result = run({photos().string()});
    EXPECT_NE(result.out.find("\ncaf\xE9 new\nline.HEIC: Already correct"), std::string::npos) << result.out;
}

TEST_F(Cli, PathsThatDoNotExistGetAMessageAndTheRunGoesOn) {
    photo("IMG_0001", kCorrect);
    const CliResult result = run({(dir_ / "nowhere").string(), (dir_ / "gone.HEIC").string(), photos().string()});
    EXPECT_NE(result.err.find("meridane-cli: cannot access '" + (dir_ / "nowhere").string() + "'"), std::string::npos)
        << result.err;
    EXPECT_EQ(result.status, 1) << "a missing photo with a supported name fails";
    EXPECT_EQ(entries(result.out), (std::vector<std::string>{"IMG_0001.HEIC: Already correct",
                                                             "gone.HEIC: Failed: No GPS available"}));
}

TEST_F(Cli, SymbolicLinkLoopsAndOnlyUnsupportedFilesEndCleanly) {
    photo("sub/IMG_0001", kCorrect);
    fs::create_directory_symlink(photos(), photos() / "sub/loop");
    writeFile(dir_ / "notes.txt", "x");
    const CliResult result = run({photos().string(), (dir_ / "notes.txt").string()});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(entries(result.out), std::vector<std::string>{"IMG_0001.HEIC: Already correct"});
}

// Runs the CLI with standard error on a terminal; gives what the terminal showed.
std::string runOnTerminal(const std::vector<std::string>& arguments, const fs::path& home) {
    std::vector<std::string> argv = {MERIDANE_CLI_PATH};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    int master = -1;
    const pid_t pid = ::forkpty(&master, nullptr, nullptr, nullptr);
    if (pid == 0) {
        const int devNull = ::open("/dev/null", O_WRONLY);
        ::dup2(devNull, STDOUT_FILENO);
        ::setenv("XDG_CONFIG_HOME", (home / "config").c_str(), 1);
        std::vector<char*> raw;
        for (std::string& a : argv)
            raw.push_back(a.data());
        raw.push_back(nullptr);
        ::execv(raw[0], raw.data());
        ::_exit(127);
    }
    std::string shown;
    char buffer[4096];
    for (ssize_t n; (n = ::read(master, buffer, sizeof buffer)) > 0;)
        shown.append(buffer, static_cast<size_t>(n));
    int status = 0;
    ::waitpid(pid, &status, 0);
    ::close(master);
    return shown;
}

TEST_F(Cli, OnATerminalShowsOneProgressLineAndClearsIt) {
    photo("IMG_0001", kCorrect);
    photo("IMG_0002", kCorrect);
    photo("IMG_0003", kCorrect);
    const std::string shown = runOnTerminal({photos().string()}, dir_.path());
    EXPECT_NE(shown.find("\r\x1b[2KProcessed 1/3 \u2022 IMG_000"), std::string::npos) << shown;
    EXPECT_NE(shown.find("\r\x1b[2KProcessed 3/3 \u2022 IMG_000"), std::string::npos) << shown;
    EXPECT_NE(shown.find("\r\x1b[2KSummary: 3 files"), std::string::npos) << "cleared before the summary";
    EXPECT_EQ(shown.substr(0, shown.find("Summary:")).find('\n'), std::string::npos) << "one line, redrawn in place";
}

TEST_F(Cli, NoMediaFilesGivesTheHeaderAlone) {
    writeFile(dir_ / "notes.txt", "x");
    const CliResult result = run({(dir_ / "notes.txt").string()});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(std::count(result.out.begin(), result.out.end(), '\n'), 1);
    EXPECT_NE(result.err.find("no media files found"), std::string::npos);
}

}  // namespace
}  // namespace meridane
