#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <optional>
#include <vector>

namespace selavia::signature {

// One otherName of a subject alternative name: ICP-Brasil writes the
// holder's data in entries of this kind (2.16.76.1.3.1 and others).
struct OtherNameEntry {
    QString oid;    // the type identifier, dotted
    QByteArray der; // the entry's DER: SEQUENCE { type-id, [0] value }
};

// The otherName entries of `generalNames` (the DER value of a subject
// alternative name extension), in order; nullopt when it does not parse.
std::optional<std::vector<OtherNameEntry>> otherNames(QByteArrayView generalNames);

} // namespace selavia::signature
