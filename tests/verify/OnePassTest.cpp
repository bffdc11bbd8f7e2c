#include "fileinfo/StagedFile.h"
#include "platform/signature/SummingInput.h"
#include "tests/support/VerifyFixtures.h"
#include "verify/DocumentName.h"
#include "verify/TemporaryCopy.h"
#include "verify/Verification.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>

using namespace selavia::verify;
using namespace selavia::testing;
namespace fi = selavia::fileinfo;

namespace {

// A signed file in memory whose bytes may change under the reader: `before`
// until changed() is called (or a read reaches `trigger`), `after` from then
// on, as a file rewritten in place or a network file system may serve them.
// It counts the bytes read, and reads from `failAt` on fail.
class ChangingInput : public sig::MessageInput {
public:
    explicit ChangingInput(QByteArray before) : ChangingInput(before, before) {}
    ChangingInput(QByteArray before, QByteArray after)
        : before_(std::move(before)), after_(std::move(after))
    {
    }
    qint64 size() const override { return before_.size(); }
    qint64 read(qint64 offset, char* buffer, qint64 length) override
    {
        if (offset >= failAt)
            return -1;
        if (offset + length > trigger)
            changed();
        const QByteArray& bytes = changed_ ? after_ : before_;
        const qint64 got = std::clamp<qint64>(bytes.size() - offset, 0, length);
        std::memcpy(buffer, bytes.constData() + offset, static_cast<size_t>(got));
        bytesRead += got;
        return got;
    }
    void changed()
    {
        if (!changed_ && onChange)
            onChange();
        changed_ = true;
    }
    qint64 trigger = std::numeric_limits<qint64>::max();
    qint64 failAt = std::numeric_limits<qint64>::max();
    qint64 bytesRead = 0;
    std::function<void()> onChange;

private:
    QByteArray before_;
    QByteArray after_;
    bool changed_ = false;
};

// "R$ 1.000,00" signed; "R$ 900.000,00" in its place afterwards, same size.
struct Rewritten {
    fx::Bytes content;
    QByteArray signedBytes;
    QByteArray rewrittenBytes;
};

Rewritten rewrittenContract(std::size_t padding = 0)
{
    fx::SignerSpec signer{.cert = icpSigner()};
    signer.attributes = {fx::documentNameAttribute("contrato.txt")};
    // SHA-512: the content's SHA-256 is not a by-product of the signer's digest.
    signer.digest = fx::Digest::Sha512;
    fx::MessageSpec spec = messageFor({signer});
    spec.content = "Valor: R$   1.000,00" + fx::Bytes(padding, '.');
    Rewritten result{spec.content, bytes(fx::makeSignedMessage(spec)), {}};
    result.rewrittenBytes = result.signedBytes;
    const qsizetype at = result.rewrittenBytes.indexOf("R$   1.000,00");
    result.rewrittenBytes.replace(at, 13, "R$ 900.000,00");
    return result;
}

QByteArray sha256(const QByteArray& bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256);
}

// The copy written again from a new verifying read of the signed file;
// whether that was refused (the file no longer verifies, or holds another
// content).
bool restageRefused(const ValidationResult& document, TemporaryCopy& copy)
{
    const ValidationResult again = Verification(trustingIcp())
                                       .readFile(document.filePath)
                                       .expectContent(document.contentSha256)
                                       .intoCopy(copy)
                                       .run();
    return !again.verified() || again.outputFailure.has_value();
}

class OnePassTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir_.isValid()); }
    QString path(const QString& name) const { return dir_.filePath(name); }
    QTemporaryDir dir_;
};

TEST_F(OnePassTest, WhatIsShownAndWrittenIsWhatWasVerifiedWhateverTheFileServesLater)
{
    const Rewritten contract = rewrittenContract();
    const QByteArray verified = bytes(contract.content);
    ChangingInput input(contract.signedBytes, contract.rewrittenBytes);
    TemporaryCopy copy(dir_.path());
    const ValidationResult document =
        Verification(trustingIcp()).readInput(path("contrato.slv"), input).intoCopy(copy).run();
    ASSERT_TRUE(document.verified());
    input.changed(); // every later read would see the new bytes

    EXPECT_EQ(document.contentSha256, sha256(verified));
    EXPECT_EQ(document.contentSize, verified.size());
    EXPECT_EQ(fi::ReadFileBytes(copy.path()), verified);
    EXPECT_FALSE(copy.copyTo(path("extraido.txt"), fi::Replace::Never));
    EXPECT_EQ(fi::ReadFileBytes(path("extraido.txt")), verified);

    // A viewer that saved over the copy: nothing is copied out of it.
    ASSERT_FALSE(fi::WriteFileBytes(copy.path(), "Valor: R$ 900.000,00"));
    const auto changed = copy.copyTo(path("outro.txt"), fi::Replace::Never);
    ASSERT_TRUE(changed.has_value());
    EXPECT_FALSE(QFile::exists(path("outro.txt")));
    EXPECT_FALSE(copy.present());
}

