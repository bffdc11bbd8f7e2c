#include "verify/Verification.h"

#include "platform/signature/SignatureError.h"
#include "tests/support/VerifyFixtures.h"
#include "verify/DetachedDocument.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <tuple>

using namespace selavia::verify;
using namespace selavia::testing;

namespace {

fx::MessageSpec namedMessage()
{
    fx::SignerSpec signer{.cert = icpSigner()};
    signer.attributes = {fx::documentNameAttribute("contrato.pdf")};
    return messageFor({signer});
}

// What a failed verification must leave behind, whatever the failure.
void expectNothingButTheError(const ValidationResult& document)
{
    EXPECT_FALSE(document.verified());
    EXPECT_EQ(document.contentSize, -1);
    EXPECT_TRUE(document.contentSha256.isEmpty());
    EXPECT_TRUE(document.signers.empty());
    EXPECT_TRUE(document.tree.empty());
    EXPECT_EQ(document.originalName, "");
    EXPECT_FALSE(document.hasExtension);
    EXPECT_FALSE(document.signaturesOk);
    // A file that failed is Reprovado, or Indeterminado when it could not be checked.
    EXPECT_NE(document.verdict.verdict, Verdict::Approved);
    EXPECT_FALSE(document.verdict.reasons.empty());
    EXPECT_FALSE(document.acceptedAsIcpBrasil());
}

ValidationResult load(const QString& path)
{
    return Verification(trustingIcp()).readFile(path).run();
}

} // namespace

class VerificationTest : public ::testing::Test {
protected:
    QString write(const QString& name, const fx::Bytes& content)
    {
        return dir_.write(name, content);
    }

    ScratchFolder dir_;
};

TEST_F(VerificationTest, AGoodFileIsVerifiedWithEverythingTheWindowShows)
{
    const fx::MessageSpec spec = namedMessage();
    const QString path = write("contrato.slv", fx::makeSignedMessage(spec));
    QByteArray content;
    int progressCalls = 0;
    const ValidationResult document =
        Verification(trustingIcp())
            .readFile(path)
            .onProgress([&](LoadPhase, qint64, qint64) { return ++progressCalls > 0; })
            .contentSink([&](QByteArrayView block) { content += block; })
            .run();

    ASSERT_TRUE(document.verified());
    EXPECT_EQ(document.filePath, path);
    EXPECT_EQ(content, bytes(spec.content));
    EXPECT_EQ(document.contentSize, content.size());
    EXPECT_EQ(document.contentSha256,
              QCryptographicHash::hash(content, QCryptographicHash::Sha256));
    EXPECT_GT(progressCalls, 0);
    EXPECT_TRUE(document.checkedAt.isValid());
    // Judged by the one value: the file's verdict is its signer's.
    ASSERT_EQ(document.signers.size(), 1u);
    EXPECT_EQ(document.verdict.verdict, document.signers[0].judgement.verdict);
    ASSERT_EQ(document.signers.size(), 1u);
    EXPECT_EQ(document.signers[0].index, 1);
    EXPECT_EQ(document.signers[0].certificateClass, CertificateClass::Valid);
    EXPECT_TRUE(document.signaturesOk);
    EXPECT_EQ(document.tree.size(), 14u);
    EXPECT_EQ(document.originalName, "contrato.pdf");
    EXPECT_TRUE(document.hasExtension);
}

TEST_F(VerificationTest, EachFailureGivesItsErrorClassAndNothingElse)
{
    const fx::MessageSpec spec = namedMessage();
    const fx::Bytes good = fx::makeSignedMessage(spec);
    fx::MessageSpec detachedSpec = namedMessage();
    detachedSpec.detached = true;

    const QString detachedCode = sig::signedDecimalText(sig::code::kDetachedContent);
    const std::vector<std::tuple<const char*, fx::Bytes, VerificationErrorClass, QString>> cases = {
        {"adulterado.slv", fx::tamperContent(good, spec.content),
         VerificationErrorClass::HashMismatch, "Documento Violado - Erro 1717"},
        {"texto.slv", "isto não é uma mensagem assinada", VerificationErrorClass::InvalidFile,
         "Arquivo Inválido - Erro 0212"},
        {"vazio.slv", "", VerificationErrorClass::InvalidFile, "Arquivo Inválido - Erro 0212"},
        {"assinatura.slv", fx::tamperSignature(good), VerificationErrorClass::SignatureViolated,
         "Assinatura Violada - Erro 1718"},
        // Any other failure quotes its code and the description first.
        {"destacado.slv", fx::makeSignedMessage(detachedSpec), VerificationErrorClass::Unknown,
         "Erro (" + detachedCode + ")"},
    };
    for (const auto& [file, content, errorClass, caption] : cases) {
        SCOPED_TRACE(file);
        const ValidationResult document = load(write(file, content));
        ASSERT_TRUE(document.error.has_value());
        EXPECT_EQ(document.error->errorClass, errorClass);
        EXPECT_EQ(document.error->caption, caption);
        expectNothingButTheError(document);
        if (errorClass == VerificationErrorClass::Unknown) {
            EXPECT_EQ(document.error->codeText, detachedCode);
            EXPECT_TRUE(document.error->text.startsWith(
                sig::SignatureError::describe(sig::code::kDetachedContent) +
                "\r\n\r\nFoi detectado"))
                << document.error->text.toStdString();
        }
    }
}

