// SPDX-License-Identifier: GPL-3.0-or-later
#include "xmp/XmpEdit.h"

#include "xmp/XmlText.h"

#include <algorithm>
#include <map>

namespace meridane::xmp {
namespace {

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// The namespace bindings in scope in a description's start tag, later
// declarations over earlier ones.
std::map<std::string, std::string, std::less<>> bindingsFor(const XmpPacket& packet, const Description& description) {
    std::map<std::string, std::string, std::less<>> bindings;
    auto add = [&](Span tag) {
        for (const auto& attribute : xmltext::scanStartTag(packet.text(), tag.begin).attributes) {
            const std::string_view value =
                packet.text().substr(attribute.valueBegin, attribute.valueEnd - attribute.valueBegin);
            if (attribute.name == "xmlns")
                bindings[""] = xmltext::decodeAttribute(value);
            else if (attribute.name.starts_with("xmlns:"))
                bindings[std::string(attribute.name.substr(6))] = xmltext::decodeAttribute(value);
        }
    };
    for (Span tag : packet.outerStartTags())
        add(tag);
    add(description.startTag);
    return bindings;
}

}  // namespace

void XmpEdit::setValue(const Property& property, std::string_view value) {
    const ValueSlot& slot = property.value;
    switch (slot.kind) {
    case ValueSlot::Kind::attribute:
        splices_.push_back({slot.span.begin, slot.span.end, xmltext::escapeAttribute(value, slot.quote)});
        break;
    case ValueSlot::Kind::content:
        splices_.push_back({slot.span.begin, slot.span.end, xmltext::escapeContent(value)});
        break;
    case ValueSlot::Kind::emptyElement: {
        // <name/> becomes <name>value</name>.
        const size_t open = packet_.text().rfind('<', slot.span.begin);
        const std::string_view name = xmltext::scanStartTag(packet_.text(), open).name;
        // Appended piecewise: GCC 12 reports a false -Wrestrict for ">" + s + ... at -O2.
        std::string text = ">";
        text += xmltext::escapeContent(value);
        text += "</";
        text += name;
        text += '>';
        splices_.push_back({slot.span.begin, slot.span.end, std::move(text)});
        break;
    }
    case ValueSlot::Kind::none:
        break;
    }
}

XmpEdit::Target& XmpEdit::targetFor(const Description& description) {
    for (Target& target : targets_)
        if (target.description == &description)
            return target;
    Target target;
    target.description = &description;
    target.asAttribute = description.elementCount == 0;
    const auto bindings = bindingsFor(packet_, description);
    bool found = false;
    for (const auto& [prefix, uri] : bindings) {
        if (uri == kExifNamespace && !prefix.empty() && (!found || prefix == "exif")) {
            target.prefix = prefix;
            found = true;
        }
    }
    if (!found && !target.asAttribute && bindings.contains("") && bindings.find("")->second == kExifNamespace) {
        found = true;  // the default namespace serves elements (never attributes)
    }
    if (!found) {
        // A prefix the description does not bind yet; "exif" when free.
        target.prefix = "exif";
        for (int n = 1; bindings.contains(target.prefix); ++n)
            target.prefix = "exif" + std::to_string(n);
        insertAttribute(description, "xmlns:" + target.prefix, kExifNamespace);
        target.declared = true;
    }
    targets_.push_back(std::move(target));
    return targets_.back();
}

void XmpEdit::insertAttribute(const Description& description, std::string_view name, std::string_view value) {
    const xmltext::ScannedTag tag = xmltext::scanStartTag(packet_.text(), description.startTag.begin);
    std::uint32_t at = static_cast<std::uint32_t>(tag.name.data() - packet_.text().data() + tag.name.size());
    std::string separator = " ";
    char quote = '"';
    if (!tag.attributes.empty()) {
        const auto& last = tag.attributes.back();
        at = static_cast<std::uint32_t>(last.valueEnd + 1);
        separator = std::string(packet_.text().substr(last.leadBegin, last.nameBegin - last.leadBegin));
        quote = last.quote;
    }
    splices_.push_back({at, at, separator + std::string(name) + "=" + quote +
                                    xmltext::escapeAttribute(value, quote) + quote});
}

std::string XmpEdit::addExifProperty(const Description& description, std::string_view localName,
                                     std::string_view value) {
    const Target& target = targetFor(description);
    const std::string name = target.prefix.empty() ? std::string(localName)
                                                   : target.prefix + ":" + std::string(localName);
    if (target.asAttribute) {
        insertAttribute(description, name, value);
        return name;
    }
    // The white space before the last property element is its sibling's
    // indentation, line end included.
    const Span last = description.lastElement;
    const std::string_view text = packet_.text();
    size_t lead = last.begin;
    while (lead > 0 && isSpace(text[lead - 1]))
        --lead;
    const std::string indentation(text.substr(lead, last.begin - lead));
    splices_.push_back({last.end, last.end,
                        indentation + "<" + name + ">" + xmltext::escapeContent(value) + "</" + name + ">"});
    return name;
}

std::string XmpEdit::result() const {
    std::vector<const Splice*> order;
    order.reserve(splices_.size());
    for (const Splice& splice : splices_)
        order.push_back(&splice);
    // Insertions at one place keep the order they were made in.
    std::stable_sort(order.begin(), order.end(), [](const Splice* a, const Splice* b) { return a->begin < b->begin; });
    const std::string_view text = packet_.text();
    std::string out;
    size_t extra = 0;
    for (const Splice* splice : order)
        extra += splice->text.size();
    out.reserve(text.size() + extra);
    size_t at = 0;
    for (const Splice* splice : order) {
        out.append(text.substr(at, splice->begin - at));
        out.append(splice->text);
        at = std::max<size_t>(at, splice->end);
    }
    out.append(text.substr(at));
    return out;
}

}  // namespace meridane::xmp
