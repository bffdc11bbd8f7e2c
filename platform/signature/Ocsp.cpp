#include "Ocsp.h"

#include "OpenSslHandles.h"
#include "SignatureMemo.h"
#include "TextDecoding.h"

#include <algorithm>
#include <openssl/err.h>
#include <openssl/ocsp.h>

namespace selavia::signature {
namespace {

// Answers may be this far off our clock.
constexpr long kLeewaySeconds = 300;
// Without a nextUpdate an answer counts as current this long.
constexpr long kMaxAgeWithoutNext = 86400;
// Single responses looked at in one answer; real ones hold one or a few.
constexpr int kMaxSingles = 64;

std::time_t secondsOf(const QDateTime& moment)
{
    return static_cast<std::time_t>(moment.toSecsSinceEpoch());
}

// The issuer itself, or a certificate it issued for OCSP signing, valid
// when the answer was produced.
bool authorisedResponder(X509* signer, X509* issuer, const ASN1_GENERALIZEDTIME* producedAt)
{
    if (X509_cmp(signer, issuer) == 0)
        return true;
    const QDateTime produced = text::decodeTime(producedAt);
    if (!produced.isValid())
        return false;
    std::time_t when = secondsOf(produced);
    return X509_check_issued(issuer, signer) == X509_V_OK &&
           signatures::certificateSignedBy(signer, issuer) &&
           (X509_get_extension_flags(signer) & EXFLAG_XKUSAGE) != 0 &&
           (X509_get_extended_key_usage(signer) & XKU_OCSP_SIGN) != 0 &&
           X509_cmp_time(X509_get0_notBefore(signer), &when) <= 0 &&
           X509_cmp_time(X509_get0_notAfter(signer), &when) >= 0;
}

bool signedByResponder(OCSP_BASICRESP* basic, X509* issuer)
{
    ossl::UniqueX509Stack issuerOnly(sk_X509_new_null());
    if (!issuerOnly || sk_X509_push(issuerOnly.get(), issuer) <= 0)
        return false;
    X509* signer = nullptr;
    const bool found = OCSP_resp_get0_signer(basic, &signer, issuerOnly.get()) == 1;
    sk_X509_pop(issuerOnly.get()); // borrowed
    if (!found || !authorisedResponder(signer, issuer, OCSP_resp_get0_produced_at(basic)))
        return false;
    ossl::UniqueX509Stack signerOnly(sk_X509_new_null());
    ossl::UniqueX509 ownSigner = ossl::upRef(signer);
    if (!signerOnly || !ownSigner || sk_X509_push(signerOnly.get(), ownSigner.get()) <= 0)
        return false;
    ownSigner.release();
    ossl::UniqueX509Store none(X509_STORE_new());
    return none && OCSP_basic_verify(basic, signerOnly.get(), none.get(),
                                     OCSP_NOVERIFY | OCSP_NOINTERN) == 1;
}

// The single response about `certificate`, whatever hash its identifier uses.
OCSP_SINGLERESP* singleFor(OCSP_BASICRESP* basic, X509* certificate, X509* issuer)
{
    const int count = std::min(OCSP_resp_count(basic), kMaxSingles);
    for (int i = 0; i < count; ++i) {
        OCSP_SINGLERESP* single = OCSP_resp_get0(basic, i);
        ASN1_OBJECT* hash = nullptr;
        if (OCSP_id_get0_info(nullptr, &hash, nullptr, nullptr,
                              const_cast<OCSP_CERTID*>(OCSP_SINGLERESP_get0_id(single))) != 1)
            continue;
        const EVP_MD* digest = EVP_get_digestbyobj(hash);
        ossl::UniqueOcspCertId id(digest != nullptr ? OCSP_cert_to_id(digest, certificate, issuer)
                                                    : nullptr);
        if (id && OCSP_id_cmp(id.get(), OCSP_SINGLERESP_get0_id(single)) == 0)
            return single;
    }
    return nullptr;
}

// Times in order and none after `now`; a current answer also not past its
// nextUpdate.
bool timesAcceptable(ASN1_GENERALIZEDTIME* thisUpdate, ASN1_GENERALIZEDTIME* nextUpdate,
                     const QDateTime& now, OcspAge age)
{
    if (age == OcspAge::Current)
        return OCSP_check_validity(thisUpdate, nextUpdate, kLeewaySeconds,
                                   nextUpdate != nullptr ? -1 : kMaxAgeWithoutNext) == 1;
    const QDateTime issued = text::decodeTime(thisUpdate);
    const QDateTime next = text::decodeTime(nextUpdate);
    return issued.isValid() && issued <= now.addSecs(kLeewaySeconds) &&
           (nextUpdate == nullptr || (next.isValid() && next >= issued));
}

} // namespace

std::optional<RevocationStatus> ocspStatus(OCSP_BASICRESP* basic, X509* certificate, X509* issuer,
                                           RevocationSource source, const QDateTime& now,
                                           OcspAge age)
{
    const ossl::ErrorQueueGuard guard;
    if (basic == nullptr || certificate == nullptr || issuer == nullptr ||
        !signedByResponder(basic, issuer))
        return std::nullopt;
    OCSP_SINGLERESP* single = singleFor(basic, certificate, issuer);
    int reason = -1;
    ASN1_GENERALIZEDTIME* revokedAt = nullptr;
    ASN1_GENERALIZEDTIME* thisUpdate = nullptr;
    ASN1_GENERALIZEDTIME* nextUpdate = nullptr;
    const int state = single != nullptr ? OCSP_single_get0_status(single, &reason, &revokedAt,
                                                                  &thisUpdate, &nextUpdate)
                                        : -1;
    if ((state != V_OCSP_CERTSTATUS_GOOD && state != V_OCSP_CERTSTATUS_REVOKED) ||
        !timesAcceptable(thisUpdate, nextUpdate, now, age))
        return std::nullopt;
    CrlAnswer answer;
    answer.listed = state == V_OCSP_CERTSTATUS_REVOKED;
    answer.revokedAt = answer.listed ? text::decodeTime(revokedAt) : QDateTime();
    answer.reason = answer.listed ? reason : -1;
    answer.thisUpdate = text::decodeTime(thisUpdate);
    answer.nextUpdate = text::decodeTime(nextUpdate);
    answer.current = !answer.nextUpdate.isValid() || answer.nextUpdate > now;
    return statusFromCrl(answer, source);
}

} // namespace selavia::signature
