#include "platform/signature/SignedData.h"

#include "platform/signature/SignatureError.h"
#include "tests/support/Fixtures.h"
#include "tests/support/JudgedCertificates.h"
#include "tools/hostile/HostileInputs.h"

#include <QCryptographicHash>
#include <QProcess>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <algorithm>
#include <cstring>
#include <gtest/gtest.h>

using namespace selavia::testing;
namespace code = selavia::signature::code;
namespace hostile = selavia::hostile;

namespace {

// The signer's message in another encoding.
fx::MessageSpec encodedAs(fx::MessageSpec spec, fx::Encoding encoding)
{
    spec.encoding = encoding;
    return spec;
}

fx::Cert holder(std::time_t notBefore = 0, std::time_t notAfter = 0)
{
    return icpSigner("FULANO DE TAL:12345678901", "12345678901", notBefore, notAfter);
}

// The code of the SignatureError that `verify` raises, or 0.
std::uint32_t codeOf(const std::function<void(sig::SignedData&)>& verify, sig::TrustStore store)
{
    sig::SignedData data(std::move(store));
    try {
        verify(data);
    } catch (const sig::SignatureError& error) {
        EXPECT_FALSE(data.isVerified());
        EXPECT_FALSE(error.description().isEmpty());
        return error.code();
    }
    return 0;
}

// The message as a file on disk, for the path that reads from the file.
class MessageFile {
public:
    explicit MessageFile(const fx::Bytes& message)
    {
        EXPECT_TRUE(file_.open());
        file_.write(message.data(), static_cast<qint64>(message.size()));
        file_.flush();
    }
    sig::FileInput input() { return sig::FileInput(file_.handle(), file_.size()); }

private:
    QTemporaryFile file_;
};

// Verifies from memory and from a file; both paths must agree on the code.
std::uint32_t verifyCode(const fx::Bytes& message, sig::TrustStore store = sig::TrustStore::empty())
{
    const std::uint32_t inMemory =
        codeOf([&](sig::SignedData& data) { data.verify(bytes(message)); }, store);
    MessageFile file(message);
    sig::FileInput input = file.input();
    const std::uint32_t fromFile =
        codeOf([&](sig::SignedData& data) { data.verify(input); }, store);
    EXPECT_EQ(inMemory, fromFile) << "the two paths disagree";
    return inMemory;
}

// A message verified through the file path, checked against the memory
// path, with the content as the verifying read handed it over.
struct Verified {
    std::unique_ptr<sig::SignedData> data;
    QByteArray content;
    sig::SignedData* operator->() const { return data.get(); }
};

Verified verified(const fx::Bytes& message, sig::TrustStore store = sig::TrustStore::empty())
{
    QByteArray inMemoryContent;
    sig::SignedData inMemory(store);
    inMemory.verify(bytes(message), {{}, [&](QByteArrayView b) { inMemoryContent += b; }});
    Verified result{std::make_unique<sig::SignedData>(store), {}};
    MessageFile file(message);
    sig::FileInput input = file.input();
    result.data->verify(input, {{}, [&](QByteArrayView b) { result.content += b; }});
    EXPECT_EQ(result.content, inMemoryContent);
    EXPECT_EQ(result.data->contentSha256(), inMemory.contentSha256());
    EXPECT_EQ(result.data->contentSha256(),
              QCryptographicHash::hash(result.content, QCryptographicHash::Sha256));
    EXPECT_EQ(result.data->contentSize(), result.content.size());
    EXPECT_EQ(result.data->signers().size(), inMemory.signers().size());
    return result;
}

} // namespace

TEST(SignatureErrorTest, CodesAreComparedAsSignedDecimalText)
{
    EXPECT_EQ(sig::signedDecimalText(code::kHashMismatch), "-2146889721");
    EXPECT_EQ(sig::signedDecimalText(code::kNotSignedData), "-2146881269");
    EXPECT_EQ(sig::signedDecimalText(code::kBadSignature), "-2138570159");
    EXPECT_EQ(sig::SignatureError::of(code::kDetachedContent).codeText(),
              sig::signedDecimalText(code::kDetachedContent));
}

