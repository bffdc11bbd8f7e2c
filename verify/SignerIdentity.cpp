#include "SignerIdentity.h"

#include "platform/signature/GeneralNames.h"
#include "platform/signature/SignedData.h"

#include <algorithm>
#include <exception>

namespace selavia::verify {
namespace {

// The bytes that mark an ICP-Brasil entry: the start of every OID content
// under the arc 2.16.76.
const QByteArray kIcpBrasilArc("\x60\x4C", 2);

constexpr qsizetype kCpfStart = 8; // the ninth character, counted from 0
constexpr qsizetype kCpfLength = 11;

// ICP-Brasil otherName entries that hold a birth date and then a CPF.
constexpr const char* kPersonalData = "2.16.76.1.3.1";
constexpr const char* kResponsiblePerson = "2.16.76.1.3.4";

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

// The text at the fixed places after the first ICP-Brasil marker of
// `bytes`: nullopt when there is no marker or the piece is too short.
std::optional<QString> cpfSlice(QByteArrayView bytes)
{
    // Positions count kept bytes, so the work is done on bytes and only the
    // slice becomes text.
    const QByteArray working = KeepPrintable(bytes);
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
    return fromWindows1252(rest.mid(kCpfStart, kCpfLength));
}

bool isCpf(const QString& slice)
{
    return slice.size() == kCpfLength &&
           std::all_of(slice.begin(), slice.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
}

// Which entry to read. The fixed places were made for certificates whose
// first ICP-Brasil entry is the personal data (2.16.76.1.3.1); others (an
// e-CPF of the judiciary lists 2.16.76.1.3.6, a UPN and 2.16.76.1.3.5
// first) would give a CPF made of other fields. For those the personal
// entry is read, or a company's responsible person's (2.16.76.1.3.4).
struct EntryChoice {
    bool ownEntry = false; // false: the whole name as it stands
    QByteArray entry;      // the entry to read; empty when there is none
};

EntryChoice chooseEntry(QByteArrayView san)
{
    const auto entries = signature::otherNames(san);
    if (!entries)
        return {};
    auto icp = std::find_if(entries->begin(), entries->end(), [](const auto& entry) {
        return entry.oid.startsWith(QLatin1String("2.16.76."));
    });
    if (icp == entries->end() || icp->oid == QLatin1String(kPersonalData))
        return {};
    for (const char* oid : {kPersonalData, kResponsiblePerson}) {
        auto found = std::find_if(entries->begin(), entries->end(), [oid](const auto& entry) {
            return entry.oid == QLatin1String(oid);
        });
        if (found != entries->end())
            return {true, found->der};
    }
    return {true, {}};
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
    const EntryChoice choice = chooseEntry(decoded);
    if (!choice.ownEntry) {
        const std::optional<QString> slice = cpfSlice(decoded);
        if (!slice)
            return std::nullopt;
        return holderNameOf(simpleName) + QLatin1Char(':') + maskedCpf(*slice);
    }
    // Read from its own entry, the CPF shows only when it is one.
    const std::optional<QString> slice = cpfSlice(choice.entry);
    const QString cpf = slice && isCpf(*slice) ? maskedCpf(*slice) : QString();
    return holderNameOf(simpleName) + QLatin1Char(':') + cpf;
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
