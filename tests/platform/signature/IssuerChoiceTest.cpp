// Authorities that share one name (re-keyed: same name, new key): the path
// takes the one whose key signed, wherever the candidates come from and in
// whatever order.

#include "platform/signature/IssuerChoice.h"

#include "platform/signature/SignatureMemo.h"
#include "platform/signature/ValidationContext.h"
#include "tests/support/Fixtures.h"

#include <gtest/gtest.h>
#include <openssl/x509.h>
#include <tuple>
#include <vector>

namespace {

using namespace selavia::testing;
namespace ossl = selavia::signature::ossl;

struct Validity {
    std::time_t notBefore = 0; // 0: a day ago
    std::time_t notAfter = 0;  // 0: in a year
};

// A root, two authorities under it with one name and different keys, and
// a signer issued by `issuer`. The signer is a v1 certificate: without an
// authority key identifier only the signature tells the two apart.
struct Namesakes {
    fx::Cert root;
    fx::Cert other;
    fx::Cert issuer;
    fx::Cert signer;
};

Namesakes makeNamesakes(Validity other, Validity issuer)
{
    Namesakes made;
    made.root = fx::makeCertificate({.subject = {{"CN", "Raiz das Homônimas"}}, .ca = true});
    auto authority = [&](Validity validity) {
        return fx::makeCertificate({.subject = {{"O", "ICP-Brasil"}, {"CN", "AC Homônima"}},
                                    .issuer = &made.root,
                                    .key = fx::makeKey(fx::KeyType::EcP256, /*fresh=*/true),
                                    .notBefore = validity.notBefore,
                                    .notAfter = validity.notAfter,
                                    .ca = true});
    };
    made.other = authority(other);
    made.issuer = authority(issuer);
    made.signer = fx::makeCertificate(
        {.subject = {{"CN", "SIGNATARIO DA HOMONIMA"}}, .issuer = &made.issuer, .version = 1});
    return made;
}

ossl::UniqueX509Stack stackOf(std::initializer_list<const fx::Cert*> certificates)
{
    ossl::UniqueX509Stack stack(sk_X509_new_null());
    for (const fx::Cert* certificate : certificates)
        EXPECT_EQ(X509_add_cert(stack.get(), certificate->x509.get(), X509_ADD_FLAG_UP_REF), 1);
    return stack;
}

enum class Source { MessageOtherFirst, MessageIssuerFirst, OtherAsHelper, IssuerAsHelper };

// The context of a message that carries the namesakes as `source` says.
std::unique_ptr<sig::ValidationContext> contextFor(const Namesakes& pki, Source source)
{
    ossl::UniqueX509Stack message;
    std::vector<std::shared_ptr<X509>> helpers;
    auto helper = [](const fx::Cert& certificate) {
        return ossl::shared(ossl::upRef(certificate.x509.get()));
    };
    switch (source) {
    case Source::MessageOtherFirst:
        message = stackOf({&pki.other, &pki.issuer});
        break;
    case Source::MessageIssuerFirst:
        message = stackOf({&pki.issuer, &pki.other});
        break;
    case Source::OtherAsHelper:
        message = stackOf({&pki.issuer});
        helpers.push_back(helper(pki.other));
        break;
    case Source::IssuerAsHelper:
        message = stackOf({&pki.other});
        helpers.push_back(helper(pki.issuer));
        break;
    }
    auto context = std::make_unique<sig::ValidationContext>(
        storeTrusting({&pki.root}), std::move(message), sig::ValidationServices{});
    context->addHelpers(helpers);
    return context;
}

TEST(IssuerChoiceTest, TheNamesakeWhoseKeySignedIsTheIssuerInEveryOrderAndSource)
{
    const std::time_t now = std::time(nullptr);
    const Validity valid{};
    const Validity expired{now - 2 * kYear, now - kYear};
    const Validity notYet{now + 30 * kDay, now + 2 * kYear};
    const std::vector<std::tuple<const char*, Validity, Validity>> cases = {
        {"both valid", valid, valid},
        {"the other valid, the issuer expired", valid, expired},
        {"the other not yet valid", notYet, valid},
        {"the other expired", expired, valid},
        {"the issuer not yet valid", valid, notYet},
    };
    for (const auto& [name, other, issuer] : cases) {
        const Namesakes pki = makeNamesakes(other, issuer);
        for (Source source : {Source::MessageOtherFirst, Source::MessageIssuerFirst,
                              Source::OtherAsHelper, Source::IssuerAsHelper}) {
            SCOPED_TRACE(::testing::Message() << name << ", source " << static_cast<int>(source));
            const auto context = contextFor(pki, source);
            const sig::ValidationContext::PathFacts facts =
                context->path(pki.signer.x509.get(), sig::CertificateRole::Signer);
            ASSERT_EQ(facts.chain.size(), 3u);
            EXPECT_EQ(X509_cmp(facts.chain[1].certificate.get(), pki.issuer.x509.get()), 0);
            EXPECT_TRUE(facts.chainTrusted);
            for (const sig::ValidationContext::Link& link : facts.chain)
                EXPECT_TRUE(link.problems.isEmpty()) << joined(link.problems);
        }
    }
}

TEST(IssuerChoiceTest, WhenNoNamesakeSignedThePathStillShowsTheFailingSignature)
{
    const Namesakes pki = makeNamesakes({}, {});
    // Two namesakes under the same root, neither of them the signer's issuer.
    const fx::Cert impostor =
        fx::makeCertificate({.subject = {{"O", "ICP-Brasil"}, {"CN", "AC Homônima"}},
                             .issuer = &pki.root,
                             .key = fx::makeKey(fx::KeyType::EcP256, /*fresh=*/true),
                             .ca = true});
    sig::ValidationContext context(storeTrusting({&pki.root}), stackOf({&pki.other, &impostor}),
                                   sig::ValidationServices{});
    const sig::ValidationContext::PathFacts facts =
        context.path(pki.signer.x509.get(), sig::CertificateRole::Signer);
    ASSERT_EQ(facts.chain.size(), 3u);
    EXPECT_TRUE(facts.trusted);
    EXPECT_FALSE(facts.chainTrusted);
    EXPECT_TRUE(facts.chain[0].problems.contains("a assinatura do certificado não confere"))
        << joined(facts.chain[0].problems);
}

// The process remembers what a key said of a signature: asked again, in
// any order, a namesake whose key did not sign must still be refused, and
// a certificate the remembered key did not sign as well.
TEST(IssuerChoiceTest, RememberedSignaturesTellNamesakesApart)
{
    const Namesakes pki = makeNamesakes({}, {});
    const fx::Cert stranger = fx::makeCertificate(
        {.subject = {{"CN", "SIGNATARIO DA HOMONIMA"}}, .issuer = &pki.other, .version = 1});
    struct Row {
        const fx::Cert* subject;
        const fx::Cert* issuer;
        bool signs;
    };
    const Row rows[] = {
        {&pki.signer, &pki.issuer, true}, {&pki.signer, &pki.other, false},
        {&stranger, &pki.issuer, false},  {&stranger, &pki.other, true},
        {&pki.issuer, &pki.root, true},   {&pki.signer, &pki.root, false},
    };
    for (int round = 0; round < 3; ++round) {
        for (int i = 0; i < static_cast<int>(std::size(rows)); ++i) {
            // Forwards, then backwards, so that every answer is asked with
            // the others remembered.
            const Row& row = rows[round == 1 ? std::size(rows) - 1 - i : i];
            SCOPED_TRACE(::testing::Message() << "round " << round << ", row " << i);
            EXPECT_EQ(sig::signatures::certificateSignedBy(row.subject->x509.get(),
                                                           row.issuer->x509.get()),
                      row.signs);
            EXPECT_EQ(sig::issuers::signs(row.issuer->x509.get(), row.subject->x509.get()),
                      row.signs);
        }
    }
    // Two messages, each with one of the namesakes: each path takes its own.
    for (const fx::Cert* subject : {&pki.signer, &stranger}) {
        sig::ValidationContext context(storeTrusting({&pki.root}),
                                       stackOf({&pki.other, &pki.issuer}),
                                       sig::ValidationServices{});
        const sig::ValidationContext::PathFacts facts =
            context.path(subject->x509.get(), sig::CertificateRole::Signer);
        ASSERT_EQ(facts.chain.size(), 3u);
        EXPECT_EQ(X509_cmp(facts.chain[1].certificate.get(),
                           (subject == &pki.signer ? pki.issuer : pki.other).x509.get()),
                  0);
        EXPECT_TRUE(facts.chainTrusted);
    }
}

} // namespace
