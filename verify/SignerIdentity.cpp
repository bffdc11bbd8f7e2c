#include "SignerIdentity.h"

#include "platform/signature/SignedData.h"

#include <exception>

namespace selavia::verify {
namespace {

// The bytes that mark an ICP-Brasil entry: the start of every OID content
// under the arc 2.16.76.
const QByteArray kIcpBrasilArc("\x60\x4C", 2);

constexpr qsizetype kCpfStart = 8; // the ninth character, counted from 0
constexpr qsizetype kCpfLength = 11;

bool isKept(unsigned char code)
{
    return (code >= 32 && code <= 126) || code == 128 || code == 145 || code == 146 || code >= 161;
}

// A single-byte Windows-1252 text as a QString. After KeepPrintable only
// three bytes of 0x80-0x9F remain, and only they differ from Latin-1.
QString fromWindows1252(QByteArrayView bytes)
{
    QString text;
    text.reserve(bytes.size());
    for (char byte : bytes) {
        const auto code = static_cast<unsigned char>(byte);
        switch (code) {
        case 0x80:
            text += QChar(0x20AC);
            break;
        case 0x91:
            text += QChar(0x2018);
            break;
        case 0x92:
            text += QChar(0x2019);
            break;
        default:
            text += QChar(static_cast<char16_t>(code));
            break;
        }
    }
    return text;
}

QByteArray trimSpaces(QByteArray text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text.at(begin) == ' ')
        ++begin;
    while (end > begin && text.at(end - 1) == ' ')
        --end;
    return text.mid(begin, end - begin);
}

QString holderNameOf(const QString& simpleName)
{
    return simpleName.section(QLatin1Char(':'), 0, 0);
}

QString maskedCpf(const QString& slice)
{
    if (slice.size() != kCpfLength)
        return slice;
    return slice.mid(0, 3) + QLatin1Char('.') + slice.mid(3, 3) + QLatin1Char('.') +
           slice.mid(6, 3) + QLatin1Char('-') + slice.mid(9, 2);
}

} // namespace

QByteArray KeepPrintable(QByteArrayView bytes)
{
    QByteArray kept;
    kept.reserve(bytes.size());
    for (char byte : bytes) {
        if (isKept(static_cast<unsigned char>(byte)))
            kept.append(byte);
    }
    return kept;
}

std::optional<QString> signerIdentityFrom(const QString& simpleName, const QString& sanBase64)
{
    QByteArray decoded;
    try {
        decoded = signature::utilities::base64Decode(sanBase64);
    } catch (const std::exception&) {
        return std::nullopt;
    }
    // Positions count kept bytes, so the work is done on bytes and only the
    // slice becomes text.
    const QByteArray working = KeepPrintable(decoded);
    const qsizetype first = working.indexOf(kIcpBrasilArc);
    if (first < 0)
        return std::nullopt;
    const qsizetype pieceStart = first + kIcpBrasilArc.size();
    const qsizetype second = working.indexOf(kIcpBrasilArc, pieceStart);
    const QByteArray piece =
        trimSpaces(working.mid(pieceStart, second < 0 ? -1 : second - pieceStart));
    if (piece.size() < 2)
        return std::nullopt;
    const QByteArray rest = piece.mid(2);
    const QString slice = fromWindows1252(rest.mid(kCpfStart, kCpfLength));
    return holderNameOf(simpleName) + QLatin1Char(':') + maskedCpf(slice);
}

std::optional<QString> GetSignerIdentity(const signature::Certificate& certificate)
{
    if (certificate.isNull())
        return std::nullopt;
    try {
        const QString simpleName =
            certificate.getInfo(signature::CertificateInfo::SubjectSimpleName);
        QString sanBase64;
        for (const signature::Extension& extension : certificate.extensions()) {
            if (extension.name == signature::OidName::SubjectAltName)
                sanBase64 = extension.encodedBase64();
        }
        return signerIdentityFrom(simpleName, sanBase64);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

} // namespace selavia::verify
