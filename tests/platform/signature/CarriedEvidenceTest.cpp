// Revocation evidence the signed message carries (OCSP answers among its
// `crls`, CAdES revocation-values and certificate-values), the scope of a
// list, and the age of the evidence at the time it is judged at.

#include "platform/signature/Revocation.h"
#include "tests/support/Fixtures.h"
#include "tests/support/JudgedCertificates.h"
#include "tools/fixtures/CadesFixtures.h"
#include "tools/fixtures/EvidenceFixtures.h"

#include <gtest/gtest.h>

namespace {

using namespace selavia::testing;
namespace verify = selavia::verify;

const fx::Hierarchy& icp()
{
    static const fx::Hierarchy hierarchy = fx::icpBrasilHierarchy();
    return hierarchy;
}

QDateTime utcOf(std::time_t when)
{
    return QDateTime::fromSecsSinceEpoch(when, Qt::UTC);
}

// The message of `signer` (chain carried, or only the root when
// `withIntermediate` is false), changed by `carry`, verified under the
// ICP-like root with `services`; the data outlives the certificate.
std::shared_ptr<sig::SignedData> verified(const fx::Cert& signer,
                                          const std::function<fx::Bytes(fx::Bytes)>& carry,
                                          bool withIntermediate = true,
                                          sig::ValidationServices services = {})
{
    fx::MessageSpec spec = icpMessage(signer);
    if (!withIntermediate)
        spec.extraCertificates = {icp().root};
    auto data = std::make_shared<sig::SignedData>(trustingIcp(), std::move(services));
    data->verify(bytes(carry(fx::makeSignedMessage(spec))));
    return data;
}

verify::CertificateStatus judged(const std::shared_ptr<sig::SignedData>& data, const QDateTime& at,
                                 verify::JudgedAt judgedAt)
{
    return verify::judgeCertificate(data->signers().at(0).certificate(),
                                    sig::CertificateRole::Signer, at, judgedAt);
}

// Carries `crls` and `answers` (DER OCSPResponses) in a revocation-values
// attribute of the first signer.
std::function<fx::Bytes(fx::Bytes)> inRevocationValues(std::vector<std::shared_ptr<X509_CRL>> crls,
                                                       std::vector<fx::Bytes> answers = {})
{
    return [=](fx::Bytes message) {
        std::vector<fx::Bytes> basics;
        for (const fx::Bytes& answer : answers)
            basics.push_back(fx::basicResponseOf(answer));
        return fx::withUnsignedAttribute(message, 0, fx::kRevocationValuesOid,
                                         {fx::revocationValues(crls, basics)});
    };
}

std::function<fx::Bytes(fx::Bytes)> inCrlsField(const fx::Bytes& answer)
{
    return [=](fx::Bytes message) {
        return fx::withOtherRevocationInfo(message, fx::kOcspResponseFormatOid, answer);
    };
}

// The intermediate's own list (good) for the ICP-like root, so that only
// the signer's evidence decides.
fx::Bytes withRootList(fx::Bytes message)
{
    return fx::withUnsignedAttribute(
        message, 0, fx::kRevocationValuesOid,
        {fx::revocationValues({fx::makeCrl({.issuer = &icp().root})}, {})});
}

TEST(CarriedEvidenceTest, OcspAnswersAndListsInTheMessageAnswerOffline)
{
    const fx::Cert signer = icpSigner();
    const std::time_t now = std::time(nullptr);
    const fx::Bytes good = fx::ocspResponseFor(signer, {.issuer = &icp().intermediate});
    const fx::Bytes revoked = fx::ocspResponseFor(signer, {.issuer = &icp().intermediate,
                                                           .status = fx::OcspStatus::Revoked,
                                                           .revocationTime = now - kDay});
    const fx::Bytes forged =
        fx::ocspResponseFor(signer, {.issuer = &icp().intermediate, .responder = &icp().root});
    struct Row {
        const char* what;
        std::function<fx::Bytes(fx::Bytes)> carry;
        sig::RevocationState state;
    };
    const std::vector<Row> rows = {
        {"OCSP answer in crls", inCrlsField(good), sig::RevocationState::Good},
        {"revoking OCSP answer in crls", inCrlsField(revoked), sig::RevocationState::Revoked},
        {"OCSP answer signed by another", inCrlsField(forged), sig::RevocationState::Unknown},
        {"garbage in crls", inCrlsField(fx::Bytes("\x30\x03\x02\x01\x07", 5)),
         sig::RevocationState::Unknown},
        {"list in revocation-values", inRevocationValues({fx::makeCrl(icp().intermediate, {})}),
         sig::RevocationState::Good},
        {"revoking list in revocation-values",
         inRevocationValues({fx::makeCrl(icp().intermediate, {signer})}),
         sig::RevocationState::Revoked},
        {"OCSP answer in revocation-values", inRevocationValues({}, {good}),
         sig::RevocationState::Good},
    };
    for (const Row& row : rows) {
        const auto data = verified(signer, row.carry);
        const verify::CertificateStatus status =
            judged(data, QDateTime::currentDateTimeUtc(), verify::JudgedAt::Check);
        EXPECT_EQ(status.revocation.state, row.state)
            << row.what << ": " << status.revocation.detail.toStdString();
        if (row.state == sig::RevocationState::Unknown)
            continue;
        EXPECT_EQ(status.revocation.source, sig::RevocationSource::Message) << row.what;
        EXPECT_TRUE(status.revocation.thisUpdate.isValid()) << row.what;
        EXPECT_LT(status.revocation.thisUpdate, QDateTime::currentDateTimeUtc()) << row.what;
        EXPECT_GT(status.revocation.nextUpdate, QDateTime::currentDateTimeUtc()) << row.what;
    }
}

TEST(CarriedEvidenceTest, CertificateValuesSupplyAMissingIntermediate)
{
    const fx::Cert signer = icpSigner();
    const auto carry = [](fx::Bytes message) {
        return fx::withUnsignedAttribute(message, 0, fx::kCertificateValuesOid,
                                         {fx::certificateValues({icp().intermediate})});
    };
    const auto without = verified(
        signer, [](fx::Bytes message) { return message; }, false);
    EXPECT_FALSE(judgedNow(without->signers().at(0).certificate()).trusted);
    const auto with = verified(signer, carry, false);
    const verify::CertificateStatus status = judgedNow(with->signers().at(0).certificate());
    EXPECT_TRUE(status.trusted) << joined(status.problems);
    EXPECT_EQ(status.chain.size(), 3u);
}

TEST(CarriedEvidenceTest, AListCountsOnlyForItsPartitionAndReasons)
{
    const fx::Cert signer = fx::issueEndEntity(icp().intermediate, "PARTICIONADO");
    const fx::Cert partitioned = fx::makeCertificate(
        {.subject = {{"CN", "PARTICIONADO"}},
         .issuer = &icp().intermediate,
         .extensions = {{"crlDistributionPoints", "URI:http://ac.example/parte1.crl"}}});
    const auto list = [](std::vector<fx::Cert> revoked, std::string scope) {
        return fx::makeCrl({.issuer = &icp().intermediate,
                            .revoked = std::move(revoked),
                            .extensions = {{"issuingDistributionPoint", "critical," + scope}}});
    };
    struct Row {
        const char* what;
        fx::Cert subject;
        std::shared_ptr<X509_CRL> crl;
        sig::RevocationState state;
    };
    const std::vector<Row> rows = {
        {"its own partition", partitioned, list({}, "fullname:URI:http://ac.example/parte1.crl"),
         sig::RevocationState::Good},
        {"another partition", partitioned, list({}, "fullname:URI:http://ac.example/parte2.crl"),
         sig::RevocationState::Unknown},
        {"another partition listing it", partitioned,
         list({partitioned}, "fullname:URI:http://ac.example/parte2.crl"),
         sig::RevocationState::Unknown},
        {"some reasons, not listed", signer, list({}, "onlysomereasons:keyCompromise"),
         sig::RevocationState::Unknown},
        {"some reasons, listed", signer, list({signer}, "onlysomereasons:keyCompromise"),
         sig::RevocationState::Revoked},
    };
    for (const Row& row : rows) {
        const auto data = verified(row.subject, inRevocationValues({row.crl}));
        const verify::CertificateStatus status = judgedNow(data->signers().at(0).certificate());
        EXPECT_EQ(status.revocation.state, row.state) << row.what;
    }
}

TEST(CarriedEvidenceTest, ACarriedListProvesNothingAfterItWasIssued)
{
    const std::time_t now = std::time(nullptr);
    const fx::Cert signer =
        icpSigner("FULANO:12345678901", "12345678901", now - kYear, now + kYear);
    const std::time_t stamped = now - 10 * kDay;
    const auto list = [&](std::vector<fx::Cert> revoked, std::time_t issued) {
        return fx::makeCrl({.issuer = &icp().intermediate,
                            .revoked = std::move(revoked),
                            .lastUpdate = issued,
                            .nextUpdate = issued + 3 * kDay,
                            .revocationDate = now - 30 * kDay,
                            .reason = 1});
    };
    struct Row {
        const char* what;
        std::shared_ptr<X509_CRL> crl;
        verify::JudgedAt judgedAt;
        QDateTime at;
        bool revoked;
        bool unknown;
    };
    const std::vector<Row> rows = {
        {"issued before the time-stamp", list({}, now - 20 * kDay), verify::JudgedAt::TimeStamp,
         utcOf(stamped), false, true},
        {"issued after the time-stamp", list({}, now - 5 * kDay), verify::JudgedAt::TimeStamp,
         utcOf(stamped), false, false},
        {"issued after, but stale now", list({}, now - 5 * kDay), verify::JudgedAt::Check,
         utcOf(now), false, true},
        {"old, but listing it", list({signer}, now - 20 * kDay), verify::JudgedAt::TimeStamp,
         utcOf(stamped), true, false},
    };
    for (const Row& row : rows) {
        const auto data = verified(signer, [&](fx::Bytes message) {
            return inRevocationValues({row.crl})(withRootList(message));
        });
        const verify::CertificateStatus status = judged(data, row.at, row.judgedAt);
        EXPECT_EQ(status.revoked, row.revoked) << row.what << ": " << joined(status.problems);
        EXPECT_EQ(status.revocationUnknown, row.unknown) << row.what;
        EXPECT_EQ(status.result, !row.revoked) << row.what;
    }
}

// A source that always gives the same answer, asked after the message.
class FixedAnswer : public sig::RevocationProvider {
public:
    explicit FixedAnswer(sig::RevocationStatus status) : status_(std::move(status)) {}
    std::optional<sig::RevocationStatus> check(X509*, X509*) override { return status_; }

private:
    sig::RevocationStatus status_;
};

TEST(CarriedEvidenceTest, TheLatestGoodAnswerIsKeptAndARevocationWins)
{
    const std::time_t now = std::time(nullptr);
    const fx::Cert signer = icpSigner();
    const auto carriedList = inRevocationValues({fx::makeCrl({.issuer = &icp().intermediate,
                                                              .lastUpdate = now - 10 * kDay,
                                                              .nextUpdate = now - 3 * kDay})});
    const auto answer = [&](sig::RevocationState state, std::time_t issued) {
        sig::RevocationStatus status;
        status.state = state;
        status.source = sig::RevocationSource::Cache;
        status.thisUpdate = utcOf(issued);
        status.nextUpdate = utcOf(issued + 7 * kDay);
        return status;
    };
    struct Row {
        const char* what;
        sig::RevocationStatus other;
        sig::RevocationState state;
        sig::RevocationSource source;
    };
    const std::vector<Row> rows = {
        {"an older good answer", answer(sig::RevocationState::Good, now - 20 * kDay),
         sig::RevocationState::Good, sig::RevocationSource::Message},
        {"a current good answer", answer(sig::RevocationState::Good, now - kDay),
         sig::RevocationState::Good, sig::RevocationSource::Cache},
        {"a revocation", answer(sig::RevocationState::Revoked, now - 20 * kDay),
         sig::RevocationState::Revoked, sig::RevocationSource::Cache},
    };
    for (const Row& row : rows) {
        sig::ValidationServices services;
        services.revocation.push_back(std::make_shared<FixedAnswer>(row.other));
        const auto data = verified(signer, carriedList, true, services);
        const sig::CertificatePath path =
            data->signers().at(0).certificate().path(sig::CertificateRole::Signer, {});
        ASSERT_FALSE(path.chain.empty());
        EXPECT_EQ(path.chain.front().revocation.state, row.state) << row.what;
        EXPECT_EQ(path.chain.front().revocation.source, row.source) << row.what;
    }
}

} // namespace
