#include "verify/SignerIdentity.h"

#include "tests/support/VerifyFixtures.h"
#include "verify/Signatures.h"

#include <gtest/gtest.h>
#include <tuple>

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
    // After the marker: two length characters, the birth date, the CPF, more fields.
    const QString cpf = sanWith("970102198012345678901");
    const QByteArray email = QByteArray("\x30\x40\x81\x15") + "fulano@example.com.br";
    // Why, the holder's name, the alternative name, the identity.
    const std::vector<std::tuple<const char*, QString, QString, std::optional<QString>>> rows = {
        {"fixed places", "FULANO DE TAL:99999999999",
         sanWith("97010219801234567890100000000000SSPSP"), "FULANO DE TAL:123.456.789-01"},
        {"blanks go before the two characters are dropped", "NOME",
         sanWith("   970102198012345678901   "), "NOME:123.456.789-01"},
        {"only the length is tested by the mask", "NOME", sanWith("xxddddddddABCDEFGHIJK"),
         "NOME:ABC.DEF.GHI-JK"},
        {"dropped bytes are no positions", "NOME",
         sanWith("9\001\002\00370102\1771980123\03745678901"), "NOME:123.456.789-01"},
        {"an e-mail before the marker", "NOME", sanWith("970102198012345678901", email),
         "NOME:123.456.789-01"},
        {"a second marker ends the piece", "NOME", sanWith("9701021980123\140\11445678901"),
         "NOME:123"},
        {"a small l is no marker", "NOME", base64("\140\154970102198012345678901"), std::nullopt},
        {"ten digits", "NOME", sanWith("AB010219801234567890"), "NOME:1234567890"},
        {"three digits", "NOME", sanWith("AB01021980123"), "NOME:123"},
        {"no digits", "NOME", sanWith("AB0102198"), "NOME:"},
        {"exactly two characters", "NOME", sanWith("AB"), "NOME:"},
        {"one after trimming", "NOME", sanWith("  A  "), std::nullopt},
        {"nothing after the marker", "NOME", sanWith(""), std::nullopt},
        {"no extension", "NOME", QString(), std::nullopt},
        {"no marker", "NOME", base64("\x30\x12\x81\x10so@example.com"), std::nullopt},
        {"not Base64", "NOME", "isto não é base64!", std::nullopt},
        {"holder without a colon", "SEM DOIS PONTOS", cpf, "SEM DOIS PONTOS:123.456.789-01"},
        {"holder up to its first colon", "A:B:C", cpf, "A:123.456.789-01"},
        {"holder empty before the colon", ":123", cpf, ":123.456.789-01"},
        {"kept bytes read as Windows-1252", "NOME", sanWith("AB01021980\200\221\222\3514567890"),
         QString::fromUtf8("NOME:€‘’.é45.678-90")},
    };
    for (const auto& [why, holder, san, identity] : rows)
        EXPECT_EQ(signerIdentityFrom(holder, san), identity) << why;
}

TEST(GetSignerIdentityTest, NameFromTheSubjectAndCpfFromThePersonalEntryWhereverItStands)
{
    const fx::SanEntry upn =
        fx::SanEntry::otherName("1.3.6.1.4.1.311.20.2.3", "fulano@tjsp.jus.br");
    const fx::SanEntry lettersEntry =
        fx::SanEntry::otherName("2.16.76.1.3.1", fx::icpPersonalData("01021980", "ABCDEFGHIJK"));
    const std::vector<std::tuple<const char*, fx::Cert, std::optional<QString>>> rows = {
        {"the digits after the colon of the subject are not used",
         icpSigner("FULANO DE TAL:98765432100"), "FULANO DE TAL:123.456.789-01"},
        {"another entry after the personal one",
         certificateWith("CICLANO",
                         {fx::icpPersonal("31121975", "10987654321"), fx::icpCei("123456789012"),
                          fx::SanEntry::email("ciclano@example.com")}),
         "CICLANO:109.876.543-21"},
        // Below 32 the value's length octets are dropped by the filter, so
        // the two characters dropped afterwards are data.
        {"a short entry read at the same places",
         certificateWith("CURTO", {fx::SanEntry::otherName("2.16.76.1.3.1", "AB01021980123")}),
         "CURTO:123"},
        {"no alternative name", certificateWith("SEM SAN:123", {}), std::nullopt},
        {"no ICP-Brasil entry",
         certificateWith("SO EMAIL",
                         {fx::SanEntry::email("so@example.com"), fx::SanEntry::dns("x.br")}),
         std::nullopt},
        {"an e-CPF of the judiciary: CEI, a UPN and the voter id first",
         certificateWith("FULANO DE TAL:12345678901",
                         {fx::icpCei("001234567890"), upn, fx::icpVoterId("0123456789"),
                          fx::icpPersonal("01021980", "12345678901")}),
         "FULANO DE TAL:123.456.789-01"},
        {"a company's: the responsible person's entry",
         certificateWith("EMPRESA LTDA:12345678000199",
                         {fx::SanEntry::otherName("2.16.76.1.3.2", "BELTRANO DA SILVA"),
                          fx::SanEntry::otherName("2.16.76.1.3.4",
                                                  fx::icpPersonalData("31121975", "10987654321")),
                          fx::SanEntry::otherName("2.16.76.1.3.3", "12345678000199")}),
         "EMPRESA LTDA:109.876.543-21"},
        {"no personal or responsible entry: nothing rather than other fields",
         certificateWith("SEM DADOS", {fx::icpCei("001234567890"), fx::icpVoterId("0123456789")}),
         "SEM DADOS:"},
        {"a personal entry after another whose CPF places hold no digits",
         certificateWith("LETRAS", {fx::icpCei("001234567890"), lettersEntry}), "LETRAS:"},
        {"a personal entry first is read as it stands, letters and all",
         certificateWith("PRIMEIRO", {lettersEntry, fx::icpCei("001234567890")}),
         "PRIMEIRO:ABC.DEF.GHI-JK"},
    };
    for (const auto& [why, cert, identity] : rows)
        EXPECT_EQ(GetSignerIdentity(verifiedCertificate(cert)), identity) << why;
    EXPECT_EQ(GetSignerIdentity(sig::Certificate()), std::nullopt);
}

TEST(SignatureResultIdentityTest, WithoutIdentityTheSignerIsShownByItsNameUpToTheColon)
{
    VerifiedSigners verified = verifiedSigners(messageFor(
        {{.cert = certificateWith("SEM SAN:12345678901:X", {})}, {.cert = icpSigner()}}));
    const SignatureResult first = readSigner(verified.signers()[0], 1);
    EXPECT_EQ(first.holderName, "SEM SAN");
    EXPECT_EQ(first.identity, "");
    const SignatureResult second = readSigner(verified.signers()[1], 2);
    EXPECT_EQ(second.holderName, "FULANO DE TAL");
    EXPECT_EQ(second.identity, "123.456.789-01");
}
