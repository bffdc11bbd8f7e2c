#include "platform/signature/BundledCertificates.h"
#include "platform/signature/Chain.h"
#include "platform/signature/ValidationContext.h"
#include "tests/support/Fixtures.h"
#include "tests/support/JudgedCertificates.h"
#include "tests/support/ScopedEnvironment.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <map>
#include <openssl/x509.h>
#include <optional>

namespace {

using namespace selavia::testing;
namespace bundled = selavia::signature::bundled;
namespace ossl = selavia::signature::ossl;

std::shared_ptr<const sig::ValidationContext> contextOf(sig::TrustStore store)
{
    return std::make_shared<const sig::ValidationContext>(
        std::move(store), ossl::UniqueX509Stack(sk_X509_new_null()), sig::ValidationServices{});
}

sig::Certificate certificateOf(const bundled::EmbeddedCertificate& embedded,
                               const std::shared_ptr<const sig::ValidationContext>& context)
{
    const unsigned char* cursor = embedded.der;
    ossl::UniqueX509 x509(d2i_X509(nullptr, &cursor, static_cast<long>(embedded.size)));
    EXPECT_TRUE(x509) << embedded.name;
    return sig::Certificate(x509.get(), context);
}

// The subjects of the certificates `store` holds so far, sorted.
QStringList storedSubjects(const sig::TrustStore& store)
{
    QStringList subjects;
    STACK_OF(X509_OBJECT)* objects = X509_STORE_get0_objects(store.handle());
    for (int i = 0; i < sk_X509_OBJECT_num(objects); ++i) {
        if (X509* certificate = X509_OBJECT_get0_X509(sk_X509_OBJECT_value(objects, i)))
            subjects << sig::Certificate(certificate, nullptr).subjectName();
    }
    subjects.sort();
    return subjects;
}

// The subjects of the bundled `roots` named `names`, sorted.
QStringList subjectsOf(std::span<const bundled::EmbeddedCertificate> roots,
                       const QStringList& names)
{
    QStringList subjects;
    for (const bundled::EmbeddedCertificate& root : roots) {
        if (names.contains(QString::fromLatin1(root.name)))
            subjects << certificateOf(root, nullptr).subjectName();
    }
    subjects.sort();
    return subjects;
}

// The system store with nothing in it: only what the program brings counts.
class TrustAnchorsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(empty_.isValid());
        environment_.set("SSL_CERT_FILE", QByteArray())
            .set("SSL_CERT_DIR", QFile::encodeName(empty_.path()));
    }

    QTemporaryDir empty_;
    selavia::testing::ScopedEnvironment environment_;
};

TEST_F(TrustAnchorsTest, EveryBundledRootIsTrustedWithAnEmptySystemStore)
{
    auto context = contextOf(sig::TrustStore::systemDefault());
    ASSERT_EQ(bundled::roots().size(), 8u);
    for (const bundled::EmbeddedCertificate& root : bundled::roots()) {
        sig::Chain chain;
        EXPECT_TRUE(chain.build(certificateOf(root, context))) << root.name;
        EXPECT_EQ(chain.certificates().count(), 1) << root.name;
        // v7's key algorithm is unknown here: it is trusted all the same, and
        // judging it says so instead of failing.
        if (qstrcmp(root.name, "raiz-brasileira-v7") == 0) {
            selavia::verify::CertificateStatus v7 = judgedNow(certificateOf(root, context));
            EXPECT_TRUE(v7.result) << joined(v7.problems);
            EXPECT_EQ(v7.revocation.state, sig::RevocationState::Good);
        }
    }
}

