// ITI's current list of policies fetched from a server of the test's own,
// its detached signature verified under roots the test names ICP-Brasil's,
// cached, and judged with in place of the stale bundled list.

#include "platform/revocation/Cache.h"
#include "tests/support/HttpTestServer.h"
#include "tests/support/VerifyFixtures.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>

namespace {

using namespace selavia::testing;
namespace rev = selavia::revocation;
namespace verify = selavia::verify;
namespace pol = selavia::signature::policies;

const QString kAdRb23 = QStringLiteral("2.16.76.1.7.1.1.2.3");
const QString kBundledExpired = QStringLiteral("lista de políticas expirada em 10/09/2025");

std::string tlv(unsigned char tag, const std::string& content)
{
    std::string out(1, char(tag));
    const std::size_t size = content.size();
    if (size < 0x80) {
        out += char(size);
    } else {
        std::string length;
        for (std::size_t rest = size; rest > 0; rest >>= 8)
            length.insert(length.begin(), char(rest & 0xff));
        out += char(0x80 | length.size());
        out += length;
    }
    return out + content;
}

std::string oidDer(const QString& dotted)
{
    const QStringList arcs = dotted.split('.');
    std::string body(1, char(arcs[0].toInt() * 40 + arcs[1].toInt()));
    for (qsizetype i = 2; i < arcs.size(); ++i) {
        std::string arc;
        for (unsigned value = arcs[i].toUInt(), high = 0; value > 0 || arc.empty();
             value >>= 7, high = 0x80)
            arc.insert(arc.begin(), char((value & 0x7f) | high));
        body += arc;
    }
    return tlv(0x06, body);
}

std::string timeDer(const QDateTime& time)
{
    return tlv(0x18, time.toUTC().toString("yyyyMMddHHmmss'Z'").toStdString());
}

// A list of one policy, copied from the bundled entry, with `nextUpdate`.
std::string listDer(const QDateTime& nextUpdate)
{
    const pol::ListedPolicy& entry = pol::bundledCatalogue().find(kAdRb23)->listed;
    std::string period = timeDer(entry.notBefore);
    if (entry.notAfter.isValid())
        period += timeDer(entry.notAfter);
    const std::string digest = tlv(0x30, tlv(0x30, oidDer(entry.digestAlgorithmOid)) +
                                             tlv(0x04, entry.digest.toStdString()));
    const std::string info = tlv(0x30, tlv(0x30, period) + oidDer(entry.oid) +
                                           tlv(0x16, entry.uri.toStdString()) + digest);
    return tlv(0x30, tlv(0x30, info) + timeDer(nextUpdate));
}

// A detached signature over `signed` by `signer`, its chain carried.
std::string detachedSignature(const std::string& signedBytes, const fx::Cert& signer,
                              const fx::Cert& authority)
{
    fx::MessageSpec message;
    message.content = signedBytes;
    message.detached = true;
    message.signers = {{.cert = signer}};
    message.extraCertificates = {authority};
    return fx::makeSignedMessage(message);
}

const QDateTime kLater(QDate(2030, 1, 1), QTime(0, 0), Qt::UTC);

class PolicyListFetchTest : public ::testing::Test {
public: // the table below serves through the fixture
    void SetUp() override
    {
        ASSERT_TRUE(cache_.isValid());
        settings_.cacheFolder = cache_.filePath("selavia");
        settings_.cacheKeyFile = cache_.filePath("dados/cache-key");
        settings_.requestTimeoutMs = 400;
        settings_.documentBudgetMs = 4000;
        settings_.policyBaseUrl = QByteArray::fromStdString(server_.url(""));
    }

    void serve(const std::string& list, const std::string& signature)
    {
        server_.route(prefix_ + "/LPA_CAdES.der", HttpReply{.body = list});
        server_.route(prefix_ + "/LPA_CAdES.p7s", HttpReply{.body = signature});
    }

    // Serves at another address: a list that could not be had is not asked
    // for again at the same one in this process.
    void moveTo(const std::string& prefix)
    {
        prefix_ = prefix;
        settings_.policyBaseUrl = QByteArray::fromStdString(server_.url(prefix));
    }

    void serveSignedBy(const fx::Cert& signer, const fx::Cert& authority)
    {
        const std::string list = listDer(kLater);
        serve(list, detachedSignature(list, signer, authority));
    }

    // The one signer's policy warnings in a fresh load of an AD-RB v2.3
    // signature of the ICP-like hierarchy.
    QStringList policyWarnings(bool offline = false)
    {
        rev::Settings settings = settings_;
        settings.offline = offline;
        fx::MessageSpec message = icpMessage(icpSigner());
        message.signers[0].attributes = {bundledPolicyAttribute(kAdRb23)};
        const QString path = QDir(cache_.path()).filePath("documento.p7s");
        fx::writeFile(path.toStdString(), fx::makeSignedMessage(message));
        verify::LoadOptions options(trustingIcp(), settings);
        options.policyListRoots = trustingIcp();
        const verify::ValidationResult document =
            verify::Verification(options).readFile(path).run();
        EXPECT_TRUE(document.verified());
        if (document.signers.empty() || !document.signers[0].policy)
            return {QStringLiteral("sem política")};
        return document.signers[0].policy->warnings;
    }

