#include "platform/shell/ContentRisk.h"

#include <gtest/gtest.h>
#include <tuple>

using selavia::shell::assessContent;
using selavia::shell::ContentRisk;

namespace {

struct Case {
    const char* what;
    QByteArray head;
    QString name;
    ContentRisk risk;
};

const QByteArray kPdf = "%PDF-1.4\n1 0 obj\n<< /Type /Catalog >>\nendobj\n";
const QByteArray kPng = QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16);
const QByteArray kZip = QByteArray("PK\x03\x04\x14\0\0\0\x08\0", 10);
const QByteArray kElf = QByteArray("\x7f"
                                   "ELF\x02\x01\x01\0\0\0\0\0\0\0\0\0\x03\0\x3e\0",
                                   20);
const QByteArray kText = "Prezado cliente,\nsegue o contrato.\n";

} // namespace

TEST(ContentRiskTest, ProgramsScriptsLaunchersAndInstallersByContentOrName)
{
    const std::vector<Case> cases = {
        {"ELF under a document's name", kElf, "contrato.pdf", ContentRisk::Executable},
        {"Windows program", QByteArray("MZ\x90\0\x03\0\0\0", 8), "fatura.pdf",
         ContentRisk::Executable},
        {"Mach-O", QByteArray("\xcf\xfa\xed\xfe\x07\0\0\x01", 8), "nota.pdf",
         ContentRisk::Executable},
        {"exe by name", kText, "programa.exe", ContentRisk::Executable},
        {"jar by name", kZip, "aplicativo.jar", ContentRisk::Executable},
        {"shell script", "#!/bin/sh\nrm -rf ~\n", "leiame.txt", ContentRisk::Script},
        {"any interpreter line", "#!/opt/x/bin/interp\n", "dados.csv", ContentRisk::Script},
        {"python by content", "#!/usr/bin/env python3\nimport os\n", "a.txt", ContentRisk::Script},
        {"shell by name", kText, "instalar.sh", ContentRisk::Script},
        {"python by name", kText, "rotina.py", ContentRisk::Script},
        {"batch by name", kText, "iniciar.BAT", ContentRisk::Script},
        {"cmd by name", kText, "iniciar.cmd", ContentRisk::Script},
        {"PowerShell by name", kText, "config.ps1", ContentRisk::Script},
        {"VBScript by name", kText, "macro.vbs", ContentRisk::Script},
        {"JavaScript by name", kText, "pagina.js", ContentRisk::Script},
        {"desktop entry", "[Desktop Entry]\nType=Application\nExec=sh\n", "foto.jpg",
         ContentRisk::Launcher},
        {"desktop entry by name", kText, "atalho.desktop", ContentRisk::Launcher},
        {"Windows shortcut by name", kText, "atalho.lnk", ContentRisk::Launcher},
        {"Debian package", "!<arch>\ndebian-binary   ", "pacote.deb", ContentRisk::Installer},
        {"msi by name", kText, "setup.msi", ContentRisk::Installer},
        {"rpm by name", kText, "pacote.rpm", ContentRisk::Installer},
        {"apk by name", kZip, "app.apk", ContentRisk::Installer},
        {"Java Web Start", "<?xml version=\"1.0\"?>\n<jnlp spec=\"1.0+\">", "app.jnlp",
         ContentRisk::Launcher},
        {"macro-enabled text", kZip, "contrato.docm", ContentRisk::Macros},
        {"macro-enabled sheet", kZip, "planilha.XLSM", ContentRisk::Macros},
        {"macro-enabled slides", kZip, "slides.pptm", ContentRisk::Macros},
        // Trailing dots and blanks are dropped by the file systems that
        // decide which program opens the file.
        {"shell name ending in a dot", kText, "contrato.sh.", ContentRisk::Script},
        {"python name ending in a blank", kText, "contrato.py ", ContentRisk::Script},
        {"exe name ending in dots and blanks", kText, "nota.exe . .", ContentRisk::Executable},
    };
    for (const Case& c : cases)
        EXPECT_EQ(assessContent(c.head, c.name).risk, c.risk) << c.what;
}

TEST(ContentRiskTest, AContentTypeThatContradictsTheNameIsAMismatch)
{
    const std::vector<Case> cases = {
        {"PNG named PDF", kPng, "contrato.pdf", ContentRisk::Mismatch},
        {"PDF named PNG", kPdf, "foto.png", ContentRisk::Mismatch},
        {"PDF named text", kPdf, "leiame.txt", ContentRisk::Mismatch},
        {"PDF named PDF", kPdf, "contrato.pdf", ContentRisk::None},
        {"upper-case extension", kPdf, "CONTRATO.PDF", ContentRisk::None},
        {"ZIP is the parent of an office type", kZip, "planilha.xlsx", ContentRisk::None},
        {"HTML is a kind of text", "<!DOCTYPE html><html><body>oi</body></html>", "nota.txt",
         ContentRisk::None},
        {"plain text says nothing", kText, "contrato.pdf", ContentRisk::None},
        {"unknown bytes say nothing", QByteArray("\x01\x02\x03\x04", 4), "dados.pdf",
         ContentRisk::None},
        {"empty content", QByteArray(), "contrato.pdf", ContentRisk::None},
        {"a name without a type claims nothing", kPdf, "LEIAME", ContentRisk::None},
    };
    for (const Case& c : cases)
        EXPECT_EQ(assessContent(c.head, c.name).risk, c.risk) << c.what;
}

TEST(ContentRiskTest, TheWarningNamesTheDocumentAndWhatWasFound)
{
    const auto mismatch = assessContent(kPng, "contrato.pdf");
    EXPECT_EQ(mismatch.contentType, "Imagem PNG");
    EXPECT_EQ(mismatch.nameType, "Documento PDF");
    const QString mismatchText = contentWarning(mismatch, "contrato.pdf");
    EXPECT_TRUE(mismatchText.contains("\"contrato.pdf\"")) << mismatchText.toStdString();
    EXPECT_TRUE(mismatchText.contains("Imagem PNG"));
    EXPECT_TRUE(mismatchText.endsWith("Deseja abrir o documento mesmo assim?"));

    // Each risk tells the user what the document is and what opening it may do.
    const std::vector<std::tuple<const char*, QString, QString>> risky = {
        {"nota.exe", "é um programa executável", "executar esse programa"},
        {"config.ps1", "é um script", "executar comandos"},
        {"atalho.lnk", "é um atalho ou lançador de programas", "iniciar um programa"},
        {"setup.msi", "é um pacote de instalação", "instalar programas"},
        {"contrato.docm", "pode conter macros", "executar comandos"},
    };
    for (const auto& [name, what, consequence] : risky) {
        const QString text = contentWarning(assessContent(kText, name), name);
        EXPECT_TRUE(text.startsWith(QString("O documento \"%1\" %2 (").arg(name, what)))
            << text.toStdString();
        EXPECT_TRUE(text.endsWith(QString(").\r\nAbri-lo pode %1 no seu computador.\r\n\r\n"
                                          "Deseja abrir o documento mesmo assim?")
                                      .arg(consequence)))
            << text.toStdString();
    }
    const QString scriptText = contentWarning(assessContent(kText, "config.ps1"), "config.ps1");
    EXPECT_TRUE(scriptText.contains("script (.ps1)")) << scriptText.toStdString();
    EXPECT_TRUE(contentWarning(assessContent(kPdf, "contrato.pdf"), "contrato.pdf").isEmpty());
}
