#include "cli/Arguments.h"

#include "selavia/Version.h"

namespace selavia::cli {
namespace {

const QString kUsage = QStringLiteral(
    "Uso: selavia-verify [--json] [--offline] [--extract CAMINHO] [--report CAMINHO]\n"
    "                    [--force] [--content DOCUMENTO] [--at INSTANTE]\n"
    "                    [--resume SAIDA.jsonl] ARQUIVO...\n"
    "       selavia-verify --prefetch ARQUIVO...\n"
    "\n"
    "Verifica documentos assinados (.slv, .pdf) e mostra o resultado: Aprovado,\n"
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
    "  --at INSTANTE       julga na data INSTANTE (ISO 8601 com fuso, por exemplo\n"
    "                      2026-01-31T12:00:00Z) em vez de agora; sem OCSP, e as\n"
    "                      listas de revogados valem só se falam dessa data\n"
    "  --resume SAIDA.jsonl\n"
    "                      com --json: acrescenta as linhas a SAIDA.jsonl em vez\n"
    "                      de imprimi-las e pula os arquivos que já têm nela uma\n"
    "                      linha com os mesmos bytes (retoma uma execução parada)\n"
    "  --prefetch          não verifica: busca e guarda na cache as listas de\n"
    "                      certificados revogados, os certificados emissores e as\n"
    "                      listas de políticas de que os ARQUIVOs precisam, e\n"
    "                      mostra o que buscou, uma linha cada\n"
    "  -h, --help          mostra esta ajuda\n"
    "  --version           mostra a versão\n"
    "\n"
    "Vários ARQUIVOs, ou \"-\" para ler os caminhos da entrada padrão (um por\n"
    "linha): são verificados em paralelo e mostrados na ordem dada; --extract e\n"
    "--report recebem então uma pasta, onde cada arquivo grava o seu com o nome\n"
    "do arquivo assinado.\n"
    "\n"
    "Saída: 0 verificado, todos os signatários com certificado ICP-Brasil válido\n"
    "e nenhuma assinatura reprovada; 1 verificado, mas não tudo isso; 2 o arquivo\n"
    "não pôde ser verificado; 64 uso incorreto; 73 não foi possível gravar o\n"
    "documento extraído ou o relatório. Com vários arquivos, o maior dos códigos.\n"
    "O veredito (Aprovado, Indeterminado, Reprovado) está no relatório e no JSON.\n");

// An option that takes a value, and what the value is ("um caminho").
struct ValueOption {
    QString name;
    QString what;
};

const ValueOption kExtract{QStringLiteral("--extract"), QStringLiteral("um caminho")};
const ValueOption kReport{QStringLiteral("--report"), QStringLiteral("um caminho")};
const ValueOption kContent{QStringLiteral("--content"), QStringLiteral("um documento")};
const ValueOption kAt{QStringLiteral("--at"), QStringLiteral("um instante")};

const QString kBadInstant =
    QStringLiteral("--at precisa de uma data e hora ISO 8601 com fuso horário, por exemplo "
                   "2026-01-31T12:00:00Z ou 2026-01-31T09:00:00-03:00; recebido: %1");
const ValueOption kResume{QStringLiteral("--resume"), QStringLiteral("um arquivo")};

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

bool instantOption(const QStringList& arguments, qsizetype& i, QDateTime& at, QString& problem)
{
    QString text;
    if (!valueOption(arguments, i, kAt, text, problem))
        return false;
    if (problem.isEmpty()) {
        at = instantArgument(text);
        if (!at.isValid())
            problem = kBadInstant.arg(text);
    }
    return true;
}

// The first option given that --prefetch, which verifies nothing, refuses.
QString prefetchAlone(const Arguments& parsed)
{
    const std::pair<bool, const char*> refused[] = {
        {parsed.json, "--json"},
        {parsed.offline, "--offline"},
        {!parsed.extractPath.isEmpty(), "--extract"},
        {!parsed.reportPath.isEmpty(), "--report"},
        {!parsed.contentPath.isEmpty(), "--content"},
        {!parsed.resumePath.isEmpty(), "--resume"},
        {parsed.force, "--force"},
        {parsed.at.isValid(), "--at"},
    };
    for (const auto& [given, name] : refused) {
        if (given)
            return QString::fromLatin1(name);
    }
    return {};
}

} // namespace

QDateTime instantArgument(const QString& text)
{
    // Qt reads a time without a zone as local time, and a date alone as
    // midnight: neither names one instant.
    const QString trimmed = text.trimmed();
    const qsizetype time = trimmed.indexOf(QLatin1Char('T'));
    if (time < 0 || trimmed != text)
        return {};
    const QDateTime read = QDateTime::fromString(trimmed, Qt::ISODateWithMs);
    const bool zoned = read.timeSpec() == Qt::UTC || read.timeSpec() == Qt::OffsetFromUTC;
    return read.isValid() && zoned ? read.toUTC() : QDateTime();
}

std::optional<Arguments> parseArguments(const QStringList& arguments, QString& problem)
{
    Arguments parsed;
    bool optionsEnded = false;
    for (qsizetype i = 0; i < arguments.size() && problem.isEmpty(); ++i) {
        const QString& argument = arguments[i];
        if (optionsEnded || argument == QLatin1String("-") ||
            !argument.startsWith(QLatin1Char('-')))
            parsed.files << argument;
        else if (argument == QLatin1String("--"))
            optionsEnded = true;
        else if (argument == QLatin1String("--json"))
            parsed.json = true;
        else if (argument == QLatin1String("--offline"))
            parsed.offline = true;
        else if (argument == QLatin1String("--force"))
            parsed.force = true;
        else if (argument == QLatin1String("--prefetch"))
            parsed.prefetch = true;
        else if (argument == QLatin1String("-h") || argument == QLatin1String("--help"))
            parsed.help = true;
        else if (argument == QLatin1String("--version"))
            parsed.version = true;
        else if (!valueOption(arguments, i, kExtract, parsed.extractPath, problem) &&
                 !valueOption(arguments, i, kReport, parsed.reportPath, problem) &&
                 !valueOption(arguments, i, kContent, parsed.contentPath, problem) &&
                 !instantOption(arguments, i, parsed.at, problem) &&
                 !valueOption(arguments, i, kResume, parsed.resumePath, problem))
            problem = QStringLiteral("Opção desconhecida: %1").arg(argument);
    }
    if (!problem.isEmpty())
        return std::nullopt;
    if (parsed.informational())
        return parsed;
    if (parsed.files.isEmpty() || parsed.files.contains(QString()))
        problem = QStringLiteral("Informe o arquivo a verificar.");
    else if (parsed.files.count(QStringLiteral("-")) > 1)
        problem = QStringLiteral("\"-\" só pode ser dado uma vez.");
    else if (parsed.force && parsed.extractPath.isEmpty() && parsed.reportPath.isEmpty())
        problem = QStringLiteral("--force só vale com --extract ou --report.");
    else if (parsed.prefetch && !prefetchAlone(parsed).isEmpty())
        problem = QStringLiteral("--prefetch não vale com %1.").arg(prefetchAlone(parsed));
    else if (!parsed.resumePath.isEmpty() && !parsed.json)
        problem = QStringLiteral("--resume só vale com --json.");
    else if (!parsed.contentPath.isEmpty() && parsed.batch())
        problem = QStringLiteral("--content vale para um único ARQUIVO.");
    if (!problem.isEmpty())
        return std::nullopt;
    return parsed;
}

QString usageText()
{
    return kUsage;
}

QString versionText()
{
    return QStringLiteral("selavia-verify %1.%2.%3\n")
        .arg(kVersionMajor)
        .arg(kVersionMinor)
        .arg(kVersionRevision);
}

} // namespace selavia::cli
