#pragma once

#include <QByteArrayView>
#include <QDateTime>
#include <QString>
#include <optional>

typedef struct asn1_string_st ASN1_STRING;
typedef struct asn1_type_st ASN1_TYPE;

namespace selavia::signature::text {

// The text an OCTET STRING holds: UTF-16LE when it looks like it (the
// signing suite writes names that way), UTF-8 otherwise.
QString decodeOctetText(QByteArrayView bytes);

// A text attribute value in any of the string types signing tools write;
// nullopt for types that hold no text.
std::optional<QString> decodeTextValue(const ASN1_TYPE* value);

// A UTCTime or GeneralizedTime, in UTC; invalid when malformed.
QDateTime decodeTime(const ASN1_STRING* time);

// An ASN1 string converted to UTF-8 by OpenSSL, as a QString.
QString toQString(const ASN1_STRING* string);

} // namespace selavia::signature::text
