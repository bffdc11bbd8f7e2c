#include "verify/TreeKeys.h"

namespace selavia::verify::keys {

QString signerNode(SignerNode node, int signer)
{
    static constexpr std::array<QLatin1String, 13> prefixes = {
        QLatin1String("aChild"),  QLatin1String("ChildA"),  QLatin1String("ChildB"),
        QLatin1String("ChildC"),  QLatin1String("ChildF"),  QLatin1String("ChildD"),
        QLatin1String("ChildDA"), QLatin1String("ChildDB"), QLatin1String("ChildDC"),
        QLatin1String("ChildDD"), QLatin1String("ChildE"),  QLatin1String("ChildG"),
        QLatin1String("ChildH"),
    };
    return QString(prefixes[static_cast<std::size_t>(node)]) + QString::number(signer);
}

QString chainCertificate(int signer, int position)
{
    // "." between the indexes: without it signer 1's twelfth certificate and
    // signer 11's second would share a key.
    return QStringLiteral("ChildEA%1.%2").arg(signer).arg(position);
}

QString documentTimeStamp(int index)
{
    return QStringLiteral("DocTs%1").arg(index);
}

} // namespace selavia::verify::keys
