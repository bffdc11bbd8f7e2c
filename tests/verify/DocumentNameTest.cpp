#include "verify/DocumentName.h"

#include "tests/support/VerifyFixtures.h"
#include "verify/Signatures.h"

#include <gtest/gtest.h>
#include <tuple>

using namespace selavia::verify;
using namespace selavia::testing;

namespace {

fx::SignerSpec signerNaming(const std::string& documentName, fx::Cert cert = icpSigner())
{
    fx::SignerSpec signer{.cert = std::move(cert)};
    signer.attributes = {fx::documentNameAttribute(documentName)};
    return signer;
}

// The document as loaded from a file of this name.
ValidationResult loadedAs(const ScratchFolder& dir, const QString& fileName,
                          const fx::MessageSpec& spec)
{
    return Verification(trustingIcp())
        .readFile(dir.write(fileName, fx::makeSignedMessage(spec)))
        .run();
}

} // namespace

TEST(DocumentNameRuleTest, AcceptedWhenTheLastComponentAfterTheFirstDotIsNotExactlySlv)
{
    const std::vector<std::pair<QString, std::optional<QString>>> cases = {
        {"contrato.pdf", "contrato.pdf"},
        {"contrato.slv", std::nullopt},
        {"LEIAME", std::nullopt},
        {"a.slv.pdf", std::nullopt},
        {"contrato.SLV", "contrato.SLV"},
        {"a.b.pdf", "a.b.pdf"},
        {"a.slvx", "a.slvx"},
        {".slv", std::nullopt},
        {".bashrc", ".bashrc"},
        {"contrato.", "contrato."},
        {"", std::nullopt},
        // Only the last path component is looked at.
        {"../../x.pdf", "x.pdf"},
        {"..\\..\\Windows\\x.dll", "x.dll"},
        {"/etc/cron.d/job.sh", "job.sh"},
        {"C:\\Users\\a/b\\relatorio.xlsx", "relatorio.xlsx"},
        {"../x.slv", std::nullopt},
        {"pasta.pdf/", std::nullopt},
    };
    for (const auto& [value, expected] : cases)
        EXPECT_EQ(acceptedDocumentName(value), expected) << value.toStdString();
    for (const QString& nothing :
         {QStringLiteral("."), QStringLiteral(".."), QStringLiteral("a/.."), QStringLiteral("a\\."),
          QStringLiteral("/")})
        EXPECT_EQ(sanitizedDocumentName(nothing), "") << nothing.toStdString();
}

TEST(DocumentNameRuleTest, ControlAndDirectionCharactersAreRemoved)
{
    EXPECT_EQ(sanitizedDocumentName(QStringLiteral("con\ttra\r\nto\x7f.pdf")), "contrato.pdf");
    EXPECT_EQ(sanitizedDocumentName(QString::fromUtf16(u"a\u0000b\u0085c\u009F.pdf", 10)),
              "abc.pdf");
    // "fdp.exe" written backwards behind a right-to-left override.
    EXPECT_EQ(sanitizedDocumentName(QString::fromUtf16(u"fatura\u202Efdp.exe")), "faturafdp.exe");
    EXPECT_EQ(sanitizedDocumentName(QString::fromUtf16(
                  u"\u200E\u200F\u202A\u202B\u202C\u202D\u2066\u2067\u2068\u2069\u061Cnome.txt")),
              "nome.txt");
    // Letters of other scripts stay.
    EXPECT_EQ(sanitizedDocumentName(QString::fromUtf16(u"contratação ª №1.pdf")),
              QString::fromUtf16(u"contratação ª №1.pdf"));
    // What is left of ".." with a control character between its dots is still "..".
    EXPECT_EQ(sanitizedDocumentName(QStringLiteral(".\x01.")), "");
    // The rule sees the cleaned text: the "slv" behind an invisible mark counts.
    EXPECT_EQ(acceptedDocumentName(QString::fromUtf16(u"a.\u200Eslv")), std::nullopt);
}

TEST(DocumentNameRuleTest, LongNamesAreCutToOneFileNameKeepingAShortExtension)
{
    const QString plain = sanitizedDocumentName(QString(5000, QLatin1Char('n')) + ".pdf");
    EXPECT_EQ(plain.toUtf8().size(), kMaxDocumentNameBytes);
    EXPECT_TRUE(plain.endsWith(".pdf"));
    EXPECT_EQ(plain.count(QLatin1Char('n')), kMaxDocumentNameBytes - 4);

    // Counted in UTF-8 bytes, and never through the middle of a character:
    // "ç" takes two bytes, the emoji a surrogate pair and four bytes.
    const QString accented = sanitizedDocumentName(QString(300, QChar(0xE7)) + ".txt");
    EXPECT_EQ(accented, QString(125, QChar(0xE7)) + ".txt");
    const QString emoji = QString::fromUtf16(u"😀");
    const QString faces = sanitizedDocumentName(emoji.repeated(100) + ".odt");
    EXPECT_EQ(faces, emoji.repeated(62) + ".odt");

    // A "." far from the end starts no extension: the name is simply cut.
    const QString noExtension = sanitizedDocumentName("a." + QString(400, QLatin1Char('x')));
    EXPECT_EQ(noExtension, "a." + QString(kMaxDocumentNameBytes - 2, QLatin1Char('x')));

    const QString fits = QString(kMaxDocumentNameBytes - 4, QLatin1Char('f')) + ".pdf";
    EXPECT_EQ(sanitizedDocumentName(fits), fits);
    // The rule looks at what is left: a cut name can still be a signed file's.
    EXPECT_EQ(acceptedDocumentName("x.slv." + QString(600, QLatin1Char('y')) + ".pdf"),
              std::nullopt);
}

