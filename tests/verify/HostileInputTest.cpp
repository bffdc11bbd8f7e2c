// Signed files written to hurt the reader: each must give a clear verdict,
// and whatever it shows must be safe to show. A hang is caught by the test's
// time limit; how long each takes is measured by tools/hostile/measure.

#include "platform/signature/Limits.h"
#include "platform/signature/OpenSslHandles.h"
#include "platform/signature/SignatureError.h"
#include "tests/support/VerifyFixtures.h"
#include "tools/hostile/HostileInputs.h"
#include "verify/DocumentName.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <fcntl.h>
#include <future>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>

using namespace selavia::verify;
using namespace selavia::testing;
namespace hostile = selavia::hostile;

namespace {

ValidationResult verified(const fx::Bytes& message,
                          sig::TrustStore store = sig::TrustStore::empty())
{
    const QByteArray raw = bytes(message);
    return Verification(std::move(store)).readBytes(QString(), raw).run();
}

QString codeTextOf(std::uint32_t code)
{
    return sig::signedDecimalText(code);
}

// Control characters and the marks that reorder what is shown: written out
// here again, apart from the code that removes them.
bool safeToShow(const QString& text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar character = text[i];
        if (character.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            ++i;
            continue;
        }
        const char16_t c = character.unicode();
        if (character.isSurrogate() || c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x061C ||
            c == 0x200E || c == 0x200F || (c >= 0x202A && c <= 0x202E) ||
            (c >= 0x2066 && c <= 0x2069))
            return false;
    }
    return true;
}

void expectSafeToShow(const ValidationResult& document)
{
    EXPECT_TRUE(safeToShow(document.originalName)) << document.originalName.toStdString();
    EXPECT_LE(document.originalName.toUtf8().size(), kMaxDocumentNameBytes);
    for (const TreeNode& node : document.tree)
        EXPECT_TRUE(safeToShow(node.text)) << node.key.toStdString();
}

void expectInvalidFile(const ValidationResult& document, const char* what)
{
    ASSERT_FALSE(document.verified()) << what;
    EXPECT_EQ(document.error->errorClass, VerificationErrorClass::InvalidFile) << what;
}

// The parsed message, for the limits checked on it directly.
sig::ossl::UniqueCms parsed(const fx::Bytes& der)
{
    const auto* cursor = reinterpret_cast<const unsigned char*>(der.data());
    return sig::ossl::UniqueCms(
        d2i_CMS_ContentInfo(nullptr, &cursor, static_cast<long>(der.size())));
}

bool refusedAtLimit(const fx::Bytes& der)
{
    sig::ossl::UniqueCms cms = parsed(der);
    EXPECT_TRUE(cms != nullptr);
    try {
        sig::checkMessageLimits(cms.get());
    } catch (const sig::SignatureError& error) {
        EXPECT_EQ(error.code(), sig::code::kLimitExceeded);
        EXPECT_FALSE(error.description().isEmpty());
        return true;
    }
    return false;
}

// A message carrying `count` copies of its signer's certificate.
fx::Bytes withCopies(int count)
{
    const fx::Cert signer = icpSigner();
    return hostile::withCertificates(
        fx::makeSignedMessage(messageFor({{.cert = signer}})),
        std::vector<fx::Bytes>(static_cast<std::size_t>(count), signer.der()));
}

class HostileFileTest : public ::testing::Test {
protected:
    ScratchFolder dir_;
};

} // namespace

TEST(HostileInputTest, DeepNestingIsRefusedOrIgnored)
{
    expectInvalidFile(verified(hostile::nestedIndefinite(100000)), "indefinite");
    expectInvalidFile(verified(hostile::nestedDefinite(10000)), "definite");
    expectInvalidFile(verified(hostile::nestedContentPieces(5000)), "content pieces");
    expectInvalidFile(
        verified(fx::encodeAs(hostile::nestedDefinite(10000), fx::Encoding::PemPkcs7)), "PEM");

    // Nesting inside a value the reader does not read changes nothing.
    const ValidationResult attribute = verified(hostile::nestedInAttribute(10000));
    ASSERT_TRUE(attribute.verified());
    EXPECT_EQ(attribute.signers.size(), 1u);
}

