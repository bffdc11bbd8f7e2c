#include "fileinfo/FileHandler.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QTemporaryDir>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <future>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>
#include <vector>

namespace fi = selavia::fileinfo;
using fi::FileProperty;

namespace {

class FileHandlerTest : public testing::Test {
protected:
    void SetUp() override
    {
        // The expected texts are the Brazilian ones; CTest sets the locale.
        ASSERT_EQ(QLocale().name(), QStringLiteral("pt_BR")) << "run with LANG=pt_BR.UTF-8";
        ASSERT_TRUE(dir_.isValid());
        // Extension is taken from the whole path, so the folder must be dot-free.
        ASSERT_FALSE(dir_.path().contains(QLatin1Char('.'))) << qPrintable(dir_.path());
    }

    QString path(const QString& name) const { return dir_.filePath(name); }

    QString make(const QString& name, const QByteArray& content = "x") const
    {
        QFile file(path(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly)) << qPrintable(name);
        file.write(content);
        return path(name);
    }

    // Properties with every report collected.
    QString property(const QString& file, int selector)
    {
        return fi::GetFileProperty(file, selector,
                                   [this](const fi::FileError& e) { reports_.push_back(e); });
    }

    QStringList entries() const
    {
        return QDir(dir_.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    }

    static void setTimes(const QString& file, const QDateTime& accessed, const QDateTime& modified)
    {
        const utimbuf times{accessed.toSecsSinceEpoch(), modified.toSecsSinceEpoch()};
        ASSERT_EQ(::utime(QFile::encodeName(file).constData(), &times), 0);
    }

    QTemporaryDir dir_{QDir::tempPath() + QStringLiteral("/fileinfo-XXXXXX")};
    std::vector<fi::FileError> reports_;
};

TEST_F(FileHandlerTest, SizeTextChoosesUnitBeforeRounding)
{
    EXPECT_EQ(fi::SizeText(0), "0 Bytes");
    EXPECT_EQ(fi::SizeText(999), "999 Bytes");
    EXPECT_EQ(fi::SizeText(1000), "1 KB");
    EXPECT_EQ(fi::SizeText(1001), "1 KB");
    EXPECT_EQ(fi::SizeText(1100), "1,1 KB");
    EXPECT_EQ(fi::SizeText(1500), "1,5 KB");
    EXPECT_EQ(fi::SizeText(999999), "1000 KB");
    EXPECT_EQ(fi::SizeText(1000000), "1 MB");
    EXPECT_EQ(fi::SizeText(1234567), "1,23 MB");
    EXPECT_EQ(fi::SizeText(999999999), "1000 MB");
    EXPECT_EQ(fi::SizeText(1000000000), "1 GB");
    EXPECT_EQ(fi::SizeText(12345678901), "12,35 GB");
    EXPECT_EQ(fi::SizeText(1234567890123), "1234,57 GB"); // no group separator
    EXPECT_EQ(fi::SizeText(-1), "");
}

TEST_F(FileHandlerTest, SizeTextRoundsHalvesToEven)
{
    // 1.125 and 1.375 are exact in binary, so these are true ties.
    EXPECT_EQ(fi::SizeText(1125), "1,12 KB");
    EXPECT_EQ(fi::SizeText(1375), "1,38 KB");
    // 1.135 is stored slightly above the half.
    EXPECT_EQ(fi::SizeText(1135), "1,14 KB");
}

TEST_F(FileHandlerTest, SizeOfARealFile)
{
    const QString file = make(QStringLiteral("medio.bin"), QByteArray(1500, 'a'));
    EXPECT_EQ(property(file, 0), "1500");
    EXPECT_EQ(fi::GetFileProperty(file, FileProperty::SizeText), "1,5 KB");
    EXPECT_EQ(property(make(QStringLiteral("vazio"), QByteArray()), 0), "0");
    EXPECT_TRUE(reports_.empty());
}

TEST_F(FileHandlerTest, NamePieces)
{
    const QString dotted = make(QStringLiteral("relatorio.final.pdf"));
    EXPECT_EQ(property(dotted, 1), "relatorio.final.pdf");
    EXPECT_EQ(property(dotted, 2), "relatorio");
    EXPECT_EQ(property(dotted, 3), "pdf");

    const QString upper = make(QStringLiteral("B.SLV"));
    EXPECT_EQ(property(upper, 1), "B.SLV");
    EXPECT_EQ(property(upper, 2), "B");
    EXPECT_EQ(property(upper, 3), "SLV");

    const QString hidden = make(QStringLiteral(".bashrc"));
    EXPECT_EQ(property(hidden, 2), "");
    EXPECT_EQ(property(hidden, 3), "bashrc");

    // The extension comes from the path text: the folder's dot counts, and a
    // path without any dot is returned whole.
    ASSERT_TRUE(QDir(dir_.path()).mkdir(QStringLiteral("docs.old")));
    EXPECT_EQ(property(make(QStringLiteral("docs.old/LEIAME")), 3), "old/LEIAME");
    const QString plain = make(QStringLiteral("LEIAME"));
    EXPECT_EQ(property(plain, 3), plain);
    EXPECT_EQ(property(plain, 6), dir_.path());
    EXPECT_TRUE(reports_.empty());
}

TEST_F(FileHandlerTest, AttributeWords)
{
    const QString normal = make(QStringLiteral("normal.txt"));
    const QString readOnly = make(QStringLiteral("leitura.txt"));
    const QString hidden = make(QStringLiteral(".oculto"));
    const QString both = make(QStringLiteral(".oculto-leitura"));
    ASSERT_EQ(::chmod(QFile::encodeName(readOnly).constData(), 0444), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(both).constData(), 0444), 0);
    ASSERT_TRUE(QFile::link(normal, path(QStringLiteral("atalho"))));

