// SPDX-License-Identifier: GPL-3.0-or-later
#include "access/SidecarAccess.h"

#include "base/Diagnostics.h"
#include "base/Error.h"
#include "base/Utf8Text.h"

#include <QByteArray>
#include <QSettings>
#include <QString>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <system_error>

namespace meridane {
namespace {

constexpr char kBookmarkPrefix[] = "xmpBookmark::";
constexpr std::string_view kCannotWriteToFolder = "Cannot write to folder ";

// The settings, and whether they hold any grant at all: most runs have none,
// and then no file pays for working out its folder's key.
struct BookmarkStore {
    std::mutex mutex;
    std::unique_ptr<QSettings> settings;
    std::optional<bool> holdsGrants;

    QSettings& current() {
        if (!settings)
            settings = std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                                   QStringLiteral("Meridane"), QStringLiteral("Meridane"));
        return *settings;
    }

    bool anyGrant() {
        if (!holdsGrants) {
            holdsGrants = false;
            for (const QString& key : current().allKeys())
                if (key.startsWith(QLatin1String(kBookmarkPrefix)))
                    holdsGrants = true;
        }
        return *holdsGrants;
    }
};

BookmarkStore& store() {
    static BookmarkStore instance;
    return instance;
}

// Only one folder question at a time, whichever front end asks it: a second
// file waiting for the same folder then finds the grant the first one made.
std::mutex& promptMutex() {
    static std::mutex mutex;
    return mutex;
}

std::filesystem::path standardized(const std::filesystem::path& folder) {
    std::error_code ec;
    std::filesystem::path absolute = std::filesystem::absolute(folder, ec);
    if (ec)
        absolute = folder;
    std::filesystem::path normal = absolute.lexically_normal();
    std::string text = normal.native();
    while (text.size() > 1 && text.back() == '/')
        text.pop_back();
    return text;
}

std::filesystem::path folderOf(const std::filesystem::path& sidecarPath) {
    std::filesystem::path folder = sidecarPath.parent_path();
    return folder.empty() ? std::filesystem::path(".") : folder;
}

QString settingsKey(const std::filesystem::path& folder) { return QString::fromUtf8(bookmarkKey(folder)); }

bool fileExists(const std::filesystem::path& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0;
}

ScopedAccess accessWithoutScope(std::filesystem::path scopedPath) {
    // Nothing to end: without a sandbox no access was started.
    return ScopedAccess{std::move(scopedPath), [] {}};
}

// The path of the sidecar inside a granted folder, when that folder holds
// the sidecar's folder (as itself or one above it); none otherwise. A file of
// the same name in an unrelated folder is another photo's sidecar.
std::optional<std::filesystem::path> insideGrant(const std::filesystem::path& granted,
                                                 const std::filesystem::path& folder,
                                                 const std::filesystem::path& name) {
    std::error_code ec;
    const std::filesystem::path sidecarFolder = std::filesystem::canonical(folder, ec);
    const std::filesystem::path inside = ec ? std::filesystem::path() : sidecarFolder.lexically_relative(granted);
    if (inside.empty() || *inside.begin() == "..")
        return std::nullopt;
    return (granted / inside).lexically_normal() / name;
}

// A grant is remembered by the folder's path as written, and that path may
// lead elsewhere by now (a link re-pointed at another card): it reaches the
// sidecar only when the folder it names still holds it.
std::optional<ScopedAccess> rememberedGrant(const std::filesystem::path& folder, const std::filesystem::path& name) {
    const std::optional<std::string> data = bookmarks::bookmarkData(folder);
    if (!data)
        return std::nullopt;
    const Result<std::filesystem::path> resolved = bookmarks::resolveBookmark(*data);
    if (!resolved)
        return std::nullopt;
    std::optional<std::filesystem::path> candidate = insideGrant(resolved.value(), folder, name);
    if (!candidate || !fileExists(*candidate))
        return std::nullopt;
    return accessWithoutScope(std::move(*candidate));
}

struct AccessCheckState {
    std::mutex mutex;
    PathAccessCheck check;
};

AccessCheckState& accessCheckState() {
    static AccessCheckState instance;
    return instance;
}

PathAccessCheck exchangeAccessCheck(PathAccessCheck next) {
    auto& s = accessCheckState();
    std::lock_guard lock(s.mutex);
    std::swap(s.check, next);
    return next;
}

// errno tells why when the answer is no.
bool permitted(const std::filesystem::path& path, int mode) {
    auto& s = accessCheckState();
    {
        std::lock_guard lock(s.mutex);
        if (s.check) {
            errno = 0;
            return s.check(path, mode);
        }
    }
    return ::access(path.c_str(), mode) == 0;
}

// Why the sidecar cannot be used directly for `use`; none when it can.
std::optional<Error> directAccessProblem(const std::filesystem::path& sidecarPath, const std::filesystem::path& folder,
                                         SidecarUse use) {
    const Error denied{ErrorDomain::fileSystem, EACCES, kSidecarPermissionDenied};
    struct stat status {};
    if (::stat(sidecarPath.c_str(), &status) != 0) {
        // A loop of links is no question of access either: no folder grant
        // changes it, so the sidecar's read says what stands in the way.
        if (errno == ELOOP)
            return std::nullopt;
        // A sidecar that is not there is not a question of access: asking for
        // the folder cannot make it appear, and the caller reports it missing.
        const bool missing = errno == ENOENT && permitted(folder, R_OK);
        return missing ? std::nullopt : std::optional<Error>(denied);
    }
    if (!permitted(sidecarPath, R_OK))
        return denied;
    if (use == SidecarUse::write && !permitted(folder, W_OK)) {
        const int error = errno != 0 ? errno : EACCES;
        return Error{ErrorDomain::fileSystem, error, cannotWriteToFolderText(standardized(folder), error)};
    }
    return std::nullopt;
}

// The system's words, but for what this program calls a folder.
std::string reasonInWords(int error) {
    switch (error) {
    case ENOENT:
        return "no such folder";
    case ENOTDIR:
        return "not a folder";
    default:
        return systemErrorInWords(error);
    }
}

}  // namespace

