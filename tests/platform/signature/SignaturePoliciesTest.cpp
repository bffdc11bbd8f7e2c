// ITI's lists of accepted policies and the policies, as the program reads
// its bundled copies: what each list says of each policy, and what each
// policy asks of a signer.

#include "platform/signature/SignaturePolicies.h"

#include <QCryptographicHash>
#include <gtest/gtest.h>

namespace {

namespace pol = selavia::signature::policies;

QByteArray fileNamed(const QString& name)
{
    for (const pol::EmbeddedFile& file : pol::bundledFiles()) {
        if (name == QLatin1String(file.name))
            return QByteArray(reinterpret_cast<const char*>(file.data),
                              static_cast<qsizetype>(file.size));
    }
    return {};
}

QDateTime day(int year, int month, int dayOfMonth)
{
    return QDateTime(QDate(year, month, dayOfMonth), QTime(0, 0), Qt::UTC);
}

const QString kContentType = "1.2.840.113549.1.9.3";
const QString kMessageDigest = "1.2.840.113549.1.9.4";
const QString kSigningCertificate = "1.2.840.113549.1.9.16.2.12";
const QString kSigningCertificateV2 = "1.2.840.113549.1.9.16.2.47";
const QString kPolicyId = "1.2.840.113549.1.9.16.2.15";
const QString kTimeStamp = "1.2.840.113549.1.9.16.2.14";
const QString kRsa = "1.2.840.113549.1.1.1";
const QString kSha256 = "2.16.840.1.101.3.4.2.1";

} // namespace

TEST(PolicyListTest, TheBundledListsHoldEveryPolicyWithItsFileAndRules)
{
    const pol::PolicyCatalogue& catalogue = pol::bundledCatalogue();
    EXPECT_TRUE(catalogue.problems.isEmpty()) << catalogue.problems.join('\n').toStdString();
    EXPECT_EQ(catalogue.nextUpdate, day(2025, 9, 10));
    int cades = 0;
    int pades = 0;
    for (const pol::KnownPolicy& known : catalogue.policies) {
        SCOPED_TRACE(known.listed.oid.toStdString());
        (known.listName == "LPA_CAdES.der" ? cades : pades)++;
        // Each file is the one its list names, and its own OID is the listed one.
        ASSERT_TRUE(known.rules.has_value());
        EXPECT_EQ(known.rules->oid, known.listed.oid);
        EXPECT_EQ(QCryptographicHash::hash(known.document, QCryptographicHash::Sha256),
                  known.listed.digest);
        EXPECT_EQ(known.listed.digestAlgorithmOid, kSha256);
        EXPECT_TRUE(known.rules->mandatedSignedAttributes.contains(kPolicyId));
    }
    EXPECT_EQ(cades, 37); // the list names 37, one file each
    EXPECT_EQ(pades, 14);
}

TEST(PolicyListTest, EachEntryTellsItsPeriodRevocationAndFile)
{
    struct Row {
        QString oid;
        QString file;
        QDateTime notBefore, notAfter, revoked;
        const char* sha256;
    };
    const std::vector<Row> rows = {
        {"2.16.76.1.7.1.1.1",
         "PA_AD_RB.der",
         day(2008, 10, 31),
         day(2014, 12, 31),
         {},
         "b921016bd03a721c61010beaec5341a00406a5cbc2f3800589b9cb1d727df06a"},
        {"2.16.76.1.7.1.1.2.1", "PA_AD_RB_v2_1.der", day(2012, 3, 7), day(2023, 6, 21),
         day(2017, 2, 26), "3259f8a99b35393afadfa681fc381cd1eb6925c68718a8e92f7a658f253d3ba5"},
        {"2.16.76.1.7.1.1.2.3",
         "PA_AD_RB_v2_3.der",
         day(2018, 5, 14),
         day(2029, 3, 2),
         {},
         "e98bc76b0149e632cd639de76682ee72d97f927c255c28b04a3dbcfec632285f"},
        {"2.16.76.1.7.1.5.2.5",
         "PA_AD_RA_v2_5.der",
         day(2025, 6, 12),
         day(2037, 10, 22),
         {},
         "8ddde8e5c65f7e1a8dcf6a6352c2ceb40957d4b79d3cfd8ae5de844a878fc984"},
        {"2.16.76.1.7.1.13.1", "PA_PAdES_AD_RC_v1_0.der", day(2015, 8, 25), day(2029, 3, 2),
         day(2016, 7, 15), "a1cda04a15c7b79f4cb8653647b81c869f51818e7524bc18290fc99b8a7bd4ce"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.oid.toStdString());
        const pol::KnownPolicy* known = pol::bundledCatalogue().find(row.oid);
        ASSERT_NE(known, nullptr);
        EXPECT_EQ(known->listed.uri, "http://politicas.icpbrasil.gov.br/" + row.file);
        EXPECT_EQ(known->listed.notBefore, row.notBefore);
        EXPECT_EQ(known->listed.notAfter, row.notAfter);
        // The revocation instant may carry a time of day; the day is what the table says.
        EXPECT_EQ(known->listed.revoked.isValid(), row.revoked.isValid());
        if (row.revoked.isValid()) {
            EXPECT_EQ(known->listed.revoked.date(), row.revoked.date());
        }
        EXPECT_EQ(known->listed.digest.toHex(), QByteArray(row.sha256));
    }
    EXPECT_EQ(pol::bundledCatalogue().find("2.16.76.1.7.1.1.2.9"), nullptr);
}

