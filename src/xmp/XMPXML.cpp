// SPDX-License-Identifier: GPL-3.0-or-later
#include "xmp/XMPXML.h"

#include "base/Diagnostics.h"
#include "base/UnicodeText.h"

#include <functional>
#include <utility>
#include <vector>

namespace meridane::xmp {
namespace {

std::string localName(std::string_view name) {
    const auto colon = name.rfind(':');
    return std::string(colon == std::string_view::npos ? name : name.substr(colon + 1));
}

// The first direct child element named exactly `name` or exactly its local
// name (an unprefixed property); another prefix does not match.
std::optional<XmlElement> findMatchingChild(std::string_view name, const XmlElement& element) {
    const std::string local = localName(name);
    for (const XmlNode& child : element.children()) {
        if (!child.isElement())
            continue;
        const auto childName = child.name();
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

// Depth-first walk in document order that visits each element before any
// element below it. It keeps its own stack rather than recursing, so the
// document's depth never becomes the call stack's.
std::optional<XmlElement> firstInPreOrder(const XmlElement& start,
                                          const std::function<bool(const XmlElement&)>& accept) {
    if (accept(start))
        return start;
    std::vector<std::pair<std::vector<XmlNode>, size_t>> stack;
    stack.emplace_back(start.children(), 0);
    while (!stack.empty()) {
        auto& [children, next] = stack.back();
        if (next == children.size()) {
            stack.pop_back();
            continue;
        }
        const XmlNode node = children[next++];
        const auto element = node.asElement();
        if (!element)
            continue;
        if (accept(*element))
            return element;
        stack.emplace_back(element->children(), 0);
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
    diag::debug("XMPXML: Looking for '" + std::string(name) + "' in element");
    if (const auto child = findMatchingChild(name, element)) {
        const auto value = child->stringValue();
        const std::optional<std::string> result =
            value ? std::optional<std::string>(text::trimmed(*value)) : std::nullopt;
        diag::debug("XMPXML: Found '" + std::string(name) + "' = '" + result.value_or("nil") +
                    "' via exact match '" + child->name().value_or("") + "'");
        return result;
    }
    diag::debug("XMPXML: Could not find '" + std::string(name) + "' in element");
    logChildElements(element);
    return std::nullopt;
}

void setElementValue(std::string_view value, std::string_view name, XmlElement& element) {
    diag::debug("XMPXML: Setting '" + std::string(name) + "' = '" + std::string(value) + "'");
    if (auto child = findMatchingChild(name, element)) {
        child->setStringValue(value);
        diag::debug("XMPXML: Updated existing element '" + child->name().value_or("") + "'");
        return;
    }
    element.appendChildElement(name, value);
    diag::debug("XMPXML: Created new element '" + std::string(name) + "'");
}

std::optional<XmlElement> findGPSContainer(const XmlElement& element) {
    // An element qualifies when one of its direct children is GPS-named; all
    // of them are tested before the search goes below any of them.
    return firstInPreOrder(element, [](const XmlElement& candidate) {
        for (const XmlNode& child : candidate.children()) {
            if (!child.isElement())
                continue;
            if (const auto name = child.name(); name && nameIndicatesGPS(*name))
                return true;
        }
        return false;
    });
}

std::optional<XmlElement> findFirstDescription(const XmlElement& element) {
    return firstInPreOrder(element, [](const XmlElement& candidate) {
        const auto name = candidate.name();
        return name && name->find("Description") != std::string::npos;
    });
}

bool nameIndicatesGPS(std::string_view name) {
    for (std::string_view marker : {"GPSLatitude", "GPSLongitude", "GPSLatitudeRef", "GPSLongitudeRef"})
        if (name.find(marker) != std::string_view::npos)
            return true;
    return false;
}

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
