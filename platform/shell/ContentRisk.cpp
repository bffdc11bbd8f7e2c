#include "platform/shell/ContentRisk.h"

#include <QFileInfo>
#include <QMimeDatabase>
#include <QSet>
#include <algorithm>
#include <vector>

namespace selavia::shell {
namespace {

struct Category {
    ContentRisk risk;
    QSet<QString> types;
    QSet<QString> extensions; // for what the MIME database may not know
};

// Checked in this order: scripts and installers are also "executables" or
// archives to the database, and the narrower word is the one to tell.
const std::vector<Category>& categories()
{
    static const std::vector<Category> list = {
        {ContentRisk::Script,
         {"application/x-shellscript", "application/x-csh", "text/x-python", "text/x-python3",
          "application/x-perl", "application/x-ruby", "application/x-php", "text/x-tcl",
          "application/x-tcl", "application/javascript", "application/ecmascript", "text/vbscript",
          "application/x-bat", "text/x-msdos-batch", "application/x-powershell",
          "text/x-powershell", "application/x-awk", "application/hta"},
         {"sh",  "bash", "zsh", "ksh", "csh", "command", "py",  "pl",  "rb",  "php", "js",
          "jse", "mjs",  "vbs", "vbe", "wsf", "wsh",     "hta", "bat", "cmd", "ps1", "psm1"}},
        {ContentRisk::Launcher,
         {"application/x-desktop", "application/x-ms-shortcut", "application/x-java-jnlp-file"},
         {"desktop", "lnk", "kdelnk", "jnlp"}},
        {ContentRisk::Installer,
         {"application/x-msi", "application/x-ms-installer",
          "application/vnd.debian.binary-package", "application/x-rpm",
          "application/vnd.android.package-archive", "application/vnd.flatpak",
          "application/vnd.flatpak.ref", "application/vnd.snap"},
         {"msi", "msp", "deb", "rpm", "apk", "flatpak", "flatpakref", "snap"}},
        {ContentRisk::Executable,
         {"application/x-executable", "application/x-sharedlib", "application/x-pie-executable",
          "application/x-ms-dos-executable", "application/x-msdownload",
          "application/vnd.microsoft.portable-executable", "application/x-ms-ne-executable",
          "application/x-msdos-program", "application/x-mach-binary",
          "application/x-iso9660-appimage", "application/x-appimage", "application/x-java-archive",
          "application/java-archive", "application/x-java"},
         {"exe", "com", "scr", "pif", "cpl", "msc", "dll", "so", "run", "appimage", "jar"}},
        {ContentRisk::Macros,
         {"application/vnd.ms-word.document.macroenabled.12",
          "application/vnd.ms-word.template.macroenabled.12",
          "application/vnd.ms-excel.sheet.macroenabled.12",
          "application/vnd.ms-excel.template.macroenabled.12",
          "application/vnd.ms-excel.addin.macroenabled.12",
          "application/vnd.ms-excel.sheet.binary.macroenabled.12",
          "application/vnd.ms-powerpoint.presentation.macroenabled.12",
          "application/vnd.ms-powerpoint.slideshow.macroenabled.12",
          "application/vnd.ms-powerpoint.template.macroenabled.12",
          "application/vnd.ms-powerpoint.addin.macroenabled.12"},
         {"docm", "dotm", "xlsm", "xltm", "xlam", "xlsb", "pptm", "ppsm", "potm", "ppam"}},
    };
    return list;
}

bool dangerousType(const QMimeType& type, const Category& category)
{
    // The database writes "macroEnabled" in mixed case.
    if (category.types.contains(type.name().toLower()))
        return true;
    // "text/x-script.python" and the like, from older databases.
    if (category.risk == ContentRisk::Script && type.name().startsWith(u"text/x-script."))
        return true;
    for (const QString& ancestor : type.allAncestors()) {
        if (category.types.contains(ancestor))
            return true;
    }
    return false;
}

// Programs the database may not know: ELF, Mach-O (also universal, which
// shares its mark with Java classes) and any interpreter line.
ContentRisk byMarks(QByteArrayView head)
{
    if (head.startsWith("#!"))
        return ContentRisk::Script;
    for (const char* mark : {"\x7f"
                             "ELF",
                             "\xfe\xed\xfa\xce", "\xfe\xed\xfa\xcf", "\xce\xfa\xed\xfe",
                             "\xcf\xfa\xed\xfe", "\xca\xfe\xba\xbe"}) {
        if (head.startsWith(QByteArrayView(mark, 4)))
            return ContentRisk::Executable;
    }
    return ContentRisk::None;
}

bool unknown(const QMimeType& type)
{
    return !type.isValid() || type.isDefault();
}

// Bytes that say nothing of their type: unrecognised, plain text, none.
bool uninformative(const QMimeType& type)
{
    return unknown(type) || type.name() == u"text/plain" ||
           type.name() == u"application/x-zerosize";
}

QString described(const QMimeType& type)
{
    return type.comment().isEmpty() ? type.name() : type.comment();
}

} // namespace

namespace {

// The name as the desktop will take it: a file system that drops trailing
// dots and blanks makes "contrato.sh." a script.
QString judgedName(const QString& fileName)
{
    qsizetype end = fileName.size();
    while (end > 0 && (fileName[end - 1] == QLatin1Char('.') || fileName[end - 1].isSpace()))
        --end;
    return fileName.left(end);
}

} // namespace

ContentAssessment assessContent(QByteArrayView head, const QString& givenName)
{
    const QString fileName = judgedName(givenName);
    const QMimeDatabase database;
    const QByteArray bytes = head.first(std::min(head.size(), kContentHeadSize)).toByteArray();
    const QMimeType found = database.mimeTypeForData(bytes);
    // A name can match several types ("*.py"); any of them may be the one
    // the desktop picks.
    QList<QMimeType> named = database.mimeTypesForFileName(fileName);
    const QString extension = QFileInfo(fileName).suffix().toLower();

    if (const ContentRisk marked = byMarks(head); marked != ContentRisk::None)
        return {marked, described(found), {}, {}};
    for (const Category& category : categories()) {
        if (dangerousType(found, category))
            return {category.risk, described(found), {}, {}};
        for (const QMimeType& type : named) {
            if (dangerousType(type, category))
                return {category.risk, described(type), {}, {}};
        }
        if (!extension.isEmpty() && category.extensions.contains(extension))
            return {category.risk, QLatin1Char('.') + extension, {}, {}};
    }

    named.removeIf(unknown);
    if (uninformative(found) || named.isEmpty())
        return {};
    for (const QMimeType& type : named) {
        // A content type more general than the name's (a ZIP for a .docx)
        // or more particular (HTML for a text name) agrees with it.
        if (found == type || found.inherits(type.name()) || type.inherits(found.name()))
            return {};
    }
    return {ContentRisk::Mismatch, described(found), described(found), described(named.first())};
}

QString contentWarning(const ContentAssessment& assessment, const QString& fileName)
{
    // Per risk: what the document is, and what opening it may do.
    struct Warning {
        ContentRisk risk;
        const char16_t* what;
        const char16_t* consequence;
    };
    static constexpr Warning kWarnings[] = {
        {ContentRisk::Executable, u"é um programa executável",
         u"executar esse programa no seu computador"},
        {ContentRisk::Script, u"é um script", u"executar comandos no seu computador"},
        {ContentRisk::Launcher, u"é um atalho ou lançador de programas",
         u"iniciar um programa no seu computador"},
        {ContentRisk::Installer, u"é um pacote de instalação",
         u"instalar programas no seu computador"},
        {ContentRisk::Macros, u"pode conter macros", u"executar comandos no seu computador"},
    };
    const QString question = QStringLiteral("\r\n\r\nDeseja abrir o documento mesmo assim?");
    if (assessment.risk == ContentRisk::Mismatch)
        return QStringLiteral("O conteúdo do documento \"%1\" é do tipo \"%2\", mas a extensão do "
                              "nome indica o tipo \"%3\".\r\nO documento pode ser aberto por um "
                              "programa diferente do esperado.")
                   .arg(fileName, assessment.contentType, assessment.nameType) +
               question;
    for (const Warning& warning : kWarnings) {
        if (warning.risk == assessment.risk)
            return QStringLiteral("O documento \"%1\" %2 (%3).\r\nAbri-lo pode %4.")
                       .arg(fileName, QString::fromUtf16(warning.what), assessment.finding,
                            QString::fromUtf16(warning.consequence)) +
                   question;
    }
    return {};
}

} // namespace selavia::shell
