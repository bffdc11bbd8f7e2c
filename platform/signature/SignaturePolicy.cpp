#include "SignaturePolicy.h"

#include "Asn1Items.h"
#include "TextDecoding.h"

#include <openssl/cms.h>
#include <openssl/err.h>

namespace selavia::signature::detail {
namespace {

const char* const kPolicyOid = "1.2.840.113549.1.9.16.2.15";
const QString kSpUriOid = QStringLiteral("1.2.840.113549.1.9.16.5.1");

// sigPolicyQualifiers: SEQUENCE OF { sigPolicyQualifierId OID, sigQualifier ANY }.
QString uriOf(const ASN1_TYPE* qualifiers)
{
    ossl::UniqueAsn1Sequence items = asn1::sequence(qualifiers);
    for (int i = 0; i < asn1::count(items.get()); ++i) {
        ossl::UniqueAsn1Sequence qualifier = asn1::sequence(asn1::at(items.get(), i));
        const ASN1_TYPE* value = asn1::at(qualifier.get(), 1);
        if (asn1::oidText(asn1::at(qualifier.get(), 0)) == kSpUriOid &&
            asn1::isA(value, V_ASN1_IA5STRING))
            return text::toQString(value->value.ia5string);
    }
    return {};
}

// SignaturePolicyId ::= SEQUENCE { sigPolicyId OID,
//     sigPolicyHash SEQUENCE { hashAlgorithm AlgorithmIdentifier, hashValue OCTET STRING },
//     sigPolicyQualifiers SEQUENCE OF ... OPTIONAL }
SignaturePolicyIdentifier read(const ASN1_TYPE* value)
{
    SignaturePolicyIdentifier policy;
    if (asn1::isA(value, V_ASN1_NULL)) {
        policy.implied = true;
        return policy;
    }
    ossl::UniqueAsn1Sequence items = asn1::sequence(value);
    policy.oid = asn1::oidText(asn1::at(items.get(), 0));
    ossl::UniqueAsn1Sequence hash = asn1::sequence(asn1::at(items.get(), 1));
    ossl::UniqueAsn1Sequence algorithm = asn1::sequence(asn1::at(hash.get(), 0));
    policy.hashAlgorithmOid = asn1::oidText(asn1::at(algorithm.get(), 0));
    const ASN1_TYPE* hashValue = asn1::at(hash.get(), 1);
    if (asn1::isA(hashValue, V_ASN1_OCTET_STRING))
        policy.hash = asn1::bytes(hashValue).toByteArray();
    policy.uri = uriOf(asn1::at(items.get(), 2));
    if (policy.oid.isEmpty() || policy.hashAlgorithmOid.isEmpty() || policy.hash.isEmpty())
        policy.problems << QStringLiteral("identificador da política de assinatura ilegível");
    return policy;
}

} // namespace

std::optional<SignaturePolicyIdentifier> readSignaturePolicy(CMS_SignerInfo* info)
{
    const ossl::ErrorQueueGuard guard;
    ossl::UniqueAsn1Object oid(OBJ_txt2obj(kPolicyOid, 1));
    const int index = oid ? CMS_signed_get_attr_by_OBJ(info, oid.get(), -1) : -1;
    if (index < 0) {
        return std::nullopt;
    }
    X509_ATTRIBUTE* attribute = CMS_signed_get_attr(info, index);
    SignaturePolicyIdentifier policy = read(X509_ATTRIBUTE_get0_type(attribute, 0));
    if (X509_ATTRIBUTE_count(attribute) != 1 ||
        CMS_signed_get_attr_by_OBJ(info, oid.get(), index) >= 0)
        policy.problems << QStringLiteral("identificador da política de assinatura repetido");
    return policy;
}

} // namespace selavia::signature::detail
