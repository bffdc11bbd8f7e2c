#pragma once

// Certificates read once per process. OpenSSL 3.0 sets up a key decoder
// for every certificate it reads, which costs more than verifying the
// message that carries it, and an archive's files carry the same few
// authorities. Keyed by the SHA-256 of the encoding, so that only the very
// same bytes give the same object.

#include "OpenSslHandles.h"

#include <QByteArray>
#include <QByteArrayView>
#include <memory>

namespace selavia::signature::certificates {

// The SHA-256 of `der`, which the process's memos of certificates, lists
// and signatures are keyed by; empty when it cannot be computed.
QByteArray digestOf(QByteArrayView der);

// The certificate encoded as `der`, which it must fill exactly; null when
// it is not one. Shared: never to be modified.
std::shared_ptr<X509> parsed(QByteArrayView der);

// The signed message encoded as `der` with its certificates taken from
// those read already, in the message's order; null when it cannot be read
// so (indefinite lengths, other certificate choices, a certificate given
// twice), for the caller to read it whole as ever.
ossl::UniqueCms messageSharingThem(QByteArrayView der);

// How many certificates are kept at most.
inline constexpr int kMaxRemembered = 1024;

} // namespace selavia::signature::certificates