TEST(PolicyRulesTest, RulesAreReadAsEachPolicyWritesThem)
{
    struct Row {
        QString oid;
        QStringList signedAttributes;
        QStringList unsignedAttributes;
        std::size_t algorithms;
        pol::CertificateRequirement certificateInfo;
    };
    const QStringList v2 = {kContentType, kMessageDigest, kSigningCertificateV2, kPolicyId};
    const std::vector<Row> rows = {
        {"2.16.76.1.7.1.1.1",
         {kContentType, kMessageDigest, kSigningCertificate, kPolicyId},
         {},
         1,
         pol::CertificateRequirement::None},
        {"2.16.76.1.7.1.1.2.3", v2, {}, 2, pol::CertificateRequirement::SignerOnly},
        {"2.16.76.1.7.1.2.2.3", v2, {kTimeStamp}, 2, pol::CertificateRequirement::SignerOnly},
        {"2.16.76.1.7.1.5.2.5",
         v2,
         {"1.2.840.113549.1.9.16.2.21", "1.2.840.113549.1.9.16.2.22", "1.2.840.113549.1.9.16.2.23",
          "1.2.840.113549.1.9.16.2.24", "1.2.840.113549.1.9.16.2.48"},
         8,
         pol::CertificateRequirement::SignerOnly},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.oid.toStdString());
        const pol::KnownPolicy* known = pol::bundledCatalogue().find(row.oid);
        ASSERT_TRUE(known != nullptr && known->rules.has_value());
        const pol::PolicyRules& rules = *known->rules;
        QStringList signedSorted = rules.mandatedSignedAttributes;
        QStringList expected = row.signedAttributes;
        signedSorted.sort();
        expected.sort();
        EXPECT_EQ(signedSorted, expected);
        EXPECT_EQ(rules.mandatedUnsignedAttributes, row.unsignedAttributes);
        EXPECT_EQ(rules.signerAlgorithms.size(), row.algorithms);
        EXPECT_EQ(rules.mandatedCertificateInfo, row.certificateInfo);
    }
    // AD-RB v2.3: RSA of 2048 bits or more, with SHA-256 or SHA-512.
    const pol::PolicyRules& adRb = *pol::bundledCatalogue().find("2.16.76.1.7.1.1.2.3")->rules;
    ASSERT_EQ(adRb.signerAlgorithms.size(), 2u);
    EXPECT_EQ(adRb.signerAlgorithms[0].algorithmOid, "1.2.840.113549.1.1.11");
    EXPECT_EQ(adRb.signerAlgorithms[0].digestOid, kSha256);
    EXPECT_EQ(adRb.signerAlgorithms[0].keyAlgorithmOid, kRsa);
    EXPECT_EQ(adRb.signerAlgorithms[0].minKeyBits, 2048);
    EXPECT_EQ(adRb.signerAlgorithms[1].digestOid, "2.16.840.1.101.3.4.2.3");
    // AD-RA v2.5 adds ECDSA (256 bits), Ed25519 (256) and Ed448 (456).
    const pol::PolicyRules& adRa = *pol::bundledCatalogue().find("2.16.76.1.7.1.5.2.5")->rules;
    auto minimumFor = [&](const QString& key) {
        for (const pol::AlgorithmConstraint& constraint : adRa.signerAlgorithms) {
            if (constraint.keyAlgorithmOid == key)
                return constraint.minKeyBits;
        }
        return -1;
    };
    EXPECT_EQ(minimumFor("1.2.840.10045.2.1"), 256);
    EXPECT_EQ(minimumFor("1.3.101.112"), 256);
    EXPECT_EQ(minimumFor("1.3.101.113"), 456);
}

