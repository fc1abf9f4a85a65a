// Inline sidecars for the sidecar tests: a packet in the form phones and
// photo libraries export, holding whichever GPS properties a case needs.
#pragma once

#include "base/Diagnostics.h"
#include "base/Error.h"

#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace meridane {

inline void PrintTo(const Error& error, std::ostream* os) {
    *os << "Error{" << domainName(error.domain) << ", " << error.code << ", \"" << error.message << "\"}";
}

}  // namespace meridane

namespace meridane::testing {

/// The four GPS property texts of a sidecar; none leaves the element out.
struct GPSProperties {
    std::optional<std::string> latitude;
    std::optional<std::string> longitude;
    std::optional<std::string> latitudeRef;
    std::optional<std::string> longitudeRef;

    bool operator==(const GPSProperties&) const = default;
};

/// A sidecar whose rdf:Description holds tiff:Make and then the given
/// properties as child elements, in the order given.
inline std::string sidecarWithElements(const std::vector<std::pair<std::string, std::string>>& elements) {
    std::string xml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\" x:xmptk=\"XMP Core 6.0.0\">\n"
        " <rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">\n"
        "  <rdf:Description rdf:about=\"\"\n"
        "    xmlns:exif=\"http://ns.adobe.com/exif/1.0/\"\n"
        "    xmlns:tiff=\"http://ns.adobe.com/tiff/1.0/\">\n"
        "   <tiff:Make>Apple</tiff:Make>\n";
    for (const auto& [name, text] : elements)
        xml += "   <" + name + ">" + text + "</" + name + ">\n";
    xml +=
        "  </rdf:Description>\n"
        " </rdf:RDF>\n"
        "</x:xmpmeta>\n";
    return xml;
}

inline std::string sidecarWith(const GPSProperties& gps) {
    std::vector<std::pair<std::string, std::string>> elements;
    if (gps.latitude)
        elements.emplace_back("exif:GPSLatitude", *gps.latitude);
    if (gps.longitude)
        elements.emplace_back("exif:GPSLongitude", *gps.longitude);
    if (gps.latitudeRef)
        elements.emplace_back("exif:GPSLatitudeRef", *gps.latitudeRef);
    if (gps.longitudeRef)
        elements.emplace_back("exif:GPSLongitudeRef", *gps.longitudeRef);
    return sidecarWithElements(elements);
}

/// Well-formed, but without any element whose name contains "Description".
inline std::string sidecarWithoutDescription() {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\">\n"
           " <rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">\n"
           "  <rdf:Bag><rdf:li>nothing to see here</rdf:li></rdf:Bag>\n"
           " </rdf:RDF>\n"
           "</x:xmpmeta>\n";
}

/// The captured lines without those of the XML layer and the GPS text
/// parser, which have their own tests: what is left is the engine's trace.
inline std::vector<std::string> engineLines(const std::vector<std::string>& captured) {
    static const char* const kOtherLayers[] = {
        "[DEBUG] XMPXML",  "[DEBUG]   Element name: ", "[DEBUG]   Children count: ", "[DEBUG]     [",
        "[DEBUG]   [",     "[DEBUG] parseXmpGPS",      "[DEBUG] Parsed DMS ",        "[DEBUG] Failed to parse DMS",
    };
    std::vector<std::string> lines;
    for (const auto& line : captured) {
        bool other = false;
        for (const char* prefix : kOtherLayers)
            other = other || line.rfind(prefix, 0) == 0;
        if (!other)
            lines.push_back(line);
    }
    return lines;
}

inline std::vector<std::string> engineLines(const diag::LineCapture& capture) { return engineLines(capture.lines()); }

}  // namespace meridane::testing