std::string cannotWriteToFolderText(const std::filesystem::path& folder, int error) {
    return std::string(kCannotWriteToFolder) + folder.native() + ": " + reasonInWords(error);
}

bool isCannotWriteToFolderText(std::string_view text) { return text.starts_with(kCannotWriteToFolder); }

bool folderGrantsCanGiveAccess() {
    // Decided once: a process does not move in or out of its sandbox.
    static const bool sandboxed = fileExists("/.flatpak-info");
    return sandboxed;
}

std::string bookmarkKey(const std::filesystem::path& folder) {
    return kBookmarkPrefix + utf8::withPercentEscapes(standardized(folder).native());
}

std::optional<std::string> bookmarks::bookmarkData(const std::filesystem::path& folder) {
    auto& s = store();
    {
        std::lock_guard lock(s.mutex);
        if (!s.anyGrant())
            return std::nullopt;
    }
    const QString key = settingsKey(folder);
    std::lock_guard lock(s.mutex);
    const QVariant value = s.current().value(key);
    if (!value.isValid())
        return std::nullopt;
    const QByteArray bytes = value.toByteArray();
    return std::string(bytes.constData(), static_cast<size_t>(bytes.size()));
}

void bookmarks::storeBookmarkData(const std::filesystem::path& folder, const std::string& data) {
    const QString key = settingsKey(folder);
    auto& s = store();
    std::lock_guard lock(s.mutex);
    s.current().setValue(key, QByteArray(data.data(), static_cast<qsizetype>(data.size())));
    s.holdsGrants = true;
    s.current().sync();  // a grant lasts from the moment it is made
}

Result<std::string> bookmarks::createBookmark(const std::filesystem::path& folder) {
    std::error_code ec;
    const std::filesystem::path canonical = std::filesystem::canonical(folder, ec);
    if (ec)
        return Error{ErrorDomain::bookmark, ec.value(), ec.message() + ": " + folder.native()};
    if (!std::filesystem::is_directory(canonical, ec))
        return Error{ErrorDomain::bookmark, ENOTDIR, std::strerror(ENOTDIR) + std::string(": ") + folder.native()};
    return canonical.native();
}

Result<std::filesystem::path> bookmarks::resolveBookmark(const std::string& data) {
    struct stat status {};
    if (data.empty() || data.front() != '/' || ::stat(data.c_str(), &status) != 0 || !S_ISDIR(status.st_mode))
        return Error{ErrorDomain::bookmark, ENOENT, "Cannot resolve folder bookmark: " + data};
    return std::filesystem::path(data);
}

void bookmarks::useSettings(std::unique_ptr<QSettings> settings) {
    auto& s = store();
    std::lock_guard lock(s.mutex);
    s.settings = std::move(settings);
    s.holdsGrants.reset();
}

ScopedBookmarkSettings::ScopedBookmarkSettings(const std::filesystem::path& iniFile) {
    bookmarks::useSettings(
        std::make_unique<QSettings>(QString::fromLocal8Bit(iniFile.c_str()), QSettings::IniFormat));
}

ScopedBookmarkSettings::~ScopedBookmarkSettings() { bookmarks::useSettings(nullptr); }

ScopedPathAccessCheck::ScopedPathAccessCheck(PathAccessCheck check) : previous_(exchangeAccessCheck(std::move(check))) {}

ScopedPathAccessCheck::~ScopedPathAccessCheck() { exchangeAccessCheck(std::move(previous_)); }

// Only one folder question at a time; see promptMutex. The caller must not be
// the thread that answers questions for a worker that is waiting for one.
Result<ScopedAccess> requestSidecarAccess(const std::filesystem::path& sidecarPath, SidecarUse use,
                                         const FolderPrompt& prompt) {
    const std::filesystem::path folder = folderOf(sidecarPath);
    const std::filesystem::path name = sidecarPath.filename();

    std::optional<Error> problem = directAccessProblem(sidecarPath, folder, use);
    if (!problem)
        return accessWithoutScope(sidecarPath);
    if (auto granted = rememberedGrant(folder, name))
        return std::move(*granted);
    if (!prompt)
        return std::move(*problem);

    std::lock_guard lock(promptMutex());
    // Another file may have been granted this folder while this one waited.
    if (auto granted = rememberedGrant(folder, name))
        return std::move(*granted);
    const std::optional<std::filesystem::path> chosen = prompt(folder);
    if (!chosen || chosen->empty())
        return std::move(*problem);

    const Result<std::string> bookmark = bookmarks::createBookmark(*chosen);
    if (!bookmark) {
        diag::debug("Failed creating bookmark for folder: ", describe(bookmark.error()));
        return std::move(*problem);
    }
    bookmarks::storeBookmarkData(*chosen, bookmark.value());
    const Result<std::filesystem::path> resolved = bookmarks::resolveBookmark(bookmark.value());
    if (!resolved) {
        diag::debug("Failed creating bookmark for folder: ", describe(resolved.error()));
        return std::move(*problem);
    }
    std::optional<std::filesystem::path> inside = insideGrant(resolved.value(), folder, name);
    if (!inside) {
        diag::debug("Chosen folder does not contain the XMP sidecar: ", resolved.value().native());
        return std::move(*problem);
    }
    return accessWithoutScope(std::move(*inside));
}

}  // namespace meridane