TEST_F(HostileFileTest, LengthsPastTheEndAreRefusedFromMemoryAndFromTheFile)
{
    const std::pair<const char*, fx::Bytes> cases[] = {
        {"outer", hostile::outerLengthPastEnd()},
        {"content", hostile::contentLengthPastEnd()},
        {"eight bytes", hostile::eightByteLength()},
        {"truncated", fx::truncate(hostile::outerLengthPastEnd(), 900)},
    };
    for (const auto& [what, message] : cases) {
        expectInvalidFile(verified(message), what);
        const ValidationResult fromFile =
            Verification(sig::TrustStore::empty())
                .readFile(dir_.write(QString::fromLatin1(what) + ".slv", message))
                .run();
        EXPECT_FALSE(fromFile.verified()) << what;
    }
}

TEST(HostileInputTest, AnIssuerLoopAmongHundredsOfCertificatesEndsInAnUntrustedChain)
{
    const ValidationResult loop = verified(hostile::issuerLoop(400));
    ASSERT_TRUE(loop.verified());
    ASSERT_EQ(loop.signers.size(), 1u);
    const SignatureResult& signer = loop.signers[0];
    EXPECT_EQ(signer.certificateClass, CertificateClass::NoIcpInvalid);
    // Round the loop only as far as the chain depth allows: 32 certificates
    // between the signer's and the last.
    EXPECT_GE(signer.status.chain.size(), 3u);
    EXPECT_LE(signer.status.chain.size(), 34u);
    expectSafeToShow(loop);
}

TEST(HostileInputTest, AMegabyteSubjectAltNameStillGivesTheIdentity)
{
    const ValidationResult huge = verified(hostile::hugeSubjectAltName(1 << 20), trustingIcp());
    ASSERT_TRUE(huge.verified());
    const SignatureResult& signer = huge.signers.at(0);
    EXPECT_EQ(signer.holderName, "FULANO DE TAL");
    EXPECT_EQ(signer.identity, "123.456.789-01");
    EXPECT_EQ(signer.certificateClass, CertificateClass::Valid);
}

TEST(HostileInputTest, RootsWhoseKeysCannotBeUsedOrAreUnusualAreJudgedNotFatal)
{
    // A message under a root of the given kind, verified trusting that root.
    const auto underRoot = [](fx::Bytes (*make)(fx::Bytes*)) {
        fx::Bytes root;
        const fx::Bytes message = make(&root);
        sig::TrustStore store = sig::TrustStore::empty();
        store.addTrusted(bytes(root));
        return std::pair{message, verified(message, std::move(store))};
    };
    const auto [unknown, withUnknown] = underRoot(hostile::unknownKeyRoot);
    ASSERT_TRUE(withUnknown.verified());
    // Its key cannot check the certificate under it: not valid, even trusted.
    EXPECT_EQ(withUnknown.signers.at(0).certificateClass, CertificateClass::NoIcpInvalid);
    expectSafeToShow(withUnknown);

    const auto [ed448, withEd448] = underRoot(hostile::ed448Root);
    ASSERT_TRUE(withEd448.verified());
    EXPECT_EQ(withEd448.signers.at(0).certificateClass, CertificateClass::NoIcpValid);
    EXPECT_EQ(withEd448.signers.at(0).status.chain.size(), 3u);
    // Untrusted, the same chain is simply not valid.
    EXPECT_EQ(verified(ed448).signers.at(0).certificateClass, CertificateClass::NoIcpInvalid);
}

