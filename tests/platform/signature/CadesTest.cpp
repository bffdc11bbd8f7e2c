// The CAdES pieces of a signer as the signature layer reads them:
// time-stamp tokens, the signing-certificate binding, the policy
// identifier, counter-signatures, and hostile values of each. Facts only:
// how a token's authority is judged at its time is verify/'s
// (tests/verify/TimeStampJudgeTest.cpp).

#include "platform/signature/Limits.h"
#include "platform/signature/SignedData.h"
#include "tests/support/Fixtures.h"
#include "tools/fixtures/CadesFixtures.h"

#include <QCryptographicHash>
#include <gtest/gtest.h>

using namespace selavia::testing;

namespace {

const fx::Hierarchy& icp()
{
    static const fx::Hierarchy hierarchy = fx::icpBrasilHierarchy();
    return hierarchy;
}

fx::Cert signerCert(const std::string& name = "FULANO DE TAL:12345678901")
{
    return fx::issueEndEntity(icp().intermediate, name);
}

// A DER message of the ICP-like hierarchy, its intermediate and root
// carried, with these signers.
fx::Bytes messageOf(std::vector<fx::SignerSpec> signers)
{
    fx::MessageSpec spec;
    spec.content = "%PDF-1.4 conteudo do contrato";
    // Signers stay in the given order: see the ordering note of the fixtures.
    for (std::size_t n = 1; n < signers.size(); ++n)
        signers[n].attributes.push_back(
            {"1.2.3.4.5", "\x04" + std::string(1, static_cast<char>(n)) + std::string(n, 'p')});
    spec.signers = std::move(signers);
    spec.extraCertificates = {icp().intermediate, icp().root};
    return fx::makeSignedMessage(spec);
}

fx::Bytes messageOf(const fx::Cert& signer, std::vector<fx::AttributeSpec> attributes = {})
{
    return messageOf(std::vector<fx::SignerSpec>{{.cert = signer, .attributes = attributes}});
}

// The signers of a message verified against a store trusting the ICP-like root.
struct Verified {
    std::shared_ptr<sig::SignedData> data;
    const sig::CadesInfo& cades(std::size_t index = 0) const
    {
        return data->signers().at(index).cades();
    }
};

Verified verified(const fx::Bytes& message, sig::TrustStore store = storeTrusting({&icp().root}))
{
    auto data = std::make_shared<sig::SignedData>(std::move(store));
    data->verify(bytes(message));
    return {data};
}

const fx::Cert& tsa()
{
    static const fx::Cert cert = fx::makeTsa(icp().intermediate);
    return cert;
}

fx::TokenSpec tokenBy(const fx::Cert& authority, std::time_t genTime = 0)
{
    return {.tsa = authority, .genTime = genTime};
}

// A token over signer 0's signature in `message`.
fx::Bytes tokenOver(const fx::Bytes& message, const fx::TokenSpec& spec = tokenBy(tsa()))
{
    return fx::makeTimeStampToken(fx::signatureValueOf(message), spec);
}

// `message` with these values as signer 0's time-stamp tokens.
fx::Bytes carrying(const fx::Bytes& message, std::vector<fx::Bytes> tokens,
                   std::vector<fx::Cert> certificates = {})
{
    return fx::withUnsignedAttribute(message, 0, fx::kTimeStampTokenOid, std::move(tokens),
                                     std::move(certificates));
}

// `message` with these values as signer 0's counter-signatures.
fx::Bytes countered(const fx::Bytes& message, std::vector<fx::Bytes> values)
{
    return fx::withUnsignedAttribute(message, 0, fx::kCounterSignatureOid, std::move(values));
}

// A message without the intermediate and the root; its token carries the intermediate.
fx::Bytes chainOnlyInToken()
{
    const fx::MessageSpec bare{.signers = {{.cert = signerCert()}}};
    return fx::withTimeStamp(fx::makeSignedMessage(bare), 0,
                             {.tsa = tsa(), .chain = {icp().intermediate}});
}

// The signing-certificate check of a message of `signer` with these attributes.
sig::SigningCertificateCheck bindingOf(const fx::Cert& signer,
                                       std::vector<fx::AttributeSpec> attributes = {})
{
    return verified(messageOf(signer, std::move(attributes))).cades().signingCertificate;
}

// The only token of signer 0.
sig::TimeStampToken onlyToken(const fx::Bytes& message,
                              sig::TrustStore store = storeTrusting({&icp().root}))
{
    const Verified result = verified(message, std::move(store));
    EXPECT_EQ(result.cades().timeStamps.size(), 1u);
    return result.cades().timeStamps.empty() ? sig::TimeStampToken{}
                                             : result.cades().timeStamps.front();
}

// A SEQUENCE around `content`, whatever it holds.
fx::Bytes sequenceOf(const fx::Bytes& content)
{
    fx::Bytes length;
    if (content.size() < 0x80) {
        length = std::string(1, static_cast<char>(content.size()));
    } else {
        for (std::size_t rest = content.size(); rest > 0; rest >>= 8)
            length.insert(length.begin(), static_cast<char>(rest & 0xFF));
        length.insert(length.begin(), static_cast<char>(0x80 | length.size()));
    }
    return "\x30" + length + content;
}

QDateTime utcOf(std::time_t when)
{
    return QDateTime::fromSecsSinceEpoch(when, Qt::UTC);
}

// The path of a token's authority as the platform builds it at the token's time.
sig::CertificatePath tsaPath(const sig::TimeStampToken& token)
{
    return token.tsaCertificate.path(sig::CertificateRole::TimeStamping, token.genTime);
}

QStringList thumbprints(const sig::CertificatePath& path)
{
    QStringList prints;
    for (const sig::PathLink& link : path.chain)
        prints << link.certificate.thumbprint();
    return prints;
}

} // namespace

