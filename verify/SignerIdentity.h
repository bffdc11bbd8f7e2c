#pragma once

// `modSignature`: the holder's name and masked CPF of a signer certificate.

#include "platform/signature/Certificate.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <optional>

namespace selavia::verify {

// Keeps the bytes 32-126, 128, 145, 146 and 161-255, in order.
QByteArray KeepPrintable(QByteArrayView bytes);

// Holder name, ":" and the CPF text (masked "@@@.@@@.@@@-@@" when exactly
// eleven characters). nullopt when the certificate has no subject
// alternative name with an ICP-Brasil entry, or any step fails.
// The CPF is read at fixed places after the first ICP-Brasil entry. When
// that entry is not the personal data (2.16.76.1.3.1), the same places are
// read inside the personal-data entry, else inside the responsible
// person's (2.16.76.1.3.4), and the CPF text is empty unless it is eleven
// digits.
std::optional<QString> GetSignerIdentity(const signature::Certificate& certificate);

// The same over the raw pieces, for tests and fuzzing: the subject simple
// name and the Base64 text of the last subject alternative name extension.
std::optional<QString> signerIdentityFrom(const QString& simpleName, const QString& sanBase64);

} // namespace selavia::verify
