#pragma once

// The keys of the signature tree: each node's key and each image's key,
// defined here once for the core, the command line tool, the windows and
// the pictures.

#include <QLatin1String>
#include <QString>
#include <array>

namespace selavia::verify::keys {

// --- images ------------------------------------------------------------------

// The four certificate classes.
inline constexpr QLatin1String kCertValid{"cert_valid"};
inline constexpr QLatin1String kCertInvalid{"cert_invalid"};
inline constexpr QLatin1String kCertNoIcpValid{"cert_noicp_valid"};
inline constexpr QLatin1String kCertNoIcpInvalid{"cert_noicp_invalid"};
// The other nodes.
inline constexpr QLatin1String kSigns{"signs"};
inline constexpr QLatin1String kCertificate{"certificate"};
inline constexpr QLatin1String kCertTree{"cert_tree"};
inline constexpr QLatin1String kInfoDoc{"info_doc"};
inline constexpr QLatin1String kInfoEmail{"info_email"};
inline constexpr QLatin1String kInfoGen{"info_gen"};
inline constexpr QLatin1String kInfoTec{"info_tec"};
inline constexpr QLatin1String kInfoTime{"info_time"};

// Every image key, in the order of the tree's image list.
inline constexpr std::array<QLatin1String, 12> kImageKeys = {
    kCertValid, kCertInvalid, kCertNoIcpValid, kCertNoIcpInvalid, kSigns,   kCertificate,
    kCertTree,  kInfoDoc,     kInfoEmail,      kInfoGen,          kInfoTec, kInfoTime,
};

// --- nodes -------------------------------------------------------------------

inline constexpr QLatin1String kRoot{"Root"};

// The nodes of one signer's branch.
enum class SignerNode {
    Signer,     // the holder, under Root
    Identity,   // CPF
    Email,      //
    Time,       // signing time and its origin
    TimeStamp,  // the signature time-stamp (ACT) that counts
    Technical,  // "Informações Técnicas"
    Validity,   // under Technical
    Version,    // under Technical
    Serial,     // under Technical
    Thumbprint, // under Technical
    Chain,      // "Cadeia de Certificados"
    // A signed PDF's signature:
    Revision, // "Revisão N de M" and what it covers
    Changes,  // the changes made after it
};

// The key of a node of signer `signer` (from 1): "aChild1", "ChildA1", …
QString signerNode(SignerNode node, int signer);
// The key of the certificate at `position` (from 1) of signer `signer`'s
// chain: "ChildEA1.1", …
QString chainCertificate(int signer, int position);
// The key of a signed PDF's document time-stamp (from 1, among the
// document's signatures): "DocTs3".
QString documentTimeStamp(int index);

} // namespace selavia::verify::keys
