// SPDX-License-Identifier: GPL-3.0-or-later
// Paths between the file system (bytes, not always UTF-8) and Qt (texts and
// URLs). A QString cannot hold a byte such as 0xE9 of a Latin-1 name, so
// paths travel as bytes: in file URLs percent-encoded, and from texts back to
// bytes by finding the entry whose shown name matches.
#pragma once

#include <QString>
#include <QUrl>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace meridane::ui {

/// The path as a text to show; bytes that are not UTF-8 become U+FFFD.
QString pathText(const std::filesystem::path& path);

/// The path a shown text names: the text's UTF-8 bytes when something is
/// there, otherwise each component matched against the entries of its folder
/// (a name shown with U+FFFD finds its Latin-1 entry when only one fits).
std::filesystem::path pathFromText(const QString& text);

/// A file URL with the path's exact bytes percent-encoded.
QUrl fileUrl(const std::filesystem::path& path);

/// The exact path of a local file URL (file:///… or file://localhost/…), as
/// a file manager sends it in a drop; none for other URLs.
std::optional<std::filesystem::path> pathFromUrl(const QUrl& url);

/// The deepest folder at or above `folder` whose path a text holds exactly,
/// for dialogs that only take texts.
std::filesystem::path nearestShowableFolder(const std::filesystem::path& folder);

/// The positional arguments of the window's command line as bytes, made
/// absolute; options (and the value after each of valueOptions) are left out,
/// "--" ends the options.
std::vector<std::filesystem::path> pathArguments(int argc, const char* const* argv,
                                                 const std::vector<std::string>& valueOptions);

}  // namespace meridane::ui
