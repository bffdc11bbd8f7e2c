#include "CertificateClass.h"

#include "platform/signature/SignatureError.h"
#include "verify/TreeKeys.h"

#include <algorithm>

namespace selavia::verify {

QString caption(CertificateClass certificateClass)
{
    switch (certificateClass) {
    case CertificateClass::Valid:
        return QStringLiteral("Certificado ICP-Brasil - Válido");
    case CertificateClass::Invalid:
        return QStringLiteral("Certificado ICP-Brasil - Inválido");
    case CertificateClass::NoIcpValid:
        return QStringLiteral("Certificado Desconhecido - Válido");
    case CertificateClass::NoIcpInvalid:
        break;
    }
    return QStringLiteral("Certificado Desconhecido - Inválido");
}

QString signerCaption(CertificateClass certificateClass, signature::TrustFramework framework)
{
    if (framework != signature::TrustFramework::GovBr)
        return caption(certificateClass);
    const bool valid = certificateClass == CertificateClass::Valid ||
                       certificateClass == CertificateClass::NoIcpValid;
    return valid ? QStringLiteral("Assinatura eletrônica avançada (gov.br) - Válida")
                 : QStringLiteral("Assinatura eletrônica avançada (gov.br) - Inválida");
}

QString trustFrameworkKey(signature::TrustFramework framework)
{
    switch (framework) {
    case signature::TrustFramework::IcpBrasil:
        return QStringLiteral("icp-brasil");
    case signature::TrustFramework::GovBr:
        return QStringLiteral("gov.br");
    case signature::TrustFramework::Other:
        return QStringLiteral("other");
    case signature::TrustFramework::None:
        break;
    }
    return QStringLiteral("none");
}

QString imageKey(CertificateClass certificateClass)
{
    switch (certificateClass) {
    case CertificateClass::Valid:
        return keys::kCertValid;
    case CertificateClass::Invalid:
        return keys::kCertInvalid;
    case CertificateClass::NoIcpValid:
        return keys::kCertNoIcpValid;
    case CertificateClass::NoIcpInvalid:
        break;
    }
    return keys::kCertNoIcpInvalid;
}

bool namesIcpBrasilRoot(const QString& subject)
{
    return subject.contains(QString::fromLatin1(kIcpBrasilCriterion), Qt::CaseInsensitive);
}

bool VerifyCertificate(const signature::CertificateCollection& certs)
{
    // A collection made by hand may hold an empty certificate, whose name
    // cannot be searched: that is a failure of the test, not a "no".
    for (const signature::Certificate& certificate : certs) {
        if (certificate.isNull())
            throw signature::SignatureError::of(signature::code::kCertificateUnreadable);
    }
    return std::any_of(certs.begin(), certs.end(), [](const signature::Certificate& certificate) {
        return namesIcpBrasilRoot(certificate.subjectName());
    });
}

bool signaturesOk(const std::vector<CertificateClass>& classes)
{
    if (classes.empty())
        return false;
    for (CertificateClass certificateClass : classes) {
        if (certificateClass != CertificateClass::Valid)
            return false;
    }
    return true;
}

} // namespace selavia::verify
