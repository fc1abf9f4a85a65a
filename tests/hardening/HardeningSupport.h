// SPDX-License-Identifier: GPL-3.0-or-later
// Tools for the tests that attack the program from outside: real images, the
// command-line program as a child process, exact pictures of a tree, and
// mounts private to this process.
#pragma once

#include "TestSupport.h"

#include <map>

namespace meridane::hardening {
using testing::RunOptions;
using testing::RunResult;

/// The committed photos of Apple devices, and the texts a sidecar of each
/// holds once updated.
struct Photo {
    const char* file;  ///< in tests/data/imagemeta
    const char *latitude, *longitude, *latitudeRef, *longitudeRef;
    const char* extension;
};
inline constexpr Photo kPhotos[] = {
    {"iphone-proraw-paris.dng", "48.85837000N", "2.29448100E", "N", "E", ".DNG"},
    {"iphone-rio.heic", "22.95191944S", "43.21048611W", "S", "W", ".HEIC"},
    {"ipad-sydney.heic", "33.85678444S", "151.21529667E", "S", "E", ".HEIC"},
};
/// Copies photo `photo` to `stem` + its extension, and writes `sidecar` to
/// `stem`.xmp; by default the right place without the hemisphere letters.
void writePair(const std::filesystem::path& stem, const Photo& photo = kPhotos[0], std::string sidecar = {});

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
/// The program built beside the tests, or $MERIDANE_CLI (another build, to compare).
std::filesystem::path cliPath();

/// As root, the test main gives this process its own mount table, so tests
/// may mount small, full or read-only file systems nobody else sees.
void enterPrivateMountNamespace();
/// Mounts a tmpfs with these options ("size=2m") on `where`, or, with
/// `readOnlyBind`, `where` read-only over itself. An empty string on success,
/// else why it could not. Undone when the TempDir holding it goes.
std::string mount(const std::filesystem::path& where, const std::string& tmpfsOptions, bool readOnlyBind = false);

/// Mounts an ext2 file system (200 MB, sparse), whose time stamps count whole seconds,
/// from an image file beside `where`. An empty string on success, else why not.
std::string mountCoarseClockVolume(const std::filesystem::path& where);

/// Sets or clears the immutable flag (chattr +i); false where the file system has none.
bool setImmutable(const std::filesystem::path& path, bool on);

/// Run as "nobody" when the tests run as root, for permission faults.
RunOptions asUnprivilegedUser();

}  // namespace meridane::hardening