TEST_F(TrustAnchorsTest, ARootThatDoesNotMatchItsPinIsNotTrusted)
{
    const std::span<const bundled::EmbeddedCertificate> roots = bundled::roots();
    // A pin list where v5's fingerprint is off by one digit.
    std::vector<bundled::RootPin> pins(bundled::rootPins().begin(), bundled::rootPins().end());
    std::string changed;
    for (bundled::RootPin& pin : pins) {
        if (qstrcmp(pin.name, "raiz-brasileira-v5") == 0) {
            changed = pin.sha256;
            changed[0] = changed[0] == 'c' ? 'd' : 'c';
            pin.sha256 = changed.c_str();
        }
    }
    // And a file swapped for another certificate under v6's name.
    const fx::Bytes impostor = fx::icpBrasilHierarchy().root.der();
    std::vector<bundled::EmbeddedCertificate> candidates(roots.begin(), roots.end());
    for (bundled::EmbeddedCertificate& candidate : candidates) {
        if (qstrcmp(candidate.name, "raiz-brasileira-v6") == 0 ||
            qstrcmp(candidate.name, "raiz-govbr-v1") == 0) {
            candidate.der = reinterpret_cast<const unsigned char*>(impostor.data());
            candidate.size = impostor.size();
        }
    }
    sig::TrustStore store = sig::TrustStore::empty();
    QStringList trusted = bundled::addPinnedRoots(store.handle(), candidates, pins);
    trusted.sort();
    const QStringList pinned = {"raiz-brasileira-v10", "raiz-brasileira-v11", "raiz-brasileira-v12",
                                "raiz-brasileira-v2", "raiz-brasileira-v7"};
    EXPECT_EQ(trusted, pinned);
    auto context = contextOf(store);
    for (const bundled::EmbeddedCertificate& root : roots) {
        sig::Chain chain;
        const bool refused = qstrcmp(root.name, "raiz-brasileira-v5") == 0 ||
                             qstrcmp(root.name, "raiz-brasileira-v6") == 0 ||
                             qstrcmp(root.name, "raiz-govbr-v1") == 0;
        EXPECT_EQ(chain.build(certificateOf(root, context)), !refused) << root.name;
    }
    sig::Chain swapped;
    const auto* impostorDer = reinterpret_cast<const unsigned char*>(impostor.data());
    EXPECT_FALSE(swapped.build(
        certificateOf({"raiz-brasileira-v6", 0, impostorDer, impostor.size()}, context)));
    // Asked for by name, every root was looked up: only the pinned ones
    // ever entered the store.
    EXPECT_EQ(storedSubjects(store), subjectsOf(roots, pinned));
}

TEST_F(TrustAnchorsTest, RootsAreParsedOnlyWhenAChainAsksForTheirName)
{
    const sig::TrustStore store = sig::TrustStore::systemDefault();
    QStringList listed = store.sources().bundledRoots;
    listed.sort();
    EXPECT_EQ(listed,
              QStringList({"raiz-brasileira-v10", "raiz-brasileira-v11", "raiz-brasileira-v12",
                           "raiz-brasileira-v2", "raiz-brasileira-v5", "raiz-brasileira-v6",
                           "raiz-brasileira-v7", "raiz-govbr-v1"}));
    EXPECT_TRUE(storedSubjects(store).isEmpty());

    const bundled::EmbeddedCertificate* v10 = nullptr;
    for (const bundled::EmbeddedCertificate& root : bundled::roots())
        v10 = qstrcmp(root.name, "raiz-brasileira-v10") == 0 ? &root : v10;
    ASSERT_NE(v10, nullptr);
    sig::Chain chain;
    EXPECT_TRUE(chain.build(certificateOf(*v10, contextOf(store))));
    EXPECT_EQ(storedSubjects(store), subjectsOf(bundled::roots(), {"raiz-brasileira-v10"}));
}

// The bundled authority that needs the most bundled helpers to reach a root.
const bundled::EmbeddedCertificate&
deepestHelper(const std::shared_ptr<const sig::ValidationContext>& context)
{
    const bundled::EmbeddedCertificate* deepest = nullptr;
    int longest = 0;
    for (const bundled::EmbeddedCertificate& helper : bundled::helpers()) {
        sig::Chain chain;
        if (chain.build(certificateOf(helper, context)) && chain.certificates().count() > longest) {
            longest = chain.certificates().count();
            deepest = &helper;
        }
    }
    EXPECT_GE(longest, 3);
    return *deepest;
}

