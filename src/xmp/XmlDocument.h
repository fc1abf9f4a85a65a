// SPDX-License-Identifier: GPL-3.0-or-later
// A small RAII layer over libxml2 with exactly the DOM operations the sidecar
// code needs: parse, root element, ordered children, names, string values,
// new elements, pretty serialisation.
//
// Parsing is strict and offline: no network, no external entities or DTD
// loading, no entity substitution, the parser's depth (256) and entity
// amplification limits on, and internal entities that would expand to more
// than 10 MB of text refused. Indentation (whitespace-only text between the
// elements of an element that holds no other text) is dropped, so that child
// positions and pretty printing do not depend on it; every other text is kept,
// blank or not: an element's only text, text mixed with elements, and all
// under xml:space="preserve". Comments, processing instructions (the xpacket
// wrapper), attributes and namespace declarations are kept.
#pragma once

#include "base/Error.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct _xmlDoc;
struct _xmlNode;

namespace meridane::xmp {

class XmlElement;

/// A node's name as written, in its two parts, viewing the document's own
/// text (valid while the document lives): nothing is copied to compare it.
struct NameView {
    std::string_view prefix;  ///< empty when the name has none
    std::string_view local;

    /// Whether the name as written ("prefix:local", or "local") is `qualified`.
    bool operator==(std::string_view qualified) const {
        if (prefix.empty())
            return local == qualified;
        return qualified.size() == prefix.size() + 1 + local.size() && qualified.starts_with(prefix) &&
               qualified[prefix.size()] == ':' && qualified.ends_with(local);
    }
    /// Whether `text`, which holds no colon, occurs in the name as written.
    bool contains(std::string_view text) const {
        return local.find(text) != std::string_view::npos || prefix.find(text) != std::string_view::npos;
    }
};

/// Non-owning handle to any node of a document; valid while the document lives.
class XmlNode {
public:
    explicit XmlNode(_xmlNode* node) : node_(node) {}

    /// False for the handle of no node (past the last child, above the root).
    explicit operator bool() const { return node_ != nullptr; }
    bool isElement() const;
    /// The element's qualified name as written (prefix:local), or none for
    /// nodes that have no name (text, comments, ...).
    std::optional<std::string> name() const;
    /// name() without copying it.
    std::optional<NameView> nameView() const;
    /// Navigation without building lists: the first child, the next
    /// sibling and the parent (an element, or none at the top).
    XmlNode firstChild() const;
    XmlNode nextSibling() const;
    XmlNode parent() const;
    /// Concatenation of all text inside the node, or none.
    std::optional<std::string> stringValue() const;
    std::optional<XmlElement> asElement() const;
    _xmlNode* raw() const { return node_; }

private:
    _xmlNode* node_;
};

/// Non-owning handle to an element node; valid while the document lives.
class XmlElement {
public:
    explicit XmlElement(_xmlNode* node) : node_(node) {}

    std::optional<std::string> name() const;
    std::optional<NameView> nameView() const;
    std::vector<XmlNode> children() const;
    XmlNode firstChild() const;
    std::optional<std::string> stringValue() const;
    /// Replaces the whole content by one text node.
    void setStringValue(std::string_view value);
    /// The value of the attribute with this qualified name (prefix:local; the
    /// same local name in the namespace that prefix is bound to here also
    /// matches), or none.
    std::optional<std::string> attribute(std::string_view qualifiedName) const;
    /// Removes every attribute attribute() would read.
    void removeAttribute(std::string_view qualifiedName);
    /// Appends a new element with this qualified name and text as the last
    /// child. A prefix declared on an ancestor is bound to its namespace; a
    /// well-known XMP prefix (exif, tiff, xmp, dc, photoshop, rdf) declared
    /// nowhere is declared on the new element, so the saved sidecar stays
    /// namespace-well-formed. Any other unbound prefix is kept as written.
    XmlElement appendChildElement(std::string_view qualifiedName, std::string_view value);
    _xmlNode* raw() const { return node_; }
    bool operator==(const XmlElement& other) const { return node_ == other.node_; }

private:
    _xmlNode* node_;
};

class XmlDocument {
public:
    /// Parses a whole file's bytes (UTF-8, or any encoding the file declares
    /// or marks with a byte-order mark). Fails with domain "XMLParser",
    /// libxml2's error code and a one-line message with the line number for
    /// text that is not well-formed or is hostile. Nothing is printed.
    static Result<XmlDocument> parse(std::string_view bytes);

    XmlDocument(XmlDocument&&) noexcept;
    XmlDocument& operator=(XmlDocument&&) noexcept;
    ~XmlDocument();

    std::optional<XmlElement> rootElement() const;
    /// The document as pretty-printed UTF-8 XML text.
    std::string serializePretty() const;

private:
    struct Deleter {
        void operator()(_xmlDoc* doc) const;
    };
    explicit XmlDocument(_xmlDoc* doc);
    std::unique_ptr<_xmlDoc, Deleter> doc_;
};

}  // namespace meridane::xmp
