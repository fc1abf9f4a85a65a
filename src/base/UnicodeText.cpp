// SPDX-License-Identifier: GPL-3.0-or-later
#include "base/UnicodeText.h"

#include <QString>
#include <QTextBoundaryFinder>

namespace meridane::text {
namespace {

QString fromUtf8(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::string toUtf8(const QString& text) {
    const QByteArray bytes = text.toUtf8();
    return std::string(bytes.constData(), static_cast<size_t>(bytes.size()));
}

// Start of the last grapheme cluster, in UTF-16 units.
qsizetype lastCharacterStart(const QString& text) {
    if (text.isEmpty())
        return 0;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    finder.toEnd();
    const qsizetype start = finder.toPreviousBoundary();
    return start < 0 ? 0 : start;
}

bool isAscii(std::string_view text) {
    for (unsigned char c : text)
        if (c >= 0x80)
            return false;
    return true;
}

bool isAsciiSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// In ASCII text every character stands alone except CR LF, which is one
// user-perceived character; no rule of grapheme clusters joins other ASCII
// characters. Where the last one starts, in bytes.
size_t asciiLastCharacterStart(std::string_view text) {
    if (text.size() >= 2 && text[text.size() - 2] == '\r' && text.back() == '\n')
        return text.size() - 2;
    return text.empty() ? 0 : text.size() - 1;
}

}  // namespace

// Sidecar texts are nearly always ASCII; they skip the round trip through
// QString, which gives the same answers for them.
std::string trimmed(std::string_view text) {
    if (isAscii(text)) {
        size_t begin = 0, end = text.size();
        while (begin < end && isAsciiSpace(text[begin]))
            ++begin;
        while (end > begin && isAsciiSpace(text[end - 1]))
            --end;
        return std::string(text.substr(begin, end - begin));
    }
    // QChar::isSpace covers exactly category Z plus U+0009..U+000D and U+0085.
    return toUtf8(fromUtf8(text).trimmed());
}

std::string upperCased(std::string_view text) {
    if (isAscii(text)) {
        std::string upper(text);
        for (char& c : upper)
            if (c >= 'a' && c <= 'z')
                c = static_cast<char>(c - 'a' + 'A');
        return upper;
    }
    return toUtf8(fromUtf8(text).toUpper());
}

std::string lowerCased(std::string_view text) { return toUtf8(fromUtf8(text).toLower()); }

std::string lastCharacter(std::string_view text) {
    if (isAscii(text))
        return std::string(text.substr(asciiLastCharacterStart(text)));
    const QString s = fromUtf8(text);
    return toUtf8(s.mid(lastCharacterStart(s)));
}

std::string withoutLastCharacter(std::string_view text) {
    if (isAscii(text))
        return std::string(text.substr(0, asciiLastCharacterStart(text)));
    const QString s = fromUtf8(text);
    return toUtf8(s.left(lastCharacterStart(s)));
}

std::string joined(const std::vector<std::string>& parts, std::string_view separator) {
    std::string out;
    for (size_t i = 0; i < parts.size(); ++i) {
        if (i)
            out.append(separator);
        out.append(parts[i]);
    }
    return out;
}

}  // namespace meridane::text
