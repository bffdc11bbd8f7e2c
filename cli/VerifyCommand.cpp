#include "cli/VerifyCommand.h"

#include "cli/InOrder.h"
#include "fileinfo/FileHandler.h"
#include "fileinfo/StagedFile.h"
#include "platform/signature/SignatureError.h"
#include "verify/CadesText.h"
#include "verify/TreeKeys.h"
#include "verify/VerdictFacts.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QThread>
#include <map>
#include <set>

namespace selavia::cli {
namespace {

using verify::VerifiedDocument;

const QString kUsage = QStringLiteral(
    "Uso: selavia-verify [--json] [--offline] [--extract CAMINHO] [--report CAMINHO]\n"
    "                    [--force] [--content DOCUMENTO] ARQUIVO...\n"
    "\n"
    "Verifica documentos assinados (.slv) e mostra o resultado: Aprovado,\n"
    "Reprovado ou Indeterminado, com os motivos.\n"
    "\n"
    "  --json              imprime o resultado como um objeto JSON; com vários\n"
    "                      arquivos, um objeto por linha\n"
    "  --offline           não consulta a rede (listas de certificados revogados,\n"
    "                      OCSP, certificados emissores); usa apenas a cópia local\n"
    "  --content DOCUMENTO ARQUIVO é uma assinatura destacada (.p7s) de DOCUMENTO\n"
    "  --extract CAMINHO   grava o documento original em CAMINHO\n"
    "  --report CAMINHO    grava o relatório de verificação (PDF) em CAMINHO\n"
    "  --force             substitui o que já existir em CAMINHO\n"
    "  -h, --help          mostra esta ajuda\n"
    "\n"
    "Vários ARQUIVOs, ou \"-\" para ler os caminhos da entrada padrão (um por\n"
    "linha): são verificados em paralelo e mostrados na ordem dada; --extract e\n"
    "--report recebem então uma pasta, onde cada arquivo grava o seu com o nome\n"
    "do arquivo assinado.\n"
    "\n"
    "Saída: 0 documento íntegro e todas as assinaturas válidas; 1 documento íntegro,\n"
    "mas nem todos os certificados são ICP-Brasil válidos; 2 verificação falhou;\n"
    "64 uso incorreto; 73 não foi possível gravar o documento extraído ou o\n"
    "relatório. Com vários arquivos, o maior dos códigos.\n");

struct Options {
    bool json = false;
    bool offline = false;
    bool force = false;
    bool help = false;
    QString extractPath;
    QString reportPath;
    QString contentPath; // the document of a detached signature
    QStringList files;   // "-" reads paths from standard input

