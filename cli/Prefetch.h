#pragma once

// --prefetch: fills the revocation cache with what a list of signed files
// needs (revocation lists, issuers' certificates, lists of policies), each
// fetched once, so that a run elsewhere with --offline and a copy of the
// cache, read-only, answers as a run online would.

#include "cli/Arguments.h"
#include "cli/InputLines.h"
#include "verify/LoadOptions.h"

#include <QTextStream>

namespace selavia::cli {

// Verifies the arguments' files (or the paths of `in` for "-") only to
// fetch what they need into the cache of `load`, printing one line per
// address fetched, and in `err` one per address that did not answer and
// each file whose certificates were not all answered for. Returns the exit status: 0 when every
// file was read and answered for, 1 when not, 73 when the cache cannot be written.
int runPrefetch(const Arguments& arguments, verify::LoadOptions load, const ByteSource& in,
                QTextStream& out, QTextStream& err);

// The line printed for a fetch of `kind` at `url` that ended with
// `failure` (empty when answered).
QString fetchedLine(revocation::FetchKind kind, const QByteArray& url, const QString& failure);

} // namespace selavia::cli
