#include "platform/pdf/PdfInput.h"

#include "platform/pdf/PdfError.h"

#include <QRegularExpression>
#include <algorithm>
#include <cstdio>
#include <qpdf/Pipeline.hh>
#include <qpdf/Pl_Flate.hh>
#include <qpdf/QPDFExc.hh>
#include <set>

namespace selavia::pdf {
namespace {

constexpr qint64 kWindowBytes = 64 * 1024;

// Collects decoded bytes and stops the decoder once there are too many:
// qpdf itself would inflate a stream without limit.
// Keeps nothing when `into` is null: it only counts.
class CappedPipeline : public Pipeline {
public:
    CappedPipeline(std::string* into, qint64 cap)
        : Pipeline("limite de descompressão", nullptr), into_(into), cap_(cap)
    {
    }
    void write(unsigned char const* data, size_t length) override
    {
        size_ += static_cast<qint64>(length);
        if (size_ > cap_)
            throw PdfError(QStringLiteral("um fluxo do PDF excede o tamanho permitido"));
        if (into_)
            into_->append(reinterpret_cast<const char*>(data), length);
    }
    void finish() override {}

private:
    std::string* into_;
    qint64 cap_;
    qint64 size_ = 0;
};

constexpr qint64 kObjectStreamCap = 32LL * 1024 * 1024;
constexpr std::size_t kMaxObjectStreams = 100'000;

void decodeCapped(QPDFObjectHandle stream, std::string* into, qint64 cap)
{
    CappedPipeline pipeline(into, cap);
    bool decoded = false;
    try {
        decoded = stream.pipeStreamData(&pipeline, 0, qpdf_dl_generalized, true, false);
    } catch (const PdfError&) {
        throw;
    } catch (const std::exception&) {
        decoded = false;
    }
    if (!decoded)
        throw PdfError(QStringLiteral("um fluxo do PDF não pôde ser decodificado ou excede o "
                                      "tamanho permitido"));
}

// qpdf inflates a whole object stream, without limit, when it first reads
// an object in it: each one is decoded once through our cap before it can.
void checkObjectStreams(QPDF& pdf)
{
    std::set<int> streams;
    for (const auto& [id, entry] : pdf.getXRefTable()) {
        if (entry.getType() == 2)
            streams.insert(entry.getObjStreamNumber());
    }
    if (streams.size() > kMaxObjectStreams)
        throw PdfError(QStringLiteral("o PDF tem fluxos de objetos demais"));
    for (int number : streams) {
        QPDFObjectHandle stream = pdf.getObjectByID(number, 0);
        if (!stream.isStream())
            throw PdfError(QStringLiteral("a estrutura do PDF está danificada (fluxo de objetos "
                                          "%1 ausente)")
                               .arg(number));
        decodeCapped(stream, nullptr, kObjectStreamCap);
    }
}

} // namespace

PrefixInputSource::PrefixInputSource(signature::MessageInput& input, qint64 length,
                                     std::string name)
    : input_(input), length_(std::min(length, input.size())), name_(std::move(name))
{
}

bool PrefixInputSource::fill(qint64 offset)
{
    if (windowStart_ >= 0 && offset >= windowStart_ && offset < windowStart_ + window_.size())
        return true;
    if (offset >= length_)
        return false;
    const qint64 want = std::min(kWindowBytes, length_ - offset);
    window_.resize(want);
    const qint64 got = input_.read(offset, window_.data(), want);
    if (got <= 0) {
        windowStart_ = -1;
        window_.clear();
        throw PdfError(QStringLiteral("não foi possível ler o arquivo PDF"));
    }
    window_.resize(got);
    windowStart_ = offset;
    return true;
}

size_t PrefixInputSource::read(char* buffer, size_t length)
{
    last_offset = position_;
    size_t done = 0;
    while (done < length && fill(position_)) {
        const qint64 at = position_ - windowStart_;
        const qint64 take =
            std::min<qint64>(static_cast<qint64>(length - done), window_.size() - at);
        std::copy_n(window_.constData() + at, take, buffer + done);
        done += static_cast<size_t>(take);
        position_ += take;
    }
    return done;
}

qpdf_offset_t PrefixInputSource::findAndSkipNextEOL()
{
    char c = 0;
    while (position_ < length_) {
        fill(position_);
        c = window_.at(position_ - windowStart_);
        if (c == '\r' || c == '\n')
            break;
        ++position_;
    }
    const qpdf_offset_t eol = position_;
    while (position_ < length_) {
        fill(position_);
        c = window_.at(position_ - windowStart_);
        if (c != '\r' && c != '\n')
            break;
        ++position_;
    }
    return eol;
}

void PrefixInputSource::seek(qpdf_offset_t offset, int whence)
{
    qint64 base = 0;
    if (whence == SEEK_CUR)
        base = position_;
    else if (whence == SEEK_END)
        base = length_;
    const qint64 target = base + offset;
    if (target < 0)
        throw PdfError(QStringLiteral("posição inválida no arquivo PDF"));
    position_ = std::min(target, length_);
}

void PrefixInputSource::unreadCh(char)
{
    if (position_ > 0)
        --position_;
}

std::unique_ptr<QPDF> openRevision(signature::MessageInput& input, qint64 end)
{
    auto pdf = std::make_unique<QPDF>();
    pdf->setSuppressWarnings(true);
    pdf->setAttemptRecovery(false);
    try {
        pdf->processInputSource(std::make_shared<PrefixInputSource>(input, end, "documento.pdf"));
        checkObjectStreams(*pdf);
    } catch (const PdfError&) {
        throw;
    } catch (const std::exception& error) {
        throw PdfError(QStringLiteral("a estrutura do PDF está danificada (%1)")
                           .arg(QString::fromStdString(error.what()).left(200)));
    }
    return pdf;
}

void checkCrossReferenceStream(signature::MessageInput& input, qint64 offset)
{
    // The dictionary and the start of the data: within the first kilobytes.
    QByteArray head(4096, '\0');
    const qint64 got = input.read(offset, head.data(), head.size());
    if (got <= 0)
        return;
    head.resize(got);
    static const QRegularExpression object(QStringLiteral("^\\s*\\d+\\s+\\d+\\s+obj"));
    const qsizetype keyword = head.indexOf("stream");
    const qsizetype objectEnd = head.indexOf("endobj");
    if (!object.match(QString::fromLatin1(head.left(64))).hasMatch() || keyword < 0 ||
        (objectEnd >= 0 && objectEnd < keyword))
        return;
    const QString dictionary = QString::fromLatin1(head.left(keyword));
    static const QRegularExpression lengthPattern(
        QStringLiteral("/Length\\s+(\\d{1,12})(?!\\s+\\d+\\s+R)"));
    const QRegularExpressionMatch length = lengthPattern.match(dictionary);
    if (!length.hasMatch() || !dictionary.contains(QLatin1String("/FlateDecode")))
        return;
    qint64 at = offset + keyword + 6;
    at += head.mid(keyword + 6, 2).startsWith("\r\n") ? 2 : 1;
    qint64 left = std::min(length.captured(1).toLongLong(), input.size() - at);
    CappedPipeline counted(nullptr, kObjectStreamCap);
    Pl_Flate inflate("tabela de referências cruzadas", &counted, Pl_Flate::a_inflate);
    QByteArray block(64 * 1024, '\0');
    try {
        while (left > 0) {
            const qint64 read = input.read(at, block.data(), std::min<qint64>(left, block.size()));
            if (read <= 0)
                return;
            inflate.write(reinterpret_cast<unsigned char*>(block.data()),
                          static_cast<size_t>(read));
            at += read;
            left -= read;
        }
        inflate.finish();
    } catch (const PdfError&) {
        throw;
    } catch (const std::exception&) {
        // Damage is qpdf's to report when it reads the table.
    }
}

std::string decodedStream(QPDFObjectHandle stream, qint64 cap)
{
    std::string data;
    decodeCapped(stream, &data, cap);
    return data;
}

} // namespace selavia::pdf
