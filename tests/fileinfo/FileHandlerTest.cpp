#include "fileinfo/FileHandler.h"

#include "fileinfo/StagedFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QMimeDatabase>
#include <QTemporaryDir>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <future>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <tuple>
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
        ASSERT_EQ(QLocale().name(), "pt_BR") << "run with LANG=pt_BR.UTF-8";
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

    // The one report since the last, of this number.
    void expectReported(int number)
    {
        ASSERT_EQ(reports_.size(), 1u);
        EXPECT_EQ(reports_[0].number, number);
        reports_.clear();
    }

    QStringList entries() const
    {
        return QDir(dir_.path())
            .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    }

    // What `write` gives under a file size limit, which makes writes fail
    // even for root.
    template <typename Write> static auto underSizeLimit(rlim_t limit, Write write)
    {
        rlimit saved{};
        EXPECT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit small = saved;
        small.rlim_cur = limit;
        EXPECT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
        auto result = write();
        ::setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, oldHandler);
        return result;
    }

    static void setTimes(const QString& file, const QDateTime& accessed, const QDateTime& modified)
    {
        const utimbuf times{accessed.toSecsSinceEpoch(), modified.toSecsSinceEpoch()};
        ASSERT_EQ(::utime(QFile::encodeName(file).constData(), &times), 0);
    }

    QTemporaryDir dir_{QDir::tempPath() + "/fileinfo-XXXXXX"};
    std::vector<fi::FileError> reports_;
};

TEST_F(FileHandlerTest, SizeTextChoosesUnitBeforeRoundingHalvesToEven)
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
    // Halves round to even: 1.125 and 1.375 are exact in binary, true ties;
    // 1.135 is stored slightly above the half.
    EXPECT_EQ(fi::SizeText(1125), "1,12 KB");
    EXPECT_EQ(fi::SizeText(1375), "1,38 KB");
    EXPECT_EQ(fi::SizeText(1135), "1,14 KB");
}

TEST_F(FileHandlerTest, SizeOfARealFile)
{
    const QString file = make("medio.bin", QByteArray(1500, 'a'));
    EXPECT_EQ(property(file, 0), "1500");
    EXPECT_EQ(fi::GetFileProperty(file, FileProperty::SizeText), "1,5 KB");
    EXPECT_EQ(property(make("vazio", QByteArray()), 0), "0");
    EXPECT_TRUE(reports_.empty());
}

TEST_F(FileHandlerTest, NamePieces)
{
    for (const auto& [name, base, extension] :
         {std::tuple{"relatorio.final.pdf", "relatorio", "pdf"},
          {"B.SLV", "B", "SLV"},
          {".bashrc", "", "bashrc"}}) {
        const QString file = make(name);
        EXPECT_EQ(property(file, 1), name);
        EXPECT_EQ(property(file, 2), base) << name;
        EXPECT_EQ(property(file, 3), extension) << name;
    }

    // The extension comes from the path text: the folder's dot counts, and a
    // path without any dot is returned whole.
    ASSERT_TRUE(QDir(dir_.path()).mkdir("docs.old"));
    EXPECT_EQ(property(make("docs.old/LEIAME"), 3), "old/LEIAME");
    const QString plain = make("LEIAME");
    EXPECT_EQ(property(plain, 3), plain);
    EXPECT_EQ(property(plain, 6), dir_.path());
    EXPECT_TRUE(reports_.empty());
}

TEST_F(FileHandlerTest, AttributeWords)
{
    const QString normal = make("normal.txt");
    const QString readOnly = make("leitura.txt");
    const QString hidden = make(".oculto");
    const QString both = make(".oculto-leitura");
    ASSERT_EQ(::chmod(QFile::encodeName(readOnly).constData(), 0444), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(both).constData(), 0444), 0);
    ASSERT_TRUE(QFile::link(normal, path("atalho")));

    EXPECT_EQ(property(normal, 7), "Arquivo Normal");
    EXPECT_EQ(property(readOnly, 7), "Somente Leitura");
    EXPECT_EQ(property(hidden, 7), "Arquivo Oculto");
    EXPECT_EQ(property(both, 7), ""); // 3 has no row of its own
    EXPECT_EQ(property(path("atalho"), 7), "Atalho ou Link");
    EXPECT_TRUE(reports_.empty());
}