// A read that failed keeps the invalid-file caption and text, and says
// under them which file and the system's reason: never corruption alone.
TEST_F(VerificationTest, AFileThatCannotBeReadNamesTheFileAndTheReason)
{
    const QString good = write("contrato.slv", fx::makeSignedMessage(namedMessage()));
    const QString folder = dir_.filePath("pasta.slv");
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString locked = write("trancado.slv", fx::makeSignedMessage(namedMessage()));
    ASSERT_TRUE(QFile::setPermissions(locked, QFileDevice::WriteOwner));
    struct Case {
        QString path;
        int number;
        QString reason;
    };
    std::vector<Case> cases = {
        {dir_.filePath("nao-existe.slv"), 53, "arquivo não encontrado"},
        {good + "/dentro.slv", 76, "caminho não encontrado"},
        {folder, 75, "é uma pasta, não um arquivo"},
    };
    // Root reads any file.
    if (!QFile(locked).open(QIODevice::ReadOnly))
        cases.push_back({locked, 70, "permissão negada"});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path.toStdString());
        const ValidationResult document = load(c.path);
        ASSERT_TRUE(document.error.has_value());
        const VerificationError& error = *document.error;
        EXPECT_EQ(error.errorClass, VerificationErrorClass::InvalidFile);
        EXPECT_EQ(error.caption, "Arquivo Inválido - Erro 0212");
        expectNothingButTheError(document);
        EXPECT_EQ(error.unreadablePath, c.path);
        ASSERT_TRUE(error.readFailure.has_value());
        EXPECT_EQ(error.readFailure->number, c.number);
        EXPECT_EQ(error.text,
                  "Este arquivo não possui uma assinatura no formato PKCS7 ou está corrompido.\r\n"
                  "Conteúdo Desconhecido.\r\n\r\nNão foi possível ler o arquivo:\r\n" +
                      c.path + "\r\nMotivo: " + c.reason + ".");
    }

    // A file that opens and is no signed message says nothing of reading.
    const ValidationResult text = load(write("texto.slv", "isto não é uma mensagem assinada"));
    ASSERT_TRUE(text.error.has_value());
    EXPECT_FALSE(text.error->readFailure.has_value());
    EXPECT_TRUE(text.error->unreadablePath.isEmpty());
    EXPECT_FALSE(text.error->text.contains("Não foi possível ler"));
}

TEST_F(VerificationTest, ADetachedSignaturesMissingDocumentIsNamedWithItsReason)
{
    fx::MessageSpec spec = namedMessage();
    spec.detached = true;
    const QString signature = write("contrato.pdf.p7s", fx::makeSignedMessage(spec));
    LoadOptions options(trustingIcp());
    options.detachedContentPath = dir_.filePath("sumiu.pdf");
    const ValidationResult document = Verification(options).readFile(signature).run();
    ASSERT_TRUE(document.error.has_value());
    EXPECT_EQ(document.error->codeText, sig::signedDecimalText(sig::code::kContentUnreadable));
    expectNothingButTheError(document);
    EXPECT_EQ(document.error->unreadablePath, options.detachedContentPath);
    ASSERT_TRUE(document.error->readFailure.has_value());
    EXPECT_EQ(document.error->readFailure->number, 53);
    // The unknown class keeps its text; the file and the reason follow it.
    EXPECT_TRUE(document.error->text.startsWith(
        sig::SignatureError::describe(sig::code::kContentUnreadable)));
    EXPECT_TRUE(document.error->text.endsWith("tentativa realizada.\r\n\r\nNão foi possível ler "
                                              "o arquivo:\r\n" +
                                              options.detachedContentPath +
                                              "\r\nMotivo: arquivo não encontrado."))
        << document.error->text.toStdString();

    // Given, the document is verified and the result names it.
    options.detachedContentPath = write("contrato.pdf", spec.content);
    const ValidationResult verified = Verification(options).readFile(signature).run();
    ASSERT_TRUE(verified.verified());
    EXPECT_EQ(verified.detachedContentPath, options.detachedContentPath);
    EXPECT_EQ(verified.originalName, "contrato.pdf");
}

