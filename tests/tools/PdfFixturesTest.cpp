// The PDF fixture writer read back byte by byte, independently of it: each
// revision ends at %%EOF and its startxref and xref entries point where they
// say, /ByteRange is what its name claims (or the forgery asked for), and the
// CMS written into the gap verifies over the ranges.

#include "tools/fixtures/PdfFixtures.h"

#include "tools/fixtures/CadesFixtures.h"
#include "tools/fixtures/FixtureBuilder.h"

#include <QCryptographicHash>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <openssl/cms.h>
#include <openssl/evp.h>
#include <openssl/pkcs7.h>
#include <openssl/ts.h>
#include <optional>
#include <regex>
#include <set>
#include <sstream>

namespace fx = selavia::fixtures;
namespace pdf = selavia::fixtures::pdf;

namespace {

const fx::Hierarchy& icp()
{
    static const fx::Hierarchy hierarchy = fx::icpBrasilHierarchy();
    return hierarchy;
}

const fx::Cert& signer()
{
    static const fx::Cert cert = fx::issueEndEntity(icp().intermediate, "FULANO:12345678901");
    return cert;
}

fx::TokenSpec tsa()
{
    static const fx::Cert cert = fx::makeTsa(icp().intermediate);
    return fx::TokenSpec{.tsa = cert, .chain = {icp().intermediate}};
}

pdf::SignSpec signSpec()
{
    return pdf::SignSpec{.signer = fx::SignerSpec{.cert = signer()}, .chain = {icp().intermediate}};
}

const pdf::Pdf& base()
{
    static const pdf::Pdf document = pdf::makeDocument(pdf::DocumentSpec{
        .pages = 2,
        .image = true,
        .fields = {pdf::FieldSpec{.name = "Assinatura1"},
                   pdf::FieldSpec{.name = "Nome", .rect = {72, 600, 300, 620}, .signature = false}},
    });
    return document;
}

const pdf::Pdf& signedOnce()
{
    static const pdf::Pdf document = pdf::sign(base(), signSpec());
    return document;
}

pdf::Pdf signedWith(const std::function<void(pdf::SignSpec&)>& change)
{
    pdf::SignSpec spec = signSpec();
    change(spec);
    return pdf::sign(base(), spec);
}

struct Case {
    const char* name;
    std::function<pdf::Pdf()> make;
};

// Every kind of file the writer makes, later revisions on a signed file.
const std::vector<Case>& cases()
{
    static const std::vector<Case> all = {
        {"plain", [] { return pdf::makeDocument(); }},
        {"base_crlf", [] { return pdf::makeDocument({.pages = 3, .eol = pdf::Eol::CrLf}); }},
        {"signed", [] { return signedOnce(); }},
        {"signed_new_field_ber_visible",
         [] {
             return signedWith([](pdf::SignSpec& s) {
                 s.field = "Outra";
                 s.page = 1;
                 s.rect = {300, 50, 550, 110};
                 s.encoding = fx::Encoding::BerIndefinite;
                 s.eol = pdf::Eol::CrLf;
             });
         }},
        {"two_signatures_no_eol",
         [] {
             const pdf::Pdf first = signedWith([](pdf::SignSpec& s) { s.eol = pdf::Eol::None; });
             pdf::SignSpec second = signSpec();
             second.field = "Assinatura2";
             return pdf::sign(first, second);
         }},
        {"cades_time_stamped",
         [] {
             return signedWith([](pdf::SignSpec& s) {
                 s.subFilter = pdf::SubFilter::CadesDetached;
                 s.signer.signingTime.reset();
                 s.timeStamp = tsa();
             });
         }},
        {"certified_locking",
         [] {
             return signedWith([](pdf::SignSpec& s) {
                 s.certify = 2;
                 s.lockFields = {"Nome"};
             });
         }},
        {"gov_br",
         [] { return pdf::sign(base(), pdf::govBrSpec(signer(), {icp().intermediate})); }},
        {"document_time_stamp",
         [] { return pdf::addDocumentTimeStamp(signedOnce(), {.token = tsa()}); }},
        {"dss",
         [] {
             return pdf::addDss(signedOnce(),
                                {.certs = {icp().intermediate, icp().root},
                                 .crls = {fx::crlDer(fx::makeCrl(icp().root, {}).get())},
                                 .vri = true});
         }},
        {"text_field_filled", [] { return pdf::fillTextField(signedOnce(), "Nome", "Beltrano"); }},
        {"note", [] { return pdf::addAnnotation(signedOnce(), {}); }},
        {"overlay_square",
         [] { return pdf::addAnnotation(signedOnce(), {.kind = pdf::AnnotationKind::Square}); }},
        {"hidden_free_text",
         [] {
             return pdf::addAnnotation(signedOnce(),
                                       {.kind = pdf::AnnotationKind::FreeText, .hidden = true});
         }},
        {"page_added", [] { return pdf::addPage(signedOnce()); }},
        {"content_same_number",
         [] { return pdf::replacePageContent(signedOnce(), 0, "Valor alterado", true); }},
        {"content_new_number",
         [] { return pdf::replacePageContent(signedOnce(), 0, "Valor alterado", false); }},
        {"font_changed", [] { return pdf::changeFont(signedOnce()); }},
        {"object_freed", [] { return pdf::freeObject(signedOnce(), signedOnce().contents[1]); }},
        {"signature_redefined",
         [] { return pdf::redefineSignatureDictionary(signedOnce(), 0, "Outro motivo"); }},
        {"gap_beyond_contents",
         [] { return signedWith([](auto& s) { s.fault = pdf::RangeFault::GapBeyondContents; }); }},
        {"three_ranges",
         [] { return signedWith([](auto& s) { s.fault = pdf::RangeFault::ThreeRanges; }); }},
        {"overlapping_ranges",
         [] { return signedWith([](auto& s) { s.fault = pdf::RangeFault::OverlappingRanges; }); }},
        {"not_to_end",
         [] { return signedWith([](auto& s) { s.fault = pdf::RangeFault::NotToEnd; }); }},
        {"gap_not_this_contents",
         [] { return signedWith([](auto& s) { s.fault = pdf::RangeFault::GapNotThisContents; }); }},
    };
    return all;
}

// --- reading the file back ------------------------------------------------------

struct XrefSection {
    std::map<int, std::size_t> used; // number → offset
    std::set<int> freed;
    long long size = 0;
    std::optional<long long> prev;
};

long long numberAfter(const std::string& text, const std::string& key)
{
    std::smatch m;
    if (!std::regex_search(text, m, std::regex(key + R"(\s*(\d+))"))) {
        return -1;
    }
    return std::stoll(m[1]);
}

// The section at `offset`; failures are reported against the test.
XrefSection readSection(const fx::Bytes& file, std::size_t offset)
{
    XrefSection section;
    EXPECT_EQ(file.compare(offset, 5, "xref\n"), 0) << "startxref " << offset;
    std::size_t pos = offset + 5;
    while (pos < file.size() && file.compare(pos, 7, "trailer") != 0) {
        const std::size_t eol = file.find('\n', pos);
        int first = 0;
        int count = 0;
        EXPECT_EQ(std::sscanf(file.substr(pos, eol - pos).c_str(), "%d %d", &first, &count), 2);
        pos = eol + 1;
        for (int k = 0; k < count; ++k, pos += 20) {
            std::size_t at = 0;
            int generation = 0;
            char kind = 0;
            EXPECT_EQ(
                std::sscanf(file.substr(pos, 20).c_str(), "%zu %d %c", &at, &generation, &kind), 3);
            if (kind == 'n') {
                section.used[first + k] = at;
            } else if (first + k != 0) {
                section.freed.insert(first + k);
            }
        }
    }
    const std::string trailer = file.substr(pos, file.find("startxref", pos) - pos);
    section.size = numberAfter(trailer, "/Size");
    if (const long long prev = numberAfter(trailer, "/Prev"); prev >= 0) {
        section.prev = prev;
    }
    return section;
}

std::string objectText(const fx::Bytes& file, std::size_t offset)
{
    return file.substr(offset, file.find("endobj", offset) - offset);
}

// Checks every revision of the file and returns each one's section.
std::vector<XrefSection> checkRevisions(const pdf::Pdf& document)
{
    const fx::Bytes& file = document.bytes;
    std::vector<XrefSection> sections;
    EXPECT_EQ(file.compare(0, 9, "%PDF-1.7\n"), 0);
    EXPECT_EQ(document.revisions.back().end, file.size());
    for (const pdf::Revision& revision : document.revisions) {
        fx::Bytes upTo = file.substr(0, revision.end);
        while (!upTo.empty() && (upTo.back() == '\n' || upTo.back() == '\r')) {
            upTo.pop_back();
        }
        EXPECT_TRUE(upTo.ends_with("%%EOF")) << "revision ending at " << revision.end;
        const std::size_t startxref = upTo.rfind("startxref");
        EXPECT_GT(startxref, revision.start);
        const auto xref =
            static_cast<std::size_t>(numberAfter(upTo.substr(startxref), "startxref"));
        EXPECT_EQ(xref, revision.xref);
        XrefSection section = readSection(file, xref);
        for (const auto& [number, offset] : section.used) {
            EXPECT_GE(offset, revision.start);
            EXPECT_EQ(file.compare(offset, std::to_string(number).size() + 7,
                                   std::to_string(number) + " 0 obj\n"),
                      0)
                << "object " << number << " at " << offset;
            EXPECT_LT(number, section.size);
        }
        if (sections.empty()) {
            EXPECT_FALSE(section.prev);
        } else {
            EXPECT_EQ(section.prev,
                      static_cast<long long>(document.revisions[sections.size() - 1].xref));
        }
        sections.push_back(section);
    }
    return sections;
}

// Where each live object's latest definition starts.
std::map<int, std::size_t> latestObjects(const std::vector<XrefSection>& sections)
{
    std::map<int, std::size_t> objects;
    for (const XrefSection& section : sections) {
        for (const auto& [number, offset] : section.used) {
            objects[number] = offset;
        }
        for (int number : section.freed) {
            objects.erase(number);
        }
    }
    return objects;
}

std::vector<long long> byteRangeIn(const std::string& dictionary)
{
    std::smatch m;
    EXPECT_TRUE(std::regex_search(dictionary, m, std::regex(R"(/ByteRange \[([\d ]+)\])")));
    std::vector<long long> out;
    std::istringstream numbers(m[1].str());
    for (long long n = 0; numbers >> n;) {
        out.push_back(n);
    }
    return out;
}

template <auto Free> struct Deleter {
    template <typename T> void operator()(T* p) const { Free(p); }
};
using BioPtr = std::unique_ptr<BIO, Deleter<BIO_free>>;
using CmsPtr = std::unique_ptr<CMS_ContentInfo, Deleter<CMS_ContentInfo_free>>;
using Pkcs7Ptr = std::unique_ptr<PKCS7, Deleter<PKCS7_free>>;
using TstInfoPtr = std::unique_ptr<TS_TST_INFO, Deleter<TS_TST_INFO_free>>;

// The signature itself, its certificate taken on trust.
bool verifiesOver(const fx::Bytes& cms, const fx::Bytes& content)
{
    BioPtr in(BIO_new_mem_buf(cms.data(), static_cast<int>(cms.size())));
    CmsPtr message(d2i_CMS_bio(in.get(), nullptr));
    BioPtr data(BIO_new_mem_buf(content.data(), static_cast<int>(content.size())));
    return message && CMS_verify(message.get(), nullptr, nullptr, data.get(), nullptr,
                                 CMS_NO_SIGNER_CERT_VERIFY | CMS_BINARY) == 1;
}

fx::Bytes imprintOf(const fx::Bytes& token)
{
    const auto* p = reinterpret_cast<const unsigned char*>(token.data());
    Pkcs7Ptr pkcs7(d2i_PKCS7(nullptr, &p, static_cast<long>(token.size())));
    if (!pkcs7) {
        return {};
    }
    TstInfoPtr info(PKCS7_to_TS_TST_INFO(pkcs7.get()));
    const ASN1_OCTET_STRING* digest =
        TS_MSG_IMPRINT_get_msg(TS_TST_INFO_get_msg_imprint(info.get()));
    return fx::Bytes(reinterpret_cast<const char*>(ASN1_STRING_get0_data(digest)),
                     static_cast<std::size_t>(ASN1_STRING_length(digest)));
}

fx::Bytes sha256(const fx::Bytes& data)
{
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(data.data(), data.size(), md, &length, EVP_sha256(), nullptr);
    return fx::Bytes(reinterpret_cast<char*>(md), length);
}

class EveryFile : public ::testing::TestWithParam<Case> {};

std::string caseName(const ::testing::TestParamInfo<Case>& info)
{
    return info.param.name;
}

// --- the tests ------------------------------------------------------------------

TEST_P(EveryFile, RevisionsEndAtEofAndTheirTablesPointAtTheirObjects)
{
    const pdf::Pdf document = GetParam().make();
    const std::vector<XrefSection> sections = checkRevisions(document);
    // Every object the model holds is where the latest table says.
    const std::map<int, std::size_t> latest = latestObjects(sections);
    EXPECT_EQ(latest.size(), document.objects.size());
    for (const auto& [number, object] : document.objects) {
        EXPECT_EQ(latest.count(number), 1U) << "object " << number;
    }
}

TEST_P(EveryFile, EachSignatureVerifiesOverItsRangesInItsRevision)
{
    const pdf::Pdf document = GetParam().make();
    for (const pdf::Signature& signature : document.signatures) {
        const std::string dictionary = objectText(
            document.bytes, document.bytes.find(std::to_string(signature.dictionary) + " 0 obj\n",
                                                document.revisions[signature.revision].start));
        EXPECT_EQ(byteRangeIn(dictionary), signature.byteRange);
        const fx::Bytes covered = pdf::coveredBytes(document.bytes, signature.byteRange);
        EXPECT_LE(signature.byteRange.back() + signature.byteRange[signature.byteRange.size() - 2],
                  static_cast<long long>(document.revisions[signature.revision].end));
        if (dictionary.find("/DocTimeStamp") != std::string::npos) {
            EXPECT_EQ(imprintOf(signature.cms), sha256(covered));
            continue;
        }
        EXPECT_TRUE(verifiesOver(signature.cms, covered));
        fx::Bytes changed = covered;
        changed[changed.size() / 2] ^= 0x01;
        EXPECT_FALSE(verifiesOver(signature.cms, changed));
    }
}

TEST_P(EveryFile, QpdfFindsNothingWrong)
{
    const QString qpdf = QStandardPaths::findExecutable(QStringLiteral("qpdf"));
    if (qpdf.isEmpty()) {
        GTEST_SKIP() << "qpdf is not installed";
    }
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("documento.pdf"));
    fx::writeFile(path.toStdString(), GetParam().make().bytes);
    QProcess check;
    check.start(qpdf, {QStringLiteral("--check"), path});
    ASSERT_TRUE(check.waitForFinished(60000));
    const QByteArray output = check.readAllStandardOutput() + check.readAllStandardError();
    EXPECT_EQ(check.exitCode(), 0) << output.toStdString();
    EXPECT_FALSE(output.contains("WARNING")) << output.toStdString();
}