    // Several files: folders for --extract and --report, one JSON object
    // per line. Decided by the arguments, not by how many paths "-" gives.
    bool batch() const { return files.size() > 1 || files.contains(QStringLiteral("-")); }
};

// An option that takes a value, and what the value is ("um caminho").
struct ValueOption {
    QString name;
    QString what;
};

// "--name VALUE" or "--name=VALUE" at `i`, which moves past the value; false
// when the argument is not that option. An empty value leaves `problem` set.
bool valueOption(const QStringList& arguments, qsizetype& i, const ValueOption& option,
                 QString& value, QString& problem)
{
    const QString& name = option.name;
    const QString& argument = arguments[i];
    if (argument.startsWith(name + QLatin1Char('='))) {
        value = argument.mid(name.size() + 1);
    } else if (argument == name) {
        if (i + 1 < arguments.size())
            value = arguments[++i];
    } else {
        return false;
    }
    if (value.isEmpty())
        problem = QStringLiteral("%1 precisa de %2.").arg(name, option.what);
    return true;
}

const ValueOption kExtract{QStringLiteral("--extract"), QStringLiteral("um caminho")};
const ValueOption kReport{QStringLiteral("--report"), QStringLiteral("um caminho")};
const ValueOption kContent{QStringLiteral("--content"), QStringLiteral("um documento")};

// nullopt with a message in `problem` when the arguments make no sense.
std::optional<Options> parseArguments(const QStringList& arguments, QString& problem)
{
    Options options;
    bool optionsEnded = false;
    for (qsizetype i = 0; i < arguments.size() && problem.isEmpty(); ++i) {
        const QString& argument = arguments[i];
        if (optionsEnded || argument == QLatin1String("-") ||
            !argument.startsWith(QLatin1Char('-')))
            options.files << argument;
        else if (argument == QLatin1String("--"))
            optionsEnded = true;
        else if (argument == QLatin1String("--json"))
            options.json = true;
        else if (argument == QLatin1String("--offline"))
            options.offline = true;
        else if (argument == QLatin1String("--force"))
            options.force = true;
        else if (argument == QLatin1String("-h") || argument == QLatin1String("--help"))
            options.help = true;
        else if (!valueOption(arguments, i, kExtract, options.extractPath, problem) &&
                 !valueOption(arguments, i, kReport, options.reportPath, problem) &&
                 !valueOption(arguments, i, kContent, options.contentPath, problem))
            problem = QStringLiteral("Opção desconhecida: %1").arg(argument);
    }
    if (!problem.isEmpty())
        return std::nullopt;
    if (options.help)
        return options;
    if (options.files.isEmpty() || options.files.contains(QString()))
        problem = QStringLiteral("Informe o arquivo a verificar.");
    else if (options.files.count(QStringLiteral("-")) > 1)
        problem = QStringLiteral("\"-\" só pode ser dado uma vez.");
    else if (options.force && options.extractPath.isEmpty() && options.reportPath.isEmpty())
        problem = QStringLiteral("--force só vale com --extract ou --report.");
    else if (!options.contentPath.isEmpty() && options.batch())
        problem = QStringLiteral("--content vale para um único ARQUIVO.");
    if (!problem.isEmpty())
        return std::nullopt;
    return options;
}

QJsonValue nullable(const QString& text, bool present)
{
    return present ? QJsonValue(text) : QJsonValue(QJsonValue::Null);
}

QString stateCode(signature::RevocationState state)
{
    switch (state) {
    case signature::RevocationState::Good:
        return QStringLiteral("good");
    case signature::RevocationState::Revoked:
        return QStringLiteral("revoked");
    case signature::RevocationState::Unknown:
        break;
    }
    return QStringLiteral("unknown");
}

QJsonValue sourceCode(signature::RevocationSource source)
{
    switch (source) {
    case signature::RevocationSource::Message:
        return QStringLiteral("message");
    case signature::RevocationSource::Cache:
        return QStringLiteral("cache");
    case signature::RevocationSource::Download:
        return QStringLiteral("download");
    case signature::RevocationSource::Ocsp:
        return QStringLiteral("ocsp");
    case signature::RevocationSource::None:
        break;
    }
    return QJsonValue::Null;
}

QJsonValue utcText(const QDateTime& moment)
{
    return moment.isValid() ? QJsonValue(moment.toUTC().toString(Qt::ISODate))
                            : QJsonValue(QJsonValue::Null);
}

QJsonObject revocationJson(const signature::RevocationStatus& status)
{
    return QJsonObject{
        {"status", stateCode(status.state)},
        {"source", sourceCode(status.source)},
        {"revoked_at", status.revoked() ? utcText(status.revokedAt) : QJsonValue::Null},
        {"detail", status.detail},
    };
}

QString subjectOf(const signature::Certificate& certificate)
{
    try {
        return certificate.subjectName();
    } catch (const signature::SignatureError&) {
        return {};
    }
}

QJsonArray chainStatusJson(const signature::CertificateStatus& status)
{
    QJsonArray chain;
    for (const signature::ChainLinkStatus& link : status.chain) {
        QString thumbprint;
        try {
            thumbprint = link.certificate.thumbprint();
        } catch (const signature::SignatureError&) {
        }
        chain.append(QJsonObject{
            {"subject", subjectOf(link.certificate)},
            {"thumbprint", thumbprint},
            {"revocation", revocationJson(link.revocation)},
            {"problems", QJsonArray::fromStringList(link.problems)},
        });
    }
    return chain;
}

QJsonValue timestampJson(const std::optional<signature::TimeStampToken>& token)
{
    if (!token)
        return QJsonValue::Null;
    return QJsonObject{
        {"valid", token->valid},
        {"time", utcText(token->genTime)},
        {"tsa", token->tsaName},
        {"problems", QJsonArray::fromStringList(token->problems)},
    };
}

QJsonValue policyJson(const std::optional<verify::PolicyCheck>& policy)
{
    if (!policy)
        return QJsonValue::Null;
    return QJsonObject{
        {"oid", policy->oid},
        {"name", policy->name},
        {"conforms", policy->conforms},
        {"problems", QJsonArray::fromStringList(policy->problems)},
    };
}

QJsonArray counterSignaturesJson(const std::vector<verify::CounterSignatureEntry>& counters)
{
    QJsonArray list;
    for (const verify::CounterSignatureEntry& counter : counters)
        list.append(QJsonObject{
            {"name", counter.signature.signerName},
            {"time", utcText(counter.signature.signingTime)},
            {"valid", counter.valid},
            {"problems", QJsonArray::fromStringList(counter.problems)},
        });
    return list;
}

QJsonObject signerJson(const verify::SignerEntry& signer)
{
    QJsonArray chain;
    for (const signature::Certificate& certificate : signer.chain) {
        QString name;
        try {
            name = certificate.getInfo(signature::CertificateInfo::SubjectSimpleName);
        } catch (const signature::SignatureError&) {
        }
        chain.append(name);
    }
    return QJsonObject{
        {"index", signer.index},
        {"holder_name", signer.holderName},
        {"identity", signer.identity},
        {"class", verify::imageKey(signer.certificateClass)},
        {"email", signer.email},
        {"signing_time", signer.signingTime},
        {"timestamp_origin", signer.timestampOrigin},
        {"valid_from", signer.validFromText},
        {"valid_to", signer.validToText},
        {"version", signer.version},
        {"serial_number", signer.serialNumber},
        {"thumbprint", signer.thumbprint},
        {"chain", chain},
        {"revocation", revocationJson(signer.status.revocation)},
        {"chain_status", chainStatusJson(signer.status)},
        {"timestamp", timestampJson(signer.timestamp)},
        {"valid_at_timestamp",
         signer.validAtTimestamp ? QJsonValue(*signer.validAtTimestamp) : QJsonValue::Null},
        {"policy", policyJson(signer.policy)},
        {"countersignatures", counterSignaturesJson(signer.counterSignatures)},
        {"problems", QJsonArray::fromStringList(signer.problems)},
    };
}

QJsonObject nodeJson(const verify::TreeNode& node)
{
    return QJsonObject{
        {"key", node.key},
        {"parent", nullable(node.parentKey, !node.parentKey.isEmpty())},
        {"text", node.text},
        {"image", node.imageKey},
        {"expanded", node.expanded},
    };
}

// The tree with two blanks of indentation per level; signer nodes name
// their class in words, since a terminal has no icons.
void writeTree(const VerifiedDocument& document, QTextStream& out)
{
    std::map<QString, int> depth;
    std::map<QString, verify::CertificateClass> signerClass;
    for (const verify::SignerEntry& signer : document.signers)
        signerClass[verify::keys::signerNode(verify::keys::SignerNode::Signer, signer.index)] =
            signer.certificateClass;
    for (const verify::TreeNode& node : document.tree) {
        int level = node.parentKey.isEmpty() ? 0 : depth[node.parentKey] + 1;
        depth[node.key] = level;
        out << QString(level * 2, QLatin1Char(' ')) << node.text;
        if (auto found = signerClass.find(node.key); found != signerClass.end())
            out << QStringLiteral("  [") << verify::caption(found->second) << QLatin1Char(']');
        out << '\n';
    }
}

// Each signer's chain with the revocation status of every certificate.
void writeRevocation(const VerifiedDocument& document, QTextStream& out)
{
    out << QStringLiteral("\nSituação de revogação (consultada em %1 UTC, %2):\n")
               .arg(document.checkedAt.toUTC().toString(QStringLiteral("dd/MM/yyyy HH:mm:ss")),
                    document.offline ? QStringLiteral("sem acesso à rede")
                                     : QStringLiteral("com acesso à rede"));
    for (const verify::SignerEntry& signer : document.signers) {
        out << QStringLiteral("  %1. %2\n").arg(signer.index).arg(signer.holderName);
        for (const signature::ChainLinkStatus& link : signer.status.chain) {
            QString name;
            try {
                name = link.certificate.getInfo(signature::CertificateInfo::SubjectSimpleName);
            } catch (const signature::SignatureError&) {
            }
            out << QStringLiteral("    ") << name << QStringLiteral(": ")
                << signature::revocationSummary(link.revocation) << '\n';
        }
    }
}

// What each signer's CAdES pieces say, for the signers that have any.
void writeCades(const VerifiedDocument& document, QTextStream& out)
{
    bool headed = false;
    for (const verify::SignerEntry& signer : document.signers) {
        const verify::CadesLines lines = verify::cadesLines(signer);
        if (lines.isEmpty())
            continue;
        if (!headed)
            out << QStringLiteral("\nCarimbos do tempo, políticas e contra-assinaturas:\n");
        headed = true;
        out << QStringLiteral("  %1. %2\n").arg(signer.index).arg(signer.holderName);
        QStringList all{lines.timeStamp, lines.validAtTimestamp, lines.policy};
        all << lines.counterSignatures;
        for (const QString& problem : lines.problems)
            all << QStringLiteral("Problema: ") + problem;
        for (const QString& line : all) {
            if (!line.isEmpty())
                out << QStringLiteral("    ") << line << '\n';
        }
    }
}

QString yesNo(bool value)
{
    return value ? QStringLiteral("sim") : QStringLiteral("não");
}

int exitStatusOf(const VerifiedDocument& document)
{
    if (!document.verified())
        return exit_status::kVerificationFailed;
    return document.signaturesOk ? exit_status::kSignaturesOk : exit_status::kNotAllValid;
}

QString alreadyThere(const QString& path)
{
    return QStringLiteral("Não foi gravado: %1 já existe (use --force para substituir).\n")
        .arg(path);
}

// What one file asks to be written, and where.
struct Targets {
    QString extractPath; // the original document's path
    // In a folder, named by the verified document; set with a folder path.
    std::function<QString(const VerifiedDocument&)> extractName;
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
VerifiedDocument verifyAndExtract(const QString& file, const Targets& targets, bool force,
                                  const verify::LoadOptions& load, QTextStream& err, bool& refused)
{
    refused = false;
    const bool intoFolder = static_cast<bool>(targets.extractName);
    if (targets.extractPath.isEmpty())
        return verify::loadSignedDocument(file, load);
    if (!force && !intoFolder && fileinfo::EntryMayExist(targets.extractPath)) {
        VerifiedDocument document = verify::loadSignedDocument(file, load);
        if (document.verified()) {
            err << alreadyThere(targets.extractPath);
            refused = true;
        }
        return document;
    }
    // Without --force nothing that appears meanwhile is replaced; with it,
    // the entry itself is, never what a link there points to.
    const fileinfo::Replace replace = force ? fileinfo::Replace::Entry : fileinfo::Replace::Never;
    verify::Extraction extraction =
        intoFolder ? verify::extractOriginalInto(file, load, targets.extractPath,
                                                 targets.extractName, replace)
                   : verify::extractOriginal(file, load, targets.extractPath, replace);
    const QString written =
        intoFolder && extraction.document.verified()
            ? QDir(targets.extractPath).filePath(targets.extractName(extraction.document))
            : targets.extractPath;
    refused = toldFailure(extraction.failure, written, err);
    return std::move(extraction.document);
}

// Writes the report of `document`; false, told in `err`, when it could not be.
bool writeReportOf(const VerifiedDocument& document, const QString& path, bool force,
                   const ReportSupport& reports, QTextStream& err)
{
    if (!force && fileinfo::EntryMayExist(path)) {
        err << alreadyThere(path);
        return false;
    }
    return !toldFailure(
        reports.write(document, path, force ? fileinfo::Replace::Entry : fileinfo::Replace::Never),
        path, err);
}

// One file's report and problems, and its exit status.
struct Outcome {
    QString out;
    QString err;
    int status = exit_status::kSignaturesOk;
};

Outcome verifyOne(const QString& file, const Targets& targets, const Options& options,
                  const verify::LoadOptions& load, const ReportSupport& reports,
                  QJsonDocument::JsonFormat format)
{
    Outcome outcome;
    QTextStream err(&outcome.err);
    if (!targets.refused.isEmpty())
        err << targets.refused;
    const Targets none;
    bool refused = false;
    VerifiedDocument document = verifyAndExtract(file, targets.refused.isEmpty() ? targets : none,
                                                 options.force, load, err, refused);
    if (!targets.reportPath.isEmpty() && targets.refused.isEmpty())
        refused =
            !writeReportOf(document, targets.reportPath, options.force, reports, err) || refused;
    outcome.out = options.json
                      ? QString::fromUtf8(QJsonDocument(jsonReport(document)).toJson(format))
                      : textReport(document);
    if (format == QJsonDocument::Compact)
        outcome.out += QLatin1Char('\n');
    outcome.status = exitStatusOf(document);
    if (!targets.extractPath.isEmpty() && !document.verified())
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
QString extractedName(const QString& signedFile, const VerifiedDocument& document)
{
    const QString base = QFileInfo(signedFile).completeBaseName();
    const QString suffix =
        document.hasExtension ? QFileInfo(document.originalName).suffix() : QString();
    return suffix.isEmpty() ? base : base + QLatin1Char('.') + suffix;
}

// Each file's targets in the folders; a file whose name another file of the
// list took before it writes nothing, whatever --force says.
std::vector<Targets> folderTargets(const QStringList& files, const Options& options,
                                   const ReportSupport& reports)
{
    std::vector<Targets> all;
    std::map<QString, QString> claimed; // signed file's base name → the file that took it
    for (const QString& file : files) {
        Targets targets;
        const QString base = QFileInfo(file).completeBaseName();
        auto [first, fresh] = claimed.emplace(base, file);
        if (!fresh && (!options.extractPath.isEmpty() || !options.reportPath.isEmpty()))
            targets.refused = QStringLiteral("Não foi gravado: o nome de %1 já é o de %2, "
                                             "dado antes.\n")
                                  .arg(file, first->second);
        if (!options.extractPath.isEmpty()) {
            targets.extractPath = options.extractPath;
            targets.extractName = [file](const VerifiedDocument& document) {
                return extractedName(file, document);
            };
        }
        if (!options.reportPath.isEmpty())
            targets.reportPath = QDir(options.reportPath).filePath(reports.fileName(file));
        all.push_back(std::move(targets));
    }
    return all;
}

// The folders of --extract and --report, made when missing; false, told in
// `err`, when one cannot be.
bool makeFolders(const Options& options, QTextStream& err)
{
    for (const QString& folder : {options.extractPath, options.reportPath}) {
        if (!folder.isEmpty() && !QDir().mkpath(folder)) {
            err << QStringLiteral("Não foi possível criar a pasta %1.\n").arg(folder);
            return false;
        }
    }
    return true;
}

int verifyMany(const QStringList& files, const Options& options, const verify::LoadOptions& load,
               const ReportSupport& reports, QTextStream& out, QTextStream& err)
{
    if (!makeFolders(options, err))
        return exit_status::kCannotWrite;
    const std::vector<Targets> targets = folderTargets(files, options, reports);
    int status = exit_status::kSignaturesOk;
    runInOrder<Outcome>(
        static_cast<int>(files.size()), QThread::idealThreadCount(),
        [&](int n) {
            const auto index = static_cast<size_t>(n);
            try {
                return verifyOne(files[n], targets[index], options, load, reports,
                                 QJsonDocument::Compact);
            } catch (const std::exception&) {
                // Out of memory, say: this file fails, the others go on.
                return Outcome{{},
                               QStringLiteral("Erro interno ao verificar %1.\n").arg(files[n]),
                               exit_status::kVerificationFailed};
            }
        },
        [&](int n, Outcome& outcome) {
            if (n > 0 && !options.json)
                out << '\n';
            out << outcome.out;
            out.flush();
            err << outcome.err;
            err.flush();
            status = std::max(status, outcome.status);
        });
    return status;
}

QJsonObject withVerdict(QJsonObject signer, const verify::Judgement& judgement)
{
    QJsonArray reasons;
    for (const verify::VerdictReason& reason : judgement.reasons)
        reasons.append(QJsonObject{{"code", reason.code}, {"text", reason.text}});
    signer["verdict"] = verify::verdictWord(judgement.verdict);
    signer["reasons"] = reasons;
    return signer;
}

void writeReasons(const verify::Judgement& judgement, const QString& indent, QTextStream& out)
{
    for (const verify::VerdictReason& reason : judgement.reasons)
        out << indent << QStringLiteral("- ") << reason.text << QStringLiteral(" [") << reason.code
            << QStringLiteral("]\n");
}

// The file's verdict and why.
void writeVerdict(const verify::Judgement& file, QTextStream& out)
{
    out << QStringLiteral("Resultado: ") << verify::verdictWord(file.verdict) << '\n';
    writeReasons(file, QStringLiteral("  "), out);
}

// Each signer's verdict and why.
void writeSignerVerdicts(const VerifiedDocument& document, const verify::DocumentJudgements& judged,
                         QTextStream& out)
{
    out << QStringLiteral("\nResultado por signatário:\n");
    for (std::size_t n = 0; n < document.signers.size(); ++n) {
        out << QStringLiteral("  %1. %2: ")
                   .arg(document.signers[n].index)
                   .arg(document.signers[n].holderName)
            << verify::verdictWord(judged.signers[n].verdict) << '\n';
        writeReasons(judged.signers[n], QStringLiteral("    "), out);
    }
}

} // namespace

QJsonObject jsonReport(const VerifiedDocument& document)
{
    QJsonObject report{{"file", document.filePath}, {"verified", document.verified()}};
    if (document.error) {
        report["error"] = QJsonObject{{"code_text", document.error->codeText},
                                      {"caption", document.error->caption},
                                      {"text", document.error->text},
                                      {"detail", document.error->detail}};
    } else {
        report["error"] = QJsonValue::Null;
    }
    const bool verified = document.verified();
    const verify::DocumentJudgements judged = verify::judgeDocument(document);
    report["signatures_ok"] = verified && document.signaturesOk;
    report["original_name"] = verified ? document.originalName : QString();
    report["has_extension"] = verified && document.hasExtension;
    QJsonArray signers;
    QJsonArray tree;
    if (verified) {
        report["content_size"] = static_cast<double>(document.signedData->contentSize());
        report["content_sha256"] =
            QString::fromLatin1(document.signedData->contentSha256().toHex());
        for (std::size_t n = 0; n < document.signers.size(); ++n)
            signers.append(withVerdict(signerJson(document.signers[n]), judged.signers[n]));
        for (const verify::TreeNode& node : document.tree)
            tree.append(nodeJson(node));
    } else {
        report["content_size"] = QJsonValue::Null;
        report["content_sha256"] = QJsonValue::Null;
    }
    report["signers"] = signers;
    report["tree"] = tree;
    report["checked_at"] = utcText(document.checkedAt);
    report["offline"] = document.offline;
    report["verdict"] = verify::verdictWord(judged.file.verdict);
    return report;
}

QString textReport(const VerifiedDocument& document)
{
    QString report;
    QTextStream out(&report);
    const verify::DocumentJudgements judged = verify::judgeDocument(document);
    out << QStringLiteral("Arquivo: ") << document.filePath << '\n';
    if (!document.verified()) {
        out << QStringLiteral("Verificação: FALHOU\n") << document.error->caption << '\n'
            << QString(document.error->text)
                   .replace(QStringLiteral("\r\n"), QStringLiteral("\n"))
                   .trimmed()
            << '\n';
        writeVerdict(judged.file, out);
        return report;
    }
    const qint64 size = document.signedData->contentSize();
    out << QStringLiteral("Verificação: documento íntegro, assinaturas conferem\n")
        << QStringLiteral("Documento original: ") << document.originalName
        << (document.hasExtension ? QString() : QStringLiteral(" (sem extensão)")) << '\n'
        << QStringLiteral("Tamanho: ") << fileinfo::SizeText(size) << QStringLiteral(" (") << size
        << QStringLiteral(" bytes)\n") << QStringLiteral("SHA-256: ")
        << document.signedData->contentSha256().toHex() << '\n'
        << QStringLiteral("Todos os certificados ICP-Brasil válidos: ")
        << yesNo(document.signaturesOk) << '\n';
    writeVerdict(judged.file, out);
    out << '\n';
    writeTree(document, out);
    writeCades(document, out);
    writeRevocation(document, out);
    writeSignerVerdicts(document, judged, out);
    return report;
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
    const std::optional<Options> options = parseArguments(arguments, problem);
    return options && !options->help && !options->reportPath.isEmpty();
}

int runVerifyCommand(const QStringList& arguments, QTextStream& out, QTextStream& err,
                     const verify::LoadOptions& loadOptions, QTextStream* in,
                     const ReportSupport& reports)
{
    QString problem;
    std::optional<Options> options = parseArguments(arguments, problem);
    if (!options) {
        err << problem << QStringLiteral("\n\n") << kUsage;
        err.flush();
        return exit_status::kUsage;
    }
    if (options->help) {
        out << kUsage;
        out.flush();
        return exit_status::kSignaturesOk;
    }
    if (!options->reportPath.isEmpty() && !reports.write) {
        err << QStringLiteral("Não é possível gerar relatórios: o gerador de relatórios não foi "
                              "encontrado.\n");
        err.flush();
        return exit_status::kCannotWrite;
    }
    verify::LoadOptions load = loadOptions;
    load.revocation.offline = load.revocation.offline || options->offline;
    load.detachedContentPath = options->contentPath;
    // Only a report pays for a summed file and for what rendering needs.
    load.sumSignedFile = !options->reportPath.isEmpty();
    std::shared_ptr<void> rendering;
    if (!options->reportPath.isEmpty() && reports.prepare)
        rendering = reports.prepare();
    if (options->batch()) {
        QStringList files;
        for (const QString& file : options->files)
            files << (file == QLatin1String("-") ? pathsFrom(in) : QStringList{file});
        return verifyMany(files, *options, load, reports, out, err);
    }
    const Targets targets{options->extractPath, {}, options->reportPath, {}};
    Outcome outcome = verifyOne(options->files.first(), targets, *options, load, reports,
                                QJsonDocument::Indented);
    out << outcome.out;
    out.flush();
    err << outcome.err;
    err.flush();
    return outcome.status;
}

} // namespace selavia::cli
