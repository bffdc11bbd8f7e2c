#include "SignaturePolicies.h"

#include "Asn1Items.h"
#include "OpenSslHandles.h"
#include "TextDecoding.h"

#include <QCryptographicHash>
#include <algorithm>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/objects.h>

namespace selavia::signature::policies {
namespace {

// The files hold a few dozen elements per level; a policy file is ~20 KB.
constexpr qsizetype kMaxElements = 4096;
constexpr qsizetype kMaxFileBytes = 1 << 20;

enum Tag : unsigned char {
    kBoolean = 0x01,
    kInteger = 0x02,
    kOctetString = 0x04,
    kOid = 0x06,
    kEnumerated = 0x0a,
    kIa5String = 0x16,
    kGeneralizedTime = 0x18,
    kSequence = 0x30,
    kContext = 0xa0, // constructed, context-specific; plus the number
};

// One DER element: its tag, its content and its whole encoding.
struct Element {
    unsigned char tag = 0;
    QByteArrayView content;
    QByteArrayView whole;
};
using Elements = std::vector<Element>;

// The element at the start of `rest`, which moves past it; nullopt for
// anything but a definite-length element within `rest`.
std::optional<Element> take(QByteArrayView& rest)
{
    if (rest.size() < 2)
        return std::nullopt;
    const auto* bytes = reinterpret_cast<const unsigned char*>(rest.data());
    const unsigned char tag = bytes[0];
    if ((tag & 0x1f) == 0x1f)
        return std::nullopt; // high tag numbers: never in these files
    qsizetype length = bytes[1];
    qsizetype header = 2;
    if (length & 0x80) {
        const int octets = static_cast<int>(length & 0x7f);
        if (octets == 0 || octets > 3 || rest.size() < 2 + octets)
            return std::nullopt;
        length = 0;
        for (int i = 0; i < octets; ++i)
            length = (length << 8) | bytes[2 + i];
        header += octets;
    }
    if (length > rest.size() - header)
        return std::nullopt;
    Element element{tag, rest.sliced(header, length), rest.first(header + length)};
    rest = rest.sliced(header + length);
    return element;
}

// The elements `content` is made of; empty when it is not wholly elements.
Elements elementsOf(QByteArrayView content)
{
    Elements elements;
    while (!content.isEmpty()) {
        const std::optional<Element> element = take(content);
        if (!element || elements.size() >= kMaxElements)
            return {};
        elements.push_back(*element);
    }
    return elements;
}

// The one element `der` is, when it has `tag`.
std::optional<Element> single(QByteArrayView der, unsigned char tag)
{
    const std::optional<Element> element = take(der);
    if (!element || !der.isEmpty() || element->tag != tag)
        return std::nullopt;
    return element;
}

const Element* at(const Elements& elements, std::size_t index, unsigned char tag)
{
    return index < elements.size() && elements[index].tag == tag ? &elements[index] : nullptr;
}

// ITI tags explicitly: a tagged field holds the element of its type.
const Element* tagged(const Elements& elements, int number)
{
    auto found = std::find_if(elements.begin(), elements.end(), [&](const Element& element) {
        return element.tag == kContext + number;
    });
    return found != elements.end() ? &*found : nullptr;
}

Elements taggedSequence(const Elements& elements, int number)
{
    const Element* field = tagged(elements, number);
    if (field == nullptr)
        return {};
    const std::optional<Element> inner = single(field->content, kSequence);
    return inner ? elementsOf(inner->content) : Elements{};
}

QString oidOf(const Element* element)
{
    if (element == nullptr || element->tag != kOid)
        return {};
    const auto* cursor = reinterpret_cast<const unsigned char*>(element->whole.data());
    ossl::UniqueAsn1Object object(d2i_ASN1_OBJECT(nullptr, &cursor, element->whole.size()));
    return asn1::oidText(object.get());
}

QDateTime timeOf(const Element* element)
{
    if (element == nullptr || element->tag != kGeneralizedTime)
        return {};
    const auto* cursor = reinterpret_cast<const unsigned char*>(element->whole.data());
    ossl::UniqueAsn1Type time(d2i_ASN1_TYPE(nullptr, &cursor, element->whole.size()));
    return asn1::isA(time.get(), V_ASN1_GENERALIZEDTIME)
               ? text::decodeTime(time->value.generalizedtime)
               : QDateTime();
}

// A small non-negative INTEGER or ENUMERATED; -1 otherwise.
int numberOf(const Element* element)
{
    if (element == nullptr || element->content.isEmpty() || element->content.size() > 3 ||
        (element->content.front() & 0x80))
        return -1;
    int value = 0;
    for (char byte : element->content)
        value = (value << 8) | static_cast<unsigned char>(byte);
    return value;
}

QStringList oidsOf(const Element* sequence)
{
    QStringList oids;
    if (sequence == nullptr || sequence->tag != kSequence)
        return oids;
    for (const Element& element : elementsOf(sequence->content)) {
        const QString oid = oidOf(&element);
        if (!oid.isEmpty())
            oids << oid;
    }
    return oids;
}

// SigningPeriod ::= SEQUENCE { notBefore GeneralizedTime, notAfter GeneralizedTime OPTIONAL }
bool readPeriod(const Element* period, QDateTime& notBefore, QDateTime& notAfter)
{
    if (period == nullptr || period->tag != kSequence)
        return false;
    const Elements times = elementsOf(period->content);
    notBefore = timeOf(at(times, 0, kGeneralizedTime));
    notAfter = timeOf(at(times, 1, kGeneralizedTime));
    return notBefore.isValid();
}

// PolicyInfo ::= SEQUENCE { signingPeriod, revocationDate OPTIONAL, policyOID,
//     policyURI IA5String, policyDigest SEQUENCE { AlgorithmIdentifier, OCTET STRING } }
std::optional<ListedPolicy> readListed(const Element& info)
{
    const Elements fields = elementsOf(info.content);
    ListedPolicy listed;
    if (!readPeriod(at(fields, 0, kSequence), listed.notBefore, listed.notAfter))
        return std::nullopt;
    std::size_t next = 1;
    if (const Element* revoked = at(fields, next, kGeneralizedTime)) {
        listed.revoked = timeOf(revoked);
        ++next;
    }
    listed.oid = oidOf(at(fields, next, kOid));
    const Element* uri = at(fields, next + 1, kIa5String);
    const Element* digest = at(fields, next + 2, kSequence);
    if (listed.oid.isEmpty() || uri == nullptr || digest == nullptr)
        return std::nullopt;
    listed.uri = QString::fromLatin1(uri->content);
    const Elements hash = elementsOf(digest->content);
    const Element* algorithm = at(hash, 0, kSequence);
    const Element* value = at(hash, 1, kOctetString);
    if (algorithm == nullptr || value == nullptr)
        return std::nullopt;
    listed.digestAlgorithmOid = oidOf(at(elementsOf(algorithm->content), 0, kOid));
    listed.digest = value->content.toByteArray();
    return listed;
}

QString oidTextOfNid(int nid)
{
    // OpenSSL's own table entry: nothing to free.
    return nid != NID_undef ? asn1::oidText(OBJ_nid2obj(nid)) : QString();
}

// AlgAndLength ::= SEQUENCE { algID OID, minKeyLength INTEGER OPTIONAL, other OPTIONAL }
std::optional<AlgorithmConstraint> readAlgorithm(const Element& entry)
{
    const Elements fields = elementsOf(entry.content);
    AlgorithmConstraint constraint;
    constraint.algorithmOid = oidOf(at(fields, 0, kOid));
    if (constraint.algorithmOid.isEmpty())
        return std::nullopt;
    constraint.minKeyBits = std::max(0, numberOf(at(fields, 1, kInteger)));
    const int nid = OBJ_txt2nid(constraint.algorithmOid.toLatin1().constData());
    int digest = NID_undef;
    int key = NID_undef;
    if (nid != NID_undef && OBJ_find_sigid_algs(nid, &digest, &key) == 1) {
        constraint.digestOid = oidTextOfNid(digest);
        constraint.keyAlgorithmOid = oidTextOfNid(key);
    }
    return constraint;
}

// SignerRules ::= SEQUENCE { externalSignedData BOOLEAN OPTIONAL,
//     mandatedSignedAttr CMSAttrs, mandatedUnsignedAttr CMSAttrs,
//     mandatedCertificateRef [0] DEFAULT signerOnly,
//     mandatedCertificateInfo [1] DEFAULT none, signPolExtensions [2] OPTIONAL }
void readSignerRules(const Element* signerRules, PolicyRules& rules)
{
    if (signerRules == nullptr || signerRules->tag != kSequence)
        return;
    const Elements fields = elementsOf(signerRules->content);
    const std::size_t first = at(fields, 0, kBoolean) != nullptr ? 1 : 0;
    rules.mandatedSignedAttributes = oidsOf(at(fields, first, kSequence));
    rules.mandatedUnsignedAttributes = oidsOf(at(fields, first + 1, kSequence));
    auto requirement = [&](int number, CertificateRequirement fallback) {
        const Element* field = tagged(fields, number);
        if (field == nullptr)
            return fallback;
        const std::optional<Element> value = single(field->content, kEnumerated);
        const int written = value ? numberOf(&*value) : -1;
        return written >= 0 && written <= 2 ? static_cast<CertificateRequirement>(written)
                                            : fallback;
    };
    rules.mandatedCertificateRef = requirement(0, CertificateRequirement::SignerOnly);
    rules.mandatedCertificateInfo = requirement(1, CertificateRequirement::None);
    rules.hasExtensions = rules.hasExtensions || tagged(fields, 2) != nullptr;
}

// CommonRules ::= SEQUENCE { signerAndVeriferRules [0] OPTIONAL, …,
//     algorithmConstraintSet [4] OPTIONAL, signPolExtensions [5] OPTIONAL }
void readCommonRules(const Elements& common, PolicyRules& rules)
{
    // SignerAndVerifierRules ::= SEQUENCE { signerRules, verifierRules SEQUENCE {
    //     mandatedUnsignedAttr, signPolExtensions OPTIONAL } }
    const Elements signerAndVerifier = taggedSequence(common, 0);
    readSignerRules(at(signerAndVerifier, 0, kSequence), rules);
    if (const Element* verifier = at(signerAndVerifier, 1, kSequence)) {
        for (const QString& oid : oidsOf(at(elementsOf(verifier->content), 0, kSequence))) {
            if (!rules.mandatedUnsignedAttributes.contains(oid))
                rules.mandatedUnsignedAttributes << oid;
        }
    }
    // AlgorithmConstraintSet ::= SEQUENCE { signerAlgorithmConstraints [0]
    //     SEQUENCE OF AlgAndLength OPTIONAL, … }
    for (const Element& entry : taggedSequence(taggedSequence(common, 4), 0)) {
        if (std::optional<AlgorithmConstraint> constraint = readAlgorithm(entry))
            rules.signerAlgorithms.push_back(*constraint);
    }
    rules.hasExtensions = rules.hasExtensions || tagged(common, 5) != nullptr;
}

QString fileNameOf(const QString& uri)
{
    return uri.section(QLatin1Char('/'), -1);
}

KnownPolicy knownPolicy(const ListedPolicy& listed, const QString& listName,
                        const DocumentSource& documents)
{
    KnownPolicy known{listed, listName, {}, std::nullopt, {}};
    const QByteArray document = documents ? documents(fileNameOf(listed.uri)) : QByteArray();
    // A file that is not the one the list names is not used at all.
    if (document.isEmpty() || listed.digest.isEmpty() ||
        digestOf(listed.digestAlgorithmOid, document) != listed.digest)
        return known;
    std::optional<PolicyRules> rules = parsePolicy(document);
    if (!rules || rules->oid != listed.oid)
        return known;
    known.document = document;
    known.rules = std::move(rules);
    return known;
}

QByteArray bundledFile(const QString& name)
{
    for (const EmbeddedFile& file : bundledFiles()) {
        if (name == QLatin1String(file.name))
            return QByteArray::fromRawData(reinterpret_cast<const char*>(file.data),
                                           static_cast<qsizetype>(file.size));
    }
    return {};
}

} // namespace

std::optional<PolicyList> parsePolicyList(QByteArrayView der)
{
    // LPA ::= SEQUENCE { version INTEGER DEFAULT v2, policyInfos SEQUENCE OF PolicyInfo,
    //     nextUpdate GeneralizedTime }
    const std::optional<Element> list =
        der.size() <= kMaxFileBytes ? single(der, kSequence) : std::nullopt;
    if (!list)
        return std::nullopt;
    const Elements fields = elementsOf(list->content);
    const std::size_t first = at(fields, 0, kInteger) != nullptr ? 1 : 0;
    const Element* infos = at(fields, first, kSequence);
    PolicyList result;
    result.nextUpdate = timeOf(at(fields, first + 1, kGeneralizedTime));
    if (infos == nullptr || !result.nextUpdate.isValid())
        return std::nullopt;
    for (const Element& info : elementsOf(infos->content)) {
        std::optional<ListedPolicy> listed =
            info.tag == kSequence ? readListed(info) : std::nullopt;
        if (!listed)
            return std::nullopt;
        result.policies.push_back(std::move(*listed));
    }
    return result;
}

std::optional<PolicyRules> parsePolicy(QByteArrayView der)
{
    // SignaturePolicy ::= SEQUENCE { signPolicyHashAlg, signPolicyInfo, signPolicyHash OPTIONAL }
    const std::optional<Element> policy =
        der.size() <= kMaxFileBytes ? single(der, kSequence) : std::nullopt;
    if (!policy)
        return std::nullopt;
    const Elements top = elementsOf(policy->content);
    const Element* info = at(top, 1, kSequence);
    if (info == nullptr)
        return std::nullopt;
    // SignPolicyInfo ::= SEQUENCE { signPolicyIdentifier OID, dateOfIssue, policyIssuerName,
    //     fieldOfApplication, signatureValidationPolicy, signPolExtensions OPTIONAL }
    const Elements fields = elementsOf(info->content);
    PolicyRules rules;
    rules.oid = oidOf(at(fields, 0, kOid));
    rules.dateOfIssue = timeOf(at(fields, 1, kGeneralizedTime));
    const Element* validation = at(fields, 4, kSequence);
    if (rules.oid.isEmpty() || validation == nullptr)
        return std::nullopt;
    rules.hasExtensions = fields.size() > 5;
    // SignatureValidationPolicy ::= SEQUENCE { signingPeriod, commonRules, commitmentRules,
    //     signPolExtensions OPTIONAL }
    const Elements validationFields = elementsOf(validation->content);
    const Element* common = at(validationFields, 1, kSequence);
    if (!readPeriod(at(validationFields, 0, kSequence), rules.notBefore, rules.notAfter) ||
        common == nullptr)
        return std::nullopt;
    readCommonRules(elementsOf(common->content), rules);
    rules.hasExtensions = rules.hasExtensions || validationFields.size() > 3;
    return rules;
}

const KnownPolicy* PolicyCatalogue::find(const QString& oid) const
{
    auto found = std::find_if(policies.begin(), policies.end(),
                              [&](const KnownPolicy& known) { return known.listed.oid == oid; });
    return found != policies.end() ? &*found : nullptr;
}

namespace {

QByteArray listDigest(const QByteArray& der)
{
    return QCryptographicHash::hash(der, QCryptographicHash::Sha256).toHex();
}

} // namespace

PolicyCatalogue catalogueOf(const std::vector<std::pair<QString, QByteArray>>& lists,
                            const DocumentSource& documents)
{
    PolicyCatalogue catalogue;
    for (const auto& [name, der] : lists) {
        catalogue.listDigests.push_back(listDigest(der));
        const std::optional<PolicyList> list = parsePolicyList(der);
        if (!list) {
            catalogue.problems << QStringLiteral("lista de políticas ilegível: %1").arg(name);
            continue;
        }
        for (const ListedPolicy& listed : list->policies) {
            catalogue.policies.push_back(knownPolicy(listed, name, documents));
            catalogue.policies.back().nextUpdate = list->nextUpdate;
        }
        if (!catalogue.nextUpdate.isValid() || list->nextUpdate < catalogue.nextUpdate)
            catalogue.nextUpdate = list->nextUpdate;
    }
    return catalogue;
}

const std::vector<QByteArray>& bundledListDigests()
{
    static const std::vector<QByteArray> digests = [] {
        std::vector<QByteArray> made;
        for (const EmbeddedFile& file : bundledFiles()) {
            const QString name = QString::fromLatin1(file.name);
            if (name.startsWith(QLatin1String("LPA_")))
                made.push_back(listDigest(bundledFile(name)));
        }
        return made;
    }();
    return digests;
}

const PolicyCatalogue& bundledCatalogue()
{
    // A function-local static: built once, by the first thread that asks.
    static const PolicyCatalogue catalogue = [] {
        std::vector<std::pair<QString, QByteArray>> lists;
        for (const EmbeddedFile& file : bundledFiles()) {
            const QString name = QString::fromLatin1(file.name);
            if (name.startsWith(QLatin1String("LPA_")))
                lists.emplace_back(name, bundledFile(name));
        }
        return catalogueOf(lists, bundledFile);
    }();
    return catalogue;
}

QByteArray digestOf(const QString& digestOid, QByteArrayView data)
{
    const ossl::ErrorQueueGuard guard;
    const int nid = OBJ_txt2nid(digestOid.toLatin1().constData());
    const EVP_MD* md = nid != NID_undef ? EVP_get_digestbynid(nid) : nullptr;
    if (md == nullptr || EVP_MD_get_size(md) <= 0)
        return {};
    QByteArray digest(EVP_MD_get_size(md), Qt::Uninitialized);
    unsigned int length = 0;
    if (EVP_Digest(data.data(), static_cast<std::size_t>(data.size()),
                   reinterpret_cast<unsigned char*>(digest.data()), &length, md, nullptr) != 1)
        return {};
    digest.resize(static_cast<qsizetype>(length));
    return digest;
}

} // namespace selavia::signature::policies
