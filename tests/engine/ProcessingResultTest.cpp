#include "engine/ProcessingResult.h"

#include <gtest/gtest.h>

namespace meridane {
namespace {

struct AppleCase {
    const char* name;
    DeviceData device;
    bool apple;
};

void PrintTo(const AppleCase& c, std::ostream* os) { *os << c.name; }

class IsAppleDevice : public ::testing::TestWithParam<AppleCase> {};

TEST_P(IsAppleDevice, Decides) { EXPECT_EQ(GetParam().device.isAppleDevice(), GetParam().apple); }

INSTANTIATE_TEST_SUITE_P(
    Rules, IsAppleDevice,
    ::testing::Values(
        AppleCase{"MakeUpperCase", {"APPLE", {}, {}}, true},
        AppleCase{"MakeWithSuffixIsNotEnough", {"Apple Inc.", "DSC-RX100", "Adobe Photoshop"}, false},
        AppleCase{"SoftwareRule", {"Canon", "Canon EOS R5", "Apple Photos 9.0"}, true},
        AppleCase{"ModelContainsMac", {"Samsung", "Galaxy Tab Macro", {}}, true},
        AppleCase{"ModelIPhone", {{}, "iPhone 15 Pro", {}}, true},
        AppleCase{"ModelIPad", {{}, "iPad Air", {}}, true},
        AppleCase{"ModelIPod", {{}, "iPod touch", {}}, true},
        AppleCase{"AllAbsent", {{}, {}, {}}, false},
        AppleCase{"OtherMaker", {"samsung", "SM-S906U", "S906USQS3DWKA"}, false},
        AppleCase{"VisionPro", {"Apple", "Apple Vision Pro", "1.1.2"}, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ProcessingResult, CasesAreInDeclarationOrder) {
    EXPECT_EQ(static_cast<int>(ProcessingResult::updated({}).resultCase()), 0);
    EXPECT_EQ(static_cast<int>(ProcessingResult::withinTolerance({}).resultCase()), 1);
    EXPECT_EQ(static_cast<int>(ProcessingResult::fileNotFound("").resultCase()), 2);
    EXPECT_EQ(static_cast<int>(ProcessingResult::unsupportedFile("").resultCase()), 3);
    EXPECT_EQ(static_cast<int>(ProcessingResult::skippedMissing("").resultCase()), 4);
    EXPECT_EQ(static_cast<int>(ProcessingResult::skippedNonApple({}, "").resultCase()), 5);
    EXPECT_EQ(static_cast<int>(ProcessingResult::skippedDifferentGPS({}).resultCase()), 6);
    EXPECT_EQ(static_cast<int>(ProcessingResult::failed("").resultCase()), 7);
    EXPECT_EQ(static_cast<int>(ProcessingResult::alreadyCorrect().resultCase()), 8);
    EXPECT_EQ(ProcessingResult::skippedDifferentGPS({}).caseName(), "skippedDifferentGPS");
}

TEST(ProcessingResult, Equality) {
    EXPECT_NE(ProcessingResult::updated({}), ProcessingResult::withinTolerance({}));
    EXPECT_EQ(ProcessingResult::alreadyCorrect(), ProcessingResult::alreadyCorrect());
    EXPECT_NE(ProcessingResult::skippedNonApple(std::nullopt, "Non-Apple source"),
              ProcessingResult::skippedNonApple(DeviceData{}, "Non-Apple source"));
    EXPECT_EQ(ProcessingResult::skippedNonApple(DeviceData{"Canon", {}, {}}, "r"),
              ProcessingResult::skippedNonApple(DeviceData{"Canon", {}, {}}, "r"));
    EXPECT_NE(ProcessingResult::skippedNonApple(DeviceData{"Canon", {}, {}}, "r"),
              ProcessingResult::skippedNonApple(DeviceData{"canon", {}, {}}, "r"));
    EXPECT_NE(ProcessingResult::updated({"a", "b"}), ProcessingResult::updated({"b", "a"}));
    EXPECT_NE(ProcessingResult::skippedDifferentGPS({{"Latitude", "1.0", "2.0"}}),
              ProcessingResult::skippedDifferentGPS({{"Latitude", "1.0", "2.00"}}));
}

TEST(ProcessingResultDetail, RowsWithDifferentIdsDiffer) {
    const auto a = ProcessingResultDetail::make("/p/IMG_1.HEIC", ProcessingResult::alreadyCorrect());
    const auto b = ProcessingResultDetail::make("/p/IMG_1.HEIC", ProcessingResult::alreadyCorrect());
    EXPECT_NE(a, b);
    EXPECT_EQ(a, a);
}

}  // namespace
}  // namespace meridane