TEST(VerifyFailureTest, EachFaultOfASignedMessageHasItsOwnCode)
{
    const fx::MessageSpec spec = icpMessage(holder());
    const fx::Bytes message = fx::makeSignedMessage(spec);
    const fx::MessageSpec rsa = icpMessage(fx::issueEndEntity(
        fx::icpBrasilHierarchy().intermediate, "RSA:1", {}, 0, 0, fx::KeyType::Rsa2048));
    // Without signed attributes any change breaks the signature itself.
    fx::MessageSpec bare = spec;
    bare.signers[0].signedAttributes = false;
    const fx::Bytes bareMessage = fx::makeSignedMessage(bare);
    fx::MessageSpec detached = spec;
    detached.detached = true;
    fx::MessageSpec withoutCertificate = spec;
    withoutCertificate.signers[0].includeCertificate = false;
    fx::MessageSpec unsigned_;
    unsigned_.content = "conteudo sem assinatura";
    const std::vector<std::tuple<const char*, fx::Bytes, std::uint32_t>> cases = {
        {"content changed", fx::tamperContent(message, spec.content), code::kHashMismatch},
        {"signature changed", fx::tamperSignature(message), code::kBadSignature},
        {"RSA signature changed", fx::tamperSignature(fx::makeSignedMessage(rsa)),
         code::kBadSignature},
        {"no signed attributes", bareMessage, 0},
        {"no signed attributes, content changed", fx::tamperContent(bareMessage, spec.content),
         code::kBadSignature},
        {"no signed attributes, signature changed", fx::tamperSignature(bareMessage),
         code::kBadSignature},
        {"detached", fx::makeSignedMessage(detached), code::kDetachedContent},
        {"without the signer's certificate", fx::makeSignedMessage(withoutCertificate),
         code::kSignerCertificateMissing},
        {"without signers", fx::makeSignedMessage(unsigned_), code::kNoSigners},
    };
    for (const auto& [name, input, expected] : cases)
        EXPECT_EQ(verifyCode(input), expected) << name;
}

TEST(VerifyFailureTest, BytesThatAreNoSignedMessageAreRejectedAsSuch)
{
    fx::Bytes good = fx::makeSignedMessage(icpMessage(holder()));
    const std::vector<std::pair<const char*, fx::Bytes>> cases = {
        {"empty", ""},
        {"random bytes", fx::Bytes("\x8a\x11\xf0\x93\x00\x42\x99\xee\x10\x07", 10)},
        {"a PDF", "%PDF-1.4\n1 0 obj << /Type /Catalog >> endobj\n%%EOF\n"},
        {"plain text", "contrato de aluguel"},
        {"truncated", fx::truncate(good, good.size() / 2)},
        {"only the first byte", fx::truncate(good, 1)},
        {"a certificate", holder().der()},
        {"PEM of another type", holder().pem()},
        {"Base64 of garbage", "QUJDREVGRw=="},
    };
    for (const auto& [name, input] : cases)
        EXPECT_EQ(verifyCode(input), code::kNotSignedData) << name;
}

TEST(VerifyFailureTest, ContentIsRefusedBeforeAndAfterAFailedVerify)
{
    sig::SignedData data(sig::TrustStore::empty());
    EXPECT_THROW((void)data.contentSha256(), sig::SignatureError);
    data.verify(bytes(fx::makeSignedMessage(icpMessage(holder()))));
    EXPECT_TRUE(data.isVerified());
    EXPECT_THROW(data.verify(QByteArray("nada")), sig::SignatureError);
    EXPECT_FALSE(data.isVerified());
    EXPECT_THROW((void)data.signers(), sig::SignatureError);
}

