#include "platform/signature/DerFrame.h"

#include "platform/signature/OpenSslHandles.h"
#include "platform/signature/ParsedCertificates.h"
#include "platform/signature/SignatureError.h"
#include "platform/signature/SignedData.h"
#include "tests/support/Fixtures.h"
#include "tools/hostile/HostileInputs.h"

#include <QTemporaryFile>
#include <gtest/gtest.h>
#include <optional>
#include <set>

using namespace selavia::testing;
namespace code = selavia::signature::code;
namespace hostile = selavia::hostile;
namespace ossl = selavia::signature::ossl;

namespace {

// What HostileInputs' messages sign.
const fx::Bytes kContent = "conteudo de teste";

sig::ReadAt readerOf(const fx::Bytes& message)
{
    return [&message](qint64 offset, qint64 length) {
        const auto size = static_cast<qint64>(message.size());
        if (offset >= size)
            return QByteArray();
        return QByteArray(message.data() + offset,
                          static_cast<qsizetype>(std::min(length, size - offset)));
    };
}

fx::Bytes plainDer()
{
    fx::MessageSpec spec;
    spec.content = kContent;
    spec.signers = {fx::SignerSpec{
        .cert = fx::issueEndEntity(fx::foreignHierarchy().intermediate, "FULANO DE TAL")}};
    return fx::makeSignedMessage(spec);
}

// The content bytes the cut names, walked again as they are hashed.
fx::Bytes walkedContent(const fx::Bytes& message, const sig::ContentElement& content)
{
    fx::Bytes walked;
    sig::walkContent(readerOf(message), content, [&](qint64 offset, qint64 length) {
        walked.append(message, static_cast<std::size_t>(offset), static_cast<std::size_t>(length));
    });
    return walked;
}

// The code of the SignatureError `verify` raises, or 0.
std::uint32_t codeOf(const std::function<void(sig::SignedData&)>& verify)
{
    sig::SignedData data(sig::TrustStore::empty());
    try {
        verify(data);
    } catch (const sig::SignatureError& error) {
        return error.code();
    }
    return 0;
}

} // namespace

