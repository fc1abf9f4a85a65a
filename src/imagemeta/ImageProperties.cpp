#include "imagemeta/ImageProperties.h"

#include "imagemeta/ExifDecoding.h"
#include "imagemeta/HeifExif.h"
#include "imagemeta/ImageFile.h"

#include <algorithm>

namespace meridane::imagemeta {

const MetadataValue* PropertyDictionary::find(std::uint16_t wanted) const {
    auto it = std::find_if(entries.begin(), entries.end(), [wanted](const PropertyEntry& e) { return e.tag == wanted; });
    return it == entries.end() ? nullptr : &it->value;
}

namespace {

PropertiesRead readHeif(ImageFile& file, std::span<const std::uint8_t> head) {
    PropertiesRead result;
    auto lookup = findPrimaryExif(file, head);
    if (!lookup) {
        result.stage = PropertiesStage::noProperties;
        result.problem = lookup.error().message;
        return result;
    }
    result.stage = PropertiesStage::read;
    result.problem = lookup->exifProblem;
    if (!lookup->exifItem)
        return result;
    auto block = tiffBlockOfExifItem(*lookup->exifItem);
    if (!block) {
        result.problem = block.error().message;
        return result;
    }
    auto decoded = decodeTiffBlock(block.value());
    if (!decoded) {
        result.problem = "Exiv2: " + decoded.error().message;
        return result;
    }
    result.properties = std::move(decoded.value());
    return result;
}

}  // namespace

PropertiesRead readImageProperties(const std::filesystem::path& path, ReadStats* stats) {
    PropertiesRead result;
    {
        auto file = ImageFile::open(path, stats);
        if (!file) {
            result.problem = file.error().message;
            return result;
        }
        if (file->size() == 0) {
            result.problem = "empty file";
            return result;
        }
        // The format is decided by what the file holds, not by its name.
        std::vector<std::uint8_t> head;
        Status status = file->readAt(0, static_cast<std::size_t>(std::min<std::uint64_t>(file->size(), kHeadSize)), head);
        if (!status) {
            result.problem = status.error().message;
            return result;
        }
        if (isHeifFile(head))
            return readHeif(file.value(), head);
    }
    return readWithExiv2(path, stats);
}

std::string describeDictionary(const PropertyDictionary& dictionary) {
    std::string text = "{";
    for (std::size_t i = 0; i < dictionary.entries.size(); ++i) {
        if (i > 0)
            text += "; ";
        text += dictionary.entries[i].name;
        text += " = ";
        text += describeValue(dictionary.entries[i].value);
    }
    text += "}";
    return text;
}

}  // namespace meridane::imagemeta
