// SPDX-License-Identifier: GPL-3.0-or-later
// A sidecar as XMP sees it, with the byte places of what may be changed.
//
// The properties are those of every rdf:Description directly under the
// packet's rdf:RDF: its property attributes and its child elements, known by
// namespace URI whatever prefix the file binds. Structs, arrays and
// qualifiers below them are not properties of their own. For each property
// the parse keeps where it stands in the text, so that an edit can replace
// exactly the bytes of one value and leave every other byte alone.
//
// libxml2 judges well-formedness, strictly and offline: no network, no
// external entities or DTD loading, no entity substitution, its depth (256)
// and amplification limits on, and entity references whose text would come
// to more than 10 MB refused. It builds no tree: its SAX callbacks report
// the elements, and the places are read from its input position.
#pragma once

#include "base/Error.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace meridane::xmp {

inline constexpr std::string_view kExifNamespace = "http://ns.adobe.com/exif/1.0/";
inline constexpr std::string_view kRdfNamespace = "http://www.w3.org/1999/02/22-rdf-syntax-ns#";

/// Byte offsets [begin, end) in XmpPacket::text().
struct Span {
    std::uint32_t begin = 0;
    std::uint32_t end = 0;
};

/// The four GPS properties of the exif namespace, in the order they are handled.
enum class GPSName : std::int8_t { none = -1, latitude, longitude, latitudeRef, longitudeRef };
inline constexpr std::string_view kGPSLocalNames[] = {"GPSLatitude", "GPSLongitude", "GPSLatitudeRef",
                                                      "GPSLongitudeRef"};

/// Where a property's text stands.
struct ValueSlot {
    enum class Kind : std::uint8_t {
        none,          ///< the value is not a text (struct, array, resource)
        attribute,     ///< span: between the quotes
        content,       ///< span: between the start and the end tag
        emptyElement,  ///< span: the "/>" of an element without content
    };
    Kind kind = Kind::none;
    char quote = '"';
    Span span;
};

struct Property {
    enum class Form : std::uint8_t { attribute, element };
    enum class Shape : std::uint8_t {
        simple,     ///< a text
        qualified,  ///< a text (rdf:value) with qualifiers
        structure,  ///< a struct, or a value that is not a text
        array,      ///< rdf:Bag, rdf:Seq or rdf:Alt
    };
    Span whole;  ///< attribute: name to closing quote; element: '<' to the end of its end tag
    Span name;   ///< the qualified name as written
    Form form = Form::attribute;
    Shape shape = Shape::simple;
    GPSName gps = GPSName::none;
    ValueSlot value;
};

struct Description {
    Span startTag;  ///< '<' to '>' inclusive
    bool selfClosing = false;
    std::uint32_t firstProperty = 0;  ///< into XmpPacket::properties()
    std::uint32_t propertyCount = 0;  ///< the properties kept (see XmpPacket::Detail)
    std::uint32_t elementCount = 0;   ///< all its property elements, kept or not
    Span lastElement;                 ///< the last property element, when it has one
};

class XmpPacket {
public:
    /// Parses a whole file's bytes (UTF-8; UTF-16, UTF-32 and declared
    /// single-byte encodings are converted to UTF-8 first). Without
    /// conversion the packet views `bytes`, which must outlive it. Fails with
    /// domain "XMLParser", libxml2's error code and a one-line message with
    /// the line number for text that is not well-formed or is hostile.
    /// Nothing is printed.
    /// Which properties the packet keeps: all of them (for listing), or only
    /// those whose names contain "GPS", which is all the sidecar code reads
    /// and spares a large sidecar a record per property.
    enum class Detail { allProperties, gpsProperties };
    static Result<XmpPacket> parse(std::string_view bytes, Detail detail = Detail::allProperties);

    XmpPacket(XmpPacket&&) noexcept;
    XmpPacket& operator=(XmpPacket&&) noexcept;
    ~XmpPacket();

    /// The UTF-8 text every span refers to.
    std::string_view text() const { return converted_ ? std::string_view(ownText_) : viewedText_; }
    /// Whether text() was converted from another encoding.
    bool converted() const { return converted_; }
    std::string_view view(Span span) const { return text().substr(span.begin, span.end - span.begin); }

    /// Whether the text has an rdf:RDF element at all.
    bool hasRdf() const { return hasRdf_; }
    const std::vector<Description>& descriptions() const { return descriptions_; }
    std::span<const Property> properties(const Description& description) const {
        return std::span<const Property>(properties_).subspan(description.firstProperty, description.propertyCount);
    }
    /// The start tags of rdf:RDF and of the elements around it, outermost
    /// first: with a description's own, they declare its namespaces.
    const std::vector<Span>& outerStartTags() const { return outerStartTags_; }

    /// The property's text as readers see it (rdf:value's for a qualified
    /// one); for a struct or an array, all the text inside it.
    std::string valueText(const Property& property) const;
    /// The qualified name as written.
    std::string_view nameOf(const Property& property) const { return view(property.name); }

private:
    XmpPacket() = default;
    friend class PacketBuilder;

    std::string_view viewedText_;
    std::string ownText_;
    bool converted_ = false;
    bool hasRdf_ = false;
    Detail detail_ = Detail::allProperties;
    std::vector<Description> descriptions_;
    std::vector<Property> properties_;
    std::vector<Span> outerStartTags_;
};

}  // namespace meridane::xmp
