// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/PathText.h"

#include "base/Utf8Text.h"

#include <QByteArray>
#include <QFile>

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <memory>

namespace meridane::ui {
namespace {

bool isThere(const std::filesystem::path& path) {
    struct stat status {};
    return ::lstat(path.c_str(), &status) == 0;
}

// The one entry of a folder shown as `shown`, or none.
std::optional<std::string> entryShownAs(const std::filesystem::path& folder, const QString& shown) {
    const std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.empty() ? "." : folder.c_str()), ::closedir);
    if (!dir)
        return std::nullopt;
    std::optional<std::string> found;
    while (const dirent* entry = ::readdir(dir.get())) {
        if (QFile::decodeName(entry->d_name) != shown)
            continue;
        if (found)
            return std::nullopt;  // two entries look alike: neither is certain
        found = entry->d_name;
    }
    return found;
}

}  // namespace

QString pathText(const std::filesystem::path& path) { return QFile::decodeName(path.c_str()); }

std::filesystem::path pathFromText(const QString& text) {
    const std::filesystem::path direct(QFile::encodeName(text).toStdString());
    if (text.isEmpty() || isThere(direct) || !text.contains(QChar::ReplacementCharacter))
        return direct;
    std::filesystem::path resolved = text.startsWith(QLatin1Char('/')) ? std::filesystem::path("/") : "";
    for (const QString& part : text.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        std::filesystem::path next = resolved / QFile::encodeName(part).toStdString();
        if (!isThere(next)) {
            if (const std::optional<std::string> entry = entryShownAs(resolved, part))
                next = resolved / *entry;
        }
        resolved = std::move(next);
    }
    return resolved;
}

QUrl fileUrl(const std::filesystem::path& path) {
    const QByteArray bytes(path.c_str(), static_cast<qsizetype>(path.native().size()));
    return QUrl::fromEncoded("file://" + bytes.toPercentEncoding("/"), QUrl::StrictMode);
}

std::optional<std::filesystem::path> pathFromUrl(const QUrl& url) {
    if (!url.isLocalFile() || (!url.host().isEmpty() && url.host() != QLatin1String("localhost")))
        return std::nullopt;
    // The encoded form keeps a %E9 that no text could hold.
    const QByteArray bytes = QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1());
    if (bytes.isEmpty())
        return std::nullopt;
    return std::filesystem::path(bytes.toStdString());
}

std::filesystem::path nearestShowableFolder(const std::filesystem::path& folder) {
    std::filesystem::path candidate = folder;
    while (candidate.has_relative_path() && !utf8::isValid(candidate.native()))
        candidate = candidate.parent_path();
    return candidate;
}

std::vector<std::filesystem::path> pathArguments(int argc, const char* const* argv,
                                                 const std::vector<std::string>& valueOptions) {
    std::vector<std::filesystem::path> paths;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (optionsEnded || argument == "-" || argument.empty() || argument.front() != '-') {
            paths.push_back(std::filesystem::absolute(argument));
        } else if (argument == "--") {
            optionsEnded = true;
        } else if (std::find(valueOptions.begin(), valueOptions.end(), argument) != valueOptions.end()) {
            ++i;
        }
    }
    return paths;
}

}  // namespace meridane::ui
