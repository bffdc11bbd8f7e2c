#pragma once

// What the CAdES pieces of a signer say, in Portuguese: the tree's
// time-stamp node, and the lines the certificate dialog of the signer and
// the command line's report show. One place for these texts.

#include "verify/ValidationResult.h"

#include <QString>
#include <QStringList>

namespace selavia::verify {

// "Carimbo do Tempo (ACT): <time> - <TSA>", the time in the tree's form; for
// a token that does not verify, "Carimbo do Tempo (ACT) inválido: <reason>".
QString timeStampNodeText(const TimeStampResult& token);

// One signer's CAdES facts, one line each; empty where there is nothing to
// say. Their times are local with the offset ("06/12/2026 18:05:09 -03:00"):
// the certificate dialog shows them beside the certificate's own times.
// A declared policy's conformity in one line: "conforme", "não conforme:
// <what>" or "conformidade não confirmada", then what was checked, what
// was not, and the warnings.
QString policyConformityText(const PolicyCheck& policy);
// Its first word alone: "conforme", "não conforme" or "conformidade não confirmada".
QString policyConformityWord(const PolicyCheck& policy);

struct CadesLines {
    QString timeStamp; // the tree node's text, the time with its offset
    // "Válido na data do carimbo do tempo (dd/mm/aaaa hh:mm:ss -03:00)" or why not
    QString validAtTimestamp;
    QString policy;                // "Política de assinatura: …"
    QStringList counterSignatures; // "Contra-assinatura: <name>, <time> - válida" …
    QStringList problems;          // of the signature beyond its certificate's chain

    bool isEmpty() const;
};
CadesLines cadesLines(const SignatureResult& signer);

} // namespace selavia::verify
