// SPDX-License-Identifier: GPL-3.0-or-later
// Fuzz target: the HEIF item walk on arbitrary bytes, the TIFF reader on the
// Exif item it finds, then the whole reader on the same file.
#include "FuzzImageFile.h"

#include "imagemeta/internal/BlockBytes.h"

#include <algorithm>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace meridane;
    const std::string path = fuzzing::inputFile(data, size);
    auto file = imagemeta::ImageFile::open(path);
    fuzzing::require(file.ok());
    std::vector<std::uint8_t> head;
    fuzzing::require(file->readAt(0, std::min<std::size_t>(size, imagemeta::kHeadSize), head).ok());
    file->limitReads(imagemeta::kMaxHeifWalkBytes, imagemeta::kMaxHeifWalkCalls);
    auto lookup = imagemeta::findPrimaryExif(file.value(), head);
    if (lookup && lookup->exifItem) {
        for (const imagemeta::FileRange& range : *lookup->exifItem)
            fuzzing::require(range.offset <= size && range.length <= size - range.offset);
        file->limitReads(imagemeta::kMaxTiffReadBytes, imagemeta::kMaxTiffReadCalls);
        imagemeta::BlockBytes item(file.value(), head, std::move(*lookup->exifItem));
        if (auto block = imagemeta::tiffBlockOfExifItem(item))
            (void)imagemeta::readTiff(block.value());
    }
    fuzzing::readAsThePipelineDoes(path);
    return 0;
}