    HttpTestServer server_;
    QTemporaryDir cache_;
    rev::Settings settings_;
    std::string prefix_;
};

TEST_F(PolicyListFetchTest, AVerifiedNewerListReplacesTheBundledOneThenTheCacheAnswers)
{
    const fx::Hierarchy& icp = fx::icpBrasilHierarchy();
    serveSignedBy(icpSigner("AUTORIDADE DE POLITICAS"), icp.intermediate);
    EXPECT_EQ(policyWarnings(), QStringList{});
    EXPECT_EQ(server_.count("/LPA_CAdES.der"), 1);
    EXPECT_EQ(server_.count("/LPA_CAdES.p7s"), 1);

    // Kept beside its signature: the next load, offline or not, asks no one.
    server_.stop();
    EXPECT_EQ(policyWarnings(), QStringList{});
    EXPECT_EQ(policyWarnings(true), QStringList{});
}

TEST_F(PolicyListFetchTest, ACachedListPastItsNextUpdateIsFetchedAgainOnline)
{
    // Newer than the bundled list, yet already stale itself.
    const QDateTime stale(QDate(2026, 1, 1), QTime(0, 0), Qt::UTC);
    const fx::Cert authority = icpSigner("AUTORIDADE DE POLITICAS");
    const fx::Cert& intermediate = fx::icpBrasilHierarchy().intermediate;
    serve(listDer(stale), detachedSignature(listDer(stale), authority, intermediate));
    const QStringList staleWarning{QStringLiteral("lista de políticas expirada em 01/01/2026")};
    EXPECT_EQ(policyWarnings(), staleWarning);
    EXPECT_EQ(policyWarnings(true), staleWarning) << "offline, the cached list stands";
    EXPECT_EQ(server_.count("/LPA_CAdES.der"), 1);

    serveSignedBy(authority, intermediate);
    EXPECT_EQ(policyWarnings(), QStringList{});
    EXPECT_EQ(server_.count("/LPA_CAdES.der"), 2);
}

// Lists the bundled one is kept over; its warning stays.
struct RefusedCase {
    const char* name;
    std::function<void(PolicyListFetchTest&)> serve;
    // A list that verifies but is not newer is kept and asked for again
    // when stale; one that does not verify is not asked for twice.
    int requestsAfterTwoLoads = 1;
};

TEST_F(PolicyListFetchTest, AListThatDoesNotVerifyOrIsNotNewerIsNotUsed)
{
    const fx::Hierarchy& icp = fx::icpBrasilHierarchy();
    const fx::Hierarchy& foreign = fx::foreignHierarchy();
    const fx::Cert icpAuthority = icpSigner("AUTORIDADE DE POLITICAS");
    const RefusedCase cases[] = {
        {"no signature",
         [&](PolicyListFetchTest& test) {
             test.server_.route(test.prefix_ + "/LPA_CAdES.der",
                                HttpReply{.body = listDer(kLater)});
         }},
        {"untrusted signer",
         [&](PolicyListFetchTest& test) {
             test.serveSignedBy(fx::issueEndEntity(foreign.intermediate, "OUTRA"),
                                foreign.intermediate);
         }},
        {"signature over other bytes",
         [&](PolicyListFetchTest& test) {
             test.serve(listDer(kLater), detachedSignature(listDer(kLater.addDays(1)), icpAuthority,
                                                           icp.intermediate));
         }},
        {"not a list",
         [&](PolicyListFetchTest& test) {
             const std::string junk = tlv(0x30, tlv(0x02, "\x01"));
             test.serve(junk, detachedSignature(junk, icpAuthority, icp.intermediate));
         }},
        {"not newer",
         [&](PolicyListFetchTest& test) {
             const std::string old = listDer(QDateTime(QDate(2025, 9, 10), QTime(0, 0), Qt::UTC));
             test.serve(old, detachedSignature(old, icpAuthority, icp.intermediate));
         },
         2},
    };
    int n = 0;
    for (const RefusedCase& row : cases) {
        SCOPED_TRACE(row.name);
        std::filesystem::remove_all(QFile::encodeName(settings_.cacheFolder).toStdString());
        moveTo("/caso" + std::to_string(++n));
        row.serve(*this);
        EXPECT_EQ(policyWarnings(), QStringList{kBundledExpired});
        EXPECT_EQ(server_.count(prefix_ + "/LPA_CAdES.der"), 1) << "asked for the current list";
        EXPECT_EQ(policyWarnings(), QStringList{kBundledExpired});
        EXPECT_EQ(server_.count(prefix_ + "/LPA_CAdES.der"), row.requestsAfterTwoLoads);
    }
}

TEST_F(PolicyListFetchTest, OfflineNothingIsFetchedThoughTheListIsThere)
{
    serveSignedBy(icpSigner("AUTORIDADE DE POLITICAS"), fx::icpBrasilHierarchy().intermediate);
    EXPECT_EQ(policyWarnings(true), QStringList{kBundledExpired});
    EXPECT_EQ(server_.total(), 0);
    EXPECT_EQ(policyWarnings(), QStringList{});
}

} // namespace