    EXPECT_EQ(property(normal, 7), "Arquivo Normal");
    EXPECT_EQ(property(readOnly, 7), "Somente Leitura");
    EXPECT_EQ(property(hidden, 7), "Arquivo Oculto");
    EXPECT_EQ(property(both, 7), ""); // 3 has no row of its own
    EXPECT_EQ(property(path(QStringLiteral("atalho")), 7), "Atalho ou Link");
    EXPECT_TRUE(reports_.empty());
}

TEST_F(FileHandlerTest, MissingFileReportsForEverySelector)
{
    const QString missing = path(QStringLiteral("sumiu.pdf"));
    for (int selector : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, -1}) {
        reports_.clear();
        EXPECT_EQ(property(missing, selector), "") << selector;
        ASSERT_EQ(reports_.size(), 1u) << selector;
        EXPECT_EQ(reports_[0].number, 53);
        EXPECT_EQ(reports_[0].text(), "53 - Arquivo não encontrado");
    }
    EXPECT_EQ(fi::GetFileProperty(missing, FileProperty::Extension), ""); // no reporter set
}

TEST_F(FileHandlerTest, FileIsLookedUpOnEveryCall)
{
    const QString file = make(QStringLiteral("temporario.pdf"));
    EXPECT_EQ(property(file, 3), "pdf");
    ASSERT_TRUE(QFile::remove(file));
    EXPECT_EQ(property(file, 3), "");
    ASSERT_EQ(reports_.size(), 1u);
    EXPECT_EQ(reports_[0].number, 53);
}

TEST_F(FileHandlerTest, OtherFailuresAndSelectors)
{
    EXPECT_EQ(property(dir_.path(), 1), "");
    ASSERT_EQ(reports_.size(), 1u);
    EXPECT_EQ(reports_[0].number, 53); // a folder is not a file

    reports_.clear();
    ASSERT_TRUE(QFile::link(path(QStringLiteral("laco")), path(QStringLiteral("laco"))));
    EXPECT_EQ(property(path(QStringLiteral("laco")), 0), "");
    ASSERT_EQ(reports_.size(), 1u);
    EXPECT_EQ(reports_[0].number, 75);
    EXPECT_EQ(reports_[0].description, "Erro de acesso ao caminho/arquivo");

    reports_.clear();
    const QString file = make(QStringLiteral("existe.txt"));
    EXPECT_EQ(property(file, 11), "");
    EXPECT_EQ(property(file, -1), "");
    EXPECT_TRUE(reports_.empty());
}

