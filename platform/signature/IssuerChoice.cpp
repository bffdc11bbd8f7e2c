#include "IssuerChoice.h"

#include "OpenSslHandles.h"
#include "SignatureMemo.h"

#include <openssl/x509_vfy.h>

namespace selavia::signature::issuers {
namespace {

// The slot of a chain building that marks it as matching by names alone.
int nameOnlyIndex()
{
    static const int index = X509_STORE_CTX_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
    return index;
}

int checkIssued(X509_STORE_CTX* context, X509* subject, X509* issuer)
{
    const int matched = X509_check_issued(issuer, subject);
    // An issuer without keyCertSign is still the issuer: the path reports
    // that it may not issue.
    if (matched != X509_V_OK && matched != X509_V_ERR_KEYUSAGE_NO_CERTSIGN)
        return 0;
    const int index = nameOnlyIndex();
    if (index >= 0 && X509_STORE_CTX_get_ex_data(context, index) != nullptr)
        return 1;
    return signs(issuer, subject) ? 1 : 0;
}

} // namespace

bool signs(X509* issuer, X509* subject)
{
    const ossl::ErrorQueueGuard guard;
    return X509_get0_pubkey(issuer) == nullptr || signatures::certificateSignedBy(subject, issuer);
}

void chooseBySignature(X509_STORE* store)
{
    X509_STORE_set_check_issued(store, checkIssued);
}

void chooseByNameOnly(X509_STORE_CTX* context)
{
    static char marker = 0;
    const int index = nameOnlyIndex();
    if (index >= 0)
        X509_STORE_CTX_set_ex_data(context, index, &marker);
}

} // namespace selavia::signature::issuers