TEST(InputFormTest, EveryAcceptedFormGivesTheSameContent)
{
    const std::vector<std::pair<fx::Encoding, sig::InputForm>> forms = {
        {fx::Encoding::Der, sig::InputForm::Der},
        {fx::Encoding::BerIndefinite, sig::InputForm::Der},
        {fx::Encoding::PemPkcs7, sig::InputForm::Pem},
        {fx::Encoding::PemCms, sig::InputForm::Pem},
        {fx::Encoding::Base64, sig::InputForm::Base64},
        {fx::Encoding::Base64Lines, sig::InputForm::Base64},
    };
    fx::Cert signer = holder();
    for (const auto& [encoding, form] : forms) {
        fx::MessageSpec spec = encodedAs(icpMessage(signer), encoding);
        Verified data = verified(fx::makeSignedMessage(spec));
        EXPECT_EQ(data.content, bytes(spec.content)) << static_cast<int>(encoding);
        EXPECT_EQ(data->inputForm(), form) << static_cast<int>(encoding);
        ASSERT_EQ(data->signers().size(), 1u);
    }
}

TEST(InputFormTest, BerIndefiniteLengthMessageStillDetectsTampering)
{
    fx::MessageSpec spec = encodedAs(icpMessage(holder()), fx::Encoding::BerIndefinite);
    spec.content = std::string(100000, 'x') + "fim";
    fx::Bytes message = fx::makeSignedMessage(spec);
    EXPECT_EQ(verifyCode(message), 0u);
    EXPECT_EQ(verifyCode(fx::tamperContent(message, "fim")), code::kHashMismatch);
}

TEST(SignerTest, SignersComeInMessageOrderWithTheirOwnCertificates)
{
    fx::Cert first = holder();
    fx::Cert second = fx::issueEndEntity(fx::foreignHierarchy().intermediate, "Second Signer");
    fx::MessageSpec spec = icpMessage(first);
    spec.signers.push_back({.cert = second, .digest = fx::Digest::Sha512});
    spec.signers[0].digest = fx::Digest::Sha1;
    Verified data = verified(fx::makeSignedMessage(spec));
    ASSERT_EQ(data->signers().size(), 2u);
    EXPECT_EQ(data->signers()[0].certificate().der(), bytes(first.der()));
    EXPECT_EQ(data->signers()[1].certificate().der(), bytes(second.der()));
}

// The values of the only signer's attributes named `name`, in message order.
QVariantList valuesOf(const fx::MessageSpec& spec, sig::AttributeName name)
{
    Verified data = verified(fx::makeSignedMessage(spec));
    QVariantList values;
    for (const auto& attribute : data->signers()[0].authenticatedAttributes()) {
        if (attribute.name == name)
            values << attribute.value;
    }
    return values;
}

fx::MessageSpec withAttributes(std::vector<fx::AttributeSpec> attributes, bool signingTime = true)
{
    fx::MessageSpec spec = icpMessage(holder());
    if (!signingTime)
        spec.signers[0].signingTime.reset();
    spec.signers[0].attributes = std::move(attributes);
    return spec;
}

TEST(SignerTest, TextAttributesAreDecodedInEveryEncodingSigningToolsWrite)
{
    for (fx::TextEncoding encoding : {fx::TextEncoding::Utf16LeOctets, fx::TextEncoding::Utf8String,
                                      fx::TextEncoding::BmpString, fx::TextEncoding::Utf8Octets}) {
        SCOPED_TRACE(static_cast<int>(encoding));
        EXPECT_EQ(
            valuesOf(withAttributes({fx::documentNameAttribute("contratação-2026.pdf", encoding)}),
                     sig::AttributeName::DocumentName),
            QVariantList{QStringLiteral("contratação-2026.pdf")});
    }
    for (fx::TextEncoding ascii :
         {fx::TextEncoding::PrintableString, fx::TextEncoding::Ia5String}) {
        EXPECT_EQ(
            valuesOf(withAttributes({fx::documentDescriptionAttribute("CARIMBO LOCAL", ascii)}),
                     sig::AttributeName::DocumentDescription),
            QVariantList{QStringLiteral("CARIMBO LOCAL")});
    }
}

TEST(SignerTest, SigningTimeIsReadFromUtcTimeAndGeneralizedTimeAndOnlyWhenThere)
{
    for (bool generalized : {false, true}) {
        const auto spec = withAttributes(
            {fx::signingTimeAttribute(fx::utc(2026, 12, 6, 21, 5, 9), generalized)}, false);
        EXPECT_EQ(valuesOf(spec, sig::AttributeName::SigningTime),
                  QVariantList{QDateTime(QDate(2026, 12, 6), QTime(21, 5, 9), Qt::UTC)})
            << "generalized=" << generalized;
    }
    EXPECT_TRUE(valuesOf(withAttributes({fx::documentNameAttribute("x.pdf")}, false),
                         sig::AttributeName::SigningTime)
                    .isEmpty());
}

