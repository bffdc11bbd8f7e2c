#include "SignedData.h"

#include "DerFrame.h"
#include "InputForm.h"
#include "Limits.h"
#include "MessageEvidence.h"
#include "OpenSslHandles.h"
#include "ParsedCertificates.h"
#include "SignatureError.h"
#include "TextDecoding.h"
#include "ValidationContext.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <openssl/err.h>
#include <unistd.h>

namespace selavia::signature {
namespace {

// Content goes to the digests in blocks of this size.
constexpr qint64 kFeedBlock = 1 << 20;

bool isUnsupportedReason(unsigned long error)
{
    const int library = ERR_GET_LIB(error);
    const int reason = ERR_GET_REASON(error);
    if (reason == ERR_R_UNSUPPORTED)
        return true;
    if (library == ERR_LIB_CMS)
        return reason == CMS_R_UNKNOWN_DIGEST_ALGORITHM || reason == CMS_R_NO_PUBLIC_KEY ||
               reason == CMS_R_UNSUPPORTED_SIGNATURE_ALGORITHM;
    if (library == ERR_LIB_EVP)
        return reason == EVP_R_UNSUPPORTED_ALGORITHM ||
               reason == EVP_R_OPERATION_NOT_SUPPORTED_FOR_THIS_KEYTYPE ||
               reason == EVP_R_NO_DEFAULT_DIGEST || reason == EVP_R_UNKNOWN_DIGEST;
    return false;
}

bool isDigestLengthReason(unsigned long error)
{
    return ERR_GET_LIB(error) == ERR_LIB_CMS &&
           ERR_GET_REASON(error) == CMS_R_MESSAGEDIGEST_ATTRIBUTE_WRONG_LENGTH;
}

// What a failed OpenSSL check means for the user: the algorithm is beyond
// us, or the signature simply does not verify.
SignatureError signatureFailure(int result, std::uint32_t mismatchCode)
{
    std::vector<unsigned long> errors = drainOpenSslErrors();
    if (result == 0)
        return SignatureError::withDetails(mismatchCode, errors);
    std::uint32_t failure = code::kBadSignature;
    for (unsigned long error : errors) {
        if (isUnsupportedReason(error))
            return SignatureError::withDetails(code::kUnsupportedAlgorithm, errors);
        if (isDigestLengthReason(error))
            failure = code::kHashMismatch;
    }
    return SignatureError::withDetails(failure, errors);
}

bool hasSignedAttributes(CMS_SignerInfo* info)
{
    return CMS_signed_get_attr_count(info) >= 0;
}

// `contentGiven`: the content comes from elsewhere, so the message must
// not hold one.
ossl::UniqueCms parseSignedData(QByteArrayView binary, bool contentGiven)
{
    // Counted before parsing: each entry would cost a pass over the content.
    if (std::optional<int> digests = countDigestAlgorithms(binary);
        digests && *digests > limits::kMaxDigestAlgorithms)
        throw SignatureError::of(code::kLimitExceeded);
    ossl::UniqueCms cms = certificates::messageSharingThem(binary);
    if (!cms) {
        const auto* cursor = reinterpret_cast<const unsigned char*>(binary.data());
        cms.reset(d2i_CMS_ContentInfo(nullptr, &cursor, binary.size()));
    }
    if (!cms || OBJ_obj2nid(CMS_get0_type(cms.get())) != NID_pkcs7_signed)
        throw SignatureError::fromOpenSsl(code::kNotSignedData);
    checkMessageLimits(cms.get());
    ASN1_OCTET_STRING** content = CMS_get0_content(cms.get());
    const bool attached = content != nullptr && *content != nullptr;
    if (!attached && !contentGiven)
        throw SignatureError::fromOpenSsl(code::kDetachedContent);
    if (attached && contentGiven)
        throw SignatureError::of(code::kContentNotDetached);
    return cms;
}

STACK_OF(CMS_SignerInfo) * signerInfos(CMS_ContentInfo* cms)
{
    STACK_OF(CMS_SignerInfo)* infos = CMS_get0_SignerInfos(cms);
    if (infos == nullptr)
        throw SignatureError::fromOpenSsl(code::kNotSignedData);
    return infos;
}

X509* signerCertificate(CMS_SignerInfo* info)
{
    X509* certificate = nullptr;
    EVP_PKEY* key = nullptr;
    CMS_SignerInfo_get0_algs(info, &key, &certificate, nullptr, nullptr);
    if (certificate == nullptr)
        throw SignatureError::of(code::kSignerCertificateMissing);
    if (key == nullptr)
        throw SignatureError::fromOpenSsl(code::kUnsupportedAlgorithm);
    return certificate;
}

void attachSignerCertificates(CMS_ContentInfo* cms)
{
    const ossl::ErrorQueueGuard guard;
    // Content without any signature proves nothing about its integrity.
    if (sk_CMS_SignerInfo_num(signerInfos(cms)) <= 0)
        throw SignatureError::of(code::kNoSigners);
    CMS_set1_signers_certs(cms, nullptr, 0);
    ERR_clear_error(); // a certificate not found is told below, not by OpenSSL
    STACK_OF(CMS_SignerInfo)* infos = signerInfos(cms);
    for (int i = 0; i < sk_CMS_SignerInfo_num(infos); ++i)
        signerCertificate(sk_CMS_SignerInfo_value(infos, i));
}

// A signature algorithm this program cannot compute is not a violated
// signature; one naming another hash than the digest algorithm is: OpenSSL
// would check it under the digest's and let it pass for either.
void checkAlgorithmsAgree(CMS_ContentInfo* cms)
{
    STACK_OF(CMS_SignerInfo)* infos = signerInfos(cms);
    for (int i = 0; i < sk_CMS_SignerInfo_num(infos); ++i) {
        CMS_SignerInfo* info = sk_CMS_SignerInfo_value(infos, i);
        if (!detail::signatureAlgorithmKnown(info))
            throw SignatureError::of(code::kUnsupportedAlgorithm);
        if (detail::algorithmsAgree(info))
            continue;
        const SignerAlgorithms named = detail::signerAlgorithms(info);
        throw SignatureError(code::kBadSignature,
                             QStringLiteral("O algoritmo de assinatura (%1) não usa o algoritmo de "
                                            "hash declarado (%2).")
                                 .arg(named.signature, named.digest));
    }
}

// Signatures over the signed attributes, signer by signer. Returns, per
// signer, whether its signature verified only over its attributes in DER
// order (signers must sign them so, some store them otherwise).
std::vector<bool> verifyAttributeSignatures(CMS_ContentInfo* cms)
{
    STACK_OF(CMS_SignerInfo)* infos = signerInfos(cms);
    std::vector<bool> overDerOrder;
    for (int i = 0; i < sk_CMS_SignerInfo_num(infos); ++i) {
        CMS_SignerInfo* info = sk_CMS_SignerInfo_value(infos, i);
        overDerOrder.push_back(false);
        if (!hasSignedAttributes(info))
            continue;
        int result = CMS_SignerInfo_verify(info);
        if (result == 1)
            continue;
        // OpenSSL refuses an attribute twice before looking at the
        // signature: a format fault, told with the signer, not a forgery.
        EVP_PKEY* key = nullptr;
        CMS_SignerInfo_get0_algs(info, &key, nullptr, nullptr, nullptr);
        const bool twice = !detail::attributeFormatProblems(info).isEmpty();
        if (twice && detail::verifySignedAttributes(info, key, detail::AttributeOrder::Stored)) {
            ERR_clear_error();
            continue;
        }
        if (!detail::storedInDerOrder(info) &&
            detail::verifySignedAttributes(info, key, detail::AttributeOrder::Der)) {
            ERR_clear_error();
            overDerOrder.back() = true;
            continue;
        }
        throw signatureFailure(result, code::kBadSignature);
    }
    return overDerOrder;
}

// Up to `length` bytes of `input` from `offset`; fewer only at its end.
QByteArray readRange(MessageInput& input, qint64 offset, qint64 length)
{
    QByteArray bytes(static_cast<qsizetype>(std::max<qint64>(length, 0)), Qt::Uninitialized);
    const qint64 got = length > 0 ? input.read(offset, bytes.data(), length) : 0;
    bytes.truncate(static_cast<qsizetype>(std::max<qint64>(got, 0)));
    return bytes;
}

// The content, handed over in blocks.
using Feeder = std::function<void(const std::function<void(const char*, qint64)>& write)>;

// The digest a signer names; some signers write the signature algorithm
// where the digest belongs, which OpenSSL's matching accepts too.
const EVP_MD* digestFor(const X509_ALGOR* algorithm)
{
    const ASN1_OBJECT* oid = nullptr;
    X509_ALGOR_get0(&oid, nullptr, nullptr, algorithm);
    int nid = OBJ_obj2nid(oid);
    int digest = NID_undef;
    if (OBJ_find_sigid_algs(nid, &digest, nullptr) == 1 && digest != NID_undef)
        nid = digest;
    return EVP_get_digestbynid(nid);
}

// One digest per distinct algorithm the signers use, and SHA-256 for the
// report, over a sink that drops what went through.
ossl::UniqueBio digestChain(CMS_ContentInfo* cms)
{
    ossl::UniqueBio chain(BIO_new(BIO_s_null()));
    std::vector<int> types;
    auto add = [&](const EVP_MD* md) {
        if (std::find(types.begin(), types.end(), EVP_MD_get_type(md)) != types.end())
            return;
        ossl::UniqueBio link(BIO_new(BIO_f_md()));
        if (!chain || !link || BIO_set_md(link.get(), md) != 1)
            throw SignatureError::fromOpenSsl(code::kInternal);
        BIO_push(link.get(), chain.release());
        chain = std::move(link);
        types.push_back(EVP_MD_get_type(md));
    };
    STACK_OF(CMS_SignerInfo)* infos = signerInfos(cms);
    for (int i = 0; i < sk_CMS_SignerInfo_num(infos); ++i) {
        X509_ALGOR* algorithm = nullptr;
        CMS_SignerInfo_get0_algs(sk_CMS_SignerInfo_value(infos, i), nullptr, nullptr, &algorithm,
                                 nullptr);
        const EVP_MD* md = algorithm != nullptr ? digestFor(algorithm) : nullptr;
        if (md == nullptr)
            throw SignatureError::fromOpenSsl(code::kUnsupportedAlgorithm);
        add(md);
    }
    add(EVP_sha256());
    return chain;
}

// The SHA-256 of what went through `chain`.
QByteArray sha256Of(BIO* chain)
{
    for (BIO* bio = chain; bio != nullptr; bio = BIO_next(bio)) {
        EVP_MD_CTX* context = nullptr;
        if (BIO_method_type(bio) != BIO_TYPE_MD || BIO_get_md_ctx(bio, &context) != 1)
            continue;
        if (!EVP_MD_is_a(EVP_MD_CTX_get0_md(context), "SHA256"))
            continue;
        ossl::UniqueEvpMdCtx copy(EVP_MD_CTX_new());
        std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
        unsigned int length = 0;
        if (copy && EVP_MD_CTX_copy_ex(copy.get(), context) == 1 &&
            EVP_DigestFinal_ex(copy.get(), digest.data(), &length) == 1)
            return QByteArray(reinterpret_cast<const char*>(digest.data()), length);
    }
    throw SignatureError::fromOpenSsl(code::kInternal);
}

// Each digest of `chain` as it stands, for time-stamps over the content.
ContentDigests digestsOf(BIO* chain)
{
    ContentDigests digests;
    for (BIO* bio = chain; bio != nullptr; bio = BIO_next(bio)) {
        EVP_MD_CTX* context = nullptr;
        if (BIO_method_type(bio) != BIO_TYPE_MD || BIO_get_md_ctx(bio, &context) != 1)
            continue;
        ossl::UniqueEvpMdCtx copy(EVP_MD_CTX_new());
        if (!copy || EVP_MD_CTX_copy_ex(copy.get(), context) != 1)
            throw SignatureError::fromOpenSsl(code::kInternal);
        digests.emplace_back(copy.release(), ossl::Deleter<EVP_MD_CTX_free>());
    }
    return digests;
}

// Hashes the content once per digest algorithm as `feed` writes it, handing
// every block to `sink` from that same write, then checks each signer's
// message digest (or, without signed attributes, its signature). Returns
// the content's SHA-256.
QByteArray verifyContent(CMS_ContentInfo* cms, const Feeder& feed, const ContentSink& sink,
                         ContentDigests& digests)
{
    ossl::UniqueBio chain = digestChain(cms);
    // Feeders hand over at most kFeedBlock bytes at a time, which fits an int.
    feed([&](const char* data, qint64 length) {
        if (BIO_write(chain.get(), data, static_cast<int>(length)) != length)
            throw SignatureError::fromOpenSsl(code::kInternal);
        if (sink)
            sink(QByteArrayView(data, length));
    });
    STACK_OF(CMS_SignerInfo)* infos = signerInfos(cms);
    for (int i = 0; i < sk_CMS_SignerInfo_num(infos); ++i) {
        CMS_SignerInfo* info = sk_CMS_SignerInfo_value(infos, i);
        int result = CMS_SignerInfo_verify_content(info, chain.get());
        if (result != 1)
            throw signatureFailure(result, hasSignedAttributes(info) ? code::kHashMismatch
                                                                     : code::kBadSignature);
    }
    digests = digestsOf(chain.get());
    return sha256Of(chain.get());
}

void reportProgress(const Progress& progress, qint64 done, qint64 total)
{
    if (progress && !progress(done, total))
        throw SignatureError::of(code::kCancelled);
}

// The content held by the parsed message.
Feeder memoryFeeder(QByteArrayView content, const Progress& progress)
{
    return [content, progress](const auto& write) {
        for (qint64 done = 0; done < content.size();) {
            const qint64 block = std::min<qint64>(content.size() - done, kFeedBlock);
            write(content.data() + done, block);
            done += block;
            reportProgress(progress, done, content.size());
        }
    };
}

// The content of a detached signature, read from its own input block by
// block: never held whole.
Feeder detachedFeeder(MessageInput& content, const Progress& progress)
{
    return [&content, progress](const auto& write) {
        const qint64 total = content.size();
        QByteArray block(static_cast<qsizetype>(std::min(total, kFeedBlock)), Qt::Uninitialized);
        for (qint64 done = 0; done < total;) {
            const qint64 wanted = std::min(total - done, kFeedBlock);
            // Unreadable, or shorter than it was: what it holds now was not signed.
            if (content.read(done, block.data(), wanted) != wanted)
                throw SignatureError::of(code::kContentUnreadable);
            write(block.constData(), wanted);
            done += wanted;
            reportProgress(progress, done, total);
        }
    };
}

// Reads the input in large windows, so that many small pieces cost one read.
class WindowReader {
public:
    explicit WindowReader(MessageInput& input)
        : input_(input), window_(std::clamp<qint64>(input.size(), 1, kFeedBlock), Qt::Uninitialized)
    {
    }

