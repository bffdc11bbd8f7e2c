#pragma once

// ITI's current lists of accepted signature policies, fetched beside their
// detached signatures and kept in the revocation cache like CRLs. What comes
// back is only the bytes of a list whose signature chains to the given
// roots and that reads as a list; which list to judge with is decided above.

#include "Settings.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <optional>

typedef struct x509_store_st X509_STORE;

namespace selavia::revocation {

// The list `name` ("LPA_CAdES.der") as published under the settings' base
// URL, its signature (`name` with ".p7s") verified under `roots`: the cached
// copy while its nextUpdate is after `now` (or whenever offline), else
// fetched and cached. nullopt when no copy verifies. A cached copy is
// verified once per process.
std::optional<QByteArray> currentPolicyList(const QString& name, const Settings& settings,
                                            X509_STORE* roots, const QDateTime& now);

// The bundled ICP-Brasil roots whose pins match, alone: what ITI's lists
// must chain to. Built once per process.
X509_STORE* icpBrasilRoots();

} // namespace selavia::revocation