TEST_F(FileHandlerTest, TypeNameInUserLanguage)
{
    EXPECT_EQ(property(make(QStringLiteral("doc.pdf"), "%PDF-1.4\n%\xe2\xe3\xcf\xd3\n"), 5),
              "Documento PDF");
    EXPECT_EQ(
        property(make(QStringLiteral("dados"), QByteArray("\x00\x01\x02\xff\xfe\x00\x9c", 7)), 5),
        "Desconhecido");
}

TEST_F(FileHandlerTest, DatesInGeneralForm)
{
    const QString file = make(QStringLiteral("datas.txt"));
    const QDateTime modified(QDate(2026, 12, 6), QTime(18, 5, 9));
    setTimes(file, QDateTime(QDate(2025, 1, 2), QTime(3, 4, 5)), modified);
    EXPECT_EQ(property(file, 10), "06/12/2026 18:05:09");
    EXPECT_EQ(property(file, 9), "02/01/2025 03:04:05");

    // Without a recorded birth time the creation date falls back to the
    // modification time; with one it is the moment the file was just made.
    const QString created = property(file, 8);
    if (QFileInfo(file).birthTime().isValid()) {
        const QDateTime parsed =
            QLocale().toDateTime(created, QStringLiteral("dd/MM/yyyy HH:mm:ss"));
        ASSERT_TRUE(parsed.isValid()) << qPrintable(created);
        EXPECT_LT(std::abs(parsed.secsTo(QDateTime::currentDateTime())), 120)
            << qPrintable(created);
    } else {
        EXPECT_EQ(created, "06/12/2026 18:05:09");
    }

    setTimes(file, modified, QDateTime(QDate(2026, 12, 6), QTime(0, 0)));
    EXPECT_EQ(property(file, 10), "06/12/2026");
    EXPECT_TRUE(reports_.empty());
}

TEST_F(FileHandlerTest, GeneralDateTextUsesLocalTime)
{
    // São Paulo is three hours behind UTC, without summer time since 2019.
    EXPECT_EQ(fi::GeneralDateText(QDateTime(QDate(2026, 12, 6), QTime(21, 5, 9), Qt::UTC)),
              "06/12/2026 18:05:09");
    EXPECT_EQ(fi::GeneralDateText(QDateTime(QDate(2026, 12, 6), QTime(3, 0), Qt::UTC)),
              "06/12/2026");
    EXPECT_EQ(fi::GeneralDateText(QDateTime(QDate(2026, 1, 9), QTime(0, 0, 1))),
              "09/01/2026 00:00:01");
    EXPECT_EQ(fi::GeneralDateText(QDateTime()), "");
}

