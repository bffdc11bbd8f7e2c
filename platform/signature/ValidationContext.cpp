#include "ValidationContext.h"

#include "BundledCertificates.h"
#include "IssuerChoice.h"
#include "PhaseRunner.h"
#include "SignatureError.h"

#include <algorithm>
#include <array>
#include <openssl/err.h>
#include <openssl/x509_vfy.h>

namespace selavia::signature {
namespace {

// Bounds chain building on hostile certificate sets.
constexpr int kMaxChainDepth = 32;
// Requests for missing issuers one chain may make, and rounds of looking.
constexpr int kMaxIssuerFetches = 4;
constexpr int kMaxCompletionRounds = 8;

struct Findings {
    bool untrusted = false;
    // Anything wrong with the chain itself, beyond the dates: a signature
    // that does not verify, an issuer that may not issue, a key that
    // cannot be read.
    bool faulty = false;
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
    case X509_V_ERR_CERT_SIGNATURE_FAILURE:
        return QStringLiteral("a assinatura do certificado não confere");
    case X509_V_ERR_INVALID_CA:
    case X509_V_ERR_KEYUSAGE_NO_CERTSIGN:
        return QStringLiteral("o certificado não pode emitir certificados");
    case X509_V_ERR_INVALID_PURPOSE:
        return QStringLiteral("o certificado não se destina a este uso");
    case X509_V_ERR_UNABLE_TO_DECODE_ISSUER_PUBLIC_KEY:
        return QStringLiteral("a chave da autoridade emissora usa um algoritmo não suportado");
    default:
        if (isUntrustedError(error))
            return QStringLiteral("a cadeia não chega a uma raiz confiável");
        return QStringLiteral("erro de validação: %1")
            .arg(QString::fromLatin1(X509_verify_cert_error_string(error)));
    }
}

// Collects every problem of the chain instead of stopping at the first.
// Dates are not the path's business: whoever judges the certificates
// compares them with the time it judges at.
int collectProblems(int ok, X509_STORE_CTX* context)
{
    auto* findings = static_cast<Findings*>(X509_STORE_CTX_get_app_data(context));
    if (ok == 1 || findings == nullptr)
        return 1;
    const int error = X509_STORE_CTX_get_error(context);
    if (error == X509_V_ERR_CERT_HAS_EXPIRED || error == X509_V_ERR_CERT_NOT_YET_VALID)
        return 1;
    if (isUntrustedError(error))
        findings->untrusted = true;
    else
        findings->faulty = true;
    QStringList& lines = findings->byDepth[X509_STORE_CTX_get_error_depth(context)];
    const QString line = describeError(error);
    if (!lines.contains(line))
        lines << line;
    return 1;
}

} // namespace

struct StoreRun {
    ossl::UniqueX509Stack untrusted; // the context reads it until it goes
    ossl::UniqueX509StoreCtx context{X509_STORE_CTX_new()};
    Findings findings;
    int result = 0;

    bool trusted() const { return result == 1 && !findings.untrusted; }
    // The last certificate the chain reached.
    X509* top() const
    {
        STACK_OF(X509)* chain = X509_STORE_CTX_get0_chain(context.get());
        const int length = chain != nullptr ? sk_X509_num(chain) : 0;
        return length > 0 ? sk_X509_value(chain, length - 1) : nullptr;
    }
};

