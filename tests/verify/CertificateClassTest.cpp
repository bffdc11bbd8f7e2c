#include "verify/CertificateClass.h"

#include "platform/signature/SignatureError.h"
#include "tests/support/JudgedCertificates.h"
#include "tests/support/VerifyFixtures.h"
#include "verify/Signatures.h"

#include <gtest/gtest.h>
#include <tuple>

using namespace selavia::verify;
using namespace selavia::testing;

namespace {

// The class a signer is read with: its certificate judged now, and its
// signing-certificate attribute.
CertificateClass classifySigner(const sig::Signer& signer)
{
    return readSigner(signer, 1).certificateClass;
}

CertificateClass classOfOnlySigner(const fx::Cert& signer, sig::TrustStore store)
{
    VerifiedSigners verified = verifiedSigners(messageFor({{.cert = signer}}), std::move(store));
    return classifySigner(verified.signers().at(0));
}

// The signer of a hierarchy in which only the intermediate's name carries
// the criterion, verified trusting its root.
VerifiedSigners criterionOnIntermediate()
{
    static const auto [root, intermediate, signer] = [] {
        const fx::Cert root = fx::makeCertificate(
            {.subject = {{"C", "BR"}, {"CN", "Raiz Independente de Teste"}}, .ca = true});
        const fx::Cert intermediate = fx::makeCertificate(
            {.subject = {{"C", "BR"},
                         {"CN", "AC Subordinada Autoridade Certificadora Raiz Brasileira"}},
             .issuer = &root,
             .ca = true});
        return std::tuple{root, intermediate, fx::issueEndEntity(intermediate, "BELTRANO")};
    }();
    fx::MessageSpec spec = messageFor({{.cert = signer}});
    spec.extraCertificates = {intermediate, root};
    return verifiedSigners(spec, storeTrusting({&root}));
}

} // namespace

TEST(VerifyCertificateTest, AnyCertificateOfTheChainNamingTheRootAuthorityMakesItIcpBrasil)
{
    // The root's name carries a generation suffix.
    VerifiedSigners icp = verifiedSigners(messageFor({{.cert = icpSigner()}}));
    EXPECT_TRUE(VerifyCertificate(icp.signers()[0].chain().certificates()));

    VerifiedSigners onIntermediate = criterionOnIntermediate();
    ASSERT_EQ(onIntermediate.signers()[0].chain().certificates().count(), 3);
    EXPECT_TRUE(VerifyCertificate(onIntermediate.signers()[0].chain().certificates()));

    // Only the signer's own name, under a foreign root.
    fx::Cert ownName = fx::issueEndEntity(fx::foreignHierarchy().intermediate,
                                          "autoridade certificadora raiz brasileira (cópia)");
    VerifiedSigners own = verifiedSigners(messageFor({{.cert = ownName}}));
    EXPECT_TRUE(VerifyCertificate(own.signers()[0].chain().certificates()));
}

TEST(VerifyCertificateTest, ForeignAndEmptyChainsAreNotIcpBrasilAndAnEmptyEntryIsAFailure)
{
    VerifiedSigners foreign = verifiedSigners(messageFor(
        {{.cert = fx::issueEndEntity(fx::foreignHierarchy().intermediate, "John Doe")}}));
    EXPECT_EQ(foreign.signers()[0].chain().certificates().count(), 3);
    EXPECT_FALSE(VerifyCertificate(foreign.signers()[0].chain().certificates()));
    EXPECT_FALSE(VerifyCertificate(sig::CertificateCollection()));

    std::vector<sig::Certificate> withEmpty(foreign.signers()[0].chain().certificates().begin(),
                                            foreign.signers()[0].chain().certificates().end());
    withEmpty.emplace_back();
    EXPECT_THROW(VerifyCertificate(sig::CertificateCollection(withEmpty)), sig::SignatureError);
}