INSTANTIATE_TEST_SUITE_P(PdfFixtures, EveryFile, ::testing::ValuesIn(cases()), caseName);

// What the gap of each signature is, honest or forged.
TEST(PdfSignature, TheGapIsTheContentsStringOrTheForgeryAsked)
{
    struct Expectation {
        pdf::RangeFault fault;
        std::size_t ranges;
        bool gapIsOwnContents; // the last gap is exactly the dictionary's /Contents string
        bool toRevisionEnd;
        bool overlapping;
    };
    const Expectation table[] = {
        {pdf::RangeFault::None, 2, true, true, false},
        {pdf::RangeFault::GapBeyondContents, 2, false, true, false},
        {pdf::RangeFault::ThreeRanges, 3, true, true, false},
        {pdf::RangeFault::OverlappingRanges, 3, true, true, true},
        {pdf::RangeFault::NotToEnd, 2, true, false, false},
        {pdf::RangeFault::GapNotThisContents, 2, false, true, false},
    };
    for (const Expectation& row : table) {
        SCOPED_TRACE(static_cast<int>(row.fault));
        const pdf::Pdf document = signedWith([&](pdf::SignSpec& s) { s.fault = row.fault; });
        const pdf::Signature& signature = document.signatures.at(0);
        const std::vector<long long>& r = signature.byteRange;
        ASSERT_EQ(r.size(), row.ranges * 2);
        EXPECT_EQ(r[0], 0);
        const fx::Bytes& file = document.bytes;
        const std::size_t dictionary = file.find(std::to_string(signature.dictionary) + " 0 obj\n",
                                                 document.revisions.back().start);
        const std::size_t contents = file.find("/Contents <", dictionary) + 10;
        const auto gapStart = static_cast<std::size_t>(r[r.size() - 4] + r[r.size() - 3]);
        const auto gapEnd = static_cast<std::size_t>(r[r.size() - 2]);
        EXPECT_EQ(file[gapStart], '<');
        EXPECT_EQ(gapStart == contents && file[gapEnd - 1] == '>' &&
                      file.find('>', contents) + 1 == gapEnd,
                  row.gapIsOwnContents);
        EXPECT_EQ(r[r.size() - 2] + r.back() == static_cast<long long>(file.size()),
                  row.toRevisionEnd);
        EXPECT_EQ(r.size() == 6 && r[2] < r[0] + r[1], row.overlapping);
        EXPECT_TRUE(verifiesOver(signature.cms, pdf::coveredBytes(file, r)));
    }
}