TEST(PolicyListTest, AFileThatIsNotTheOneListedIsNotUsed)
{
    std::vector<std::pair<QString, QByteArray>> lists = {
        {"LPA_CAdES.der", fileNamed("LPA_CAdES.der")}};
    const QString tamperedName = "PA_AD_RB_v2_3.der";
    const pol::PolicyCatalogue catalogue = pol::catalogueOf(lists, [&](const QString& name) {
        QByteArray file = fileNamed(name);
        if (name == tamperedName)
            file[file.size() / 2] = static_cast<char>(file[file.size() / 2] ^ 0x01);
        return file;
    });
    ASSERT_EQ(catalogue.policies.size(), 37u);
    const pol::KnownPolicy* tampered = catalogue.find("2.16.76.1.7.1.1.2.3");
    ASSERT_NE(tampered, nullptr);
    EXPECT_FALSE(tampered->rules.has_value());
    EXPECT_TRUE(tampered->document.isEmpty());
    EXPECT_EQ(tampered->listed.notBefore, day(2018, 5, 14)) << "the list still says its period";
    const pol::KnownPolicy* untouched = catalogue.find("2.16.76.1.7.1.2.2.3");
    ASSERT_NE(untouched, nullptr);
    EXPECT_TRUE(untouched->rules.has_value());
    // Without its files, a list still lists.
    const pol::PolicyCatalogue bare = pol::catalogueOf(lists, {});
    EXPECT_EQ(bare.policies.size(), 37u);
    EXPECT_FALSE(bare.find("2.16.76.1.7.1.2.2.3")->rules.has_value());
}

TEST(PolicyListTest, DamagedListsAndPoliciesAreRefusedWithoutHarm)
{
    for (const QString& name : {QString("LPA_PAdES.der"), QString("PA_AD_RB_v2_1.der")}) {
        SCOPED_TRACE(name.toStdString());
        const QByteArray whole = fileNamed(name);
        const bool isList = name.startsWith("LPA_");
        auto reads = [&](QByteArrayView der) {
            return isList ? pol::parsePolicyList(der).has_value()
                          : pol::parsePolicy(der).has_value();
        };
        ASSERT_TRUE(reads(whole));
        // Every truncation, and the whole with a byte more, is not a file of the kind.
        for (qsizetype length = 0; length < whole.size(); ++length)
            ASSERT_FALSE(reads(QByteArrayView(whole).first(length))) << length;
        EXPECT_FALSE(reads(whole + '\0'));
        // A length octet claiming more than there is anywhere inside.
        for (qsizetype at = 0; at < std::min<qsizetype>(whole.size(), 400); ++at) {
            QByteArray damaged = whole;
            damaged[at] = static_cast<char>(0x84);
            reads(damaged); // must not crash; the outcome depends on the byte
        }
    }
    const pol::PolicyCatalogue unreadable =
        pol::catalogueOf({{"LPA_CAdES.der", QByteArray("\x30\x03\x02\x01\x00", 5)}}, {});
    EXPECT_TRUE(unreadable.policies.empty());
    EXPECT_EQ(unreadable.problems, QStringList{"lista de políticas ilegível: LPA_CAdES.der"});
}

TEST(PolicyDigestTest, TheNamedHashIsComputedAndAnUnknownOneGivesNothing)
{
    EXPECT_EQ(pol::digestOf(kSha256, "abc").toHex(),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(pol::digestOf("1.3.14.3.2.26", "abc").toHex(),
              "a9993e364706816aba3e25717850c26c9cd0d89d");
    EXPECT_TRUE(pol::digestOf("1.2.3.4", "abc").isEmpty());
    EXPECT_TRUE(pol::digestOf(kRsa, "abc").isEmpty()) << "a key algorithm is no hash";
}
