#include "MessageEvidence.h"

#include "Limits.h"
#include "Ocsp.h"
#include "OpenSslHandles.h"

#include <QByteArray>
#include <QByteArrayView>
#include <algorithm>
#include <array>
#include <openssl/err.h>
#include <vector>

namespace selavia::signature {
namespace {

const char* const kOcspResponseFormat = "1.3.6.1.5.5.7.16.2";
const char* const kRevocationValuesOid = "1.2.840.113549.1.9.16.2.24";
const char* const kCertificateValuesOid = "1.2.840.113549.1.9.16.2.23";

// Bounds on what a message may carry beyond its `crls` field's lists: real
// files carry a list and an answer or two per certificate of a chain.
constexpr std::size_t kMaxCrls = limits::kMaxCrls;
constexpr std::size_t kMaxOcspAnswers = 64;
constexpr std::size_t kMaxCertificates = 256;
// Elements walked in one level of a structure.
constexpr int kMaxElements = 1024;
// One list, answer or certificate; large authorities' lists take tens of MB.
constexpr qsizetype kMaxItemBytes = qsizetype(64) << 20;

struct Element {
    int tag = 0;
    int tagClass = 0;
    QByteArrayView whole;   // tag, length and content
    QByteArrayView content; // the content alone
};

// The elements one after the other in `der`, definite lengths only; stops
// at the first that does not parse.
std::vector<Element> elementsOf(QByteArrayView der)
{
    std::vector<Element> elements;
    const auto* cursor = reinterpret_cast<const unsigned char*>(der.data());
    const auto* end = cursor + der.size();
    while (cursor < end && static_cast<int>(elements.size()) < kMaxElements) {
        const unsigned char* start = cursor;
        long length = 0;
        Element element;
        const int info =
            ASN1_get_object(&cursor, &length, &element.tag, &element.tagClass, end - cursor);
        if ((info & 0x80) != 0 || info == 0x21)
            break;
        element.content = QByteArrayView(cursor, length);
        element.whole = QByteArrayView(start, cursor + length - start);
        cursor += length;
        elements.push_back(element);
    }
    return elements;
}

// The elements inside the single element that `der` must be.
std::vector<Element> insideOf(QByteArrayView der)
{
    std::vector<Element> outer = elementsOf(der);
    return outer.size() == 1 ? elementsOf(outer.front().content) : std::vector<Element>{};
}

bool isContext(const Element& element, int tag)
{
    return element.tagClass == V_ASN1_CONTEXT_SPECIFIC && element.tag == tag;
}

QByteArray oidOf(const Element& element)
{
    const auto* cursor = reinterpret_cast<const unsigned char*>(element.whole.data());
    ossl::UniqueAsn1Object object(d2i_ASN1_OBJECT(nullptr, &cursor, element.whole.size()));
    std::array<char, 128> text{};
    if (!object || OBJ_obj2txt(text.data(), text.size(), object.get(), 1) <= 0)
        return {};
    return QByteArray(text.data());
}

template <typename Unique, typename D2i> Unique parsed(D2i d2i, QByteArrayView der)
{
    if (der.size() > kMaxItemBytes)
        return {};
    const auto* cursor = reinterpret_cast<const unsigned char*>(der.data());
    Unique object(d2i(nullptr, &cursor, der.size()));
    return cursor == reinterpret_cast<const unsigned char*>(der.data()) + der.size()
               ? std::move(object)
               : Unique();
}

void addCrl(CarriedEvidence& evidence, QByteArrayView der)
{
    if (evidence.crls.size() >= kMaxCrls)
        return;
    if (auto crl = parsed<ossl::UniqueX509Crl>(d2i_X509_CRL, der))
        evidence.crls.push_back(ossl::shared(std::move(crl)));
}

void addBasicOcsp(CarriedEvidence& evidence, QByteArrayView der)
{
    if (evidence.ocsp.size() >= kMaxOcspAnswers)
        return;
    if (auto basic = parsed<ossl::UniqueOcspBasic>(d2i_OCSP_BASICRESP, der))
        evidence.ocsp.push_back(ossl::shared(std::move(basic)));
}

void addOcspResponse(CarriedEvidence& evidence, QByteArrayView der)
{
    auto response = parsed<ossl::UniqueOcspResponse>(d2i_OCSP_RESPONSE, der);
    if (!response || OCSP_response_status(response.get()) != OCSP_RESPONSE_STATUS_SUCCESSFUL ||
        evidence.ocsp.size() >= kMaxOcspAnswers)
        return;
    if (ossl::UniqueOcspBasic basic{OCSP_response_get1_basic(response.get())})
        evidence.ocsp.push_back(ossl::shared(std::move(basic)));
}

// The message without its content, encoded: the `crls` field as written,
// other formats included, which OpenSSL does not hand out.
QByteArray frameOf(CMS_ContentInfo* cms)
{
    ASN1_OCTET_STRING** content = CMS_get0_content(cms);
    ASN1_OCTET_STRING* kept = content != nullptr ? *content : nullptr;
    if (content != nullptr)
        *content = nullptr;
    QByteArray der = ossl::encoded(i2d_CMS_ContentInfo, cms);
    if (content != nullptr)
        *content = kept;
    return der;
}

// OCSP answers among the RevocationInfoChoices of SignedData's `crls`
// (other [1] { id-ri-ocsp-response, OCSPResponse }).
void readOtherRevocationInfo(CMS_ContentInfo* cms, CarriedEvidence& evidence)
{
    const QByteArray frame = frameOf(cms);
    std::vector<Element> contentInfo = insideOf(frame);
    if (contentInfo.size() != 2 || !isContext(contentInfo[1], 0))
        return;
    for (const Element& field : insideOf(contentInfo[1].content)) {
        if (!isContext(field, 1))
            continue;
        for (const Element& choice : elementsOf(field.content)) {
            std::vector<Element> other =
                isContext(choice, 1) ? elementsOf(choice.content) : std::vector<Element>{};
            if (other.size() == 2 && oidOf(other[0]) == kOcspResponseFormat)
                addOcspResponse(evidence, other[1].whole);
        }
    }
}

// RevocationValues: [0] lists, [1] basic OCSP answers, each a SEQUENCE OF
// under an explicit tag.
void readRevocationValues(QByteArrayView der, CarriedEvidence& evidence)
{
    for (const Element& part : insideOf(der)) {
        if (!isContext(part, 0) && !isContext(part, 1))
            continue;
        for (const Element& item : insideOf(part.content)) {
            if (isContext(part, 0))
                addCrl(evidence, item.whole);
            else
                addBasicOcsp(evidence, item.whole);
        }
    }
}

void readCertificateValues(QByteArrayView der, CarriedEvidence& evidence)
{
    for (const Element& item : insideOf(der)) {
        if (evidence.certificates.size() >= kMaxCertificates)
            return;
        if (auto certificate = parsed<ossl::UniqueX509>(d2i_X509, item.whole))
            evidence.certificates.push_back(ossl::shared(std::move(certificate)));
    }
}

void readSignerAttributes(CMS_SignerInfo* info, CarriedEvidence& evidence)
{
    const int count = std::min(CMS_unsigned_get_attr_count(info), limits::kMaxUnsignedAttributes);
    for (int i = 0; i < count; ++i) {
        X509_ATTRIBUTE* attribute = CMS_unsigned_get_attr(info, i);
        std::array<char, 64> oid{};
        if (OBJ_obj2txt(oid.data(), oid.size(), X509_ATTRIBUTE_get0_object(attribute), 1) <= 0)
            continue;
        const bool revocationValues = qstrcmp(oid.data(), kRevocationValuesOid) == 0;
        if (!revocationValues && qstrcmp(oid.data(), kCertificateValuesOid) != 0)
            continue;
        for (int v = 0; v < X509_ATTRIBUTE_count(attribute); ++v) {
            const QByteArray value =
                ossl::encoded(i2d_ASN1_TYPE, X509_ATTRIBUTE_get0_type(attribute, v));
            if (revocationValues)
                readRevocationValues(value, evidence);
            else
                readCertificateValues(value, evidence);
        }
    }
}

} // namespace

CarriedEvidence carriedEvidence(CMS_ContentInfo* cms)
{
    const ossl::ErrorQueueGuard guard;
    CarriedEvidence evidence;
    ossl::UniqueCrlStack crls(CMS_get1_crls(cms));
    for (int i = 0; crls && i < sk_X509_CRL_num(crls.get()); ++i) {
        if (ossl::UniqueX509Crl own = ossl::upRef(sk_X509_CRL_value(crls.get(), i)))
            evidence.crls.push_back(ossl::shared(std::move(own)));
    }
    readOtherRevocationInfo(cms, evidence);
    STACK_OF(CMS_SignerInfo)* infos = CMS_get0_SignerInfos(cms);
    for (int i = 0; infos != nullptr && i < sk_CMS_SignerInfo_num(infos); ++i)
        readSignerAttributes(sk_CMS_SignerInfo_value(infos, i), evidence);
    return evidence;
}

CarriedEvidence evidenceFromDer(const std::vector<QByteArray>& certificates,
                                const std::vector<QByteArray>& crls,
                                const std::vector<QByteArray>& ocspResponses)
{
    const ossl::ErrorQueueGuard guard;
    CarriedEvidence evidence;
    for (const QByteArray& der : certificates) {
        if (evidence.certificates.size() >= kMaxCertificates)
            break;
        if (auto certificate = parsed<ossl::UniqueX509>(d2i_X509, der))
            evidence.certificates.push_back(ossl::shared(std::move(certificate)));
    }
    for (const QByteArray& der : crls)
        addCrl(evidence, der);
    for (const QByteArray& der : ocspResponses)
        addOcspResponse(evidence, der);
    return evidence;
}

MessageRevocation::MessageRevocation(CarriedEvidence evidence, RevocationSource source)
    : evidence_(std::move(evidence)), source_(source)
{
}

MessageRevocation::~MessageRevocation() = default;

std::optional<RevocationStatus> MessageRevocation::check(X509* certificate, X509* issuer)
{
    const QDateTime now = QDateTime::currentDateTimeUtc();
    std::optional<RevocationStatus> best;
    auto offer = [&](std::optional<RevocationStatus> status) {
        if (status)
            best = best ? betterEvidence(*best, *status) : *status;
    };
    for (const auto& crl : evidence_.crls) {
        if (!crlIssuedBy(crl.get(), issuer, now))
            continue;
        std::optional<CrlAnswer> answer = crlAnswerFor(crl.get(), certificate, now);
        offer(answer ? statusFromCrl(*answer, source_) : std::nullopt);
    }
    for (const auto& basic : evidence_.ocsp)
        offer(ocspStatus(basic.get(), certificate, issuer, source_, now, OcspAge::AnyPast));
    return best;
}

} // namespace selavia::signature
