// SPDX-License-Identifier: GPL-3.0-or-later
// Changes to a parsed packet as byte splices: a value replaced where it
// stands (quoted as the file quotes it), a new property added in the form
// that keeps its description's layout. Every byte outside the changed spans
// stays as it was.
#pragma once

#include "xmp/XmpPacket.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace meridane::xmp {

class XmpEdit {
public:
    explicit XmpEdit(const XmpPacket& packet) : packet_(packet) {}

    /// Replaces the text of a simple or qualified property (rdf:value's for
    /// the latter; its qualifiers stay).
    void setValue(const Property& property, std::string_view value);

    /// Adds a property of the exif namespace to `description`, under the
    /// prefix bound to that namespace there, declaring one on the
    /// description when none is: as an element after its last property
    /// element, with that element's indentation and line end, or, in a
    /// description without property elements, as an attribute after its
    /// last attribute. Returns the qualified name written.
    std::string addExifProperty(const Description& description, std::string_view localName, std::string_view value);

    bool empty() const { return splices_.empty(); }
    /// The packet's text with the changes made.
    std::string result() const;

private:
    struct Splice {
        std::uint32_t begin = 0;
        std::uint32_t end = 0;
        std::string text;
    };
    /// How additions to one description are written.
    struct Target {
        const Description* description = nullptr;
        std::string prefix;
        bool asAttribute = false;
        bool declared = false;  ///< the prefix needs (and got) a declaration
    };
    Target& targetFor(const Description& description);
    void insertAttribute(const Description& description, std::string_view name, std::string_view value);

    const XmpPacket& packet_;
    std::vector<Splice> splices_;
    std::vector<Target> targets_;
};

}  // namespace meridane::xmp
