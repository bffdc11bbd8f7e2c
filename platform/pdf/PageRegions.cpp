#include "platform/pdf/PageRegions.h"

#include "platform/pdf/PdfError.h"
#include "platform/pdf/PdfInput.h"

#include <algorithm>
#include <memory>
#include <qpdf/BufferInputSource.hh>
#include <qpdf/QPDFTokenizer.hh>
#include <string>

namespace selavia::pdf {
namespace {

constexpr qint64 kContentCap = 32LL * 1024 * 1024;
constexpr int kMaxOperations = 2'000'000;
constexpr int kMaxStackDepth = 64;

// An affine matrix [a b c d e f] as PDF writes it: a point (x, y) maps to
// (a x + c y + e, b x + d y + f); m * n applies m first.
struct Matrix {
    double a = 1, b = 0, c = 0, d = 1, e = 0, f = 0;

    static Matrix translation(double x, double y) { return {1, 0, 0, 1, x, y}; }
    QPointF map(QPointF p) const { return {a * p.x() + c * p.y() + e, b * p.x() + d * p.y() + f}; }
    QRectF mapRect(const QRectF& r) const
    {
        const QPointF corners[] = {map(r.topLeft()), map(r.topRight()), map(r.bottomLeft()),
                                   map(r.bottomRight())};
        double left = corners[0].x(), right = left, top = corners[0].y(), bottom = top;
        for (const QPointF& p : corners) {
            left = std::min(left, p.x());
            right = std::max(right, p.x());
            top = std::min(top, p.y());
            bottom = std::max(bottom, p.y());
        }
        return QRectF(QPointF(left, top), QPointF(right, bottom));
    }
    friend Matrix operator*(const Matrix& m, const Matrix& n)
    {
        return {m.a * n.a + m.b * n.c, m.a * n.b + m.b * n.d,       m.c * n.a + m.d * n.c,
                m.c * n.b + m.d * n.d, m.e * n.a + m.f * n.c + n.e, m.e * n.b + m.f * n.d + n.f};
    }
};

Matrix matrixOf(const std::vector<double>& n)
{
    return {n[0], n[1], n[2], n[3], n[4], n[5]};
}

// Follows the graphics and text state far enough to place text and images.
class Painter {
public:
    explicit Painter(QPDFObjectHandle resources) : resources_(std::move(resources)) {}

    void operate(const std::string& op, const std::vector<double>& n, qint64 textBytes)
    {
        if (op == "q") {
            if (stack_.size() < kMaxStackDepth)
                stack_.push_back(ctm_);
        } else if (op == "Q") {
            if (!stack_.empty()) {
                ctm_ = stack_.back();
                stack_.pop_back();
            }
        } else if (op == "cm" && n.size() == 6) {
            ctm_ = matrixOf(n) * ctm_;
        } else if (op == "BT") {
            tm_ = tlm_ = Matrix();
        } else if (op == "Tf" && n.size() == 1) {
            fontSize_ = n[0];
        } else if (op == "TL" && n.size() == 1) {
            leading_ = n[0];
        } else if ((op == "Td" || op == "TD") && n.size() == 2) {
            if (op == "TD")
                leading_ = -n[1];
            tlm_ = Matrix::translation(n[0], n[1]) * tlm_;
            tm_ = tlm_;
        } else if (op == "Tm" && n.size() == 6) {
            tm_ = tlm_ = matrixOf(n);
        } else if (op == "T*" || op == "'" || op == "\"") {
            tlm_ = Matrix::translation(0, -leading_) * tlm_;
            tm_ = tlm_;
        }
        if (op == "Tj" || op == "TJ" || op == "'" || op == "\"")
            showText(textBytes);
    }

    void drawObject(const std::string& name)
    {
        QPDFObjectHandle xobject = resources_.isDictionary()
                                       ? resources_.getKey("/XObject").getKey(name)
                                       : QPDFObjectHandle::newNull();
        QRectF box(0, 0, 1, 1);
        Matrix matrix = ctm_;
        if (xobject.isStream() && xobject.getDict().getKey("/Subtype").isNameAndEquals("/Form")) {
            QPDFObjectHandle dict = xobject.getDict();
            box = rectangleOf(dict.getKey("/BBox"));
            std::vector<double> m;
            for (QPDFObjectHandle v : dict.getKey("/Matrix").aitems())
                m.push_back(v.isNumber() ? v.getNumericValue() : 0);
            if (m.size() == 6)
                matrix = matrixOf(m) * ctm_;
        }
        regions.push_back(matrix.mapRect(box));
    }

