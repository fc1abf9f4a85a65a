// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/JsonLines.h"

#include "engine/Report.h"
#include "base/Utf8Text.h"

#include <QByteArray>

#include <type_traits>

namespace meridane::cli {
namespace {

std::string jsonStrings(const std::vector<std::string>& texts) {
    std::string out = "[";
    for (size_t i = 0; i < texts.size(); ++i) {
        if (i)
            out.push_back(',');
        out.append(jsonString(texts[i]));
    }
    out.push_back(']');
    return out;
}

std::string jsonOptional(const std::optional<std::string>& text) { return text ? jsonString(*text) : "null"; }

std::string jsonPayload(const ProcessingResult& result) {
    return std::visit(
        [](const auto& p) -> std::string {
            using T = std::decay_t<decltype(p)>;
            if constexpr (std::is_same_v<T, ProcessingResult::Updated> || std::is_same_v<T, ProcessingResult::Restored>) {
                return "{\"changes\":" + jsonStrings(p.changes) + "}";
            } else if constexpr (std::is_same_v<T, ProcessingResult::WithinTolerance>) {
                return "{\"differences\":" + jsonStrings(p.differences) + "}";
            } else if constexpr (std::is_same_v<T, ProcessingResult::SkippedNonApple>) {
                std::string device = "null";
                if (p.device)
                    device = "{\"make\":" + jsonOptional(p.device->make) + ",\"model\":" + jsonOptional(p.device->model) +
                             ",\"software\":" + jsonOptional(p.device->software) + "}";
                return "{\"device\":" + device + ",\"reason\":" + jsonString(p.reason) + "}";
            } else if constexpr (std::is_same_v<T, ProcessingResult::SkippedDifferentGPS>) {
                std::string out = "{\"differences\":[";
                for (size_t i = 0; i < p.differences.size(); ++i) {
                    const GPSDifference& d = p.differences[i];
                    if (i)
                        out.push_back(',');
                    out += "{\"field\":" + jsonString(d.field) + ",\"currentValue\":" + jsonString(d.currentValue) +
                           ",\"newValue\":" + jsonString(d.newValue) + "}";
                }
                return out + "]}";
            } else if constexpr (std::is_same_v<T, ProcessingResult::Failed>) {
                return "{\"error\":" + jsonString(p.error) + "}";
            } else if constexpr (std::is_same_v<T, ProcessingResult::AlreadyCorrect>) {
                return "{}";
            } else {
                return "{\"reason\":" + jsonString(p.reason) + "}";
            }
        },
        result.payload());
}

}  // namespace

std::string jsonString(std::string_view text) {
    static constexpr char hex[] = "0123456789abcdef";
    const std::string valid = utf8::withReplacementCharacters(text);
    std::string out;
    out.reserve(valid.size() + 2);
    out.push_back('"');
    for (const char ch : valid) {
        const auto c = static_cast<unsigned char>(ch);
        switch (c) {
        case '"': out.append("\\\""); break;
        case '\\': out.append("\\\\"); break;
        case '\n': out.append("\\n"); break;
        case '\r': out.append("\\r"); break;
        case '\t': out.append("\\t"); break;
        case '\b': out.append("\\b"); break;
        case '\f': out.append("\\f"); break;
        default:
            if (c < 0x20 || c == 0x7F) {
                out.append("\\u00");
                out.push_back(hex[c >> 4]);
                out.push_back(hex[c & 0x0F]);
            } else {
                out.push_back(ch);
            }
        }
    }
    out.push_back('"');
    return out;
}

std::string jsonLine(const ProcessingResultDetail& detail) {
    const std::string& path = detail.filePath.native();
    std::string line = "{\"path\":" + jsonString(path);
    if (!utf8::isValid(path)) {
        const QByteArray encoded = QByteArray(path.data(), static_cast<qsizetype>(path.size())).toBase64();
        line += ",\"pathBase64\":\"" + std::string(encoded.constData(), static_cast<size_t>(encoded.size())) + "\"";
    }
    line += ",\"case\":" + jsonString(detail.result.caseName());
    line += ",\"payload\":" + jsonPayload(detail.result);
    line += ",\"report\":" + jsonString(reportText(detail.result));
    line.push_back('}');
    return line;
}

}  // namespace meridane::cli
