#pragma once

// What a conformity report tells of a verification beyond its verdicts:
// the form and level of each signature, what proves its time, which trust
// source anchored a chain, and what a signature is worth in law. Worked out
// here once; the report and the command line only print them.

#include "verify/ValidationResult.h"

#include <QString>

namespace selavia::verify {

// "CAdES-T, anexada: o documento está dentro do arquivo assinado" or, for
// a signed PDF, "PAdES (ETSI.CAdES.detached) sobre o intervalo de bytes …".
QString signatureFormText(const ValidationResult& result, const SignatureResult& signer);

// Whether the signature's value verifies over what it signs, in words.
QString integrityText(const ValidationResult& result, const SignatureResult& signer);
// The file's: whether its content verifies under every signature.
QString integrityText(const ValidationResult& result);

// The signing time the signer's computer claimed, local with its offset
// and in UTC, said to prove nothing; "não declarada" without one. Not the
// tree's "Carimbo de Tempo", which a reader takes for a time-stamp.
QString claimedSigningTimeText(const SignatureResult& signer);

// What proves the signer's best signature time, in words: "carimbo do
// tempo da assinatura (ACT de Teste)", or that nothing does.
QString bestTimeProofText(const SignatureResult& signer);

// "SHA256; RSA-SHA256; chave RSA de 2048 bits", flagged when the verdict
// found an algorithm too weak at the signature's time.
QString algorithmsText(const SignatureResult& signer);

// Where the top of a chain was trusted from: a bundled root by name, or
// the system's store; or that the chain reached none.
QString anchorSourceText(const ValidationResult& result, const CertificateStatus& status);

// The SHA-256 of a certificate's DER, lowercase hexadecimal.
QString certificateSha256(const CertificateFacts& certificate);

// Only ICP-Brasil signatures carry the legal presumption of authenticity:
// the sentence said of any other signature not Reprovado; empty for an
// ICP-Brasil signer.
QString legalPresumptionNote(const SignatureResult& signer);

// The file's: said once, when some signer that verified is not ICP-Brasil.
QString legalPresumptionNote(const ValidationResult& result);

// "2 de 3 assinaturas válidas": the signers judged Aprovado.
QString validSignaturesText(const ValidationResult& result);

// How the network answered: offline, not needed, answered, or silent.
QString networkText(const ValidationResult& result);

} // namespace selavia::verify