TEST(DocumentNameRuleTest, HalvesOfSurrogatePairsAreRemoved)
{
    const char16_t lone[] = {u'a', 0xD800, u'b', 0xDC00, u'.', u'p', u'd', u'f'};
    EXPECT_EQ(sanitizedDocumentName(QString::fromUtf16(lone, 8)), "ab.pdf");
    EXPECT_EQ(sanitizedDocumentName(QString::fromUtf16(u"📄.pdf")), QString::fromUtf16(u"📄.pdf"));
}

TEST(DisplayTextTest, ShownTextsLoseControlAndDirectionCharactersAndStayShort)
{
    EXPECT_EQ(displayText(QString::fromUtf16(u"FULANO\n\u202EDE\u0000 TAL\u2066", 16)),
              "FULANODE TAL");
    EXPECT_EQ(displayText("nome:com/barras\\e.pontos"), "nome:com/barras\\e.pontos");

    const QString cut = displayText(QString(1000, QLatin1Char('x')));
    EXPECT_EQ(cut, QString(kMaxDisplayTextLength, QLatin1Char('x')) + QChar(0x2026));
    EXPECT_EQ(displayText(QString(kMaxDisplayTextLength, QLatin1Char('x'))),
              QString(kMaxDisplayTextLength, QLatin1Char('x')));
    // A pair that would be split at the limit goes whole.
    const QString pairAtLimit =
        QString(kMaxDisplayTextLength - 1, QLatin1Char('x')) + QString::fromUtf16(u"😀z");
    EXPECT_EQ(displayText(pairAtLimit),
              QString(kMaxDisplayTextLength - 1, QLatin1Char('x')) + QChar(0x2026));
}

TEST(OriginalNameTest, TheLastAcceptableNameWinsAcrossAttributesAndSigners)
{
    // Within one signer, in message order; an unacceptable value does not
    // clear an accepted one.
    VerifiedSigners verified = verifiedSigners(messageFor({{.cert = icpSigner()}}));
    const sig::Signer& base = verified.signers()[0];
    auto named = [](const char* value) {
        return sig::Attribute{sig::AttributeName::DocumentName, "1.3.6.1.4.1.311.88.2.1",
                              QString::fromUtf8(value)};
    };
    sig::Signer several(
        base.certificate(),
        {named("primeiro.pdf"), named("segundo.docx"), named("x.slv"), named("LEIAME")},
        base.chain());
    EXPECT_EQ(readSigner(several, 1).documentName, "segundo.docx");

    ValidationResult two = verifiedDocument(messageFor(
        {signerNaming("primeiro.pdf"), signerNaming("segundo.odt", icpSigner("OUTRO:1"))}));
    EXPECT_EQ(two.signers[0].documentName, "primeiro.pdf");
    EXPECT_EQ(two.signers[1].documentName, "segundo.odt");
    EXPECT_EQ(two.originalName, "segundo.odt");
    EXPECT_TRUE(two.hasExtension);

    ValidationResult laterWithout = verifiedDocument(
        messageFor({signerNaming("primeiro.pdf"), signerNaming("b.slv", icpSigner("OUTRO:1"))}));
    EXPECT_EQ(laterWithout.originalName, "primeiro.pdf");
    EXPECT_TRUE(laterWithout.hasExtension);
}

// A path in the name inside never leaves its last component; without an
// acceptable name, the signed file's name up to its first dot is used.
TEST(OriginalNameTest, TheLastComponentOfTheNameInsideElseTheSignedFileName)
{
    // The signed file, the name inside (none when null), the name and whether
    // it has an extension.
    const std::vector<std::tuple<const char*, const char*, QString, bool>> rows = {
        {"a.slv", "../../x.pdf", "x.pdf", true},
        // Separators of both kinds, controls and a right-to-left override, as signed.
        {"b.slv",
         "C:\\temp/..\\fatura\r\n\t\xE2\x80\xAE"
         "fdp.exe",
         "faturafdp.exe", true},
        {"pedido.slv", "../x.slv", "pedido", false},
        {"meu.contrato.slv", nullptr, "meu", false},
        {"contrato.slv", "contrato.slv", "contrato", false},
        {"outro.slv", "contrato.pdf", "contrato.pdf", true},
    };
    ScratchFolder dir;
    for (const auto& [file, inside, name, extension] : rows) {
        SCOPED_TRACE(file);
        const fx::SignerSpec signer =
            inside != nullptr ? signerNaming(inside) : fx::SignerSpec{.cert = icpSigner()};
        const ValidationResult document = loadedAs(dir, file, messageFor({signer}));
        ASSERT_TRUE(document.verified());
        EXPECT_EQ(document.originalName, name);
        EXPECT_EQ(document.hasExtension, extension);
    }
}
