#include "verify/SignerIdentity.h"

#include "tests/support/VerifyFixtures.h"

#include <gtest/gtest.h>

using namespace selavia::verify;
using namespace selavia::testing;

namespace {

QString base64(const QByteArray& raw)
{
    return QString::fromLatin1(raw.toBase64());
}

// A subject alternative name as the filter sees it: whatever comes before
// the ICP-Brasil marker, the marker, then `entry`.
QString sanWith(const QByteArray& entry, const QByteArray& before = QByteArray("\x30\x45", 2))
{
    return base64(before + QByteArray("\x60\x4C", 2) + entry);
}

sig::Certificate verifiedCertificate(const fx::Cert& cert)
{
    VerifiedSigners verified = verifiedSigners(messageFor({{.cert = cert}}));
    return verified.signers().at(0).certificate();
}

fx::Cert certificateWith(const std::string& commonName, std::vector<fx::SanEntry> san)
{
    return fx::issueEndEntity(fx::icpBrasilHierarchy().intermediate, commonName, std::move(san));
}

} // namespace

TEST(KeepPrintableTest, KeepsPrintableBytesAndTheThreeWindowsQuotesOfTheUpperControls)
{
    EXPECT_EQ(KeepPrintable(QByteArray("\x30\x1F\x41\x7F\x80\x90\x91\xA0\xA1")),
              QByteArray("\x30\x41\x80\x91\xA1"));
    // The edges of each range.
    EXPECT_EQ(KeepPrintable(QByteArray("\x00\x1F\x20\x7E\x7F\x81\x92\x93\x9F\xA0\xFF", 11)),
              QByteArray("\x20\x7E\x92\xFF"));
    EXPECT_EQ(KeepPrintable(QByteArray()), QByteArray());
}

TEST(SignerIdentityFromTest, TheCpfIsTakenAtFixedPlacesAfterTheMarkerAndMasked)
{
    // Two length characters, the birth date, the CPF, more fields.
    EXPECT_EQ(signerIdentityFrom("FULANO DE TAL:99999999999", sanWith("97"
                                                                      "01021980"
                                                                      "12345678901"
                                                                      "00000000000SSPSP")),
              "FULANO DE TAL:123.456.789-01");
    // Blanks around the piece go before the two characters are dropped.
    EXPECT_EQ(signerIdentityFrom("NOME", sanWith("   97"
                                                 "01021980"
                                                 "12345678901   ")),
              "NOME:123.456.789-01");
    // Only the length is tested by the mask.
    EXPECT_EQ(signerIdentityFrom("NOME", sanWith("xx"
                                                 "dddddddd"
                                                 "ABCDEFGHIJK")),
              "NOME:ABC.DEF.GHI-JK");
    // Bytes the filter drops do not count as positions.
    EXPECT_EQ(signerIdentityFrom("NOME", sanWith(QByteArray("9\x01\x02\x03"
                                                            "7"
                                                            "0102\x7F"
                                                            "1980"
                                                            "123\x1F"
                                                            "45678901"))),
              "NOME:123.456.789-01");
}

TEST(SignerIdentityFromTest, OnlyTheTextUpToTheNextMarkerCounts)
{
    // An e-mail before the first marker changes nothing; a second marker
    // ends the piece.
    const QByteArray before = QByteArray("\x30\x40\x81\x15") + "fulano@example.com.br";
    EXPECT_EQ(signerIdentityFrom("NOME", sanWith("97"
                                                 "01021980"
                                                 "12345678901",
                                                 before)),
              "NOME:123.456.789-01");
    EXPECT_EQ(signerIdentityFrom("NOME", sanWith("9701021980123\x60\x4C"
                                                 "45678901")),
              "NOME:123");
    // The marker is exact: a small "l" is no marker.
    EXPECT_EQ(signerIdentityFrom("NOME", base64("\x60\x6C"
                                                "9701021980"
                                                "12345678901")),
              std::nullopt);
}

TEST(SignerIdentityFromTest, ShortEntriesGiveTheShorterSliceUnmasked)
{
    EXPECT_EQ(signerIdentityFrom("NOME", sanWith("AB"
                                                 "01021980"
                                                 "1234567890")),
              "NOME:1234567890");
    EXPECT_EQ(signerIdentityFrom("NOME", sanWith("AB"
                                                 "01021980"
                                                 "123")),
              "NOME:123");
    EXPECT_EQ(signerIdentityFrom("NOME", sanWith("AB"
                                                 "0102198")),
              "NOME:");
    EXPECT_EQ(signerIdentityFrom("NOME", sanWith("AB")), "NOME:") << "exactly two characters";
    EXPECT_EQ(signerIdentityFrom("NOME", sanWith("  A  ")), std::nullopt) << "one after trimming";
    EXPECT_EQ(signerIdentityFrom("NOME", sanWith("")), std::nullopt);
}

TEST(SignerIdentityFromTest, FailsWithoutMarkerOrReadableExtension)
{
    EXPECT_EQ(signerIdentityFrom("NOME", QString()), std::nullopt) << "no extension";
    EXPECT_EQ(signerIdentityFrom("NOME", base64("\x30\x12\x81\x10so@example.com")), std::nullopt);
    EXPECT_EQ(signerIdentityFrom("NOME", "isto não é base64!"), std::nullopt);
}

TEST(SignerIdentityFromTest, HolderIsTheSimpleNameUpToItsFirstColon)
{
    const QString san = sanWith("97"
                                "01021980"
                                "12345678901");
    EXPECT_EQ(signerIdentityFrom("SEM DOIS PONTOS", san), "SEM DOIS PONTOS:123.456.789-01");
    EXPECT_EQ(signerIdentityFrom("A:B:C", san), "A:123.456.789-01");
    EXPECT_EQ(signerIdentityFrom(":123", san), ":123.456.789-01");
}

