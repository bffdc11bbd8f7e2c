#include "Chain.h"

#include "SignatureError.h"
#include "ValidationContext.h"

namespace selavia::signature {

bool Chain::build(const Certificate& certificate)
{
    if (certificate.isNull() || !certificate.context())
        throw SignatureError::of(code::kCertificateUnreadable);
    auto built = certificate.context()->buildChain(certificate.handle());
    std::vector<Certificate> items;
    for (int i = 0; i < sk_X509_num(built.certificates.get()); ++i)
        items.emplace_back(sk_X509_value(built.certificates.get(), i), certificate.context());
    certificates_ = CertificateCollection(std::move(items));
    return built.trusted;
}

} // namespace selavia::signature
