// SPDX-License-Identifier: GPL-3.0-or-later
// The one sidecar builder of the test suite: a packet in the form phones and
// photo libraries export (xpacket wrapper, a comment, a second namespace),
// holding whichever GPS properties a case needs as elements.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace meridane::testing {

/// GPS texts as written; none leaves the element out. `body` goes into the
/// description after them, `attributes` onto it (" exif:GPSAltitude=\"3\"").
inline std::string sidecarXml(std::optional<std::string> latitude, std::optional<std::string> longitude,
                              std::optional<std::string> latitudeRef = std::nullopt,
                              std::optional<std::string> longitudeRef = std::nullopt, std::string_view body = {},
                              std::string_view attributes = {}) {
    std::string xml =
        "<?xpacket begin=\"\xEF\xBB\xBF\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>\n"
        "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\" x:xmptk=\"XMP Core 6.0.0\">\n"
        " <rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">\n"
        "  <rdf:Description rdf:about=\"\" xmlns:exif=\"http://ns.adobe.com/exif/1.0/\"\n"
        "    xmlns:tiff=\"http://ns.adobe.com/tiff/1.0/\" xmlns:xmp=\"http://ns.adobe.com/xap/1.0/\"";
    xml += std::string(attributes) + ">\n   <!-- exported by the phone -->\n   <tiff:Make>Apple</tiff:Make>\n";
    auto element = [&xml](const char* name, const std::optional<std::string>& text) {
        if (text)
            xml += std::string("   <") + name + ">" + *text + "</" + name + ">\n";
    };
    element("exif:GPSLatitude", latitude);
    element("exif:GPSLongitude", longitude);
    element("exif:GPSLatitudeRef", latitudeRef);
    element("exif:GPSLongitudeRef", longitudeRef);
    xml += std::string(body) + "  </rdf:Description>\n </rdf:RDF>\n</x:xmpmeta>\n<?xpacket end=\"w\"?>";
    return xml;
}

/// Sidecars of the position cameraTiff() records: as written, without the
/// hemisphere letters on the values, and of another place.
inline const std::string kCorrectXml = sidecarXml("37.77490000N", "122.41940000W", "N", "W");
inline const std::string kNeedsLettersXml = sidecarXml("37.7749", "122.4194", "N", "W");
inline const std::string kElsewhereXml = sidecarXml("48.85837000N", "2.29450000E", "N", "E");

}  // namespace meridane::testing
