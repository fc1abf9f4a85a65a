// SPDX-License-Identifier: GPL-3.0-or-later
// The outcome of one media file: a tagged union of nine cases, and two more
// for the sidecars of an undone run, plus the row that carries it, the camera
// identity and one GPS mismatch.
#pragma once

#include "base/DeviceData.h"
#include "base/GPSDifference.h"

#include <QUuid>

#include <filesystem>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace meridane {

class ProcessingResult {
public:
    /// Declaration order is the order of the tag values 0 to 10; the two
    /// cases of an undo follow the nine of a run.
    enum class Case {
        updated,
        withinTolerance,
        fileNotFound,
        unsupportedFile,
        skippedMissing,
        skippedNonApple,
        skippedDifferentGPS,
        failed,
        alreadyCorrect,
        restored,
        notRestored,
    };
    static constexpr std::size_t kCaseCount = 11;

    /// dryRun: the changes were only reported, under the options of the run
    /// that made the row; the row keeps that wording whatever the switch says later.
    struct Updated {
        std::vector<std::string> changes;
        bool dryRun = false;
        bool operator==(const Updated&) const = default;
    };
    struct WithinTolerance { std::vector<std::string> differences; bool operator==(const WithinTolerance&) const = default; };
    struct FileNotFound { std::string reason; bool operator==(const FileNotFound&) const = default; };
    struct UnsupportedFile { std::string reason; bool operator==(const UnsupportedFile&) const = default; };
    struct SkippedMissing { std::string reason; bool operator==(const SkippedMissing&) const = default; };
    struct SkippedNonApple {
        std::optional<DeviceData> device;
        std::string reason;
        bool operator==(const SkippedNonApple&) const = default;
    };
    struct SkippedDifferentGPS { std::vector<GPSDifference> differences; bool operator==(const SkippedDifferentGPS&) const = default; };
    struct Failed { std::string error; bool operator==(const Failed&) const = default; };
    struct AlreadyCorrect { bool operator==(const AlreadyCorrect&) const = default; };
    /// An undo put the sidecar's earlier bytes back; changes as GPS change lines.
    struct Restored { std::vector<std::string> changes; bool operator==(const Restored&) const = default; };
    /// An undo left the sidecar alone: "changed since the run" or "sidecar missing".
    struct NotRestored { std::string reason; bool operator==(const NotRestored&) const = default; };

    using Payload = std::variant<Updated, WithinTolerance, FileNotFound, UnsupportedFile, SkippedMissing,
                                 SkippedNonApple, SkippedDifferentGPS, Failed, AlreadyCorrect, Restored, NotRestored>;

    static ProcessingResult updated(std::vector<std::string> changes, bool dryRun = false) {
        return {Updated{std::move(changes), dryRun}};
    }
    static ProcessingResult withinTolerance(std::vector<std::string> differences) { return {WithinTolerance{std::move(differences)}}; }
    static ProcessingResult fileNotFound(std::string reason) { return {FileNotFound{std::move(reason)}}; }
    static ProcessingResult unsupportedFile(std::string reason) { return {UnsupportedFile{std::move(reason)}}; }
    static ProcessingResult skippedMissing(std::string reason) { return {SkippedMissing{std::move(reason)}}; }
    static ProcessingResult skippedNonApple(std::optional<DeviceData> device, std::string reason) {
        return {SkippedNonApple{std::move(device), std::move(reason)}};
    }
    static ProcessingResult skippedDifferentGPS(std::vector<GPSDifference> differences) {
        return {SkippedDifferentGPS{std::move(differences)}};
    }
    static ProcessingResult failed(std::string error) { return {Failed{std::move(error)}}; }
    static ProcessingResult alreadyCorrect() { return {AlreadyCorrect{}}; }
    static ProcessingResult restored(std::vector<std::string> changes) { return {Restored{std::move(changes)}}; }
    static ProcessingResult notRestored(std::string reason) { return {NotRestored{std::move(reason)}}; }

    Case resultCase() const { return static_cast<Case>(payload_.index()); }
    const Payload& payload() const { return payload_; }
    template <typename T>
    const T* get() const { return std::get_if<T>(&payload_); }

    /// The case's name as written in code: "updated", "skippedNonApple", ...
    static std::string_view caseName(Case c);
    std::string_view caseName() const { return caseName(resultCase()); }

    bool operator==(const ProcessingResult&) const = default;

private:
    ProcessingResult(Payload payload) : payload_(std::move(payload)) {}  // NOLINT
    Payload payload_;
};

/// One row of a run's results.
struct ProcessingResultDetail {
    QUuid id;
    std::filesystem::path filePath;  ///< the media file, not its sidecar (an undo's rows: the sidecar)
    ProcessingResult result;

    static ProcessingResultDetail make(std::filesystem::path filePath, ProcessingResult result) {
        return {QUuid::createUuid(), std::move(filePath), std::move(result)};
    }
    bool operator==(const ProcessingResultDetail&) const = default;
};

}  // namespace meridane
