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
        {"a long line that still fits",
         QByteArray(4096, 'b') + "\n",
         {QString(4096, QLatin1Char('b'))}},
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
        int furthestAhead = 0;
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
        furthestAhead = furthest;
        std::vector<int> expected;
        for (int n = 0; n < count; ++n)
            expected.push_back(n * 10);
        EXPECT_EQ(order, expected);
        EXPECT_LE(furthestAhead, 2 * threads) << "items held at once";
    }
    // Nothing at all: no result, no hang.
    int calls = 0;
    cli::runInOrder<int, int>([]() -> std::optional<int> { return std::nullopt; }, 3,
                              [](int& item) { return item; }, [&](int&) { ++calls; });
    EXPECT_EQ(calls, 0);
}

// The wait notices against a clock the test moves.
TEST(WaitNoticesTest, AWaitIsToldOnceAfterASecondAndClearedWhenItEnds)
{
    using namespace std::chrono_literals;
    const QByteArray crl = "http://ac.example/lista.crl";
    const QString told = QStringLiteral(
        "Aguardando resposta de http://ac.example/lista.crl (lista de certificados revogados)…");
    const QString clear = QStringLiteral("\r\x1b[K");
    struct Step {
        enum { Start, End, Advance, Tell, Write } action;
        std::chrono::milliseconds by{};
    };
    struct Case {
        const char* what;
        bool active;
        std::vector<Step> steps;
        QString expected;
    };
    const std::vector<Case> cases = {
        {"answered within the second",
         true,
         {{Step::Start}, {Step::Advance, 900ms}, {Step::Tell}, {Step::End}, {Step::Tell}},
         ""},
        {"told once, then cleared",
         true,
         {{Step::Start},
          {Step::Advance, 1100ms},
          {Step::Tell},
          {Step::Advance, 5s},
          {Step::Tell},
          {Step::End},
          {Step::Tell}},
         told + clear},
        {"other output clears the line first",
         true,
         {{Step::Start}, {Step::Advance, 2s}, {Step::Tell}, {Step::Write}, {Step::End}},
         told + clear + "saída\n"},
        {"not a terminal",
         false,
         {{Step::Start}, {Step::Advance, 10s}, {Step::Tell}, {Step::Write}, {Step::End}},
         "saída\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        QString err;
        auto now = std::chrono::steady_clock::time_point();
        cli::WaitNotices notices([&err](const QString& text) { err += text; }, c.active,
                                 [&now] { return now; });
        const revocation::FetchWatch watch = notices.watch();
        EXPECT_EQ(static_cast<bool>(watch), c.active);
        std::function<void()> ended;
        for (const Step& step : c.steps) {
            switch (step.action) {
            case Step::Start:
                if (watch)
                    ended = watch(crl, revocation::FetchKind::RevocationList);
                break;
            case Step::End:
                if (ended)
                    ended();
                break;
            case Step::Advance:
                now += step.by;
                break;
            case Step::Tell:
                notices.tell();
                break;
            case Step::Write:
                notices.outside([&err] { err += "saída\n"; });
                break;
            }
        }
        EXPECT_EQ(err.toStdString(), c.expected.toStdString());
    }
}

TEST(WaitNoticesTest, AnAddressIsPrintedEscaped)
{
    using namespace std::chrono_literals;
    QString err;
    auto now = std::chrono::steady_clock::time_point();
    cli::WaitNotices notices([&err](const QString& text) { err += text; }, true,
                             [&now] { return now; });
    const auto ended =
        notices.watch()("http://x/\nResultado: Aprovado", revocation::FetchKind::Ocsp);
    now += 2s;
    notices.tell();
    EXPECT_EQ(err, "Aguardando resposta de http://x/\\x0AResultado: Aprovado (consulta OCSP de "
                   "revogação)…");
    ended();
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

verify::ValidationResult
judged(verify::Verdict verdict,
       std::vector<std::pair<verify::CertificateClass, TrustFramework>> signers)
{
    verify::ValidationResult result;
    result.verdict.verdict = verdict;
    int index = 0;
    for (const auto& [certificateClass, framework] : signers) {
        verify::SignatureResult signer;
        signer.index = ++index;
        signer.certificateClass = certificateClass;
        signer.trustFramework = framework;
        result.signers.push_back(signer);
    }
    return result;
}

TEST(VerdictQualifierTest, AnAprovadoSaysWhichSignersAreNotValidIcpBrasil)
{
    using C = verify::CertificateClass;
    using V = verify::Verdict;
    const auto icp = std::pair(C::Valid, TrustFramework::IcpBrasil);
    const auto foreign = std::pair(C::NoIcpValid, TrustFramework::Other);
    const auto govBr = std::pair(C::NoIcpValid, TrustFramework::GovBr);
    const auto expired = std::pair(C::Invalid, TrustFramework::IcpBrasil);
    struct Case {
        const char* what;
        verify::ValidationResult result;
        QString qualifier;
    };
    verify::ValidationResult failed = judged(V::Rejected, {});
    failed.error = verify::VerificationError{};
    const std::vector<Case> cases = {
        {"ICP-Brasil", judged(V::Approved, {icp}), ""},
        {"foreign", judged(V::Approved, {foreign}),
         "(assinatura válida; o signatário não é ICP-Brasil)"},
        {"gov.br", judged(V::Approved, {govBr}),
         "(assinatura válida; assinatura eletrônica avançada gov.br, não ICP-Brasil)"},
        {"ICP-Brasil, expired since", judged(V::Approved, {expired}),
         "(assinatura válida; o certificado ICP-Brasil do signatário não é válido hoje)"},
        {"two ICP-Brasil", judged(V::Approved, {icp, icp}), ""},
        {"one of three foreign", judged(V::Approved, {icp, foreign, icp}),
         "(assinaturas válidas; 1 signatário não é ICP-Brasil)"},
        {"all foreign", judged(V::Approved, {foreign, foreign}),
         "(assinaturas válidas; nenhum signatário é ICP-Brasil)"},
        {"mixed", judged(V::Approved, {govBr, foreign, foreign, expired, icp}),
         "(assinaturas válidas; 1 signatário é gov.br, não ICP-Brasil; 2 signatários não são "
         "ICP-Brasil; 1 certificado ICP-Brasil de signatário não é válido hoje)"},
        {"every gov.br", judged(V::Approved, {govBr, govBr}),
         "(assinaturas válidas; todas são assinaturas eletrônicas avançadas gov.br, não "
         "ICP-Brasil)"},
        {"Reprovado says why itself", judged(V::Rejected, {foreign}), ""},
        {"Indeterminado says why itself", judged(V::Indeterminate, {foreign}), ""},
        {"not verified", failed, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(verify::verdictQualifier(c.result), c.qualifier);
    }
}

} // namespace
