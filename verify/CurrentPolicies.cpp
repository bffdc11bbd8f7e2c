#include "verify/CurrentPolicies.h"

#include "platform/revocation/PolicyLists.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace selavia::verify {
namespace {

namespace sig = signature;
namespace pol = signature::policies;

bool namesIcpPolicy(const sig::SignedData& data)
{
    const QString arc = QStringLiteral("2.16.76.1.7.1.");
    return std::any_of(data.signers().begin(), data.signers().end(),
                       [&](const sig::Signer& signer) {
                           const auto& policy = signer.cades().policy;
                           return policy && policy->oid.startsWith(arc);
                       });
}

QByteArray embedded(const pol::EmbeddedFile& file)
{
    return QByteArray::fromRawData(reinterpret_cast<const char*>(file.data),
                                   static_cast<qsizetype>(file.size));
}

QByteArray bundledDocument(const QString& name)
{
    for (const pol::EmbeddedFile& file : pol::bundledFiles()) {
        if (name == QLatin1String(file.name))
            return embedded(file);
    }
    return {};
}

// The current list in place of `bundled` when it is newer.
std::optional<QByteArray> newerList(const QString& name, const QByteArray& bundled,
                                    const LoadOptions& options, const QDateTime& checkedAt)
{
    const std::optional<pol::PolicyList> old = pol::parsePolicyList(bundled);
    if (!old || old->nextUpdate >= checkedAt)
        return std::nullopt;
    X509_STORE* roots =
        options.policyListRoots ? options.policyListRoots->handle() : revocation::icpBrasilRoots();
    std::optional<QByteArray> current =
        revocation::currentPolicyList(name, options.revocation, roots, checkedAt);
    const std::optional<pol::PolicyList> read =
        current ? pol::parsePolicyList(*current) : std::nullopt;
    if (!read || read->nextUpdate <= old->nextUpdate)
        return std::nullopt;
    return current;
}

} // namespace

std::optional<pol::PolicyCatalogue> currentPolicyCatalogue(const sig::SignedData& data,
                                                           const LoadOptions& options,
                                                           const QDateTime& checkedAt)
{
    if (!namesIcpPolicy(data))
        return std::nullopt;
    std::vector<std::pair<QString, QByteArray>> lists;
    bool replaced = false;
    for (const pol::EmbeddedFile& file : pol::bundledFiles()) {
        const QString name = QString::fromLatin1(file.name);
        if (!name.startsWith(QLatin1String("LPA_")))
            continue;
        std::optional<QByteArray> newer = newerList(name, embedded(file), options, checkedAt);
        replaced = replaced || newer.has_value();
        lists.emplace_back(name, newer ? *newer : embedded(file));
    }
    if (!replaced)
        return std::nullopt;
    return pol::catalogueOf(lists, bundledDocument);
}

} // namespace selavia::verify