TEST(SignerTest, ARepeatedAttributeIsListedEveryTimeInMessageOrder)
{
    // DER sorts the set by encoding: the shorter value comes first.
    EXPECT_EQ(valuesOf(withAttributes({fx::documentNameAttribute("segundo-nome.pdf"),
                                       fx::documentNameAttribute("a.pdf")}),
                       sig::AttributeName::DocumentName),
              (QVariantList{QStringLiteral("a.pdf"), QStringLiteral("segundo-nome.pdf")}));
}

TEST(ChainTest, ChainRunsFromTheSignerTowardsTheRoot)
{
    const fx::Hierarchy& icp = fx::icpBrasilHierarchy();
    fx::Cert signer = holder();
    Verified data = verified(fx::makeSignedMessage(icpMessage(signer)), storeTrusting({&icp.root}));
    const sig::Signer& first = data->signers()[0];
    const sig::CertificateCollection& attached = first.chain().certificates();
    ASSERT_EQ(attached.count(), 3);
    EXPECT_EQ(attached.item(0).der(), bytes(signer.der()));
    EXPECT_EQ(attached.item(1).der(), bytes(icp.intermediate.der()));
    EXPECT_EQ(attached.item(2).der(), bytes(icp.root.der()));

    sig::Chain rebuilt;
    EXPECT_TRUE(rebuilt.build(first.certificate()));
    EXPECT_EQ(rebuilt.certificates().count(), 3);
}

TEST(ChainTest, AnUntrustedChainBuildsAsFarAsItCan)
{
    const fx::Hierarchy& icp = fx::icpBrasilHierarchy();
    fx::MessageSpec spec = icpMessage(holder());
    spec.extraCertificates = {icp.intermediate}; // the root is neither sent nor trusted
    Verified data = verified(fx::makeSignedMessage(spec));
    sig::Chain chain;
    EXPECT_FALSE(chain.build(data->signers()[0].certificate()));
    ASSERT_EQ(chain.certificates().count(), 2);
    EXPECT_EQ(chain.certificates().item(1).der(), bytes(icp.intermediate.der()));

    Verified withRoot = verified(fx::makeSignedMessage(icpMessage(holder())));
    sig::Chain untrusted;
    EXPECT_FALSE(untrusted.build(withRoot->signers()[0].certificate()));
    EXPECT_EQ(untrusted.certificates().count(), 3);
}

TEST(FindTest, SubjectNameSearchIgnoresCaseAndMatchesSuffixedNames)
{
    Verified data = verified(fx::makeSignedMessage(icpMessage(holder())));
    const sig::CertificateCollection& chain = data->signers()[0].chain().certificates();
    auto found = chain.find(sig::FindType::SubjectName,
                            QStringLiteral("autoridade certificadora RAIZ brasileira"), false);
    ASSERT_EQ(found.count(), 1);
    EXPECT_EQ(found.item(0).getInfo(sig::CertificateInfo::SubjectSimpleName),
              "Autoridade Certificadora Raiz Brasileira v5");
    EXPECT_EQ(chain.find(sig::FindType::SubjectName, "raiz brasileira V5", false).count(), 1);
    EXPECT_EQ(chain.find(sig::FindType::SubjectName, "Raiz Brasileira v6", false).count(), 0);
    EXPECT_EQ(sig::CertificateCollection().find(sig::FindType::SubjectName, "x", false).count(), 0);
    // validOnly keeps nothing when nothing is trusted
    EXPECT_EQ(chain.find(sig::FindType::SubjectName, "Autoridade", true).count(), 0);
}

