// SPDX-License-Identifier: GPL-3.0-or-later
// The packet parser and the byte splices on arbitrary bytes: a parse never
// crashes; on a packet it accepts, every value can be read, and setting
// each text GPS property and adding the missing ones gives a packet that
// parses again, holds exactly the values set, and is byte for byte the old
// text outside the changes.
#include "xmp/XmpEdit.h"
#include "xmp/XmpPacket.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

using namespace meridane::xmp;

void require(bool condition) {
    if (!condition)
        std::abort();
}

constexpr std::string_view kValue = "1<&'\"]]>N";

const Property* firstOf(const XmpPacket& packet, GPSName name, int& count) {
    const Property* first = nullptr;
    count = 0;
    for (const Description& description : packet.descriptions())
        for (const Property& property : packet.properties(description))
            if (property.gps == name) {
                first = first ? first : &property;
                ++count;
            }
    return first;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const auto parsed = XmpPacket::parse(bytes);
    if (!parsed)
        return 0;
    const XmpPacket& packet = parsed.value();
    for (const Description& description : packet.descriptions())
        for (const Property& property : packet.properties(description))
            (void)packet.valueText(property);
    if (packet.descriptions().empty())
        return 0;

    XmpEdit edit(packet);
    bool changed[4] = {};
    for (int i = 0; i < 4; ++i) {
        int count = 0;
        const Property* property = firstOf(packet, static_cast<GPSName>(i), count);
        if (count > 1)
            return 0;  // the update refuses such a packet
        if (!property) {
            edit.addExifProperty(packet.descriptions().front(), kGPSLocalNames[i], kValue);
            changed[i] = true;
        } else if (property->shape == Property::Shape::simple || property->shape == Property::Shape::qualified) {
            edit.setValue(*property, kValue);
            changed[i] = true;
        }
    }
    const std::string result = edit.result();
    const auto again = XmpPacket::parse(result);
    require(bool(again));
    require(again->descriptions().size() == packet.descriptions().size());
    for (int i = 0; i < 4; ++i) {
        int count = 0;
        const Property* property = firstOf(again.value(), static_cast<GPSName>(i), count);
        require(property != nullptr && count == 1);
        if (changed[i])
            require(again->valueText(*property) == kValue);
    }
    return 0;
}