namespace {

bool inStore(X509_STORE* store, X509* certificate)
{
    ossl::UniqueX509StoreCtx context(X509_STORE_CTX_new());
    if (!context || X509_STORE_CTX_init(context.get(), store, nullptr, nullptr) != 1)
        return false;
    ossl::UniqueX509Stack found(
        X509_STORE_CTX_get1_certs(context.get(), X509_get_subject_name(certificate)));
    for (int i = 0; found && i < sk_X509_num(found.get()); ++i) {
        if (X509_cmp(sk_X509_value(found.get(), i), certificate) == 0)
            return true;
    }
    return false;
}

// OpenSSL 3.0 cannot build any chain from a certificate whose key it cannot
// read, not even when the store trusts that very certificate (ICP-Brasil
// v7). Such an anchor is trusted as it stands.
void acceptUnreadableAnchor(StoreRun& run, X509_STORE* store, X509* certificate)
{
    if (run.trusted() || X509_get0_pubkey(certificate) != nullptr || !inStore(store, certificate))
        return;
    run.findings = {};
    run.result = 1;
}

// How a chain building picks among certificates bearing the issuer's name.
enum class IssuerMatch { BySignature, ByNameOnly };

// The chain of `certificate` checked at `at` (invalid: now).
std::unique_ptr<StoreRun> runStore(X509_STORE* store, X509* certificate,
                                   ossl::UniqueX509Stack untrusted, const QDateTime& at,
                                   IssuerMatch match = IssuerMatch::BySignature)
{
    const ossl::ErrorQueueGuard guard;
    auto run = std::make_unique<StoreRun>();
    run->untrusted = std::move(untrusted);
    if (!run->context ||
        X509_STORE_CTX_init(run->context.get(), store, certificate, run->untrusted.get()) != 1)
        throw SignatureError::fromOpenSsl(code::kInternal);
    X509_STORE_CTX_set_app_data(run->context.get(), &run->findings);
    X509_STORE_CTX_set_verify_cb(run->context.get(), collectProblems);
    if (match == IssuerMatch::ByNameOnly)
        issuers::chooseByNameOnly(run->context.get());
    X509_STORE_CTX_set_depth(run->context.get(), kMaxChainDepth);
    // The time still picks among issuers of the same name.
    if (at.isValid()) {
        X509_STORE_CTX_set_time(run->context.get(), 0,
                                static_cast<std::time_t>(at.toSecsSinceEpoch()));
    }
    // What the store holds is trusted as it stands, self-signed or not: a
    // root whose key OpenSSL cannot read (ICP-Brasil v7) is still an anchor.
    X509_STORE_CTX_set_flags(run->context.get(), X509_V_FLAG_PARTIAL_CHAIN);
    run->result = X509_verify_cert(run->context.get());
    acceptUnreadableAnchor(*run, store, certificate);
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

ossl::UniqueX509Stack alone(X509* certificate)
{
    ossl::UniqueX509Stack chain(sk_X509_new_null());
    ossl::UniqueX509 own = ossl::upRef(certificate);
    if (!chain || !own || sk_X509_push(chain.get(), own.get()) <= 0)
        throw SignatureError::fromOpenSsl(code::kInternal);
    own.release();
    return chain;
}

bool selfIssued(X509* certificate)
{
    return X509_check_issued(certificate, certificate) == X509_V_OK;
}

RevocationStatus anchorStatus()
{
    RevocationStatus status;
    status.state = RevocationState::Good;
    status.trustAnchor = true;
    status.detail = QStringLiteral("raiz confiável, não há emissor que a revogue");
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
    const ossl::ErrorQueueGuard guard;
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
    return allowed;
}

ValidationContext::ValidationContext(TrustStore store, ossl::UniqueX509Stack untrusted,
                                     ValidationServices services)
    : store_(std::move(store)), untrusted_(std::move(untrusted)), services_(std::move(services))
{
}

ValidationContext::~ValidationContext() = default;

ossl::UniqueX509Stack ValidationContext::candidates() const
{
    ossl::UniqueX509Stack all(sk_X509_new_null());
    if (!all)
        throw SignatureError::fromOpenSsl(code::kInternal);
    auto push = [&](X509* certificate) {
        ossl::UniqueX509 own = ossl::upRef(certificate);
        if (!own || sk_X509_push(all.get(), own.get()) <= 0)
            throw SignatureError::fromOpenSsl(code::kInternal);
        own.release();
    };
    for (int i = 0; untrusted_ && i < sk_X509_num(untrusted_.get()); ++i)
        push(sk_X509_value(untrusted_.get(), i));
    std::lock_guard lock(mutex_);
    for (const auto& helper : helpers_)
        push(helper.get());
    return all;
}

void ValidationContext::addHelpers(const std::vector<std::shared_ptr<X509>>& found) const
{
    addNewHelpers(found);
}

bool ValidationContext::addNewHelpers(const std::vector<std::shared_ptr<X509>>& found) const
{
    bool added = false;
    std::lock_guard lock(mutex_);
    for (const auto& certificate : found) {
        if (certificate && helperKeys_.insert(fingerprint(certificate.get())).second) {
            helpers_.push_back(certificate);
            added = true;
        }
    }
    return added;
}

std::shared_ptr<const StoreRun> ValidationContext::completeChain(X509* certificate,
                                                                 const QDateTime& given) const
{
    const QDateTime& at = given.isValid() ? given : services_.checkedAt;
    QByteArray key = fingerprint(certificate);
    if (key.isEmpty())
        return completeChainFresh(certificate, at);
    key += at.isValid() ? QByteArray::number(at.toMSecsSinceEpoch()) : QByteArray("now");
    const bool network = networkOpen_;
    std::size_t helpers = 0;
    {
        std::lock_guard lock(mutex_);
        helpers = helpers_.size();
        // The helpers only grow, so their count tells whether they changed.
        key += '/' + QByteArray::number(static_cast<qulonglong>(helpers));
        // A chain built without the network is not what the network might
        // complete, unless it reached a root and so would not have asked.
        if (auto found = runs_.find(key);
            found != runs_.end() &&
            (!network || found->second.network || found->second.run->trusted()))
            return found->second.run;
    }
    std::shared_ptr<const StoreRun> run = completeChainFresh(certificate, at);
    std::lock_guard lock(mutex_);
    // Kept only when it added no helper: then the network, open or not,
    // changed nothing either.
    if (helpers_.size() == helpers)
        runs_.insert_or_assign(key, BuiltRun{run, network});
    return run;
}

std::shared_ptr<const StoreRun> ValidationContext::completeChainFresh(X509* certificate,
                                                                      const QDateTime& at) const
{
    const ossl::ErrorQueueGuard guard;
    int budget = kMaxIssuerFetches;
    std::unique_ptr<StoreRun> run;
    for (int round = 0; round < kMaxCompletionRounds; ++round) {
        run = runStore(store_.handle(), certificate, candidates(), at);
        X509* top = run->top();
        if (run->trusted() || top == nullptr || selfIssued(top))
            break;
        std::vector<std::shared_ptr<X509>> found = bundled::issuersOf(top);
        const bool signedByOne = std::any_of(found.begin(), found.end(), [top](const auto& issuer) {
            return issuers::signs(issuer.get(), top);
        });
        if (!signedByOne && networkOpen_ && services_.issuers) {
            for (auto& fetched : services_.issuers->fetchIssuers(top, budget))
                found.push_back(std::move(fetched));
        }
        if (!addNewHelpers(found))
            break;
    }
    if (run->trusted())
        return run;
    // No candidate's key signed some link: matched by names alone, the path
    // reaches the root and shows which signature fails.
    auto byName = runStore(store_.handle(), certificate, candidates(), at, IssuerMatch::ByNameOnly);
    return byName->trusted() ? std::move(byName) : std::move(run);
}

ValidationContext::BuiltChain ValidationContext::buildChain(X509* certificate) const
{
    const ossl::ErrorQueueGuard guard;
    auto run = completeChain(certificate);
    BuiltChain built;
    built.certificates.reset(X509_STORE_CTX_get1_chain(run->context.get()));
    // Nothing was built at all: the chain is the certificate alone.
    if (!built.certificates || sk_X509_num(built.certificates.get()) == 0)
        built.certificates = alone(certificate);
    built.trusted = run->trusted();
    return built;
}

ValidationContext::PathFacts ValidationContext::path(X509* certificate, CertificateRole role,
                                                     const QDateTime& at) const
{
    QByteArray key = fingerprint(certificate) + static_cast<char>(role);
    if (at.isValid())
        key += QByteArray::number(at.toSecsSinceEpoch());
    {
        std::lock_guard lock(mutex_);
        if (auto found = paths_.find(key); found != paths_.end())
            return found->second;
    }
    PathFacts facts = pathFresh(certificate, role, at);
    std::lock_guard lock(mutex_);
    return paths_.emplace(key, std::move(facts)).first->second;
}

ValidationContext::PathFacts ValidationContext::pathFresh(X509* certificate, CertificateRole role,
                                                          const QDateTime& at) const
{
    const ossl::ErrorQueueGuard guard;
    auto run = completeChain(certificate, at);
    ossl::UniqueX509Stack chain(X509_STORE_CTX_get1_chain(run->context.get()));
    if (!chain || sk_X509_num(chain.get()) == 0)
        chain = alone(certificate);
    PathFacts facts;
    facts.trusted = run->trusted();
    const int length = chain ? sk_X509_num(chain.get()) : 0;
    bool anyProblem = false;
    for (int depth = 0; depth < length; ++depth) {
        X509* current = sk_X509_value(chain.get(), depth);
        Link link;
        link.certificate = ossl::shared(ossl::upRef(current));
        if (auto found = run->findings.byDepth.find(depth); found != run->findings.byDepth.end())
            link.problems = found->second;
        anyProblem = anyProblem || !link.problems.isEmpty();
        if (depth + 1 < length)
            link.revocation = revocationOf(current, sk_X509_value(chain.get(), depth + 1));
        else if (facts.trusted)
            link.revocation = anchorStatus();
        else
            link.revocation = unknownStatus(QStringLiteral("o emissor do certificado não foi "
                                                           "encontrado"));
        facts.chain.push_back(std::move(link));
    }
    facts.chainTrusted = facts.trusted && !run->findings.faulty;
    if (facts.trusted && length > 0)
        facts.framework = store_.frameworkOf(sk_X509_value(chain.get(), length - 1));
    const bool forSignatures = role == CertificateRole::Signer ||
                               (role == CertificateRole::Any && X509_check_ca(certificate) == 0);
    facts.meantForSignatures = !forSignatures || meantForSignatures(certificate);
    facts.built = run->result == 1 || anyProblem;
    return facts;
}

namespace {

// Evidence issued after an instant before now tells of that instant: what
// it does not list was not revoked then. Later sources would say no more.
bool speaksOfPast(const RevocationStatus& status, const QDateTime& at, const QDateTime& now)
{
    return at < now && status.state == RevocationState::Good && status.thisUpdate.isValid() &&
           status.thisUpdate >= at;
}

} // namespace

RevocationStatus ValidationContext::revocationOf(X509* certificate, X509* issuer) const
{
    const ossl::ErrorQueueGuard guard;
    const bool network = networkOpen_;
    const QByteArray key = fingerprint(certificate) + fingerprint(issuer);
    {
        std::lock_guard lock(mutex_);
        auto found = revocations_.find(key);
        if (found != revocations_.end() && (found->second.complete || !network))
            return found->second.status;
    }
    // The best evidence of all the sources: a revocation ends the search, a
    // "good" answer that is current too; an older one (a list carried in the
    // file) is kept while the next sources are asked for a later one.
    RevocationStatus status = unknownStatus(
        QStringLiteral("não consultada na rede, e nem o arquivo nem a cópia local têm a lista"));
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const QDateTime& at = services_.at.isValid() ? services_.at : now;
    for (const auto& provider : services_.revocation) {
        if (provider->usesNetwork() && !network)
            continue;
        // An unknown status says whether the network was asked in vain.
        if (provider->usesNetwork() && status.state == RevocationState::Unknown)
            status.detail = QStringLiteral("nenhuma resposta válida das fontes consultadas na "
                                           "rede (lista de revogados e OCSP)");
        if (std::optional<RevocationStatus> answer = provider->check(certificate, issuer))
            status = betterEvidence(status, *answer);
        if (status.revoked() || revocationCurrent(status, at) || speaksOfPast(status, at, now))
            break;
    }
    std::lock_guard lock(mutex_);
    revocations_[key] = Answer{status, network};
    return status;
}

void ValidationContext::checkChainOf(X509* certificate, PhaseRunner& runner,
                                     std::set<QByteArray>& claimed, std::mutex& claimedMutex) const
{
    auto run = completeChain(certificate);
    ossl::UniqueX509Stack chain(X509_STORE_CTX_get1_chain(run->context.get()));
    const int length = chain ? sk_X509_num(chain.get()) : 0;
    for (int depth = 0; depth + 1 < length; ++depth) {
        std::shared_ptr<X509> subject =
            ossl::shared(ossl::upRef(sk_X509_value(chain.get(), depth)));
        std::shared_ptr<X509> issuer =
            ossl::shared(ossl::upRef(sk_X509_value(chain.get(), depth + 1)));
        {
            std::lock_guard lock(claimedMutex);
            if (!claimed.insert(fingerprint(subject.get()) + fingerprint(issuer.get())).second)
                continue;
        }
        runner.add([this, subject, issuer] { revocationOf(subject.get(), issuer.get()); });
    }
}

bool ValidationContext::prepare(const std::vector<X509*>& certificates,
                                const PhaseProgress& progress) const
{
    const ossl::ErrorQueueGuard guard;
    networkOpen_ = true;
    PhaseRunner runner(services_.parallelism);
    std::set<QByteArray> claimed;
    std::mutex claimedMutex;
    for (X509* certificate : certificates) {
        std::shared_ptr<X509> own = ossl::shared(ossl::upRef(certificate));
        runner.add([this, own, &runner, &claimed, &claimedMutex] {
            checkChainOf(own.get(), runner, claimed, claimedMutex);
        });
    }
    const bool finished = runner.run(progress, services_.abort);
    networkOpen_ = false;
    // Paths worked out before the phase did not see what it found.
    std::lock_guard lock(mutex_);
    paths_.clear();
    return finished;
}

} // namespace selavia::signature
