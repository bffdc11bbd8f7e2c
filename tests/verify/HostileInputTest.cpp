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
#include <unistd.h>

using namespace selavia::verify;
using namespace selavia::testing;
namespace hostile = selavia::hostile;

namespace {

VerifiedDocument verified(const fx::Bytes& message,
                          sig::TrustStore store = sig::TrustStore::empty())
{
    return verifySignedBytes(QString(), bytes(message), std::move(store));
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

void expectSafeToShow(const VerifiedDocument& document)
{
    EXPECT_TRUE(safeToShow(document.originalName)) << document.originalName.toStdString();
    EXPECT_LE(document.originalName.toUtf8().size(), kMaxDocumentNameBytes);
    for (const TreeNode& node : document.tree)
        EXPECT_TRUE(safeToShow(node.text)) << node.key.toStdString();
}

void expectInvalidFile(const VerifiedDocument& document, const char* what)
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
    const VerifiedDocument attribute = verified(hostile::nestedInAttribute(10000));
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
        const VerifiedDocument fromFile = loadSignedDocument(
            dir_.write(QString::fromLatin1(what) + ".slv", message), sig::TrustStore::empty());
        EXPECT_FALSE(fromFile.verified()) << what;
    }
}

TEST(HostileInputTest, AnIssuerLoopAmongHundredsOfCertificatesEndsInAnUntrustedChain)
{
    const VerifiedDocument loop = verified(hostile::issuerLoop(400));
    ASSERT_TRUE(loop.verified());
    ASSERT_EQ(loop.signers.size(), 1u);
    const SignerEntry& signer = loop.signers[0];
    EXPECT_EQ(signer.certificateClass, CertificateClass::NoIcpInvalid);
    // Round the loop only as far as the chain depth allows: 32 certificates
    // between the signer's and the last.
    EXPECT_GE(signer.chain.size(), 3u);
    EXPECT_LE(signer.chain.size(), 34u);
    expectSafeToShow(loop);
}

TEST(HostileInputTest, AMegabyteSubjectAltNameStillGivesTheIdentity)
{
    const VerifiedDocument huge = verified(hostile::hugeSubjectAltName(1 << 20), trustingIcp());
    ASSERT_TRUE(huge.verified());
    const SignerEntry& signer = huge.signers.at(0);
    EXPECT_EQ(signer.holderName, "FULANO DE TAL");
    EXPECT_EQ(signer.identity, "123.456.789-01");
    EXPECT_EQ(signer.certificateClass, CertificateClass::Valid);
}

TEST(HostileInputTest, RootsWhoseKeysCannotBeUsedOrAreUnusualAreJudgedNotFatal)
{
    fx::Bytes unknownRoot;
    const fx::Bytes unknown = hostile::unknownKeyRoot(&unknownRoot);
    sig::TrustStore trustingUnknown = sig::TrustStore::empty();
    trustingUnknown.addTrusted(bytes(unknownRoot));
    const VerifiedDocument withUnknown = verified(unknown, trustingUnknown);
    ASSERT_TRUE(withUnknown.verified());
    // Its key cannot check the certificate under it: not valid, even trusted.
    EXPECT_EQ(withUnknown.signers.at(0).certificateClass, CertificateClass::NoIcpInvalid);
    expectSafeToShow(withUnknown);

    fx::Bytes edRoot;
    const fx::Bytes ed448 = hostile::ed448Root(&edRoot);
    sig::TrustStore trustingEd448 = sig::TrustStore::empty();
    trustingEd448.addTrusted(bytes(edRoot));
    const VerifiedDocument withEd448 = verified(ed448, trustingEd448);
    ASSERT_TRUE(withEd448.verified());
    EXPECT_EQ(withEd448.signers.at(0).certificateClass, CertificateClass::NoIcpValid);
    EXPECT_EQ(withEd448.signers.at(0).chain.size(), 3u);
    // Untrusted, the same chain is simply not valid.
    EXPECT_EQ(verified(ed448).signers.at(0).certificateClass, CertificateClass::NoIcpInvalid);
}

