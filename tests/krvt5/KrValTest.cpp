#include "krvt5/libKRCM.h"

#include <QDateTime>
#include <cmath>
#include <gtest/gtest.h>
#include <limits>

namespace {

struct KrValCase {
    const char* name;
    QVariant value;
    double expected;
};

class KrVal : public testing::TestWithParam<KrValCase> {};

TEST_P(KrVal, GivesTheNumber)
{
    krvt5::libKRCM lib;
    EXPECT_DOUBLE_EQ(lib.krVal(GetParam().value), GetParam().expected);
}

const double infinity = std::numeric_limits<double>::infinity();

INSTANTIATE_TEST_SUITE_P(
    Cases, KrVal,
    testing::Values(
        KrValCase{"invalid", QVariant(), 0}, KrValCase{"nullText", QVariant(QString()), 0},
        KrValCase{"emptyText", QString(""), 0}, KrValCase{"int", 7, 7},
        KrValCase{"double", 3.25, 3.25}, KrValCase{"int16", QVariant::fromValue<qint16>(-12), -12},
        KrValCase{"float", 2.5f, 2.5}, KrValCase{"true", true, -1}, KrValCase{"false", false, 0},
        KrValCase{"leadingBlanksTrailingText", QString("  12abc"), 12},
        KrValCase{"tabAndSpace", QString("\t 42"), 42},
        KrValCase{"negativeDecimal", QString("-3.5"), -3.5}, KrValCase{"plus", QString("+7"), 7},
        KrValCase{"blanksInsideNumber", QString("1 000"), 1000},
        KrValCase{"blankAfterSign", QString("- 3"), -3},
        KrValCase{"exponent", QString("1e3"), 1000},
        KrValCase{"signedExponent", QString("25E-1"), 2.5},
        KrValCase{"danglingExponent", QString("1e"), 1},
        KrValCase{"danglingSignedExponent", QString("4e+x"), 4},
        KrValCase{"commaEndsNumber", QString("12,5"), 12},
        KrValCase{"secondPointEndsNumber", QString("1.2.3"), 1.2},
        KrValCase{"leadingPoint", QString(".5"), 0.5}, KrValCase{"pointAlone", QString("."), 0},
        KrValCase{"signAlone", QString("-"), 0}, KrValCase{"doubleSign", QString("+-3"), 0},
        KrValCase{"noNumber", QString("abc"), 0},
        KrValCase{"nonAsciiDigits", QString::fromUtf8("\u0663"), 0},
        KrValCase{"hex", QString("&HfF"), 255}, KrValCase{"octal", QString("&O17"), 15},
        KrValCase{"octalStopsAtEight", QString("&O78"), 7},
        KrValCase{"ampersandAlone", QString("&12"), 0},
        KrValCase{"overflow", QString("1e400"), infinity},
        KrValCase{"negativeOverflow", QString("-1e400"), -infinity},
        KrValCase{"underflow", QString("1e-400"), 0},
        KrValCase{"overflowByDigits", QString(400, u'9'), infinity},
        KrValCase{"underflowByDigits", "0." + QString(400, u'0') + "1e0", 0},
        KrValCase{"exponentBeyondLongLong", QString("1e99999999999999999999"), infinity},
        KrValCase{"trailingPoint", QString("5."), 5}, KrValCase{"date", QDate(1900, 1, 1), 2},
        KrValCase{"dateTime", QDateTime(QDate(2024, 1, 1), QTime(6, 0)), 45292.25},
        KrValCase{"dateTimeBeforeEpoch", QDateTime(QDate(1899, 12, 29), QTime(6, 0)), -1.25},
        KrValCase{"utf8Bytes", QByteArray("31.5"), 31.5}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
