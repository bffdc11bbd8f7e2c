#pragma once

// When an algorithm stopped being strong enough for signatures. A signature
// that depends on one after that date proves nothing unless something
// proves it existed before.

#include "platform/signature/SignerEncoding.h"

#include <QDateTime>
#include <QString>
#include <vector>

namespace selavia::verify {

struct WeakAlgorithm {
    QString name;        // "SHA-1", "RSA de 1024 bits"
    QDateTime lastValid; // UTC: acceptable for signatures made up to this moment
};

// The algorithms of a signature that are weak, each with its end.
std::vector<WeakAlgorithm> weakAlgorithms(const signature::SignerAlgorithms& algorithms);

// "algoritmo fraco: SHA-1 (aceito em assinaturas até 31/12/2014)".
QString weakAlgorithmWarning(const WeakAlgorithm& weak);

} // namespace selavia::verify
