// SPDX-License-Identifier: GPL-3.0-or-later
#include "xmp/XMPXML.h"

#include "base/Diagnostics.h"
#include "base/UnicodeText.h"
#include "xmp/XmlText.h"

namespace meridane::xmp {
namespace {

// The GPS property a name such as "exif:GPSLatitude" stands for.
GPSName gpsNameOf(std::string_view name) {
    if (!name.starts_with("exif:"))
        return GPSName::none;
    name.remove_prefix(5);
    for (size_t i = 0; i < std::size(kGPSLocalNames); ++i)
        if (name == kGPSLocalNames[i])
            return static_cast<GPSName>(i);
    return GPSName::none;
}

bool isText(const Property& property) {
    return property.shape == Property::Shape::simple || property.shape == Property::Shape::qualified;
}

std::string shownValue(const XmpPacket& packet, const Property& property) {
    return text::trimmed(packet.valueText(property));
}

void logProperties(const XmpPacket& packet, const Description& description, std::string_view indent,
                   bool quoteName) {
    size_t i = 0;
    for (const Property& property : packet.properties(description)) {
        const std::string name(packet.nameOf(property));
        diag::debug(std::string(indent) + "[" + std::to_string(i++) + "] " + (quoteName ? "'" + name + "'" : name) +
                    " = '" + shownValue(packet, property) + "'");
    }
}

bool bindsExif(const XmpPacket& packet, const Description& description) {
    for (const auto& attribute : xmltext::scanStartTag(packet.text(), description.startTag.begin).attributes)
        if (attribute.name.starts_with("xmlns:") &&
            xmltext::decodeAttribute(packet.text().substr(attribute.valueBegin,
                                                          attribute.valueEnd - attribute.valueBegin)) == kExifNamespace)
            return true;
    return false;
}

}  // namespace

const Description* findDescriptionElement(const XmpPacket& packet) {
    for (const Description& description : packet.descriptions()) {
        for (const Property& property : packet.properties(description)) {
            if (property.gps != GPSName::none) {
                diag::debug("XMPXML: Found element containing GPS data");
                logElementContents(packet, description, "GPS Container");
                return &description;
            }
        }
    }
    if (!packet.descriptions().empty()) {
        // New GPS properties are best added where the exif namespace is
        // already declared (writers that keep one description per namespace
        // have one for it); otherwise to the first description.
        const Description* fallback = &packet.descriptions().front();
        for (const Description& description : packet.descriptions()) {
            if (bindsExif(packet, description)) {
                fallback = &description;
                break;
            }
        }
        diag::debug("XMPXML: Using first Description-like element as fallback");
        logElementContents(packet, *fallback, "Fallback Description");
        return fallback;
    }
    diag::debug("XMPXML: No suitable element found");
    return nullptr;
}

const Property* findProperty(std::string_view name, const XmpPacket& packet) {
    const GPSName wanted = gpsNameOf(name);
    if (wanted == GPSName::none)
        return nullptr;
    for (const Description& description : packet.descriptions())
        for (const Property& property : packet.properties(description))
            if (property.gps == wanted)
                return &property;
    return nullptr;
}

int countProperties(std::string_view name, const XmpPacket& packet) {
    const GPSName wanted = gpsNameOf(name);
    int count = 0;
    if (wanted == GPSName::none)
        return count;
    for (const Description& description : packet.descriptions())
        for (const Property& property : packet.properties(description))
            count += property.gps == wanted ? 1 : 0;
    return count;
}

const Property* firstGPSNamedProperty(const XmpPacket& packet) {
    for (const Description& description : packet.descriptions())
        for (const Property& property : packet.properties(description))
            if (packet.nameOf(property).find("GPS") != std::string_view::npos)
                return &property;
    return nullptr;
}

std::optional<std::string> propertyText(std::string_view name, const XmpPacket& packet) {
    const Property* property = findProperty(name, packet);
    if (!property || !isText(*property))
        return std::nullopt;
    return shownValue(packet, *property);
}

std::optional<std::string> getElementValue(std::string_view name, const XmpPacket& packet,
                                           const Description& container) {
    diag::debug("XMPXML: Looking for '", name, "' in element");
    if (const Property* property = findProperty(name, packet)) {
        std::optional<std::string> result;
        if (isText(*property))
            result = shownValue(packet, *property);
        if (diag::isListening())
            diag::debug("XMPXML: Found '", name, "' = '", result.value_or("nil"), "' via exact match '",
                        packet.nameOf(*property), "'");
        return result;
    }
    diag::debug("XMPXML: Could not find '", name, "' in element");
    logChildElements(packet, container);
    return std::nullopt;
}

void setElementValue(std::string_view value, std::string_view name, const XmpPacket& packet,
                     const Description& container, XmpEdit& edit) {
    diag::debug("XMPXML: Setting '", name, "' = '", value, "'");
    if (const Property* property = findProperty(name, packet)) {
        edit.setValue(*property, value);
        if (diag::isListening())
            diag::debug(property->form == Property::Form::element ? "XMPXML: Updated existing element '"
                                                                   : "XMPXML: Updated existing attribute '",
                        packet.nameOf(*property), "'");
        return;
    }
    const std::string_view local = name.substr(name.find(':') + 1);
    const std::string written = edit.addExifProperty(container, local, value);
    diag::debug(container.elementCount == 0 ? "XMPXML: Created new attribute '" : "XMPXML: Created new element '",
                written, "'");
}

bool nameIndicatesGPS(std::string_view name) {
    for (std::string_view marker : {"GPSLatitude", "GPSLongitude", "GPSLatitudeRef", "GPSLongitudeRef"})
        if (name.find(marker) != std::string_view::npos)
            return true;
    return false;
}

void logElementContents(const XmpPacket& packet, const Description& description, std::string_view label) {
    if (!diag::isListening())
        return;  // decoding and trimming every value is the costly part
    diag::debug("XMPXML: " + std::string(label) + " contents:");
    diag::debug("  Element name: " +
                std::string(xmltext::scanStartTag(packet.text(), description.startTag.begin).name));
    diag::debug("  Children count: " + std::to_string(description.propertyCount));
    logProperties(packet, description, "    ", false);
}

void logChildElements(const XmpPacket& packet, const Description& description) {
    if (!diag::isListening())
        return;
    diag::debug("XMPXML: All child elements:");
    logProperties(packet, description, "  ", true);
}

}  // namespace meridane::xmp
