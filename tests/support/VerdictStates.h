#pragma once

// One signed file per state a verification report can tell, made by the
// fixture builder, with the verdict and reasons each must give. The window,
// the command line and the report are all checked against this one table;
// a state needs one row here.

#include "tests/support/Fixtures.h"
#include "tools/fixtures/CadesFixtures.h"
#include "verify/LoadOptions.h"
#include "verify/Verdict.h"

#include <QStringList>
#include <ctime>
#include <stdexcept>
#include <vector>

namespace selavia::testing {

struct VerdictState {
    const char* name; // also the file's base name
    fx::Bytes message;
    bool trusted = true; // the ICP-like root is trusted
    verify::Verdict verdict = verify::Verdict::Approved;
    QStringList codes{}; // the file's reasons, in order
};

// Lists the ICP-like authorities' revocations: the intermediate's (naming
// `revoked`) and the root's, so that every certificate of the chain has a
// known status without the network.
// `reason`: the CRL reason code of the entries, none when -1.
inline std::vector<std::shared_ptr<X509_CRL>> carriedCrls(const std::vector<fx::Cert>& revoked = {},
                                                          int reason = -1)
{
    const fx::Hierarchy& icp = fx::icpBrasilHierarchy();
    return {fx::makeCrl({.issuer = &icp.intermediate, .revoked = revoked, .reason = reason}),
            fx::makeCrl({.issuer = &icp.root})};
}

inline fx::MessageSpec withCrls(fx::MessageSpec spec,
                                std::vector<std::shared_ptr<X509_CRL>> crls = carriedCrls())
{
    spec.crls = std::move(crls);
    return spec;
}

// How a state's file is loaded: its store, no request, no cache; the signed
// file summed as a report needs it.
inline verify::LoadOptions stateOptions(const VerdictState& state)
{
    revocation::Settings offline;
    offline.offline = true;
    verify::LoadOptions options(state.trusted ? trustingIcp() : sig::TrustStore::empty(), offline);
    options.sumSignedFile = true;
    return options;
}

inline const std::vector<VerdictState>& verdictStates()
{
    static const std::vector<VerdictState> states = [] {
        using verify::Verdict;
        const std::time_t now = std::time(nullptr);
        const fx::Hierarchy& icp = fx::icpBrasilHierarchy();
        const fx::Cert signer = icpSigner("MARIA DA SILVA:12345678901", "12345678901");
        const fx::MessageSpec good = withCrls(icpMessage(signer, "contrato.pdf"));
        const fx::Bytes goodMessage = fx::makeSignedMessage(good);
        const fx::Cert expired =
            icpSigner("MARIA DA SILVA:12345678901", "12345678901", now - 400 * 86400, now - 86400);
        const fx::Cert encipherOnly = fx::makeCertificate(
            {.subject = {{"C", "BR"}, {"O", "ICP-Brasil"}, {"CN", "MARIA DA SILVA:12345678901"}},
             .issuer = &icp.intermediate,
             .san = {fx::icpPersonal("01021980", "12345678901")},
             .extensions = {{"keyUsage", "critical,keyEncipherment"}}});
        // A time-stamp authority of the same hierarchy, valid long before
        // the expired signer's certificate ended; its revocation is in the
        // intermediate's list.
        const fx::TokenSpec stamp{.tsa = fx::makeTsa(icp.intermediate, fx::TsaUsage::TimeStamping,
                                                     now - 600 * 86400, now + 600 * 86400),
                                  .genTime = now - 200 * 86400};
        const fx::Bytes expiredMessage =
            fx::makeSignedMessage(withCrls(icpMessage(expired, "contrato.pdf")));
        // A token whose imprint is not this signature's.
        const fx::Bytes stampedElsewhere =
            fx::withUnsignedAttribute(goodMessage, 0, fx::kTimeStampTokenOid,
                                      {fx::makeTimeStampToken("outra assinatura", stamp)});
        return std::vector<VerdictState>{
            {"aprovado", goodMessage, true, Verdict::Approved, {}},
            {"violado",
             fx::tamperContent(goodMessage, good.content),
             true,
             Verdict::Rejected,
             {"content-tampered"}},
            {"revogado",
             fx::makeSignedMessage(
                 withCrls(icpMessage(signer, "contrato.pdf"), carriedCrls({signer}))),
             true,
             Verdict::Rejected,
             {"revoked"}},
            // Superseded (4): the key stayed the holder's; without a time-stamp
            // the signature may predate the revocation.
            {"revogado-substituido",
             fx::makeSignedMessage(
                 withCrls(icpMessage(signer, "contrato.pdf"), carriedCrls({signer}, 4))),
             true,
             Verdict::Indeterminate,
             {"revoked-no-poe"}},
            {"uso-da-chave",
             fx::makeSignedMessage(withCrls(icpMessage(encipherOnly, "contrato.pdf"))),
             true,
             Verdict::Rejected,
             {"key-usage"}},
            {"nao-confiavel", goodMessage, false, Verdict::Indeterminate, {"untrusted-chain"}},
            {"revogacao-desconhecida",
             fx::makeSignedMessage(icpMessage(signer, "contrato.pdf")),
             true,
             Verdict::Indeterminate,
             {"revocation-unknown"}},
            {"expirado-sem-carimbo",
             expiredMessage,
             true,
             Verdict::Indeterminate,
             {"expired-no-timestamp"}},
            {"expirado-com-carimbo",
             fx::withTimeStamp(expiredMessage, 0, stamp),
             true,
             Verdict::Approved,
             {}},
            {"carimbo-invalido", stampedElsewhere, true, Verdict::Rejected, {"timestamp-invalid"}},
        };
    }();
    return states;
}

inline const VerdictState& stateNamed(const char* name)
{
    for (const VerdictState& state : verdictStates()) {
        if (qstrcmp(state.name, name) == 0)
            return state;
    }
    throw std::logic_error(name);
}

} // namespace selavia::testing
