#include "cli/VerifyCommand.h"

#include "cli/Arguments.h"
#include "cli/InOrder.h"
#include "verify/Verification.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QThread>
#include <map>

namespace selavia::cli {
namespace {

using verify::ValidationResult;

QString alreadyThere(const QString& path)
{
    return QStringLiteral("Não foi gravado: %1 já existe (use --force para substituir).\n")
        .arg(path);
}

// What one file asks to be written, and where.
struct Targets {
    QString extractPath; // the original document's path
    // In a folder, named by the verified result; set with a folder path.
    std::function<QString(const ValidationResult&)> extractName;
    QString reportPath;
    QString refused; // why nothing is written for this file (a name taken in this run)
};

// Tells a failure to write `path`; true when it was one.
bool toldFailure(const std::optional<fileinfo::FileError>& failure, const QString& path,
                 QTextStream& err)
{
    if (!failure)
        return false;
    if (failure->number == fileinfo::error_number::kFileExists)
        err << alreadyThere(path);
    else
        err << QStringLiteral("Não foi possível gravar %1: %2\n").arg(path, failure->text());
    return true;
}

// Verifies the file and, when asked and allowed, writes the original
// document from the verifying read; a refusal or a failure to write is told
// in `err` and makes `refused` true.
ValidationResult verifyAndExtract(const QString& file, const Targets& targets, bool force,
                                  const verify::LoadOptions& load, QTextStream& err, bool& refused)
{
    refused = false;
    verify::Verification verification(load);
    verification.readFile(file);
    const bool intoFolder = static_cast<bool>(targets.extractName);
    if (targets.extractPath.isEmpty())
        return verification.run();
    if (!force && !intoFolder && fileinfo::EntryMayExist(targets.extractPath)) {
        ValidationResult result = verification.run();
        if (result.verified()) {
            err << alreadyThere(targets.extractPath);
            refused = true;
        }
        return result;
    }
    // Without --force nothing that appears meanwhile is replaced; with it,
    // the entry itself is, never what a link there points to.
    const fileinfo::Replace replace = force ? fileinfo::Replace::Entry : fileinfo::Replace::Never;
    if (intoFolder)
        verification.extractInto(targets.extractPath, targets.extractName, replace);
    else
        verification.extractTo(targets.extractPath, replace);
    ValidationResult result = verification.run();
    const QString written = intoFolder && result.verified()
                                ? QDir(targets.extractPath).filePath(targets.extractName(result))
                                : targets.extractPath;
    refused = toldFailure(result.outputFailure, written, err);
    return result;
}

// Writes the report of `result`; false, told in `err`, when it could not be.
bool writeReportOf(const ValidationResult& result, const QString& path, bool force,
                   const ReportSupport& reports, QTextStream& err)
{
    if (!force && fileinfo::EntryMayExist(path)) {
        err << alreadyThere(path);
        return false;
    }
    return !toldFailure(
        reports.write(result, path, force ? fileinfo::Replace::Entry : fileinfo::Replace::Never),
        path, err);
}

// One file's report and problems, and its exit status.
struct Outcome {
    QString out;
    QString err;
    int status = exit_status::kSignaturesOk;
};

Outcome verifyOne(const QString& file, const Targets& targets, const Arguments& arguments,
                  const verify::LoadOptions& load, const ReportSupport& reports,
                  QJsonDocument::JsonFormat format)
{
    Outcome outcome;
    QTextStream err(&outcome.err);
    if (!targets.refused.isEmpty())
        err << targets.refused;
    const Targets none;
    bool refused = false;
    const ValidationResult result = verifyAndExtract(
        file, targets.refused.isEmpty() ? targets : none, arguments.force, load, err, refused);
    if (!targets.reportPath.isEmpty() && targets.refused.isEmpty())
        refused =
            !writeReportOf(result, targets.reportPath, arguments.force, reports, err) || refused;
    outcome.out = arguments.json
                      ? QString::fromUtf8(QJsonDocument(jsonReport(result)).toJson(format))
                      : textReport(result);
    if (format == QJsonDocument::Compact)
        outcome.out += QLatin1Char('\n');
    outcome.status = exitStatusOf(result);
    if (!targets.extractPath.isEmpty() && !result.verified())
        err << QStringLiteral("Nada foi extraído: a verificação falhou.\n");
    if (refused || !targets.refused.isEmpty())
        outcome.status = exit_status::kCannotWrite;
    return outcome;
}

// The paths of standard input, one per line; blank lines are skipped.
QStringList pathsFrom(QTextStream* in)
{
    QStringList paths;
    QString line;
    while (in != nullptr && in->readLineInto(&line)) {
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        if (!line.isEmpty())
            paths << line;
    }
    return paths;
}

// The original document of a file in a folder: the signed file's name with
// the original's extension ("processo.slv" holding "peticao.pdf" gives
// "processo.pdf").
QString extractedName(const QString& signedFile, const ValidationResult& result)
{
    const QString base = QFileInfo(signedFile).completeBaseName();
    const QString suffix =
        result.hasExtension ? QFileInfo(result.originalName).suffix() : QString();
    return suffix.isEmpty() ? base : base + QLatin1Char('.') + suffix;
}

// Each file's targets in the folders; a file whose name another file of the
// list took before it writes nothing, whatever --force says.
std::vector<Targets> folderTargets(const QStringList& files, const Arguments& arguments,
                                   const ReportSupport& reports)
{
    std::vector<Targets> all;
    std::map<QString, QString> claimed; // signed file's base name → the file that took it
    for (const QString& file : files) {
        Targets targets;
        const QString base = QFileInfo(file).completeBaseName();
        auto [first, fresh] = claimed.emplace(base, file);
        if (!fresh && (!arguments.extractPath.isEmpty() || !arguments.reportPath.isEmpty()))
            targets.refused = QStringLiteral("Não foi gravado: o nome de %1 já é o de %2, "
                                             "dado antes.\n")
                                  .arg(file, first->second);
        if (!arguments.extractPath.isEmpty()) {
            targets.extractPath = arguments.extractPath;
            targets.extractName = [file](const ValidationResult& result) {
                return extractedName(file, result);
            };
        }
        if (!arguments.reportPath.isEmpty())
            targets.reportPath = QDir(arguments.reportPath).filePath(reports.fileName(file));
        all.push_back(std::move(targets));
    }
    return all;
}

// The folders of --extract and --report, made when missing; false, told in
// `err`, when one cannot be.
bool makeFolders(const Arguments& arguments, QTextStream& err)
{
    for (const QString& folder : {arguments.extractPath, arguments.reportPath}) {
        if (!folder.isEmpty() && !QDir().mkpath(folder)) {
            err << QStringLiteral("Não foi possível criar a pasta %1.\n").arg(folder);
            return false;
        }
    }
    return true;
}

int verifyMany(const QStringList& files, const Arguments& arguments,
               const verify::LoadOptions& load, const ReportSupport& reports, QTextStream& out,
               QTextStream& err)
{
    if (!makeFolders(arguments, err))
        return exit_status::kCannotWrite;
    const std::vector<Targets> targets = folderTargets(files, arguments, reports);
    int status = exit_status::kSignaturesOk;
    runInOrder<Outcome>(
        static_cast<int>(files.size()), QThread::idealThreadCount(),
        [&](int n) {
            const auto index = static_cast<size_t>(n);
            try {
                return verifyOne(files[n], targets[index], arguments, load, reports,
                                 QJsonDocument::Compact);
            } catch (const std::exception&) {
                // Out of memory, say: this file fails, the others go on.
                return Outcome{{},
                               QStringLiteral("Erro interno ao verificar %1.\n").arg(files[n]),
                               exit_status::kVerificationFailed};
            }
        },
        [&](int n, Outcome& outcome) {
            if (n > 0 && !arguments.json)
                out << '\n';
            out << outcome.out;
            out.flush();
            err << outcome.err;
            err.flush();
            status = std::max(status, outcome.status);
        });
    return status;
}

} // namespace

int exitStatusOf(const ValidationResult& result)
{
    if (!result.verified())
        return exit_status::kVerificationFailed;
    return result.acceptedAsIcpBrasil() ? exit_status::kSignaturesOk : exit_status::kNotAllValid;
}

QStringList argumentsOf(int argc, char* argv[])
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    return arguments;
}