TEST(ClassifySignerTest, TheTwoTestsGiveTheFourClasses)
{
    const std::time_t now = std::time(nullptr);
    const fx::Hierarchy& foreign = fx::foreignHierarchy();

    EXPECT_EQ(classOfOnlySigner(icpSigner(), trustingIcp()), CertificateClass::Valid);
    EXPECT_EQ(classOfOnlySigner(icpSigner("EXPIRADO:1", "12345678901", now - 30 * kDay, now - kDay),
                                trustingIcp()),
              CertificateClass::Invalid);
    EXPECT_EQ(classOfOnlySigner(icpSigner(), sig::TrustStore::empty()), CertificateClass::Invalid)
        << "an untrusted ICP-Brasil root is still ICP-Brasil";

    fx::Cert john = fx::issueEndEntity(foreign.intermediate, "John Doe");
    EXPECT_EQ(classOfOnlySigner(john, storeTrusting({&foreign.root})),
              CertificateClass::NoIcpValid);
    EXPECT_EQ(classOfOnlySigner(john, trustingIcp()), CertificateClass::NoIcpInvalid);

    EXPECT_EQ(classifySigner(criterionOnIntermediate().signers()[0]), CertificateClass::Valid);

    // A revoked ICP-Brasil certificate is ICP-Brasil and invalid.
    fx::Cert revoked = icpSigner("REVOGADO:1");
    fx::MessageSpec spec = messageFor({{.cert = revoked}});
    spec.crls = {fx::makeCrl(fx::icpBrasilHierarchy().intermediate, {revoked})};
    EXPECT_EQ(classifySigner(verifiedSigners(spec).signers()[0]), CertificateClass::Invalid);
}

TEST(ClassifySignerTest, AValidityThatCannotBeWorkedOutCountsAsInvalid)
{
    // The certificate of a trusted ICP-Brasil signer, but cut off from its
    // message: nothing to judge it against.
    VerifiedSigners verified = verifiedSigners(messageFor({{.cert = icpSigner()}}));
    const sig::Signer& original = verified.signers()[0];
    ASSERT_EQ(classifySigner(original), CertificateClass::Valid);
    sig::Certificate withoutContext(original.certificate().handle(), nullptr);
    ASSERT_FALSE(judgedNow(withoutContext).result);
    sig::Signer cutOff(withoutContext, original.authenticatedAttributes(), original.chain());
    // Nor a path to tell it is ICP-Brasil: the class comes from the path judged.
    EXPECT_EQ(classifySigner(cutOff), CertificateClass::NoIcpInvalid);

    sig::Signer empty(sig::Certificate(), {}, sig::Chain());
    EXPECT_EQ(classifySigner(empty), CertificateClass::NoIcpInvalid);
}

TEST(ClassifySignerTest, AnAttributeNamingAnotherCertificateMakesAValidOneInvalid)
{
    VerifiedSigners verified = verifiedSigners(messageFor({{.cert = icpSigner()}}));
    const CertificateStatus status =
        judgedNow(verified.signers()[0].certificate(), sig::CertificateRole::Signer);
    ASSERT_TRUE(status.result) << joined(status.problems);
    EXPECT_EQ(classOf(status, false), CertificateClass::Valid);
    EXPECT_EQ(classOf(status, true), CertificateClass::Invalid);
}

TEST(SignaturesOkTest, TrueOnlyWhenThereAreSignersAndEveryOneIsValid)
{
    using C = CertificateClass;
    EXPECT_FALSE(signaturesOk({}));
    EXPECT_TRUE(signaturesOk({C::Valid}));
    EXPECT_TRUE(signaturesOk({C::Valid, C::Valid, C::Valid}));
    for (C other : {C::Invalid, C::NoIcpValid, C::NoIcpInvalid}) {
        EXPECT_FALSE(signaturesOk({other}));
        EXPECT_FALSE(signaturesOk({other, C::Valid})) << "an invalid first signer";
        EXPECT_FALSE(signaturesOk({C::Valid, other, C::Valid}));
    }
}

TEST(SignaturesOkTest, AValidLastSignerDoesNotHideAnInvalidFirstOne)
{
    const std::time_t now = std::time(nullptr);
    fx::Cert expired = icpSigner("EXPIRADO:1", "11111111111", now - 30 * kDay, now - kDay);
    ValidationResult document =
        verifiedDocument(messageFor({{.cert = expired}, {.cert = icpSigner()}}));
    ASSERT_EQ(document.signers.size(), 2u);
    EXPECT_EQ(document.signers[0].certificateClass, CertificateClass::Invalid);
    EXPECT_EQ(document.signers[1].certificateClass, CertificateClass::Valid);
    EXPECT_FALSE(document.signaturesOk);

    ValidationResult bothValid =
        verifiedDocument(messageFor({{.cert = icpSigner()}, {.cert = icpSigner("OUTRO:2")}}));
    EXPECT_TRUE(bothValid.signaturesOk);
}
