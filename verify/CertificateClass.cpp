#include "CertificateClass.h"

#include "platform/signature/SignatureError.h"
#include "verify/TreeKeys.h"

#include <exception>

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

bool VerifyCertificate(const signature::CertificateCollection& certs)
{
    // A collection made by hand may hold an empty certificate, whose name
    // cannot be searched: that is a failure of the test, not a "no".
    for (const signature::Certificate& certificate : certs) {
        if (certificate.isNull())
            throw signature::SignatureError::of(signature::code::kCertificateUnreadable);
    }
    return certs
               .find(signature::FindType::SubjectName, QString::fromLatin1(kIcpBrasilCriterion),
                     false)
               .count() != 0;
}

CertificateClass classifySigner(const signature::Signer& signer)
{
    // Each test that cannot be worked out answers against the signer: an
    // unverifiable certificate must never be shown as ICP-Brasil or valid.
    bool icp = false;
    try {
        icp = VerifyCertificate(signer.chain().certificates());
    } catch (const std::exception&) {
        icp = false;
    }
    bool valid = false;
    try {
        valid = signer.certificate().isValid(signature::CertificateRole::Signer).result;
    } catch (const std::exception&) {
        valid = false;
    }
    // A signature whose signed attributes name another certificate was not
    // made with this one, however valid it is.
    if (signer.cades().signingCertificate.binding == signature::CertificateBinding::Mismatch)
        valid = false;
    if (icp)
        return valid ? CertificateClass::Valid : CertificateClass::Invalid;
    return valid ? CertificateClass::NoIcpValid : CertificateClass::NoIcpInvalid;
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
