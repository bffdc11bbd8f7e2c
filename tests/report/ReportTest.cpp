#include "fileinfo/PathText.h"
#include "report/VerificationReport.h"
#include "tests/support/HttpTestServer.h"
#include "tests/support/PdfText.h"
#include "tests/support/VerdictStates.h"
#include "tests/support/VerifyFixtures.h"
#include "tools/fixtures/CadesFixtures.h"
#include "verify/CertificateClass.h"
#include "verify/Conformity.h"
#include "verify/Verification.h"

#include <QCryptographicHash>
#include <QFileInfo>
#include <QLocale>
#include <QRegularExpression>
#include <gtest/gtest.h>

using namespace selavia::testing;
namespace report = selavia::report;
namespace verify = selavia::verify;
namespace fileinfo = selavia::fileinfo;

namespace {

class ReportTest : public ::testing::Test {
protected:
    // Verifies `message`, saved as `name`.slv, as the state says.
    ValidationResult load(const VerdictState& state, const fx::Bytes& message)
    {
        const QString path = dir_.write(QString::fromLatin1(state.name) + ".slv", message);
        return verify::Verification(stateOptions(state)).readFile(path).run();
    }
    ValidationResult load(const VerdictState& state) { return load(state, state.message); }

    // Writes the report of `document` and gives its text, as pdftotext reads it.
    QString reportText(const ValidationResult& document)
    {
        // One plain name: the signed file's may not be one poppler can be given.
        const QString path = dir_.filePath("relatorio.pdf");
        const auto failure = report::writeReport(document, path, fileinfo::Replace::Entry);
        EXPECT_FALSE(failure) << (failure ? failure->text().toStdString() : std::string());
        return pdfText(path);
    }

    static QString fileSum(const ValidationResult& document)
    {
        return QString::fromLatin1(QCryptographicHash::hash(ScratchFolder::read(document.filePath),
                                                            QCryptographicHash::Sha256)
                                       .toHex());
    }

    ScratchFolder dir_;
};

QStringList codesOf(const verify::Judgement& judgement)
{
    QStringList codes;
    for (const verify::VerdictReason& reason : judgement.reasons)
        codes << reason.code;
    return codes;
}

// `texts` appear in `text` in this order.
void expectInOrder(const QString& text, const QStringList& texts)
{
    qsizetype from = 0;
    for (const QString& expected : texts) {
        const qsizetype at = text.indexOf(expected, from);
        EXPECT_GE(at, 0) << "missing or out of order: " << expected.toStdString() << "\n"
                         << text.toStdString();
        if (at >= 0)
            from = at + expected.size();
    }
}

} // namespace

TEST_F(ReportTest, EveryStateGivesItsVerdictAndItsReasonsInTheReport)
{
    for (const VerdictState& state : verdictStates()) {
        SCOPED_TRACE(state.name);
        const ValidationResult document = load(state);
        EXPECT_EQ(verify::verdictWord(document.verdict.verdict),
                  verify::verdictWord(state.verdict));
        EXPECT_EQ(codesOf(document.verdict), state.codes);

        const QString text = reportText(document);
        expectInOrder(text, {"Resultado da verificação", verify::verdictWord(state.verdict)});
        for (const verify::VerdictReason& reason : document.verdict.reasons)
            EXPECT_TRUE(text.contains(reason.text + " código: " + reason.code))
                << text.toStdString();
        EXPECT_EQ(text.contains("Nenhuma ressalva."), state.codes.isEmpty());
        EXPECT_TRUE(text.contains("SHA-256 do arquivo assinado: " + fileSum(document)));
    }
}

