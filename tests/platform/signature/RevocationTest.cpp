#include "platform/signature/Revocation.h"

#include "tests/support/Fixtures.h"
#include "tests/support/JudgedCertificates.h"

#include <gtest/gtest.h>

namespace {

using namespace selavia::testing;

// A root, an intermediate that may only issue certificates (no cRLSign), and
// a signer under it.
struct NoCrlSignHierarchy {
    fx::Cert root;
    fx::Cert intermediate;
};

const NoCrlSignHierarchy& noCrlSignHierarchy()
{
    static const NoCrlSignHierarchy hierarchy = [] {
        NoCrlSignHierarchy made;
        made.root = fx::makeCertificate({.subject = {{"CN", "Raiz Sem LCR"}}, .ca = true});
        made.intermediate =
            fx::makeCertificate({.subject = {{"CN", "AC Sem LCR"}},
                                 .issuer = &made.root,
                                 .ca = true,
                                 .extensions = {{"keyUsage", "critical,keyCertSign"}}});
        return made;
    }();
    return hierarchy;
}

// The signer's status in a message that carries `crls`, under the ICP-like root.
selavia::verify::CertificateStatus statusWith(const fx::Cert& signer,
                                              std::vector<std::shared_ptr<X509_CRL>> crls,
                                              std::vector<fx::Cert> extra = {})
{
    fx::MessageSpec spec = icpMessage(signer);
    spec.crls = std::move(crls);
    spec.extraCertificates.insert(spec.extraCertificates.end(), extra.begin(), extra.end());
    const NoCrlSignHierarchy& other = noCrlSignHierarchy();
    const fx::Hierarchy icp = fx::icpBrasilHierarchy();
    sig::SignedData data(storeTrusting({&icp.root, &other.root}));
    data.verify(bytes(fx::makeSignedMessage(spec)));
    return judgedNow(data.signers()[0].certificate(), sig::CertificateRole::Signer);
}

// A certificate with the intermediate's name and a key of its own: what a
// forger signs lists with.
fx::Cert impostorOf(const std::string& name)
{
    return fx::makeCertificate(
        {.subject = {{"C", "BR"}, {"O", "ICP-Brasil"}, {"CN", name}}, .ca = true});
}

TEST(MessageCrlTest, OnlyAListSignedByTheIssuerAndMeantForItRevokes)
{
    const fx::Hierarchy& icp = fx::icpBrasilHierarchy();
    const fx::Cert signer = icpSigner();

    selavia::verify::CertificateStatus revoked =
        statusWith(signer, {fx::makeCrl({.issuer = &icp.intermediate,
                                         .revoked = {signer},
                                         .revocationDate = fx::utc(2026, 3, 4, 5, 6, 7),
                                         .reason = 1})});
    EXPECT_FALSE(revoked.result);
    EXPECT_EQ(revoked.revocation.state, sig::RevocationState::Revoked);
    EXPECT_EQ(revoked.revocation.source, sig::RevocationSource::Message);
    EXPECT_TRUE(revoked.problems.join('\n').contains(
        "revogado em 04/03/2026 02:06:07 -03:00 (motivo: comprometimento da chave)"))
        << joined(revoked.problems);

    selavia::verify::CertificateStatus good =
        statusWith(signer, {fx::makeCrl(icp.intermediate, {})});
    EXPECT_TRUE(good.result) << joined(good.problems);
    EXPECT_EQ(good.revocation.state, sig::RevocationState::Good);
    EXPECT_EQ(good.revocation.source, sig::RevocationSource::Message);

    // Lists that must be ignored: none of them revokes, none says "good".
    const fx::Cert impostor = impostorOf("AC Intermediaria de Teste v5");
    const std::time_t now = std::time(nullptr);
    const std::vector<std::pair<const char*, std::shared_ptr<X509_CRL>>> ignored = {
        {"signed by another key", fx::makeCrl({.issuer = &impostor, .revoked = {signer}})},
        {"issued in the future", fx::makeCrl({.issuer = &icp.intermediate,
                                              .revoked = {signer},
                                              .lastUpdate = now + kDay,
                                              .nextUpdate = now + 8 * kDay})},
        {"unknown critical extension",
         fx::makeCrl({.issuer = &icp.intermediate,
                      .revoked = {signer},
                      .extensions = {{"1.2.3.4.5", "critical,DER:05:00"}}})},
        {"delta list", fx::makeCrl({.issuer = &icp.intermediate,
                                    .revoked = {signer},
                                    .extensions = {{"deltaCRL", "critical,DER:02:01:01"}}})},
    };
    for (const auto& [why, crl] : ignored) {
        selavia::verify::CertificateStatus status = statusWith(signer, {crl});
        EXPECT_TRUE(status.result) << why << ": " << joined(status.problems);
        EXPECT_EQ(status.revocation.state, sig::RevocationState::Unknown) << why;
    }
}

// What a key said of a list is remembered for the process, keyed by both
// the list and the issuer: a list replaced by another of the same
// authority, or the same list shown with a namesake, is checked afresh.
TEST(MessageCrlTest, ARememberedListSignatureIsNeverLentToAnotherListOrNamesake)
{
    const fx::Hierarchy& icp = fx::icpBrasilHierarchy();
    const fx::Cert signer = icpSigner();
    const fx::Cert impostor = impostorOf("AC Intermediaria de Teste v5");
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const auto genuine = fx::makeCrl({.issuer = &icp.intermediate, .revoked = {signer}});
    // The same authority's name and entries, another key: a replaced list.
    const auto forged =
        fx::makeCrl({.issuer = &icp.intermediate, .signingKey = impostor.key, .revoked = {signer}});
    const auto later = fx::makeCrl({.issuer = &icp.intermediate});
    struct Row {
        const char* what;
        X509_CRL* crl;
        const fx::Cert* issuer;
        bool trusted;
    };
    const Row rows[] = {
        {"genuine", genuine.get(), &icp.intermediate, true},
        {"replaced by a forged one", forged.get(), &icp.intermediate, false},
        {"replaced by a later genuine one", later.get(), &icp.intermediate, true},
        {"genuine, shown with a namesake", genuine.get(), &impostor, false},
    };
    for (int round = 0; round < 2; ++round) {
        for (const Row& row : rows) {
            SCOPED_TRACE(::testing::Message() << row.what << ", round " << round);
            EXPECT_EQ(sig::crlIssuedBy(row.crl, row.issuer->x509.get(), now), row.trusted);
        }
    }
}

TEST(MessageCrlTest, TheIntermediateIsRevokedOnlyByItsOwnIssuer)
{
    const fx::Hierarchy& icp = fx::icpBrasilHierarchy();
    const fx::Cert signer = icpSigner();
    const fx::Cert forgedRoot = impostorOf("Autoridade Certificadora Raiz Brasileira v5");

    selavia::verify::CertificateStatus forged =
        statusWith(signer, {fx::makeCrl({.issuer = &forgedRoot, .revoked = {icp.intermediate}})});
    EXPECT_TRUE(forged.result) << joined(forged.problems);
    ASSERT_EQ(forged.chain.size(), 3u);
    EXPECT_EQ(forged.chain[1].revocation.state, sig::RevocationState::Unknown);

    selavia::verify::CertificateStatus genuine =
        statusWith(signer, {fx::makeCrl({.issuer = &icp.root, .revoked = {icp.intermediate}})});
    EXPECT_FALSE(genuine.result);
    ASSERT_EQ(genuine.chain.size(), 3u);
    EXPECT_TRUE(genuine.chain[1].revocation.revoked());
    EXPECT_FALSE(genuine.revocation.revoked()) << "the signer itself is not listed";
    EXPECT_TRUE(genuine.chain[1].problems.join(' ').contains("revogado"));
    // The trusted root is not asked about.
    EXPECT_EQ(genuine.chain[2].revocation.state, sig::RevocationState::Good);
}

TEST(MessageCrlTest, AnIssuerThatMayNotSignListsIsNotBelieved)
{
    const NoCrlSignHierarchy& other = noCrlSignHierarchy();
    const fx::Cert signer = fx::issueEndEntity(other.intermediate, "BELTRANO");
    selavia::verify::CertificateStatus status = statusWith(
        signer, {fx::makeCrl(other.intermediate, {signer})}, {other.intermediate, other.root});
    EXPECT_TRUE(status.result) << joined(status.problems);
    EXPECT_EQ(status.revocation.state, sig::RevocationState::Unknown);
}

TEST(MessageCrlTest, AStaleListStillRevokesButNeverVouches)
{
    const fx::Hierarchy& icp = fx::icpBrasilHierarchy();
    const fx::Cert signer = icpSigner();
    const std::time_t now = std::time(nullptr);
    auto stale = [&](std::vector<fx::Cert> revoked) {
        return fx::makeCrl({.issuer = &icp.intermediate,
                            .revoked = std::move(revoked),
                            .lastUpdate = now - 30 * kDay,
                            .nextUpdate = now - 20 * kDay,
                            .revocationDate = now - 40 * kDay});
    };
    const selavia::verify::CertificateStatus revoked = statusWith(signer, {stale({signer})});
    EXPECT_TRUE(revoked.revocation.revoked());
    EXPECT_FALSE(revoked.result);
    selavia::verify::CertificateStatus unlisted = statusWith(signer, {stale({})});
    EXPECT_TRUE(unlisted.result);
    EXPECT_EQ(unlisted.revocation.state, sig::RevocationState::Unknown);
}

TEST(SigningPurposeTest, TheSignerCertificateMustBeMeantForSignatures)
{
    const fx::Cert& issuer = fx::icpBrasilHierarchy().intermediate;
    using Extensions = std::vector<std::pair<std::string, std::string>>;
    auto signerWith = [&](Extensions extensions) {
        return fx::makeCertificate({.subject = {{"CN", "FULANO"}},
                                    .issuer = &issuer,
                                    .extensions = std::move(extensions)});
    };
    const std::vector<std::pair<Extensions, bool>> cases = {
        {{}, true},
        {{{"keyUsage", "critical,digitalSignature"}}, true},
        {{{"keyUsage", "critical,nonRepudiation"}}, true},
        {{{"keyUsage", "critical,keyCertSign"}}, false},
        {{{"keyUsage", "critical,keyEncipherment"}}, false},
        {{{"extendedKeyUsage", "serverAuth"}}, false},
        {{{"extendedKeyUsage", "emailProtection"}}, true},
        {{{"extendedKeyUsage", "clientAuth,serverAuth"}}, true},
        {{{"extendedKeyUsage", "anyExtendedKeyUsage"}}, true},
        {{{"extendedKeyUsage", "1.3.6.1.5.5.7.3.36"}}, true},
        {{{"extendedKeyUsage", "1.3.6.1.4.1.311.10.3.12"}}, true},
        {{{"extendedKeyUsage", "codeSigning,timeStamping"}}, false},
        {{{"keyUsage", "digitalSignature"}, {"extendedKeyUsage", "serverAuth"}}, false},
    };
    for (const auto& [extensions, allowed] : cases) {
        selavia::verify::CertificateStatus status = statusWith(signerWith(extensions), {});
        const QString problems = status.problems.join('\n');
        EXPECT_EQ(status.result, allowed) << problems.toStdString();
        EXPECT_EQ(status.meantForSignatures, allowed) << problems.toStdString();
        EXPECT_EQ(problems.contains("o certificado não se destina a assinaturas"), !allowed)
            << problems.toStdString();
    }
}

TEST(SigningPurposeTest, AnAuthorityCertificateSigningADocumentIsNotValid)
{
    const fx::Hierarchy& icp = fx::icpBrasilHierarchy();
    sig::SignedData data(trustingIcp());
    data.verify(bytes(fx::makeSignedMessage(icpMessage(icp.intermediate))));
    const sig::Certificate& certificate = data.signers()[0].certificate();
    EXPECT_FALSE(judgedNow(certificate, sig::CertificateRole::Signer).result);
    EXPECT_FALSE(judgedNow(certificate, sig::CertificateRole::Signer).meantForSignatures);
    // Judged as what it is, an authority, it is fine.
    EXPECT_TRUE(judgedNow(certificate).result);
    EXPECT_TRUE(judgedNow(certificate).meantForSignatures);
}

// Whether the chain itself holds, apart from dates and revocation: reached
// a trusted root through issuers that may issue.
TEST(ChainTrustTest, AChainIsTrustedOnlyUpToATrustedRootThroughRealAuthorities)
{
    const fx::Hierarchy& icp = fx::icpBrasilHierarchy();
    const std::time_t now = std::time(nullptr);
    EXPECT_TRUE(statusWith(icpSigner(), {}).chainTrusted);
    const selavia::verify::CertificateStatus expired = statusWith(
        icpSigner("EXPIRADO:12345678901", "12345678901", now - 90 * 86400, now - 86400), {});
    EXPECT_FALSE(expired.result);
    EXPECT_TRUE(expired.chainTrusted) << "an expired certificate is a matter of dates";

    sig::SignedData untrusted(sig::TrustStore::empty());
    untrusted.verify(bytes(fx::makeSignedMessage(icpMessage(icpSigner()))));
    EXPECT_FALSE(
        judgedNow(untrusted.signers()[0].certificate(), sig::CertificateRole::Signer).chainTrusted);

    // An "authority" that may not issue certificates, under the trusted root.
    const fx::Cert notAnAuthority = fx::makeCertificate(
        {.subject = {{"CN", "AC que nao e AC"}}, .issuer = &icp.root, .ca = false});
    const fx::Cert signer = fx::issueEndEntity(notAnAuthority, "FULANO:12345678901");
    const selavia::verify::CertificateStatus status = statusWith(signer, {}, {notAnAuthority});
    EXPECT_FALSE(status.result);
    EXPECT_FALSE(status.chainTrusted) << joined(status.problems);
}

} // namespace
