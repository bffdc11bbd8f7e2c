#pragma once

// Where revocation data and missing issuers come from beyond the message:
// the cache, the CRL distribution points, OCSP responders and caIssuers,
// fetched over plain HTTP. One service per document, so that its requests
// share a time budget and can be aborted together.

#include "Settings.h"
#include "platform/signature/ValidationServices.h"

namespace selavia::revocation {

// The sources, in the order they are asked (after the message's own CRLs):
// a verified CRL in the cache, a CRL fetched from the distribution points,
// OCSP; and the caIssuers fetcher. Offline, only the cache answers.
// Judged at an instant `at` other than now, no OCSP responder is asked: its
// answer tells of the moment it is asked, and would make the result depend
// on when the run happened. CRLs are still read and fetched, and count as
// far as they speak of the instant.
signature::ValidationServices validationServices(const Settings& settings,
                                                 const QDateTime& at = {});

// What a refresh of the cache shares between its documents (Settings::refresh).
std::shared_ptr<SharedFetches> sharedFetches();

} // namespace selavia::revocation
