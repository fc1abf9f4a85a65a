// Tools for the tests that attack the program from outside: real images, the
// command-line program as a child process, exact pictures of a tree, and
// mounts private to this process.
#pragma once

#include "TestSupport.h"

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace meridane::hardening {
using testing::RunOptions;
using testing::RunResult;

/// Writes a one-pixel DNG whose EXIF names an Apple camera and this position.
void writeGpsImage(const std::filesystem::path& path, double latitude, double longitude);

/// Every entry below a folder (links not followed), by relative path: its
/// type ('f', 'd', 'l', '?'), permission bits, and content or link target.
using Tree = std::map<std::string, std::string>;
Tree snapshot(const std::filesystem::path& root);
/// "added: x", "removed: x", "changed: x" for each difference.
std::vector<std::string> differences(const Tree& before, const Tree& after);

/// One result of `meridane-cli --json`: the file's path, its case, and its
/// failure text or skip reason.
struct CliRow {
    std::string file, resultCase, message;
};
/// Runs `meridane-cli --write --json` with `arguments` and `paths`.
std::vector<CliRow> runCli(const std::vector<std::string>& arguments, RunResult& run, const RunOptions& options = {});
std::filesystem::path cliPath();
std::optional<CliRow> rowFor(const std::vector<CliRow>& rows, const std::string& fileName);

/// As root, the test main gives this process its own mount table, so tests
/// may mount small, full or read-only file systems nobody else sees.
void enterPrivateMountNamespace();
/// Mounts a tmpfs with these options ("size=2m") on `where`, or, with
/// `readOnlyBind`, `where` read-only over itself. An empty string on success,
/// else why it could not. Undone when the TempDir holding it goes.
std::string mount(const std::filesystem::path& where, const std::string& tmpfsOptions, bool readOnlyBind = false);

/// Run as "nobody" when the tests run as root, for permission faults.
RunOptions asUnprivilegedUser();

}  // namespace meridane::hardening
