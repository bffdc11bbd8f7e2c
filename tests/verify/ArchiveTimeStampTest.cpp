// Content and archive time-stamps: what each proves and how a broken one is
// judged.

#include "tests/support/VerifyFixtures.h"
#include "tools/fixtures/CadesFixtures.h"
#include "verify/Verification.h"

#include <gtest/gtest.h>

using namespace selavia::verify;
using namespace selavia::testing;

namespace {

SignatureResult signerOf(const fx::Bytes& message)
{
    const ValidationResult document =
        Verification(trustingIcp()).readBytes({}, bytes(message)).run();
    EXPECT_TRUE(document.verified());
    EXPECT_EQ(document.signers.size(), 1u);
    return document.signers.empty() ? SignatureResult{} : document.signers.front();
}

bool hasReason(const Judgement& judgement, const QString& code)
{
    for (const VerdictReason& reason : judgement.reasons) {
        if (reason.code == code)
            return true;
    }
    return false;
}

QDateTime utcOf(std::time_t when)
{
    return QDateTime::fromSecsSinceEpoch(when, Qt::UTC);
}

} // namespace

TEST(ArchiveTimeStampTest, AValidArchiveStampIsTheBestSignatureTimeWithoutASignatureStamp)
{
    const std::time_t when = std::time(nullptr) - 3600;
    const fx::Bytes message = fx::makeSignedMessage(messageFor({{.cert = icpSigner()}}));
    const SignatureResult signer =
        signerOf(fx::withArchiveTimeStampV2(message, 0, {.tsa = longLivedTsa(), .genTime = when}));
    ASSERT_EQ(signer.archiveTimestamps.size(), 1u);
    EXPECT_TRUE(signer.archiveTimestamps[0].valid) << joined(signer.archiveTimestamps[0].problems);
    EXPECT_EQ(signer.bestSignatureTimeSource, "archive-timestamp");
    EXPECT_EQ(signer.bestSignatureTime, utcOf(when));
    EXPECT_FALSE(hasReason(signer.judgement, "timestamp-invalid"));
    EXPECT_FALSE(hasReason(signer.judgement, "timestamp-untrusted"));
}

// Signers hash what an archive stamp covers in more than one way: one that
// does not match proves nothing, and is told, but accuses nobody.
TEST(ArchiveTimeStampTest, WhatChangedAfterTheArchiveStampLeavesItUnconfirmed)
{
    const std::time_t when = std::time(nullptr) - 3600;
    const fx::Bytes base = fx::makeSignedMessage(messageFor({{.cert = icpSigner()}}));
    const fx::Bytes archived = fx::withArchiveTimeStampV2(
        fx::withTimeStamp(base, 0, {.tsa = longLivedTsa(), .genTime = when}), 0,
        {.tsa = longLivedTsa(), .genTime = when + 60});
    const fx::Cert stranger = icpSigner("ESTRANHO:10987654321", "10987654321");
    // Changes made after stamping, each to something the stamp covers.
    const std::vector<std::pair<const char*, fx::Bytes>> altered = {
        {"a certificate added",
         fx::withUnsignedAttribute(archived, 0, "1.2.3.4", {fx::Bytes("\x05\x00", 2)}, {stranger})},
        {"the stamp moved onto a message without the signature stamp",
         fx::withUnsignedAttribute(base, 0, fx::kArchiveTimeStampV2Oid,
                                   {fx::makeTimeStampToken(fx::archiveCoveredBytes(archived, 0),
                                                           {.tsa = longLivedTsa()})})},
    };
    for (const auto& [what, message] : altered) {
        SCOPED_TRACE(what);
        const SignatureResult signer = signerOf(message);
        ASSERT_FALSE(signer.archiveTimestamps.empty());
        const TimeStampResult& archive = signer.archiveTimestamps.back();
        EXPECT_FALSE(archive.valid);
        const QString unconfirmed = "o carimbo do tempo de arquivamento não pôde ser conferido: "
                                    "não corresponde à assinatura como está gravada";
        EXPECT_TRUE(archive.unconfirmed);
        EXPECT_TRUE(archive.problems.contains(unconfirmed)) << joined(archive.problems);
        EXPECT_TRUE(signer.warnings.contains(unconfirmed)) << joined(signer.warnings);
        EXPECT_NE(signer.bestSignatureTimeSource, "archive-timestamp");
        EXPECT_FALSE(hasReason(signer.judgement, "timestamp-invalid"));
        EXPECT_FALSE(hasReason(signer.judgement, "timestamp-untrusted"));
    }
}

TEST(ContentTimeStampTest, AContentStampIsJudgedLikeASignatureStampButProvesOnlyTheContent)
{
    const std::time_t now = std::time(nullptr);
    const fx::Bytes content = "conteudo de teste";
    // The content is summed under the signer's hash (SHA-256) alone: a
    // stamp under another cannot be checked, which is no forgery.
    struct Row {
        const char* what;
        fx::Bytes stampedBytes;
        fx::Digest imprint;
        std::time_t contentTime;
        const char* reason; // the signer's reason about it, or none
        bool laterWarning;
    };
    const std::time_t signatureTime = now - 3600;
    const std::vector<Row> rows = {
        {"valid, before the signature stamp", content, fx::Digest::Sha256, now - 7200, nullptr,
         false},
        {"over other bytes", "outros bytes", fx::Digest::Sha256, now - 7200, "timestamp-invalid",
         false},
        {"under a hash the content was not summed with", content, fx::Digest::Sha512, now - 7200,
         "timestamp-untrusted", false},
        {"later than the signature stamp", content, fx::Digest::Sha256, now - 600, nullptr, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        fx::MessageSpec spec = messageFor({{.cert = icpSigner()}});
        spec.content = content;
        spec.signers[0].attributes.push_back(fx::contentTimeStampAttribute(
            row.stampedBytes,
            {.tsa = longLivedTsa(), .genTime = row.contentTime, .imprintDigest = row.imprint}));
        const SignatureResult signer = signerOf(fx::withTimeStamp(
            fx::makeSignedMessage(spec), 0, {.tsa = longLivedTsa(), .genTime = signatureTime}));
        ASSERT_TRUE(signer.contentTimestamp.has_value());
        EXPECT_EQ(signer.contentTimestamp->valid, row.reason == nullptr)
            << joined(signer.contentTimestamp->problems);
        EXPECT_EQ(signer.contentTimestamp->genTime, utcOf(row.contentTime));
        EXPECT_EQ(signer.bestSignatureTimeSource, "timestamp") << "it proves only the content";
        EXPECT_EQ(signer.bestSignatureTime, utcOf(signatureTime));
        for (const char* code : {"timestamp-invalid", "timestamp-untrusted"})
            EXPECT_EQ(hasReason(signer.judgement, code),
                      row.reason != nullptr && QString(row.reason) == code)
                << code;
        EXPECT_EQ(signer.warnings.contains("o carimbo do tempo do conteúdo é posterior ao "
                                           "carimbo do tempo da assinatura"),
                  row.laterWarning)
            << joined(signer.warnings);
    }
}