TEST_F(ReportTest, AFailedFileIsReportedRejectedWithItsErrorAndNoOriginal)
{
    const ValidationResult document = load(stateNamed("violado"));
    ASSERT_FALSE(document.verified());
    const QString text = reportText(document);
    expectInOrder(
        text, {"Arquivo assinado", "Nome: violado.slv", "SHA-256: " + fileSum(document),
               "Documento original", "Não disponível: a verificação do arquivo falhou.",
               "Resultado da verificação", "Reprovado",
               "O conteúdo do documento foi alterado depois de assinado. código: content-tampered",
               "Erro: Documento Violado - Erro 1717", "Hash incorreto."});
    EXPECT_FALSE(text.contains("Signatário 1"));
}

TEST_F(ReportTest, TheSectionsComeInOrderWithWhatVerificationFound)
{
    const ValidationResult document = load(stateNamed("aprovado"));
    ASSERT_TRUE(document.verified());
    const verify::SignatureResult& signer = document.signers.at(0);
    const QString text = reportText(document);
    const QString contentSum = QString::fromLatin1(document.contentSha256.toHex());
    expectInOrder(text,
                  {"Relatório de Verificação de Assinaturas",
                   "Programa: Selavia Reader 2.1.6",
                   "Data e hora da verificação:",
                   "(horário local, UTC",
                   " UTC",
                   "Consulta à rede: não: verificação offline",
                   "Fontes de confiança:",
                   "1 certificado(s) confiável(is)",
                   "Arquivo assinado",
                   "Nome: aprovado.slv",
                   QStringLiteral("(%1 bytes)")
                       .arg(QLocale(QLocale::Portuguese, QLocale::Brazil)
                                .toString(QFileInfo(document.filePath).size())),
                   "SHA-256: " + fileSum(document),
                   "Integridade: íntegro",
                   "Documento original",
                   "Nome: contrato.pdf",
                   "SHA-256: " + contentSum,
                   "Resultado da verificação",
                   "Aprovado",
                   "Indicação: TOTAL-PASSED",
                   "Assinaturas: 1 de 1 assinatura válida",
                   "Nenhuma ressalva.",
                   "Signatário 1",
                   "Resultado: Aprovado",
                   "Nome: MARIA DA SILVA",
                   "CPF: 123.456.789-01",
                   "E-mail: fulano@example.com.br",
                   "Classe do certificado: Certificado ICP-Brasil - Válido",
                   "Forma e nível: CAdES-BES, anexada",
                   "Integridade: confere",
                   "Algoritmos: resumo SHA256",
                   "Data declarada pelo signatário:",
                   "(não comprovada)",
                   "Melhor data comprovada da assinatura:",
                   "prova: nenhuma prova de existência",
                   "Número de série do certificado: " + signer.serialNumber,
                   "Impressão digital (SHA-1): " + signer.thumbprint,
                   "Validade do certificado: de " + fileinfo::UtcDateText(signer.validFrom),
                   "Carimbos do tempo",
                   "Nenhum carimbo do tempo.",
                   "Política de assinatura",
                   "Nenhuma declarada.",
                   "Cadeia de certificados",
                   "1. MARIA DA SILVA",
                   "SHA-256: " + verify::certificateSha256(signer.status.chain[0].certificate),
                   "Revogação: Não revogado",
                   "Evidência: contida na assinatura; emitida em",
                   "3. Autoridade Certificadora Raiz Brasileira v5",
                   "Revogação: Não se aplica: raiz confiável",
                   "Âncora de confiança: repositório de certificados do sistema",
                   "Glossário"});
}

