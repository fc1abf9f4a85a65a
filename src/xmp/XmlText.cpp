// SPDX-License-Identifier: GPL-3.0-or-later
#include "xmp/XmlText.h"

#include <iconv.h>

#include <libxml/xmlerror.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdint>

namespace meridane::xmp::xmltext {
namespace {

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

size_t skipSpace(std::string_view text, size_t at) {
    while (at < text.size() && isSpace(text[at]))
        ++at;
    return at;
}

size_t nameEnd(std::string_view text, size_t at) {
    while (at < text.size() && !isSpace(text[at]) && text[at] != '=' && text[at] != '>' && text[at] != '/')
        ++at;
    return at;
}

void appendUtf8(std::string& out, std::uint32_t code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

// Resolves the reference at raw[at] == '&' into `out`; returns the offset
// after it. A reference to an entity other than the predefined five stays
// as written: its text is not this code's to expand.
size_t appendReference(std::string_view raw, size_t at, std::string& out) {
    const size_t semicolon = raw.find(';', at);
    if (semicolon == std::string_view::npos) {
        out += raw.substr(at);
        return raw.size();
    }
    const std::string_view name = raw.substr(at + 1, semicolon - at - 1);
    if (!name.empty() && name.front() == '#') {
        const bool hex = name.size() > 1 && name[1] == 'x';
        const std::string_view digits = name.substr(hex ? 2 : 1);
        std::uint32_t code = 0;
        const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), code, hex ? 16 : 10);
        if (ec == std::errc() && end == digits.data() + digits.size())
            appendUtf8(out, code);
        else
            out += raw.substr(at, semicolon + 1 - at);
    } else if (name == "amp") {
        out += '&';
    } else if (name == "lt") {
        out += '<';
    } else if (name == "gt") {
        out += '>';
    } else if (name == "quot") {
        out += '"';
    } else if (name == "apos") {
        out += '\'';
    } else {
        out += raw.substr(at, semicolon + 1 - at);
    }
    return semicolon + 1;
}

// The offset after the markup at raw[at] == '<' that is not CDATA.
size_t skipMarkup(std::string_view raw, size_t at) {
    auto after = [&](std::string_view close) {
        const size_t found = raw.find(close, at);
        return found == std::string_view::npos ? raw.size() : found + close.size();
    };
    const std::string_view rest = raw.substr(at);
    if (rest.starts_with("<!--"))
        return after("-->");
    if (rest.starts_with("<?"))
        return after("?>");
    // A tag: '>' may stand inside a quoted attribute value.
    char quote = 0;
    for (size_t i = at + 1; i < raw.size(); ++i) {
        const char c = raw[i];
        if (quote) {
            if (c == quote)
                quote = 0;
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == '>') {
            return i + 1;
        }
    }
    return raw.size();
}

std::string lowerAscii(std::string_view text) {
    std::string lower(text);
    for (char& c : lower)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return lower;
}

// The encoding named by the XML declaration of an ASCII-compatible file, and
// where its value stands; empty when there is none.
struct DeclaredEncoding {
    std::string_view name;
    size_t begin = 0;
};

DeclaredEncoding declaredEncoding(std::string_view text) {
    if (!text.starts_with("<?xml"))
        return {};
    const size_t close = text.find("?>");
    const std::string_view declaration = text.substr(0, close);
    size_t at = declaration.find("encoding");
    if (at == std::string_view::npos)
        return {};
    at = skipSpace(declaration, at + 8);
    if (at >= declaration.size() || declaration[at] != '=')
        return {};
    at = skipSpace(declaration, at + 1);
    if (at >= declaration.size() || (declaration[at] != '"' && declaration[at] != '\''))
        return {};
    const size_t end = declaration.find(declaration[at], at + 1);
    if (end == std::string_view::npos)
        return {};
    return {declaration.substr(at + 1, end - at - 1), at + 1};
}

bool isUtf8Name(std::string_view name) {
    const std::string lower = lowerAscii(name);
    return lower == "utf-8" || lower == "utf8" || lower == "us-ascii" || lower == "ascii";
}

// The encoding a byte-order mark or the first characters show, with the
// number of mark bytes; empty for ASCII-compatible text.
std::pair<std::string, size_t> encodingFromStart(std::string_view bytes) {
    const auto starts = [&](std::initializer_list<unsigned char> prefix) {
        if (bytes.size() < prefix.size())
            return false;
        size_t i = 0;
        for (unsigned char c : prefix)
            if (static_cast<unsigned char>(bytes[i++]) != c)
                return false;
        return true;
    };
    if (starts({0xFF, 0xFE, 0x00, 0x00}))
        return {"UTF-32LE", 4};
    if (starts({0x00, 0x00, 0xFE, 0xFF}))
        return {"UTF-32BE", 4};
    if (starts({0xFF, 0xFE}))
        return {"UTF-16LE", 2};
    if (starts({0xFE, 0xFF}))
        return {"UTF-16BE", 2};
    if (starts({0x3C, 0x00, 0x00, 0x00}))
        return {"UTF-32LE", 0};
    if (starts({0x00, 0x00, 0x00, 0x3C}))
        return {"UTF-32BE", 0};
    if (starts({0x3C, 0x00}))
        return {"UTF-16LE", 0};
    if (starts({0x00, 0x3C}))
        return {"UTF-16BE", 0};
    return {{}, 0};
}

std::string sourceEncoding(std::string_view bytes, size_t& markBytes) {
    auto [fromStart, mark] = encodingFromStart(bytes);
    markBytes = mark;
    if (!fromStart.empty())
        return fromStart;
    const DeclaredEncoding declared = declaredEncoding(bytes.starts_with("\xEF\xBB\xBF") ? bytes.substr(3) : bytes);
    if (declared.name.empty() || isUtf8Name(declared.name))
        return {};
    return std::string(declared.name);
}

// One conversion descriptor, closed when done.
struct Converter {
    iconv_t cd;
    explicit Converter(const char* from) : cd(iconv_open("UTF-8", from)) {}
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;
    ~Converter() {
        if (ok())
            iconv_close(cd);
    }
    bool ok() const { return cd != reinterpret_cast<iconv_t>(-1); }
};

}  // namespace

