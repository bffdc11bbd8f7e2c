// The PDF reader on its own: where revisions end, and files made to hang,
// exhaust or confuse it.

#include "platform/pdf/PdfReader.h"

#include "platform/pdf/PdfError.h"
#include "tools/fixtures/PdfFixtures.h"

#include <QByteArray>
#include <algorithm>
#include <functional>
#include <gtest/gtest.h>
#include <string>

namespace {

namespace fx = selavia::fixtures;
namespace pdfx = selavia::fixtures::pdf;
namespace pdf = selavia::pdf;

pdf::PdfDocument read(const std::string& bytes)
{
    selavia::signature::ViewInput input(
        QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
    return pdf::readPdf(input);
}

pdfx::SignSpec signature(pdfx::Eol eol = pdfx::Eol::Lf)
{
    const fx::Hierarchy& icp = fx::icpBrasilHierarchy();
    pdfx::SignSpec spec;
    spec.signer = {.cert = fx::issueEndEntity(icp.intermediate, "FULANO:1")};
    spec.eol = eol;
    return spec;
}

pdfx::Object stream(const std::string& data, const std::string& filter = {})
{
    pdfx::Object object;
    if (!filter.empty())
        object.dict.set("/Filter", filter);
    object.stream = data;
    return object;
}

// One big-endian field of a cross-reference stream entry.
std::string field(long long value, int width)
{
    std::string bytes(static_cast<std::size_t>(width), '\0');
    for (int i = width - 1; i >= 0; --i, value >>= 8)
        bytes[static_cast<std::size_t>(i)] = static_cast<char>(value & 0xFF);
    return bytes;
}

// An update written as modern writers do: the catalogue inside a
// compressed object stream of `padding` more bytes, and a cross-reference
// stream naming it (compressed, with `tablePadding` more bytes, when that is
// not 0).
std::string withCatalogInObjectStream(const pdfx::Pdf& base, int padding, int tablePadding = 0)
{
    const int objects = base.size;
    const int xref = base.size + 1;
    const std::string header = std::to_string(base.root) + " 0 ";
    const std::string body = header + base.objects.at(base.root).dict.text() +
                             std::string(static_cast<std::size_t>(padding), ' ');
    const QByteArray deflated = qCompress(QByteArray::fromStdString(body), 9).mid(4);
    std::string file = base.bytes;
    const std::size_t objectsAt = file.size();
    file += std::to_string(objects) + " 0 obj\n<< /Type /ObjStm /N 1 /First " +
            std::to_string(header.size()) + " /Filter /FlateDecode /Length " +
            std::to_string(deflated.size()) + " >>\nstream\n" + deflated.toStdString() +
            "\nendstream\nendobj\n";
    const std::size_t xrefAt = file.size();
    std::string entries = field(2, 1) + field(objects, 4) + field(0, 2) + // the catalogue
                          field(1, 1) + field(static_cast<long long>(objectsAt), 4) + field(0, 2) +
                          field(1, 1) + field(static_cast<long long>(xrefAt), 4) + field(0, 2);
    std::string filter;
    if (tablePadding > 0) {
        entries += std::string(static_cast<std::size_t>(tablePadding), '\0');
        entries = qCompress(QByteArray::fromStdString(entries), 9).mid(4).toStdString();
        filter = " /Filter /FlateDecode";
    }
    file += std::to_string(xref) + " 0 obj\n<< /Type /XRef" + filter + " /Size " +
            std::to_string(xref + 1) + " /W [1 4 2] /Index [" + std::to_string(base.root) + " 1 " +
            std::to_string(objects) + " 2] /Root " + std::to_string(base.root) + " 0 R /Prev " +
            std::to_string(base.revisions.back().xref) + " /Length " +
            std::to_string(entries.size()) + " >>\nstream\n" + entries +
            "\nendstream\nendobj\nstartxref\n" + std::to_string(xrefAt) + "\n%%EOF\n";
    return file;
}

} // namespace

TEST(PdfReaderTest, ObjectAndCrossReferenceStreamsAreReadWithinTheCapAndRefusedPastIt)
{
    const pdfx::Pdf base = pdfx::makeDocument();
    // Written as modern writers write it, the file reads as before.
    const pdf::PdfDocument modern = read(withCatalogInObjectStream(base, 0));
    EXPECT_EQ(modern.revisionEnds.size(), 2u);
    EXPECT_EQ(modern.pageCount, 1);
    // An object stream, or a cross-reference stream, that inflates to
    // 64 MiB is refused before qpdf inflates it whole.
    for (const auto& [what, bytes] :
         {std::pair{"object stream", withCatalogInObjectStream(base, 64 << 20)},
          std::pair{"cross-reference stream", withCatalogInObjectStream(base, 0, 64 << 20)}}) {
        try {
            read(bytes);
            ADD_FAILURE() << what << ": read";
        } catch (const pdf::PdfError& error) {
            EXPECT_TRUE(error.text().contains("tamanho permitido"))
                << what << ": " << error.text().toStdString();
        }
    }
}

TEST(PdfReaderTest, EveryEndOfLineAfterEofClosesTheRevisionItEnds)
{
    for (const pdfx::Eol eol : {pdfx::Eol::None, pdfx::Eol::Lf, pdfx::Eol::CrLf}) {
        const pdf::PdfDocument document =
            read(pdfx::sign(pdfx::makeDocument({.eol = eol}), signature(eol)).bytes);
        ASSERT_EQ(document.signatures.size(), 1u);
        const pdf::PdfSignature& made = document.signatures[0];
        EXPECT_EQ(document.revisionEnds.size(), 2u);
        EXPECT_EQ(made.revision, 2);
        EXPECT_TRUE(made.coversWholeDocument);
        EXPECT_TRUE(made.coverageProblems.isEmpty())
            << made.coverageProblems.join("; ").toStdString();
        EXPECT_EQ(made.subFilter, "adbe.pkcs7.detached");
        EXPECT_EQ(made.field, "Assinatura1");
    }
}

TEST(PdfReaderTest, AnEndOfFileMarkerThatNamesNoTableBeforeItEndsNoRevision)
{
    // What a linearized file's first-page section and stray markers look
    // like: "startxref" naming the header, or a table further on.
    const pdfx::Pdf base = pdfx::makeDocument();
    const pdfx::Pdf stray = pdfx::appendUpdate(
        base,
        {.objects = {{base.size, stream("startxref\n0\n%%EOF\nstartxref\n99999999\n%%EOF\n")}}});
    const pdf::PdfDocument document = read(stray.bytes);
    EXPECT_EQ(document.revisionEnds.size(), 2u);
}

TEST(PdfReaderTest, HostileFilesEndInBoundedTimeWithAClearErrorOrABoundedAnswer)
{
    const pdfx::Pdf base = pdfx::makeDocument({.fields = {{.name = "Nome", .signature = false}}});
    const pdfx::Pdf signedOnce = pdfx::sign(base, signature());

    std::string badStart = base.bytes;
    const std::size_t start = badStart.rfind("startxref\n") + 10;
    badStart.replace(start, badStart.find('\n', start) - start, "17");

    std::string manyEnds = base.bytes;
    const std::string lastTable = std::to_string(base.revisions.back().xref);
    for (int i = 0; i < 1200; ++i)
        manyEnds += "startxref\n" + lastTable + "\n%%EOF\n";

    pdfx::Object loop = base.objects.at(base.pagesTree);
    loop.dict.set("/Kids", "[" + std::to_string(base.pagesTree) + " 0 R " +
                               std::to_string(base.pages[0]) + " 0 R]");
    const pdfx::Pdf pagesLoop =
        pdfx::appendUpdate(signedOnce, {.objects = {{base.pagesTree, loop}}});

    const int fieldNumber = signedOnce.fields.at("Nome").object;
    pdfx::Object selfParent = signedOnce.objects.at(fieldNumber);
    selfParent.dict.set("/Kids", "[" + std::to_string(fieldNumber) + " 0 R]");
    const pdfx::Pdf fieldLoop =
        pdfx::appendUpdate(signedOnce, {.objects = {{fieldNumber, selfParent}}});

    pdfx::Update crowd;
    std::string fields = "[";
    for (int n = 0; n < 10'050; ++n) {
        pdfx::Object field;
        field.dict.set("/FT", "/Tx").set("/T", "(c" + std::to_string(n) + ")");
        crowd.objects.push_back({base.size + 1 + n, field});
        fields += std::to_string(base.size + 1 + n) + " 0 R ";
    }
    pdfx::Object form = base.objects.at(base.acroForm);
    form.dict.set("/Fields", fields + "]");
    crowd.objects.push_back({base.acroForm, form});
    const pdfx::Pdf crowded = pdfx::appendUpdate(base, crowd);

    struct Row {
        const char* what;
        std::string bytes;
        const char* error; // part of the error's text; "" when it reads
    };
    const std::vector<Row> rows = {
        {"no end of revision", "%PDF-1.7\n1 0 obj\n<<>>\nendobj\n", "%%EOF"},
        {"startxref into an object", badStart, "fim de revisão"},
        {"more revisions than any file has", manyEnds, "revisões demais"},
        {"page tree that holds itself", pagesLoop.bytes, ""},
        {"field that is its own kid", fieldLoop.bytes, ""},
        {"ten thousand fields", crowded.bytes, "campos de formulário demais"},
    };
    for (const Row& row : rows) {
        if (*row.error) {
            try {
                read(row.bytes);
                ADD_FAILURE() << row.what << ": read";
            } catch (const pdf::PdfError& error) {
                EXPECT_TRUE(error.text().contains(QString::fromUtf8(row.error)))
                    << row.what << ": " << error.text().toStdString();
            }
        } else {
            try {
                const pdf::PdfDocument document = read(row.bytes);
                EXPECT_EQ(document.signatures.size(), 1u) << row.what;
                EXPECT_FALSE(document.changes.empty()) << row.what;
            } catch (const pdf::PdfError&) {
                // Refusing it is as good an end as reading it.
            }
        }
    }
}

TEST(PdfReaderTest, AContentThatInflatesPastTheCapHidesNothingUnderAnOverlay)
{
    // A page whose content inflates to 64 MiB: the overlay check gives up on
    // it and takes the whole page as painted.
    pdfx::Pdf base = pdfx::makeDocument();
    const QByteArray zeros(64 << 20, ' ');
    const QByteArray deflated = qCompress(zeros, 9).mid(4);
    base = pdfx::appendUpdate(
        base,
        {.objects = {{base.contents[0], stream(std::string(deflated.constData(), deflated.size()),
                                               "/FlateDecode")}}});
    const pdfx::Pdf signedOnce = pdfx::sign(base, signature());
    const pdf::PdfDocument document =
        read(pdfx::addAnnotation(signedOnce, {.kind = pdfx::AnnotationKind::Square}).bytes);
    ASSERT_FALSE(document.changes.empty());
    EXPECT_TRUE(std::any_of(document.changes.begin(), document.changes.end(),
                            [](const pdf::PdfChange& change) { return change.coversContent; }));
}
