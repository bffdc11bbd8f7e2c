#pragma once

// Verification results and tree look-ups shared by the tests of the core and
// the command line tool.

#include "tests/support/Fixtures.h"
#include "verify/SignatureTree.h"
#include "verify/Verification.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QString>
#include <QStringList>
#include <algorithm>
#include <ctime>
#include <gtest/gtest.h>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

namespace selavia::testing {

using verify::TreeNode;
using verify::ValidationResult;

// An attribute the reader ignores, of `size` bytes of content.
inline fx::AttributeSpec ignoredAttribute(std::size_t size)
{
    fx::Bytes der = "\x04\x82";
    der += static_cast<char>(size >> 8);
    der += static_cast<char>(size & 0xFF);
    der += fx::Bytes(size, 'p');
    return {"1.2.3.4.5", der};
}

// A message whose signers' intermediates and roots travel with it. DER
// writes the signers as a sorted set, shorter ones first: an ignored
// attribute that grows from signer to signer keeps them in the given order.
inline fx::MessageSpec messageFor(std::vector<fx::SignerSpec> signers)
{
    fx::MessageSpec spec;
    spec.content = "%PDF-1.4 conteudo do contrato";
    for (std::size_t n = 1; n < signers.size(); ++n)
        signers[n].attributes.push_back(ignoredAttribute(n * 512));
    spec.signers = std::move(signers);
    const fx::Hierarchy& icp = fx::icpBrasilHierarchy();
    const fx::Hierarchy& foreign = fx::foreignHierarchy();
    spec.extraCertificates = {icp.intermediate, icp.root, foreign.intermediate, foreign.root};
    return spec;
}

inline ValidationResult verifiedDocument(const fx::MessageSpec& spec,
                                         sig::TrustStore store = trustingIcp(),
                                         const QString& path = QString())
{
    const QByteArray message = bytes(fx::makeSignedMessage(spec));
    ValidationResult document =
        verify::Verification(std::move(store)).readBytes(path, message).run();
    EXPECT_TRUE(document.verified())
        << (document.error ? document.error->caption.toStdString() : std::string());
    // The tests name signers by their place in the list they gave.
    EXPECT_EQ(document.signers.size(), spec.signers.size());
    for (std::size_t n = 0; n < std::min(document.signers.size(), spec.signers.size()); ++n)
        EXPECT_EQ(document.signers[n].thumbprint, thumbprintOf(spec.signers[n].cert))
            << "signer " << n + 1 << " out of place";
    return document;
}

// The verified signers of a message, kept alive with their message.
struct VerifiedSigners {
    std::shared_ptr<sig::SignedData> data;
    const std::vector<sig::Signer>& signers() const { return data->signers(); }
};

inline VerifiedSigners verifiedSigners(const fx::MessageSpec& spec,
                                       sig::TrustStore store = trustingIcp())
{
    auto data = std::make_shared<sig::SignedData>(std::move(store));
    data->verify(bytes(fx::makeSignedMessage(spec)));
    return {data};
}

inline const TreeNode* findNode(const std::vector<TreeNode>& tree, const QString& key)
{
    for (const TreeNode& node : tree) {
        if (node.key == key)
            return &node;
    }
    return nullptr;
}

inline QStringList keysOf(const std::vector<TreeNode>& tree)
{
    QStringList keys;
    for (const TreeNode& node : tree)
        keys << node.key;
    return keys;
}

} // namespace selavia::testing
