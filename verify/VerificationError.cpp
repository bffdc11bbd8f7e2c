#include "VerificationError.h"

#include "platform/signature/SignatureError.h"

#include <array>

namespace selavia::verify {
namespace {

const QString kLineBreak = QStringLiteral("\r\n");

struct KnownFailure {
    std::uint32_t code; // shown and compared as signed decimal text
    VerificationErrorClass errorClass;
    QString caption;
    QString text;
};

const std::array<KnownFailure, 3>& knownFailures()
{
    static const std::array<KnownFailure, 3> table = {{
        {signature::code::kHashMismatch, VerificationErrorClass::HashMismatch,
         QStringLiteral("Documento Violado - Erro 1717"),
         QStringLiteral("O conteúdo deste arquivo foi adulterado, por tanto o mesmo encontra-se "
                        "inválido") +
             kLineBreak + QStringLiteral("Hash incorreto.")},
        {signature::code::kNotSignedData, VerificationErrorClass::InvalidFile,
         QStringLiteral("Arquivo Inválido - Erro 0212"),
         QStringLiteral("Este arquivo não possui uma assinatura no formato PKCS7 ou está "
                        "corrompido.") +
             kLineBreak + QStringLiteral("Conteúdo Desconhecido.")},
        {signature::code::kBadSignature, VerificationErrorClass::SignatureViolated,
         QStringLiteral("Assinatura Violada - Erro 1718"),
         QStringLiteral("A(s) Assinatura(s) contidas neste arquivo foram violadas ou o arquivo "
                        "está corrompido. Segurança Questionada - Incompatibilidade") +
             kLineBreak + kLineBreak},
    }};
    return table;
}

const QString kUnknownFailureText =
    QStringLiteral("Foi detectado um erro desconhecido durante o processo de validação do seu "
                   "arquivo. Em caso de dúvidas entre em contato com o desenvolvedor informando a "
                   "tentativa realizada.");

} // namespace

VerificationError classifyVerificationError(const QString& codeText, const QString& description,
                                            const QString& detail)
{
    VerificationError error;
    error.codeText = codeText;
    error.detail = detail;
    // Compared as text, first match wins, like the codes the services report.
    for (const KnownFailure& known : knownFailures()) {
        if (codeText == signature::signedDecimalText(known.code)) {
            error.errorClass = known.errorClass;
            error.caption = known.caption;
            error.text = known.text;
            return error;
        }
    }
    error.errorClass = VerificationErrorClass::Unknown;
    error.caption = QStringLiteral("Erro (") + codeText + QLatin1Char(')');
    error.text =
        description + kLineBreak + kLineBreak + kUnknownFailureText + kLineBreak + kLineBreak;
    return error;
}

void noteUnreadableFile(VerificationError& error, const QString& path,
                        const fileinfo::FileError& why)
{
    error.unreadablePath = path;
    error.readFailure = why;
    QString reason = why.description;
    if (!reason.isEmpty())
        reason[0] = reason[0].toLower();
    // A read that failed is no corrupt file: the panel names the file and
    // the cause under the class's own words.
    if (!error.text.endsWith(kLineBreak))
        error.text += kLineBreak;
    if (!error.text.endsWith(kLineBreak + kLineBreak))
        error.text += kLineBreak;
    error.text += QStringLiteral("Não foi possível ler o arquivo:") + kLineBreak + path +
                  kLineBreak + QStringLiteral("Motivo: %1.").arg(reason);
}

FileFailure fileFailureOf(const VerificationError& error)
{
    if (error.codeText == signature::signedDecimalText(signature::code::kUnsupportedAlgorithm))
        return FileFailure::UnsupportedAlgorithm;
    switch (error.errorClass) {
    case VerificationErrorClass::HashMismatch:
        return FileFailure::ContentTampered;
    case VerificationErrorClass::SignatureViolated:
        return FileFailure::SignatureInvalid;
    case VerificationErrorClass::InvalidFile:
    case VerificationErrorClass::Unknown:
        break;
    }
    return FileFailure::InvalidFile;
}

} // namespace selavia::verify
