// Paths between the core (bytes as the file system has them) and Qt's
// texts, through the locale's file-name encoding both ways, so names that are
// not valid UTF-8 still reach the right file.
#pragma once

#include <QFile>
#include <QString>

#include <filesystem>

namespace meridane::ui {

inline QString pathText(const std::filesystem::path& path) { return QFile::decodeName(path.c_str()); }

inline std::filesystem::path pathFromText(const QString& text) {
    return std::filesystem::path(QFile::encodeName(text).toStdString());
}

}  // namespace meridane::ui
