// The only code that walks a sidecar's XML tree: finds the element that holds
// the GPS properties and reads and writes its property elements, tracing each
// decision in "[DEBUG] " lines.
#pragma once

#include "xmp/XmlDocument.h"

#include <optional>
#include <string>
#include <string_view>

namespace meridane::xmp {

class XMPXML {
public:
    XMPXML() = delete;

    /// The GPS container if any element has GPS-named children, else the
    /// first element whose name contains "Description", else none.
    static std::optional<XmlElement> findDescriptionElement(const XmlDocument& document);
    /// Trimmed text of the first direct child named `name` or its local name.
    static std::optional<std::string> getElementValue(std::string_view name, const XmlElement& element);
    /// Sets the first matching child's text, or appends a new `name` element.
    static void setElementValue(std::string_view value, std::string_view name, XmlElement& element);

    static std::optional<XmlElement> findGPSContainer(const XmlElement& element);
    static std::optional<XmlElement> findFirstDescription(const XmlElement& element);
    static bool nameIndicatesGPS(std::string_view name);
    static void logElementContents(const XmlElement& element, std::string_view label);
    static void logChildElements(const XmlElement& element);
};

}  // namespace meridane::xmp
