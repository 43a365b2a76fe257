#include "plaintext/Windows1252.h"

#include <gtest/gtest.h>

using plaintext::decodeWindows1252;
using plaintext::encodeWindows1252;

TEST(Windows1252, EveryByteDecodesAndEncodesBackToItself)
{
    QByteArray all(256, Qt::Uninitialized);
    for (int byte = 0; byte < 256; ++byte)
        all[byte] = static_cast<char>(byte);
    const QString text = decodeWindows1252(all);
    ASSERT_EQ(text.size(), 256);
    EXPECT_EQ(encodeWindows1252(text), all);
}

TEST(Windows1252, HighBytesAreWhatWindowsShows)
{
    EXPECT_EQ(decodeWindows1252("\x80\x81\x8A\x96\x9F\xA0\xE9\xFF"),
              QStringLiteral(u"€\u0081Š–Ÿ\u00A0éÿ"));
}

TEST(Windows1252, CharactersWithoutAByteDoNotEncode)
{
    // U+0080 and U+009F are C1 controls whose bytes the code page gives to € and Ÿ.
    for (const char16_t c : {u'\u0080', u'\u009F', u'\u0100', u'✓', u'\uFFFD'})
        EXPECT_EQ(encodeWindows1252(QString(QChar(c))), std::nullopt) << int(c);
    EXPECT_EQ(encodeWindows1252(QStringLiteral(u"€uro")), QByteArray("\x80uro"));
}
