#pragma once

// Which changes made after a PDF signature that signature allows.

#include "platform/pdf/PdfFacts.h"

#include <optional>
#include <vector>

namespace selavia::verify {

// Whether `change` is allowed after a signature made under certification
// level `level` (nullopt: no certifying signature before it, so an
// approval signature's rules), with `locks` (the field locks of it and of
// the signatures before it). Validation data, document time-stamps,
// metadata and signatures into fields left empty for them are allowed to
// everyone; form filling and new signature fields from level 2, and under
// approval signatures; annotations and other new fields at level 3 and
// under approval signatures; a locked field's value never; anything that
// changes pages, their content or objects already signed never.
bool changeAllowed(const pdf::PdfChange& change, std::optional<int> level,
                   const std::vector<pdf::FieldLock>& locks);

} // namespace selavia::verify