TEST_F(FileHandlerTest, MissingFileReportsForEverySelector)
{
    const QString missing = path("sumiu.pdf");
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
    const QString file = make("temporario.pdf");
    EXPECT_EQ(property(file, 3), "pdf");
    ASSERT_TRUE(QFile::remove(file));
    EXPECT_EQ(property(file, 3), "");
    expectReported(53);
}

TEST_F(FileHandlerTest, OtherFailuresAndSelectors)
{
    EXPECT_EQ(property(dir_.path(), 1), "");
    expectReported(53); // a folder is not a file

    ASSERT_TRUE(QFile::link(path("laco"), path("laco")));
    EXPECT_EQ(property(path("laco"), 0), "");
    ASSERT_EQ(reports_.size(), 1u);
    EXPECT_EQ(reports_[0].description, "Erro de acesso ao caminho/arquivo");
    expectReported(75);

    const QString file = make("existe.txt");
    EXPECT_EQ(property(file, 11), "");
    EXPECT_EQ(property(file, -1), "");
    EXPECT_TRUE(reports_.empty());
}

TEST_F(FileHandlerTest, TypeNameInUserLanguage)
{
    EXPECT_EQ(property(make("doc.pdf", "%PDF-1.4\n%\xe2\xe3\xcf\xd3\n"), 5), "Documento PDF");
    EXPECT_EQ(property(make("dados", QByteArray("\x00\x01\x02\xff\xfe\x00\x9c", 7)), 5),
              "Desconhecido");
}

TEST_F(FileHandlerTest, TheSignedFileIsNamedByItsNameFirstTheDocumentByItsContent)
{
    const QByteArray pdf("%PDF-1.4\n%\xe2\xe3\xcf\xd3\n");
    const QMimeDatabase database;
    const QString signature = database.mimeTypeForName("application/pkcs7-signature").comment();
    const QString message = database.mimeTypeForName("application/pkcs7-mime").comment();
    ASSERT_FALSE(signature.isEmpty());
    ASSERT_FALSE(message.isEmpty());
    // File name, content, the signed file's type, the same file's type as a document's.
    const std::vector<std::tuple<QString, QByteArray, QString, QString>> rows = {
        {"contrato.slv", pdf, "Documento Assinado Selavia", "Documento PDF"},
        {"CONTRATO.SLV", pdf, "Documento Assinado Selavia", "Documento PDF"},
        {"anexo.pdf.slv", QByteArray("\x30\x80\x06\x09", 4), "Documento Assinado Selavia",
         "Desconhecido"},
        {"contrato.p7s", pdf, signature, signature},
        {"contrato.p7m", pdf, message, message},
        {"contrato.pdf", pdf, "Documento PDF", "Documento PDF"},
        // A name that says nothing leaves the content to say it.
        {"contrato", pdf, "Documento PDF", "Documento PDF"},
        {"contrato.xyzzy", pdf, "Documento PDF", "Documento PDF"},
    };
    for (const auto& [name, content, signedType, documentType] : rows) {
        SCOPED_TRACE(name.toStdString());
        const QString file = make(name, content);
        EXPECT_EQ(fi::GetSignedFileProperty(file, FileProperty::TypeName), signedType);
        EXPECT_EQ(property(file, 5), documentType);
        // The other rows are the plain properties.
        EXPECT_EQ(fi::GetSignedFileProperty(file, FileProperty::FileName), name);
        EXPECT_EQ(fi::GetSignedFileProperty(file, FileProperty::SizeText),
                  property(file, int(FileProperty::SizeText)));
        QFile::remove(file);
    }

    // A missing signed file is reported as any other.
    int reported = 0;
    EXPECT_EQ(fi::GetSignedFileProperty(path("sumiu.slv"), FileProperty::TypeName,
                                        [&](const fi::FileError&) { ++reported; }),
              "");
    EXPECT_EQ(reported, 1);
    EXPECT_TRUE(reports_.empty());
}

TEST_F(FileHandlerTest, TypeOfANameAlone)
{
    EXPECT_EQ(fi::TypeNameOfName("contrato.pdf"), "Documento PDF");
    EXPECT_EQ(fi::TypeNameOfName("Contrato.PDF"), "Documento PDF");
    EXPECT_EQ(fi::TypeNameOfName("contrato"), "Desconhecido");
    EXPECT_EQ(fi::TypeNameOfName("contrato.xyzzy"), "Desconhecido");
    EXPECT_EQ(fi::TypeNameOfName("contrato.slv"), "Documento Assinado Selavia");
    EXPECT_EQ(fi::TypeNameByName("contrato.slv"), "Documento Assinado Selavia");
    EXPECT_EQ(fi::TypeNameByName("contrato.pdf"), "Documento PDF");
    EXPECT_EQ(fi::TypeNameByName("contrato"), "");
}

