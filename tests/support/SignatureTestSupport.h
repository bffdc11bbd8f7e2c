#pragma once

// What the tests of the signature layer share: fixture bytes as Qt bytes,
// and trust stores holding just the roots a test names.

#include "platform/signature/TrustStore.h"
#include "tools/fixtures/FixtureBuilder.h"

#include <QByteArray>
#include <initializer_list>

namespace selavia::testing {

inline QByteArray bytes(const fixtures::Bytes& raw)
{
    return QByteArray::fromStdString(raw);
}

inline signature::TrustStore storeTrusting(std::initializer_list<const fixtures::Cert*> roots)
{
    signature::TrustStore store = signature::TrustStore::empty();
    for (const fixtures::Cert* root : roots)
        store.addTrusted(bytes(root->der()));
    return store;
}

} // namespace selavia::testing
