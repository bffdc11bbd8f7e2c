#pragma once

// Every OpenSSL handle the project holds lives in one of these owners; no
// other file calls a *_free function.

#include <QByteArray>
#include <memory>
#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/cms.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/http.h>
#include <openssl/ocsp.h>
#include <openssl/pkcs7.h>
#include <openssl/rsa.h>
#include <openssl/ts.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

namespace selavia::signature::ossl {

// Empties the thread's OpenSSL error queue on entry and on exit. Every entry
// of this layer holds one: it neither reads errors another call left nor
// leaves its own expected failures (an unknown OID, an absent extension) to
// turn up in a later, unrelated report.
class ErrorQueueGuard {
public:
    ErrorQueueGuard() noexcept { ERR_clear_error(); }
    ~ErrorQueueGuard() { ERR_clear_error(); }
    ErrorQueueGuard(const ErrorQueueGuard&) = delete;
    ErrorQueueGuard& operator=(const ErrorQueueGuard&) = delete;
};

template <auto FreeFunction> struct Deleter {
    template <typename T> void operator()(T* handle) const noexcept { FreeFunction(handle); }
};

using UniqueBio = std::unique_ptr<BIO, Deleter<BIO_free_all>>;
using UniqueCms = std::unique_ptr<CMS_ContentInfo, Deleter<CMS_ContentInfo_free>>;
using UniqueX509 = std::unique_ptr<X509, Deleter<X509_free>>;
using UniqueX509Crl = std::unique_ptr<X509_CRL, Deleter<X509_CRL_free>>;
using UniqueX509Store = std::unique_ptr<X509_STORE, Deleter<X509_STORE_free>>;
using UniqueX509StoreCtx = std::unique_ptr<X509_STORE_CTX, Deleter<X509_STORE_CTX_free>>;
using UniqueEvpMdCtx = std::unique_ptr<EVP_MD_CTX, Deleter<EVP_MD_CTX_free>>;
using UniqueEvpMd = std::unique_ptr<EVP_MD, Deleter<EVP_MD_free>>;
using UniqueGeneralNames = std::unique_ptr<GENERAL_NAMES, Deleter<GENERAL_NAMES_free>>;
using UniqueGeneralName = std::unique_ptr<GENERAL_NAME, Deleter<GENERAL_NAME_free>>;
using UniqueAsn1Object = std::unique_ptr<ASN1_OBJECT, Deleter<ASN1_OBJECT_free>>;
using UniqueAsn1Type = std::unique_ptr<ASN1_TYPE, Deleter<ASN1_TYPE_free>>;
using UniqueAsn1Enumerated = std::unique_ptr<ASN1_ENUMERATED, Deleter<ASN1_ENUMERATED_free>>;
using UniqueIssuingDistPoint =
    std::unique_ptr<ISSUING_DIST_POINT, Deleter<ISSUING_DIST_POINT_free>>;
using UniqueExtendedKeyUsage =
    std::unique_ptr<EXTENDED_KEY_USAGE, Deleter<EXTENDED_KEY_USAGE_free>>;
using UniqueAsn1BitString = std::unique_ptr<ASN1_BIT_STRING, Deleter<ASN1_BIT_STRING_free>>;

using UniqueOcspRequest = std::unique_ptr<OCSP_REQUEST, Deleter<OCSP_REQUEST_free>>;
using UniqueOcspResponse = std::unique_ptr<OCSP_RESPONSE, Deleter<OCSP_RESPONSE_free>>;
using UniqueOcspBasic = std::unique_ptr<OCSP_BASICRESP, Deleter<OCSP_BASICRESP_free>>;
using UniqueOcspCertId = std::unique_ptr<OCSP_CERTID, Deleter<OCSP_CERTID_free>>;
using UniquePkcs7 = std::unique_ptr<PKCS7, Deleter<PKCS7_free>>;
using UniqueDistributionPoints = std::unique_ptr<CRL_DIST_POINTS, Deleter<CRL_DIST_POINTS_free>>;
using UniqueAuthorityInfoAccess =
    std::unique_ptr<AUTHORITY_INFO_ACCESS, Deleter<AUTHORITY_INFO_ACCESS_free>>;

inline void freeOpenSslString(char* text) noexcept
{
    OPENSSL_free(text);
}
inline void closeHttp(OSSL_HTTP_REQ_CTX* context) noexcept
{
    OSSL_HTTP_close(context, 1);
}
inline void freeConfValues(STACK_OF(CONF_VALUE) * values) noexcept
{
    sk_CONF_VALUE_pop_free(values, X509V3_conf_free);
}
using UniqueOpenSslString = std::unique_ptr<char, Deleter<freeOpenSslString>>;
inline void freeOpenSslBytes(unsigned char* bytes) noexcept
{
    OPENSSL_free(bytes);
}
using UniqueOpenSslBytes = std::unique_ptr<unsigned char, Deleter<freeOpenSslBytes>>;
using UniqueHttpContext = std::unique_ptr<OSSL_HTTP_REQ_CTX, Deleter<closeHttp>>;
using UniqueConfValues = std::unique_ptr<STACK_OF(CONF_VALUE), Deleter<freeConfValues>>;

inline void freeX509Stack(STACK_OF(X509) * stack) noexcept
{
    sk_X509_pop_free(stack, X509_free);
}
inline void freeCrlStack(STACK_OF(X509_CRL) * stack) noexcept
{
    sk_X509_CRL_pop_free(stack, X509_CRL_free);
}
using UniqueX509Stack = std::unique_ptr<STACK_OF(X509), Deleter<freeX509Stack>>;
// A stack whose certificates belong to someone else (CMS_get0_signers).
inline void freeX509StackOnly(STACK_OF(X509) * stack) noexcept
{
    sk_X509_free(stack);
}
using BorrowedX509Stack = std::unique_ptr<STACK_OF(X509), Deleter<freeX509StackOnly>>;
using UniqueCrlStack = std::unique_ptr<STACK_OF(X509_CRL), Deleter<freeCrlStack>>;

// The CAdES readers.
inline void freeAsn1Sequence(ASN1_SEQUENCE_ANY* sequence) noexcept
{
    sk_ASN1_TYPE_pop_free(sequence, ASN1_TYPE_free);
}
using UniqueAsn1Sequence = std::unique_ptr<ASN1_SEQUENCE_ANY, Deleter<freeAsn1Sequence>>;
using UniqueX509Algor = std::unique_ptr<X509_ALGOR, Deleter<X509_ALGOR_free>>;
using UniqueX509Attribute = std::unique_ptr<X509_ATTRIBUTE, Deleter<X509_ATTRIBUTE_free>>;
using UniqueRsaPssParams = std::unique_ptr<RSA_PSS_PARAMS, Deleter<RSA_PSS_PARAMS_free>>;
using UniqueTstInfo = std::unique_ptr<TS_TST_INFO, Deleter<TS_TST_INFO_free>>;

// The DER encoding `i2d` gives of `object`; empty when it cannot be had.
template <typename I2d, typename T> QByteArray encoded(I2d i2d, const T* object)
{
    unsigned char* buffer = nullptr;
    const int length = object != nullptr ? i2d(object, &buffer) : -1;
    const UniqueOpenSslBytes owned(buffer);
    return length > 0 ? QByteArray(reinterpret_cast<const char*>(buffer), length) : QByteArray();
}

// Turns a borrowed pointer into an owned one.
inline UniqueX509 upRef(X509* certificate)
{
    if (certificate != nullptr && X509_up_ref(certificate) != 1)
        return {};
    return UniqueX509(certificate);
}

inline UniqueX509Crl upRef(X509_CRL* crl)
{
    if (crl != nullptr && X509_CRL_up_ref(crl) != 1)
        return {};
    return UniqueX509Crl(crl);
}

// A shared owner, for handles several objects hold at once.
inline std::shared_ptr<X509> shared(UniqueX509 owned)
{
    return std::shared_ptr<X509>(owned.release(), Deleter<X509_free>());
}
inline std::shared_ptr<X509_CRL> shared(UniqueX509Crl owned)
{
    return std::shared_ptr<X509_CRL>(owned.release(), Deleter<X509_CRL_free>());
}
inline std::shared_ptr<OCSP_BASICRESP> shared(UniqueOcspBasic owned)
{
    return std::shared_ptr<OCSP_BASICRESP>(owned.release(), Deleter<OCSP_BASICRESP_free>());
}

inline UniqueX509Store upRef(X509_STORE* store)
{
    if (store != nullptr && X509_STORE_up_ref(store) != 1)
        return {};
    return UniqueX509Store(store);
}

} // namespace selavia::signature::ossl
