#include "cli/VerifyCommand.h"

#include "cli/Arguments.h"
#include "cli/InOrder.h"
#include "cli/OutputNames.h"
#include "cli/Prefetch.h"
#include "cli/Resume.h"
#include "cli/WaitNotices.h"
#include "fileinfo/PathText.h"
#include "verify/Verification.h"

#include <QFileInfo>
#include <QJsonDocument>
#include <QThread>
#include <atomic>
#include <unistd.h>

namespace selavia::cli {
namespace {

using fileinfo::printableText;
using verify::ValidationResult;

QString alreadyThere(const QString& path)
{
    return QStringLiteral("Não foi gravado: %1 já existe (use --force para substituir).\n")
        .arg(printableText(path));
}

// `name` in `folder`, joined as text: nothing of it is looked up.
QString inFolder(const QString& folder, const QString& name)
{
    if (folder.isEmpty() || folder.endsWith(QLatin1Char('/')))
        return folder + name;
    return folder + QLatin1Char('/') + name;
}

// What one file asks to be written, and where.
struct Targets {
    QString extractPath; // the original document's path, or its folder
    // In a folder, named by the verified result; set with a folder path.
    std::function<QString(const ValidationResult&)> extractName;
    QString reportPath;
    bool reportClaimed = false; // its name was claimed for it already
    QString refused; // why no report is written for this file (its name taken in this run)
};

// What every file of a run shares.
struct Run {
    const Arguments& arguments;
    const verify::LoadOptions& load;
    const ReportSupport& reports;
    OutputNames names;
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
        err << QStringLiteral("Não foi possível gravar %1: %2\n")
                   .arg(printableText(path), failure->text());
    return true;
}

// Verifies the file and, when asked and allowed, writes the original
// document from the verifying read; a refusal or a failure to write is told
// in `err` and makes `refused` true.
ValidationResult verifyAndExtract(const QString& file, const Targets& targets, Run& run,
                                  QTextStream& err, bool& refused)
{
    refused = false;
    const bool force = run.arguments.force;
    verify::Verification verification(run.load);
    verification.readFile(file);
    const bool intoFolder = static_cast<bool>(targets.extractName);
    if (targets.extractPath.isEmpty())
        return verification.run();
    if (!intoFolder) {
        const QString taken = run.names.claim(targets.extractPath, OutputKind::Document, file);
        if (!taken.isEmpty() || (!force && fileinfo::EntryMayExist(targets.extractPath))) {
            ValidationResult result = verification.run();
            if (result.verified()) {
                err << (taken.isEmpty() ? alreadyThere(targets.extractPath) : taken);
                refused = true;
            }
            return result;
        }
    }
    // Without --force nothing that appears meanwhile is replaced; with it,
    // the entry itself is, never what a link there points to.
    const fileinfo::Replace replace = force ? fileinfo::Replace::Entry : fileinfo::Replace::Never;
    // The name in the folder is known only once verified, and claimed then.
    QString written = targets.extractPath;
    QString taken;
    if (intoFolder)
        verification.extractInto(
            targets.extractPath,
            [&](const ValidationResult& result) {
                const QString name = targets.extractName(result);
                written = inFolder(targets.extractPath, name);
                taken = run.names.claim(written, OutputKind::Document, file);
                return taken.isEmpty() ? name : QString();
            },
            replace);
    else
        verification.extractTo(targets.extractPath, replace);
    ValidationResult result = verification.run();
    if (!taken.isEmpty()) {
        err << taken;
        refused = true;
        return result;
    }
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

Outcome verifyOne(const QString& file, const Targets& targets, Run& run,
                  QJsonDocument::JsonFormat format)
{
    Outcome outcome;
    QTextStream err(&outcome.err);
    bool refused = false;
    const ValidationResult result = verifyAndExtract(file, targets, run, err, refused);
    const QString taken = targets.reportClaimed || targets.reportPath.isEmpty()
                              ? targets.refused
                              : run.names.claim(targets.reportPath, OutputKind::Report, file);
    if (!taken.isEmpty()) {
        err << taken;
        refused = true;
    } else if (!targets.reportPath.isEmpty()) {
        refused =
            !writeReportOf(result, targets.reportPath, run.arguments.force, run.reports, err) ||
            refused;
    }
    outcome.out = run.arguments.json
                      ? QString::fromUtf8(QJsonDocument(jsonReport(result)).toJson(format))
                      : textReport(result);
    if (format == QJsonDocument::Compact)
        outcome.out += QLatin1Char('\n');
    outcome.status = exitStatusOf(result);
    if (!targets.extractPath.isEmpty() && !result.verified())
        err << QStringLiteral("Nada foi extraído: a verificação falhou.\n");
    if (refused)
        outcome.status = exit_status::kCannotWrite;
    return outcome;
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

// One file of a list, with where its outputs go.
struct Item {
    QString file;
    QString problem; // no file: a line of standard input that is no path
    Targets targets;
};

// A file's targets in the folders. Its report's name is known at once and
// claimed now, in the order of the list; its document's once verified.
Targets folderTargets(const QString& file, Run& run)
{
    Targets targets;
    const Arguments& arguments = run.arguments;
    if (!arguments.extractPath.isEmpty()) {
        targets.extractPath = arguments.extractPath;
        targets.extractName = [file](const ValidationResult& result) {
            return extractedName(file, result);
        };
    }
    if (!arguments.reportPath.isEmpty()) {
        targets.reportPath = inFolder(arguments.reportPath, run.reports.fileName(file));
        targets.refused = run.names.claim(targets.reportPath, OutputKind::Report, file);
        targets.reportClaimed = true;
    }
    return targets;
}

// The folders of --extract and --report, made when missing; false, told in
// `err`, when one cannot be.
bool makeFolders(const Arguments& arguments, QTextStream& err)
{
    for (const QString& folder : {arguments.extractPath, arguments.reportPath}) {
        if (!folder.isEmpty() && !fileinfo::MakeFolders(folder)) {
            err << QStringLiteral("Não foi possível criar a pasta %1.\n")
                       .arg(printableText(folder));
            return false;
        }
    }
    return true;
}

// The files of the arguments in their order, "-" standing for the lines of
// `in`, each read only when asked for.
std::function<std::optional<Item>()> itemsOf(const QStringList& files, const ByteSource& in,
                                             Run& run)
{
    auto lines = std::make_shared<InputLines>(in);
    auto next = std::make_shared<qsizetype>(0);
    return [files, lines, next, &run]() -> std::optional<Item> {
        while (*next < files.size()) {
            const QString& file = files[*next];
            if (file != QLatin1String("-")) {
                ++*next;
                return Item{file, {}, folderTargets(file, run)};
            }
            std::optional<InputLine> line = lines->next();
            if (!line) {
                ++*next;
                continue;
            }
            if (!line->problem.isEmpty())
                return Item{{}, line->problem, {}};
            return Item{line->path, {}, folderTargets(line->path, run)};
        }
        return std::nullopt;
    };
}

int verifyMany(const QStringList& files, const ByteSource& in, Run& run, QTextStream& out,
               QTextStream& err, WaitNotices& notices)
{
    if (!makeFolders(run.arguments, err))
        return exit_status::kCannotWrite;
    std::unique_ptr<ResumeFile> resume;
    if (!run.arguments.resumePath.isEmpty()) {
        QString problem;
        resume = ResumeFile::open(run.arguments.resumePath, problem);
        if (!resume) {
            err << problem << '\n';
            err.flush();
            return exit_status::kCannotWrite;
        }
    }
    int status = exit_status::kSignaturesOk;
    bool first = true;
    // Once a line cannot be appended, nothing more is taken: what follows
    // would be verified for nothing.
    std::atomic<bool> stopped = false;
    const std::function<std::optional<Item>()> items = itemsOf(files, in, run);
    runInOrder<Item, Outcome>(
        [&]() -> std::optional<Item> { return stopped ? std::nullopt : items(); },
        QThread::idealThreadCount(),
        [&](Item& item) {
            if (!item.problem.isEmpty())
                return Outcome{{}, item.problem, exit_status::kVerificationFailed};
            if (resume) {
                if (const std::optional<int> done = resume->done(item.file))
                    return Outcome{{}, {}, *done};
            }
            try {
                return verifyOne(item.file, item.targets, run, QJsonDocument::Compact);
            } catch (const std::exception&) {
                // Out of memory, say: this file fails, the others go on.
                return Outcome{
                    {},
                    QStringLiteral("Erro interno ao verificar %1.\n").arg(printableText(item.file)),
                    exit_status::kVerificationFailed};
            }
        },
        [&](Outcome& outcome) {
            notices.outside([&] {
                if (resume && !outcome.out.isEmpty()) {
                    if (!resume->append(outcome.out.toUtf8())) {
                        outcome.err += QStringLiteral("Não foi possível gravar em %1.\n")
                                           .arg(printableText(run.arguments.resumePath));
                        outcome.status = exit_status::kCannotWrite;
                        stopped = true;
                    }
                } else if (!outcome.out.isEmpty()) {
                    if (!first && !run.arguments.json)
                        out << '\n';
                    first = false;
                    out << outcome.out;
                    out.flush();
                }
                err << outcome.err;
                err.flush();
            });
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
        arguments << fileinfo::decodePath(argv[i]);
    return arguments;
}

int runOnStandardStreams(const QStringList& arguments, const ReportSupport& reports)
{
    QTextStream out(stdout);
    QTextStream err(stderr);
    Terminal terminal;
    terminal.errIsTerminal = ::isatty(STDERR_FILENO) == 1;
    return runVerifyCommand(arguments, out, err, {}, descriptorSource(STDIN_FILENO), reports,
                            terminal);
}

bool asksForReport(const QStringList& arguments)
{
    QString problem;
    const std::optional<Arguments> parsed = parseArguments(arguments, problem);
    return parsed && !parsed->informational() && !parsed->reportPath.isEmpty();
}

int runVerifyCommand(const QStringList& arguments, QTextStream& out, QTextStream& err,
                     const LoadOptionsSource& loadOptions, const ByteSource& in,
                     const ReportSupport& reports, const Terminal& terminal)
{
    QString problem;
    const std::optional<Arguments> parsed = parseArguments(arguments, problem);
    if (!parsed) {
        err << printableText(problem) << QStringLiteral("\n\n") << usageText();
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
    if (parsed->prefetch)
        return runPrefetch(*parsed, std::move(load), in, out, err);
    load.detachedContentPath = parsed->contentPath;
    load.at = parsed->at;
    // The signed file's own SHA-256 is in every output, from the same read.
    load.sumSignedFile = true;
    // The JSON and the report say what the file was judged against.
    load.nameTrust = parsed->json || !parsed->reportPath.isEmpty();
    WaitNotices notices(
        [&err](const QString& text) {
            err << text;
            err.flush();
        },
        terminal.errIsTerminal && !load.revocation.offline, terminal.clock);
    load.revocation.watchFetch = notices.watch();
    std::shared_ptr<void> rendering;
    if (!parsed->reportPath.isEmpty() && reports.prepare)
        rendering = reports.prepare();
    Run run{*parsed, load, reports, {}};
    notices.startTicking();
    if (parsed->batch())
        return verifyMany(parsed->files, in, run, out, err, notices);
    const Targets targets{parsed->extractPath, {}, parsed->reportPath, false, {}};
    const Outcome outcome = verifyOne(parsed->files.first(), targets, run, QJsonDocument::Indented);
    notices.stopTicking();
    out << outcome.out;
    out.flush();
    err << outcome.err;
    err.flush();
    return outcome.status;
}

} // namespace selavia::cli
