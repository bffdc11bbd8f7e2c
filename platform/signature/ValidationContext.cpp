#include "ValidationContext.h"

#include "Certificate.h"
#include "SignatureError.h"

#include <openssl/err.h>
#include <openssl/x509_vfy.h>

namespace selavia::signature {
namespace {

// Bounds chain building on hostile certificate sets.
constexpr int kMaxChainDepth = 32;

struct Findings {
    bool crlCheck = false;
    QStringList problems;
    bool untrusted = false;
};

bool isUntrustedError(int error)
{
    switch (error) {
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_CERT_UNTRUSTED:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_CERT_CHAIN_TOO_LONG:
        return true;
    default:
        return false;
    }
}

// A CRL we cannot find, check or trust says nothing about revocation; only
// a CRL that verifies and lists the certificate makes it invalid.
bool isCrlAvailabilityError(int error)
{
    switch (error) {
    case X509_V_ERR_UNABLE_TO_GET_CRL:
    case X509_V_ERR_UNABLE_TO_GET_CRL_ISSUER:
    case X509_V_ERR_CRL_HAS_EXPIRED:
    case X509_V_ERR_CRL_NOT_YET_VALID:
    case X509_V_ERR_CRL_SIGNATURE_FAILURE:
    case X509_V_ERR_UNABLE_TO_DECRYPT_CRL_SIGNATURE:
    case X509_V_ERR_ERROR_IN_CRL_LAST_UPDATE_FIELD:
    case X509_V_ERR_ERROR_IN_CRL_NEXT_UPDATE_FIELD:
    case X509_V_ERR_DIFFERENT_CRL_SCOPE:
    case X509_V_ERR_UNHANDLED_CRITICAL_CRL_EXTENSION:
    case X509_V_ERR_KEYUSAGE_NO_CRL_SIGN:
    case X509_V_ERR_CRL_PATH_VALIDATION_ERROR:
        return true;
    default:
        return false;
    }
}

QString describeError(int error)
{
    switch (error) {
    case X509_V_ERR_CERT_HAS_EXPIRED:
        return QStringLiteral("o certificado expirou");
    case X509_V_ERR_CERT_NOT_YET_VALID:
        return QStringLiteral("o certificado ainda não é válido");
    case X509_V_ERR_CERT_REVOKED:
        return QStringLiteral("o certificado foi revogado");
    case X509_V_ERR_CERT_SIGNATURE_FAILURE:
        return QStringLiteral("a assinatura do certificado não confere");
    default:
        if (isUntrustedError(error))
            return QStringLiteral("a cadeia não chega a uma raiz confiável");
        return QStringLiteral("erro de validação: %1")
            .arg(QString::fromLatin1(X509_verify_cert_error_string(error)));
    }
}

// Collects every problem of the chain instead of stopping at the first.
int collectProblems(int ok, X509_STORE_CTX* context)
{
    if (ok == 1)
        return 1;
    auto* findings = static_cast<Findings*>(X509_STORE_CTX_get_app_data(context));
    int error = X509_STORE_CTX_get_error(context);
    if (findings == nullptr)
        return 1;
    if (isUntrustedError(error))
        findings->untrusted = true;
    if (findings->crlCheck && isCrlAvailabilityError(error))
        return 1;
    X509* current = X509_STORE_CTX_get_current_cert(context);
    QString subject = current != nullptr ? detail::simpleName(current) : QString();
    QString line = describeError(error);
    if (!subject.isEmpty())
        line = subject + QStringLiteral(": ") + line;
    if (!findings->problems.contains(line))
        findings->problems << line;
    return 1;
}

struct StoreRun {
    ossl::UniqueX509StoreCtx context{X509_STORE_CTX_new()};
    Findings findings;
    int result = 0;
};

std::unique_ptr<StoreRun> runStore(X509_STORE* store, X509* certificate, STACK_OF(X509) * untrusted,
                                   STACK_OF(X509_CRL) * crls)
{
    auto run = std::make_unique<StoreRun>();
    if (!run->context ||
        X509_STORE_CTX_init(run->context.get(), store, certificate, untrusted) != 1)
        throw SignatureError::fromOpenSsl(code::kInternal);
    X509_STORE_CTX_set_app_data(run->context.get(), &run->findings);
    X509_STORE_CTX_set_verify_cb(run->context.get(), collectProblems);
    X509_STORE_CTX_set_depth(run->context.get(), kMaxChainDepth);
    if (crls != nullptr) {
        run->findings.crlCheck = true;
        X509_STORE_CTX_set0_crls(run->context.get(), crls);
        X509_STORE_CTX_set_flags(run->context.get(),
                                 X509_V_FLAG_CRL_CHECK | X509_V_FLAG_CRL_CHECK_ALL);
    }
    run->result = X509_verify_cert(run->context.get());
    ERR_clear_error();
    return run;
}

} // namespace

ValidationContext::ValidationContext(TrustStore store, ossl::UniqueX509Stack untrusted,
                                     ossl::UniqueCrlStack crls)
    : store_(std::move(store)), untrusted_(std::move(untrusted)), crls_(std::move(crls))
{
}

ValidationContext::BuiltChain ValidationContext::buildChain(X509* certificate) const
{
    ERR_clear_error();
    auto run = runStore(store_.handle(), certificate, untrusted_.get(), nullptr);
    BuiltChain built;
    built.certificates.reset(X509_STORE_CTX_get1_chain(run->context.get()));
    if (!built.certificates) {
        // Nothing was built at all: the chain is the certificate alone.
        built.certificates.reset(sk_X509_new_null());
        ossl::UniqueX509 own = ossl::upRef(certificate);
        if (!built.certificates || !own || sk_X509_push(built.certificates.get(), own.get()) <= 0)
            throw SignatureError::fromOpenSsl(code::kInternal);
        own.release();
    }
    built.trusted = run->result == 1 && !run->findings.untrusted;
    return built;
}

QStringList ValidationContext::validityProblems(X509* certificate) const
{
    ERR_clear_error();
    auto run = runStore(store_.handle(), certificate, untrusted_.get(),
                        crls_ && sk_X509_CRL_num(crls_.get()) > 0 ? crls_.get() : nullptr);
    QStringList problems = run->findings.problems;
    if (run->result != 1 && problems.isEmpty())
        problems << QStringLiteral("não foi possível validar o certificado");
    return problems;
}

} // namespace selavia::signature