TEST_F(OnePassTest, AFileChangedWhileItIsReadFailsAndLeavesNothing)
{
    // Large enough to be read in several windows.
    const Rewritten contract = rewrittenContract(3 << 20);
    const qsizetype changeAt = contract.signedBytes.indexOf("R$") + (2 << 20);

    ChangingInput forCopy(contract.signedBytes, contract.rewrittenBytes);
    forCopy.trigger = changeAt;
    TemporaryCopy copy(dir_.filePath("temp"));
    ASSERT_TRUE(QDir(dir_.path()).mkdir("temp"));
    const ValidationResult document =
        Verification(trustingIcp()).readInput(path("contrato.slv"), forCopy).intoCopy(copy).run();
    ASSERT_FALSE(document.verified());
    EXPECT_EQ(document.error->caption, "Documento Violado - Erro 1717");
    EXPECT_FALSE(copy.present());
    // The private folder holds nothing, not even a staged part.
    for (const QFileInfo& folder :
         QDir(dir_.filePath("temp")).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot))
        EXPECT_EQ(QDir(folder.filePath())
                      .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                  QStringList())
            << folder.filePath().toStdString();

    ChangingInput forExtract(contract.signedBytes, contract.rewrittenBytes);
    forExtract.trigger = changeAt;
    const ValidationResult extraction = Verification(trustingIcp())
                                            .readInput(path("contrato.slv"), forExtract)
                                            .extractTo(path("extraido.txt"), fi::Replace::Never)
                                            .run();
    EXPECT_FALSE(extraction.verified());
    EXPECT_FALSE(extraction.outputFailure.has_value());
    EXPECT_EQ(QDir(dir_.path()).entryList(QDir::Files | QDir::Hidden), QStringList());
}

TEST_F(OnePassTest, AnExtractionNeverReplacesWhatAppearedDuringTheVerification)
{
    const Rewritten contract = rewrittenContract(3 << 20);
    ChangingInput input(contract.signedBytes);
    input.trigger = contract.signedBytes.size() / 2;
    input.onChange = [&] { fx::writeFile(path("extraido.txt").toStdString(), "de outra pessoa"); };
    const ValidationResult extraction = Verification(trustingIcp())
                                            .readInput(path("contrato.slv"), input)
                                            .extractTo(path("extraido.txt"), fi::Replace::Never)
                                            .run();
    ASSERT_TRUE(extraction.verified());
    ASSERT_TRUE(extraction.outputFailure.has_value());
    EXPECT_EQ(extraction.outputFailure->number, fi::error_number::kFileExists);
    EXPECT_EQ(fi::ReadFileBytes(path("extraido.txt")), "de outra pessoa");
    EXPECT_EQ(QDir(dir_.path()).entryList(QDir::Files | QDir::Hidden),
              QStringList({"extraido.txt"}));
}

TEST_F(OnePassTest, ACopyThatWentIsWrittenAgainOnlyFromTheSameContent)
{
    const Rewritten contract = rewrittenContract();
    const QString signedPath = path("contrato.slv");
    ASSERT_FALSE(fi::WriteFileBytes(signedPath, contract.signedBytes));
    TemporaryCopy copy(dir_.path());
    const ValidationResult document =
        Verification(trustingIcp()).readFile(signedPath).intoCopy(copy).run();
    ASSERT_TRUE(document.verified());
    EXPECT_EQ(copy.name(), "contrato.txt");

    ASSERT_TRUE(QFile::remove(copy.path()));
    EXPECT_FALSE(copy.present());
    EXPECT_FALSE(restageRefused(document, copy));
    EXPECT_EQ(fi::ReadFileBytes(copy.path()), bytes(contract.content));

    // The signed file now holds another document, signed or not: refused.
    ASSERT_TRUE(QFile::remove(copy.path()));
    fx::MessageSpec other = messageFor({{.cert = icpSigner()}});
    other.content = "outro documento";
    ASSERT_FALSE(fi::WriteFileBytes(signedPath, bytes(fx::makeSignedMessage(other))));
    EXPECT_TRUE(restageRefused(document, copy));
    EXPECT_FALSE(copy.present());
    ASSERT_FALSE(fi::WriteFileBytes(signedPath, contract.rewrittenBytes));
    EXPECT_TRUE(restageRefused(document, copy));
    EXPECT_FALSE(QFile::exists(copy.path()));
}

