#include "verify/VerifiedDocument.h"

#include "platform/signature/SignatureError.h"
#include "tests/support/VerifyFixtures.h"

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
void expectNothingButTheError(const VerifiedDocument& document)
{
    EXPECT_FALSE(document.verified());
    EXPECT_TRUE(!document.signedData || !document.signedData->isVerified());
    EXPECT_TRUE(document.signers.empty());
    EXPECT_TRUE(document.tree.empty());
    EXPECT_EQ(document.originalName, "");
    EXPECT_FALSE(document.hasExtension);
    EXPECT_FALSE(document.signaturesOk);
}

} // namespace

class LoadSignedDocumentTest : public ::testing::Test {
protected:
    QString write(const QString& name, const fx::Bytes& content)
    {
        return dir_.write(name, content);
    }

    ScratchFolder dir_;
};

TEST_F(LoadSignedDocumentTest, AGoodFileIsVerifiedWithEverythingTheWindowShows)
{
    const fx::MessageSpec spec = namedMessage();
    const QString path = write("contrato.slv", fx::makeSignedMessage(spec));
    QByteArray content;
    const VerifiedDocument document = loadSignedDocument(
        path, trustingIcp(), {}, [&](QByteArrayView block) { content += block; });

    ASSERT_TRUE(document.verified());
    EXPECT_EQ(document.filePath, path);
    ASSERT_NE(document.signedData, nullptr);
    EXPECT_EQ(content, bytes(spec.content));
    ASSERT_EQ(document.signers.size(), 1u);
    EXPECT_EQ(document.signers[0].index, 1);
    EXPECT_EQ(document.signers[0].certificateClass, CertificateClass::Valid);
    EXPECT_TRUE(document.signaturesOk);
    EXPECT_EQ(document.tree.size(), 14u);
    EXPECT_EQ(document.originalName, "contrato.pdf");
    EXPECT_TRUE(document.hasExtension);
}

TEST_F(LoadSignedDocumentTest, EachFailureGivesItsErrorClassAndNothingElse)
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
        const VerifiedDocument document = loadSignedDocument(write(file, content), trustingIcp());
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

TEST_F(LoadSignedDocumentTest, AFileThatCannotBeReadIsReportedAsAnInvalidFile)
{
    const VerifiedDocument missing =
        loadSignedDocument(dir_.filePath("nao-existe.slv"), trustingIcp());
    ASSERT_TRUE(missing.error.has_value());
    EXPECT_EQ(missing.error->caption, "Arquivo Inválido - Erro 0212");
    expectNothingButTheError(missing);

    const QString locked = write("trancado.slv", fx::makeSignedMessage(namedMessage()));
    ASSERT_TRUE(QFile::setPermissions(locked, QFileDevice::WriteOwner));
    // Root reads any file; elsewhere the refused read must look like no message.
    if (!QFile(locked).open(QIODevice::ReadOnly)) {
        const VerifiedDocument unreadable = loadSignedDocument(locked, trustingIcp());
        ASSERT_TRUE(unreadable.error.has_value());
        EXPECT_EQ(unreadable.error->errorClass, VerificationErrorClass::InvalidFile);
    }
}