TEST(TimeStampTokenTest, AValidTokenGivesItsTimeItsAuthorityAndTheChain)
{
    const std::time_t genTime = std::time(nullptr) - 3600;
    const fx::Bytes message =
        fx::withTimeStamp(messageOf(signerCert()), 0, tokenBy(tsa(), genTime));
    const sig::TimeStampToken token = onlyToken(message);
    EXPECT_TRUE(token.problems.isEmpty()) << joined(token.problems);
    EXPECT_EQ(token.genTime, utcOf(genTime));
    EXPECT_EQ(token.tsaName, "ACT de Teste");
    EXPECT_EQ(token.tsaCertificate.thumbprint(), thumbprintOf(tsa()));
    const sig::CertificatePath path = tsaPath(token);
    EXPECT_TRUE(path.chainTrusted) << joined(path.problems);
    EXPECT_EQ(thumbprints(path), (QStringList{thumbprintOf(tsa()), thumbprintOf(icp().intermediate),
                                              thumbprintOf(icp().root)}));
    // Before the validation phase nobody was asked about the authority.
    EXPECT_EQ(path.chain.front().revocation.state, sig::RevocationState::Unknown);
    // The token is an unsigned attribute: the message verifies as before.
    const Verified result = verified(message);
    EXPECT_EQ(result.cades().unsignedAttributeOids, QStringList{"1.2.840.113549.1.9.16.2.14"});
}

TEST(TimeStampTokenTest, TheTsaChainMayComeFromTheTokenOrTheMessage)
{
    // Neither the intermediate nor the root in the message: the token carries them.
    const sig::TimeStampToken carried = onlyToken(chainOnlyInToken());
    EXPECT_TRUE(carried.problems.isEmpty()) << joined(carried.problems);
    EXPECT_TRUE(tsaPath(carried).chainTrusted) << joined(tsaPath(carried).problems);
    EXPECT_EQ(tsaPath(carried).chain.size(), 3u);

    // The token without the TSA's certificate: found when the message has it.
    const fx::Bytes base = messageOf(signerCert());
    const fx::Bytes token = tokenOver(base, {.tsa = tsa(), .includeTsaCertificate = false});
    const sig::TimeStampToken missing = onlyToken(carrying(base, {token}));
    EXPECT_TRUE(missing.tsaCertificate.isNull());
    EXPECT_TRUE(
        missing.problems.contains("o certificado da ACT não está no carimbo nem na mensagem"))
        << joined(missing.problems);
    const sig::TimeStampToken found = onlyToken(carrying(base, {token}, {tsa()}));
    EXPECT_TRUE(found.problems.isEmpty()) << joined(found.problems);
    EXPECT_EQ(found.tsaCertificate.thumbprint(), thumbprintOf(tsa()));
}