TEST(ValidityTest, ValidityFollowsTrustPeriodAndEmbeddedCrls)
{
    const fx::Hierarchy& icp = fx::icpBrasilHierarchy();
    const std::time_t now = std::time(nullptr);
    auto validity = [&](const fx::MessageSpec& spec, bool trustRoot) {
        Verified data = verified(fx::makeSignedMessage(spec),
                                 trustRoot ? storeTrusting({&icp.root}) : sig::TrustStore::empty());
        return judgedNow(data->signers()[0].certificate());
    };
    EXPECT_TRUE(validity(icpMessage(holder()), true).result);

    selavia::verify::CertificateStatus untrusted = validity(icpMessage(holder()), false);
    EXPECT_FALSE(untrusted.result);
    EXPECT_FALSE(untrusted.problems.isEmpty());

    EXPECT_FALSE(validity(icpMessage(holder(now - 30 * kDay, now - kDay)), true).result)
        << "expired";
    EXPECT_FALSE(validity(icpMessage(holder(now + kDay, now + 30 * kDay)), true).result)
        << "not yet valid";

    fx::Cert revoked = holder();
    fx::MessageSpec withCrl = icpMessage(revoked);
    withCrl.crls = {fx::makeCrl(icp.intermediate, {revoked})};
    selavia::verify::CertificateStatus status = validity(withCrl, true);
    EXPECT_FALSE(status.result);
    EXPECT_TRUE(status.problems.join(' ').contains("revogado"))
        << status.problems.join(' ').toStdString();

    fx::MessageSpec otherRevoked = icpMessage(holder());
    otherRevoked.crls = {fx::makeCrl(icp.intermediate, {holder()})};
    EXPECT_TRUE(validity(otherRevoked, true).result) << "a CRL that does not list it";
}

TEST(CertificateTest, SerialAndThumbprintMatchTheOpensslCommand)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    for (long serial : {1L, 0x80L, 0x0102030405L}) {
        fx::CertSpec spec;
        spec.subject = {{"CN", "Serial Test"}};
        spec.serial = serial;
        fx::Cert raw = fx::makeCertificate(spec);
        const QString path = dir.filePath(QStringLiteral("c%1.pem").arg(serial));
        fx::writeFile(path.toStdString(), raw.pem());
        QProcess openssl;
        openssl.start("openssl",
                      {"x509", "-in", path, "-noout", "-serial", "-fingerprint", "-sha1"});
        ASSERT_TRUE(openssl.waitForFinished(10000));
        const QString output = QString::fromLatin1(openssl.readAllStandardOutput());
        const QString expectedSerial = output.section("serial=", 1).section('\n', 0, 0).trimmed();
        const QString expectedThumb =
            output.section("Fingerprint=", 1).section('\n', 0, 0).remove(':').trimmed();

        Verified data = verified(fx::makeSignedMessage(icpMessage(raw)));
        const sig::Certificate& certificate = data->signers()[0].certificate();
        EXPECT_EQ(certificate.serialNumber(), expectedSerial);
        EXPECT_EQ(certificate.thumbprint(), expectedThumb);
        EXPECT_EQ(certificate.version(), 3);
    }
}

// What `info` says of a certificate made as described, read back from a message it signed.
QString infoOf(const fx::CertSpec& spec, sig::CertificateInfo info)
{
    Verified data = verified(fx::makeSignedMessage(icpMessage(fx::makeCertificate(spec))));
    return data->signers()[0].certificate().getInfo(info);
}

TEST(CertificateTest, SimpleNameFallsBackFromCommonNameToUnitOrganisationAndEmail)
{
    const std::vector<std::pair<std::vector<std::pair<std::string, std::string>>, QString>> cases =
        {
            {{{"O", "Org"}, {"OU", "Unidade"}, {"CN", "Nome Comum"}}, "Nome Comum"},
            {{{"O", "Org"}, {"OU", "Unidade"}}, "Unidade"},
            {{{"C", "BR"}, {"O", "Org"}}, "Org"},
            {{{"emailAddress", "so@example.com"}}, "so@example.com"},
        };
    for (const auto& [subject, expected] : cases) {
        fx::CertSpec spec;
        spec.subject = subject;
        EXPECT_EQ(infoOf(spec, sig::CertificateInfo::SubjectSimpleName), expected);
    }
}

