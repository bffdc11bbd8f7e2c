#include "InputForm.h"

#include "SignatureError.h"

namespace selavia::signature {
namespace {

constexpr char kDerSequence = 0x30;

bool isBase64Byte(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
           c == '/' || c == '=';
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

QByteArrayView trimmed(QByteArrayView bytes)
{
    while (!bytes.isEmpty() && isBlank(bytes.front()))
        bytes = bytes.sliced(1);
    while (!bytes.isEmpty() && isBlank(bytes.back()))
        bytes.chop(1);
    return bytes;
}

// Strict: only the Base64 alphabet and blanks, padding only at the end.
QByteArray decodeBase64Body(QByteArrayView body)
{
    QByteArray compact;
    compact.reserve(body.size());
    for (char c : body) {
        if (isBlank(c))
            continue;
        if (!isBase64Byte(c))
            throw SignatureError::of(code::kNotSignedData);
        compact.append(c);
    }
    auto result = QByteArray::fromBase64Encoding(compact, QByteArray::AbortOnBase64DecodingErrors);
    if (!result || result.decoded.isEmpty())
        throw SignatureError::of(code::kNotSignedData);
    return result.decoded;
}

// PEM: one block of type PKCS7, CMS or "PKCS #7 SIGNED DATA", no headers.
QByteArray decodePem(QByteArrayView text)
{
    static constexpr QByteArrayView kTypes[] = {"PKCS7", "CMS", "PKCS #7 SIGNED DATA"};
    for (QByteArrayView type : kTypes) {
        QByteArray begin = "-----BEGIN " + type.toByteArray() + "-----";
        QByteArray end = "-----END " + type.toByteArray() + "-----";
        if (!text.startsWith(begin))
            continue;
        qsizetype bodyEnd = text.indexOf(end);
        if (bodyEnd < 0)
            break;
        return decodeBase64Body(text.sliced(begin.size(), bodyEnd - begin.size()));
    }
    throw SignatureError::of(code::kNotSignedData);
}

} // namespace

SniffedInput sniffInput(QByteArrayView input)
{
    SniffedInput sniffed;
    if (!input.isEmpty() && input.front() == kDerSequence) {
        sniffed.form = InputForm::Der;
        sniffed.binary = input;
        return sniffed;
    }
    QByteArrayView text = trimmed(input);
    if (text.startsWith("-----BEGIN ")) {
        sniffed.form = InputForm::Pem;
        sniffed.decoded = decodePem(text);
    } else {
        sniffed.form = InputForm::Base64;
        sniffed.decoded = decodeBase64Body(text);
    }
    if (sniffed.decoded.front() != kDerSequence)
        throw SignatureError::of(code::kNotSignedData);
    sniffed.binary = sniffed.decoded;
    return sniffed;
}

} // namespace selavia::signature