TEST(TimeStampTokenTest, EachFaultOfTheTokenItselfIsNamed)
{
    const std::time_t now = std::time(nullptr);
    const fx::Bytes base = messageOf(signerCert());
    auto byTsa = [&](fx::TsaUsage usage) {
        return fx::withTimeStamp(base, 0, tokenBy(fx::makeTsa(icp().intermediate, usage)));
    };
    const fx::Hierarchy& foreign = fx::foreignHierarchy();
    const fx::TokenSpec untrusted{.tsa = fx::makeTsa(foreign.intermediate),
                                  .chain = {foreign.intermediate, foreign.root}};
    // A TSA whose certificate expired since: its tokens from its time stand.
    const fx::Cert expired =
        fx::makeTsa(icp().intermediate, fx::TsaUsage::TimeStamping, now - 3 * kYear, now - kYear);
    // An ESS identifier v1 (SHA-1) serves as well as v2.
    const fx::TokenSpec v1{.tsa = tsa(), .essDigest = fx::Digest::Sha1};
    fx::Bytes tampered = tokenOver(base);
    tampered.back() = static_cast<char>(tampered.back() ^ 0x01); // the authority's signature
    const fx::Bytes withAc = fx::withAttributeCertificate(tokenOver(base));
    ASSERT_TRUE(fx::pkcs7Reads(tokenOver(base)));
    ASSERT_FALSE(fx::pkcs7Reads(withAc)) << "the fixture must hold what the PKCS#7 parser refuses";
    // The authority's path and dates are not the token's own faults: they
    // are judged at the token's time by verify/.
    const std::vector<std::tuple<const char*, fx::Bytes, QStringList>> cases = {
        {"over other bytes",
         carrying(base, {fx::makeTimeStampToken("outros bytes", tokenBy(tsa()))}),
         {"o carimbo do tempo não corresponde a esta assinatura"}},
        {"untrusted authority", fx::withTimeStamp(base, 0, untrusted), {}},
        {"no extended key usage",
         byTsa(fx::TsaUsage::NoExtendedKeyUsage),
         {"o certificado da ACT não tem o uso estendido de chave carimbo do tempo "
          "(timeStamping)"}},
        {"usage not critical",
         byTsa(fx::TsaUsage::NonCriticalTimeStamping),
         {"o uso estendido de chave do certificado da ACT não é crítico"}},
        {"expired authority, token of its time",
         fx::withTimeStamp(base, 0, tokenBy(expired, now - 2 * kYear)),
         {}},
        {"expired authority, token after",
         fx::withTimeStamp(base, 0, tokenBy(expired, now - kDay)),
         {}},
        {"ESS identifier v1", fx::withTimeStamp(base, 0, v1), {}},
        {"authority's signature changed",
         carrying(base, {tampered}),
         {"a assinatura da ACT no carimbo do tempo não confere"}},
        {"with an attribute certificate", carrying(base, {withAc}), {}},
    };
    for (const auto& [name, message, problems] : cases) {
        SCOPED_TRACE(name);
        const sig::TimeStampToken token = onlyToken(message);
        EXPECT_EQ(token.problems, problems);
    }
    // The untrusted authority's path, as built, says so.
    const sig::CertificatePath untrustedPath =
        tsaPath(onlyToken(fx::withTimeStamp(base, 0, untrusted), storeTrusting({&icp().root})));
    EXPECT_FALSE(untrustedPath.trusted);
    EXPECT_FALSE(untrustedPath.chainTrusted);
    // An untrusted authority is still named, and so is one of a token the
    // PKCS#7 parser refuses.
    EXPECT_EQ(onlyToken(fx::withTimeStamp(base, 0, untrusted)).tsaName, "ACT de Teste");
    EXPECT_EQ(onlyToken(carrying(base, {withAc})).tsaName, "ACT de Teste");
    EXPECT_EQ(onlyToken(fx::withTimeStamp(base, 0, tokenBy(expired, now - 2 * kYear))).genTime,
              utcOf(now - 2 * kYear));

    // Two signers: the first one's token moved to the second.
    const fx::Bytes two = messageOf({{.cert = signerCert()}, {.cert = signerCert("CICLANO")}});
    const Verified moved =
        verified(fx::withUnsignedAttribute(two, 1, fx::kTimeStampTokenOid, {tokenOver(two)}));
    EXPECT_TRUE(moved.cades(0).timeStamps.empty());
    ASSERT_EQ(moved.cades(1).timeStamps.size(), 1u);
    EXPECT_EQ(moved.cades(1).timeStamps[0].problems,
              QStringList{"o carimbo do tempo não corresponde a esta assinatura"});
}

