#include "app/CertificateView.h"

#include "verify/CadesText.h"
#include "verify/DocumentName.h"

namespace selavia::app {
namespace {

const verify::SignatureResult* signerOf(const verify::TreeNode& node,
                                        const verify::ValidationResult& result)
{
    if (node.signer < 1 || static_cast<std::size_t>(node.signer) > result.signers.size())
        return nullptr;
    return &result.signers[static_cast<std::size_t>(node.signer) - 1];
}

} // namespace

std::optional<desktop::CertificateView> certificateViewOf(const verify::TreeNode& node,
                                                          const verify::ValidationResult& result)
{
    const verify::SignatureResult* signer = signerOf(node, result);
    if (signer == nullptr || node.chainPosition < 1)
        return std::nullopt;
    const std::vector<verify::ChainLinkStatus>& chain = signer->status.chain;
    const auto first = static_cast<std::size_t>(node.chainPosition - 1);
    if (first >= chain.size())
        return std::nullopt;
    desktop::CertificateView view;
    bool unknown = false;
    for (std::size_t n = chain.size(); n-- > first;) {
        const verify::ChainLinkStatus& link = chain[n];
        const QString name = verify::displayText(link.certificate.simpleName);
        view.path.push_back({link.certificate.der, name, link.problems.isEmpty(), link.problems,
                             signature::revocationSummary(link.revocation)});
        for (const QString& problem : link.problems)
            view.problems << (name.isEmpty() ? problem : name + QStringLiteral(": ") + problem);
        unknown |= link.revocationUnknown;
    }
    // The signer's own certificate is judged whole, as a signer's.
    if (first == 0)
        view.problems = signer->status.problems;
    view.valid = view.problems.isEmpty();
    if (unknown)
        view.caveat = QStringLiteral("Não foi possível consultar a situação de revogação de um "
                                     "certificado deste caminho: a validade não considera se ele "
                                     "foi revogado.");
    return view;
}

std::optional<desktop::SignerDetails> signerDetailsOf(const verify::TreeNode& node,
                                                      const verify::ValidationResult& result)
{
    const verify::SignatureResult* signer = signerOf(node, result);
    if (signer == nullptr || node.chainPosition != 1)
        return std::nullopt;
    const verify::CadesLines lines = verify::cadesLines(*signer);
    return desktop::SignerDetails{lines.timeStamp, lines.validAtTimestamp, lines.policy,
                                  lines.counterSignatures, lines.problems};
}

} // namespace selavia::app
