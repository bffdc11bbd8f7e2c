#pragma once

#include "platform/signature/Certificate.h"

#include <QString>
#include <vector>

namespace selavia::verify {

enum class CertificateClass { Valid, Invalid, NoIcpValid, NoIcpInvalid };

// The class's key, which is also the key of its image (verify/TreeKeys.h).
QString imageKey(CertificateClass certificateClass);
// The class in words, as the legend heads it: "Certificado ICP-Brasil - Válido", …
QString caption(CertificateClass certificateClass);
// A signer's class in words, wherever a signer's class is told: the class's
// caption, but a gov.br signer's non-ICP class is told as the advanced
// signature it is.
QString signerCaption(CertificateClass certificateClass, signature::TrustFramework framework);
// The framework's key in machine-readable output: "icp-brasil", "gov.br",
// "other" or "none".
QString trustFrameworkKey(signature::TrustFramework framework);

// The ICP-Brasil root authority's name without generation suffix.
inline constexpr const char* kIcpBrasilCriterion = "Autoridade Certificadora Raiz Brasileira";

// `VerifyCertificate`: whether the collection holds a certificate whose
// subject name contains the ICP-Brasil criterion. Throws SignatureError.
bool VerifyCertificate(const signature::CertificateCollection& certs);

// Whether a certificate subject names the ICP-Brasil root authority: the
// criterion, compared without regard to case.
bool namesIcpBrasilRoot(const QString& subject);

// True only when there is at least one signer and every one is "cert_valid".
bool signaturesOk(const std::vector<CertificateClass>& classes);

} // namespace selavia::verify
