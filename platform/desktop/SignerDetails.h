#pragma once

// What the certificate dialog shows, as plain values the core worked out:
// the certificate's path, each certificate with its status, and, for a
// signer's own certificate, what the signature says of it.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <vector>

namespace selavia::desktop {

struct SignerDetails {
    QString timeStamp;             // the signature time-stamp that counts; empty without one
    QString validAtTimestamp;      // whether the certificate was valid at the time-stamp's time
    QString policy;                // "Política de assinatura: …"; empty without one
    QStringList counterSignatures; // one line each: name, time, validity
    QStringList problems;          // of the signature, beyond the certificate's chain
};

// One certificate of a path, as judged by the verification.
struct PathCertificate {
    QByteArray der;
    QString name;         // as shown
    bool valid = false;   // no problem of its own
    QStringList problems; // Portuguese, one line each
    QString revocation;   // its revocation status, one line for people
};

struct CertificateView {
    // Root first; the certificate the dialog is about last.
    std::vector<PathCertificate> path;
    bool valid = false;   // the certificate, its whole path considered
    QStringList problems; // why not, "name: problem" lines
    // A check that could not be made (revocation not consulted), told
    // beside the validity so that it is not taken for a check that passed.
    QString caveat;
};

} // namespace selavia::desktop
