#include "report/VerificationReport.h"
#include "tests/support/PdfText.h"
#include "tests/support/VerdictStates.h"
#include "tests/support/VerifyFixtures.h"
#include "tools/fixtures/CadesFixtures.h"
#include "verify/CertificateClass.h"
#include "verify/Verification.h"

#include <QCryptographicHash>
#include <QFileInfo>
#include <QLocale>
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
        const QString path = dir_.filePath(report::reportFileName(document.filePath));
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
    expectInOrder(text, {"Relatório de Verificação de Assinaturas",
                         "Programa: Selavia Reader 2.1.6",
                         "Data e hora da verificação:",
                         "(horário local, UTC",
                         " UTC",
                         "Consulta à rede: não (verificação offline",
                         "Fontes de confiança:",
                         "1 certificado(s) confiável(is)",
                         "Arquivo assinado",
                         "Nome: aprovado.slv",
                         QStringLiteral("(%1 bytes)")
                             .arg(QLocale(QLocale::Portuguese, QLocale::Brazil)
                                      .toString(QFileInfo(document.filePath).size())),
                         "SHA-256: " + fileSum(document),
                         "Documento original",
                         "Nome: contrato.pdf",
                         "SHA-256: " + contentSum,
                         "Resultado da verificação",
                         "Aprovado",
                         "Nenhuma ressalva.",
                         "Signatário 1",
                         "Nome: MARIA DA SILVA",
                         "CPF: 123.456.789-01",
                         "E-mail: fulano@example.com.br",
                         "Classe do certificado: Certificado ICP-Brasil - Válido",
                         "Resultado: Aprovado",
                         "Data da assinatura e origem:",
                         "Carimbo do tempo: nenhum",
                         "Política de assinatura: nenhuma declarada",
                         "Número de série do certificado: " + signer.serialNumber,
                         "Impressão digital (SHA-1): " + signer.thumbprint,
                         "Validade do certificado: " + signer.validFromText,
                         "Cadeia de certificados:",
                         "MARIA DA SILVA",
                         "Revogação: Não revogado",
                         "Fonte: contida na assinatura",
                         "Autoridade Certificadora Raiz Brasileira v5",
                         "raiz confiável: a revogação não se aplica"});
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
    EXPECT_EQ(text.count("Cadeia de certificados:"), 10);
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
    expectInOrder(stamped, {"Resultado da verificação", "Aprovado", "Nenhuma ressalva.",
                            "Signatário 1", "Resultado: Aprovado",
                            "Carimbo do tempo:", " UTC — ACT: ACT de Teste — válido"});
    const QString forged = reportText(load(stateNamed("carimbo-invalido")));
    expectInOrder(forged, {"Resultado da verificação", "Reprovado", "código: timestamp-invalid",
                           "Signatário 1", "Resultado: Reprovado", "Carimbo do tempo:",
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
                                        .conforms = true,
                                        .problems = {"lista de políticas expirada em 10/09/2025"}};
    expectInOrder(reportText(document),
                  {"Resultado da verificação", "Aprovado", "Nenhuma ressalva.",
                   "Política de assinatura: AD-RT v2.3 (2.16.76.1.7.1.2.2.3) — conforme: "
                   "lista de políticas expirada em 10/09/2025"});

    signer.policy->conforms = false;
    const QString text = reportText(document);
    expectInOrder(text,
                  {"Resultado da verificação", "Aprovado", "Resultado: Aprovado", "não conforme"});
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
                         "Signatário 1", "Resultado: Aprovado",
                         "Cadeia de certificados:", "Contra-assinatura de: TABELIAO DE NOTAS",
                         "Resultado: Reprovado", "código: signature-invalid"});
}

// A gov.br signer's class is the advanced signature it is, and one
// sentence says what that is worth; other signers' reports say nothing of it.
TEST_F(ReportTest, AGovBrSignerIsToldAsAnAdvancedSignatureAndNoOtherIs)
{
    ValidationResult document = load(stateNamed("aprovado"));
    ASSERT_EQ(document.signers.size(), 1u);
    verify::SignatureResult& signer = document.signers[0];
    const QString note = "Assinatura eletrônica avançada feita pelo serviço gov.br do Governo "
                         "Federal: aceita por órgãos públicos, não é uma assinatura qualificada "
                         "ICP-Brasil.";
    struct Case {
        sig::TrustFramework framework;
        verify::CertificateClass certificateClass;
        QString caption;
        bool noted;
    };
    const Case cases[] = {
        {sig::TrustFramework::GovBr, verify::CertificateClass::NoIcpValid,
         "Classe do certificado: Assinatura eletrônica avançada (gov.br) - Válida", true},
        {sig::TrustFramework::GovBr, verify::CertificateClass::NoIcpInvalid,
         "Classe do certificado: Assinatura eletrônica avançada (gov.br) - Inválida", true},
        {sig::TrustFramework::IcpBrasil, verify::CertificateClass::Valid,
         "Classe do certificado: Certificado ICP-Brasil - Válido", false},
        {sig::TrustFramework::Other, verify::CertificateClass::NoIcpValid,
         "Classe do certificado: Certificado Desconhecido - Válido", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.caption.toStdString());
        signer.trustFramework = c.framework;
        signer.certificateClass = c.certificateClass;
        // pdftotext breaks long lines where the page does.
        const QString text = reportText(document).simplified();
        expectInOrder(text, {"Signatário 1", c.caption});
        EXPECT_EQ(text.contains(note), c.noted) << text.toStdString();
    }
}

TEST_F(ReportTest, TextFromTheFileIsShownAsTextNeverAsMarkup)
{
    const fx::Cert signer = icpSigner("<b>Fulano</b> & <i>Cia</i>:12345678901");
    const VerdictState state{"marcacao", fx::makeSignedMessage(icpMessage(signer, "<x>.pdf"))};
    const QString text = reportText(load(state));
    EXPECT_TRUE(text.contains("Nome: <b>Fulano</b> & <i>Cia</i>")) << text.toStdString();
}

TEST(ReportFileNameTest, TheReportIsNamedAfterTheSignedFile)
{
    EXPECT_EQ(report::reportFileName("/pasta/contrato.slv"), "contrato-relatorio.pdf");
    EXPECT_EQ(report::reportFileName("/pasta/ata.v2.slv"), "ata.v2-relatorio.pdf");
}