TEST_F(ReportTest, EveryPageIsNumberedAndFootedWithTheSignedFilesSum)
{
    std::vector<fx::SignerSpec> signers;
    for (int n = 0; n < 10; ++n)
        signers.push_back({.cert = icpSigner("SIGNATARIO " + std::to_string(n) + ":12345678901")});
    const VerdictState state{"dez", fx::makeSignedMessage(messageFor(signers))};
    const ValidationResult document = load(state);
    ASSERT_EQ(document.signers.size(), 10u);
    const QString path = dir_.filePath("dez.pdf");
    ASSERT_FALSE(report::writeReport(document, path, fileinfo::Replace::Never));
    const QStringList pages = pdfPages(path);
    ASSERT_GE(pages.size(), 3);
    for (qsizetype n = 0; n < pages.size(); ++n) {
        EXPECT_TRUE(pages[n].contains("SHA-256 do arquivo assinado: " + fileSum(document)))
            << "page " << n + 1;
        EXPECT_TRUE(
            pages[n].contains(QStringLiteral("Página %1 de %2").arg(n + 1).arg(pages.size())))
            << pages[n].toStdString();
    }
    // A line broken across pages is drawn on one of them only.
    const QString text = pdfText(path);
    for (const verify::SignatureResult& signer : document.signers)
        EXPECT_EQ(text.count("Número de série do certificado: " + signer.serialNumber), 1)
            << signer.index;
    EXPECT_EQ(text.count("Cadeia de certificados"), 10);
    EXPECT_EQ(text.count("3. Autoridade Certificadora Raiz Brasileira v5"), 10);

    // Every font is embedded, so the report reads alike on any machine.
    const QStringList fonts = pdfFonts(path);
    ASSERT_FALSE(fonts.isEmpty());
    for (const QString& font : fonts) {
        const QStringList columns = font.split(' ', Qt::SkipEmptyParts);
        ASSERT_GE(columns.size(), 5);
        EXPECT_EQ(columns[columns.size() - 5], "yes") << font.toStdString();
    }
    // Written whole: refused over an existing file unless replacing is asked for.
    EXPECT_EQ(report::writeReport(document, path, fileinfo::Replace::Never)->number,
              fileinfo::error_number::kFileExists);
}

// The time-stamp as verification judged it: a valid token proves an
// expired certificate signed in time, one that does not verify rejects the
// signer.
TEST_F(ReportTest, TheTimeStampIsToldAsItWasJudged)
{
    const QString stamped = reportText(load(stateNamed("expirado-com-carimbo")));
    expectInOrder(stamped, {"Resultado da verificação", "Aprovado",
                            "(assinatura válida; o certificado ICP-Brasil do signatário não é "
                            "válido hoje)",
                            "Nenhuma ressalva.", "Signatário 1", "Resultado: Aprovado",
                            "Classe do certificado: Certificado ICP-Brasil - Inválido (na data da "
                            "verificação)",
                            "Válido na data do carimbo do tempo (",
                            "prova: carimbo do tempo da assinatura (ACT: ACT de Teste)",
                            "Carimbo do tempo da assinatura:", " UTC", "ACT: ACT de Teste",
                            "Situação: válido", "Cadeia da ACT:", "ACT de Teste — validade de"});
    const QString forged = reportText(load(stateNamed("carimbo-invalido")));
    expectInOrder(forged,
                  {"Resultado da verificação", "Reprovado", "código: timestamp-invalid",
                   "Signatário 1", "Resultado: Reprovado", "Carimbo do tempo da assinatura:",
                   "inválido: o carimbo do tempo não corresponde a esta assinatura"});
}

