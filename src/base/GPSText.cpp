// SPDX-License-Identifier: GPL-3.0-or-later
#include "base/GPSText.h"

#include "base/Diagnostics.h"
#include "base/UnicodeText.h"

#include <QRegularExpression>
#include <QString>

#include <array>
#include <charconv>
#include <cmath>
#include <limits>
#include <vector>

namespace meridane {
namespace {

bool isHemisphereLetter(std::string_view text) { return text == "N" || text == "S" || text == "E" || text == "W"; }

bool isHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// Where a number's most significant digit stands, as a power of the radix
// with the exponent applied (decimal: power of ten; hexadecimal: power of
// two). Only its sign matters: it tells an overflow from an underflow when
// the reading is out of range.
long long magnitudeEstimate(std::string_view digits, bool hex) {
    const auto exponentMark = digits.find_first_of(hex ? "pP" : "eE");
    const std::string_view mantissa = digits.substr(0, exponentMark);
    long long exponent = 0;
    if (exponentMark != std::string_view::npos) {
        std::string_view rest = digits.substr(exponentMark + 1);
        bool negative = false;
        if (!rest.empty() && (rest.front() == '+' || rest.front() == '-')) {
            negative = rest.front() == '-';
            rest.remove_prefix(1);
        }
        for (char c : rest) {
            if (exponent < 1'000'000'000)
                exponent = exponent * 10 + (c - '0');
        }
        if (negative)
            exponent = -exponent;
    }
    const long long digitWeight = hex ? 4 : 1;
    const auto point = mantissa.find('.');
    const std::string_view integral = mantissa.substr(0, point);
    const auto firstSignificant = integral.find_first_not_of('0');
    long long position = 0;
    if (firstSignificant != std::string_view::npos) {
        position = static_cast<long long>(integral.size() - firstSignificant - 1) * digitWeight;
    } else if (point != std::string_view::npos) {
        const std::string_view fraction = mantissa.substr(point + 1);
        const auto firstFraction = fraction.find_first_not_of('0');
        position = firstFraction == std::string_view::npos
                       ? -1
                       : -static_cast<long long>(firstFraction + 1) * digitWeight;
    }
    return position + exponent;
}

// Reads an unsigned decimal or hexadecimal (prefix already removed) number
// that must fill the whole text.
std::optional<double> readUnsigned(std::string_view digits, bool hex) {
    if (digits.empty())
        return std::nullopt;
    double value = 0;
    const char* first = digits.data();
    const char* last = digits.data() + digits.size();
    const auto [end, ec] =
        std::from_chars(first, last, value, hex ? std::chars_format::hex : std::chars_format::general);
    if (end != last)
        return std::nullopt;
    if (ec == std::errc::result_out_of_range) {
        // Like strtod: an overflow reads as infinity, an underflow as zero.
        return magnitudeEstimate(digits, hex) >= 0 ? std::numeric_limits<double>::infinity() : 0.0;
    }
    if (ec != std::errc())
        return std::nullopt;
    return value;
}

std::string toStdString(const QString& text) {
    const QByteArray bytes = text.toUtf8();
    return std::string(bytes.constData(), static_cast<size_t>(bytes.size()));
}

const QRegularExpression& dmsExpression() {
    // Unicode properties give \d and \s the same reach as the platform's
    // regular expressions (any decimal digit, any Unicode space); matching
    // stays case-sensitive, so only the lower-case word deg matches.
    thread_local const QRegularExpression expression(
        QStringLiteral(R"RX((\d+(?:\.\d+)?)\s*deg\s*(\d+(?:\.\d+)?)'\s*(\d+(?:\.\d+)?)")RX"),
        QRegularExpression::UseUnicodePropertiesOption);
    return expression;
}

std::vector<std::string_view> nonEmptyPieces(std::string_view text, char separator) {
    std::vector<std::string_view> pieces;
    size_t start = 0;
    while (start <= text.size()) {
        const auto end = text.find(separator, start);
        const auto piece = text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
        if (!piece.empty())
            pieces.push_back(piece);
        if (end == std::string_view::npos)
            break;
        start = end + 1;
    }
    return pieces;
}

}  // namespace

std::optional<double> gpstext::parseNumber(std::string_view text) {
    if (text.empty())
        return std::nullopt;
    switch (text.front()) {
    case '\t': case '\n': case '\v': case '\f': case '\r': case ' ':
        return std::nullopt;
    default:
        break;
    }

    // strtod's syntax, read by hand where std::from_chars differs: it takes
    // no leading '+' and no "0x" prefix.
    bool negative = false;
    if (text.front() == '+' || text.front() == '-') {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty() || text.front() == '+' || text.front() == '-')
        return std::nullopt;

    std::optional<double> value;
    if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        const std::string_view digits = text.substr(2);
        // At least one hexadecimal digit must follow, possibly after the point;
        // from_chars would also take "inf" or a sign here, strtod does not.
        const bool startsWell = !digits.empty() &&
                                (isHexDigit(digits.front()) ||
                                 (digits.front() == '.' && digits.size() > 1 && isHexDigit(digits[1])));
        if (!startsWell)
            return std::nullopt;
        value = readUnsigned(digits, true);
    } else {
        // Digits, or a point followed by digits, or the words inf, infinity
        // and nan (with an optional "(chars)"), which from_chars knows.
        value = readUnsigned(text, false);
    }
    if (!value)
        return std::nullopt;
    return negative ? -*value : *value;
}

std::optional<double> gpstext::parseDMS(std::string_view text) {
    const QRegularExpression& expression = dmsExpression();
    const QString subject = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    const QRegularExpressionMatch match = expression.isValid() ? expression.match(subject) : QRegularExpressionMatch();
    if (!expression.isValid() || !match.hasMatch()) {
        diag::debug("Failed to parse DMS string: " + std::string(text));
        return std::nullopt;
    }
    const auto group = [&](int index) { return parseNumber(toStdString(match.captured(index))).value_or(0.0); };
    const double degrees = group(1);
    const double minutes = group(2);
    const double seconds = group(3);
    const double value = (degrees + minutes / 60.0) + seconds / 3600.0;
    diag::debug("Parsed DMS " + std::string(text) + " as " + formatDiagnosticDouble(value));
    return value;
}

ParsedGPS gpstext::parseXmpGPS(std::optional<std::string_view> text) {
    const std::string input = text::trimmed(text.value_or(std::string_view()));
    if (input.empty())
        return {std::nullopt, ""};
    const bool listening = diag::isListening();
    if (listening)
        diag::debug("parseXmpGPS input: '" + input + "'");

    const std::string upper = text::upperCased(input);
    std::string ref;
    std::string numberPart = upper;
    if (const std::string last = text::lastCharacter(upper); isHemisphereLetter(last)) {
        ref = last;
        numberPart = text::trimmed(text::withoutLastCharacter(upper));
    }
    if (listening)
        diag::debug("parseXmpGPS numberPart: '" + numberPart + "', ref: '" + ref + "'");

    // Degrees, minutes and seconds, handed over in the letter case as written.
    if (numberPart.find("DEG") != std::string::npos) {
        const std::string dmsText = ref.empty() ? input : text::trimmed(text::withoutLastCharacter(input));
        if (const auto value = parseDMS(dmsText)) {
            if (listening)
                diag::debug("parseXmpGPS parsed DMS: " + dmsText + " = " + formatDiagnosticDouble(*value));
            return {value, ref};
        }
    }

    // Degrees and decimal minutes, "37,46.494", or the XMP standard's form
    // with seconds, "37,46,29.64".
    if (numberPart.find(',') != std::string::npos) {
        const auto pieces = nonEmptyPieces(numberPart, ',');
        if (pieces.size() == 3) {
            const auto degrees = parseNumber(pieces[0]);
            const auto minutes = parseNumber(pieces[1]);
            const auto seconds = parseNumber(pieces[2]);
            if (degrees && minutes && seconds) {
                const double value = (*degrees + *minutes / 60.0) + *seconds / 3600.0;
                if (listening)
                    diag::debug("parseXmpGPS parsed degrees,minutes,seconds: " + formatDiagnosticDouble(*degrees) +
                                "," + formatDiagnosticDouble(*minutes) + "," + formatDiagnosticDouble(*seconds) +
                                " = " + formatDiagnosticDouble(value));
                return {value, ref};
            }
        }
        if (pieces.size() == 2) {
            const auto degrees = parseNumber(pieces[0]);
            const auto minutes = parseNumber(pieces[1]);
            if (degrees && minutes) {
                const double value = *degrees + *minutes / 60.0;
                if (listening)
                    diag::debug("parseXmpGPS parsed degrees,minutes: " + formatDiagnosticDouble(*degrees) + "," +
                                formatDiagnosticDouble(*minutes) + " = " + formatDiagnosticDouble(value));
                return {value, ref};
            }
        }
    }

    std::string decimal = numberPart;
    for (char& c : decimal)
        if (c == ',')
            c = '.';
    if (const auto value = parseNumber(decimal)) {
        if (listening)
            diag::debug("parseXmpGPS parsed as decimal: " + formatDiagnosticDouble(*value));
        return {value, ref};
    }

    diag::debug("parseXmpGPS failed to parse: '" + input + "'");
    return {std::nullopt, ref};
}

std::string gpstext::normalizeHemisphereRef(std::optional<std::string_view> text) {
    const std::string ref = text::upperCased(text::trimmed(text.value_or(std::string_view())));
    if (ref == "N" || ref == "NORTH")
        return "N";
    if (ref == "S" || ref == "SOUTH")
        return "S";
    if (ref == "E" || ref == "EAST")
        return "E";
    if (ref == "W" || ref == "WEST")
        return "W";
    return "";
}

std::optional<double> gpstext::applyHemisphere(std::optional<double> value, std::string_view ref) {
    if (!value)
        return std::nullopt;
    const std::string letter = text::upperCased(ref);
    if (letter == "S" || letter == "W")
        return -std::fabs(*value);
    if (letter == "N" || letter == "E")
        return std::fabs(*value);
    return value;
}

std::string gpstext::canonicalGPSText(std::optional<std::string_view> text) {
    const std::string trimmedText = text::trimmed(text.value_or(std::string_view()));
    if (trimmedText.empty())
        return "";
    const std::string upper = text::upperCased(trimmedText);
    if (const std::string last = text::lastCharacter(upper); isHemisphereLetter(last))
        return text::trimmed(text::withoutLastCharacter(upper)) + last;
    return upper;
}

std::string formatDegreesMinutes(double value) {
    const double magnitude = std::fabs(value);
    if (!std::isfinite(magnitude))
        return formatFixed8(magnitude);
    double degrees = std::floor(magnitude);
    // Minutes in millionths, rounded once, so that 59.9999996 carries into
    // the next degree instead of printing as 60.000000.
    auto micro = static_cast<long long>(std::llround((magnitude - degrees) * 60.0 * 1e6));
    if (micro >= 60'000'000) {
        micro -= 60'000'000;
        degrees += 1;
    }
    std::array<char, 400> buffer{};
    auto [end, ec] = std::to_chars(buffer.data(), buffer.data() + buffer.size(), degrees, std::chars_format::fixed, 0);
    std::string text(buffer.data(), ec == std::errc() ? end : buffer.data());
    const std::string fraction = std::to_string(micro % 1'000'000);
    text += ',' + std::to_string(micro / 1'000'000) + '.' + std::string(6 - fraction.size(), '0') + fraction;
    return text;
}

bool gpstext::sameCoordinateText(std::optional<std::string_view> text, std::string_view expected,
                                 CoordinateFormat format) {
    const std::string canonical = canonicalGPSText(text);
    if (canonical == canonicalGPSText(expected))
        return true;
    if (format != CoordinateFormat::dm || !hasTrailingHemisphere(canonical))
        return false;
    const std::string letter = text::lastCharacter(canonical);
    const std::string numberPart = text::withoutLastCharacter(canonical);  // the pieces view it
    const auto pieces = nonEmptyPieces(numberPart, ',');
    if (pieces.size() != 2 || pieces[0].find_first_not_of("0123456789") != std::string_view::npos)
        return false;
    const auto minutes = parseNumber(pieces[1]);
    if (!minutes || !std::isfinite(*minutes) || *minutes < 0 || *minutes >= 60)
        return false;
    std::array<char, 64> buffer{};
    const auto [end, ec] =
        std::to_chars(buffer.data(), buffer.data() + buffer.size(), *minutes, std::chars_format::fixed, 6);
    if (ec != std::errc())
        return false;
    const std::string degrees(pieces[0].substr(std::min(pieces[0].find_first_not_of('0'), pieces[0].size() - 1)));
    return degrees + "," + std::string(buffer.data(), end) + letter == canonicalGPSText(expected);
}

bool gpstext::hasTrailingHemisphere(std::optional<std::string_view> text) {
    const std::string upper = text::upperCased(text::trimmed(text.value_or(std::string_view())));
    return isHemisphereLetter(text::lastCharacter(upper));
}

}  // namespace meridane
