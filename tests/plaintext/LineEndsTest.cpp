#include "plaintext/LineEnds.h"

#include <gtest/gtest.h>

namespace {

struct LineEndCase {
    const char* name;
    const char* text;
    const char* expected;
};

class LineEnds : public testing::TestWithParam<LineEndCase> {};

TEST_P(LineEnds, BecomeLineFeedsAlikeForTextAndBytes)
{
    const LineEndCase& c = GetParam();
    EXPECT_EQ(plaintext::withLineFeeds(QString::fromUtf8(c.text)), QString::fromUtf8(c.expected));
    std::string out = "before|";
    plaintext::appendWithLineFeeds(out, c.text);
    EXPECT_EQ(out, std::string("before|") + c.expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, LineEnds,
                         testing::Values(LineEndCase{"empty", "", ""},
                                         LineEndCase{"none", "año", "año"},
                                         LineEndCase{"windows", "a\r\nb\r\n", "a\nb\n"},
                                         LineEndCase{"oldMac", "a\rb\r", "a\nb\n"},
                                         LineEndCase{"mixed", "a\r\r\nb\n\rc", "a\n\nb\n\nc"},
                                         LineEndCase{"onlyCarriageReturns", "\r\r", "\n\n"},
                                         LineEndCase{"lineFeedsKept", "\n\n", "\n\n"}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
