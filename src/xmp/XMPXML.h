// SPDX-License-Identifier: GPL-3.0-or-later
// The sidecar code's access to a packet's properties: finds the description
// that holds the GPS properties and reads and writes properties by
// namespace, tracing each decision in "[DEBUG] " lines.
//
// Property names are given as "exif:GPSLatitude": the prefix stands for the
// exif namespace, whatever prefix the file itself binds to it.
#pragma once

#include "xmp/XmpEdit.h"
#include "xmp/XmpPacket.h"

#include <optional>
#include <string>
#include <string_view>

namespace meridane::xmp {

/// The first top-level description that holds one of the four GPS
/// properties, else the first that declares the exif namespace, else the
/// first top-level description, else none.
const Description* findDescriptionElement(const XmpPacket& packet);

/// The first top-level property of this name in any description, or none.
const Property* findProperty(std::string_view name, const XmpPacket& packet);
/// How many top-level properties of this name the packet holds.
int countProperties(std::string_view name, const XmpPacket& packet);
/// The first top-level property whose name as written contains "GPS".
const Property* firstGPSNamedProperty(const XmpPacket& packet);

/// Trimmed text of the property `name`, or none when it is absent or is not
/// a text (a struct or an array). `container` is what the trace lists when
/// the property is absent.
std::optional<std::string> getElementValue(std::string_view name, const XmpPacket& packet,
                                           const Description& container);
/// The same without trace lines.
std::optional<std::string> propertyText(std::string_view name, const XmpPacket& packet);

/// Sets the text of the property `name` where it stands, or adds it to
/// `container`. The property must be a text if it exists.
void setElementValue(std::string_view value, std::string_view name, const XmpPacket& packet,
                     const Description& container, XmpEdit& edit);

bool nameIndicatesGPS(std::string_view name);
void logElementContents(const XmpPacket& packet, const Description& description, std::string_view label);
void logChildElements(const XmpPacket& packet, const Description& description);

}  // namespace meridane::xmp
