#include "Asn1Items.h"

#include <openssl/objects.h>

namespace selavia::signature::asn1 {
namespace {

// Real OIDs have a few dozen octets; longer ones only cost time to print.
constexpr int kMaxOidOctets = 64;

} // namespace

ossl::UniqueAsn1Sequence sequence(QByteArrayView der)
{
    const auto* start = reinterpret_cast<const unsigned char*>(der.data());
    const unsigned char* cursor = start;
    ossl::UniqueAsn1Sequence items(d2i_ASN1_SEQUENCE_ANY(nullptr, &cursor, der.size()));
    if (items && cursor != start + der.size())
        items.reset(); // trailing bytes: not one SEQUENCE
    return items;
}

ossl::UniqueAsn1Sequence sequence(const ASN1_TYPE* item)
{
    if (!isA(item, V_ASN1_SEQUENCE))
        return {};
    return sequence(bytes(item));
}

int count(const ASN1_SEQUENCE_ANY* items)
{
    return items != nullptr ? sk_ASN1_TYPE_num(items) : 0;
}

const ASN1_TYPE* at(const ASN1_SEQUENCE_ANY* items, int index)
{
    return index >= 0 && index < count(items) ? sk_ASN1_TYPE_value(items, index) : nullptr;
}

bool isA(const ASN1_TYPE* item, int type)
{
    return item != nullptr && item->type == type;
}

QByteArrayView bytes(const ASN1_STRING* string)
{
    if (string == nullptr)
        return {};
    return QByteArrayView(ASN1_STRING_get0_data(string), ASN1_STRING_length(string));
}

QByteArrayView bytes(const ASN1_TYPE* item)
{
    if (item == nullptr || item->type == V_ASN1_BOOLEAN || item->type == V_ASN1_NULL ||
        item->type == V_ASN1_OBJECT)
        return {};
    return bytes(item->value.asn1_string);
}

QByteArray der(const ASN1_TYPE* item)
{
    return ossl::encoded(i2d_ASN1_TYPE, item);
}

QString oidText(const ASN1_OBJECT* object)
{
    if (object == nullptr || OBJ_length(object) <= 0 || OBJ_length(object) > kMaxOidOctets)
        return {};
    char buffer[4 * kMaxOidOctets];
    const int length = OBJ_obj2txt(buffer, sizeof buffer, object, 1);
    if (length <= 0 || length >= static_cast<int>(sizeof buffer))
        return {};
    return QString::fromLatin1(buffer, length);
}

QString oidText(const ASN1_TYPE* item)
{
    return isA(item, V_ASN1_OBJECT) ? oidText(item->value.object) : QString();
}

QByteArray element(char tag, const QByteArray& content)
{
    QByteArray length;
    if (content.size() < 0x80) {
        length.append(static_cast<char>(content.size()));
    } else {
        for (qsizetype rest = content.size(); rest > 0; rest >>= 8)
            length.prepend(static_cast<char>(rest & 0xFF));
        length.prepend(static_cast<char>(0x80 | length.size()));
    }
    return tag + length + content;
}

} // namespace selavia::signature::asn1
