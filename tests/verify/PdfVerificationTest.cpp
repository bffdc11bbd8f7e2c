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

namespace {

struct LaterRevision {
    const char* what;
    std::optional<int> certify;      // the signature's certification level
    pdfx::Pdf (*change)(const pdfx::Pdf&);
    QStringList kinds;               // the signature's changes after the DSS, "!" when not allowed
    Verdict verdict;
    const char* reason;              // expected among the file's reasons; "" for none
};

pdfx::Pdf fillName(const pdfx::Pdf& file) { return pdfx::fillTextField(file, "Nome", "Maria"); }
pdfx::Pdf noteOnPage(const pdfx::Pdf& file)
{
    return pdfx::addAnnotation(file, {.kind = pdfx::AnnotationKind::Text});
}
pdfx::Pdf opaqueBoxOverText(const pdfx::Pdf& file)
{
    return pdfx::addAnnotation(file, {.kind = pdfx::AnnotationKind::Square});
}
pdfx::Pdf hiddenBoxOverText(const pdfx::Pdf& file)
{
    return pdfx::addAnnotation(file, {.kind = pdfx::AnnotationKind::Square, .hidden = true});
}
pdfx::Pdf boxInTheMargin(const pdfx::Pdf& file)
{
    return pdfx::addAnnotation(
        file, {.kind = pdfx::AnnotationKind::FreeText, .rect = {400, 40, 560, 80}});
}
pdfx::Pdf secondSigner(const pdfx::Pdf& file)
{
    pdfx::SignSpec spec = icpSignature("Assinatura2");
    spec.signer.cert = icpSigner("BELTRANO DE TAL:11122233344", "11122233344");
    return pdfx::sign(file, spec);
}
// Stamped two hours ago: the lists in the DSS (an hour old) were issued
// after it, so they speak for the signature at the stamp's time.
pdfx::Pdf documentTimeStamp(const pdfx::Pdf& file)
{
    return pdfx::addDocumentTimeStamp(file, {.token = {.tsa = longLivedTsa(),
                                                       .chain = {fx::icpBrasilHierarchy().intermediate},
                                                       .genTime = std::time(nullptr) - 7200}});
}
pdfx::Pdf newPage(const pdfx::Pdf& file) { return pdfx::addPage(file); }
pdfx::Pdf contentRedefined(const pdfx::Pdf& file)
{
    return pdfx::replacePageContent(file, 0, "Contrato com outro valor", true);
}
pdfx::Pdf contentReplaced(const pdfx::Pdf& file)
{
    return pdfx::replacePageContent(file, 0, "Contrato com outro valor", false);
}
pdfx::Pdf fontChanged(const pdfx::Pdf& file) { return pdfx::changeFont(file); }
pdfx::Pdf fontFreed(const pdfx::Pdf& file) { return pdfx::freeObject(file, file.font); }
pdfx::Pdf signatureRedefined(const pdfx::Pdf& file)
{
    return pdfx::redefineSignatureDictionary(file, 0, "Outra razao");
}

} // namespace

TEST(PdfVerificationTest, EveryLaterRevisionIsJudgedByWhatTheSignatureAllows)
{
    const std::vector<LaterRevision> rows = {
        // An approval signature: forms, annotations and signatures, nothing
        // that changes what the pages show.
        {"form filled", {}, fillName, {"form-fill"}, Verdict::Approved, ""},
        {"note added", {}, noteOnPage, {"annotation"}, Verdict::Approved, ""},
        {"opaque box over the text", {}, opaqueBoxOverText, {"overlay"}, Verdict::Indeterminate,
         "visible-change-after-signing"},
        {"hidden box over the text", {}, hiddenBoxOverText, {"annotation"}, Verdict::Approved, ""},
        {"box in the empty margin", {}, boxInTheMargin, {"annotation"}, Verdict::Approved, ""},
        {"second signer", {}, secondSigner, {"new-signature-field"}, Verdict::Approved, ""},
        {"document time-stamp", {}, documentTimeStamp, {"doc-timestamp"}, Verdict::Approved, ""},
        {"page added", {}, newPage, {"pages!"}, Verdict::Rejected, "modified-after-signing"},
        {"content redefined in place", {}, contentRedefined, {"page-content!"}, Verdict::Rejected,
         "modified-after-signing"},
        {"content replaced by a new stream", {}, contentReplaced, {"page-content!"},
         Verdict::Rejected, "modified-after-signing"},
        {"font redefined", {}, fontChanged, {"page-content!"}, Verdict::Rejected,
         "modified-after-signing"},
        {"font removed", {}, fontFreed, {"object-removed!"}, Verdict::Rejected,
         "modified-after-signing"},
        {"signature dictionary rewritten", {}, signatureRedefined, {"signature-redefined!"},
         Verdict::Rejected, "modified-after-signing"},
        // Certified documents: the level says what may follow.
        {"P1 form filled", 1, fillName, {"form-fill!"}, Verdict::Rejected, "modified-after-signing"},
        {"P1 document time-stamp", 1, documentTimeStamp, {"doc-timestamp"}, Verdict::Approved, ""},
        {"P2 form filled", 2, fillName, {"form-fill"}, Verdict::Approved, ""},
        {"P2 second signer", 2, secondSigner, {"new-signature-field"}, Verdict::Approved, ""},
        {"P2 note added", 2, noteOnPage, {"annotation!"}, Verdict::Rejected,
         "modified-after-signing"},
        {"P3 note added", 3, noteOnPage, {"annotation"}, Verdict::Approved, ""},
        {"P3 page added", 3, newPage, {"pages!"}, Verdict::Rejected, "modified-after-signing"},
    };
    for (const LaterRevision& row : rows) {
        pdfx::SignSpec spec = icpSignature();
        spec.certify = row.certify;
        const pdfx::Pdf signedFile = withRevocation(pdfx::sign(contract(), spec));
        const ValidationResult result = verifiedPdf(row.change(signedFile));
        ASSERT_TRUE(result.verified()) << row.what << ": " << result.error->text.toStdString();
        const PdfSignatureResult& first = result.pdf->signatures.at(0);
        EXPECT_TRUE(first.intact) << row.what;
        EXPECT_EQ(result.pdf->certificationLevel, row.certify) << row.what;
        EXPECT_EQ(kindsOf(first).mid(1), row.kinds) << row.what << ": " << joined(kindsOf(first));
        EXPECT_EQ(first.modificationAllowed, !row.kinds.join("").contains('!')) << row.what;
        ASSERT_EQ(first.signer, 1) << row.what;
        const selavia::verify::Judgement& judgement = result.signers[0].judgement;
        EXPECT_EQ(judgement.verdict, row.verdict) << row.what << ": " << joined(codesOf(judgement));
        EXPECT_TRUE(!*row.reason || codesOf(judgement).contains(row.reason)) << row.what;
    }
}
