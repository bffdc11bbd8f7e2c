#include "cli/OutputNames.h"

#include "fileinfo/PathText.h"

#include <QDir>
#include <climits>
#include <unistd.h>

namespace selavia::cli {
namespace {

QString outputText(OutputKind kind)
{
    return kind == OutputKind::Document ? QStringLiteral("o documento original")
                                        : QStringLiteral("o relatório");
}

} // namespace

QString comparablePath(const QString& path)
{
    if (path.startsWith(QLatin1Char('/')))
        return QDir::cleanPath(path);
    char current[PATH_MAX];
    const QString folder = ::getcwd(current, sizeof current) != nullptr
                               ? fileinfo::decodePath(current)
                               : QStringLiteral(".");
    return QDir::cleanPath(folder + QLatin1Char('/') + path);
}

QString OutputNames::claim(const QString& path, OutputKind kind, const QString& signedFile)
{
    const std::lock_guard lock(mutex_);
    const auto [found, fresh] = taken_.emplace(comparablePath(path), Owner{kind, signedFile});
    if (fresh)
        return {};
    const Owner& owner = found->second;
    return QStringLiteral("Não foi gravado %1 de %2: %3 já é %4 de %5 nesta execução.\n")
        .arg(outputText(kind), fileinfo::printableText(signedFile), fileinfo::printableText(path),
             outputText(owner.kind), fileinfo::printableText(owner.signedFile));
}

} // namespace selavia::cli
