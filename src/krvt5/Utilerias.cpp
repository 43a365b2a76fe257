#include "krvt5/Utilerias.h"

#include "krvt5/Failure.h"

#include <QByteArray>
#include <QStringDecoder>

namespace krvt5 {
namespace {

constexpr auto base64Options = QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals;

// A fixed keystream: the scramble keeps credentials from being read at a glance, it is not
// encryption.
class KeyStream {
public:
    unsigned char next()
    {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 17;
        state_ ^= state_ << 5;
        return static_cast<unsigned char>(state_ >> 24);
    }

private:
    quint32 state_ = 0x4B525654;
};

bool isScrambleChar(QChar c)
{
    return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9') ||
           c == u'-' || c == u'_';
}

[[noreturn]] void invalid()
{
    throw Failure(QStringLiteral("Dato cifrado no válido: el valor guardado no es un dato cifrado "
                                 "por este programa. Bórrelo para que se vuelva a escribir."));
}

} // namespace

// Layout: base64url (no "=") of the UTF-8 bytes preceded by their CRC-16, each byte mixed
// with the keystream and the previous output byte. The CRC tells a damaged or foreign value
// from a scramble.
QString Utilerias::Encripta(const QString& text)
{
    const QByteArray plain = text.toUtf8();
    const quint16 crc = qChecksum(plain);
    QByteArray payload;
    payload.reserve(plain.size() + 2);
    payload.append(static_cast<char>(crc >> 8)).append(static_cast<char>(crc & 0xFF)).append(plain);

    KeyStream keys;
    unsigned char previous = 0;
    for (char& byte : payload) {
        previous =
            static_cast<unsigned char>((static_cast<unsigned char>(byte) ^ keys.next()) + previous);
        byte = static_cast<char>(previous);
    }
    return QString::fromLatin1(payload.toBase64(base64Options));
}

QString Utilerias::DesEncripta(const QString& scrambled)
{
    // A hand-edited file may leave blanks around the value; a scramble never holds any.
    const QString text = scrambled.trimmed();
    if (text.size() < 3 || text.size() % 4 == 1 ||
        !std::all_of(text.begin(), text.end(), isScrambleChar))
        invalid();
    auto decoded = QByteArray::fromBase64Encoding(
        text.toLatin1(), base64Options | QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        invalid();
    QByteArray payload = std::move(*decoded);
    if (payload.size() < 2)
        invalid();

    KeyStream keys;
    unsigned char previous = 0;
    for (char& byte : payload) {
        const auto mixed = static_cast<unsigned char>(byte);
        byte = static_cast<char>(static_cast<unsigned char>(mixed - previous) ^ keys.next());
        previous = mixed;
    }
    const QByteArrayView plain = QByteArrayView(payload).sliced(2);
    const auto crc = static_cast<quint16>((static_cast<unsigned char>(payload[0]) << 8) |
                                          static_cast<unsigned char>(payload[1]));
    if (crc != qChecksum(plain))
        invalid();
    QStringDecoder utf8(QStringDecoder::Utf8,
                        QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    QString result = utf8(plain);
    if (utf8.hasError())
        invalid();
    return result;
}

} // namespace krvt5
