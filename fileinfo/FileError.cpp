#include "fileinfo/FileError.h"

#include <cerrno>

namespace selavia::fileinfo {

FileError MakeFileError(int number)
{
    switch (number) {
    case error_number::kFileNotFound:
        return {number, QStringLiteral("Arquivo não encontrado")};
    case error_number::kFileExists:
        return {number, QStringLiteral("Arquivo já existe")};
    case error_number::kDiskFull:
        return {number, QStringLiteral("Disco cheio")};
    case error_number::kPermissionDenied:
        return {number, QStringLiteral("Permissão negada")};
    case error_number::kPathNotFound:
        return {number, QStringLiteral("Caminho não encontrado")};
    default:
        return {error_number::kPathFileAccess, QStringLiteral("Erro de acesso ao caminho/arquivo")};
    }
}

// Failures of reading or replacing a file, in the program's numbering.
FileError ErrorFromErrno(int err)
{
    switch (err) {
    case ENOENT:
    case ENOTDIR:
        return MakeFileError(error_number::kPathNotFound);
    case EACCES:
    case EPERM:
    case EROFS:
        return MakeFileError(error_number::kPermissionDenied);
    case ENOSPC:
    case EDQUOT:
        return MakeFileError(error_number::kDiskFull);
    default:
        return MakeFileError(error_number::kPathFileAccess);
    }
}

FileError ReadErrorFromErrno(int err)
{
    const auto access = [](const char* description) {
        return FileError{error_number::kPathFileAccess, QString::fromUtf8(description)};
    };
    switch (err) {
    case ENOENT:
        return MakeFileError(error_number::kFileNotFound);
    case ENOTDIR:
        return MakeFileError(error_number::kPathNotFound);
    case EACCES:
    case EPERM:
        return MakeFileError(error_number::kPermissionDenied);
    case EISDIR:
        return access("É uma pasta, não um arquivo");
    case ELOOP:
        return access("Links simbólicos em excesso no caminho");
    case ENAMETOOLONG:
        return access("Nome de arquivo longo demais");
    case EIO:
        return access("Erro de entrada/saída do dispositivo");
    case EMFILE:
    case ENFILE:
        return access("Arquivos abertos demais");
    case ENXIO:
    case ENODEV:
        return access("Dispositivo não disponível");
    case EFBIG:
    case EOVERFLOW:
        return access("Arquivo grande demais");
    default:
        return MakeFileError(error_number::kPathFileAccess);
    }
}

} // namespace selavia::fileinfo