TEST_F(TrustAnchorsTest, BundledIntermediatesBuildChainsToTheRootButAreNeverAnchors)
{
    ASSERT_EQ(bundled::helpers().size(), 271u);
    auto trusting = contextOf(sig::TrustStore::systemDefault());
    const bundled::EmbeddedCertificate& authority = deepestHelper(trusting);
    sig::Chain chain;
    ASSERT_TRUE(chain.build(certificateOf(authority, trusting)));
    const QString top = chain.certificates().item(chain.certificates().count() - 1).subjectName();
    EXPECT_TRUE(top.contains("Autoridade Certificadora Raiz Brasileira")) << top.toStdString();

    // Without the roots, the same helpers build the chain but trust nothing.
    sig::Chain untrusted;
    EXPECT_FALSE(untrusted.build(certificateOf(authority, contextOf(sig::TrustStore::empty()))));
    EXPECT_GE(untrusted.certificates().count(), 2);
}

TEST_F(TrustAnchorsTest, EveryBundledAuthorityReachesTheRootOfItsOwnFramework)
{
    auto context = contextOf(sig::TrustStore::systemDefault());
    int govBr = 0;
    for (const bundled::EmbeddedCertificate& helper : bundled::helpers()) {
        SCOPED_TRACE(helper.name);
        const sig::CertificatePath path =
            certificateOf(helper, context).path(sig::CertificateRole::Any);
        if (!path.trusted) {
            EXPECT_EQ(path.framework, sig::TrustFramework::None);
            continue;
        }
        const bool ofGovBr = QByteArray(helper.name).contains("govbr");
        govBr += ofGovBr ? 1 : 0;
        EXPECT_EQ(path.framework,
                  ofGovBr ? sig::TrustFramework::GovBr : sig::TrustFramework::IcpBrasil);
        if (ofGovBr) {
            EXPECT_TRUE(path.chain.back().certificate.subjectName().contains(
                "Autoridade Certificadora Raiz do Governo Federal do Brasil v1"));
        }
    }
    // Both gov.br authorities reach the gov.br root through each other.
    EXPECT_EQ(govBr, 2);
}

