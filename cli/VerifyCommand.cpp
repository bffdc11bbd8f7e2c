#include "cli/VerifyCommand.h"

#include "fileinfo/FileHandler.h"
#include "fileinfo/StagedFile.h"
#include "platform/signature/SignatureError.h"
#include "verify/CadesText.h"
#include "verify/TreeKeys.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <map>

namespace selavia::cli {
namespace {

using verify::VerifiedDocument;

const QString kUsage = QStringLiteral(
    "Uso: selavia-verify [--json] [--offline] [--extract CAMINHO [--force]]\n"
    "                    [--content DOCUMENTO] ARQUIVO\n"
    "\n"
    "Verifica um documento assinado (.slv) e mostra o resultado.\n"
    "\n"
    "  --json              imprime o resultado como um objeto JSON\n"
    "  --offline           não consulta a rede (listas de certificados revogados,\n"
    "                      OCSP, certificados emissores); usa apenas a cópia local\n"
    "  --content DOCUMENTO ARQUIVO é uma assinatura destacada (.p7s) de DOCUMENTO\n"
    "  --extract CAMINHO   grava o documento original em CAMINHO\n"
    "  --force             substitui CAMINHO se ele já existir\n"
    "  -h, --help          mostra esta ajuda\n"
    "\n"
    "Saída: 0 documento íntegro e todas as assinaturas válidas; 1 documento íntegro,\n"
    "mas nem todos os certificados são ICP-Brasil válidos; 2 verificação falhou;\n"
    "64 uso incorreto; 73 não foi possível gravar o documento extraído.\n");

struct Options {
    bool json = false;
    bool offline = false;
    bool force = false;
    bool help = false;
    QString extractPath;
    QString contentPath; // the document of a detached signature
    QString file;
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
const ValueOption kContent{QStringLiteral("--content"), QStringLiteral("um documento")};

// nullopt with a message in `problem` when the arguments make no sense.
std::optional<Options> parseArguments(const QStringList& arguments, QString& problem)
{
    Options options;
    bool optionsEnded = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (!optionsEnded && argument == QLatin1String("--")) {
            optionsEnded = true;
        } else if (!optionsEnded && argument == QLatin1String("--json")) {
            options.json = true;
        } else if (!optionsEnded && argument == QLatin1String("--offline")) {
            options.offline = true;
        } else if (!optionsEnded && argument == QLatin1String("--force")) {
            options.force = true;
        } else if (!optionsEnded &&
                   (argument == QLatin1String("-h") || argument == QLatin1String("--help"))) {
            options.help = true;
        } else if (!optionsEnded &&
                   (valueOption(arguments, i, kExtract, options.extractPath, problem) ||
                    valueOption(arguments, i, kContent, options.contentPath, problem))) {
            if (!problem.isEmpty())
                return std::nullopt;
        } else if (!optionsEnded && argument.startsWith(QLatin1Char('-')) && argument.size() > 1) {
            problem = QStringLiteral("Opção desconhecida: %1").arg(argument);
            return std::nullopt;
        } else if (options.file.isNull()) {
            options.file = argument;
        } else {
            problem = QStringLiteral("Informe um único arquivo.");
            return std::nullopt;
        }
    }
    if (options.help)
        return options;
    if (options.file.isEmpty())
        problem = QStringLiteral("Informe o arquivo a verificar.");
    else if (options.force && options.extractPath.isEmpty())
        problem = QStringLiteral("--force só vale com --extract.");
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

// Verifies the file and, when asked and allowed, writes the original
// document from the verifying read; a refusal or a failure to write is told
// in `err` and makes `refused` true.
VerifiedDocument verifyAndExtract(const Options& options, const verify::LoadOptions& load,
                                  QTextStream& err, bool& refused)
{
    refused = false;
    if (options.extractPath.isEmpty())
        return verify::loadSignedDocument(options.file, load);
    if (!options.force && fileinfo::EntryMayExist(options.extractPath)) {
        VerifiedDocument document = verify::loadSignedDocument(options.file, load);
        if (document.verified()) {
            err << alreadyThere(options.extractPath);
            refused = true;
        }
        return document;
    }
    // Without --force nothing that appears meanwhile is replaced; with it,
    // the entry itself is, never what a link there points to.
    verify::Extraction extraction = verify::extractOriginal(
        options.file, load, options.extractPath,
        options.force ? fileinfo::Replace::Entry : fileinfo::Replace::Never);
    if (const auto& failure = extraction.failure) {
        if (failure->number == fileinfo::error_number::kFileExists)
            err << alreadyThere(options.extractPath);
        else
            err << QStringLiteral("Não foi possível gravar %1: %2\n")
                       .arg(options.extractPath, failure->text());
        refused = true;
    }
    return std::move(extraction.document);
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
    report["signatures_ok"] = verified && document.signaturesOk;
    report["original_name"] = verified ? document.originalName : QString();
    report["has_extension"] = verified && document.hasExtension;
    QJsonArray signers;
    QJsonArray tree;
    if (verified) {
        report["content_size"] = static_cast<double>(document.signedData->contentSize());
        report["content_sha256"] =
            QString::fromLatin1(document.signedData->contentSha256().toHex());
        for (const verify::SignerEntry& signer : document.signers)
            signers.append(signerJson(signer));
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
    return report;
}

QString textReport(const VerifiedDocument& document)
{
    QString report;
    QTextStream out(&report);
    out << QStringLiteral("Arquivo: ") << document.filePath << '\n';
    if (!document.verified()) {
        out << QStringLiteral("Verificação: FALHOU\n") << document.error->caption << '\n'
            << QString(document.error->text)
                   .replace(QStringLiteral("\r\n"), QStringLiteral("\n"))
                   .trimmed()
            << '\n';
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
        << yesNo(document.signaturesOk) << QStringLiteral("\n\n");
    writeTree(document, out);
    writeCades(document, out);
    writeRevocation(document, out);
    return report;
}

int runVerifyCommand(const QStringList& arguments, QTextStream& out, QTextStream& err,
                     const verify::LoadOptions& loadOptions)
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
    verify::LoadOptions load = loadOptions;
    load.revocation.offline = load.revocation.offline || options->offline;
    load.detachedContentPath = options->contentPath;
    bool refused = false;
    VerifiedDocument document = verifyAndExtract(*options, load, err, refused);
    if (options->json)
        out << QJsonDocument(jsonReport(document)).toJson(QJsonDocument::Indented);
    else
        out << textReport(document);
    out.flush();
    int status = exitStatusOf(document);
    if (!options->extractPath.isEmpty() && !document.verified())
        err << QStringLiteral("Nada foi extraído: a verificação falhou.\n");
    else if (refused)
        status = exit_status::kCannotWrite;
    err.flush();
    return status;
}

} // namespace selavia::cli
