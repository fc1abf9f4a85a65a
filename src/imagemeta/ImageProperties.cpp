#include "imagemeta/internal/ImageProperties.h"

#include "imagemeta/internal/ExifDecoding.h"
#include "imagemeta/internal/HeifExif.h"
#include "imagemeta/internal/ImageFile.h"

#include <algorithm>
#include <memory>
#include <utility>

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

bool isTiff(std::span<const std::uint8_t> head) {
    static constexpr std::uint8_t little[] = {'I', 'I', 42, 0};
    static constexpr std::uint8_t big[] = {'M', 'M', 0, 42};
    return head.size() >= 8 && (std::equal(little, little + 4, head.begin()) || std::equal(big, big + 4, head.begin()));
}

/// A TIFF file up to this size is read whole rather than mapped: one read of
/// a few pages costs less than a mapping, whose removal has to interrupt
/// every processor that runs one of the process's threads.
constexpr std::uint64_t kSmallTiffBytes = 256 * 1024;

/// DNG and other classic TIFF files: the file is the TIFF block. Exiv2
/// decodes it from a read-only mapping, which skips its format probing and
/// buffered reads and faults in only the pages that hold directories.
PropertiesRead readTiff(ImageFile& file) {
    PropertiesRead result;
    result.stage = PropertiesStage::noProperties;
    if (file.size() > UINT32_MAX) {
        result.problem = "TIFF file larger than 4 GiB";
        return result;
    }
    std::vector<std::uint8_t> whole;
    std::unique_ptr<ImageFile::Mapping> mapping;
    std::span<const std::uint8_t> bytes;
    if (file.size() <= kSmallTiffBytes) {
        if (Status status = file.readAt(0, static_cast<std::size_t>(file.size()), whole); !status) {
            result.problem = status.error().message;
            return result;
        }
        bytes = whole;
    } else {
        auto mapped = file.map();
        if (!mapped) {
            result.problem = mapped.error().message;
            return result;
        }
        mapping = std::move(mapped).value();
        bytes = mapping->bytes();
    }
    auto decoded = decodeTiffBlock(bytes);
    if (!decoded) {
        result.problem = "Exiv2: " + decoded.error().message;
        return result;
    }
    result.stage = PropertiesStage::read;
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
        if (isTiff(head))
            return readTiff(file.value());
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