// The report renders the verdicts it is given and works none out: a policy
// changed after judging is shown as it is, the verdict stays.
TEST_F(ReportTest, ThePolicyIsToldAndTheVerdictIsTheOneGiven)
{
    ValidationResult document = load(stateNamed("aprovado"));
    ASSERT_EQ(document.signers.size(), 1u);
    verify::SignatureResult& signer = document.signers[0];
    signer.policy = verify::PolicyCheck{.oid = "2.16.76.1.7.1.2.2.3",
                                        .name = "AD-RT v2.3",
                                        .conforms = false,
                                        .problems = {},
                                        .warnings = {"lista de políticas expirada em 10/09/2025"},
                                        .checked = {"hash da política", "atributos obrigatórios"},
                                        .notChecked = {"regras de extensão da política"}};
    // Nothing found against it, yet not everything checked: never "conforme".
    signer.policy->listName = "LPA_CAdES.der";
    signer.policy->listNextUpdate = QDateTime(QDate(2025, 9, 10), QTime(12, 0), Qt::UTC);
    QString text = reportText(document);
    expectInOrder(text, {"Listas de políticas de assinatura usadas:",
                         "• LPA_CAdES.der — próxima atualização prevista: 10/09/2025 12:00:00 UTC",
                         "Resultado da verificação", "Aprovado", "Nenhuma ressalva.",
                         "Política de assinatura", "Política: AD-RT v2.3 (2.16.76.1.7.1.2.2.3)",
                         "Conformidade: conformidade não confirmada",
                         "• conferido: hash da política", "• conferido: atributos obrigatórios",
                         "• não conferido: regras de extensão da política",
                         "• aviso: lista de políticas expirada em 10/09/2025"});
    EXPECT_FALSE(text.contains("Conformidade: conforme"));

    signer.policy->findings = {{verify::PolicyCode::Violation, "atributo assinado obrigatório "
                                                               "ausente: carimbo"}};
    text = reportText(document);
    expectInOrder(text, {"Resultado da verificação", "Aprovado", "Resultado: Aprovado",
                         "Conformidade: não conforme",
                         "• contra a política: atributo assinado obrigatório ausente: carimbo"});
    EXPECT_FALSE(text.contains("policy-violation"));
}

TEST_F(ReportTest, ACounterSignatureIsToldUnderItsSignatureWithItsOwnVerdict)
{
    const VerdictState& approved = stateNamed("aprovado");
    const fx::Cert notary =
        fx::issueEndEntity(fx::icpBrasilHierarchy().intermediate, "TABELIAO DE NOTAS");
    const VerdictState state{
        "contra-assinado",
        fx::withCounterSignature(approved.message, 0, {.cert = notary, .tamperSignature = true})};
    const ValidationResult document = load(state);
    ASSERT_EQ(document.signers.size(), 1u);
    ASSERT_EQ(document.signers[0].counterSignatures.size(), 1u);
    const QString text = reportText(document);
    // The file is Reprovado by the counter-signature, whose section says why.
    expectInOrder(text, {"Resultado da verificação", "Reprovado", "código: signature-invalid",
                         "Signatário 1", "Resultado: Aprovado", "Cadeia de certificados",
                         "Contra-assinaturas", "Contra-assinatura de: TABELIAO DE NOTAS",
                         "Resultado: Reprovado", "código: signature-invalid"});
}

// The class each signer is shown with, and what it is worth in law: only
// ICP-Brasil signatures are presumed authentic, so any other that verifies
// says so, in the file's verdict and in its own section; a gov.br signer's
// is the advanced signature it is, and one sentence says what that is worth.
TEST_F(ReportTest, EachClassIsShownWithWhatItIsWorthInLaw)
{
    ValidationResult document = load(stateNamed("aprovado"));
    ASSERT_EQ(document.signers.size(), 1u);
    verify::SignatureResult& signer = document.signers[0];
    const QString govBrNote = "Assinatura eletrônica avançada feita pelo serviço gov.br do "
                              "Governo Federal: aceita por órgãos públicos, não é uma assinatura "
                              "qualificada ICP-Brasil.";
    const QString caveat = "Só as assinaturas com certificado ICP-Brasil têm presunção legal de "
                           "veracidade (MP 2.200-2/2001, art. 10, § 1º).";
    struct Case {
        sig::TrustFramework framework;
        verify::CertificateClass certificateClass;
        QString caption;
        bool govBr;
        bool caveat;
    };
    const Case cases[] = {
        {sig::TrustFramework::GovBr, verify::CertificateClass::NoIcpValid,
         "Assinatura eletrônica avançada (gov.br) - Válida", true, true},
        {sig::TrustFramework::GovBr, verify::CertificateClass::NoIcpInvalid,
         "Assinatura eletrônica avançada (gov.br) - Inválida", true, true},
        {sig::TrustFramework::IcpBrasil, verify::CertificateClass::Valid,
         "Certificado ICP-Brasil - Válido", false, false},
        // An ICP-Brasil certificate under a root trusted by hand is still one.
        {sig::TrustFramework::Other, verify::CertificateClass::Valid,
         "Certificado ICP-Brasil - Válido", false, false},
        {sig::TrustFramework::Other, verify::CertificateClass::NoIcpValid,
         "Certificado Desconhecido - Válido", false, true},
        {sig::TrustFramework::None, verify::CertificateClass::NoIcpInvalid, {}, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.caption.toStdString() + " " + std::to_string(static_cast<int>(c.framework)));
        signer.trustFramework = c.framework;
        signer.certificateClass = c.certificateClass;
        // pdftotext breaks long lines where the page does.
        const QString text = reportText(document).simplified();
        expectInOrder(text, {"Resultado da verificação", "Aprovado", "Signatário 1",
                             "Classe do certificado: " + c.caption});
        EXPECT_EQ(text.contains(govBrNote), c.govBr) << text.toStdString();
        EXPECT_EQ(text.contains(caveat), c.caveat);
        EXPECT_EQ(text.contains("Assinatura sem certificado ICP-Brasil: só as assinaturas"),
                  c.caveat);
    }
}

