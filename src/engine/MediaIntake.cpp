// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/MediaIntake.h"

#include "base/Diagnostics.h"
#include "base/UnicodeText.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <string_view>

namespace meridane {
namespace {

bool isAscii(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

std::string lowerExtension(std::string_view extension) {
    if (!isAscii(extension))
        return text::lowerCased(extension);
    std::string lower(extension);
    for (char& c : lower)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return lower;
}

std::string_view extensionOf(std::string_view name) {
    const auto dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0)
        return {};
    return name.substr(dot + 1);
}

bool isSupportedName(std::string_view name) {
    return supportedMediaExtensions().count(lowerExtension(extensionOf(name))) != 0;
}

void logNotSupported(std::string_view name) {
    std::string line(name);
    line.append(" is not a supported media file");
    diag::debug(line);
}

struct DirectoryEntry {
    std::string name;
    bool isDirectory = false;
    bool isRegularFile = false;
};

struct Frame {
    std::filesystem::path folder;
    std::vector<DirectoryEntry> entries;
    size_t next = 0;
    dev_t device = 0;
    ino_t inode = 0;
};

// Reads one folder's visible entries, sorted by name. Links and anything
// whose type cannot be told are left out, which also keeps symbolic-link
// loops from being followed.
bool readFolder(const std::filesystem::path& folder, Frame& frame) {
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return false;
    struct stat own {};
    if (::fstat(::dirfd(dir), &own) == 0) {
        frame.device = own.st_dev;
        frame.inode = own.st_ino;
    }
    frame.folder = folder;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name = entry->d_name;
        if (name.empty() || name.front() == '.')
            continue;  // hidden entries, "." and ".." included
        DirectoryEntry item{std::string(name)};
        unsigned char type = entry->d_type;
        if (type == DT_UNKNOWN) {
            struct stat status {};
            if (::fstatat(::dirfd(dir), entry->d_name, &status, AT_SYMLINK_NOFOLLOW) != 0)
                continue;  // vanished or unreadable: passed over silently
            if (S_ISDIR(status.st_mode))
                type = DT_DIR;
            else if (S_ISREG(status.st_mode))
                type = DT_REG;
            else
                type = DT_LNK;  // any other kind: skipped like a link
        }
        item.isDirectory = type == DT_DIR;
        item.isRegularFile = type == DT_REG;
        if (item.isDirectory && isPackageDirectoryName(item.name))
            continue;
        frame.entries.push_back(std::move(item));
    }
    ::closedir(dir);
    std::sort(frame.entries.begin(), frame.entries.end(),
              [](const DirectoryEntry& a, const DirectoryEntry& b) { return a.name < b.name; });
    return true;
}

}  // namespace

const std::set<std::string>& supportedMediaExtensions() {
    static const std::set<std::string> extensions{"heic", "heif", "dng"};
    return extensions;
}

std::string pathExtension(const std::filesystem::path& url) {
    return std::string(extensionOf(url.filename().native()));
}

bool isSupportedMediaFile(const std::filesystem::path& url) {
    const std::string name = url.filename().native();
    if (isSupportedName(name))
        return true;
    logNotSupported(name);
    return false;
}

bool isPackageDirectoryName(const std::string& name) {
    // Bundles a file manager presents as one item: applications and their
    // parts, plug-ins, photo and media libraries, document packages.
    static constexpr std::array<std::string_view, 18> packageExtensions = {
        "app",          "appex",        "bundle",    "framework",        "plugin",   "kext",
        "xpc",          "photoslibrary", "photolibrary", "migratedphotolibrary", "aplibrary", "imovielibrary",
        "fcpbundle",    "rtfd",         "pkg",       "mpkg",             "xcodeproj", "xcworkspace"};
    const std::string extension = lowerExtension(extensionOf(name));
    if (extension.empty())
        return false;
    return std::find(packageExtensions.begin(), packageExtensions.end(), extension) != packageExtensions.end();
}

std::vector<std::filesystem::path> collectMediaFiles(const std::filesystem::path& folder) {
    std::vector<std::filesystem::path> found;
    std::vector<Frame> stack(1);
    if (!readFolder(folder, stack.back()))
        return found;

    while (!stack.empty()) {
        Frame& frame = stack.back();
        if (frame.next == frame.entries.size()) {
            stack.pop_back();
            continue;
        }
        const DirectoryEntry& entry = frame.entries[frame.next++];
        std::filesystem::path url = frame.folder / entry.name;
        if (entry.isRegularFile) {
            if (isSupportedName(entry.name))
                found.push_back(std::move(url));
            else
                logNotSupported(entry.name);
            continue;
        }
        if (!entry.isDirectory)
            continue;
        Frame child;
        if (!readFolder(url, child))
            continue;  // unreadable subfolder
        // A folder mounted inside itself would otherwise be walked forever.
        const bool isAncestor = std::any_of(stack.begin(), stack.end(), [&](const Frame& f) {
            return f.device == child.device && f.inode == child.inode;
        });
        if (!isAncestor)
            stack.push_back(std::move(child));
    }

    std::string line = "Enumerated ";
    std::error_code ec;
    const std::filesystem::path fullPath = std::filesystem::absolute(folder, ec);
    line.append(std::to_string(found.size())).append(" media files under ").append((ec ? folder : fullPath).native());
    diag::debug(line);
    return found;
}

}  // namespace meridane