TEST(SignerIdentityFromTest, KeptBytesReadAsWindows1252Characters)
{
    EXPECT_EQ(signerIdentityFrom("NOME", sanWith("AB"
                                                 "01021980"
                                                 "\x80\x91\x92\xE9"
                                                 "4567890")),
              QString::fromUtf8("NOME:€‘’.é45.678-90"));
}

TEST(GetSignerIdentityTest, NameFromTheSubjectAndCpfFromThePersonalEntry)
{
    // The digits after ":" in the subject are not used.
    EXPECT_EQ(GetSignerIdentity(verifiedCertificate(icpSigner("FULANO DE TAL:98765432100"))),
              "FULANO DE TAL:123.456.789-01");
    // Another ICP-Brasil entry after the personal one changes nothing.
    fx::Cert withMore = certificateWith("CICLANO", {fx::icpPersonal("31121975", "10987654321"),
                                                    fx::icpCei("123456789012"),
                                                    fx::SanEntry::email("ciclano@example.com")});
    EXPECT_EQ(GetSignerIdentity(verifiedCertificate(withMore)), "CICLANO:109.876.543-21");
}

TEST(GetSignerIdentityTest, AShortEntryIsReadAtTheSamePlaces)
{
    // Below 32 the value's length octets are dropped by the filter, so the
    // two characters dropped afterwards are data.
    fx::Cert shortEntry =
        certificateWith("CURTO", {fx::SanEntry::otherName("2.16.76.1.3.1", "AB01021980123")});
    EXPECT_EQ(GetSignerIdentity(verifiedCertificate(shortEntry)), "CURTO:123");
}

TEST(GetSignerIdentityTest, FailsWithoutIcpBrasilDataOrCertificate)
{
    EXPECT_EQ(GetSignerIdentity(verifiedCertificate(certificateWith("SEM SAN:123", {}))),
              std::nullopt);
    EXPECT_EQ(GetSignerIdentity(verifiedCertificate(certificateWith(
                  "SO EMAIL", {fx::SanEntry::email("so@example.com"), fx::SanEntry::dns("x.br")}))),
              std::nullopt);
    EXPECT_EQ(GetSignerIdentity(sig::Certificate()), std::nullopt);
}

TEST(SignerEntryIdentityTest, WithoutIdentityTheSignerIsShownByItsNameUpToTheColon)
{
    VerifiedSigners verified = verifiedSigners(messageFor(
        {{.cert = certificateWith("SEM SAN:12345678901:X", {})}, {.cert = icpSigner()}}));
    const SignerEntry first = readSigner(verified.signers()[0], 1);
    EXPECT_EQ(first.holderName, "SEM SAN");
    EXPECT_EQ(first.identity, "");
    const SignerEntry second = readSigner(verified.signers()[1], 2);
    EXPECT_EQ(second.holderName, "FULANO DE TAL");
    EXPECT_EQ(second.identity, "123.456.789-01");
}

TEST(GetSignerIdentityTest, TheCpfComesFromThePersonalEntryWhereverItStands)
{
    // An e-CPF of the judiciary: CEI, a UPN and the voter id come first.
    const fx::SanEntry upn =
        fx::SanEntry::otherName("1.3.6.1.4.1.311.20.2.3", "fulano@tjsp.jus.br");
    fx::Cert judiciary = certificateWith(
        "FULANO DE TAL:12345678901", {fx::icpCei("001234567890"), upn, fx::icpVoterId("0123456789"),
                                      fx::icpPersonal("01021980", "12345678901")});
    EXPECT_EQ(GetSignerIdentity(verifiedCertificate(judiciary)), "FULANO DE TAL:123.456.789-01");

    // A company's certificate: the responsible person's entry.
    fx::Cert company = certificateWith(
        "EMPRESA LTDA:12345678000199",
        {fx::SanEntry::otherName("2.16.76.1.3.2", "BELTRANO DA SILVA"),
         fx::SanEntry::otherName("2.16.76.1.3.4", fx::icpPersonalData("31121975", "10987654321")),
         fx::SanEntry::otherName("2.16.76.1.3.3", "12345678000199")});
    EXPECT_EQ(GetSignerIdentity(verifiedCertificate(company)), "EMPRESA LTDA:109.876.543-21");
}

TEST(GetSignerIdentityTest, ReadFromAnotherEntryOnlyElevenDigitsShow)
{
    // No personal or responsible entry: nothing rather than other fields.
    fx::Cert onlyOthers =
        certificateWith("SEM DADOS", {fx::icpCei("001234567890"), fx::icpVoterId("0123456789")});
    EXPECT_EQ(GetSignerIdentity(verifiedCertificate(onlyOthers)), "SEM DADOS:");
    // A personal entry whose CPF places hold no digits.
    fx::Cert letters = certificateWith(
        "LETRAS",
        {fx::icpCei("001234567890"),
         fx::SanEntry::otherName("2.16.76.1.3.1", fx::icpPersonalData("01021980", "ABCDEFGHIJK"))});
    EXPECT_EQ(GetSignerIdentity(verifiedCertificate(letters)), "LETRAS:");
    // When the personal entry is first, today's reading stands, letters and all.
    fx::Cert first = certificateWith(
        "PRIMEIRO",
        {fx::SanEntry::otherName("2.16.76.1.3.1", fx::icpPersonalData("01021980", "ABCDEFGHIJK")),
         fx::icpCei("001234567890")});
    EXPECT_EQ(GetSignerIdentity(verifiedCertificate(first)), "PRIMEIRO:ABC.DEF.GHI-JK");
}