TEST_F(ReportTest, TextFromTheFileIsShownAsTextNeverAsMarkup)
{
    const fx::Cert signer = icpSigner("<b>Fulano</b> & <i>Cia</i>:12345678901");
    const VerdictState state{"marcacao", fx::makeSignedMessage(icpMessage(signer, "<x>.pdf"))};
    const QString text = reportText(load(state));
    EXPECT_TRUE(text.contains("Nome: <b>Fulano</b> & <i>Cia</i>")) << text.toStdString();

    // A file name that is not UTF-8, with a line break: verified, and named
    // with its byte and its break escaped.
    const QString raw = fileinfo::decodePath(QByteArray("contr\xE9to\n.slv"));
    const QString path = dir_.filePath(raw);
    fx::writeFile(fileinfo::encodePath(path).toStdString(), stateNamed("aprovado").message);
    const ValidationResult odd =
        verify::Verification(stateOptions(stateNamed("aprovado"))).readFile(path).run();
    ASSERT_TRUE(odd.verified());
    EXPECT_TRUE(reportText(odd).contains("Nome: contr\\xE9to\\x0A.slv"));
}

// A right-to-left override in an authority's name would reorder the lines
// it sits in: authorities' names are cleaned as the holder's is.
TEST_F(ReportTest, AuthoritiesNamesCannotReorderTheirLines)
{
    const fx::Hierarchy icp = fx::icpBrasilHierarchy();
    const fx::Cert authority = fx::makeCertificate(
        {.subject = {{"CN", "AC \u202Eetset"}}, .issuer = &icp.root, .ca = true});
    const fx::Cert signer = fx::issueEndEntity(authority, "BELTRANO:12345678901");
    fx::MessageSpec spec = icpMessage(signer, "contrato.pdf");
    spec.extraCertificates.push_back(authority);
    const QString text = reportText(load({"ac", fx::makeSignedMessage(spec)}));
    EXPECT_FALSE(text.contains(QChar(0x202E)));
    expectInOrder(text, {"Cadeia de certificados", "1. BELTRANO", "Emissor: CN=AC etset",
                         "2. AC etset", "Titular: CN=AC etset"});
}

