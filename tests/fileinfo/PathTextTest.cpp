#include "fileinfo/PathText.h"

#include "fileinfo/FileHandler.h"
#include "fileinfo/StagedFile.h"
#include "tests/support/RawNames.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <set>
#include <string>
#include <vector>

namespace fi = selavia::fileinfo;
using namespace selavia::testing;

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

// For the terminal, controls and direction marks are escaped as well as
// bytes; JSON escapes its controls itself, so only the bytes.
TEST(PathTextTest, PrintedNamesCannotStartOrReorderALine)
{
    const QString del = QString("del") + QChar(0x7F) + QChar(0x85) + QChar(0x9F);
    const QString reversed = QString("AC ") + QChar(0x202E) + "lanoicaN";
    const QString accented = QString::fromUtf8("Ação Válida ✓");
    struct Case {
        QString text;
        QString printable;
        QString json = {}; // null: the text as it is
    };
    const std::vector<Case> cases = {
        {"x\nResultado: Aprovado\n.slv", "x\\x0AResultado: Aprovado\\x0A.slv"},
        {"a\rb\tc\x1b[2J", "a\\x0Db\\x09c\\x1B[2J"},
        {del, "del\\x7F\\x85\\x9F"},
        {reversed, "AC \\u202ElanoicaN"},
        {accented, accented},
        {"caf" + escapedByte(0xE9) + ".slv", "caf\\xE9.slv", "caf\\xE9.slv"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.printable.toStdString());
        EXPECT_EQ(fi::printableText(c.text), c.printable);
        EXPECT_EQ(fi::withBytesEscaped(c.text), c.json.isNull() ? c.text : c.json);
    }
}

// Every way fileinfo reaches the system finds a file by its very bytes.
// (The command's tests cover reading, extracting and reporting under such
// names; here what they do not reach.)
TEST(RawNameTest, FilesWhoseNamesAreNotUtf8AreWrittenFoundAndMade)
{
    QTemporaryDir dir;
    const auto named = [&dir](const QByteArray& name) { return rawPath(dir.path(), name); };
    const QString file = named("caf\xE9.slv");
    EXPECT_EQ(fi::WriteFileBytes(file, "conteudo"), std::nullopt);
    EXPECT_EQ(fi::ReadFileBytes(file), QByteArray("conteudo"));
    EXPECT_TRUE(fi::FileExists(file));
    EXPECT_TRUE(fi::EntryMayExist(file));
    EXPECT_FALSE(fi::EntryMayExist(named("caf?.slv")));
    EXPECT_FALSE(fi::MakeFolders(file)) << "a file is in the way";
    EXPECT_FALSE(fi::MakeFolders(file + "/dentro"));
    EXPECT_TRUE(fi::MakeFolders(named("pasta\xE7/sub\xE3o")));
    EXPECT_EQ(rawEntries(dir.path()), (std::set<std::string>{"caf\xE9.slv", "pasta\xE7"}));
    EXPECT_EQ(rawEntries(named("pasta\xE7")), std::set<std::string>{"sub\xE3o"});
    removeRaw(dir.path());
}

} // namespace