    void drawInlineImage() { regions.push_back(ctm_.mapRect(QRectF(0, 0, 1, 1))); }

    std::vector<QRectF> regions;

private:
    void showText(qint64 bytes)
    {
        const double width = 0.5 * static_cast<double>(bytes) * fontSize_;
        const QRectF box(0, -0.2 * fontSize_, width, fontSize_);
        regions.push_back((tm_ * ctm_).mapRect(box));
        tm_ = Matrix::translation(width, 0) * tm_;
    }

    QPDFObjectHandle resources_;
    Matrix ctm_, tm_, tlm_;
    std::vector<Matrix> stack_;
    double fontSize_ = 12;
    double leading_ = 0;
};

std::string contentOf(QPDFObjectHandle page)
{
    QPDFObjectHandle contents = page.getKey("/Contents");
    std::vector<QPDFObjectHandle> streams;
    if (contents.isStream())
        streams.push_back(contents);
    else if (contents.isArray())
        streams = contents.getArrayAsVector();
    std::string all;
    for (QPDFObjectHandle& stream : streams) {
        if (!stream.isStream())
            continue;
        all += decodedStream(stream, kContentCap - static_cast<qint64>(all.size()));
        all += '\n';
    }
    return all;
}

// Reads the operations in order, handing each its numeric operands and the
// bytes of text it shows.
void readOperations(const std::string& content, Painter& painter)
{
    auto input = std::make_shared<BufferInputSource>("conteúdo da página", content);
    QPDFTokenizer tokenizer;
    tokenizer.allowEOF();
    std::vector<double> numbers;
    qint64 textBytes = 0;
    std::string lastName;
    for (int count = 0; count < kMaxOperations; ++count) {
        const QPDFTokenizer::Token token = tokenizer.readToken(input, "conteúdo", true);
        switch (token.getType()) {
        case QPDFTokenizer::tt_eof:
            return;
        case QPDFTokenizer::tt_integer:
        case QPDFTokenizer::tt_real:
            numbers.push_back(std::strtod(token.getValue().c_str(), nullptr));
            break;
        case QPDFTokenizer::tt_string:
            textBytes += static_cast<qint64>(token.getValue().size());
            break;
        case QPDFTokenizer::tt_name:
            lastName = token.getValue();
            break;
        case QPDFTokenizer::tt_word:
            if (token.getValue() == "ID") {
                tokenizer.expectInlineImage(input);
                tokenizer.readToken(input, "conteúdo", true);
                painter.drawInlineImage();
            } else {
                painter.operate(token.getValue(), numbers, textBytes);
                if (token.getValue() == "Do")
                    painter.drawObject(lastName);
            }
            numbers.clear();
            textBytes = 0;
            break;
        case QPDFTokenizer::tt_bad:
            throw PdfError(QStringLiteral("conteúdo de página ilegível"));
        default:
            break;
        }
    }
    throw PdfError(QStringLiteral("conteúdo de página longo demais"));
}

} // namespace

QRectF rectangleOf(QPDFObjectHandle array)
{
    if (!array.isArray() || array.getArrayNItems() != 4)
        return {};
    double v[4];
    for (int i = 0; i < 4; ++i) {
        QPDFObjectHandle item = array.getArrayItem(i);
        if (!item.isNumber())
            return {};
        v[i] = item.getNumericValue();
    }
    return QRectF(QPointF(v[0], v[1]), QPointF(v[2], v[3])).normalized();
}

std::vector<QRectF> paintedRegions(QPDFObjectHandle page)
{
    try {
        Painter painter(page.getKey("/Resources"));
        readOperations(contentOf(page), painter);
        return painter.regions;
    } catch (const std::exception&) {
        QRectF whole = rectangleOf(page.getKey("/MediaBox"));
        if (whole.isEmpty())
            whole = QRectF(-1e6, -1e6, 2e6, 2e6);
        return {whole};
    }
}

} // namespace selavia::pdf
