#include "SignatureError.h"

#include <QStringList>
#include <array>
#include <openssl/err.h>

namespace selavia::signature {

SignatureError::SignatureError(std::uint32_t code, QString description, QString details)
    : std::runtime_error(description.toStdString()), code_(code),
      description_(std::move(description)), details_(std::move(details))
{
}

QString signedDecimalText(std::uint32_t code)
{
    return QString::number(static_cast<std::int32_t>(code));
}

QString SignatureError::codeText() const
{
    return signedDecimalText(code_);
}

QString SignatureError::describe(std::uint32_t errorCode)
{
    switch (errorCode) {
    case code::kHashMismatch:
        return QStringLiteral("O valor de hash do conteúdo não confere com o valor assinado.");
    case code::kNotSignedData:
        return QStringLiteral("Os dados não são uma mensagem assinada PKCS#7/CMS válida.");
    case code::kBadSignature:
        return QStringLiteral("A assinatura não confere com o certificado do signatário.");
    case code::kDetachedContent:
        return QStringLiteral("A mensagem assinada não contém o documento original "
                              "(assinatura destacada).");
    case code::kSignerCertificateMissing:
        return QStringLiteral("O certificado de um dos signatários não está presente na "
                              "mensagem assinada.");
    case code::kUnsupportedAlgorithm:
        return QStringLiteral("A mensagem assinada usa um algoritmo não suportado.");
    case code::kNotVerified:
        return QStringLiteral("A mensagem assinada ainda não foi verificada.");
    case code::kBadBase64:
        return QStringLiteral("O texto não está codificado em Base64 válido.");
    case code::kLimitExceeded:
        return QStringLiteral("A mensagem assinada excede os limites de tamanho ou de "
                              "complexidade aceitos.");
    case code::kCancelled:
        return QStringLiteral("A verificação foi interrompida.");
    case code::kNoSigners:
        return QStringLiteral("A mensagem não contém nenhuma assinatura.");
    case code::kCertificateUnreadable:
        return QStringLiteral("Não foi possível ler o certificado.");
    case code::kContentUnreadable:
        return QStringLiteral("Não foi possível ler o documento assinado.");
    case code::kContentNotDetached:
        return QStringLiteral("A mensagem assinada já contém o documento original: não é uma "
                              "assinatura destacada.");
    default:
        return QStringLiteral("Falha interna dos serviços de assinatura.");
    }
}

SignatureError SignatureError::of(std::uint32_t errorCode)
{
    return SignatureError(errorCode, describe(errorCode));
}

std::vector<unsigned long> drainOpenSslErrors()
{
    std::vector<unsigned long> errors;
    while (unsigned long error = ERR_get_error())
        errors.push_back(error);
    return errors;
}

SignatureError SignatureError::fromOpenSsl(std::uint32_t errorCode)
{
    return withDetails(errorCode, drainOpenSslErrors());
}

SignatureError SignatureError::withDetails(std::uint32_t errorCode,
                                           const std::vector<unsigned long>& errors)
{
    QStringList details;
    std::array<char, 256> buffer{};
    for (unsigned long error : errors) {
        ERR_error_string_n(error, buffer.data(), buffer.size());
        details << QString::fromLatin1(buffer.data());
    }
    return SignatureError(errorCode, describe(errorCode), details.join(QStringLiteral("; ")));
}

} // namespace selavia::signature