TEST_F(HostileFileTest, NamesShownAndUsedForTheCopyCarryNoControlOrDirectionCharacters)
{
    // Control and direction characters in the name inside: OriginalNameTest.
    const std::string rlo = "\xE2\x80\xAE";
    const ValidationResult longName =
        verified(hostile::documentNamed(std::string(5000, 'n') + ".pdf"));
    ASSERT_TRUE(longName.verified());
    EXPECT_EQ(longName.originalName.toUtf8().size(), kMaxDocumentNameBytes);
    EXPECT_TRUE(longName.originalName.endsWith(".pdf"));
    EXPECT_TRUE(longName.hasExtension);

    // The holder's name comes from the certificate, which anyone can write.
    const ValidationResult holder =
        verified(hostile::documentNamed("contrato.pdf", "FULANO\n" + rlo + "LAT ED"));
    ASSERT_TRUE(holder.verified());
    const TreeNode* signerNode = findNode(holder.tree, "aChild1");
    ASSERT_NE(signerNode, nullptr);
    EXPECT_EQ(signerNode->text, "FULANOLAT ED");
    expectSafeToShow(holder);

    // Without a name inside, the signed file's own name is used: cleaned too.
    const QString disguised = QString::fromUtf16(u"fatura\u202Efdp\nexe.slv");
    const ValidationResult ownName =
        Verification(sig::TrustStore::empty())
            .readFile(dir_.write(disguised, hostile::documentNamed("x.slv")))
            .run();
    ASSERT_TRUE(ownName.verified());
    EXPECT_FALSE(ownName.hasExtension);
    EXPECT_EQ(ownName.originalName, "faturafdpexe");
}

TEST(HostileInputTest, AnIcpBrasilHoldersNameAndEmailAreShownClean)
{
    // The name reaches the tree through the ICP-Brasil identity, the e-mail
    // through the certificate's alternative name: both written by anyone.
    const std::string rlo = "\xE2\x80\xAE";
    const fx::Cert signer = icpSigner("FULANO\r\n" + rlo + "DE\x1b TAL:12345678901", "12345678901",
                                      0, 0, fx::KeyType::EcP256, "fulano\r\n\t\x7f@example.com.br");
    const ValidationResult document = verifiedDocument(messageFor({{.cert = signer}}));
    ASSERT_EQ(document.signers.size(), 1u);
    const SignatureResult& entry = document.signers[0];
    EXPECT_EQ(entry.certificateClass, CertificateClass::Valid) << "not the ICP-Brasil path";
    EXPECT_EQ(entry.holderName, "FULANODE TAL");
    EXPECT_EQ(entry.identity, "123.456.789-01");
    EXPECT_EQ(entry.email, "fulano@example.com.br");
    const TreeNode* holder = findNode(document.tree, "aChild1");
    const TreeNode* email = findNode(document.tree, "ChildB1");
    ASSERT_NE(holder, nullptr);
    ASSERT_NE(email, nullptr);
    EXPECT_EQ(holder->text, "FULANODE TAL");
    EXPECT_EQ(email->text, "EMail: fulano@example.com.br");
    expectSafeToShow(document);
}

TEST_F(HostileFileTest, WhatIsNotARegularFileIsRefusedAtOnce)
{
    const QString fifo = dir_.filePath("fila.slv");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    ASSERT_TRUE(QDir(dir_.path()).mkdir("pasta.slv"));
    for (const QString& path : {fifo, dir_.filePath("pasta.slv"), QStringLiteral("/dev/zero")}) {
        auto loading = std::async(std::launch::async, [&] {
            return Verification(sig::TrustStore::empty()).readFile(path).run();
        });
        if (loading.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
            // Let a reader blocked on the FIFO see an end of file.
            ::close(::open(QFile::encodeName(fifo).constData(), O_WRONLY | O_NONBLOCK));
            FAIL() << path.toStdString() << " was read instead of refused";
        }
        const ValidationResult document = loading.get();
        ASSERT_FALSE(document.verified()) << path.toStdString();
        EXPECT_EQ(document.error->errorClass, VerificationErrorClass::InvalidFile);
    }
}

