// SPDX-License-Identifier: GPL-3.0-or-later
#include "xmp/XMPXML.h"

#include "base/Diagnostics.h"
#include "base/UnicodeText.h"

#include <utility>
#include <vector>

namespace meridane::xmp {
namespace {

std::string_view localName(std::string_view name) {
    const auto colon = name.rfind(':');
    return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

// The first direct child element named exactly `name` or exactly its local
// name (an unprefixed property); another prefix does not match.
std::optional<XmlElement> findMatchingChild(std::string_view name, const XmlElement& element) {
    const std::string_view local = localName(name);
    for (XmlNode child = element.firstChild(); child; child = child.nextSibling()) {
        if (!child.isElement())
            continue;
        const auto childName = child.nameView();
        if (!childName)
            continue;
        if (*childName == name || *childName == local)
            return child.asElement();
    }
    return std::nullopt;
}

std::string trimmedValue(const XmlNode& node) {
    const auto value = node.stringValue();
    return value ? text::trimmed(*value) : std::string();
}

bool indicatesGPS(const NameView& name) {
    for (std::string_view marker : {"GPSLatitude", "GPSLongitude", "GPSLatitudeRef", "GPSLongitudeRef"})
        if (name.contains(marker))
            return true;
    return false;
}

// Depth-first walk in document order that visits each element before any
// element below it. It follows the tree's own links rather than recursing,
// so the document's depth never becomes the call stack's.
template <typename Accept>
std::optional<XmlElement> firstInPreOrder(const XmlElement& start, const Accept& accept) {
    if (accept(start))
        return start;
    XmlNode node = start.firstChild();
    while (node) {
        if (const auto element = node.asElement()) {
            if (accept(*element))
                return element;
            if (const XmlNode below = node.firstChild()) {
                node = below;
                continue;
            }
        }
        // Climb until a following sibling exists, never above `start`.
        while (!node.nextSibling()) {
            node = node.parent();
            if (!node || node.raw() == start.raw())
                return std::nullopt;
        }
        node = node.nextSibling();
    }
    return std::nullopt;
}

}  // namespace

std::optional<XmlElement> findDescriptionElement(const XmlDocument& document) {
    const auto root = document.rootElement();
    if (!root) {
        diag::debug("XMPXML: No suitable element found");
        return std::nullopt;
    }
    if (auto container = findGPSContainer(*root)) {
        diag::debug("XMPXML: Found element containing GPS data");
        logElementContents(*container, "GPS Container");
        return container;
    }
    if (auto description = findFirstDescription(*root)) {
        diag::debug("XMPXML: Using first Description-like element as fallback");
        logElementContents(*description, "Fallback Description");
        return description;
    }
    diag::debug("XMPXML: No suitable element found");
    return std::nullopt;
}

std::optional<std::string> getElementValue(std::string_view name, const XmlElement& element) {
    diag::debug("XMPXML: Looking for '", name, "' in element");
    if (const auto child = findMatchingChild(name, element)) {
        const auto value = child->stringValue();
        std::optional<std::string> result = value ? std::optional<std::string>(text::trimmed(*value)) : std::nullopt;
        if (diag::isListening())
            diag::debug("XMPXML: Found '", name, "' = '", result.value_or("nil"), "' via exact match '",
                        child->name().value_or(""), "'");
        return result;
    }
    diag::debug("XMPXML: Could not find '", name, "' in element");
    logChildElements(element);
    return std::nullopt;
}

void setElementValue(std::string_view value, std::string_view name, XmlElement& element) {
    diag::debug("XMPXML: Setting '", name, "' = '", value, "'");
    if (auto child = findMatchingChild(name, element)) {
        child->setStringValue(value);
        if (diag::isListening())
            diag::debug("XMPXML: Updated existing element '", child->name().value_or(""), "'");
        return;
    }
    element.appendChildElement(name, value);
    diag::debug("XMPXML: Created new element '", name, "'");
}

std::optional<XmlElement> findGPSContainer(const XmlElement& element) {
    // An element qualifies when one of its direct children is GPS-named; all
    // of them are tested before the search goes below any of them.
    return firstInPreOrder(element, [](const XmlElement& candidate) {
        for (XmlNode child = candidate.firstChild(); child; child = child.nextSibling()) {
            if (!child.isElement())
                continue;
            if (const auto name = child.nameView(); name && indicatesGPS(*name))
                return true;
        }
        return false;
    });
}

std::optional<XmlElement> findFirstDescription(const XmlElement& element) {
    return firstInPreOrder(element, [](const XmlElement& candidate) {
        const auto name = candidate.nameView();
        return name && name->contains("Description");
    });
}

bool nameIndicatesGPS(std::string_view name) { return indicatesGPS(NameView{{}, name}); }

void logElementContents(const XmlElement& element, std::string_view label) {
    if (!diag::isListening())
        return;  // walking and trimming every child is the costly part
    const auto children = element.children();
    diag::debug("XMPXML: " + std::string(label) + " contents:");
    diag::debug("  Element name: " + element.name().value_or("nil"));
    diag::debug("  Children count: " + std::to_string(children.size()));
    for (size_t i = 0; i < children.size(); ++i) {
        if (!children[i].isElement())
            continue;
        diag::debug("    [" + std::to_string(i) + "] " + children[i].name().value_or("unnamed") + " = '" +
                    trimmedValue(children[i]) + "'");
    }
}

void logChildElements(const XmlElement& element) {
    if (!diag::isListening())
        return;
    const auto children = element.children();
    diag::debug("XMPXML: All child elements:");
    for (size_t i = 0; i < children.size(); ++i) {
        if (!children[i].isElement())
            continue;
        diag::debug("  [" + std::to_string(i) + "] '" + children[i].name().value_or("unnamed") + "' = '" +
                    trimmedValue(children[i]) + "'");
    }
}

}  // namespace meridane::xmp
