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
std::optional<QString> GetSignerIdentity(const signature::Certificate& certificate);

// The same over the raw pieces, for tests and fuzzing: the subject simple
// name and the Base64 text of the last subject alternative name extension.
std::optional<QString> signerIdentityFrom(const QString& simpleName, const QString& sanBase64);

} // namespace selavia::verify
