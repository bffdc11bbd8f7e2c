// Signed PDFs end to end: each signature judged over its byte range, and
// every later revision judged against what that signature allows.

#include "tests/support/VerdictStates.h"
#include "tests/support/VerifyFixtures.h"
#include "tools/fixtures/PdfFixtures.h"
#include "verify/Verification.h"

#include <gtest/gtest.h>

using namespace selavia::testing;
using selavia::verify::FileFailure;
using selavia::verify::PdfChangeResult;
using selavia::verify::PdfSignatureResult;
using selavia::verify::Verdict;
using selavia::verify::Verification;

namespace pdfx = selavia::fixtures::pdf;

namespace {

pdfx::SignSpec icpSignature(const std::string& field = "Assinatura1")
{
    const fx::Hierarchy& icp = fx::icpBrasilHierarchy();
    pdfx::SignSpec spec;
    spec.signer = {.cert = icpSigner()};
    spec.chain = {icp.intermediate, icp.root};
    spec.subFilter = pdfx::SubFilter::CadesDetached;
    spec.field = field;
    return spec;
}

// The authorities' lists in the document's DSS, so that every certificate's
// status is known without the network.
pdfx::Pdf withRevocation(const pdfx::Pdf& file)
{
    pdfx::DssSpec dss;
    for (const auto& crl : carriedCrls())
        dss.crls.push_back(fx::crlDer(crl.get()));
    return pdfx::addDss(file, dss);
}

pdfx::Pdf contract()
{
    return pdfx::makeDocument(
        {.pages = 1, .image = true, .fields = {{.name = "Nome", .page = 0, .signature = false}}});
}

ValidationResult verifiedPdf(const pdfx::Pdf& file, sig::TrustStore store = trustingIcp(),
                             const QString& name = QStringLiteral("contrato.pdf"))
{
    return Verification(std::move(store)).readBytes(name, bytes(file.bytes)).run();
}

QStringList codesOf(const selavia::verify::Judgement& judgement)
{
    QStringList codes;
    for (const auto& reason : judgement.reasons)
        codes << reason.code;
    return codes;
}

QStringList kindsOf(const PdfSignatureResult& signature)
{
    QStringList kinds;
    for (const PdfChangeResult& change : signature.changes)
        kinds << change.kind + (change.allowed ? "" : "!");
    return kinds;
}

} // namespace

TEST(PdfVerificationTest, AnHonestSignatureIsApprovedAndItsEvidenceComesFromTheDocument)
{
    const pdfx::Pdf file = withRevocation(pdfx::sign(contract(), icpSignature()));
    const ValidationResult result = verifiedPdf(file);
    ASSERT_TRUE(result.verified()) << result.error->text.toStdString();
    ASSERT_TRUE(result.pdf.has_value());
    EXPECT_EQ(result.pdf->revisions, 3);
    EXPECT_TRUE(result.pdf->dss);
    ASSERT_EQ(result.pdf->signatures.size(), 1u);
    const PdfSignatureResult& signature = result.pdf->signatures[0];
    EXPECT_TRUE(signature.intact);
    EXPECT_EQ(signature.revision, 2);
    EXPECT_FALSE(signature.coversWholeDocument);
    EXPECT_TRUE(signature.modifiedAfterSigning);
    EXPECT_EQ(signature.modificationAllowed, true);
    EXPECT_EQ(kindsOf(signature), QStringList{"dss"});
    ASSERT_EQ(signature.signer, 1);
    EXPECT_EQ(result.signers[0].identity, "123.456.789-01");
    EXPECT_EQ(result.signers[0].status.revocation.source, sig::RevocationSource::Document);
    EXPECT_EQ(result.verdict.verdict, Verdict::Approved) << joined(codesOf(result.verdict));
    // The document is the whole file, as verified.
    EXPECT_EQ(result.contentSize, static_cast<qint64>(file.bytes.size()));
    EXPECT_EQ(result.contentSha256, QCryptographicHash::hash(bytes(file.bytes), QCryptographicHash::Sha256));
}
