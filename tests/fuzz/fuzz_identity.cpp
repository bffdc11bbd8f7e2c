// Arbitrary subject-alternative-name bytes → the printable filter and the
// holder's name and CPF text.

#include "tests/fuzz/FuzzCheck.h"
#include "verify/SignerIdentity.h"

#include <cstddef>
#include <cstdint>

namespace {

bool isKept(unsigned char code)
{
    return (code >= 32 && code <= 126) || code == 128 || code == 145 || code == 146 || code >= 161;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using selavia::fuzz::require;
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));

    const QByteArray kept = selavia::verify::KeepPrintable(bytes);
    require(kept.size() <= bytes.size(), "filtering never adds bytes");
    // The kept bytes, in order, are exactly the input's printable ones.
    qsizetype next = 0;
    for (char byte : bytes) {
        if (isKept(static_cast<unsigned char>(byte))) {
            require(next < kept.size() && kept[next] == byte, "printable bytes kept in order");
            ++next;
        }
    }
    require(next == kept.size(), "nothing else kept");

    const QString name = QStringLiteral("FULANO DE TAL:98765432100");
    const auto identity =
        selavia::verify::signerIdentityFrom(name, QString::fromLatin1(bytes.toBase64()));
    if (identity) {
        require(identity->startsWith(QStringLiteral("FULANO DE TAL:")), "the holder's name leads");
        // The CPF part comes from at most eleven kept characters, masked
        // with three dots and a dash.
        require(identity->size() <= 14 + 14, "the CPF part is short");
    }
    return 0;
}