TEST(TimeStampTokenTest, TheValidationPhaseFindsTheAuthoritysRevocationWithItsDate)
{
    const std::time_t now = std::time(nullptr);
    const std::time_t genTime = now - kDay / 2;
    const std::time_t revocationDate = genTime - kDay / 4;
    const fx::Cert revokedTsa = fx::makeTsa(icp().intermediate);
    fx::MessageSpec spec{.signers = {{.cert = signerCert()}},
                         .extraCertificates = {icp().intermediate, icp().root}};
    spec.crls = {fx::makeCrl({.issuer = &icp().intermediate,
                              .revoked = {revokedTsa},
                              .revocationDate = revocationDate,
                              .reason = 1})};
    const Verified result =
        verified(fx::withTimeStamp(fx::makeSignedMessage(spec), 0, tokenBy(revokedTsa, genTime)));
    ASSERT_TRUE(result.data->prepareValidation());
    // The signer keeps its CAdES pieces through the phase.
    ASSERT_EQ(result.cades().timeStamps.size(), 1u);
    const sig::TimeStampToken& token = result.cades().timeStamps[0];
    EXPECT_TRUE(token.problems.isEmpty()) << joined(token.problems);
    const sig::CertificatePath path = tsaPath(token);
    ASSERT_EQ(path.chain.size(), 3u);
    EXPECT_TRUE(path.chain[0].revocation.revoked());
    EXPECT_EQ(path.chain[0].revocation.revokedAt, utcOf(revocationDate));
}

TEST(TimeStampTokenTest, TheAuthorityChainMayBeCompletedOnlyByTheTokensCertificates)
{
    // The intermediate travels only inside the token: the validation phase
    // still finds the whole chain.
    const Verified result = verified(chainOnlyInToken());
    ASSERT_TRUE(result.data->prepareValidation());
    const sig::TimeStampToken token = result.cades().timeStamps.at(0);
    EXPECT_TRUE(token.problems.isEmpty()) << joined(token.problems);
    EXPECT_EQ(tsaPath(token).chain.size(), 3u);
    EXPECT_TRUE(tsaPath(token).chainTrusted);
    // And what the token carried helps the signer's own chain too.
    const sig::CertificatePath signerPath =
        result.data->signers()[0].certificate().path(sig::CertificateRole::Signer);
    EXPECT_TRUE(signerPath.chainTrusted) << joined(signerPath.problems);
    EXPECT_EQ(signerPath.chain.size(), 3u);
}

TEST(SigningCertificateTest, TheAttributeMustNameTheSignersCertificate)
{
    const fx::Cert signer = signerCert();
    const fx::Cert other = signerCert("OUTRO");
    struct Case {
        const char* name;
        fx::EssSpec ess;
        sig::CertificateBinding binding;
        const char* oid;
        bool warned; // the hash names the signer, issuer and serial do not
    };
    const std::vector<Case> cases = {
        {"v2 naming the signer",
         {.hashOf = &signer, .issuerSerialOf = &signer},
         sig::CertificateBinding::Matches,
         fx::kSigningCertificateV2Oid,
         false},
        {"v2 without issuer and serial",
         {.hashOf = &signer},
         sig::CertificateBinding::Matches,
         fx::kSigningCertificateV2Oid,
         false},
        {"v2 SHA-512",
         {.hashOf = &signer, .issuerSerialOf = &signer, .digest = fx::Digest::Sha512},
         sig::CertificateBinding::Matches,
         fx::kSigningCertificateV2Oid,
         false},
        {"v2 SHA-256 written out",
         {.hashOf = &signer, .issuerSerialOf = &signer, .writeDefaultAlgorithm = true},
         sig::CertificateBinding::Matches,
         fx::kSigningCertificateV2Oid,
         false},
        {"v1 naming the signer",
         {.version = 1, .hashOf = &signer, .issuerSerialOf = &signer},
         sig::CertificateBinding::Matches,
         fx::kSigningCertificateOid,
         false},
        {"v2 naming another",
         {.hashOf = &other, .issuerSerialOf = &other},
         sig::CertificateBinding::Mismatch,
         fx::kSigningCertificateV2Oid,
         false},
        // The hash identifies the certificate; issuer and serial that differ
        // (an issuer name written in reverse order, say) are only a warning.
        {"v2 hash right, serial of another",
         {.hashOf = &signer, .issuerSerialOf = &other},
         sig::CertificateBinding::Matches,
         fx::kSigningCertificateV2Oid,
         true},
        {"v1 naming another",
         {.version = 1, .hashOf = &other},
         sig::CertificateBinding::Mismatch,
         fx::kSigningCertificateOid,
         false},
    };
    for (const Case& c : cases) {
        const sig::SigningCertificateCheck check =
            bindingOf(signer, {fx::signingCertificateAttribute(c.ess)});
        EXPECT_EQ(check.binding, c.binding) << c.name;
        EXPECT_EQ(check.attributeOid, c.oid) << c.name;
        if (c.binding == sig::CertificateBinding::Mismatch)
            EXPECT_EQ(check.problems,
                      QStringList{"o certificado do signatário não é o indicado na assinatura"})
                << c.name;
        else
            EXPECT_TRUE(check.problems.isEmpty()) << c.name;
        EXPECT_EQ(check.warnings.size(), c.warned ? 1 : 0) << c.name;
    }
}