TEST_F(VerificationTest, ADetachedSignatureLooksForItsDocumentBesideItByName)
{
    const QString document = write("contrato.pdf", "%PDF-1.4");
    write("CAIXA.PDF", "%PDF-1.4");
    ASSERT_TRUE(QDir().mkpath(dir_.filePath("pasta")));
    const std::pair<QString, QString> beside[] = {
        {"contrato.pdf.p7s", document},
        {"CAIXA.PDF.P7S", dir_.filePath("CAIXA.PDF")},
        {"sozinho.pdf.p7s", ""}, // nothing there
        {"pasta.p7s", ""},       // a folder is no document
        {".p7s", ""},
        {"contrato.pdf.p7m", ""}, // only a detached signature's name points at its document
    };
    for (const auto& [name, expected] : beside) {
        SCOPED_TRACE(name.toStdString());
        EXPECT_EQ(documentBeside(dir_.filePath(name)), expected);
    }

    // Only a ".p7s" that turned out detached asks for its document.
    fx::MessageSpec spec = namedMessage();
    spec.detached = true;
    const fx::Bytes detached = fx::makeSignedMessage(spec);
    const fx::Bytes attached = fx::makeSignedMessage(namedMessage());
    const std::tuple<QString, fx::Bytes, bool> loads[] = {
        {"destacada.p7s", detached, true},  {"DESTACADA.P7S", detached, true},
        {"destacada.slv", detached, false}, {"destacada.p7m", detached, false},
        {"anexada.p7s", attached, false},   {"texto.p7s", "nada assinado", false},
    };
    for (const auto& [name, content, asks] : loads) {
        SCOPED_TRACE(name.toStdString());
        EXPECT_EQ(needsDetachedDocument(load(write(name, content))), asks);
    }
    EXPECT_FALSE(needsDetachedDocument(load(dir_.filePath("nao-existe.p7s"))));
}

TEST_F(VerificationTest, ACancelledRunFailsAndWritesNothing)
{
    const QString path = write("contrato.slv", fx::makeSignedMessage(namedMessage()));
    const QString target = dir_.path() + "/extraido.pdf";
    const ValidationResult cancelled =
        Verification(trustingIcp())
            .readFile(path)
            .extractTo(target, selavia::fileinfo::Replace::Never)
            .onProgress([](LoadPhase, qint64, qint64) { return false; })
            .run();
    EXPECT_FALSE(cancelled.verified());
    EXPECT_FALSE(QFile::exists(target));

    // The same run, not cancelled, writes the verified content.
    const ValidationResult written = Verification(trustingIcp())
                                         .readFile(path)
                                         .extractTo(target, selavia::fileinfo::Replace::Never)
                                         .run();
    ASSERT_TRUE(written.verified());
    EXPECT_FALSE(written.outputFailure.has_value());
    EXPECT_EQ(QFile(target).size(), written.contentSize);
}

TEST_F(VerificationTest, TheContentIsKeptForAPreviewOnlyWhenVerifiedAndWithinTheCap)
{
    const fx::MessageSpec spec = namedMessage();
    const qint64 size = static_cast<qint64>(spec.content.size());
    const QString good = write("contrato.slv", fx::makeSignedMessage(spec));
    const QString tampered =
        write("violado.slv", fx::tamperContent(fx::makeSignedMessage(spec), spec.content));
    // The file, the cap, and whether the content comes back.
    const std::vector<std::tuple<QString, qint64, bool>> rows = {
        {good, size, true}, {good, size + 1, true},  {good, size - 1, false},
        {good, 0, false},   {tampered, size, false},
    };
    for (const auto& [path, cap, kept] : rows) {
        SCOPED_TRACE(path.toStdString() + " cap " + std::to_string(cap));
        QByteArray seen;
        const ValidationResult result =
            Verification(trustingIcp())
                .readFile(path)
                .keepContent(cap)
                .contentSink([&](QByteArrayView block) { seen += block; })
                .run();
        ASSERT_EQ(result.content.has_value(), kept);
        if (kept) {
            EXPECT_EQ(*result.content, bytes(spec.content));
        }
        if (result.verified()) {
            EXPECT_EQ(seen, bytes(spec.content)) << "the caller's sink still sees every byte";
        }
    }
}
