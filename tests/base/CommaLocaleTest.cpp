// SPDX-License-Identifier: GPL-3.0-or-later
// Every number-sensitive helper under a comma-decimal locale, which a Qt
// application adopts from LC_ALL.
#include "base/Diagnostics.h"
#include "base/GPSText.h"
#include "base/NumberText.h"

#include <QLocale>
#include <QScopeGuard>

#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <locale>

namespace meridane {
namespace {

TEST(CommaLocale, NumbersAreReadAndWrittenWithAPoint) {
    const std::string saved = std::setlocale(LC_ALL, nullptr);
    if (!std::setlocale(LC_ALL, "de_DE.UTF-8"))
        GTEST_SKIP() << "locale de_DE.UTF-8 is not installed (scripts/setup.sh generates it)";
    std::locale::global(std::locale("de_DE.UTF-8"));
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    const auto restore = qScopeGuard([&] {
        std::setlocale(LC_ALL, saved.c_str());
        std::locale::global(std::locale::classic());
        QLocale::setDefault(QLocale::c());
    });
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%.1f", 1.5);
    ASSERT_STREQ(buffer, "1,5") << "the comma locale is not in force, so this test would prove nothing";

    EXPECT_EQ(gpstext::parseNumber("37.5"), 37.5);
    EXPECT_EQ(gpstext::parseNumber("37,5"), std::nullopt);
    EXPECT_EQ(formatFixed8(48.85837), "48.85837000");
    EXPECT_EQ(formatDiagnosticDouble(-122.4194), "-122.4194");
    EXPECT_EQ(formatDiagnosticDouble(37.0), "37.0");
    EXPECT_EQ(expectedCoordinateText(-33.5, "S"), "33.50000000S");
    EXPECT_EQ(expectedCoordinateText(30.58036667, "N", CoordinateFormat::dm), "30,34.822000N");

    diag::LineCapture capture;
    EXPECT_EQ(gpstext::parseXmpGPS("37,46.494N").value, 37.7749);
    EXPECT_EQ(gpstext::parseXmpGPS("37.77490000N").value, 37.7749);
    EXPECT_EQ(gpstext::parseDMS("12 deg 30' 15.5\""), 12.504305555555556);
    EXPECT_TRUE(capture.contains("[DEBUG] parseXmpGPS parsed degrees,minutes: 37.0,46.494 = 37.7749"));
    EXPECT_TRUE(capture.contains("[DEBUG] Parsed DMS 12 deg 30' 15.5\" as 12.504305555555556"));
}

}  // namespace
}  // namespace meridane