TEST(SigningCertificateTest, AbsentBothAndUnreadable)
{
    const fx::Cert signer = signerCert();
    const fx::Cert other = signerCert("OUTRO");
    EXPECT_EQ(bindingOf(signer).binding, sig::CertificateBinding::Absent);
    // A v1 that matches does not hide a v2 that names another certificate.
    const sig::SigningCertificateCheck both =
        bindingOf(signer, {fx::signingCertificateAttribute({.version = 1, .hashOf = &signer}),
                           fx::signingCertificateV2(other)});
    EXPECT_EQ(both.binding, sig::CertificateBinding::Mismatch);
    EXPECT_EQ(both.attributeOid, fx::kSigningCertificateV2Oid);
    const sig::SigningCertificateCheck garbage =
        bindingOf(signer, {{fx::kSigningCertificateV2Oid, "\x04\x03"
                                                          "abc"}});
    EXPECT_EQ(garbage.binding, sig::CertificateBinding::Unreadable);
    EXPECT_EQ(garbage.problems, QStringList{"atributo signing-certificate-v2 ilegível"});
}

TEST(SignaturePolicyIdentifierTest, ThePolicyIsReadWithItsHashAndWhereItLives)
{
    const Verified explicitPolicy = verified(messageOf(
        signerCert(),
        {fx::signaturePolicyAttribute("2.16.76.1.7.1.1.2.3",
                                      "http://politicas.icpbrasil.gov.br/PA_AD_RB_v2_3.der",
                                      fx::Digest::Sha512)}));
    ASSERT_TRUE(explicitPolicy.cades().policy.has_value());
    const sig::SignaturePolicyIdentifier& policy = *explicitPolicy.cades().policy;
    EXPECT_FALSE(policy.implied);
    EXPECT_EQ(policy.oid, "2.16.76.1.7.1.1.2.3");
    EXPECT_EQ(policy.hashAlgorithmOid, "2.16.840.1.101.3.4.2.3");
    EXPECT_EQ(policy.hash.size(), 64);
    EXPECT_EQ(policy.uri, "http://politicas.icpbrasil.gov.br/PA_AD_RB_v2_3.der");
    EXPECT_TRUE(policy.problems.isEmpty());

    const auto implied =
        verified(messageOf(signerCert(), {fx::impliedPolicyAttribute()})).cades().policy;
    ASSERT_TRUE(implied.has_value());
    EXPECT_TRUE(implied->implied);
    EXPECT_TRUE(implied->oid.isEmpty());

    EXPECT_FALSE(verified(messageOf(signerCert())).cades().policy.has_value());
}

TEST(CounterSignatureTest, ACounterSignatureOverTheSignatureVerifies)
{
    const fx::Cert counterSigner = fx::issueEndEntity(icp().intermediate, "TABELIAO DE NOTAS");
    const std::time_t when = std::time(nullptr) - 120;
    const fx::Bytes message = fx::withCounterSignature(
        messageOf(signerCert()), 0, {.cert = counterSigner, .signingTime = when});
    const Verified result = verified(message);
    ASSERT_EQ(result.cades().counterSignatures.size(), 1u);
    const sig::CounterSignature& counter = result.cades().counterSignatures[0];
    EXPECT_TRUE(counter.signatureValid) << joined(counter.problems);
    EXPECT_EQ(counter.signerName, "TABELIAO DE NOTAS");
    EXPECT_EQ(counter.certificate.thumbprint(), thumbprintOf(counterSigner));
    EXPECT_EQ(counter.signingTime, utcOf(when));
    EXPECT_FALSE(counter.signedAttributeOids.contains("1.2.840.113549.1.9.3")) << "no content type";
    EXPECT_TRUE(result.data->signers()[0].certificate() != counter.certificate);
}