TEST(PdfSignature, ForgedGapsLeaveOutWhatTheyClaimToCover)
{
    const pdf::Pdf beyond =
        signedWith([](auto& s) { s.fault = pdf::RangeFault::GapBeyondContents; });
    const std::vector<long long>& r = beyond.signatures[0].byteRange;
    const fx::Bytes gap =
        beyond.bytes.substr(static_cast<std::size_t>(r[1]), static_cast<std::size_t>(r[2] - r[1]));
    EXPECT_NE(gap.find("/Reason"), fx::Bytes::npos);

    const pdf::Pdf shortRange = signedWith([](auto& s) { s.fault = pdf::RangeFault::NotToEnd; });
    const std::vector<long long>& t = shortRange.signatures[0].byteRange;
    EXPECT_EQ(shortRange.bytes.compare(static_cast<std::size_t>(t[2] + t[3]), 5, "%%EOF"), 0);

    // The dictionary's own /Contents is signed over, and holds a CMS that
    // does not verify over the ranges.
    const pdf::Pdf elsewhere =
        signedWith([](auto& s) { s.fault = pdf::RangeFault::GapNotThisContents; });
    const pdf::Signature& signature = elsewhere.signatures[0];
    const fx::Bytes covered = pdf::coveredBytes(elsewhere.bytes, signature.byteRange);
    const std::size_t dictionary = elsewhere.bytes.find(
        std::to_string(signature.dictionary) + " 0 obj\n", elsewhere.revisions.back().start);
    EXPECT_LT(dictionary, static_cast<std::size_t>(signature.byteRange[1]));
    const std::size_t hex = elsewhere.bytes.find("/Contents <", dictionary) + 11;
    const QByteArray own = QByteArray::fromHex(QByteArray::fromStdString(
        elsewhere.bytes.substr(hex, elsewhere.bytes.find('>', hex) - hex)));
    EXPECT_TRUE(own.startsWith("\x30\x82"));
    EXPECT_FALSE(verifiesOver(own.toStdString(), covered));
}