TEST(MessageLimitsTest, EachLimitIsCheckedOnTheParsedMessage)
{
    namespace limits = sig::limits;
    const fx::Bytes one = fx::makeSignedMessage(messageFor({{.cert = icpSigner()}}));
    EXPECT_FALSE(refusedAtLimit(hostile::withSignerCopies(one, limits::kMaxSigners)));
    EXPECT_TRUE(refusedAtLimit(hostile::withSignerCopies(one, limits::kMaxSigners + 1)));

    EXPECT_FALSE(refusedAtLimit(withCopies(limits::kMaxCertificates)));
    EXPECT_TRUE(refusedAtLimit(withCopies(limits::kMaxCertificates + 1)));

    // The description's OCTET STRING header takes five bytes.
    const auto valueBytes = static_cast<std::size_t>(limits::kMaxAttributeValueBytes);
    EXPECT_FALSE(refusedAtLimit(hostile::hugeAttribute(valueBytes - 5)));
    EXPECT_TRUE(refusedAtLimit(hostile::hugeAttribute(valueBytes - 4)));

    std::vector<fx::AttributeSpec> many;
    for (int i = 0; i < limits::kMaxSignedAttributes; ++i)
        many.push_back(fx::documentDescriptionAttribute("d" + std::to_string(i)));
    fx::MessageSpec spec = messageFor({{.cert = icpSigner()}});
    spec.signers[0].signingTime.reset();
    spec.signers[0].attributes = many;
    // contentType and messageDigest come on top of those given.
    EXPECT_TRUE(refusedAtLimit(fx::makeSignedMessage(spec)));
    spec.signers[0].attributes.resize(static_cast<std::size_t>(limits::kMaxSignedAttributes) - 2);
    EXPECT_FALSE(refusedAtLimit(fx::makeSignedMessage(spec)));

    fx::MessageSpec crls = messageFor({{.cert = icpSigner()}});
    const auto crl = fx::makeCrl(fx::icpBrasilHierarchy().intermediate, {});
    crls.crls.assign(static_cast<std::size_t>(limits::kMaxCrls), crl);
    EXPECT_FALSE(refusedAtLimit(fx::makeSignedMessage(crls)));
    crls.crls.push_back(crl);
    EXPECT_TRUE(refusedAtLimit(fx::makeSignedMessage(crls)));
}

// Past a limit, verifying fails with the limit's error before any check:
// thousands of digest algorithms once cost a pass over the content each, and
// a stack overflow. Empty content pieces count toward the limit of the pieces,
// read in place or whole.
TEST(MessageLimitsTest, AMessagePastALimitFailsWithTheLimitErrorBeforeAnyCheck)
{
    namespace limits = sig::limits;
    const fx::Bytes one = fx::makeSignedMessage(messageFor({{.cert = icpSigner()}}));
    const fx::Bytes ber = fx::encodeAs(one, fx::Encoding::BerIndefinite);
    struct Row {
        const char* what;
        fx::Bytes message;
        bool refused;
    };
    const std::vector<Row> rows = {
        {"digest algorithms at the limit",
         hostile::withDigestAlgorithms(one, limits::kMaxDigestAlgorithms), false},
        {"one digest algorithm more",
         hostile::withDigestAlgorithms(one, limits::kMaxDigestAlgorithms + 1), true},
        {"fifty thousand digest algorithms", hostile::withDigestAlgorithms(one, 50000), true},
        {"a thousand empty pieces", hostile::withWrappedPieces(ber, 1000), false},
        {"empty pieces up to the limit",
         hostile::withWrappedPieces(ber, static_cast<int>(limits::kMaxContentPieces)), true},
        {"a thousand signers", hostile::withSignerCopies(one, 1000), true},
        {"a certificate more", withCopies(limits::kMaxCertificates + 1), true},
        {"a huge attribute",
         hostile::hugeAttribute(static_cast<std::size_t>(limits::kMaxAttributeValueBytes) * 3),
         true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        BytesInput input(bytes(row.message));
        const QByteArray raw = bytes(row.message);
        const std::vector<ValidationResult> documents{
            Verification(trustingIcp()).readInput({}, input).run(),
            Verification(trustingIcp()).readBytes({}, raw).run()};
        for (const ValidationResult& document : documents) {
            ASSERT_EQ(document.verified(), !row.refused);
            if (row.refused) {
                EXPECT_EQ(document.error->codeText, codeTextOf(sig::code::kLimitExceeded));
                EXPECT_TRUE(document.error->text.contains(
                    sig::SignatureError::describe(sig::code::kLimitExceeded)));
            }
        }
    }
}