ScannedTag scanStartTag(std::string_view text, size_t begin) {
    ScannedTag tag;
    size_t at = begin + 1;
    const size_t nameStop = nameEnd(text, at);
    tag.name = text.substr(at, nameStop - at);
    at = nameStop;
    while (at < text.size()) {
        const size_t lead = at;
        at = skipSpace(text, at);
        if (at >= text.size())
            break;
        if (text[at] == '>' || text[at] == '/') {
            tag.closeBegin = at;
            tag.selfClosing = text[at] == '/';
            tag.end = at + (tag.selfClosing ? 2 : 1);
            return tag;
        }
        ScannedAttribute attribute;
        attribute.leadBegin = lead;
        attribute.nameBegin = at;
        const size_t stop = nameEnd(text, at);
        attribute.name = text.substr(at, stop - at);
        at = skipSpace(text, stop);
        at = skipSpace(text, at + 1);  // the '='
        if (at >= text.size())
            break;
        attribute.quote = text[at];
        attribute.valueBegin = at + 1;
        const size_t close = text.find(attribute.quote, at + 1);
        attribute.valueEnd = close == std::string_view::npos ? text.size() : close;
        at = attribute.valueEnd + 1;
        tag.attributes.push_back(attribute);
    }
    tag.closeBegin = tag.end = text.size();
    return tag;
}

std::string decodeContent(std::string_view raw) {
    std::string out;
    out.reserve(raw.size());
    size_t at = 0;
    while (at < raw.size()) {
        const char c = raw[at];
        if (c == '<') {
            if (raw.substr(at).starts_with("<![CDATA[")) {
                const size_t close = raw.find("]]>", at + 9);
                const size_t stop = close == std::string_view::npos ? raw.size() : close;
                for (size_t i = at + 9; i < stop; ++i) {
                    if (raw[i] == '\r') {
                        out += '\n';
                        if (i + 1 < stop && raw[i + 1] == '\n')
                            ++i;
                    } else {
                        out += raw[i];
                    }
                }
                at = close == std::string_view::npos ? raw.size() : close + 3;
            } else {
                at = skipMarkup(raw, at);
            }
        } else if (c == '&') {
            at = appendReference(raw, at, out);
        } else if (c == '\r') {
            out += '\n';
            at += (at + 1 < raw.size() && raw[at + 1] == '\n') ? 2 : 1;
        } else {
            out += c;
            ++at;
        }
    }
    return out;
}

std::string decodeAttribute(std::string_view raw) {
    std::string out;
    out.reserve(raw.size());
    size_t at = 0;
    while (at < raw.size()) {
        const char c = raw[at];
        if (c == '&') {
            at = appendReference(raw, at, out);
        } else if (c == '\r') {
            out += ' ';
            at += (at + 1 < raw.size() && raw[at + 1] == '\n') ? 2 : 1;
        } else {
            out += (c == '\t' || c == '\n') ? ' ' : c;
            ++at;
        }
    }
    return out;
}

std::string escapeContent(std::string_view value) {
    std::string out;
    out.reserve(value.size());
    for (char c : value) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '\r': out += "&#13;"; break;
        default: out += c;
        }
    }
    return out;
}

std::string escapeAttribute(std::string_view value, char quote) {
    std::string out;
    out.reserve(value.size());
    for (char c : value) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '\t': out += "&#9;"; break;
        case '\n': out += "&#10;"; break;
        case '\r': out += "&#13;"; break;
        default:
            if (c == quote)
                out += quote == '"' ? "&quot;" : "&apos;";
            else
                out += c;
        }
    }
    return out;
}

bool needsConversion(std::string_view bytes) {
    size_t mark = 0;
    return !sourceEncoding(bytes, mark).empty();
}

Result<Utf8Bytes> toUtf8(std::string_view bytes) {
    size_t mark = 0;
    const std::string from = sourceEncoding(bytes, mark);
    if (from.empty())
        return Utf8Bytes{std::string(bytes), false};
    const auto unsupported = [&] {
        return Error{ErrorDomain::xmlParser, XML_ERR_UNSUPPORTED_ENCODING,
                     "XML parse error: the file is not valid " + from + " text"};
    };
    const Converter converter(from.c_str());
    if (!converter.ok())
        return unsupported();

    std::string out(bytes.size() * 2 + 16, '\0');
    std::string in(bytes.substr(mark));
    char* inPointer = in.data();
    size_t inLeft = in.size();
    size_t produced = 0;
    while (inLeft > 0) {
        char* outPointer = out.data() + produced;
        size_t outLeft = out.size() - produced;
        const size_t result = iconv(converter.cd, &inPointer, &inLeft, &outPointer, &outLeft);
        produced = out.size() - outLeft;
        if (result != static_cast<size_t>(-1))
            break;
        if (errno != E2BIG)
            return unsupported();
        out.resize(out.size() * 2);
    }
    out.resize(produced);
    if (const DeclaredEncoding declared = declaredEncoding(out); !declared.name.empty())
        out.replace(declared.begin, declared.name.size(), "UTF-8");
    return Utf8Bytes{std::move(out), true};
}

}  // namespace meridane::xmp::xmltext
