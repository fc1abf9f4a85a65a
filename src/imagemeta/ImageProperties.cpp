// SPDX-License-Identifier: GPL-3.0-or-later
#include "imagemeta/internal/ImageProperties.h"

#include "imagemeta/internal/BlockBytes.h"
#include "imagemeta/internal/HeifExif.h"
#include "imagemeta/internal/ImageFile.h"
#include "imagemeta/internal/JpegExif.h"
#include "imagemeta/internal/TiffReader.h"

#include <algorithm>
#include <utility>

namespace meridane::imagemeta {

const MetadataValue* PropertyDictionary::find(std::uint16_t wanted) const {
    auto it = std::find_if(entries.begin(), entries.end(), [wanted](const PropertyEntry& e) { return e.tag == wanted; });
    return it == entries.end() ? nullptr : &it->value;
}

namespace {

/// The properties of a TIFF block. Damage to a block found inside a
/// container leaves the image with empty properties and the reason; a file
/// that is the block itself (`onDamage` noProperties) has none at all.
PropertiesRead readExifBlock(BlockBytes block, PropertiesStage onDamage = PropertiesStage::read) {
    PropertiesRead result;
    auto decoded = readTiff(block);
    if (!decoded) {
        result.stage = onDamage;
        result.problem = decoded.error().message;
        return result;
    }
    result.stage = PropertiesStage::read;
    result.properties = std::move(decoded->properties);
    result.problem = std::move(decoded->problem);
    return result;
}

constexpr std::string_view kTruncated = "file is truncated";

PropertiesRead readHeif(ImageFile& file, std::span<const std::uint8_t> head) {
    PropertiesRead result;
    file.limitReads(kMaxHeifWalkBytes, kMaxHeifWalkCalls);
    auto lookup = findPrimaryExif(file, head);
    if (!lookup) {
        result.stage = PropertiesStage::noProperties;
        result.problem = lookup.error().message;
        if (lookup.error().code == kHeifTruncated)
            result.unreadable = kTruncated;
        return result;
    }
    result.stage = PropertiesStage::read;
    result.problem = lookup->exifProblem;
    if (lookup->truncated)
        result.unreadable = kTruncated;
    if (!lookup->exifItem)
        return result;
    file.limitReads(kMaxTiffReadBytes, kMaxTiffReadCalls);
    BlockBytes item(file, head, std::move(*lookup->exifItem));
    auto block = tiffBlockOfExifItem(item);
    if (!block) {
        result.problem = block.error().message;
        return result;
    }
    return readExifBlock(std::move(block.value()));
}

PropertiesRead readJpeg(ImageFile& file, std::span<const std::uint8_t> head) {
    PropertiesRead result;
    result.stage = PropertiesStage::noProperties;
    auto segment = findJpegExif(file, head);
    if (!segment) {
        result.problem = segment.error().message;
        return result;
    }
    if (!segment.value()) {
        result.stage = PropertiesStage::read;
        return result;
    }
    return readExifBlock(BlockBytes(file, head, {*segment.value()}));
}

/// DNG and other classic TIFF files: the file is the TIFF block, so a
/// directory beyond its end means the file was cut short.
PropertiesRead readTiffFile(ImageFile& file, std::span<const std::uint8_t> head) {
    PropertiesRead result =
        readExifBlock(BlockBytes(file, head, {FileRange{0, file.size()}}), PropertiesStage::noProperties);
    if (result.stage == PropertiesStage::noProperties &&
        (result.problem.ends_with("lies beyond the end of the data") || result.problem.ends_with("is cut short")))
        result.unreadable = kTruncated;
    return result;
}

bool isTiff(std::span<const std::uint8_t> head) { return head.size() >= 8 && hasTiffHeader(head); }

PropertiesRead readByContent(ImageFile& file) {
    PropertiesRead result;
    if (file.size() == 0) {
        result.problem = "empty file";
        result.unreadable = "file is empty";
        return result;
    }
    // The format is decided by what the file holds, not by its name.
    std::vector<std::uint8_t> head;
    Status status = file.readAt(0, static_cast<std::size_t>(std::min<std::uint64_t>(file.size(), kHeadSize)), head);
    if (!status) {
        result.problem = status.error().message;
        result.unreadable = status.error().message;
        return result;
    }
    if (isHeifFile(head))
        return readHeif(file, head);
    // A TIFF or JPEG file costs at most kMaxTiffReadBytes, its head included.
    file.limitReads(kMaxTiffReadBytes - head.size(), kMaxTiffReadCalls);
    if (isTiff(head))
        return readTiffFile(file, head);
    if (isJpegFile(head))
        return readJpeg(file, head);
    result.problem = "not an image format that can be read";
    result.unreadable = "not a HEIF, DNG or JPEG file";
    return result;
}

}  // namespace

PropertiesRead readImageProperties(ImageFile& file) {
    PropertiesRead result = readByContent(file);
    if (result.stage == PropertiesStage::cannotOpen)
        return result;
    if (Status unchanged = file.checkUnchanged(); !unchanged) {
        result.stage = PropertiesStage::noProperties;
        result.properties = {};
        result.problem = unchanged.error().message;
        result.unreadable = unchanged.error().message;
    }
    return result;
}

PropertiesRead readImageProperties(const std::filesystem::path& path, ReadStats* stats) {
    auto file = ImageFile::open(path, stats);
    if (!file) {
        PropertiesRead result;
        result.problem = file.error().message;
        result.unreadable = unreadableFileText(file.error());
        return result;
    }
    return readImageProperties(file.value());
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
