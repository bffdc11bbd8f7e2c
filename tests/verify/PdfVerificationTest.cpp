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
    EXPECT_EQ(result.contentSha256,
              QCryptographicHash::hash(bytes(file.bytes), QCryptographicHash::Sha256));
}

namespace {

struct LaterRevision {
    const char* what;
    std::optional<int> certify; // the signature's certification level
    pdfx::Pdf (*change)(const pdfx::Pdf&);
    QStringList kinds; // the signature's changes after the DSS, "!" when not allowed
    Verdict verdict;
    const char* reason; // expected among the file's reasons; "" for none
};

pdfx::Pdf fillName(const pdfx::Pdf& file)
{
    return pdfx::fillTextField(file, "Nome", "Maria");
}
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
    return pdfx::addDocumentTimeStamp(file,
                                      {.token = {.tsa = longLivedTsa(),
                                                 .chain = {fx::icpBrasilHierarchy().intermediate},
                                                 .genTime = std::time(nullptr) - 7200}});
}
pdfx::Pdf newPage(const pdfx::Pdf& file)
{
    return pdfx::addPage(file);
}
// What some writers do on every save: objects written again as they were.
pdfx::Pdf rewrittenAsTheyWere(const pdfx::Pdf& file)
{
    return pdfx::appendUpdate(file,
                              {.objects = {{file.pagesTree, file.objects.at(file.pagesTree)},
                                           {file.font, file.objects.at(file.font)},
                                           {file.contents[0], file.objects.at(file.contents[0])}}});
}
pdfx::Pdf contentRedefined(const pdfx::Pdf& file)
{
    return pdfx::replacePageContent(file, 0, "Contrato com outro valor", true);
}
pdfx::Pdf contentReplaced(const pdfx::Pdf& file)
{
    return pdfx::replacePageContent(file, 0, "Contrato com outro valor", false);
}
pdfx::Pdf fontChanged(const pdfx::Pdf& file)
{
    return pdfx::changeFont(file);
}
pdfx::Pdf fontFreed(const pdfx::Pdf& file)
{
    return pdfx::freeObject(file, file.font);
}
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
        {"opaque box over the text",
         {},
         opaqueBoxOverText,
         {"overlay"},
         Verdict::Indeterminate,
         "visible-change-after-signing"},
        {"hidden box over the text", {}, hiddenBoxOverText, {"annotation"}, Verdict::Approved, ""},
        {"box in the empty margin", {}, boxInTheMargin, {"annotation"}, Verdict::Approved, ""},
        {"second signer", {}, secondSigner, {"new-signature-field"}, Verdict::Approved, ""},
        {"document time-stamp", {}, documentTimeStamp, {"doc-timestamp"}, Verdict::Approved, ""},
        {"page added", {}, newPage, {"pages!"}, Verdict::Rejected, "modified-after-signing"},
        {"objects rewritten as they were", {}, rewrittenAsTheyWere, {}, Verdict::Approved, ""},
        {"content redefined in place",
         {},
         contentRedefined,
         {"page-content!"},
         Verdict::Rejected,
         "modified-after-signing"},
        {"content replaced by a new stream",
         {},
         contentReplaced,
         {"page-content!"},
         Verdict::Rejected,
         "modified-after-signing"},
        {"font redefined",
         {},
         fontChanged,
         {"page-content!"},
         Verdict::Rejected,
         "modified-after-signing"},
        {"font removed",
         {},
         fontFreed,
         {"object-removed!"},
         Verdict::Rejected,
         "modified-after-signing"},
        {"signature dictionary rewritten",
         {},
         signatureRedefined,
         {"signature-redefined!"},
         Verdict::Rejected,
         "modified-after-signing"},
        // Certified documents: the level says what may follow.
        {"P1 form filled",
         1,
         fillName,
         {"form-fill!"},
         Verdict::Rejected,
         "modified-after-signing"},
        {"P1 document time-stamp", 1, documentTimeStamp, {"doc-timestamp"}, Verdict::Approved, ""},
        {"P2 form filled", 2, fillName, {"form-fill"}, Verdict::Approved, ""},
        {"P2 second signer", 2, secondSigner, {"new-signature-field"}, Verdict::Approved, ""},
        {"P2 note added",
         2,
         noteOnPage,
         {"annotation!"},
         Verdict::Rejected,
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

TEST(PdfVerificationTest, ARangeThatLeavesAnythingButItsOwnContentsUnsignedIsRejected)
{
    const std::vector<std::pair<const char*, pdfx::RangeFault>> rows = {
        {"gap runs past /Contents", pdfx::RangeFault::GapBeyondContents},
        {"three ranges", pdfx::RangeFault::ThreeRanges},
        {"overlapping ranges", pdfx::RangeFault::OverlappingRanges},
        {"range stops before the revision's end", pdfx::RangeFault::NotToEnd},
        {"gap is another string holding the CMS", pdfx::RangeFault::GapNotThisContents},
    };
    for (const auto& [what, fault] : rows) {
        pdfx::SignSpec spec = icpSignature();
        spec.fault = fault;
        const ValidationResult result = verifiedPdf(withRevocation(pdfx::sign(contract(), spec)));
        ASSERT_TRUE(result.verified()) << what;
        const PdfSignatureResult& signature = result.pdf->signatures.at(0);
        ASSERT_EQ(signature.signer, 1) << what;
        const selavia::verify::Judgement& judgement = result.signers[0].judgement;
        EXPECT_EQ(judgement.verdict, Verdict::Rejected) << what;
        EXPECT_TRUE(codesOf(judgement).contains("byte-range"))
            << what << ": " << joined(codesOf(judgement));
        EXPECT_EQ(result.verdict.verdict, Verdict::Rejected) << what;
    }
}

TEST(PdfVerificationTest, ADocumentTimeStampProvesWhenAnExpiredSignerSigned)
{
    // The signer's certificate expired a month ago; the document was
    // stamped while it was valid, and the lists were issued after the stamp.
    const std::time_t now = std::time(nullptr);
    const fx::Cert expired =
        icpSigner("FULANO DE TAL:98765432100", "12345678901", now - 400 * 86400, now - 30 * 86400);
    pdfx::SignSpec spec = icpSignature();
    spec.signer = {.cert = expired, .signingTime = now - 60 * 86400};
    pdfx::Pdf file = pdfx::sign(contract(), spec);
    file = pdfx::addDocumentTimeStamp(file,
                                      {.token = {.tsa = longLivedTsa(),
                                                 .chain = {fx::icpBrasilHierarchy().intermediate},
                                                 .genTime = now - 59 * 86400}});
    const ValidationResult stamped = verifiedPdf(withRevocation(file));
    ASSERT_TRUE(stamped.verified());
    ASSERT_EQ(stamped.pdf->signatures.size(), 2u);
    const PdfSignatureResult& stamp = stamped.pdf->signatures[1];
    EXPECT_TRUE(stamp.documentTimeStamp);
    ASSERT_TRUE(stamp.timestamp.has_value());
    EXPECT_TRUE(stamp.timestamp->valid) << joined(stamp.timestamp->problems);
    EXPECT_EQ(stamped.signers.size(), 1u); // a document time-stamp is no signer
    EXPECT_EQ(stamped.signers[0].bestSignatureTimeSource, "document-timestamp");
    EXPECT_EQ(stamped.signers[0].judgement.verdict, Verdict::Approved)
        << joined(codesOf(stamped.signers[0].judgement));

    // Without the stamp, the same signature has no proof of when it was made.
    const ValidationResult bare = verifiedPdf(withRevocation(pdfx::sign(contract(), spec)));
    EXPECT_EQ(bare.signers[0].bestSignatureTimeSource, "check");
    EXPECT_EQ(bare.signers[0].judgement.verdict, Verdict::Indeterminate);
    EXPECT_TRUE(codesOf(bare.signers[0].judgement).contains("expired-no-timestamp"));
}

TEST(PdfVerificationTest, AForgedSignatureOrStampIsRejectedAndTheRestStillJudged)
{
    pdfx::Pdf file = pdfx::sign(contract(), icpSignature());
    pdfx::Pdf second = secondSigner(file);
    // One byte of the second signature's CMS flipped inside its /Contents.
    const pdfx::Signature& made = second.signatures.at(1);
    std::string& raw = second.bytes;
    const std::size_t digit = made.contentsStart + 1 + 2 * (made.cms.size() - 8);
    raw[digit] = raw[digit] == '0' ? '1' : '0';
    const ValidationResult result = verifiedPdf(withRevocation(second));
    ASSERT_TRUE(result.verified());
    ASSERT_EQ(result.pdf->signatures.size(), 2u);
    EXPECT_TRUE(result.pdf->signatures[0].intact);
    EXPECT_FALSE(result.pdf->signatures[1].intact);
    ASSERT_EQ(result.signers.size(), 2u);
    EXPECT_EQ(result.signers[0].judgement.verdict, Verdict::Approved);
    EXPECT_EQ(result.signers[1].judgement.verdict, Verdict::Rejected);
    EXPECT_EQ(result.verdict.verdict, Verdict::Rejected);
}

TEST(PdfVerificationTest, APdfWithoutSignaturesIsNotVerifiedAndAMessageNameKeepsItsOwnError)
{
    const ValidationResult plain = verifiedPdf(contract());
    ASSERT_FALSE(plain.verified());
    EXPECT_EQ(plain.pdfFailure, FileFailure::NoPdfSignature);
    EXPECT_EQ(plain.verdict.verdict, Verdict::Indeterminate);
    EXPECT_TRUE(plain.error->text.contains("o documento PDF não contém assinaturas"));

    const ValidationResult slv = verifiedPdf(contract(), trustingIcp(), "contrato.slv");
    ASSERT_FALSE(slv.verified());
    EXPECT_EQ(slv.pdfFailure, FileFailure::None);
    EXPECT_EQ(slv.error->caption, "Arquivo Inválido - Erro 0212");
}

TEST(PdfVerificationTest, AGovBrShapedSignatureIsReadAsAGovBrCitizens)
{
    const fx::GovBrChain& chain = fx::govBrChain();
    const fx::Cert citizen = fx::govBrCitizen("MARIA DA SILVA", "12345678901");
    sig::TrustStore store = sig::TrustStore::empty();
    store.addTrusted(bytes(chain.root.der()), sig::TrustFramework::GovBr);
    const ValidationResult result = verifiedPdf(
        pdfx::sign(contract(), pdfx::govBrSpec(citizen, {chain.issuing, chain.intermediate})),
        std::move(store));
    ASSERT_TRUE(result.verified()) << result.error->text.toStdString();
    const PdfSignatureResult& signature = result.pdf->signatures.at(0);
    EXPECT_EQ(signature.subFilter, "adbe.pkcs7.detached");
    EXPECT_TRUE(signature.intact);
    EXPECT_TRUE(signature.coversWholeDocument);
    EXPECT_EQ(signature.page, 1);
    EXPECT_EQ(result.signers[0].holderName, "MARIA DA SILVA");
    EXPECT_EQ(result.signers[0].identity, "123.456.789-01");
    EXPECT_EQ(result.signers[0].trustFramework, sig::TrustFramework::GovBr);
}

TEST(PdfVerificationTest, AnIcpBrasilPadesPolicyIsJudgedAgainstItsOwnList)
{
    // The newest PAdES AD-RB policy in force, from ITI's PAdES list.
    const sig::policies::KnownPolicy* newest = nullptr;
    for (const sig::policies::KnownPolicy& known : sig::policies::bundledCatalogue().policies) {
        const bool inForce = !known.listed.revoked.isValid() &&
                             (!known.listed.notAfter.isValid() ||
                              known.listed.notAfter > QDateTime::currentDateTimeUtc());
        if (known.listed.oid.startsWith("2.16.76.1.7.1.11.") && inForce &&
            (!newest || known.listed.notBefore > newest->listed.notBefore))
            newest = &known;
    }
    ASSERT_NE(newest, nullptr);
    pdfx::SignSpec spec = icpSignature();
    spec.signer.attributes = {bundledPolicyAttribute(newest->listed.oid)};
    const ValidationResult result = verifiedPdf(withRevocation(pdfx::sign(contract(), spec)));
    ASSERT_TRUE(result.verified());
    ASSERT_TRUE(result.signers[0].policy.has_value());
    const selavia::verify::PolicyCheck& policy = *result.signers[0].policy;
    EXPECT_EQ(policy.oid, newest->listed.oid);
    EXPECT_TRUE(policy.name.startsWith("PAdES AD-RB")) << policy.name.toStdString();
    EXPECT_FALSE(policy.checked.isEmpty());
    EXPECT_TRUE(std::none_of(
        policy.findings.begin(), policy.findings.end(),
        [](const auto& finding) { return finding.code == selavia::verify::PolicyCode::Unknown; }))
        << joined(policy.problems);
}

TEST(PdfVerificationTest, AnOldFormOfSignatureIsListedButNeverTakenAsIntact)
{
    // Its sub-filter renamed in place (the same length, so every offset holds).
    pdfx::SignSpec old = icpSignature();
    old.subFilter = pdfx::SubFilter::Pkcs7Detached;
    pdfx::Pdf file = pdfx::sign(contract(), old);
    const std::string written = "/adbe.pkcs7.detached";
    const std::size_t at = file.bytes.find("/SubFilter " + written);
    ASSERT_NE(at, std::string::npos);
    file.bytes.replace(at + 11, written.size(), "/adbe.pkcs7.sha1    ");

    const ValidationResult alone = verifiedPdf(file);
    ASSERT_FALSE(alone.verified());
    EXPECT_EQ(alone.pdfFailure, FileFailure::UnsupportedPdfSignature);
    EXPECT_TRUE(alone.error->text.contains("formato de assinatura não suportado"));

    const ValidationResult beside = verifiedPdf(withRevocation(secondSigner(file)));
    ASSERT_TRUE(beside.verified());
    ASSERT_EQ(beside.pdf->signatures.size(), 2u);
    EXPECT_EQ(beside.pdf->signatures[0].subFilter, "adbe.pkcs7.sha1");
    EXPECT_FALSE(beside.pdf->signatures[0].intact);
    EXPECT_TRUE(beside.pdf->signatures[1].intact);
    ASSERT_EQ(beside.signers.size(), 2u);
    EXPECT_TRUE(codesOf(beside.signers[0].judgement).contains("unsupported-format"));
    EXPECT_EQ(beside.signers[1].judgement.verdict, Verdict::Approved);
    EXPECT_EQ(beside.verdict.verdict, Verdict::Indeterminate);
}