TEST_F(TrustAnchorsTest, APinnedIntermediateIsAdmittedOnlyWithItsOwnBytes)
{
    const fx::Bytes impostor = fx::foreignHierarchy().intermediate.der();
    const auto* impostorDer = reinterpret_cast<const unsigned char*>(impostor.data());
    std::optional<bundled::EmbeddedCertificate> issuing;
    std::optional<bundled::EmbeddedCertificate> icp;
    for (const bundled::EmbeddedCertificate& helper : bundled::helpers()) {
        if (qstrcmp(helper.name, "ac-final-govbr-v1") == 0)
            issuing = helper;
        else if (!QByteArray(helper.name).contains("govbr"))
            icp = helper;
    }
    ASSERT_TRUE(issuing && icp);
    struct Case {
        const char* what;
        bundled::EmbeddedCertificate helper;
        bool admitted;
    };
    const Case cases[] = {
        {"the bundled bytes", *issuing, true},
        {"other bytes under its name",
         {issuing->name, issuing->subjectHash, impostorDer, impostor.size()},
         false},
        {"the bundled bytes cut short",
         {issuing->name, issuing->subjectHash, issuing->der, issuing->size - 1},
         false},
        // ITI's intermediates come in one file and have no pins.
        {"an intermediate without a pin", *icp, true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(bundled::admitted(c.helper, bundled::helperPins()), c.admitted) << c.what;
}

TEST_F(TrustAnchorsTest, SystemCertificatesAreFoundByHashInTheFolderOrInTheNamedFile)
{
    const fx::Cert& root = fx::foreignHierarchy().root;
    const fx::Cert leaf = fx::issueEndEntity(root, "Sistema");
    auto trustedWith = [&] {
        auto context = contextOf(sig::TrustStore::systemDefault());
        sig::Chain chain;
        return chain.build(sig::Certificate(leaf.x509.get(), context));
    };
    EXPECT_FALSE(trustedWith());

    QTemporaryDir folder;
    const QString hashed = QStringLiteral("%1.0").arg(
        X509_NAME_hash_ex(X509_get_subject_name(root.x509.get()), nullptr, nullptr, nullptr), 8, 16,
        QLatin1Char('0'));
    fx::writeFile(QDir(folder.path()).filePath(hashed).toStdString(), root.pem());
    environment_.set("SSL_CERT_DIR", QFile::encodeName(folder.path()));
    EXPECT_TRUE(trustedWith());
    // An anchor of the system store stands for no framework of its own.
    EXPECT_EQ(sig::Certificate(leaf.x509.get(), contextOf(sig::TrustStore::systemDefault()))
                  .path(sig::CertificateRole::Any)
                  .framework,
              sig::TrustFramework::Other);

    const QString file = QDir(empty_.path()).filePath("raizes.pem");
    fx::writeFile(file.toStdString(), root.pem());
    environment_.set("SSL_CERT_DIR", QFile::encodeName(empty_.path()))
        .set("SSL_CERT_FILE", QFile::encodeName(file));
    EXPECT_TRUE(trustedWith());
}

TEST_F(TrustAnchorsTest, TheTrustIdentifierNamesTheDataWhateverOrderItWasLoadedIn)
{
    std::map<char, fx::Cert> roots;
    for (const char name : {'a', 'b', 'c'})
        roots[name] =
            fx::makeCertificate({.subject = {{"CN", std::string("Raiz ") + name}}, .ca = true});
    const QByteArray one(64, '1');
    const QByteArray two(64, '2');
    // The roots, by letter, in SSL_CERT_FILE in this order, in SSL_CERT_DIR
    // under hashed names, and trusted one by one; the lists of policies.
    const std::vector<
        std::tuple<const char*, const char*, const char*, std::vector<QByteArray>, bool>>
        cases = {
            {"ab", "", "", {one}, true},  {"ba", "", "", {one}, true},
            {"bba", "", "", {one}, true}, {"a", "b", "", {one}, true},
            {"a", "", "b", {one}, true},  {"abc", "", "", {one}, false},
            {"a", "", "", {one}, false},  {"ac", "", "", {one}, false},
            {"ab", "", "", {two}, false}, {"ab", "", "", {one, two}, false},
            {"ab", "", "", {}, false},
        };
    QString first;
    int row = 0;
    for (const auto& [inFile, inFolder, added, lists, sameAsFirst] : cases) {
        SCOPED_TRACE(::testing::Message() << "row " << ++row);
        QTemporaryDir own;
        std::string pem;
        for (const char* name = inFile; *name; ++name)
            pem += roots[*name].pem();
        fx::writeFile(own.filePath("raizes.pem").toStdString(), pem);
        for (const char* name = inFolder; *name; ++name) {
            X509* x509 = roots[*name].x509.get();
            const unsigned long hash =
                X509_NAME_hash_ex(X509_get_subject_name(x509), nullptr, nullptr, nullptr);
            fx::writeFile(own.filePath(QStringLiteral("%1.0").arg(hash, 8, 16, QLatin1Char('0')))
                              .toStdString(),
                          roots[*name].pem());
        }
        environment_.set("SSL_CERT_FILE", QFile::encodeName(own.filePath("raizes.pem")))
            .set("SSL_CERT_DIR", QFile::encodeName(own.path()));
        sig::TrustStore store = sig::TrustStore::systemDefault();
        for (const char* name = added; *name; ++name)
            store.addTrusted(QByteArray::fromStdString(roots[*name].der()));
        const QString id = store.identifier(lists);
        first = first.isEmpty() ? id : first;
        EXPECT_EQ(id == first, sameAsFirst) << id.toStdString();
    }
}

} // namespace