TEST(CounterSignatureTest, OnesThatDoNotVerifySayWhy)
{
    const fx::Cert counterSigner = fx::issueEndEntity(icp().intermediate, "TABELIAO DE NOTAS");
    const fx::Bytes base = messageOf(signerCert());
    struct Case {
        const char* name;
        fx::Bytes message;
        QString problem;
    };
    const std::vector<Case> cases = {
        {"over other bytes",
         fx::withCounterSignature(base, 0, {.cert = counterSigner, .over = fx::Bytes("outros")}),
         "a contra-assinatura não corresponde a esta assinatura"},
        {"signature changed",
         fx::withCounterSignature(base, 0, {.cert = counterSigner, .tamperSignature = true}),
         "a contra-assinatura não confere com o certificado"},
        {"certificate missing",
         countered(base,
                   {fx::makeCounterSignature(fx::signatureValueOf(base), {.cert = counterSigner})}),
         "o certificado do contra-assinante não está na mensagem"},
        {"not a signer info", countered(base, {"\x30\x03\x02\x01\x01"}),
         "contra-assinatura ilegível"},
    };
    for (const Case& c : cases) {
        const Verified result = verified(c.message);
        ASSERT_EQ(result.cades().counterSignatures.size(), 1u) << c.name;
        const sig::CounterSignature& counter = result.cades().counterSignatures[0];
        EXPECT_FALSE(counter.signatureValid) << c.name;
        EXPECT_EQ(counter.problems, QStringList{c.problem}) << c.name;
    }
}

TEST(CadesHostileTest, GarbageValuesAreReportedNeverTrusted)
{
    const fx::Bytes base = messageOf(signerCert());
    const fx::Bytes token = tokenOver(base);
    fx::Bytes deepNest = "\x05\x00";
    for (int level = 0; level < 60; ++level)
        deepNest = sequenceOf(deepNest);
    const std::vector<std::pair<const char*, fx::Bytes>> values = {
        {"an integer", "\x02\x01\x05"},
        {"an empty sequence", fx::Bytes("\x30\x00", 2)},
        {"a signed message of data, not a token", base},
        {"a deep nest", deepNest},
        {"a token cut short inside", sequenceOf(token.substr(4, token.size() / 2))},
    };
    for (const auto& [name, value] : values) {
        const Verified stamped = verified(carrying(base, {value}));
        ASSERT_EQ(stamped.cades().timeStamps.size(), 1u) << name;
        EXPECT_EQ(stamped.cades().timeStamps[0].problems, QStringList{"carimbo do tempo ilegível"})
            << name;
        const Verified counter = verified(countered(base, {value}));
        ASSERT_EQ(counter.cades().counterSignatures.size(), 1u) << name;
        EXPECT_FALSE(counter.cades().counterSignatures[0].signatureValid) << name;
    }
    const auto policy =
        verified(messageOf(signerCert(), {{fx::kSignaturePolicyOid, "\x02\x01\x05"}}))
            .cades()
            .policy;
    ASSERT_TRUE(policy.has_value());
    EXPECT_EQ(policy->problems, QStringList{"identificador da política de assinatura ilegível"});
}

TEST(CadesHostileTest, TokensAndCounterSignaturesPastTheLimitsAreLeftUnchecked)
{
    const fx::Bytes base = messageOf(signerCert());
    const fx::Bytes token = tokenOver(base);
    const std::vector<fx::Bytes> tokens(sig::limits::kMaxTimeStampTokens + 5, token);
    const Verified result = verified(carrying(base, tokens));
    ASSERT_EQ(result.cades().timeStamps.size(),
              static_cast<std::size_t>(sig::limits::kMaxTimeStampTokens));
    EXPECT_TRUE(result.cades().timeStamps.back().problems.isEmpty());
    EXPECT_EQ(result.cades().problems,
              QStringList{QString("só os %1 primeiros carimbos do tempo foram verificados")
                              .arg(sig::limits::kMaxTimeStampTokens)});

    const fx::Bytes counter =
        fx::makeCounterSignature(fx::signatureValueOf(base), {.cert = signerCert("X")});
    const std::vector<fx::Bytes> counters(sig::limits::kMaxCounterSignatures + 1, counter);
    EXPECT_EQ(verified(countered(base, counters)).cades().counterSignatures.size(),
              static_cast<std::size_t>(sig::limits::kMaxCounterSignatures));
}
