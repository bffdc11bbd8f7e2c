#include "ValidationContext.h"

#include "Certificate.h"
#include "SignatureError.h"

#include <array>
#include <openssl/err.h>
#include <openssl/x509_vfy.h>

namespace selavia::signature {
namespace {

// Bounds chain building on hostile certificate sets.
constexpr int kMaxChainDepth = 32;

const QString kNotForSignatures = QStringLiteral("o certificado não se destina a assinaturas");

struct Findings {
    bool untrusted = false;
    std::map<int, QStringList> byDepth; // problems of the certificate at each depth
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

QString describeError(int error)
{
    switch (error) {
    case X509_V_ERR_CERT_HAS_EXPIRED:
        return QStringLiteral("o certificado expirou");
    case X509_V_ERR_CERT_NOT_YET_VALID:
        return QStringLiteral("o certificado ainda não é válido");
    case X509_V_ERR_CERT_SIGNATURE_FAILURE:
        return QStringLiteral("a assinatura do certificado não confere");
    case X509_V_ERR_INVALID_CA:
    case X509_V_ERR_KEYUSAGE_NO_CERTSIGN:
        return QStringLiteral("o certificado não pode emitir certificados");
    case X509_V_ERR_INVALID_PURPOSE:
        return QStringLiteral("o certificado não se destina a este uso");
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
    auto* findings = static_cast<Findings*>(X509_STORE_CTX_get_app_data(context));
    if (ok == 1 || findings == nullptr)
        return 1;
    const int error = X509_STORE_CTX_get_error(context);
    if (isUntrustedError(error))
        findings->untrusted = true;
    QStringList& lines = findings->byDepth[X509_STORE_CTX_get_error_depth(context)];
    const QString line = describeError(error);
    if (!lines.contains(line))
        lines << line;
    return 1;
}

struct StoreRun {
    ossl::UniqueX509StoreCtx context{X509_STORE_CTX_new()};
    Findings findings;
    int result = 0;
};

std::unique_ptr<StoreRun> runStore(X509_STORE* store, X509* certificate, STACK_OF(X509) * untrusted)
{
    auto run = std::make_unique<StoreRun>();
    if (!run->context ||
        X509_STORE_CTX_init(run->context.get(), store, certificate, untrusted) != 1)
        throw SignatureError::fromOpenSsl(code::kInternal);
    X509_STORE_CTX_set_app_data(run->context.get(), &run->findings);
    X509_STORE_CTX_set_verify_cb(run->context.get(), collectProblems);
    X509_STORE_CTX_set_depth(run->context.get(), kMaxChainDepth);
    run->result = X509_verify_cert(run->context.get());
    ERR_clear_error();
    return run;
}

// The certificate's SHA-1 (OpenSSL keeps it once computed): the memo key.
QByteArray fingerprint(X509* certificate)
{
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int length = 0;
    if (certificate == nullptr || X509_digest(certificate, EVP_sha1(), digest.data(), &length) != 1)
        return {};
    return QByteArray(reinterpret_cast<const char*>(digest.data()), static_cast<int>(length));
}

bool selfIssued(X509* certificate)
{
    return X509_check_issued(certificate, certificate) == X509_V_OK;
}

RevocationStatus anchorStatus()
{
    RevocationStatus status;
    status.state = RevocationState::Good;
    status.detail = QStringLiteral("raiz confiável: a revogação não se aplica");
    return status;
}

RevocationStatus unknownStatus(const QString& detail)
{
    RevocationStatus status;
    status.detail = detail;
    return status;
}

bool isSigningPurpose(const ASN1_OBJECT* purpose)
{
    static const std::array<const char*, 5> accepted = {
        "1.3.6.1.5.5.7.3.4",       // emailProtection
        "1.3.6.1.5.5.7.3.2",       // clientAuth
        "2.5.29.37.0",             // anyExtendedKeyUsage
        "1.3.6.1.5.5.7.3.36",      // document signing
        "1.3.6.1.4.1.311.10.3.12", // document signing, as older tools write it
    };
    std::array<char, 80> text{};
    if (OBJ_obj2txt(text.data(), static_cast<int>(text.size()), purpose, 1) <= 0)
        return false;
    for (const char* oid : accepted) {
        if (qstrcmp(text.data(), oid) == 0)
            return true;
    }
    return false;
}

} // namespace

bool meantForSignatures(X509* certificate)
{
    ERR_clear_error();
    const std::uint32_t flags = X509_get_extension_flags(certificate);
    if ((flags & EXFLAG_KUSAGE) != 0 &&
        (X509_get_key_usage(certificate) & (KU_DIGITAL_SIGNATURE | KU_NON_REPUDIATION)) == 0)
        return false;
    if ((flags & EXFLAG_XKUSAGE) == 0)
        return true;
    int critical = 0;
    ossl::UniqueExtendedKeyUsage usages(static_cast<EXTENDED_KEY_USAGE*>(
        X509_get_ext_d2i(certificate, NID_ext_key_usage, &critical, nullptr)));
    bool allowed = false;
    for (int i = 0; usages && i < sk_ASN1_OBJECT_num(usages.get()); ++i)
        allowed = allowed || isSigningPurpose(sk_ASN1_OBJECT_value(usages.get(), i));
    ERR_clear_error();
    return allowed;
}

ValidationContext::ValidationContext(TrustStore store, ossl::UniqueX509Stack untrusted,
                                     RevocationProviders revocation)
    : store_(std::move(store)), untrusted_(std::move(untrusted)), revocation_(std::move(revocation))
{
}

ValidationContext::BuiltChain ValidationContext::buildChain(X509* certificate) const
{
    ERR_clear_error();
    auto run = runStore(store_.handle(), certificate, untrusted_.get());
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

ValidationContext::Judgement ValidationContext::judge(X509* certificate, CertificateRole role) const
{
    const QByteArray key = fingerprint(certificate) + static_cast<char>(role);
    {
        std::lock_guard lock(mutex_);
        if (auto found = judgements_.find(key); found != judgements_.end())
            return found->second;
    }
    Judgement judgement = judgeNow(certificate, role);
    std::lock_guard lock(mutex_);
    return judgements_.emplace(key, std::move(judgement)).first->second;
}

ValidationContext::Judgement ValidationContext::judgeNow(X509* certificate,
                                                         CertificateRole role) const
{
    ERR_clear_error();
    auto run = runStore(store_.handle(), certificate, untrusted_.get());
    ossl::UniqueX509Stack chain(X509_STORE_CTX_get1_chain(run->context.get()));
    const bool trusted = run->result == 1 && !run->findings.untrusted;
    Judgement judgement;
    const int length = chain ? sk_X509_num(chain.get()) : 0;
    for (int depth = 0; depth < length; ++depth) {
        X509* current = sk_X509_value(chain.get(), depth);
        Link link;
        link.certificate = ossl::shared(ossl::upRef(current));
        link.problems = run->findings.byDepth[depth];
        if (depth + 1 < length)
            link.revocation = revocationOf(current, sk_X509_value(chain.get(), depth + 1));
        else if (trusted && selfIssued(current))
            link.revocation = anchorStatus();
        else
            link.revocation = unknownStatus(QStringLiteral("o emissor do certificado não foi "
                                                           "encontrado"));
        if (link.revocation.revoked())
            link.problems << QStringLiteral("o certificado foi ") + revocationText(link.revocation);
        judgement.chain.push_back(std::move(link));
    }
    const bool forSignatures = role == CertificateRole::Signer || X509_check_ca(certificate) == 0;
    if (forSignatures && !meantForSignatures(certificate) && !judgement.chain.empty())
        judgement.chain.front().problems.prepend(kNotForSignatures);
    for (const Link& link : judgement.chain) {
        const QString name = detail::simpleName(link.certificate.get());
        for (const QString& problem : link.problems)
            judgement.problems << (name.isEmpty() || problem == kNotForSignatures
                                       ? problem
                                       : name + QStringLiteral(": ") + problem);
    }
    if (run->result != 1 && judgement.problems.isEmpty())
        judgement.problems << QStringLiteral("não foi possível validar o certificado");
    return judgement;
}

RevocationStatus ValidationContext::revocationOf(X509* certificate, X509* issuer) const
{
    const QByteArray key = fingerprint(certificate) + fingerprint(issuer);
    {
        std::lock_guard lock(mutex_);
        if (auto found = revocations_.find(key); found != revocations_.end())
            return found->second;
    }
    RevocationStatus status =
        unknownStatus(QStringLiteral("não foi possível consultar a situação de revogação"));
    for (const auto& provider : revocation_) {
        if (std::optional<RevocationStatus> answer = provider->check(certificate, issuer)) {
            status = *answer;
            break;
        }
    }
    std::lock_guard lock(mutex_);
    return revocations_.emplace(key, std::move(status)).first->second;
}

} // namespace selavia::signature
