#include "verify/PdfChangeRules.h"

#include <algorithm>

namespace selavia::verify {
namespace {

bool locks(const pdf::FieldLock& lock, const QString& field)
{
    switch (lock.action) {
    case pdf::FieldLock::Action::All:
        return true;
    case pdf::FieldLock::Action::Include:
        return lock.fields.contains(field);
    case pdf::FieldLock::Action::Exclude:
        return !lock.fields.contains(field);
    }
    return true;
}

bool locked(const QString& field, const std::vector<pdf::FieldLock>& all)
{
    return std::any_of(all.begin(), all.end(),
                       [&](const pdf::FieldLock& lock) { return locks(lock, field); });
}

} // namespace

bool changeAllowed(const pdf::PdfChange& change, std::optional<int> level,
                   const std::vector<pdf::FieldLock>& locks)
{
    using Kind = pdf::PdfChange::Kind;
    const bool approval = !level.has_value();
    const int p = level.value_or(0);
    switch (change.kind) {
    case Kind::Dss:
    case Kind::DocumentTimeStamp:
    case Kind::Metadata:
    case Kind::TrailingData:
    case Kind::Signature:
        return true;
    case Kind::NewSignatureField:
        return approval || p >= 2;
    case Kind::FormFill:
        return (approval || p >= 2) && !locked(change.field, locks);
    case Kind::NewFormField:
    case Kind::Annotation:
        return approval || p == 3;
    case Kind::PageContent:
    case Kind::Pages:
    case Kind::Catalog:
    case Kind::Redefined:
    case Kind::Freed:
    case Kind::SignatureValue:
        break;
    }
    return false;
}

} // namespace selavia::verify