TEST_F(HostileFileTest, NamesShownAndUsedForTheCopyCarryNoControlOrDirectionCharacters)
{
    const std::string rlo = "\xE2\x80\xAE";
    const VerifiedDocument controls =
        verified(hostile::documentNamed("fatura\r\n\t" + rlo + "fdp.exe"));
    ASSERT_TRUE(controls.verified());
    EXPECT_EQ(controls.originalName, "faturafdp.exe");
    expectSafeToShow(controls);

    const VerifiedDocument longName =
        verified(hostile::documentNamed(std::string(5000, 'n') + ".pdf"));
    ASSERT_TRUE(longName.verified());
    EXPECT_EQ(longName.originalName.toUtf8().size(), kMaxDocumentNameBytes);
    EXPECT_TRUE(longName.originalName.endsWith(".pdf"));
    EXPECT_TRUE(longName.hasExtension);

    // The holder's name comes from the certificate, which anyone can write.
    const VerifiedDocument holder =
        verified(hostile::documentNamed("contrato.pdf", "FULANO\n" + rlo + "LAT ED"));
    ASSERT_TRUE(holder.verified());
    const TreeNode* signerNode = findNode(holder.tree, "aChild1");
    ASSERT_NE(signerNode, nullptr);
    EXPECT_EQ(signerNode->text, "FULANOLAT ED");
    expectSafeToShow(holder);

    // Without a name inside, the signed file's own name is used: cleaned too.
    const QString disguised = QString::fromUtf16(u"fatura\u202Efdp\nexe.slv");
    const VerifiedDocument ownName = loadSignedDocument(
        dir_.write(disguised, hostile::documentNamed("x.slv")), sig::TrustStore::empty());
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
    const VerifiedDocument document = verifiedDocument(messageFor({{.cert = signer}}));
    ASSERT_EQ(document.signers.size(), 1u);
    const SignerEntry& entry = document.signers[0];
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
        auto loading = std::async(
            std::launch::async, [&] { return loadSignedDocument(path, sig::TrustStore::empty()); });
        if (loading.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
            // Let a reader blocked on the FIFO see an end of file.
            ::close(::open(QFile::encodeName(fifo).constData(), O_WRONLY | O_NONBLOCK));
            FAIL() << path.toStdString() << " was read instead of refused";
        }
        const VerifiedDocument document = loading.get();
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

TEST(MessageLimitsTest, EachDigestAlgorithmIsHashedOnceAndTheirNumberIsBounded)
{
    namespace limits = sig::limits;
    const QString limitCode = codeTextOf(sig::code::kLimitExceeded);
    const fx::Bytes one = fx::makeSignedMessage(messageFor({{.cert = icpSigner()}}));
    EXPECT_TRUE(verifySignedBytes(
                    {}, bytes(hostile::withDigestAlgorithms(one, limits::kMaxDigestAlgorithms)),
                    trustingIcp())
                    .verified());
    // Thousands of entries once cost a pass over the content each, and a
    // stack overflow; now they are refused before anything is hashed.
    for (int count : {limits::kMaxDigestAlgorithms + 1, 50000}) {
        const VerifiedDocument refused =
            verifySignedBytes({}, bytes(hostile::withDigestAlgorithms(one, count)), trustingIcp());
        ASSERT_FALSE(refused.verified()) << count;
        EXPECT_EQ(refused.error->codeText, limitCode) << count;
    }
}

TEST(MessageLimitsTest, EmptyPiecesCountTowardThePieceLimit)
{
    const fx::Bytes ber = fx::encodeAs(fx::makeSignedMessage(messageFor({{.cert = icpSigner()}})),
                                       fx::Encoding::BerIndefinite);
    BytesInput within(bytes(hostile::withWrappedPieces(ber, 1000)));
    EXPECT_TRUE(verifySignedInput({}, within, trustingIcp()).verified());
    BytesInput beyond(
        bytes(hostile::withWrappedPieces(ber, static_cast<int>(sig::limits::kMaxContentPieces))));
    const VerifiedDocument refused = verifySignedInput({}, beyond, trustingIcp());
    ASSERT_FALSE(refused.verified());
    EXPECT_EQ(refused.error->codeText, codeTextOf(sig::code::kLimitExceeded));
}

TEST(MessageLimitsTest, AMessagePastALimitFailsWithTheLimitErrorBeforeAnyCheck)
{
    const QString limitCode = codeTextOf(sig::code::kLimitExceeded);
    const fx::Bytes cases[] = {
        hostile::withSignerCopies(fx::makeSignedMessage(messageFor({{.cert = icpSigner()}})), 1000),
        withCopies(sig::limits::kMaxCertificates + 1),
        hostile::hugeAttribute(static_cast<std::size_t>(sig::limits::kMaxAttributeValueBytes) * 3),
    };
    for (const fx::Bytes& message : cases) {
        const VerifiedDocument refused = verified(message);
        ASSERT_FALSE(refused.verified());
        EXPECT_EQ(refused.error->codeText, limitCode);
        EXPECT_TRUE(
            refused.error->text.contains(sig::SignatureError::describe(sig::code::kLimitExceeded)));
    }
}