// A long report's text layer, read back word by word: every word where a
// reader sees it (nothing hidden in the margins or clipped at a page
// break), the footer's two items apart, no heading left at a page's foot,
// and a page that goes on with a signer says whose it is.
TEST_F(ReportTest, ALongReportsTextIsAllSeenOnceAndEveryPageSaysWhoseItIs)
{
    std::vector<fx::SignerSpec> signers;
    for (int n = 1; n <= 24; ++n)
        signers.push_back({.cert = icpSigner("SIGNATARIO " + std::to_string(n) + ":12345678901")});
    const ValidationResult document =
        load({"vinte-e-quatro", fx::makeSignedMessage(messageFor(signers))});
    ASSERT_EQ(document.signers.size(), 24u);
    const QString path = dir_.filePath("longo.pdf");
    ASSERT_FALSE(report::writeReport(document, path, fileinfo::Replace::Never));

    const std::vector<PdfPageWords> pages = pdfWords(path);
    ASSERT_GE(pages.size(), 12u);
    const qreal margin = 18 / 25.4 * 72; // points
    const QString sumText = fileSum(document);
    for (std::size_t n = 0; n < pages.size(); ++n) {
        SCOPED_TRACE("page " + std::to_string(n + 1));
        const QRectF seen(margin - 1, margin - 1, pages[n].size.width() - 2 * margin + 2,
                          pages[n].size.height() - 2 * margin + 2);
        QRectF pageNumber, sum;
        for (const PdfWord& word : pages[n].words) {
            EXPECT_TRUE(seen.contains(word.box)) << word.text.toStdString();
            if (word.text == "Página")
                pageNumber = word.box;
            if (word.text == sumText)
                sum = word.box;
        }
        ASSERT_FALSE(pageNumber.isNull());
        ASSERT_FALSE(sum.isNull());
        EXPECT_FALSE(pageNumber.intersects(sum));
    }
    const QStringList texts = pdfPages(path);
    ASSERT_EQ(static_cast<std::size_t>(texts.size()), pages.size());
    const QRegularExpression section(
        R"re(^(Signatário \d+|Carimbo do tempo|Glossário|Resultado))re");
    const QRegularExpression headingAtFoot(
        R"re((Cadeia de certificados|Carimbos do tempo|Política de assinatura|Erros:|Cadeia da ACT:|)re"
        R"re(Signatário \d+|Fontes de confiança:) SHA-256 do arquivo assinado)re");
    for (qsizetype n = 0; n < texts.size(); ++n) {
        EXPECT_FALSE(texts[n].contains(headingAtFoot)) << texts[n].toStdString();
        if (n == 0)
            continue;
        EXPECT_TRUE(texts[n].contains(section)) << texts[n].left(80).toStdString();
        if (!texts[n].startsWith("Signatário ") && !texts[n].startsWith("Glossário")) {
            EXPECT_TRUE(texts[n].contains(QRegularExpression(R"re(^\S.* \(cont\.\) )re")))
                << texts[n].left(80).toStdString();
        }
    }
    const QString text = texts.join(' ');
    for (const verify::SignatureResult& signer : document.signers)
        EXPECT_EQ(text.count("Número de série do certificado: " + signer.serialNumber), 1);
    EXPECT_EQ(text.count("Âncora de confiança: repositório"), 24);
    EXPECT_TRUE(texts.last().startsWith("Glossário")) << texts.last().left(80).toStdString();
}

// The report is a Brazilian document whatever the locale it is written in.
TEST_F(ReportTest, NumbersAndDatesAreBrazilianWhateverTheLocale)
{
    const QLocale before;
    for (const QLocale& locale : {QLocale::c(), QLocale(QLocale::English, QLocale::UnitedStates)}) {
        SCOPED_TRACE(locale.name().toStdString());
        QLocale::setDefault(locale);
        const ValidationResult document = load(stateNamed("aprovado"));
        const QString text = reportText(document);
        QLocale::setDefault(before);
        const qint64 size = QFileInfo(document.filePath).size();
        ASSERT_GE(size, 1000);
        EXPECT_TRUE(text.contains(QStringLiteral("%1,").arg(size / 1000))) << text.toStdString();
        EXPECT_TRUE(text.contains(QStringLiteral("(%1.%2 bytes)")
                                      .arg(size / 1000)
                                      .arg(size % 1000, 3, 10, QLatin1Char('0'))));
        EXPECT_FALSE(text.contains(QRegularExpression(
            R"re(\b(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec|AM|PM)\b)re")))
            << text.toStdString();
    }
}

