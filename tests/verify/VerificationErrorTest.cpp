#include "verify/VerificationError.h"

#include "platform/signature/SignatureError.h"
#include "tests/support/Printers.h"

#include <gtest/gtest.h>
#include <openssl/asn1.h>
#include <openssl/err.h>
#include <tuple>

namespace sig = selavia::signature;
using selavia::verify::classifyVerificationError;
using selavia::verify::VerificationErrorClass;

namespace {

const QString kUnknownText = QStringLiteral(
    "Foi detectado um erro desconhecido durante o processo de validação do seu arquivo. Em caso "
    "de dúvidas entre em contato com o desenvolvedor informando a tentativa realizada.");

} // namespace

TEST(VerificationErrorTest, TheThreeKnownCodesGiveTheirCaptionsAndTexts)
{
    const std::vector<std::tuple<std::uint32_t, VerificationErrorClass, QString, QString>> rows = {
        {sig::code::kHashMismatch, VerificationErrorClass::HashMismatch,
         "Documento Violado - Erro 1717",
         "O conteúdo deste arquivo foi adulterado, por tanto o mesmo encontra-se inválido\r\n"
         "Hash incorreto."},
        {sig::code::kNotSignedData, VerificationErrorClass::InvalidFile,
         "Arquivo Inválido - Erro 0212",
         "Este arquivo não possui uma assinatura no formato PKCS7 ou está corrompido.\r\n"
         "Conteúdo Desconhecido."},
        {sig::code::kBadSignature, VerificationErrorClass::SignatureViolated,
         "Assinatura Violada - Erro 1718",
         "A(s) Assinatura(s) contidas neste arquivo foram violadas ou o arquivo está corrompido. "
         "Segurança Questionada - Incompatibilidade\r\n\r\n"},
    };
    for (const auto& [code, errorClass, caption, text] : rows) {
        SCOPED_TRACE(caption.toStdString());
        const sig::SignatureError failure = sig::SignatureError::of(code);
        const auto error = classifyVerificationError(failure.codeText(), failure.description());
        EXPECT_EQ(error.errorClass, errorClass);
        EXPECT_EQ(error.codeText, failure.codeText());
        EXPECT_EQ(error.caption, caption);
        EXPECT_EQ(error.text, text);
    }
}

TEST(VerificationErrorTest, AnyOtherCodeQuotesItsNumberAndTheServicesDescription)
{
    const sig::SignatureError detached = sig::SignatureError::of(sig::code::kDetachedContent);
    const auto error = classifyVerificationError(detached.codeText(), detached.description());
    EXPECT_EQ(error.errorClass, VerificationErrorClass::Unknown);
    EXPECT_EQ(error.caption, "Erro (" + sig::signedDecimalText(sig::code::kDetachedContent) + ")");
    EXPECT_EQ(error.text, detached.description() + "\r\n\r\n" + kUnknownText + "\r\n\r\n");

    const auto plain = classifyVerificationError("-5", "Falha qualquer.");
    EXPECT_EQ(plain.caption, "Erro (-5)");
    EXPECT_EQ(plain.text, "Falha qualquer.\r\n\r\n" + kUnknownText + "\r\n\r\n");
}

TEST(VerificationErrorTest, CodesAreComparedAsExactText)
{
    // The unsigned reading of a known code, or the same digits with blanks,
    // are other codes.
    for (const QString& near :
         {QStringLiteral("2148077575"), QStringLiteral(" -2146889721"),
          QStringLiteral("-2146889721 "), QStringLiteral("-02146881269"), QString()}) {
        const auto error = classifyVerificationError(near, "descrição");
        EXPECT_EQ(error.errorClass, VerificationErrorClass::Unknown) << near.toStdString();
        EXPECT_EQ(error.caption, "Erro (" + near + ")");
    }
}

TEST(VerificationErrorTest, WhatOpenSslSaysStaysOffThePanel)
{
    // An error OpenSSL reported while parsing: its English words are details.
    const std::vector<unsigned long> queue = {ERR_PACK(ERR_LIB_ASN1, 0, ASN1_R_WRONG_TAG)};
    const sig::SignatureError error =
        sig::SignatureError::withDetails(sig::code::kUnsupportedAlgorithm, queue);
    EXPECT_EQ(error.description(), sig::SignatureError::describe(sig::code::kUnsupportedAlgorithm));
    EXPECT_TRUE(error.details().contains("wrong tag")) << error.details().toStdString();

    const auto shown =
        classifyVerificationError(error.codeText(), error.description(), error.details());
    EXPECT_EQ(shown.errorClass, VerificationErrorClass::Unknown);
    EXPECT_FALSE(shown.text.contains("wrong tag")) << shown.text.toStdString();
    EXPECT_FALSE(shown.text.contains("OpenSSL")) << shown.text.toStdString();
    EXPECT_EQ(shown.detail, error.details());
}