TEST(CertificateTest, EmailComesFromTheAlternativeNameThenTheSubject)
{
    constexpr auto kEmail = sig::CertificateInfo::SubjectEmail;
    fx::CertSpec spec;
    spec.subject = {{"CN", "A"}, {"emailAddress", "subject@example.com"}};
    EXPECT_EQ(infoOf(spec, kEmail), "subject@example.com");
    spec.san = {fx::icpPersonal("01011990", "11122233344"), fx::SanEntry::email("san@example.com"),
                fx::SanEntry::email("second@example.com")};
    EXPECT_EQ(infoOf(spec, kEmail), "san@example.com");
    spec.subject = {{"CN", "B"}};
    spec.san = {fx::SanEntry::dns("example.com")};
    EXPECT_EQ(infoOf(spec, kEmail), "");
}

TEST(CertificateTest, SubjectAlternativeNameIsExtensionTwelveWithItsDerInBase64)
{
    fx::Cert signer = holder();
    Verified data = verified(fx::makeSignedMessage(icpMessage(signer)));
    int alternativeNames = 0;
    for (const sig::Extension& extension : data->signers()[0].certificate().extensions()) {
        if (extension.name != sig::OidName::SubjectAltName)
            continue;
        ++alternativeNames;
        EXPECT_EQ(extension.oid, "2.5.29.17");
        QByteArray der = sig::utilities::base64Decode(extension.encodedBase64());
        EXPECT_EQ(der, extension.value);
        ASSERT_FALSE(der.isEmpty());
        EXPECT_EQ(static_cast<unsigned char>(der[0]), 0x30); // GeneralNames SEQUENCE
        EXPECT_TRUE(der.contains(QByteArray("\x60\x4C", 2)));
        EXPECT_TRUE(der.contains("12345678901"));
    }
    EXPECT_EQ(alternativeNames, 1);
}

TEST(UtilitiesTest, Base64DecodeAcceptsLineBreaksAndRefusesGarbage)
{
    EXPECT_EQ(sig::utilities::base64Decode("Y29u\r\ndGV1ZG8="), QByteArray("conteudo"));
    EXPECT_EQ(sig::utilities::base64Decode(""), QByteArray());
    EXPECT_THROW(sig::utilities::base64Decode("não é base64!"), sig::SignatureError);
}

TEST(CertificateTest, ANullCertificateFailsCleanly)
{
    const sig::Certificate none;
    EXPECT_THROW((void)none.getInfo(sig::CertificateInfo::SubjectSimpleName), sig::SignatureError);
    EXPECT_THROW((void)none.serialNumber(), sig::SignatureError);
    EXPECT_THROW((void)none.extensions(), sig::SignatureError);
    EXPECT_FALSE(judgedNow(none).result);
    EXPECT_THROW(
        (void)sig::CertificateCollection({none}).find(sig::FindType::SubjectName, "x", false),
        sig::SignatureError);
    sig::Chain chain;
    EXPECT_THROW(chain.build(none), sig::SignatureError);
}

// Serves a message from memory and remembers how it was read.
class WatchedInput : public BytesInput {
public:
    using BytesInput::BytesInput;
    qint64 read(qint64 offset, char* buffer, qint64 length) override
    {
        const qint64 got = BytesInput::read(offset, buffer, length);
        largestRead = std::max(largestRead, length);
        furthest = std::max(furthest, offset + got);
        return got;
    }
    qint64 largestRead = 0;
    qint64 furthest = 0;
};

