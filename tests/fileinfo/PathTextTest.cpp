#include "fileinfo/PathText.h"

#include "fileinfo/FileHandler.h"
#include "fileinfo/StagedFile.h"
#include "tests/support/RawNames.h"

#include <QTemporaryDir>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <set>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace fi = selavia::fileinfo;

namespace {

QString escapedByte(int byte)
{
    return QString(QChar(static_cast<char16_t>(0xDC00 + byte)));
}

// Bytes → text → bytes gives the bytes back, and the text is the expected
// one: valid UTF-8 as its characters, every other byte escaped alone.
TEST(PathTextTest, DecodingKeepsEveryByteAndEncodingGivesThemBack)
{
    struct Case {
        const char* what;
        QByteArray bytes;
        QString text;
    };
    const std::vector<Case> cases = {
        {"ascii", "contrato.slv", "contrato.slv"},
        {"utf-8", "caf\xC3\xA9.slv", QString::fromUtf8("café.slv")},
        {"latin-1 byte", "caf\xE9.slv", "caf" + escapedByte(0xE9) + ".slv"},
        {"four-byte character", "\xF0\x9F\x93\x84", QString::fromUtf8("\xF0\x9F\x93\x84")},
        {"overlong slash",
         "a\xC0\xAF"
         "b",
         "a" + escapedByte(0xC0) + escapedByte(0xAF) + "b"},
        {"encoded surrogate", "\xED\xB3\xA9",
         escapedByte(0xED) + escapedByte(0xB3) + escapedByte(0xA9)},
        {"past U+10FFFF", "\xF4\x90\x80\x80",
         escapedByte(0xF4) + escapedByte(0x90) + escapedByte(0x80) + escapedByte(0x80)},
        {"truncated at the end", "x\xE2\x82", "x" + escapedByte(0xE2) + escapedByte(0x82)},
        {"lone continuation", "\x80z", escapedByte(0x80) + "z"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const QString text = fi::decodePath(c.bytes);
        EXPECT_EQ(text, c.text);
        EXPECT_EQ(fi::encodePath(text), c.bytes);
    }
}

TEST(PathTextTest, PrintedNamesCannotStartOrReorderALine)
{
    struct Case {
        QString text;
        QString printable;
        QString json;
    };
    const std::vector<Case> cases = {
        {"x\nResultado: Aprovado\n.slv", "x\\x0AResultado: Aprovado\\x0A.slv",
         "x\nResultado: Aprovado\n.slv"},
        {"a\rb\tc\x1b[2J", "a\\x0Db\\x09c\\x1B[2J", "a\rb\tc\x1b[2J"},
        {QString("del") + QChar(0x7F) + QChar(0x85) + QChar(0x9F), "del\\x7F\\x85\\x9F",
         QString("del") + QChar(0x7F) + QChar(0x85) + QChar(0x9F)},
        {QString("AC ") + QChar(0x202E) + "lanoicaN", "AC \\u202ElanoicaN",
         QString("AC ") + QChar(0x202E) + "lanoicaN"},
        {QString::fromUtf8("Ação Válida ✓"), QString::fromUtf8("Ação Válida ✓"),
         QString::fromUtf8("Ação Válida ✓")},
        {"caf" + escapedByte(0xE9) + ".slv", "caf\\xE9.slv", "caf\\xE9.slv"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.printable.toStdString());
        EXPECT_EQ(fi::printableText(c.text), c.printable);
        EXPECT_EQ(fi::withBytesEscaped(c.text), c.json);
    }
}

class RawNameTest : public testing::Test {
protected:
    ~RawNameTest() override { selavia::testing::removeRaw(dir_.path()); }
    QString named(const QByteArray& name) const
    {
        return selavia::testing::rawPath(dir_.path(), name);
    }
    std::set<std::string> entries(const QByteArray& folder = {}) const
    {
        return selavia::testing::rawEntries(folder.isEmpty() ? dir_.path() : named(folder));
    }
    QTemporaryDir dir_;
};

// Every way fileinfo reaches the system finds a file by its very bytes.
TEST_F(RawNameTest, FilesWhoseNamesAreNotUtf8AreReadWrittenAndMade)
{
    const QByteArray name = "caf\xE9.slv";
    const QByteArray raw = fi::encodePath(named(name));
    const int fd = ::open(raw.constData(), O_WRONLY | O_CREAT | O_EXCL, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, "conteudo", 8), 8);
    ::close(fd);

    EXPECT_TRUE(fi::FileExists(named(name)));
    EXPECT_TRUE(fi::EntryMayExist(named(name)));
    EXPECT_FALSE(fi::EntryMayExist(named("caf?.slv")));
    EXPECT_TRUE(fi::RegularFile::open(named(name)).has_value());
    EXPECT_EQ(fi::ReadFileBytes(named(name)), QByteArray("conteudo"));

    const QByteArray copy = "c\xF3pia\xFF.pdf";
    EXPECT_EQ(fi::WriteFileBytes(named(copy), "novo"), std::nullopt);
    EXPECT_EQ(fi::ReadFileBytes(named(copy)), QByteArray("novo"));

    const QByteArray folder = "pasta\xE7/sub\xE3o";
    ASSERT_TRUE(fi::MakeFolders(named(folder)));
    auto staged = fi::StagedFile::createIn(named(folder));
    ASSERT_TRUE(std::holds_alternative<fi::StagedFile>(staged));
    EXPECT_EQ(
        std::get<fi::StagedFile>(staged).commit(named(folder + "/doc\xE9.pdf"), fi::Replace::Never),
        std::nullopt);

    EXPECT_EQ(entries(),
              (std::set<std::string>{name.toStdString(), copy.toStdString(), "pasta\xE7"}));
    EXPECT_EQ(entries(folder), std::set<std::string>{"doc\xE9.pdf"});
    EXPECT_FALSE(fi::MakeFolders(named(name + "/dentro"))) << "a file is in the way";
}

} // namespace
