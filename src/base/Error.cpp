// SPDX-License-Identifier: GPL-3.0-or-later
#include "base/Error.h"

#include <cerrno>
#include <cstring>

namespace meridane {

std::string_view domainName(ErrorDomain domain) {
    switch (domain) {
    case ErrorDomain::xmp: return "XMP";
    case ErrorDomain::diskSpace: return "DiskSpace";
    case ErrorDomain::validation: return "Validation";
    case ErrorDomain::fileSystem: return "FileSystem";
    case ErrorDomain::xmlParser: return "XMLParser";
    case ErrorDomain::bookmark: return "Bookmark";
    case ErrorDomain::imageFile: return "ImageFile";
    case ErrorDomain::heif: return "HEIF";
    case ErrorDomain::exif: return "Exif";
    case ErrorDomain::journal: return "Journal";
    }
    return "Unknown";
}

std::string describe(const Error& error) {
    return "Error Domain=" + std::string(domainName(error.domain)) + " Code=" + std::to_string(error.code) + " \"" +
           error.message + "\"";
}

std::string systemErrorText(int errorNumber) {
    const char* description = strerrordesc_np(errorNumber);
    return description ? description : "Unknown error " + std::to_string(errorNumber);
}

std::string systemErrorInWords(int errorNumber) {
    std::string text = systemErrorText(errorNumber == EPERM ? EACCES : errorNumber);
    if (!text.empty() && text.front() >= 'A' && text.front() <= 'Z')
        text.front() = static_cast<char>(text.front() - 'A' + 'a');
    return text;
}

}  // namespace meridane
