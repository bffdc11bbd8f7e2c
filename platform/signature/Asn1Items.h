#pragma once

// Small readers over DER for the CAdES attributes, whose types OpenSSL does
// not expose: a SEQUENCE is split into its elements (each parsed as ANY, so
// inner SEQUENCEs keep their encoding and are split again only when asked).

#include "OpenSslHandles.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

namespace selavia::signature::asn1 {

// The elements of `der`, which must be exactly one SEQUENCE; null otherwise.
ossl::UniqueAsn1Sequence sequence(QByteArrayView der);
// The elements of an element that is a SEQUENCE; null for any other type.
ossl::UniqueAsn1Sequence sequence(const ASN1_TYPE* item);

int count(const ASN1_SEQUENCE_ANY* items);
// Element `index`, or null past the end.
const ASN1_TYPE* at(const ASN1_SEQUENCE_ANY* items, int index);
bool isA(const ASN1_TYPE* item, int type);

// The bytes of a string-typed element (for a SEQUENCE its whole encoding).
QByteArrayView bytes(const ASN1_STRING* string);
QByteArrayView bytes(const ASN1_TYPE* item);
// The DER of any element.
QByteArray der(const ASN1_TYPE* item);
// One DER element: `tag`, the definite length of `content`, `content`.
QByteArray element(char tag, const QByteArray& content);

// The dotted form of an OID; empty when absent or absurdly long.
QString oidText(const ASN1_OBJECT* object);
// An element that is an OID, in dotted form; empty otherwise.
QString oidText(const ASN1_TYPE* item);

} // namespace selavia::signature::asn1
