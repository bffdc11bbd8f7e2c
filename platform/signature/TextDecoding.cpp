#include "TextDecoding.h"

#include "OpenSslHandles.h"

#include <QStringDecoder>
#include <ctime>
#include <openssl/asn1.h>
#include <openssl/crypto.h>

namespace selavia::signature::text {
namespace {

bool isValidUtf8(QByteArrayView bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8);
    QString decoded = decoder.decode(bytes);
    return !decoder.hasError();
}

// Valid UTF-16LE without NUL characters inside (trailing ones were cut).
bool isPlausibleUtf16Le(QByteArrayView bytes)
{
    if (bytes.size() < 2 || bytes.size() % 2 != 0)
        return false;
    QStringDecoder decoder(QStringDecoder::Utf16LE, QStringDecoder::Flag::Stateless);
    QString decoded = decoder.decode(bytes);
    return !decoder.hasError() && !decoded.contains(QChar(0));
}

bool hasZeroHighByte(QByteArrayView bytes)
{
    for (qsizetype i = 1; i < bytes.size(); i += 2) {
        if (bytes[i] == '\0')
            return true;
    }
    return false;
}

QByteArrayView withoutTrailingNuls(QByteArrayView bytes, qsizetype unit)
{
    while (bytes.size() >= unit) {
        QByteArrayView tail = bytes.last(unit);
        if (tail.count('\0') != unit)
            break;
        bytes.chop(unit);
    }
    return bytes;
}

} // namespace

QString decodeOctetText(QByteArrayView bytes)
{
    if (bytes.startsWith(QByteArrayView("\xFF\xFE", 2)))
        return QString::fromUtf16(reinterpret_cast<const char16_t*>(bytes.data() + 2),
                                  (bytes.size() - 2) / 2)
            .remove(QChar(0));
    QByteArrayView utf16 = withoutTrailingNuls(bytes, 2);
    // Latin text in UTF-16LE has zero high bytes; valid UTF-8 text has no NULs.
    if (isPlausibleUtf16Le(utf16) && (hasZeroHighByte(utf16) || !isValidUtf8(bytes))) {
        QStringDecoder decoder(QStringDecoder::Utf16LE);
        return decoder.decode(utf16);
    }
    return QString::fromUtf8(withoutTrailingNuls(bytes, 1));
}

QString toQString(const ASN1_STRING* string)
{
    unsigned char* utf8 = nullptr;
    const int length = ASN1_STRING_to_UTF8(&utf8, string);
    const ossl::UniqueOpenSslBytes owned(utf8);
    return length < 0 ? QString() : QString::fromUtf8(reinterpret_cast<const char*>(utf8), length);
}

std::optional<QString> decodeTextValue(const ASN1_TYPE* value)
{
    if (value == nullptr)
        return std::nullopt;
    const ASN1_STRING* string = value->value.asn1_string;
    switch (value->type) {
    case V_ASN1_OCTET_STRING:
        return decodeOctetText(
            QByteArrayView(ASN1_STRING_get0_data(string), ASN1_STRING_length(string)));
    case V_ASN1_UTF8STRING:
    case V_ASN1_BMPSTRING:
    case V_ASN1_PRINTABLESTRING:
    case V_ASN1_IA5STRING:
    case V_ASN1_T61STRING:
    case V_ASN1_UNIVERSALSTRING:
    case V_ASN1_VISIBLESTRING: {
        QString text = toQString(string);
        if (text.isNull() && ASN1_STRING_length(string) > 0)
            return std::nullopt;
        return text;
    }
    default:
        return std::nullopt;
    }
}

QDateTime decodeTime(const ASN1_STRING* time)
{
    std::tm parts{};
    if (time == nullptr || ASN1_TIME_to_tm(time, &parts) != 1)
        return {};
    QDate date(parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday);
    QTime clock(parts.tm_hour, parts.tm_min, parts.tm_sec);
    if (!date.isValid() || !clock.isValid())
        return {};
    return QDateTime(date, clock, Qt::UTC);
}

} // namespace selavia::signature::text