TEST_F(FileHandlerTest, DatesInGeneralForm)
{
    const QString file = make("datas.txt");
    const QDateTime modified(QDate(2026, 12, 6), QTime(18, 5, 9));
    setTimes(file, QDateTime(QDate(2025, 1, 2), QTime(3, 4, 5)), modified);
    EXPECT_EQ(property(file, 10), "06/12/2026 18:05:09");
    EXPECT_EQ(property(file, 9), "02/01/2025 03:04:05");

    // Without a recorded birth time the creation date falls back to the
    // modification time; with one it is the moment the file was just made.
    const QString created = property(file, 8);
    if (QFileInfo(file).birthTime().isValid()) {
        const QDateTime parsed = QLocale().toDateTime(created, "dd/MM/yyyy HH:mm:ss");
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

TEST_F(FileHandlerTest, ZonedDateTextSaysItsOffset)
{
    // The moment, the offset São Paulo had then, the zoned text: summer time
    // (UTC-2) still ran in January 2018; a midnight keeps its time.
    const std::vector<std::tuple<QDateTime, QString, QString>> rows = {
        {QDateTime(QDate(2026, 12, 6), QTime(21, 5, 9), Qt::UTC), "-03:00",
         "06/12/2026 18:05:09 -03:00"},
        {QDateTime(QDate(2018, 1, 15), QTime(12, 0), Qt::UTC), "-02:00",
         "15/01/2018 10:00:00 -02:00"},
        {QDateTime(QDate(2026, 12, 6), QTime(3, 0), Qt::UTC), "-03:00",
         "06/12/2026 00:00:00 -03:00"},
    };
    for (const auto& [moment, offset, zoned] : rows) {
        SCOPED_TRACE(zoned.toStdString());
        EXPECT_EQ(fi::UtcOffsetText(moment), offset);
        EXPECT_EQ(fi::ZonedDateText(moment), zoned);
    }
    EXPECT_EQ(fi::ZonedDateText(QDateTime()), "");
}

TEST_F(FileHandlerTest, ReadFileBytesTakesRegularFilesOnly)
{
    const QByteArray three("\x00\xff\n", 3);
    EXPECT_EQ(fi::ReadFileBytes(make("tres", three)), three);
    QByteArray large(3 * 1024 * 1024 + 17, '\0');
    for (qsizetype i = 0; i < large.size(); ++i) {
        large[i] = char(i * 7 % 251);
    }
    EXPECT_EQ(fi::ReadFileBytes(make("grande", large)), large);
    EXPECT_TRUE(fi::ReadFileBytes(path("sumiu")).isEmpty());
    EXPECT_TRUE(fi::ReadFileBytes(dir_.path()).isEmpty());
    EXPECT_TRUE(fi::ReadFileBytes("/dev/zero").isEmpty());

    const QString fifo = path("fila");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    auto read = std::async(std::launch::async, [&] { return fi::ReadFileBytes(fifo); });
    if (read.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
        // Let the blocked reader see an end of file so the test can finish.
        ::close(::open(QFile::encodeName(fifo).constData(), O_WRONLY | O_NONBLOCK));
        FAIL() << "ReadFileBytes blocked on a FIFO";
    }
    EXPECT_TRUE(read.get().isEmpty());
}

// What a failed open tells is shown to the user as the reason a signed file
// was not read: each cause by its own words, never as a corrupt file.
TEST_F(FileHandlerTest, ARegularFileThatCannotBeOpenedSaysWhy)
{
    const QString file = make("arquivo");
    ASSERT_TRUE(QDir(dir_.path()).mkdir("pasta"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(path("fila")).constData(), 0600), 0);
    ASSERT_TRUE(QFile::link(path("laco-b"), path("laco-a")));
    ASSERT_TRUE(QFile::link(path("laco-a"), path("laco-b")));
    const QString notRegular = "Não é um arquivo comum (é um dispositivo, uma fila ou um soquete)";
    const std::tuple<QString, int, QString> cases[] = {
        {path("sumiu"), 53, "Arquivo não encontrado"},
        {"", 53, "Arquivo não encontrado"},
        {file + "/dentro", 76, "Caminho não encontrado"},
        {path("pasta"), 75, "É uma pasta, não um arquivo"},
        {path("fila"), 75, notRegular},
        {"/dev/null", 75, notRegular},
        {path("laco-a"), 75, "Links simbólicos em excesso no caminho"},
        {path(QString(300, 'n')), 75, "Nome de arquivo longo demais"},
    };
    for (const auto& [where, number, description] : cases) {
        SCOPED_TRACE(where.toStdString());
        fi::FileError why;
        EXPECT_FALSE(fi::RegularFile::open(where, &why).has_value());
        EXPECT_EQ(why.number, number);
        EXPECT_EQ(why.description, description);
    }
    fi::FileError untouched{1, "nada"};
    EXPECT_TRUE(fi::RegularFile::open(file, &untouched).has_value());
    EXPECT_EQ(untouched.number, 1);

    // Causes a test cannot make as root, by their numbers.
    const std::tuple<int, int, QString> errors[] = {
        {EACCES, 70, "Permissão negada"},
        {EPERM, 70, "Permissão negada"},
        {EIO, 75, "Erro de entrada/saída do dispositivo"},
        {EMFILE, 75, "Arquivos abertos demais"},
        {EBUSY, 75, "Erro de acesso ao caminho/arquivo"},
    };
    for (const auto& [err, number, description] : errors) {
        SCOPED_TRACE(err);
        const fi::FileError why = fi::ReadErrorFromErrno(err);
        EXPECT_EQ(why.number, number);
        EXPECT_EQ(why.description, description);
    }
    // A write names the missing folder instead, as it always did.
    EXPECT_EQ(fi::ErrorFromErrno(ENOENT).number, 76);
}

TEST_F(FileHandlerTest, WriteFileBytesReplacesWholeContent)
{
    const QString file = make("alvo.txt", QByteArray(5000, 'v'));
    ASSERT_EQ(::chmod(QFile::encodeName(file).constData(), 0640), 0);
    EXPECT_FALSE(fi::WriteFileBytes(file, "novo").has_value());
    EXPECT_EQ(fi::ReadFileBytes(file), "novo");
    EXPECT_EQ(QFileInfo(file).size(), 4);
    EXPECT_EQ(QFile::permissions(file), QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser |
                                            QFile::WriteUser | QFile::ReadGroup);

    const QString script = make("script.sh");
    ASSERT_EQ(::chmod(QFile::encodeName(script).constData(), 0775), 0);
    EXPECT_FALSE(fi::WriteFileBytes(script, "y").has_value());
    struct stat info {};
    ASSERT_EQ(::stat(QFile::encodeName(script).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0664u);

    const mode_t previous = ::umask(022);
    const QString fresh = path("novo.bin");
    const auto failure = fi::WriteFileBytes(fresh, QByteArray());
    ::umask(previous);
    EXPECT_FALSE(failure.has_value());
    ASSERT_EQ(::stat(QFile::encodeName(fresh).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0644u);
    EXPECT_EQ(info.st_size, 0);

    const QStringList expected{"alvo.txt", "novo.bin", "script.sh"};
    EXPECT_EQ(entries(), expected); // no temporary left behind
}

TEST_F(FileHandlerTest, WriteFileBytesFailures)
{
    const auto missingFolder = fi::WriteFileBytes(path("nada/x.txt"), "a");
    ASSERT_TRUE(missingFolder.has_value());
    EXPECT_EQ(missingFolder->text(), "76 - Caminho não encontrado");

    const QString file = make("arquivo", "original");
    const auto underFile = fi::WriteFileBytes(file + "/x.txt", "a");
    ASSERT_TRUE(underFile.has_value());
    EXPECT_EQ(underFile->number, 76);

    ASSERT_TRUE(QDir(dir_.path()).mkdir("pasta"));
    const auto onFolder = fi::WriteFileBytes(path("pasta"), "a");
    ASSERT_TRUE(onFolder.has_value());
    EXPECT_EQ(onFolder->number, 75);
    EXPECT_TRUE(QFileInfo(path("pasta")).isDir());

    // A failed write keeps the existing target's content; the temporary goes.
    const auto tooBig =
        underSizeLimit(1024, [&] { return fi::WriteFileBytes(file, QByteArray(4096, 'z')); });
    ASSERT_TRUE(tooBig.has_value());
    EXPECT_EQ(tooBig->number, 75);
    EXPECT_EQ(fi::ReadFileBytes(file), "original");
    EXPECT_EQ(entries(), QStringList({"arquivo", "pasta"}));
}

TEST_F(FileHandlerTest, WriteFileBytesIntoReadOnlyFolder)
{
    if (::geteuid() == 0) {
        GTEST_SKIP() << "root ignores folder permissions; this case needs an ordinary user";
    }
    ASSERT_TRUE(QDir(dir_.path()).mkdir("pasta"));
    const QByteArray folder = QFile::encodeName(path("pasta"));
    ASSERT_EQ(::chmod(folder.constData(), 0555), 0);
    const auto denied = fi::WriteFileBytes(path("pasta/x.txt"), "a");
    ::chmod(folder.constData(), 0755);
    ASSERT_TRUE(denied.has_value());
    EXPECT_EQ(denied->text(), "70 - Permissão negada");
}

TEST_F(FileHandlerTest, FileExistsOnlyForFiles)
{
    const QString file = make("a.txt");
    ASSERT_TRUE(QFile::link(file, path("link")));
    ASSERT_TRUE(QFile::link(path("nada"), path("quebrado")));
    EXPECT_TRUE(fi::FileExists(file));
    EXPECT_TRUE(fi::FileExists(path("link")));
    EXPECT_FALSE(fi::FileExists(path("quebrado")));
    EXPECT_FALSE(fi::FileExists(dir_.path()));
    EXPECT_FALSE(fi::FileExists(path("nada")));
    EXPECT_FALSE(fi::FileExists(QString()));
}

TEST_F(FileHandlerTest, GetLongPath)
{
    QDir root(dir_.path());
    ASSERT_TRUE(root.mkpath("sub/fundo"));
    ASSERT_TRUE(root.mkdir("Sub"));
    const QString file = make("sub/f.txt");
    ASSERT_TRUE(QFile::link(path("sub/fundo"), path("atalho")));

    EXPECT_EQ(fi::GetLongPath(QString()), "");
    EXPECT_EQ(fi::GetLongPath("/"), "/");
    EXPECT_EQ(fi::GetLongPath(file), file);
    EXPECT_EQ(fi::GetLongPath(path("sub/")), path("sub"));
    EXPECT_EQ(fi::GetLongPath(path("Sub")), path("Sub"));
    EXPECT_EQ(fi::GetLongPath(path("sub//./fundo/../f.txt")), file);
    // ".." is taken by text: the link's parent, not its target's.
    EXPECT_EQ(fi::GetLongPath(path("atalho/..")), dir_.path());
    EXPECT_EQ(fi::GetLongPath(path("sub/nada.txt")), "");
    EXPECT_EQ(fi::GetLongPath(path("nada/../sub")), "");
    EXPECT_EQ(fi::GetLongPath(path("sub/f.txt/..")), "");

    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(path("sub")));
    const QString relative = fi::GetLongPath("fundo/../f.txt");
    const QString location = fi::GetFileProperty("f.txt", FileProperty::Location);
    QDir::setCurrent(previous);
    EXPECT_EQ(relative, file);
    EXPECT_EQ(location, path("sub"));
}

} // namespace

// A file of another user, and a link to it planted where we are told to
// write: the case of a shared folder with the sticky bit.
struct PlantedLink {
    QString victim;
    QString link;
};

class StagedFileTest : public FileHandlerTest {
protected:
    PlantedLink plantLink(const QString& name)
    {
        PlantedLink planted{make("vitima.txt", "dados de outra pessoa"), path(name)};
        // As root the victim really belongs to someone else.
        if (::geteuid() == 0) {
            EXPECT_EQ(::chown(QFile::encodeName(planted.victim).constData(), 4242, 4242), 0);
        }
        EXPECT_TRUE(QFile::link(planted.victim, planted.link));
        return planted;
    }

    fi::StagedFile staged(const QString& target, const QByteArray& content)
    {
        auto made = fi::StagedFile::create(target);
        EXPECT_TRUE(std::holds_alternative<fi::StagedFile>(made));
        fi::StagedFile file = std::get<fi::StagedFile>(std::move(made));
        EXPECT_FALSE(file.write(content).has_value());
        return file;
    }

    static bool isLink(const QString& file) { return QFileInfo(file).isSymLink(); }
};

TEST_F(StagedFileTest, WithoutReplacingNothingThatIsThereIsTouched)
{
    EXPECT_FALSE(staged(path("novo.pdf"), "conteudo").commit(path("novo.pdf"), fi::Replace::Never));
    EXPECT_EQ(fi::ReadFileBytes(path("novo.pdf")), "conteudo");

    // A file that appeared after the staging began is kept.
    fi::StagedFile late = staged(path("chegou.pdf"), "nosso");
    make("chegou.pdf", "de outro");
    const auto appeared = late.commit(path("chegou.pdf"), fi::Replace::Never);
    ASSERT_TRUE(appeared.has_value());
    EXPECT_EQ(appeared->text(), "58 - Arquivo já existe");
    EXPECT_EQ(fi::ReadFileBytes(path("chegou.pdf")), "de outro");

    const PlantedLink planted = plantLink("alvo.pdf");
    EXPECT_TRUE(staged(planted.link, "x").commit(planted.link, fi::Replace::Never).has_value());
    EXPECT_EQ(fi::ReadFileBytes(planted.victim), "dados de outra pessoa");
    EXPECT_TRUE(isLink(planted.link));

    ASSERT_TRUE(QFile::link(path("ninguem"), path("quebrado.pdf")));
    EXPECT_TRUE(fi::EntryMayExist(path("quebrado.pdf")));
    EXPECT_TRUE(staged(path("quebrado.pdf"), "x")
                    .commit(path("quebrado.pdf"), fi::Replace::Never)
                    .has_value());
    EXPECT_FALSE(QFileInfo::exists(path("ninguem")));

    EXPECT_FALSE(fi::EntryMayExist(path("livre.pdf")));
    EXPECT_FALSE(fi::EntryMayExist(path("novo.pdf/x"))) << "under a file, nothing can be";
    // Nothing staged is left behind, whatever happened.
    EXPECT_EQ(entries(),
              QStringList({"alvo.pdf", "chegou.pdf", "novo.pdf", "quebrado.pdf", "vitima.txt"}));
}

TEST_F(StagedFileTest, ReplacingAnEntryReplacesALinkNeverItsTarget)
{
    const PlantedLink planted = plantLink("alvo.pdf");
    EXPECT_FALSE(staged(planted.link, "extraido").commit(planted.link, fi::Replace::Entry));
    EXPECT_FALSE(isLink(planted.link));
    EXPECT_EQ(fi::ReadFileBytes(planted.link), "extraido");
    EXPECT_EQ(fi::ReadFileBytes(planted.victim), "dados de outra pessoa");

    // WriteFileBytes too: the link goes, the file it named stays.
    ASSERT_TRUE(QFile::remove(planted.link));
    ASSERT_TRUE(QFile::link(planted.victim, planted.link));
    EXPECT_FALSE(fi::WriteFileBytes(planted.link, "gravado"));
    EXPECT_EQ(fi::ReadFileBytes(planted.victim), "dados de outra pessoa");
    EXPECT_EQ(fi::ReadFileBytes(planted.link), "gravado");

    ASSERT_TRUE(QDir(dir_.path()).mkdir("pasta"));
    const auto onFolder = staged(path("pasta"), "x").commit(path("pasta"), fi::Replace::Entry);
    ASSERT_TRUE(onFolder.has_value());
    EXPECT_EQ(onFolder->number, 75);
    EXPECT_TRUE(QFileInfo(path("pasta")).isDir());
}

TEST_F(StagedFileTest, TheWriterKeepsOrderAndReportsAFailure)
{
    QByteArray expected;
    {
        fi::StagedWriter writer(staged(path("grande.bin"), QByteArray()));
        for (int i = 0; i < 3000; ++i) {
            const QByteArray block(1 + i % 4099, static_cast<char>('a' + i % 26));
            writer.append(block);
            expected += block;
        }
        EXPECT_FALSE(writer.finish().has_value());
        EXPECT_FALSE(writer.file().commit(path("grande.bin"), fi::Replace::Never));
    }
    EXPECT_EQ(fi::ReadFileBytes(path("grande.bin")), expected);

    const std::optional<fi::FileError> failure = underSizeLimit(4 << 20, [&] {
        fi::StagedWriter writer(staged(path("cheio.bin"), QByteArray()));
        for (int i = 0; i < 12; ++i)
            writer.append(QByteArray(1 << 20, 'z'));
        return writer.finish();
    });
    EXPECT_TRUE(failure.has_value());
    EXPECT_FALSE(QFileInfo::exists(path("cheio.bin")));
    EXPECT_EQ(entries(), QStringList({"grande.bin"}));
}
