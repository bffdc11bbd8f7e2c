#include "platform/pdf/PdfStructure.h"

#include "platform/pdf/PdfError.h"

#include <set>

namespace selavia::pdf {
namespace {

constexpr std::size_t kMaxFields = 10000;
constexpr int kMaxFieldDepth = 32;

bool isField(QPDFObjectHandle node)
{
    return node.isDictionary() &&
           (node.hasKey("/T") || node.hasKey("/FT") ||
            (node.hasKey("/Kids") && !node.getKey("/Subtype").isNameAndEquals("/Widget")));
}

void collectFields(QPDFObjectHandle node, const QString& parent, std::string type, int depth,
                   std::set<QPDFObjGen>& seen, std::vector<Field>& terminal,
                   std::vector<Field>& all)
{
    if (depth > kMaxFieldDepth || !node.isDictionary() || all.size() >= kMaxFields)
        return;
    if (node.isIndirect() && !seen.insert(node.getObjGen()).second)
        return;
    const QString own = textOf(node.getKey("/T"));
    const QString name = parent.isEmpty() ? own : own.isEmpty() ? parent : parent + '.' + own;
    if (node.getKey("/FT").isName())
        type = node.getKey("/FT").getName();
    all.push_back({node, name, type});
    bool hasFieldKids = false;
    for (QPDFObjectHandle kid : node.getKey("/Kids").aitems()) {
        if (isField(kid)) {
            hasFieldKids = true;
            collectFields(kid, name, type, depth + 1, seen, terminal, all);
        }
    }
    if (!hasFieldKids)
        terminal.push_back({node, name, type});
}

void walkFields(QPDF& pdf, std::vector<Field>& terminal, std::vector<Field>& all)
{
    std::set<QPDFObjGen> seen;
    QPDFObjectHandle form = pdf.getRoot().getKey("/AcroForm");
    for (QPDFObjectHandle field : form.getKey("/Fields").aitems())
        collectFields(field, {}, {}, 0, seen, terminal, all);
    if (all.size() >= kMaxFields)
        throw PdfError(QStringLiteral("o PDF tem campos de formulário demais"));
}

} // namespace

QString textOf(QPDFObjectHandle value)
{
    return value.isString() ? QString::fromStdString(value.getUTF8Value()) : QString();
}

QString nameOf(QPDFObjectHandle value)
{
    return value.isName() ? QString::fromStdString(value.getName()).mid(1) : QString();
}

std::vector<Field> fieldsOf(QPDF& pdf)
{
    std::vector<Field> terminal, all;
    walkFields(pdf, terminal, all);
    return terminal;
}

std::vector<Field> fieldNodesOf(QPDF& pdf)
{
    std::vector<Field> terminal, all;
    walkFields(pdf, terminal, all);
    return all;
}

std::map<QPDFObjGen, int> annotationPages(QPDF& pdf, int& pageCount)
{
    std::map<QPDFObjGen, int> pages;
    std::vector<QPDFObjectHandle> all;
    try {
        all = pdf.getAllPages();
    } catch (const std::exception&) {
        throw PdfError(QStringLiteral("a árvore de páginas do PDF está danificada"));
    }
    pageCount = static_cast<int>(all.size());
    for (std::size_t i = 0; i < all.size(); ++i) {
        pages[all[i].getObjGen()] = static_cast<int>(i + 1);
        for (QPDFObjectHandle annotation : all[i].getKey("/Annots").aitems()) {
            if (annotation.isIndirect())
                pages[annotation.getObjGen()] = static_cast<int>(i + 1);
        }
    }
    return pages;
}

} // namespace selavia::pdf
