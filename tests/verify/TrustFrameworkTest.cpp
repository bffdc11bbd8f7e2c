#include "tests/support/VerifyFixtures.h"
#include "verify/CertificateClass.h"

#include <gtest/gtest.h>
#include <optional>

using namespace selavia::verify;
using namespace selavia::testing;
using selavia::signature::TrustFramework;

namespace {

// A message of one signer carrying its authorities, verified trusting only
// `root`, added as an anchor of `framework` (nothing trusted when null).
ValidationResult verifiedUnder(const fx::Cert& signer, const std::vector<fx::Cert>& authorities,
                               const fx::Cert* root, TrustFramework framework)
{
    fx::MessageSpec spec;
    spec.content = "%PDF-1.7 requerimento";
    spec.signers = {{.cert = signer}};
    spec.extraCertificates = authorities;
    sig::TrustStore store = sig::TrustStore::empty();
    if (root != nullptr)
        store.addTrusted(bytes(root->der()), framework);
    return verifiedDocument(spec, std::move(store));
}

std::vector<fx::Cert> govBrAuthorities()
{
    const fx::GovBrChain& chain = fx::govBrChain();
    return {chain.issuing, chain.intermediate, chain.root};
}

// A chain whose intermediate's name carries the ICP-Brasil criterion.
struct IcpNamedChain {
    fx::Cert root, intermediate, signer;
};
const IcpNamedChain& icpNamedChain()
{
    static const IcpNamedChain chain = [] {
        fx::Cert root = fx::makeCertificate(
            {.subject = {{"C", "BR"}, {"CN", "Raiz de Teste gov.br"}}, .ca = true});
        fx::Cert intermediate = fx::makeCertificate(
            {.subject = {{"C", "BR"},
                         {"CN", "AC Subordinada Autoridade Certificadora Raiz Brasileira"}},
             .issuer = &root,
             .ca = true});
        fx::Cert signer = fx::issueEndEntity(intermediate, "CICLANO");
        return IcpNamedChain{root, intermediate, signer};
    }();
    return chain;
}

bool hasReason(const Judgement& judgement, const QString& code)
{
    for (const VerdictReason& reason : judgement.reasons) {
        if (reason.code == code)
            return true;
    }
    return false;
}

} // namespace

TEST(TrustFrameworkTest, EachSignerTakesTheFrameworkOfTheAnchorItsPathReachesAndIsCaptionedByIt)
{
    const fx::Hierarchy& icp = fx::icpBrasilHierarchy();
    const fx::Hierarchy& foreign = fx::foreignHierarchy();
    const fx::GovBrChain& govBr = fx::govBrChain();
    const fx::Cert citizen = fx::govBrCitizen("MARIA DA SILVA", "12345678901");
    const IcpNamedChain& icpNamed = icpNamedChain();
    struct Case {
        const char* name;
        fx::Cert signer;
        std::vector<fx::Cert> authorities;
        const fx::Cert* root;
        TrustFramework tagged;
        TrustFramework expected;
        CertificateClass certificateClass;
        const char* caption;
    };
    const std::vector<Case> cases = {
        {"ICP-Brasil root",
         icpSigner(),
         {icp.intermediate, icp.root},
         &icp.root,
         TrustFramework::IcpBrasil,
         TrustFramework::IcpBrasil,
         CertificateClass::Valid,
         "Certificado ICP-Brasil - Válido"},
        {"gov.br root", citizen, govBrAuthorities(), &govBr.root, TrustFramework::GovBr,
         TrustFramework::GovBr, CertificateClass::NoIcpValid,
         "Assinatura eletrônica avançada (gov.br) - Válida"},
        {"gov.br chain trusted as plain", citizen, govBrAuthorities(), &govBr.root,
         TrustFramework::Other, TrustFramework::Other, CertificateClass::NoIcpValid,
         "Certificado Desconhecido - Válido"},
        {"foreign root",
         fx::issueEndEntity(foreign.intermediate, "John Doe"),
         {foreign.intermediate, foreign.root},
         &foreign.root,
         TrustFramework::Other,
         TrustFramework::Other,
         CertificateClass::NoIcpValid,
         "Certificado Desconhecido - Válido"},
        {"no anchor", citizen, govBrAuthorities(), nullptr, TrustFramework::Other,
         TrustFramework::None, CertificateClass::NoIcpInvalid,
         "Certificado Desconhecido - Inválido"},
        // A name under a gov.br anchor never makes it ICP-Brasil.
        {"gov.br anchor, ICP-Brasil name",
         icpNamed.signer,
         {icpNamed.intermediate, icpNamed.root},
         &icpNamed.root,
         TrustFramework::GovBr,
         TrustFramework::GovBr,
         CertificateClass::NoIcpValid,
         "Assinatura eletrônica avançada (gov.br) - Válida"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ValidationResult document = verifiedUnder(c.signer, c.authorities, c.root, c.tagged);
        ASSERT_EQ(document.signers.size(), 1u);
        const SignatureResult& signer = document.signers[0];
        EXPECT_EQ(signer.trustFramework, c.expected);
        EXPECT_EQ(signer.certificateClass, c.certificateClass) << joined(signer.status.problems);
        EXPECT_EQ(signerCaption(signer.certificateClass, signer.trustFramework),
                  QString::fromUtf8(c.caption));
    }
}

TEST(TrustFrameworkTest, AGovBrCitizenIsReadByNameAndCpfAndAnExpiredOneIsNeverApproved)
{
    const fx::GovBrChain& govBr = fx::govBrChain();
    const std::time_t now = std::time(nullptr);
    struct Case {
        const char* name;
        fx::Cert citizen;
        const char* caption;
        std::optional<Verdict> verdict; // nullopt: not looked at
    };
    const std::vector<Case> cases = {
        {"valid", fx::govBrCitizen("JOÃO DE SOUZA", "98765432100"),
         "Assinatura eletrônica avançada (gov.br) - Válida", std::nullopt},
        {"expired",
         fx::govBrCitizen("JOÃO DE SOUZA", "98765432100", now - 3 * kYear, now - 30 * kDay),
         "Assinatura eletrônica avançada (gov.br) - Inválida", Verdict::Indeterminate},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ValidationResult document =
            verifiedUnder(c.citizen, govBrAuthorities(), &govBr.root, TrustFramework::GovBr);
        ASSERT_EQ(document.signers.size(), 1u);
        const SignatureResult& signer = document.signers[0];
        EXPECT_EQ(signer.holderName, QStringLiteral("JOÃO DE SOUZA"));
        EXPECT_EQ(signer.identity, QStringLiteral("987.654.321-00"));
        EXPECT_EQ(signer.trustFramework, TrustFramework::GovBr);
        EXPECT_EQ(signerCaption(signer.certificateClass, signer.trustFramework),
                  QString::fromUtf8(c.caption));
        if (c.verdict) {
            // Without a time-stamp only the claimed signing time is left:
            // nothing proves the signature was made while it was valid.
            EXPECT_EQ(signer.judgement.verdict, *c.verdict);
            EXPECT_TRUE(hasReason(signer.judgement, QStringLiteral("expired-no-timestamp")))
                << verdictLine(signer.judgement).toStdString();
        }
    }
}
