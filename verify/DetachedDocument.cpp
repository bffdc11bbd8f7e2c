#include "verify/DetachedDocument.h"

#include "fileinfo/FileHandler.h"
#include "platform/signature/SignatureError.h"

namespace selavia::verify {
namespace {

const QString kDetachedSuffix = QStringLiteral(".p7s");

bool namesDetachedSignature(const QString& path)
{
    // A file named ".p7s" alone names no document.
    const QString name = path.section(QLatin1Char('/'), -1);
    return name.size() > kDetachedSuffix.size() &&
           name.endsWith(kDetachedSuffix, Qt::CaseInsensitive);
}

} // namespace

QString documentBeside(const QString& signaturePath)
{
    if (!namesDetachedSignature(signaturePath))
        return {};
    const QString document = signaturePath.chopped(kDetachedSuffix.size());
    return fileinfo::FileExists(document) ? document : QString();
}

bool needsDetachedDocument(const ValidationResult& result)
{
    return result.error &&
           result.error->codeText ==
               signature::signedDecimalText(signature::code::kDetachedContent) &&
           namesDetachedSignature(result.filePath);
}

} // namespace selavia::verify