TEST(StreamingTest, BinaryContentIsStreamedAndNothingAfterTheMessageIsRead)
{
    fx::Cert signer = holder();
    const std::vector<std::pair<fx::Encoding, bool>> forms = {{fx::Encoding::Der, true},
                                                              {fx::Encoding::BerIndefinite, true},
                                                              {fx::Encoding::PemCms, false},
                                                              {fx::Encoding::Base64Lines, false}};
    const qint64 kContent = 3 * 1024 * 1024;
    for (const auto& [encoding, streamed] : forms) {
        fx::MessageSpec spec = encodedAs(icpMessage(signer), encoding);
        spec.content = std::string(kContent, 'z');
        const fx::Bytes message = fx::makeSignedMessage(spec);
        // What follows a binary message in the file is nobody's business.
        WatchedInput input(bytes(message) + QByteArray(streamed ? 2 * 1024 * 1024 : 0, '\x30'));
        QByteArray content;
        sig::SignedData data(sig::TrustStore::empty());
        data.verify(input, {{}, [&](QByteArrayView block) { content += block; }});
        EXPECT_EQ(content, bytes(spec.content)) << static_cast<int>(encoding);
        EXPECT_EQ(data.contentSize(), kContent);
        if (streamed) {
            EXPECT_LE(input.largestRead, 1 << 20) << static_cast<int>(encoding);
            // Indefinite lengths tell where the message ends only once it
            // was walked: a window may have looked past it by then.
            const qint64 past = encoding == fx::Encoding::Der ? 0 : 1 << 20;
            EXPECT_LE(input.furthest, static_cast<qint64>(message.size()) + past)
                << static_cast<int>(encoding);
        } else {
            EXPECT_EQ(input.largestRead, input.size());
        }
    }

    const fx::Bytes nested = hostile::withWrappedPieces(fx::makeSignedMessage([&] {
        fx::MessageSpec spec = encodedAs(icpMessage(signer), fx::Encoding::BerIndefinite);
        spec.content = std::string(kContent, 'n');
        return spec;
    }()));
    WatchedInput input(bytes(nested));
    Verified fromFile = verified(nested);
    EXPECT_EQ(fromFile.content, QByteArray(kContent, 'n'));
    sig::SignedData data(sig::TrustStore::empty());
    data.verify(input);
    EXPECT_LE(input.largestRead, 1 << 20) << "nested pieces are streamed too";
}

TEST(StreamingTest, NestedPiecesGetOneVerdictReadInPlaceOrWhole)
{
    // OpenSSL reads five constructed pieces inside the content's string and
    // no more; the streamed path must neither accept nor refuse otherwise.
    for (int levels : {1, 6, 7, 8}) {
        SCOPED_TRACE(levels);
        const std::uint32_t code = verifyCode(hostile::nestedContentPieces(levels));
        EXPECT_EQ(code == 0, levels <= 6);
    }
}

TEST(StreamingTest, LargeContentReportsProgressAndCanBeStopped)
{
    fx::MessageSpec spec = icpMessage(holder());
    spec.content = std::string(5 * 1024 * 1024 + 17, 'p');
    MessageFile file(fx::makeSignedMessage(spec));
    const qint64 total = static_cast<qint64>(spec.content.size());

    std::vector<std::pair<qint64, qint64>> calls;
    sig::SignedData data(sig::TrustStore::empty());
    sig::FileInput input = file.input();
    data.verify(input, {[&](qint64 done, qint64 all) {
                            calls.emplace_back(done, all);
                            return true;
                        },
                        {}});
    ASSERT_GE(calls.size(), 5u);
    EXPECT_EQ(calls.back(), std::make_pair(total, total));
    for (size_t i = 1; i < calls.size(); ++i)
        EXPECT_LT(calls[i - 1].first, calls[i].first);

    sig::SignedData stopped(sig::TrustStore::empty());
    int seen = 0;
    try {
        stopped.verify(input, {[&](qint64, qint64) { return ++seen < 2; }, {}});
        ADD_FAILURE() << "a stopped verification must fail";
    } catch (const sig::SignatureError& error) {
        EXPECT_EQ(error.code(), code::kCancelled);
    }
    EXPECT_FALSE(stopped.isVerified());
}

TEST(StreamingTest, Sha256OfTheContentIsRightWhateverTheSignersDigest)
{
    for (fx::Digest digest : {fx::Digest::Sha1, fx::Digest::Sha256, fx::Digest::Sha512}) {
        fx::MessageSpec spec = icpMessage(holder());
        spec.signers[0].digest = digest;
        spec.content = std::string(2 * 1024 * 1024 + 3, 's');
        Verified data = verified(fx::makeSignedMessage(spec));
        EXPECT_EQ(data->contentSha256(),
                  QCryptographicHash::hash(bytes(spec.content), QCryptographicHash::Sha256));
    }
}