// The bundled roots in the order people count (v2 before v10), each with
// its fingerprint; a chain's root says which of them anchored it.
TEST_F(ReportTest, TrustSourcesAreNamedInNaturalOrderWithTheirFingerprints)
{
    ValidationResult document = load(stateNamed("aprovado"));
    ASSERT_EQ(document.signers.size(), 1u);
    const QString root =
        verify::certificateSha256(document.signers[0].status.chain.back().certificate);
    document.trustSources.bundledAnchors = {{"raiz-brasileira-v10", QByteArray(64, 'a')},
                                            {"raiz-brasileira-v5", root.toLatin1()},
                                            {"raiz-brasileira-v2", QByteArray(64, 'b')}};
    const QString text = reportText(document).simplified();
    expectInOrder(text, {"Fontes de confiança:",
                         "raiz-brasileira-v2 (raiz do programa) — SHA-256 " + QString(64, 'b'),
                         "raiz-brasileira-v5 (raiz do programa) — SHA-256 " + root,
                         "raiz-brasileira-v10 (raiz do programa) — SHA-256 " + QString(64, 'a'),
                         "Cadeia de certificados",
                         "Âncora de confiança: raiz do programa "
                         "\"raiz-brasileira-v5\""});
}

// "Consulta à rede" says whether the network answered, and an unknown
// revocation whether it was asked at all.
TEST_F(ReportTest, TheNetworkIsSaidToHaveAnsweredOnlyWhenItDid)
{
    selavia::testing::HttpTestServer server;
    const fx::Cert root = fx::makeCertificate({.subject = {{"CN", "Raiz do Relatório"}},
                                               .key = fx::makeKey(fx::KeyType::EcP256, true),
                                               .ca = true});
    const fx::Cert signer = fx::makeCertificate(
        {.subject = {{"CN", "BELTRANA"}},
         .issuer = &root,
         .extensions = {{"crlDistributionPoints", "URI:" + server.url("/ac.crl")}}});
    const QString path =
        dir_.write("rede.slv", fx::makeSignedMessage({.signers = {{.cert = signer}}}));
    sig::TrustStore store = sig::TrustStore::empty();
    store.addTrusted(QByteArray::fromStdString(root.der()));
    struct Case {
        const char* name;
        bool offline;
        std::optional<HttpReply> reply;
        QStringList expected;
    };
    const Case cases[] = {
        {"offline",
         true,
         std::nullopt,
         {"Consulta à rede: não: verificação offline",
          "Revogação: Desconhecida: não consultada na rede"}},
        {"no answer",
         false,
         HttpReply{.status = 503},
         {"Consulta à rede: tentada, mas a rede não respondeu",
          "Revogação: Desconhecida: nenhuma resposta válida das fontes consultadas na rede"}},
        {"answered",
         false,
         HttpReply{.body = fx::crlDer(fx::makeCrl({.issuer = &root}).get())},
         {"Consulta à rede: sim: 1 de 1 consultas respondidas", "Revogação: Não revogado"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.reply)
            server.route("/ac.crl", *c.reply);
        selavia::revocation::Settings settings;
        settings.offline = c.offline;
        settings.cacheFolder = dir_.filePath(QString("cache-") + c.name);
        verify::LoadOptions options(store, settings);
        options.sumSignedFile = true;
        const ValidationResult document = verify::Verification(options).readFile(path).run();
        ASSERT_TRUE(document.verified());
        expectInOrder(reportText(document).simplified(), c.expected);
    }
}

TEST(ReportFileNameTest, TheReportIsNamedAfterTheSignedFile)
{
    EXPECT_EQ(report::reportFileName("/pasta/contrato.slv"), "contrato-relatorio.pdf");
    EXPECT_EQ(report::reportFileName("/pasta/ata.v2.slv"), "ata.v2-relatorio.pdf");
}
