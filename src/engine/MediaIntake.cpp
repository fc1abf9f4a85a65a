// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/MediaIntake.h"

#include "base/Diagnostics.h"
#include "base/Error.h"
#include "base/UnicodeText.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <memory>
#include <set>
#include <string_view>
#include <unistd.h>
#include <utility>

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

struct DirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};
using DirHandle = std::unique_ptr<DIR, DirCloser>;

// One folder on the walk's path: its entries, read at once, and the handle
// its subfolders are opened through (closed when the walk is deep, and
// opened again from a subfolder's "..").
struct Frame {
    std::vector<DirectoryEntry> entries;
    size_t next = 0;
    dev_t device = 0;
    ino_t inode = 0;
    DirHandle dir;
    size_t pathLength = 0;  // of the walk's path text up to this folder
    bool lost = false;      // could not be opened again: its subfolders are out of reach
};

// Folders deeper than this many levels below the nearest open one give up
// their handles: 20,000 nested folders must not cost 20,000 descriptors.
constexpr size_t kHeldFolders = 32;

std::string reasonText(int errorNumber) {
    switch (errorNumber) {
    case ENOENT:
        return "it was removed during the search";
    case ENFILE:
        return "too many open files";
    default:
        return systemErrorInWords(errorNumber);
    }
}

// Opens a folder below `parent` (or at `path` when there is none) without
// following a link, and reads its visible entries, sorted by name. Links
// and anything that is neither a folder nor a regular file are left out,
// which also keeps symbolic-link loops from being followed. Returns the
// errno of the failure, or 0.
int readFolder(DIR* parent, const char* nameOrPath, Frame& frame) {
    const int flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK;
    const int fd = parent ? ::openat(::dirfd(parent), nameOrPath, flags) : ::open(nameOrPath, flags & ~O_NOFOLLOW);
    if (fd < 0)
        return errno;
    DirHandle dir(::fdopendir(fd));
    if (!dir) {
        const int error = errno;
        ::close(fd);
        return error;
    }
    struct stat own {};
    if (::fstat(fd, &own) != 0)
        return errno;
    frame.device = own.st_dev;
    frame.inode = own.st_ino;
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(dir.get());
        if (!entry) {
            if (errno != 0)
                return errno;
            break;
        }
        const std::string_view name = entry->d_name;
        if (name.empty() || name.front() == '.')
            continue;  // hidden entries, "." and ".." included
        DirectoryEntry item{std::string(name)};
        unsigned char type = entry->d_type;
        if (type == DT_UNKNOWN) {
            struct stat status {};
            if (::fstatat(fd, entry->d_name, &status, AT_SYMLINK_NOFOLLOW) != 0)
                continue;  // vanished meanwhile
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
    std::sort(frame.entries.begin(), frame.entries.end(),
              [](const DirectoryEntry& a, const DirectoryEntry& b) { return a.name < b.name; });
    frame.dir = std::move(dir);
    return 0;
}

// Opens `parent` again through `child`'s "..", when it still is the folder
// the walk came from. Returns whether it is open.
bool reopenFrom(const Frame& child, Frame& parent) {
    if (!child.dir)
        return false;
    const int fd = ::openat(::dirfd(child.dir.get()), "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return false;
    struct stat own {};
    DirHandle dir(::fdopendir(fd));
    if (!dir) {
        ::close(fd);
        return false;
    }
    if (::fstat(fd, &own) != 0 || own.st_dev != parent.device || own.st_ino != parent.inode)
        return false;
    parent.dir = std::move(dir);
    return true;
}

bool hasSubfolderLeft(const Frame& frame) {
    return std::any_of(frame.entries.begin() + static_cast<std::ptrdiff_t>(frame.next), frame.entries.end(),
                       [](const DirectoryEntry& entry) { return entry.isDirectory; });
}

}  // namespace

const std::set<std::string>& supportedMediaExtensions() {
    // "hif": the HEIF files of Canon and Sony cameras.
    static const std::set<std::string> extensions{"heic", "heif", "hif", "dng"};
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

std::vector<std::filesystem::path> collectMediaFiles(const std::filesystem::path& folder,
                                                     std::vector<UnreadableFolder>* unreadable) {
    std::vector<std::filesystem::path> found;
    std::vector<Frame> stack(1);
    if (readFolder(nullptr, folder.c_str(), stack.back()) != 0)
        return found;

    // The walk's path as text: the folder, then one name per level. Paths
    // are built only for what is reported, so a path longer than the system
    // can open is no obstacle to the walk itself.
    std::string path = folder.native();
    stack.back().pathLength = path.size();
    std::set<std::pair<dev_t, ino_t>> onPath{{stack.back().device, stack.back().inode}};
    // Open handles: the walked folder's, and those of the levels from
    // firstOpen to the deepest; the levels in between have given theirs up
    // and are opened again on the way back up.
    size_t firstOpen = 1;
    auto fail = [&](const std::string& failedPath, std::string reason) {
        if (unreadable)
            unreadable->push_back({std::filesystem::path(failedPath), std::move(reason)});
    };

    while (!stack.empty()) {
        Frame& frame = stack.back();
        path.resize(frame.pathLength);
        if (frame.next == frame.entries.size()) {
            Frame done = std::move(stack.back());
            stack.pop_back();
            onPath.erase({done.device, done.inode});
            firstOpen = std::min(firstOpen, stack.size());
            if (!stack.empty() && !stack.back().dir) {
                Frame& parent = stack.back();
                if (reopenFrom(done, parent)) {
                    firstOpen = stack.size() - 1;
                } else if (!parent.lost && hasSubfolderLeft(parent)) {
                    path.resize(parent.pathLength);
                    fail(path, "it was moved during the search");
                    parent.lost = true;  // its files are still found: they need no descriptor
                }
            }
            continue;
        }
        const DirectoryEntry& entry = frame.entries[frame.next++];
        if (path.empty() || path.back() != '/')
            path.push_back('/');
        path.append(entry.name);
        if (entry.isRegularFile) {
            if (isSupportedName(entry.name))
                found.emplace_back(path);
            else
                logNotSupported(entry.name);
            continue;
        }
        if (!entry.isDirectory || frame.lost || !frame.dir)
            continue;
        Frame child;
        if (const int error = readFolder(frame.dir.get(), entry.name.c_str(), child); error != 0) {
            fail(path, reasonText(error));
            continue;
        }
        // A folder mounted inside itself would otherwise be walked forever.
        if (!onPath.insert({child.device, child.inode}).second)
            continue;
        child.pathLength = path.size();
        stack.push_back(std::move(child));
        if (stack.size() - firstOpen > kHeldFolders)
            stack[firstOpen++].dir.reset();
    }

    std::string line = "Enumerated ";
    std::error_code ec;
    const std::filesystem::path fullPath = std::filesystem::absolute(folder, ec);
    line.append(std::to_string(found.size())).append(" media files under ").append((ec ? folder : fullPath).native());
    diag::debug(line);
    return found;
}

}  // namespace meridane
