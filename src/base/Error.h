// SPDX-License-Identifier: GPL-3.0-or-later
// Errors as small values (domain, code, message) and a Result type for
// operations that either yield a value or fail with one of them.
#pragma once

#include <cassert>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

namespace meridane {

enum class ErrorDomain {
    xmp,         ///< "XMP": the sidecar cannot be updated (XmpCode)
    diskSpace,   ///< "DiskSpace": not enough room for a save (DiskSpaceCode)
    validation,  ///< "Validation": the written temporary file failed a check (ValidationCode)
    fileSystem,  ///< "FileSystem": a system call failed; the code is errno
    xmlParser,   ///< "XMLParser": libxml2's error code
    bookmark,    ///< "Bookmark": a folder grant cannot be made or used; the code is errno
    imageFile,   ///< "ImageFile": an image cannot be read; the code is errno or 0
    heif,        ///< "HEIF": an HEIF container's item structure is damaged (HeifCode)
    exif,        ///< "Exif": an Exif block cannot be decoded
    journal,     ///< "Journal": a run's journal cannot be written or read (JournalCode)
};

/// The domain's name as written in messages and diagnostics ("DiskSpace").
std::string_view domainName(ErrorDomain domain);

enum XmpCode : int { kXmpInvalid = 1 };
enum DiskSpaceCode : int { kDiskSpaceInsufficient = 1 };
enum ValidationCode : int {
    kTempFileNotCreated = 1,
    kTempFileEmpty = 2,
    kTempFileTooSmall = 3,
    kTempFileNotXml = 4,
    kTempFileNoDescription = 5,
    kTempFileNoGPS = 6,
    kTempFileUnparseableGPS = 7,
    kTempFileBadHemisphere = 8,
};
enum JournalCode : int { kJournalUnwritable = 1, kJournalDamaged = 2, kJournalBusy = 3, kJournalUnknownRun = 4 };
enum HeifCode : int { kHeifStructure = 1, kHeifExifLocation = 2, kHeifExifHeader = 3 };

struct Error {
    ErrorDomain domain = ErrorDomain::fileSystem;
    int code = 0;
    /// Human-readable text; it becomes a file's failure text as it stands.
    std::string message;

    bool operator==(const Error&) const = default;
};

/// The system's English description of an errno value ("Permission denied"),
/// whatever the locale: strerror follows LC_MESSAGES once Qt has set it, and
/// a row's or a log line's text must not switch language midway.
std::string systemErrorText(int errorNumber);
/// The same for the middle of a sentence ("…: read-only file system"), with
/// EPERM said as "permission denied" like EACCES.
std::string systemErrorInWords(int errorNumber);

/// The error's full rendering for diagnostics:
/// Error Domain=DiskSpace Code=1 "Insufficient disk space. …".
std::string describe(const Error& error);

/// Value for operations that succeed without producing anything.
struct Done {
    bool operator==(const Done&) const = default;
};

template <typename T>
class [[nodiscard]] Result {
public:
    Result(T value) : state_(std::move(value)) {}          // NOLINT(google-explicit-constructor)
    Result(Error error) : state_(std::move(error)) {}      // NOLINT(google-explicit-constructor)

    bool ok() const { return std::holds_alternative<T>(state_); }
    explicit operator bool() const { return ok(); }

    const T& value() const& { assert(ok()); return std::get<T>(state_); }
    T& value() & { assert(ok()); return std::get<T>(state_); }
    T&& value() && { assert(ok()); return std::get<T>(std::move(state_)); }
    const T* operator->() const { return &value(); }
    T* operator->() { return &value(); }

    const Error& error() const { assert(!ok()); return std::get<Error>(state_); }

private:
    std::variant<T, Error> state_;
};

using Status = Result<Done>;

}  // namespace meridane