TEST_F(FileHandlerTest, ReadFileBytesTakesRegularFilesOnly)
{
    const QByteArray three("\x00\xff\n", 3);
    EXPECT_EQ(fi::ReadFileBytes(make(QStringLiteral("tres"), three)), three);
    QByteArray large(3 * 1024 * 1024 + 17, '\0');
    for (qsizetype i = 0; i < large.size(); ++i) {
        large[i] = char(i * 7 % 251);
    }
    EXPECT_EQ(fi::ReadFileBytes(make(QStringLiteral("grande"), large)), large);
    EXPECT_TRUE(fi::ReadFileBytes(path(QStringLiteral("sumiu"))).isEmpty());
    EXPECT_TRUE(fi::ReadFileBytes(dir_.path()).isEmpty());
    EXPECT_TRUE(fi::ReadFileBytes(QStringLiteral("/dev/zero")).isEmpty());

    const QString fifo = path(QStringLiteral("fila"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    auto read = std::async(std::launch::async, [&] { return fi::ReadFileBytes(fifo); });
    if (read.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
        // Let the blocked reader see an end of file so the test can finish.
        ::close(::open(QFile::encodeName(fifo).constData(), O_WRONLY | O_NONBLOCK));
        FAIL() << "ReadFileBytes blocked on a FIFO";
    }
    EXPECT_TRUE(read.get().isEmpty());
}

TEST_F(FileHandlerTest, WriteFileBytesReplacesWholeContent)
{
    const QString file = make(QStringLiteral("alvo.txt"), QByteArray(5000, 'v'));
    ASSERT_EQ(::chmod(QFile::encodeName(file).constData(), 0640), 0);
    EXPECT_FALSE(fi::WriteFileBytes(file, "novo").has_value());
    EXPECT_EQ(fi::ReadFileBytes(file), "novo");
    EXPECT_EQ(QFileInfo(file).size(), 4);
    EXPECT_EQ(QFile::permissions(file), QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser |
                                            QFile::WriteUser | QFile::ReadGroup);

    const QString script = make(QStringLiteral("script.sh"));
    ASSERT_EQ(::chmod(QFile::encodeName(script).constData(), 0775), 0);
    EXPECT_FALSE(fi::WriteFileBytes(script, "y").has_value());
    struct stat info {};
    ASSERT_EQ(::stat(QFile::encodeName(script).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0664u);

    const mode_t previous = ::umask(022);
    const QString fresh = path(QStringLiteral("novo.bin"));
    const auto failure = fi::WriteFileBytes(fresh, QByteArray());
    ::umask(previous);
    EXPECT_FALSE(failure.has_value());
    ASSERT_EQ(::stat(QFile::encodeName(fresh).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0644u);
    EXPECT_EQ(info.st_size, 0);

    const QStringList expected{QStringLiteral("alvo.txt"), QStringLiteral("novo.bin"),
                               QStringLiteral("script.sh")};
    EXPECT_EQ(entries(), expected); // no temporary left behind
}

TEST_F(FileHandlerTest, WriteFileBytesFailures)
{
    const auto missingFolder = fi::WriteFileBytes(path(QStringLiteral("nada/x.txt")), "a");
    ASSERT_TRUE(missingFolder.has_value());
    EXPECT_EQ(missingFolder->text(), "76 - Caminho não encontrado");

    const QString file = make(QStringLiteral("arquivo"), "original");
    const auto underFile = fi::WriteFileBytes(file + QStringLiteral("/x.txt"), "a");
    ASSERT_TRUE(underFile.has_value());
    EXPECT_EQ(underFile->number, 76);

    ASSERT_TRUE(QDir(dir_.path()).mkdir(QStringLiteral("pasta")));
    const auto onFolder = fi::WriteFileBytes(path(QStringLiteral("pasta")), "a");
    ASSERT_TRUE(onFolder.has_value());
    EXPECT_EQ(onFolder->number, 75);
    EXPECT_TRUE(QFileInfo(path(QStringLiteral("pasta"))).isDir());

    // A file size limit makes the write itself fail, even for root: the
    // existing target must keep its content and the temporary must go.
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 1024;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const auto tooBig = fi::WriteFileBytes(file, QByteArray(4096, 'z'));
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    ASSERT_TRUE(tooBig.has_value());
    EXPECT_EQ(tooBig->number, 75);
    EXPECT_EQ(fi::ReadFileBytes(file), "original");
    EXPECT_EQ(entries(), QStringList({QStringLiteral("arquivo"), QStringLiteral("pasta")}));
}

TEST_F(FileHandlerTest, WriteFileBytesIntoReadOnlyFolder)
{
    if (::geteuid() == 0) {
        GTEST_SKIP() << "root ignores folder permissions; this case needs an ordinary user";
    }
    ASSERT_TRUE(QDir(dir_.path()).mkdir(QStringLiteral("pasta")));
    const QByteArray folder = QFile::encodeName(path(QStringLiteral("pasta")));
    ASSERT_EQ(::chmod(folder.constData(), 0555), 0);
    const auto denied = fi::WriteFileBytes(path(QStringLiteral("pasta/x.txt")), "a");
    ::chmod(folder.constData(), 0755);
    ASSERT_TRUE(denied.has_value());
    EXPECT_EQ(denied->text(), "70 - Permissão negada");
}

TEST_F(FileHandlerTest, FileExistsOnlyForFiles)
{
    const QString file = make(QStringLiteral("a.txt"));
    ASSERT_TRUE(QFile::link(file, path(QStringLiteral("link"))));
    ASSERT_TRUE(QFile::link(path(QStringLiteral("nada")), path(QStringLiteral("quebrado"))));
    EXPECT_TRUE(fi::FileExists(file));
    EXPECT_TRUE(fi::FileExists(path(QStringLiteral("link"))));
    EXPECT_FALSE(fi::FileExists(path(QStringLiteral("quebrado"))));
    EXPECT_FALSE(fi::FileExists(dir_.path()));
    EXPECT_FALSE(fi::FileExists(path(QStringLiteral("nada"))));
    EXPECT_FALSE(fi::FileExists(QString()));
}

TEST_F(FileHandlerTest, GetLongPath)
{
    QDir root(dir_.path());
    ASSERT_TRUE(root.mkpath(QStringLiteral("sub/fundo")));
    ASSERT_TRUE(root.mkdir(QStringLiteral("Sub")));
    const QString file = make(QStringLiteral("sub/f.txt"));
    ASSERT_TRUE(QFile::link(path(QStringLiteral("sub/fundo")), path(QStringLiteral("atalho"))));

    EXPECT_EQ(fi::GetLongPath(QString()), "");
    EXPECT_EQ(fi::GetLongPath(QStringLiteral("/")), "/");
    EXPECT_EQ(fi::GetLongPath(file), file);
    EXPECT_EQ(fi::GetLongPath(path(QStringLiteral("sub/"))), path(QStringLiteral("sub")));
    EXPECT_EQ(fi::GetLongPath(path(QStringLiteral("Sub"))), path(QStringLiteral("Sub")));
    EXPECT_EQ(fi::GetLongPath(path(QStringLiteral("sub//./fundo/../f.txt"))), file);
    // ".." is taken by text: the link's parent, not its target's.
    EXPECT_EQ(fi::GetLongPath(path(QStringLiteral("atalho/.."))), dir_.path());
    EXPECT_EQ(fi::GetLongPath(path(QStringLiteral("sub/nada.txt"))), "");
    EXPECT_EQ(fi::GetLongPath(path(QStringLiteral("nada/../sub"))), "");
    EXPECT_EQ(fi::GetLongPath(path(QStringLiteral("sub/f.txt/.."))), "");

    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(path(QStringLiteral("sub"))));
    const QString relative = fi::GetLongPath(QStringLiteral("fundo/../f.txt"));
    const QString location = fi::GetFileProperty(QStringLiteral("f.txt"), FileProperty::Location);
    QDir::setCurrent(previous);
    EXPECT_EQ(relative, file);
    EXPECT_EQ(location, path(QStringLiteral("sub")));
}

} // namespace

TEST_F(FileHandlerTest, CopyFileRangesWritesExactlyTheRangesOrNothing)
{
    QByteArray source(3 * 1024 * 1024 + 5, '\0');
    for (qsizetype i = 0; i < source.size(); ++i)
        source[i] = static_cast<char>(i * 7 % 251);
    make("origem.slv", source);
    std::optional<fi::RegularFile> file = fi::RegularFile::open(path("origem.slv"));
    ASSERT_TRUE(file.has_value());
    EXPECT_EQ(file->size(), source.size());

    const qint64 offset = 1000;
    const qint64 length = source.size() - 2000;
    make("destino.pdf", "anterior e mais longo do que nada");
    EXPECT_FALSE(fi::CopyFileRanges(path("destino.pdf"), file->descriptor(),
                                    {{offset, length}, {0, 3}, {offset, 0}}));
    EXPECT_EQ(fi::ReadFileBytes(path("destino.pdf")), source.mid(offset, length) + source.left(3));

    // A range past the end of the source fails and leaves the target as it was.
    const auto failure = fi::CopyFileRanges(path("destino.pdf"), file->descriptor(),
                                            {{0, 5}, {source.size() - 10, 100}});
    EXPECT_TRUE(failure.has_value());
    EXPECT_EQ(fi::ReadFileBytes(path("destino.pdf")), source.mid(offset, length) + source.left(3));
    EXPECT_EQ(entries(), QStringList({"destino.pdf", "origem.slv"}));

    EXPECT_TRUE(fi::CopyFileRanges(path("falta/x.pdf"), file->descriptor(), {{0, 10}}).has_value());
    EXPECT_FALSE(fi::RegularFile::open(dir_.path()).has_value());
}