TEST(DerFrameTest, MessagesAreCutAroundTheirContentOrLeftToTheFullParse)
{
    const fx::Bytes der = plainDer();
    const fx::Bytes ber = fx::encodeAs(der, fx::Encoding::BerIndefinite);
    struct Row {
        const char* what;
        fx::Bytes message;
        bool cut; // else left whole, for the parser to judge
    };
    const Row rows[] = {
        {"definite lengths", der, true},
        {"indefinite lengths, content in pieces", ber, true},
        {"pieces wrapped, empty pieces between", hostile::withWrappedPieces(ber, 2), true},
        // The content's own string and five more inside: as deep as OpenSSL reads.
        {"strings six deep", hostile::nestedContentPieces(6), true},
        {"strings seven deep", hostile::nestedContentPieces(7), false},
        {"pieces nested thousands deep", hostile::nestedContentPieces(5000), false},
        {"truncated after the content", fx::truncate(der, der.size() - 10), false},
        {"truncated inside the content", fx::truncate(ber, ber.find(kContent) + 4), false},
        {"outer length past the end", hostile::outerLengthPastEnd(), false},
        {"content length past the end", hostile::contentLengthPastEnd(), false},
        {"a length of eight octets", hostile::eightByteLength(), false},
        {"inner element past the outer one", hostile::innerPastOuter(), false},
        {"not DER at all", hostile::kInnerPastOuterBase64, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const std::optional<sig::FrameSplit> split =
            sig::splitAtContent(readerOf(row.message), static_cast<qint64>(row.message.size()));
        ASSERT_EQ(split.has_value(), row.cut);
        if (!split)
            continue;
        EXPECT_EQ(split->content.length, static_cast<qint64>(kContent.size()));
        EXPECT_EQ(walkedContent(row.message, split->content), kContent);
        // The frame is the message with an empty content, every length fixed.
        const auto* cursor = reinterpret_cast<const unsigned char*>(split->frame.constData());
        const ossl::UniqueCms frame(
            d2i_CMS_ContentInfo(nullptr, &cursor, static_cast<long>(split->frame.size())));
        ASSERT_TRUE(frame);
        ASSERT_NE(CMS_get0_content(frame.get()), nullptr);
        EXPECT_EQ(ASN1_STRING_length(*CMS_get0_content(frame.get())), 0);
    }
}

// The certificates are read apart from the message, once per process; the
// message without them, with them added back in their order, must be the
// message read whole.
TEST(DerFrameTest, CertificatesAreTakenOutOfDefiniteMessagesOnly)
{
    const fx::Hierarchy& foreign = fx::foreignHierarchy();
    fx::MessageSpec spec;
    spec.content = kContent;
    spec.signers = {fx::SignerSpec{.cert = fx::issueEndEntity(foreign.intermediate, "FULANO")}};
    spec.extraCertificates = {foreign.intermediate, foreign.root};
    spec.crls = {fx::makeCrl(foreign.intermediate, {})};
    const fx::Bytes der = fx::makeSignedMessage(spec);
    fx::MessageSpec bare = spec;
    bare.signers[0].includeCertificate = false;
    bare.extraCertificates.clear();
    struct Row {
        const char* what;
        fx::Bytes message;
        int certificates; // -1: left to the full parse
    };
    const Row rows[] = {
        {"definite lengths", der, 3},
        {"indefinite lengths", fx::encodeAs(der, fx::Encoding::BerIndefinite), -1},
        {"no certificates", fx::makeSignedMessage(bare), -1},
        {"a byte after the message", der + std::string(1, '\0'), -1},
        {"truncated", fx::truncate(der, der.size() - 1), -1},
        {"not DER at all", hostile::kInnerPastOuterBase64, -1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const QByteArrayView bytes(row.message.data(), static_cast<qsizetype>(row.message.size()));
        const std::optional<sig::CertificatesSplit> split = sig::splitCertificates(bytes);
        ASSERT_EQ(split.has_value(), row.certificates >= 0);
        const ossl::UniqueCms shared = sig::certificates::messageSharingThem(bytes);
        EXPECT_EQ(static_cast<bool>(shared), split.has_value());
        if (!split)
            continue;
        ASSERT_EQ(static_cast<int>(split->certificates.size()), row.certificates);
        const auto* cursor = reinterpret_cast<const unsigned char*>(split->message.constData());
        const ossl::UniqueCms stripped(
            d2i_CMS_ContentInfo(nullptr, &cursor, static_cast<long>(split->message.size())));
        ASSERT_TRUE(stripped);
        const ossl::UniqueX509Stack none(CMS_get1_certs(stripped.get()));
        EXPECT_TRUE(!none || sk_X509_num(none.get()) == 0);
        std::set<X509*> objects;
        for (QByteArrayView certificate : split->certificates) {
            const std::shared_ptr<X509> parsed = sig::certificates::parsed(certificate);
            ASSERT_TRUE(parsed);
            // The same bytes give the same object; other bytes never do.
            EXPECT_EQ(sig::certificates::parsed(certificate), parsed);
            EXPECT_TRUE(objects.insert(parsed.get()).second);
            EXPECT_EQ(CMS_add1_cert(stripped.get(), parsed.get()), 1);
        }
        cursor = reinterpret_cast<const unsigned char*>(row.message.data());
        const ossl::UniqueCms whole(
            d2i_CMS_ContentInfo(nullptr, &cursor, static_cast<long>(row.message.size())));
        ASSERT_TRUE(whole);
        const QByteArray wholeDer = ossl::encoded(i2d_CMS_ContentInfo, whole.get());
        EXPECT_EQ(ossl::encoded(i2d_CMS_ContentInfo, stripped.get()), wholeDer);
        EXPECT_EQ(ossl::encoded(i2d_CMS_ContentInfo, shared.get()), wholeDer);
        const ossl::UniqueX509Stack ours(CMS_get1_certs(shared.get()));
        const ossl::UniqueX509Stack theirs(CMS_get1_certs(whole.get()));
        ASSERT_EQ(sk_X509_num(ours.get()), sk_X509_num(theirs.get()));
        for (int i = 0; i < sk_X509_num(ours.get()); ++i)
            EXPECT_EQ(X509_cmp(sk_X509_value(ours.get(), i), sk_X509_value(theirs.get(), i)), 0);
    }
}

TEST(DerFrameTest, TheMessageEndsWhereItsDefiniteOuterLengthSays)
{
    const std::pair<QByteArray, std::optional<qint64>> rows[] = {
        {QByteArray("\x30\x03\x02\x01\x01", 5), 5},
        {QByteArray("\x30\x82\x01\x00", 4), 4 + 0x100},
        {QByteArray("\x30\x84\x7F\xFF\xFF\xFF", 6), 6 + 0x7FFFFFFFLL},
        {QByteArray("\x30\x80", 2), std::nullopt},             // indefinite
        {QByteArray("\x31\x03\x02\x01\x01", 5), std::nullopt}, // not a SEQUENCE
        {QByteArray("\x30\x88\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF", 10), std::nullopt},
        {QByteArray("\x30", 1), std::nullopt},
    };
    for (const auto& [head, end] : rows)
        EXPECT_EQ(sig::definiteMessageEnd(head), end) << head.toHex().toStdString();
}

TEST(DerFrameTest, DigestAlgorithmsAreCountedOnlyInsideTheirMessage)
{
    const fx::Bytes der = plainDer();
    const std::pair<fx::Bytes, std::optional<int>> rows[] = {
        {der, 1},
        {fx::encodeAs(der, fx::Encoding::BerIndefinite), 1},
        {hostile::withDigestAlgorithms(der, 40), 40},
        // The set's bytes run past the outer SEQUENCE: not this message's.
        {hostile::innerPastOuter(), std::nullopt},
    };
    for (const auto& [message, count] : rows)
        EXPECT_EQ(sig::countDigestAlgorithms(QByteArrayView(message.data(), message.size())),
                  count);
}

TEST(DerFrameTest, AnInnerElementPastTheOuterOneGetsOneVerdictFromMemoryTextAndFile)
{
    const fx::Bytes message = hostile::innerPastOuter();
    const fx::Bytes text = hostile::kInnerPastOuterBase64;
    QTemporaryFile file;
    ASSERT_TRUE(file.open());
    file.write(message.data(), static_cast<qint64>(message.size()));
    file.flush();
    const std::pair<const char*, std::function<void(sig::SignedData&)>> paths[] = {
        {"memory", [&](sig::SignedData& data) { data.verify(bytes(message), {}); }},
        {"Base64 text", [&](sig::SignedData& data) { data.verify(bytes(text), {}); }},
        {"file",
         [&](sig::SignedData& data) {
             sig::FileInput input(file.handle(), file.size());
             data.verify(input, {});
         }},
    };
    for (const auto& [what, verify] : paths)
        EXPECT_EQ(codeOf(verify), code::kNotSignedData) << what;
}
