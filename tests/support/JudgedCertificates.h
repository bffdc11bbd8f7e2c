#pragma once

// Certificates judged as verify/ judges them, for the tests of the layers
// below it: the platform builds paths and gathers revocation, verify/
// decides whether that makes a certificate valid at a time.

#include "platform/signature/Certificate.h"
#include "verify/CertificateJudge.h"

#include <QDateTime>

namespace selavia::testing {

inline verify::CertificateStatus
judgedNow(const signature::Certificate& certificate,
          signature::CertificateRole role = signature::CertificateRole::Any)
{
    return verify::judgeCertificate(certificate, role, QDateTime::currentDateTimeUtc());
}

} // namespace selavia::testing