// Each later revision lists just the objects it adds, changes or frees.
TEST(PdfLaterRevision, ListsWhatItChanges)
{
    const pdf::Pdf& s = signedOnce();
    const int next = s.size;
    struct Row {
        const char* name;
        pdf::Pdf document;
        std::set<int> used;
        std::set<int> freed;
    };
    const Row rows[] = {
        {"text field",
         pdf::fillTextField(s, "Nome", "Beltrano"),
         {s.fields.at("Nome").object, next},
         {}},
        {"note", pdf::addAnnotation(s, {}), {next, s.pages[0]}, {}},
        {"overlay",
         pdf::addAnnotation(s, {.kind = pdf::AnnotationKind::Square}),
         {next, next + 1, s.pages[0]},
         {}},
        {"page", pdf::addPage(s), {next, next + 1, s.pagesTree}, {}},
        {"same content number", pdf::replacePageContent(s, 0, "x", true), {s.contents[0]}, {}},
        {"new content number", pdf::replacePageContent(s, 0, "x", false), {next, s.pages[0]}, {}},
        {"font", pdf::changeFont(s), {s.font}, {}},
        {"freed", pdf::freeObject(s, s.contents[1]), {}, {s.contents[1]}},
        {"signature redefined",
         pdf::redefineSignatureDictionary(s, 0, "x"),
         {s.signatures[0].dictionary},
         {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::vector<XrefSection> sections = checkRevisions(row.document);
        ASSERT_EQ(sections.size(), s.revisions.size() + 1);
        std::set<int> used;
        for (const auto& [number, offset] : sections.back().used) {
            used.insert(number);
        }
        EXPECT_EQ(used, row.used);
        EXPECT_EQ(sections.back().freed, row.freed);
    }
}

} // namespace
