// SPDX-License-Identifier: GPL-3.0-or-later
// The only code that walks a sidecar's XML tree: finds the element that holds
// the GPS properties and reads and writes its property elements, tracing each
// decision in "[DEBUG] " lines.
#pragma once

#include "xmp/XmlDocument.h"

#include <optional>
#include <string>
#include <string_view>

namespace meridane::xmp {

/// The GPS container if any element has GPS-named children, else the
/// first element whose name contains "Description", else none.
std::optional<XmlElement> findDescriptionElement(const XmlDocument& document);
/// Trimmed text of the first direct child named `name` or its local name.
std::optional<std::string> getElementValue(std::string_view name, const XmlElement& element);
/// Sets the first matching child's text, or appends a new `name` element.
void setElementValue(std::string_view value, std::string_view name, XmlElement& element);

std::optional<XmlElement> findGPSContainer(const XmlElement& element);
std::optional<XmlElement> findFirstDescription(const XmlElement& element);
bool nameIndicatesGPS(std::string_view name);
void logElementContents(const XmlElement& element, std::string_view label);
void logChildElements(const XmlElement& element);

}  // namespace meridane::xmp