int runOnStandardStreams(const QStringList& arguments, const ReportSupport& reports)
{
    QTextStream out(stdout);
    QTextStream err(stderr);
    QTextStream in(stdin);
    return runVerifyCommand(arguments, out, err, {}, &in, reports);
}

bool asksForReport(const QStringList& arguments)
{
    QString problem;
    const std::optional<Arguments> parsed = parseArguments(arguments, problem);
    return parsed && !parsed->informational() && !parsed->reportPath.isEmpty();
}

int runVerifyCommand(const QStringList& arguments, QTextStream& out, QTextStream& err,
                     const LoadOptionsSource& loadOptions, QTextStream* in,
                     const ReportSupport& reports)
{
    QString problem;
    const std::optional<Arguments> parsed = parseArguments(arguments, problem);
    if (!parsed) {
        err << problem << QStringLiteral("\n\n") << usageText();
        err.flush();
        return exit_status::kUsage;
    }
    if (parsed->informational()) {
        out << (parsed->help ? usageText() : versionText());
        out.flush();
        return exit_status::kSignaturesOk;
    }
    if (!parsed->reportPath.isEmpty() && !reports.write) {
        err << QStringLiteral("Não é possível gerar relatórios: o gerador de relatórios não foi "
                              "encontrado.\n");
        err.flush();
        return exit_status::kCannotWrite;
    }
    // Made only now, so that --help, --version and a usage error never read
    // the system's trust store.
    verify::LoadOptions load = loadOptions ? loadOptions() : verify::LoadOptions();
    load.revocation.offline = load.revocation.offline || parsed->offline;
    load.detachedContentPath = parsed->contentPath;
    // Only a report pays for a summed file and for what rendering needs.
    load.sumSignedFile = !parsed->reportPath.isEmpty();
    std::shared_ptr<void> rendering;
    if (!parsed->reportPath.isEmpty() && reports.prepare)
        rendering = reports.prepare();
    if (parsed->batch()) {
        QStringList files;
        for (const QString& file : parsed->files)
            files << (file == QLatin1String("-") ? pathsFrom(in) : QStringList{file});
        return verifyMany(files, *parsed, load, reports, out, err);
    }
    const Targets targets{parsed->extractPath, {}, parsed->reportPath, {}};
    const Outcome outcome =
        verifyOne(parsed->files.first(), targets, *parsed, load, reports, QJsonDocument::Indented);
    out << outcome.out;
    out.flush();
    err << outcome.err;
    err.flush();
    return outcome.status;
}

} // namespace selavia::cli
