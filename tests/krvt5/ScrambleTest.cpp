#include "krvt5/Failure.h"
#include "krvt5/Utilerias.h"

#include <gtest/gtest.h>

namespace {

class Scramble : public testing::TestWithParam<QString> {};

TEST_P(Scramble, RoundTripsAsIniSafeAscii)
{
    krvt5::Utilerias utilerias;
    const QString scrambled = utilerias.Encripta(GetParam());
    EXPECT_NE(scrambled, GetParam());
    EXPECT_FALSE(scrambled.isEmpty());
    for (const QChar c : scrambled) {
        EXPECT_TRUE(c >= u'!' && c <= u'~' && c != u'=' && c != u';' && c != u'[' && c != u']')
            << "U+" << std::hex << static_cast<int>(c.unicode());
    }
    EXPECT_EQ(utilerias.DesEncripta(scrambled), GetParam());
    EXPECT_EQ(utilerias.DesEncripta(u' ' + scrambled + u' '), GetParam());
}

QString everyCharacter()
{
    QString text;
    for (char16_t c = 1; c < 0xD800; c += 7)
        text += QChar(c);
    return text + QStringLiteral("😀");
}

INSTANTIATE_TEST_SUITE_P(Cases, Scramble,
                         testing::Values(QString(), QStringLiteral("root"),
                                         QStringLiteral("contraseña"), QStringLiteral("ñandú €"),
                                         QStringLiteral(" a=b; [c] "), QStringLiteral("😀"),
                                         QString(1000, u'a'), everyCharacter()));

TEST(Scramble, DiffersForSimilarTexts)
{
    krvt5::Utilerias utilerias;
    EXPECT_NE(utilerias.Encripta("root"), utilerias.Encripta("roou"));
    EXPECT_NE(utilerias.Encripta("aaaa").left(4), utilerias.Encripta("aaaa").right(4));
}

TEST(Scramble, RejectsWhatItDidNotWrite)
{
    krvt5::Utilerias utilerias;
    QString tampered = utilerias.Encripta("contraseña");
    tampered[0] = tampered[0] == u'A' ? u'B' : u'A';
    const QString rejected[] = {"",         "   ",    "root",
                                "abc!",     "A",      "AAAAA",
                                "c2VjcmV0", tampered, utilerias.Encripta("x").repeated(2)};
    for (const QString& text : rejected) {
        try {
            utilerias.DesEncripta(text);
            ADD_FAILURE() << "accepted \"" << text.toStdString() << '"';
        } catch (const krvt5::Failure& failure) {
            EXPECT_TRUE(failure.message().startsWith("Dato cifrado no válido")) << failure.what();
        }
    }
}

} // namespace