TEST_F(OnePassTest, RenamingTheCopyKeepsItsBytesAndNeverLeavesItsFolder)
{
    const Rewritten contract = rewrittenContract();
    ASSERT_FALSE(fi::WriteFileBytes(path("contrato.slv"), contract.signedBytes));
    TemporaryCopy copy(dir_.path());
    ASSERT_TRUE(
        Verification(trustingIcp()).readFile(path("contrato.slv")).intoCopy(copy).run().verified());
    const QString folder = QFileInfo(copy.path()).path();

    EXPECT_FALSE(copy.rename("contrato.pdf"));
    EXPECT_EQ(copy.path(), folder + "/contrato.pdf");
    EXPECT_EQ(fi::ReadFileBytes(copy.path()), bytes(contract.content));
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList({"contrato.pdf"}));

    for (const char* refused : {"", "  ", ".", "..", "a/b", "../fora.pdf", "x\tb.pdf"})
        EXPECT_FALSE(typedDocumentName(refused).has_value()) << refused;
    EXPECT_EQ(typedDocumentName("  Contrato.PDF "), "contrato.pdf");
}

LoadOptions summing()
{
    LoadOptions options(trustingIcp());
    options.sumSignedFile = true;
    return options;
}

} // namespace

// The signed file's own sum comes from the verifying read: in every input
// form, with bytes after the message, for a file that fails too, and
// without reading the content a second time.
TEST(SignedFileSumTest, TheSumOfTheWholeFileComesFromTheVerifyingRead)
{
    fx::MessageSpec spec = icpMessage(icpSigner(), "contrato.pdf", std::string(3 << 20, 'c'));
    const fx::Bytes der = fx::makeSignedMessage(spec);
    const std::vector<std::pair<const char*, QByteArray>> files = {
        {"DER", bytes(der)},
        {"DER and bytes after it", bytes(der) + QByteArray("resto depois da mensagem")},
        {"BER", bytes(fx::encodeAs(der, fx::Encoding::BerIndefinite))},
        {"PEM", bytes(fx::encodeAs(der, fx::Encoding::PemCms))},
        {"tampered", bytes(fx::tamperContent(der, spec.content))},
    };
    for (const auto& [what, file] : files) {
        ChangingInput plain(file);
        const ValidationResult unsummed =
            Verification(LoadOptions(trustingIcp())).readInput("contrato.slv", plain).run();
        EXPECT_TRUE(unsummed.signedFileSha256.isEmpty()) << what;
        EXPECT_EQ(unsummed.signedFileSize, -1) << what;

        ChangingInput input(file);
        const ValidationResult document =
            Verification(summing()).readInput("contrato.slv", input).run();
        EXPECT_EQ(document.verified(), std::string(what) != "tampered") << what;
        EXPECT_EQ(document.signedFileSha256, sha256(file)) << what;
        EXPECT_EQ(document.signedFileSize, file.size()) << what;
        // The bytes after a message are read for the sum alone; nothing else twice.
        EXPECT_LE(input.bytesRead - plain.bytesRead, file.size() - qint64(der.size()) + 64 * 1024)
            << what << ": " << input.bytesRead << " read against " << plain.bytesRead;
    }
}

TEST(SignedFileSumTest, ReadsOutOfOrderAreSummedInOrderAndAFailedReadGivesNoSum)
{
    QByteArray file(5 << 20, Qt::Uninitialized);
    for (qsizetype n = 0; n < file.size(); ++n)
        file[n] = static_cast<char>(n * 7 % 251);
    QByteArray buffer(file.size(), Qt::Uninitialized);
    {
        ChangingInput input(file);
        sig::SummingInput summing(input);
        // The end first, then a piece in the middle, the start, a re-read.
        for (const auto& [offset, length] : std::vector<std::pair<qint64, qint64>>{
                 {file.size() - 100, 100}, {2 << 20, 4096}, {0, 1000}, {500, 2000}, {0, 10}})
            ASSERT_EQ(summing.read(offset, buffer.data(), length), length);
        EXPECT_EQ(summing.finish(), sha256(file));
        EXPECT_LT(input.bytesRead, file.size() + 8192) << "no byte is read twice for the sum";
    }
    {
        ChangingInput input(file);
        input.failAt = 3 << 20;
        sig::SummingInput summing(input);
        ASSERT_EQ(summing.read(0, buffer.data(), 1000), 1000);
        EXPECT_TRUE(summing.finish().isEmpty()) << "a file that cannot be read whole has no sum";
    }
}
