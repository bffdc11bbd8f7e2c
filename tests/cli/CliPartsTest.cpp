// The pieces of selavia-verify that need no signed file: the paths of
// standard input, the ordered run over a source of items, the notices of a
// wait on the network, the claimed output names and the verdict's qualifier.

#include "cli/InOrder.h"
#include "cli/InputLines.h"
#include "cli/OutputNames.h"
#include "cli/WaitNotices.h"
#include "fileinfo/PathText.h"
#include "verify/ResultSummary.h"

#include <QStringList>
#include <atomic>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace cli = selavia::cli;
namespace verify = selavia::verify;
namespace revocation = selavia::revocation;
using TrustFramework = selavia::signature::TrustFramework;

namespace {

// A source that hands over at most `step` bytes a call, so that lines cross
// the blocks of the reader.
cli::ByteSource trickle(QByteArray data, qint64 step)
{
    cli::ByteSource whole = cli::bytesSource(std::move(data));
    return [whole, step](char* buffer, qint64 size) { return whole(buffer, std::min(size, step)); };
}

QStringList linesOf(cli::InputLines& lines)
{
    QStringList read;
    while (std::optional<cli::InputLine> line = lines.next())
        read << (line->problem.isEmpty() ? line->path : QStringLiteral("<longa>"));
    EXPECT_FALSE(lines.next().has_value()) << "the end stays the end";
    return read;
}

TEST(InputLinesTest, PathsAreTheNonBlankLinesReadAsBytes)
{
    const QByteArray longLine(cli::InputLines::kLongestLine + 10, 'a');
    struct Case {
        const char* what;
        QByteArray input;
        QStringList paths;
    };
    const std::vector<Case> cases = {
        {"plain", "a.slv\nb.slv\n", {"a.slv", "b.slv"}},
        {"no final break", "a.slv\nb.slv", {"a.slv", "b.slv"}},
        {"CRLF and blank lines", "a.slv\r\n\r\n\nb.slv\r\n", {"a.slv", "b.slv"}},
        {"empty", "", {}},
        {"not UTF-8", "caf\xE9.slv\n", {selavia::fileinfo::decodePath("caf\xE9.slv")}},
        {"a line too long, and the next", longLine + "\nc.slv\n", {"<longa>", "c.slv"}},
        {"a line too long at the end", "a.slv\n" + longLine, {"a.slv", "<longa>"}},
        {"the longest line that fits",
         QByteArray(cli::InputLines::kLongestLine, 'b') + "\n",
         {QString(cli::InputLines::kLongestLine, QLatin1Char('b'))}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (const qint64 step : {qint64(1) << 20, qint64(7), qint64(1)}) {
            if (step == 1 && c.input.size() > 10000)
                continue;
            cli::InputLines lines(trickle(c.input, step));
            EXPECT_EQ(linesOf(lines), c.paths) << "step " << step;
        }
    }
}

// Results come in the order of the items whatever order the work ends in,
// and the source is never asked far ahead of what was handed over.
TEST(RunInOrderTest, ResultsComeInOrderAndTheSourceIsAskedOnlyAsNeeded)
{
    for (const int threads : {1, 2, 4}) {
        SCOPED_TRACE(threads);
        const int count = 200;
        std::atomic<int> given{0};
        std::atomic<int> emitted{0};
        std::atomic<int> furthest{0};
        std::vector<int> order;
        cli::runInOrder<int, int>(
            [&]() -> std::optional<int> {
                if (given == count)
                    return std::nullopt;
                furthest = std::max(furthest.load(), given - emitted);
                return given++;
            },
            threads,
            [](int& item) {
                // Later items end first.
                std::this_thread::sleep_for(std::chrono::microseconds((item % 5) * 200));
                return item * 10;
            },
            [&](int& result) {
                order.push_back(result);
                ++emitted;
            });
        std::vector<int> expected;
        for (int n = 0; n < count; ++n)
            expected.push_back(n * 10);
        EXPECT_EQ(order, expected);
        EXPECT_LE(furthest, 2 * threads) << "items held at once";
    }
    // Nothing at all: no result, no hang.
    int calls = 0;
    cli::runInOrder<int, int>([]() -> std::optional<int> { return std::nullopt; }, 3,
                              [](int& item) { return item; }, [&](int&) { ++calls; });
    EXPECT_EQ(calls, 0);
}

// The wait notices against a clock the test moves, by a script: S starts a
// wait, E ends it, T tells, W writes other output, a number moves the clock
// that many milliseconds.
TEST(WaitNoticesTest, AWaitIsToldOnceAfterASecondEscapedAndClearedWhenItEnds)
{
    const QString told = "Aguardando resposta de http://x/\\x0AResultado: Aprovado (lista de "
                         "certificados revogados)…\r\x1b[K";
    struct Case {
        const char* what;
        bool active;
        QString script;
        QString expected;
    };
    const std::vector<Case> cases = {
        {"answered within the second", true, "S 900 T E T", ""},
        {"told once, then cleared", true, "S 1100 T 5000 T E T", told},
        {"other output clears the line first", true, "S 2000 T W E", told + "saída\n"},
        {"not a terminal", false, "S 10000 T W E", "saída\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        QString err;
        auto now = std::chrono::steady_clock::time_point();
        cli::WaitNotices notices([&err](const QString& text) { err += text; }, c.active,
                                 [&now] { return now; });
        const revocation::FetchWatch watch = notices.watch();
        EXPECT_EQ(static_cast<bool>(watch), c.active);
        revocation::FetchEnd ended = [](const QString&) {};
        for (const QString& step : c.script.split(' ')) {
            if (step == "S" && watch)
                ended =
                    watch("http://x/\nResultado: Aprovado", revocation::FetchKind::RevocationList);
            else if (step == "E")
                ended({});
            else if (step == "T")
                notices.tell();
            else if (step == "W")
                notices.outside([&err] { err += "saída\n"; });
            else
                now += std::chrono::milliseconds(step.toInt());
        }
        EXPECT_EQ(err.toStdString(), c.expected.toStdString());
    }
}

TEST(OutputNamesTest, EachNameIsClaimedOnceHoweverItIsSpelled)
{
    cli::OutputNames names;
    EXPECT_EQ(names.claim("docs/a.pdf", cli::OutputKind::Document, "a.slv"), "");
    EXPECT_EQ(names.claim("docs/a-relatorio.pdf", cli::OutputKind::Report, "a.slv"), "");
    struct Case {
        QString path;
        cli::OutputKind kind;
        QString file;
        QString refusal; // empty: granted
    };
    const std::vector<Case> cases = {
        {"docs/./a.pdf", cli::OutputKind::Document, "a.pdf.slv",
         "Não foi gravado o documento original de a.pdf.slv: docs/./a.pdf já é o documento "
         "original de a.slv nesta execução.\n"},
        {cli::comparablePath("docs/a-relatorio.pdf"), cli::OutputKind::Document, "b\nc.slv",
         "Não foi gravado o documento original de b\\x0Ac.slv: " +
             cli::comparablePath("docs/a-relatorio.pdf") +
             " já é o relatório de a.slv nesta execução.\n"},
        {"outra/../docs/a.pdf", cli::OutputKind::Report, "z.slv",
         "Não foi gravado o relatório de z.slv: outra/../docs/a.pdf já é o documento original "
         "de a.slv nesta execução.\n"},
        {"docs/A.pdf", cli::OutputKind::Document, "A.slv", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path.toStdString());
        EXPECT_EQ(names.claim(c.path, c.kind, c.file), c.refusal);
    }
}

// A result of `verdict` whose signers are, in order: I a valid ICP-Brasil one,
// X an ICP-Brasil one not valid today, F a foreign one, G a gov.br one.
verify::ValidationResult judged(verify::Verdict verdict, const std::string& signers)
{
    using C = verify::CertificateClass;
    verify::ValidationResult result;
    result.verdict.verdict = verdict;
    for (const char kind : signers) {
        verify::SignatureResult signer;
        signer.certificateClass = kind == 'I' ? C::Valid : kind == 'X' ? C::Invalid : C::NoIcpValid;
        signer.trustFramework = kind == 'G'   ? TrustFramework::GovBr
                                : kind == 'F' ? TrustFramework::Other
                                              : TrustFramework::IcpBrasil;
        result.signers.push_back(signer);
    }
    return result;
}

TEST(VerdictQualifierTest, AnAprovadoSaysWhichSignersAreNotValidIcpBrasil)
{
    using V = verify::Verdict;
    struct Case {
        V verdict;
        std::string signers;
        QString qualifier;
    };
    const std::vector<Case> cases = {
        {V::Approved, "I", ""},
        {V::Approved, "F", "(assinatura válida; o signatário não é ICP-Brasil)"},
        {V::Approved, "G",
         "(assinatura válida; assinatura eletrônica avançada gov.br, não ICP-Brasil)"},
        {V::Approved, "X",
         "(assinatura válida; o certificado ICP-Brasil do signatário não é válido hoje)"},
        {V::Approved, "IFI", "(assinaturas válidas; 1 signatário não é ICP-Brasil)"},
        {V::Approved, "FF", "(assinaturas válidas; nenhum signatário é ICP-Brasil)"},
        {V::Approved, "GFFXI",
         "(assinaturas válidas; 1 signatário é gov.br, não ICP-Brasil; 2 signatários não são "
         "ICP-Brasil; 1 certificado ICP-Brasil de signatário não é válido hoje)"},
        {V::Approved, "GG",
         "(assinaturas válidas; todas são assinaturas eletrônicas avançadas gov.br, não "
         "ICP-Brasil)"},
        {V::Rejected, "F", ""}, // a Reprovado says why itself
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.signers);
        EXPECT_EQ(verify::verdictQualifier(judged(c.verdict, c.signers)), c.qualifier);
    }
    verify::ValidationResult failed = judged(V::Approved, "F");
    failed.error = verify::VerificationError{};
    EXPECT_EQ(verify::verdictQualifier(failed), "") << "not verified";
}

} // namespace