TEST(StreamingTest, DamagedFramesGiveTheSameVerdictAsTheWholeMessage)
{
    fx::MessageSpec spec = icpMessage(holder());
    spec.content = std::string(70000, 'd');
    const fx::Bytes message = fx::makeSignedMessage(spec);
    // Cut at every region: before, inside and after the content.
    for (std::size_t length : {std::size_t(3), std::size_t(40), std::size_t(100),
                               message.size() / 2, message.size() - 200, message.size() - 1}) {
        EXPECT_EQ(verifyCode(fx::truncate(message, length)), code::kNotSignedData) << length;
    }
    fx::Bytes grown = message;
    grown[1] = static_cast<char>(grown[1] ^ 0x01); // the outer length no longer fits
    verifyCode(grown);                             // the two paths agree, whatever the code
}

TEST(DetachedContentTest, ADetachedSignatureIsVerifiedOverTheContentReadBesideItInBlocks)
{
    fx::MessageSpec spec = icpMessage(holder());
    spec.content = std::string(3 * 1024 * 1024, 'd') + "fim";
    spec.detached = true;
    const fx::Bytes signature = fx::makeSignedMessage(spec);
    for (fx::Encoding encoding : {fx::Encoding::Der, fx::Encoding::PemCms}) {
        SCOPED_TRACE(static_cast<int>(encoding));
        WatchedInput message(bytes(fx::encodeAs(signature, encoding)));
        WatchedInput content(bytes(spec.content));
        QByteArray sunk;
        qint64 lastDone = 0;
        sig::SignedData data(sig::TrustStore::empty());
        data.verify(message, {[&](qint64 done, qint64 total) {
                                  EXPECT_EQ(total, content.size());
                                  lastDone = done;
                                  return true;
                              },
                              [&](QByteArrayView block) { sunk += block; }, &content});
        EXPECT_EQ(sunk, bytes(spec.content));
        EXPECT_EQ(lastDone, content.size());
        EXPECT_EQ(data.contentSize(), content.size());
        EXPECT_EQ(data.contentSha256(),
                  QCryptographicHash::hash(bytes(spec.content), QCryptographicHash::Sha256));
        EXPECT_EQ(content.largestRead, 1 << 20) << "the document is never held whole";
        EXPECT_EQ(content.furthest, content.size());
        EXPECT_EQ(data.signers().size(), 1u);
    }
}

// A document that turns out shorter than it said it was.
class ShrunkInput : public WatchedInput {
public:
    using WatchedInput::WatchedInput;
    qint64 size() const override { return WatchedInput::size() + 1; }
};

TEST(DetachedContentTest, OtherBytesAnAttachedMessageOrAShortDocumentFail)
{
    fx::MessageSpec spec = icpMessage(holder());
    spec.detached = true;
    const fx::Bytes signature = fx::makeSignedMessage(spec);
    // From memory when `message` is its bytes, streamed when it is an input.
    auto codeOver = [&](auto&& message, sig::MessageInput& content) {
        return codeOf(
            [&](sig::SignedData& data) {
                data.verify(message, sig::VerifyOptions{{}, {}, &content});
            },
            sig::TrustStore::empty());
    };
    WatchedInput right(bytes(spec.content));
    EXPECT_EQ(codeOver(bytes(signature), right), 0u);
    WatchedInput changed(bytes(spec.content).replace('c', 'C'));
    EXPECT_EQ(codeOver(bytes(signature), changed), code::kHashMismatch);
    WatchedInput empty{QByteArray()};
    EXPECT_EQ(codeOver(bytes(signature), empty), code::kHashMismatch);
    ShrunkInput shrunk(bytes(spec.content));
    EXPECT_EQ(codeOver(bytes(signature), shrunk), code::kContentUnreadable);
    // A message that holds its content is not verified over another.
    spec.detached = false;
    WatchedInput again(bytes(spec.content));
    EXPECT_EQ(codeOver(bytes(fx::makeSignedMessage(spec)), again), code::kContentNotDetached);
    MessageFile file(fx::makeSignedMessage(spec));
    sig::FileInput input = file.input();
    EXPECT_EQ(codeOver(input, again), code::kContentNotDetached)
        << "the streamed path refuses it too";
}
