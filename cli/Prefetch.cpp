#include "cli/Prefetch.h"

#include "cli/ExitStatus.h"
#include "cli/InOrder.h"
#include "cli/WaitNotices.h"
#include "fileinfo/PathText.h"
#include "platform/revocation/Cache.h"
#include "platform/revocation/RevocationService.h"
#include "verify/Verification.h"

#include <QThread>
#include <memory>
#include <mutex>
#include <set>

namespace selavia::cli {
namespace {

using fileinfo::printableText;

// Why a file's certificates were not all answered for; empty when they were.
QString unanswered(const verify::ValidationResult& result)
{
    if (!result.verified())
        return QStringLiteral("%1 não pôde ser lido: nada foi buscado para ele.\n")
            .arg(printableText(result.filePath));
    // A signer's own certificate: an authority's may name no list at all.
    for (const verify::SignatureResult& signer : result.signers) {
        if (signer.status.revocation.state == signature::RevocationState::Unknown)
            return QStringLiteral("%1: não foi possível obter a situação de revogação do "
                                  "certificado de %2.\n")
                .arg(printableText(result.filePath), printableText(signer.holderName));
    }
    return {};
}

} // namespace

QString fetchedLine(revocation::FetchKind kind, const QByteArray& url, const QString& failure)
{
    const QString fetched =
        QStringLiteral("%1: %2").arg(fetchKindText(kind), printableText(QString::fromLatin1(url)));
    return failure.isEmpty()
               ? fetched + QLatin1Char('\n')
               : QStringLiteral("Sem resposta: %1 (%2)\n").arg(fetched, printableText(failure));
}

int runPrefetch(const Arguments& arguments, verify::LoadOptions load, const ByteSource& in,
                QTextStream& out, QTextStream& err)
{
    revocation::Settings& settings = load.revocation;
    if (settings.offline) {
        err << QStringLiteral("--prefetch precisa da rede, e SELAVIA_OFFLINE=1 a proíbe.\n");
        err.flush();
        return exit_status::kUsage;
    }
    const revocation::Cache cache(settings.cacheFolder, settings.cacheCapBytes);
    if (!cache.usable() || cache.shared()) {
        err << QStringLiteral("A pasta da cache %1 não pode ser gravada: nada foi buscado.\n")
                   .arg(printableText(settings.cacheFolder));
        err.flush();
        return exit_status::kCannotWrite;
    }
    settings.refresh = revocation::sharedFetches();
    // Each address once, as its fetch ends, on standard output when it
    // answered and on standard error when not; workers print through here.
    auto printing = std::make_shared<std::mutex>();
    auto seen = std::make_shared<std::set<QByteArray>>();
    settings.watchFetch = [printing, seen, &out, &err](const QByteArray& url,
                                                       revocation::FetchKind kind) {
        return [printing, seen, &out, &err, url, kind](const QString& failure) {
            const std::lock_guard lock(*printing);
            if (!seen->insert(url).second)
                return;
            QTextStream& stream = failure.isEmpty() ? out : err;
            stream << fetchedLine(kind, url, failure);
            stream.flush();
        };
    };
    load.sumSignedFile = false;

    InputLines lines(in);
    qsizetype next = 0;
    const QStringList& files = arguments.files;
    const std::function<std::optional<InputLine>()> source = [&]() -> std::optional<InputLine> {
        while (next < files.size()) {
            if (files[next] != QLatin1String("-"))
                return InputLine{files[next++], {}};
            if (std::optional<InputLine> line = lines.next())
                return line;
            ++next;
        }
        return std::nullopt;
    };
    int status = exit_status::kSignaturesOk;
    runInOrder<InputLine, QString>(
        source, QThread::idealThreadCount(),
        [&](InputLine& line) -> QString {
            if (!line.problem.isEmpty())
                return line.problem;
            try {
                verify::Verification verification(load);
                verification.readFile(line.path);
                return unanswered(verification.run());
            } catch (const std::exception&) {
                return QStringLiteral("Erro interno ao ler %1.\n").arg(printableText(line.path));
            }
        },
        [&](QString& problem) {
            if (problem.isEmpty())
                return;
            const std::lock_guard lock(*printing);
            err << problem;
            err.flush();
            status = exit_status::kNotAllValid;
        });
    return status;
}

} // namespace selavia::cli
