#include "GeneralNames.h"

#include "Asn1Items.h"
#include "OpenSslHandles.h"

#include <openssl/err.h>

namespace selavia::signature {

std::optional<std::vector<OtherNameEntry>> otherNames(QByteArrayView generalNames)
{
    const ossl::ErrorQueueGuard guard;
    const auto* start = reinterpret_cast<const unsigned char*>(generalNames.data());
    const unsigned char* cursor = start;
    ossl::UniqueGeneralNames names(d2i_GENERAL_NAMES(nullptr, &cursor, generalNames.size()));
    if (!names || cursor != start + generalNames.size()) {
        return std::nullopt;
    }
    std::vector<OtherNameEntry> entries;
    for (int i = 0; i < sk_GENERAL_NAME_num(names.get()); ++i) {
        const GENERAL_NAME* name = sk_GENERAL_NAME_value(names.get(), i);
        if (name->type != GEN_OTHERNAME)
            continue;
        QByteArray der = ossl::encoded(i2d_OTHERNAME, name->d.otherName);
        if (der.isEmpty())
            return std::nullopt;
        entries.push_back({asn1::oidText(name->d.otherName->type_id), std::move(der)});
    }
    return entries;
}

} // namespace selavia::signature
