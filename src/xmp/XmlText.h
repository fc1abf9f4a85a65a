// SPDX-License-Identifier: GPL-3.0-or-later
// Small, bounded readers and writers of XML text for documents the parser has
// already accepted as well-formed: a start tag's attributes with their exact
// places, the value of an attribute or of element content as a reader sees
// it, escaping for a new value, and turning a non-UTF-8 file into UTF-8.
#pragma once

#include "base/Error.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace meridane::xmp::xmltext {

struct ScannedAttribute {
    size_t leadBegin = 0;   ///< the white space before the name starts here
    size_t nameBegin = 0;
    std::string_view name;  ///< qualified, as written
    size_t valueBegin = 0;  ///< just after the opening quote
    size_t valueEnd = 0;    ///< at the closing quote
    char quote = '"';
};

struct ScannedTag {
    std::string_view name;
    std::vector<ScannedAttribute> attributes;
    size_t closeBegin = 0;  ///< where ">" or "/>" starts (after any white space)
    bool selfClosing = false;
    size_t end = 0;         ///< just after the tag
};

/// The start tag at text[begin] == '<'. The tag must be well-formed.
ScannedTag scanStartTag(std::string_view text, size_t begin);

/// Element content as a reader sees it: references resolved (those of the
/// five predefined entities and character references; any other stays as
/// written), CDATA unwrapped, comments, processing instructions and tags
/// left out, line ends normalised.
std::string decodeContent(std::string_view raw);
/// An attribute value as a reader sees it: references resolved and white
/// space normalised as XML does for attributes.
std::string decodeAttribute(std::string_view raw);

/// Escaped for element content: & < > and carriage returns.
std::string escapeContent(std::string_view value);
/// Escaped for an attribute quoted with `quote`: & < the quote, and the
/// white space characters a reader would otherwise turn into spaces.
std::string escapeAttribute(std::string_view value, char quote);

/// The file's bytes as UTF-8: unchanged (and `converted` false) for UTF-8
/// or ASCII files; otherwise converted from the encoding its byte-order mark
/// or declaration names, the mark dropped and the declaration made to say
/// UTF-8.
struct Utf8Bytes {
    std::string text;
    bool converted = false;
};
Result<Utf8Bytes> toUtf8(std::string_view bytes);
/// Whether toUtf8 would change these bytes.
bool needsConversion(std::string_view bytes);

}  // namespace meridane::xmp::xmltext
