#pragma once

// Signed messages, trust stores and scratch files shared by the tests of
// every folder. Everything is made at test time by the fixture builder.

#include "platform/signature/SignaturePolicies.h"
#include "platform/signature/SignedData.h"
#include "tests/support/Printers.h"
#include "tools/fixtures/CadesFixtures.h"
#include "tools/fixtures/FixtureBuilder.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QFile>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <algorithm>
#include <ctime>
#include <gtest/gtest.h>
#include <initializer_list>
#include <string>

namespace selavia::testing {

namespace fx = selavia::fixtures;
namespace sig = selavia::signature;

constexpr std::time_t kDay = 24 * 3600;
constexpr std::time_t kYear = 365 * kDay;

inline QByteArray bytes(const fx::Bytes& raw)
{
    return QByteArray::fromStdString(raw);
}

inline QString thumbprintOf(const fx::Cert& cert)
{
    return QString::fromLatin1(
        QCryptographicHash::hash(bytes(cert.der()), QCryptographicHash::Sha1).toHex().toUpper());
}

// A list of problems on one line, for a failure's message.
inline std::string joined(const QStringList& lines)
{
    return lines.join(QStringLiteral("; ")).toStdString();
}

inline sig::TrustStore storeTrusting(std::initializer_list<const fx::Cert*> roots)
{
    sig::TrustStore store = sig::TrustStore::empty();
    for (const fx::Cert* root : roots)
        store.addTrusted(bytes(root->der()));
    return store;
}

inline sig::TrustStore trustingIcp()
{
    const fx::Hierarchy icp = fx::icpBrasilHierarchy();
    return storeTrusting({&icp.root});
}

// The SHA-256 of the bundled file of ICP-Brasil policy `oid`; 32 bytes of
// nothing for a policy the lists lack.
inline fx::Bytes bundledPolicyHash(const QString& oid)
{
    const sig::policies::KnownPolicy* known = sig::policies::bundledCatalogue().find(oid);
    return known != nullptr
               ? QCryptographicHash::hash(known->document, QCryptographicHash::Sha256).toStdString()
               : fx::Bytes(32, 'x');
}

// signature-policy-identifier naming policy `oid` by its bundled file's hash,
// as a signer that has the policy writes it.
inline fx::AttributeSpec bundledPolicyAttribute(const QString& oid)
{
    return fx::signaturePolicyWithHash(oid.toStdString(), bundledPolicyHash(oid));
}

// An end entity of the ICP-like hierarchy with an e-mail and a personal
// ICP-Brasil entry.
inline fx::Cert icpSigner(const std::string& commonName = "FULANO DE TAL:98765432100",
                          const std::string& cpf = "12345678901", std::time_t notBefore = 0,
                          std::time_t notAfter = 0, fx::KeyType keyType = fx::KeyType::EcP256,
                          const std::string& email = "fulano@example.com.br")
{
    return fx::issueEndEntity(fx::icpBrasilHierarchy().intermediate, commonName,
                              {fx::SanEntry::email(email), fx::icpPersonal("01021980", cpf)},
                              notBefore, notAfter, keyType);
}

// A time-stamp authority under the ICP-like intermediate, valid for long
// around the tests' times; made once per process.
inline const fx::Cert& longLivedTsa()
{
    static const fx::Cert cert =
        fx::makeTsa(fx::icpBrasilHierarchy().intermediate, fx::TsaUsage::TimeStamping,
                    fx::utc(2020, 1, 1), fx::utc(2040, 1, 1));
    return cert;
}

// One signer of the ICP-like hierarchy, its intermediate and root in the
// message; `documentName` empty gives no name attribute.
inline fx::MessageSpec icpMessage(const fx::Cert& signer, const std::string& documentName = {},
                                  const fx::Bytes& content = "%PDF-1.4 conteudo do contrato")
{
    const fx::Hierarchy& icp = fx::icpBrasilHierarchy();
    fx::MessageSpec spec;
    spec.content = content;
    fx::SignerSpec signerSpec{.cert = signer};
    if (!documentName.empty())
        signerSpec.attributes = {fx::documentNameAttribute(documentName)};
    spec.signers = {signerSpec};
    spec.extraCertificates = {icp.intermediate, icp.root};
    return spec;
}

// The signer's certificate as the windows get it: out of a verified message
// that carries the signer's intermediate and root.
inline sig::Certificate verifiedSigner(const fx::Cert& signer, bool trustRoot = true,
                                       const fx::Hierarchy& hierarchy = fx::icpBrasilHierarchy())
{
    fx::MessageSpec spec;
    spec.signers.push_back({.cert = signer});
    spec.extraCertificates = {hierarchy.intermediate, hierarchy.root};
    sig::SignedData data(trustRoot ? storeTrusting({&hierarchy.root}) : sig::TrustStore::empty());
    data.verify(bytes(fx::makeSignedMessage(spec)));
    return data.signers()[0].certificate();
}

// A folder of the test's own, removed with it.
class ScratchFolder {
public:
    ScratchFolder() { EXPECT_TRUE(dir_.isValid()); }

    QString path() const { return dir_.path(); }
    QString filePath(const QString& name) const { return dir_.filePath(name); }

    // Writes `content` under `name` and gives its path.
    QString write(const QString& name, const fx::Bytes& content) const
    {
        const QString target = dir_.filePath(name);
        fx::writeFile(QFile::encodeName(target).toStdString(), content);
        return target;
    }

    // The whole file, or nothing when it cannot be read.
    static QByteArray read(const QString& path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

private:
    QTemporaryDir dir_;
};

// A signed file served from memory.
class BytesInput : public sig::MessageInput {
public:
    explicit BytesInput(QByteArray bytes) : bytes_(std::move(bytes)) {}
    qint64 size() const override { return bytes_.size(); }
    qint64 read(qint64 offset, char* buffer, qint64 length) override
    {
        const qint64 got = std::clamp<qint64>(bytes_.size() - offset, 0, length);
        std::copy_n(bytes_.constData() + offset, got, buffer);
        return got;
    }

private:
    QByteArray bytes_;
};

} // namespace selavia::testing
