// SPDX-License-Identifier: GPL-3.0-or-later
// Fuzz target: the TIFF reader on arbitrary bytes taken as a TIFF block (a
// DNG), then the whole reader on the same file.
#include "FuzzImageFile.h"

#include "imagemeta/internal/BlockBytes.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace meridane;
    const std::string path = fuzzing::inputFile(data, size);
    auto file = imagemeta::ImageFile::open(path);
    fuzzing::require(file.ok());
    file->limitReads(imagemeta::kMaxTiffReadBytes, imagemeta::kMaxTiffReadCalls);
    imagemeta::BlockBytes block(file.value(), {}, {{0, file->size()}});
    if (auto read = imagemeta::readTiff(block)) {
        // Only the tags the pipeline uses are kept.
        for (const auto* dictionary : {&read->properties.tiff, &read->properties.exif})
            fuzzing::require(!*dictionary || (*dictionary)->entries.size() <= 3);
    }
    fuzzing::readAsThePipelineDoes(path);
    return 0;
}