    // Up to `length` bytes at `offset`, from the current window or a new one.
    // The view lasts until the next call.
    QByteArrayView at(qint64 offset, qint64 length)
    {
        // A request that runs past the window starts a new one, unless the
        // window is already at the end of the input.
        const qint64 wanted = std::min<qint64>(length, window_.size());
        if (offset < start_ || offset + wanted > start_ + filled_) {
            start_ = offset;
            filled_ = std::max<qint64>(input_.read(offset, window_.data(), window_.size()), 0);
        }
        const qint64 available = start_ + filled_ - offset;
        return QByteArrayView(window_.constData() + (offset - start_),
                              std::min(length, std::max<qint64>(available, 0)));
    }

    // What a frame parser wants: small reads from the window, larger ones
    // straight from the input.
    QByteArray read(qint64 offset, qint64 length)
    {
        return length <= 64 ? at(offset, length).toByteArray() : readRange(input_, offset, length);
    }

private:
    MessageInput& input_;
    QByteArray window_;
    qint64 start_ = 0;
    qint64 filled_ = 0;
};

// The input up to `limit`: what follows a message is never read.
class BoundedInput : public MessageInput {
public:
    BoundedInput(MessageInput& input, qint64 limit) : input_(input), limit_(limit) {}
    qint64 size() const override { return limit_; }
    qint64 read(qint64 offset, char* buffer, qint64 length) override
    {
        return input_.read(offset, buffer, std::clamp<qint64>(limit_ - offset, 0, length));
    }

private:
    MessageInput& input_;
    qint64 limit_;
};

// How a message lies in its input.
struct Frame {
    qint64 end = 0;                  // the message is [0, end) of the input
    std::optional<FrameSplit> split; // cut around its content, when it can be
};

// The one reading of a message's frame, for a file and for bytes in memory
// alike, so that both get one verdict. A message whose outer SEQUENCE has a
// definite length ends there: what follows is never read, as OpenSSL's
// parser never reads it either.
Frame readFrame(MessageInput& whole)
{
    const qint64 size = whole.size();
    const qint64 end = std::min(definiteMessageEnd(readRange(whole, 0, 10)).value_or(size), size);
    BoundedInput input(whole, end);
    // Small reads (the pieces' headers) come from one window at a time.
    WindowReader window(input);
    return {end,
            splitAtContent(
                [&](qint64 offset, qint64 length) { return window.read(offset, length); }, end)};
}

// The content read from the input, window by window, never held whole: the
// pieces are walked again as they are read.
Feeder inputFeeder(MessageInput& input, const ContentElement& content, const Progress& progress)
{
    return [&input, content, progress](const auto& write) {
        WindowReader reader(input);
        const ReadAt small = [&](qint64 offset, qint64 length) {
            return reader.read(offset, length);
        };
        qint64 fed = 0;
        qint64 reported = 0;
        walkContent(small, content, [&](qint64 offset, qint64 length) {
            for (qint64 done = 0; done < length;) {
                const QByteArrayView part = reader.at(offset + done, length - done);
                if (part.isEmpty()) // the input shrank under us: what is there does not verify
                    throw SignatureError::of(code::kNotSignedData);
                write(part.data(), part.size());
                done += part.size();
                fed += part.size();
                if (fed - reported >= kFeedBlock || fed == content.length) {
                    reported = fed;
                    reportProgress(progress, fed, content.length);
                }
            }
        });
    };
}

AttributeName attributeName(const QString& oid)
{
    if (oid == QLatin1String("1.2.840.113549.1.9.5"))
        return AttributeName::SigningTime;
    if (oid == QLatin1String("1.3.6.1.4.1.311.88.2.1"))
        return AttributeName::DocumentName;
    if (oid == QLatin1String("1.3.6.1.4.1.311.88.2.2"))
        return AttributeName::DocumentDescription;
    return AttributeName::Other;
}

QVariant attributeValue(AttributeName name, X509_ATTRIBUTE* attribute)
{
    ASN1_TYPE* value =
        X509_ATTRIBUTE_count(attribute) > 0 ? X509_ATTRIBUTE_get0_type(attribute, 0) : nullptr;
    if (value == nullptr)
        return {};
    switch (name) {
    case AttributeName::SigningTime: {
        if (value->type != V_ASN1_UTCTIME && value->type != V_ASN1_GENERALIZEDTIME)
            return {};
        QDateTime moment = text::decodeTime(value->value.asn1_string);
        return moment.isValid() ? QVariant(moment) : QVariant();
    }
    case AttributeName::DocumentName:
    case AttributeName::DocumentDescription: {
        auto decoded = text::decodeTextValue(value);
        return decoded ? QVariant(*decoded) : QVariant();
    }
    case AttributeName::Other:
        break;
    }
    return {};
}

std::vector<Attribute> readAttributes(CMS_SignerInfo* info)
{
    std::vector<Attribute> attributes;
    const int count = CMS_signed_get_attr_count(info);
    for (int i = 0; i < count; ++i) {
        X509_ATTRIBUTE* raw = CMS_signed_get_attr(info, i);
        std::array<char, 128> oid{};
        OBJ_obj2txt(oid.data(), oid.size(), X509_ATTRIBUTE_get0_object(raw), 1);
        Attribute attribute;
        attribute.oid = QString::fromLatin1(oid.data());
        attribute.name = attributeName(attribute.oid);
        attribute.value = attributeValue(attribute.name, raw);
        attributes.push_back(std::move(attribute));
    }
    return attributes;
}

std::shared_ptr<const ValidationContext> makeContext(CMS_ContentInfo* cms, TrustStore store,
                                                     ValidationServices services)
{
    ossl::UniqueX509Stack certificates(CMS_get1_certs(cms));
    if (!certificates)
        certificates.reset(sk_X509_new_null());
    if (!certificates)
        throw SignatureError::fromOpenSsl(code::kInternal);
    CarriedEvidence carried = carriedEvidence(cms);
    // Certificates of certificate-values, and those of the document around
    // the message, build paths like the message's own.
    std::vector<std::shared_ptr<X509>> helpers = carried.certificates;
    helpers.insert(helpers.end(), services.documentCertificates.begin(),
                   services.documentCertificates.end());
    for (const auto& certificate : helpers) {
        ossl::UniqueX509 own = ossl::upRef(certificate.get());
        if (own && sk_X509_push(certificates.get(), own.get()) > 0)
            own.release();
    }
    services.revocation.insert(services.revocation.begin(),
                               std::make_shared<MessageRevocation>(std::move(carried)));
    return std::make_shared<const ValidationContext>(std::move(store), std::move(certificates),
                                                     std::move(services));
}

Chain chainOf(const Certificate& certificate)
{
    Chain chain;
    try {
        chain.build(certificate);
    } catch (const SignatureError&) {
        // A chain that cannot be built stays empty; judging it is the
        // caller's matter.
    }
    return chain;
}

std::vector<Signer> makeSigners(CMS_ContentInfo* cms,
                                const std::shared_ptr<const ValidationContext>& context,
                                const std::vector<bool>& overDerOrder, ContentDigests digests)
{
    const CadesContext cades = detail::cadesContextOf(cms, context, std::move(digests));
    std::vector<Signer> signers;
    STACK_OF(CMS_SignerInfo)* infos = signerInfos(cms);
    for (int i = 0; i < sk_CMS_SignerInfo_num(infos); ++i) {
        CMS_SignerInfo* info = sk_CMS_SignerInfo_value(infos, i);
        Certificate certificate(signerCertificate(info), context);
        Chain chain = chainOf(certificate);
        CadesInfo cadesInfo = detail::readCades(info, certificate.handle(), cades);
        SignerEncoding encoding{detail::signerAlgorithms(info),
                                detail::attributeFormatProblems(info),
                                overDerOrder.at(static_cast<std::size_t>(i))};
        signers.emplace_back(std::move(certificate), readAttributes(info), std::move(chain),
                             std::move(cadesInfo), std::move(encoding));
    }
    return signers;
}

} // namespace

namespace detail {
struct SignedDataState {
    ossl::UniqueCms cms;
    std::vector<Signer> signers;
    InputForm form = InputForm::Der;
    qint64 contentLength = 0;
    QByteArray sha256;
    std::shared_ptr<const ValidationContext> context;
};
} // namespace detail

namespace {

// What both paths do once the message is parsed and its content can be fed.
void finish(detail::SignedDataState& state, const TrustStore& trustStore,
            const ValidationServices& services, const Feeder& feed, const ContentSink& sink)
{
    const ossl::ErrorQueueGuard guard;
    attachSignerCertificates(state.cms.get());
    checkAlgorithmsAgree(state.cms.get());
    const std::vector<bool> overDerOrder = verifyAttributeSignatures(state.cms.get());
    ContentDigests digests;
    state.sha256 = verifyContent(state.cms.get(), feed, sink, digests);
    state.context = makeContext(state.cms.get(), trustStore, services);
    state.signers = makeSigners(state.cms.get(), state.context, overDerOrder, std::move(digests));
}

} // namespace

qint64 ViewInput::read(qint64 offset, char* buffer, qint64 length)
{
    const qint64 got = std::clamp<qint64>(bytes_.size() - offset, 0, length);
    std::copy_n(bytes_.data() + offset, got, buffer);
    return got;
}

qint64 FileInput::read(qint64 offset, char* buffer, qint64 length)
{
    qint64 done = 0;
    while (done < length) {
        const ssize_t got =
            ::pread(fd_, buffer + done, static_cast<size_t>(length - done), offset + done);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return done > 0 ? done : -1;
        if (got == 0)
            break;
        done += got;
    }
    return done;
}

SignedData::SignedData(TrustStore trustStore, ValidationServices services)
    : trustStore_(std::move(trustStore)), services_(std::move(services))
{
}
SignedData::~SignedData() = default;
SignedData::SignedData(SignedData&&) noexcept = default;
SignedData& SignedData::operator=(SignedData&&) noexcept = default;

void SignedData::verify(QByteArrayView message, bool detached, int flag)
{
    state_.reset();
    if (detached || flag != 0)
        throw SignatureError(code::kInternal, QStringLiteral("Modo de verificação não suportado."));
    verifyInMemory(message, {});
}

void SignedData::verify(QByteArrayView message, const VerifyOptions& options)
{
    state_.reset();
    verifyInMemory(message, options);
}

void SignedData::verifyInMemory(QByteArrayView message, const VerifyOptions& options)
{
    const ossl::ErrorQueueGuard guard;
    SniffedInput input = sniffInput(message);
    // Framed as a file is (its end found, its content's pieces counted), so
    // that a message has one verdict however it comes.
    ViewInput view(input.binary);
    const QByteArrayView binary = input.binary.first(readFrame(view).end);
    auto state = std::make_unique<detail::SignedDataState>();
    state->form = input.form;
    state->cms = parseSignedData(binary, options.detachedContent != nullptr);
    Feeder feed;
    if (options.detachedContent != nullptr) {
        state->contentLength = options.detachedContent->size();
        feed = detachedFeeder(*options.detachedContent, options.progress);
    } else {
        ASN1_OCTET_STRING** content = CMS_get0_content(state->cms.get());
        const QByteArrayView bytes(ASN1_STRING_get0_data(*content), ASN1_STRING_length(*content));
        state->contentLength = bytes.size();
        feed = memoryFeeder(bytes, options.progress);
    }
    finish(*state, trustStore_, services_, feed, options.sink);
    state_ = std::move(state);
}

void SignedData::verify(MessageInput& whole, const VerifyOptions& options)
{
    const ossl::ErrorQueueGuard guard;
    state_.reset();
    const Frame frame = readFrame(whole);
    BoundedInput input(whole, frame.end);
    const qint64 size = input.size();
    const std::optional<FrameSplit>& split = frame.split;
    if (!split) {
        // Not the common layout (PEM, Base64, damage): read whole, within bounds.
        if (size > limits::kMaxWholeMessageBytes)
            throw SignatureError::of(code::kLimitExceeded);
        verifyInMemory(readRange(input, 0, size), options);
        return;
    }
    auto state = std::make_unique<detail::SignedDataState>();
    state->cms = parseSignedData(split->frame, options.detachedContent != nullptr);
    state->contentLength = split->content.length;
    finish(*state, trustStore_, services_, inputFeeder(input, split->content, options.progress),
           options.sink);
    state_ = std::move(state);
}

bool SignedData::isVerified() const
{
    return state_ != nullptr;
}

const detail::SignedDataState& SignedData::verifiedState() const
{
    if (!state_)
        throw SignatureError::of(code::kNotVerified);
    return *state_;
}

qint64 SignedData::contentSize() const
{
    return verifiedState().contentLength;
}

QByteArray SignedData::contentSha256() const
{
    return verifiedState().sha256;
}

const std::vector<Signer>& SignedData::signers() const
{
    return verifiedState().signers;
}

InputForm SignedData::inputForm() const
{
    return verifiedState().form;
}

TimeStampToken SignedData::asTimeStampToken(const Imprinted& imprinted) const
{
    const detail::SignedDataState& state = verifiedState();
    const ossl::ErrorQueueGuard guard;
    unsigned char* raw = nullptr;
    const int length = i2d_CMS_ContentInfo(state.cms.get(), &raw);
    const ossl::UniqueOpenSslBytes der(raw);
    if (length <= 0)
        throw SignatureError::fromOpenSsl(code::kInternal);
    const QByteArray token(reinterpret_cast<const char*>(der.get()), length);
    return verifyTimeStampToken(token, imprinted,
                                detail::cadesContextOf(state.cms.get(), state.context));
}

namespace {

// Whose revocation the validation phase asks about: every signer's
// certificate, and the certificates its time-stamps and counter-signatures
// were made with.
std::vector<X509*> certificatesToCheck(const std::vector<Signer>& signers)
{
    std::vector<X509*> certificates;
    auto add = [&](const Certificate& certificate) {
        if (!certificate.isNull())
            certificates.push_back(certificate.handle());
    };
    for (const Signer& signer : signers) {
        add(signer.certificate());
        for (const TimeStampToken& token : signer.cades().timeStamps)
            add(token.tsaCertificate);
        for (const CounterSignature& counter : signer.cades().counterSignatures)
            add(counter.certificate);
    }
    return certificates;
}

} // namespace

bool SignedData::prepareValidation(const PhaseProgress& progress)
{
    if (!state_)
        throw SignatureError::of(code::kNotVerified);
    const bool finished = state_->context->prepare(certificatesToCheck(state_->signers), progress);
    // Chains are built again with what the phase found.
    for (Signer& signer : state_->signers)
        signer = Signer(signer.certificate(), signer.authenticatedAttributes(),
                        chainOf(signer.certificate()), signer.cades(), signer.encoding());
    return finished;
}

namespace utilities {
QByteArray base64Decode(const QString& text)
{
    QByteArray compact = text.toLatin1();
    compact.replace('\r', "").replace('\n', "").replace(' ', "").replace('\t', "");
    auto result = QByteArray::fromBase64Encoding(compact, QByteArray::AbortOnBase64DecodingErrors);
    if (!result)
        throw SignatureError::of(code::kBadBase64);
    return result.decoded;
}
} // namespace utilities

} // namespace selavia::signature
