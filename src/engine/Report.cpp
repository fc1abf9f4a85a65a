// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/Report.h"

#include "base/ControlText.h"
#include "base/NumberText.h"
#include "base/UnicodeText.h"

#include <ctime>
#include <string_view>
#include <type_traits>

namespace meridane {
namespace {

constexpr std::string_view kBullet = "\u2022 ";
constexpr std::string_view kEmDash = "\u2014";
constexpr std::string_view kArrow = " \u2192 ";

}  // namespace

std::string utcTimeText(std::chrono::system_clock::time_point time) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[40];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S +0000", &utc);
    return text;
}

std::string reportText(const ProcessingResult& result) {
    return std::visit(
        [](const auto& payload) -> std::string {
            using T = std::decay_t<decltype(payload)>;
            if constexpr (std::is_same_v<T, ProcessingResult::Updated>) {
                if (payload.changes.empty())
                    return "Updated";
                std::string text = payload.dryRun ? "[Dry Run] Would Update:" : "Updated:";
                for (const std::string& change : payload.changes)
                    text.append("\n").append(kBullet).append(text::escapedControls(change));
                return text;
            } else if constexpr (std::is_same_v<T, ProcessingResult::WithinTolerance>) {
                std::string text = "Within tolerance " + std::string(kEmDash) + " not updated";
                if (!payload.differences.empty())
                    text.append(" (")
                        .append(text::escapedControls(text::joined(payload.differences, "; ")))
                        .append(")");
                return text;
            } else if constexpr (std::is_same_v<T, ProcessingResult::FileNotFound>) {
                return "File not found: " + text::escapedControls(payload.reason);
            } else if constexpr (std::is_same_v<T, ProcessingResult::UnsupportedFile>) {
                return "Unsupported: " + text::escapedControls(payload.reason);
            } else if constexpr (std::is_same_v<T, ProcessingResult::SkippedMissing>) {
                return "Skipped (missing): " + text::escapedControls(payload.reason);
            } else if constexpr (std::is_same_v<T, ProcessingResult::SkippedNonApple>) {
                std::string camera;
                if (payload.device) {
                    std::vector<std::string> parts;
                    if (payload.device->make)
                        parts.push_back(*payload.device->make);
                    if (payload.device->model)
                        parts.push_back(*payload.device->model);
                    camera = text::escapedControls(text::joined(parts, " "));
                }
                if (camera.empty())
                    return "Skipped (non-Apple): " + text::escapedControls(payload.reason);
                return "Skipped (non-Apple): " + camera + " - " + text::escapedControls(payload.reason);
            } else if constexpr (std::is_same_v<T, ProcessingResult::SkippedDifferentGPS>) {
                if (payload.differences.empty())
                    return "Skipped (GPS differs)";
                std::string text = "Skipped (GPS differs):";
                for (const GPSDifference& d : payload.differences) {
                    text.append("\n").append(kBullet).append(text::escapedControls(d.field)).append(": ");
                    text.append(text::escapedControls(d.currentValue)).append(kArrow);
                    text.append(text::escapedControls(d.newValue));
                }
                return text;
            } else if constexpr (std::is_same_v<T, ProcessingResult::Failed>) {
                return "Failed: " + text::escapedControls(payload.error);
            } else if constexpr (std::is_same_v<T, ProcessingResult::Restored>) {
                if (payload.changes.empty())
                    return "Restored";
                std::string text = "Restored:";
                for (const std::string& change : payload.changes)
                    text.append("\n").append(kBullet).append(text::escapedControls(change));
                return text;
            } else if constexpr (std::is_same_v<T, ProcessingResult::NotRestored>) {
                return "Not restored: " + text::escapedControls(payload.reason);
            } else {
                static_assert(std::is_same_v<T, ProcessingResult::AlreadyCorrect>);
                return "Already correct";
            }
        },
        result.payload());
}

std::string fileNameText(const std::filesystem::path& filePath) {
    return text::escapedControls(filePath.filename().native());
}

std::string resultLine(const ProcessingResultDetail& detail) {
    return fileNameText(detail.filePath) + ": " + reportText(detail.result);
}

std::string reportHeader(const ProcessingOptionValues& options, std::chrono::system_clock::time_point now,
                         const std::string& undoneRun) {
    std::string report = "Results " + std::string(kEmDash) + " " + utcTimeText(now) + " " + std::string(kEmDash);
    if (!undoneRun.empty())
        report += " Undo of run " + text::escapedControls(undoneRun);
    else
        report += std::string(" Settings: DryRun=") + formatFlag(options.dryRun) +
                  " ForceOverwrite=" + formatFlag(options.alwaysOverwrite) + " AppleOnly=" + formatFlag(options.appleOnly) +
                  " SilentSkip=" + formatFlag(options.silentlyIgnoreSkipped);
    // Named only when they differ from the defaults, so that a default run's
    // header reads as it always has.
    if (undoneRun.empty() && options.coordinateFormat != CoordinateFormat::decimal)
        report += " CoordinateFormat=dm";
    if (undoneRun.empty() && options.sidecarNaming != SidecarNaming::stem)
        report += " SidecarName=full";
    return report;
}

std::string allResultsReport(const std::vector<const ProcessingResultDetail*>& visible,
                             const ProcessingOptionValues& options, std::chrono::system_clock::time_point now,
                             const std::string& undoneRun) {
    std::string report = reportHeader(options, now, undoneRun);
    for (const ProcessingResultDetail* detail : visible)
        report.append("\n").append(resultLine(*detail));
    return report;
}

}  // namespace meridane
