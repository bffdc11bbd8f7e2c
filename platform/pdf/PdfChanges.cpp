#include "platform/pdf/PdfChanges.h"

#include "platform/pdf/PageRegions.h"
#include "platform/pdf/PdfError.h"
#include "platform/pdf/PdfInput.h"

#include <QRectF>
#include <QRegularExpression>
#include <algorithm>
#include <deque>
#include <map>
#include <memory>
#include <qpdf/Buffer.hh>
#include <set>

namespace selavia::pdf {
namespace {

namespace sig = signature;
using Kind = PdfChange::Kind;

constexpr int kMaxComparedRevisions = 300;
constexpr std::size_t kMaxReachable = 200'000;
constexpr long long kMaxComparedStream = 16LL * 1024 * 1024;

// What an object was for in a revision.
enum class Role {
    Catalog,
    Info,
    Metadata,
    PagesNode,
    Page,
    AnnotsArray,
    Annotation,
    Field,
    AcroForm,
    FieldsArray,
    SignatureValue,
    Appearance,
    Dss,
    PageResource,
};

struct RoleOf {
    Role role = Role::PageResource;
    int page = 0;
    QString field{};
    QPDFObjGen owner{}; // the annotation an appearance belongs to
};

class Roles {
public:
    explicit Roles(QPDF& pdf) { read(pdf); }
    const RoleOf* find(QPDFObjGen id) const
    {
        const auto found = roles_.find(id);
        return found == roles_.end() ? nullptr : &found->second;
    }
    const std::vector<QPDFObjectHandle>& pages() const { return pages_; }

private:
    void assign(QPDFObjectHandle object, RoleOf role)
    {
        if (object.isIndirect())
            roles_.try_emplace(object.getObjGen(), std::move(role));
    }
    // Every object reachable from `start`, given `role` unless it has one.
    void reach(QPDFObjectHandle start, const RoleOf& role)
    {
        std::deque<QPDFObjectHandle> queue{start};
        std::set<QPDFObjGen> seen;
        while (!queue.empty() && seen.size() < kMaxReachable && budget_ > 0) {
            --budget_;
            QPDFObjectHandle object = queue.front();
            queue.pop_front();
            if (object.isIndirect()) {
                if (!seen.insert(object.getObjGen()).second)
                    continue;
                assign(object, role);
            }
            QPDFObjectHandle dict = object.isStream() ? object.getDict() : object;
            if (dict.isDictionary()) {
                for (auto& [key, value] : dict.ditems())
                    queue.push_back(value);
            } else if (dict.isArray()) {
                for (QPDFObjectHandle value : dict.aitems())
                    queue.push_back(value);
            }
        }
    }
    void read(QPDF& pdf)
    {
        QPDFObjectHandle root = pdf.getRoot();
        assign(root, {Role::Catalog});
        assign(pdf.getTrailer().getKey("/Info"), {Role::Info});
        assign(root.getKey("/Metadata"), {Role::Metadata});
        assign(root.getKey("/AcroForm"), {Role::AcroForm});
        assign(root.getKey("/AcroForm").getKey("/Fields"), {Role::FieldsArray});
        for (const Field& field : fieldNodesOf(pdf)) {
            QPDFObjectHandle node = field.handle;
            assign(node, {Role::Field, 0, field.name});
            assign(node.getKey("/Kids"), {Role::FieldsArray, 0, field.name});
            if (field.type == "/Sig")
                assign(node.getKey("/V"), {Role::SignatureValue, 0, field.name});
        }
        if (root.getKey("/DSS").isDictionary())
            reach(root.getKey("/DSS"), {Role::Dss});
        readPages(pdf);
    }
    void readPages(QPDF& pdf)
    {
        pages_ = pdf.getAllPages();
        std::deque<QPDFObjectHandle> nodes{pdf.getRoot().getKey("/Pages")};
        std::set<QPDFObjGen> seen;
        while (!nodes.empty() && seen.size() < kMaxReachable) {
            QPDFObjectHandle node = nodes.front();
            nodes.pop_front();
            if (!node.isDictionary() || node.getKey("/Type").isNameAndEquals("/Page") ||
                (node.isIndirect() && !seen.insert(node.getObjGen()).second))
                continue;
            assign(node, {Role::PagesNode});
            assign(node.getKey("/Kids"), {Role::PagesNode});
            for (QPDFObjectHandle kid : node.getKey("/Kids").aitems())
                nodes.push_back(kid);
        }
        for (std::size_t i = 0; i < pages_.size(); ++i)
            readPage(pages_[i], static_cast<int>(i + 1));
    }
    void readPage(QPDFObjectHandle page, int number)
    {
        assign(page, {Role::Page, number});
        assign(page.getKey("/Annots"), {Role::AnnotsArray, number});
        for (QPDFObjectHandle annotation : page.getKey("/Annots").aitems()) {
            const auto found =
                annotation.isIndirect() ? roles_.find(annotation.getObjGen()) : roles_.end();
            if (found != roles_.end() && found->second.role == Role::Field)
                found->second.page = number;
            assign(annotation, {Role::Annotation, number});
            const QPDFObjGen owner =
                annotation.isIndirect() ? annotation.getObjGen() : QPDFObjGen();
            reach(annotation.getKey("/AP"), {Role::Appearance, number, {}, owner});
        }
        reach(page.getKey("/Contents"), {Role::PageResource, number});
        reach(page.getKey("/Resources"), {Role::PageResource, number});
    }

    std::map<QPDFObjGen, RoleOf> roles_;
    std::vector<QPDFObjectHandle> pages_;
    // Objects visited in all: past it, objects keep no role and any change
    // to them counts as a redefinition.
    std::size_t budget_ = 4'000'000;
};

// Keys whose values differ between two dictionaries, but those ignored.
QStringList differingKeys(QPDFObjectHandle before, QPDFObjectHandle after,
                          const std::set<std::string>& ignored = {})
{
    if (before.isStream())
        before = before.getDict();
    if (after.isStream())
        after = after.getDict();
    std::set<std::string> keys = before.isDictionary() ? before.getKeys() : std::set<std::string>{};
    if (after.isDictionary())
        keys.merge(after.getKeys());
    QStringList differing;
    for (const std::string& key : keys) {
        if (ignored.count(key))
            continue;
        if (before.getKey(key).unparse() != after.getKey(key).unparse())
            differing << QString::fromStdString(key);
    }
    return differing;
}

bool sameEntry(const QPDFXRefEntry& a, const QPDFXRefEntry& b)
{
    if (a.getType() != b.getType())
        return false;
    if (a.getType() == 1)
        return a.getOffset() == b.getOffset();
    return a.getObjStreamNumber() == b.getObjStreamNumber() &&
           a.getObjStreamIndex() == b.getObjStreamIndex();
}

std::vector<QPDFObjGen> identities(QPDFObjectHandle array)
{
    std::vector<QPDFObjGen> ids;
    for (QPDFObjectHandle item : array.aitems())
        ids.push_back(item.isIndirect() ? item.getObjGen() : QPDFObjGen());
    return ids;
}

// What a new field is, told: a signature, a document time-stamp, a form field.
QString fieldDetail(Kind kind, const QString& name, int page)
{
    const QString where = page > 0 ? QStringLiteral(" (página %1)").arg(page) : QString();
    if (kind == Kind::DocumentTimeStamp)
        return QStringLiteral("carimbo do tempo do documento no campo \"%1\"").arg(name);
    if (kind == Kind::NewSignatureField)
        return QStringLiteral("nova assinatura no campo \"%1\"").arg(name) + where;
    return QStringLiteral("campo \"%1\" criado").arg(name) + where;
}

// Compares one revision with the one before it.
class Comparison {
public:
    Comparison(QPDF& before, QPDF& after, int revision)
        : before_(before), after_(after), revision_(revision), roles_(before)
    {
    }

    std::vector<PdfChange> run()
    {
        const std::map<QPDFObjGen, QPDFXRefEntry> old = before_.getXRefTable();
        const std::map<QPDFObjGen, QPDFXRefEntry> now = after_.getXRefTable();
        for (const auto& [id, entry] : now) {
            const auto was = old.find(id);
            if (was != old.end() && !sameEntry(was->second, entry))
                replaced(id);
        }
        for (const auto& [id, entry] : old) {
            if (!now.count(id) && !isStructure(before_.getObjectByObjGen(id)))
                add(Kind::Freed, QStringLiteral("objeto %1 removido").arg(id.getObj()));
        }
        if (before_.getTrailer().getKey("/Root").getObjGen() !=
            after_.getTrailer().getKey("/Root").getObjGen())
            add(Kind::Catalog, QStringLiteral("catálogo do documento substituído"));
        if (!before_.getTrailer().hasKey("/Encrypt") && after_.getTrailer().hasKey("/Encrypt"))
            add(Kind::Catalog, QStringLiteral("criptografia adicionada"));
        return std::move(changes_);
    }

private:
    // The same value, and for a stream the same bytes as stored (compared
    // only up to a size; past it, a stream rewritten counts as changed).
    static bool sameObject(QPDFObjectHandle before, QPDFObjectHandle after)
    {
        if (before.isStream() != after.isStream())
            return false;
        if (!before.isStream())
            return before.unparseResolved() == after.unparseResolved();
        if (before.getDict().unparse() != after.getDict().unparse())
            return false;
        QPDFObjectHandle length = before.getDict().getKey("/Length");
        if (!length.isInteger() || length.getIntValue() > kMaxComparedStream)
            return false;
        try {
            const std::shared_ptr<Buffer> old = before.getRawStreamData();
            const std::shared_ptr<Buffer> now = after.getRawStreamData();
            return old->getSize() == now->getSize() &&
                   std::equal(old->getBuffer(), old->getBuffer() + old->getSize(),
                              now->getBuffer());
        } catch (const std::exception&) {
            return false;
        }
    }

    static bool isStructure(QPDFObjectHandle object)
    {
        return object.isStream() && (object.getDict().getKey("/Type").isNameAndEquals("/XRef") ||
                                     object.getDict().getKey("/Type").isNameAndEquals("/ObjStm"));
    }

    PdfChange& add(Kind kind, QString detail, QString field = {}, int page = 0)
    {
        changes_.push_back({revision_, kind, std::move(detail), std::move(field), page, false});
        return changes_.back();
    }

    void replaced(QPDFObjGen id)
    {
        QPDFObjectHandle before = before_.getObjectByObjGen(id);
        QPDFObjectHandle after = after_.getObjectByObjGen(id);
        // Writers rewrite objects they did not change; the same object
        // written again changes nothing.
        if (isStructure(before) || sameObject(before, after))
            return;
        const RoleOf* role = roles_.find(id);
        if (!role) {
            add(Kind::Redefined, QStringLiteral("objeto %1 redefinido").arg(id.getObj()));
            return;
        }
        switch (role->role) {
        case Role::Catalog:
            return catalog(before, after);
        case Role::Info:
        case Role::Metadata:
            add(Kind::Metadata, QStringLiteral("metadados do documento"));
            return;
        case Role::PagesNode:
            add(Kind::Pages, QStringLiteral("árvore de páginas alterada (páginas incluídas, "
                                            "removidas ou reordenadas)"));
            return;
        case Role::Page:
            return page(before, after, role->page);
        case Role::AnnotsArray:
            return annotations(before, after, role->page);
        case Role::Annotation:
            return annotationChange(after, role->page, QStringLiteral("alterada"));
        case Role::Field:
            return field(before, after, *role);
        case Role::AcroForm:
        case Role::FieldsArray:
            return form(before, after);
        case Role::SignatureValue:
            add(Kind::SignatureValue,
                QStringLiteral("o valor da assinatura \"%1\" foi redefinido").arg(role->field),
                role->field);
            return;
        case Role::Appearance:
            return appearance(*role);
        case Role::Dss:
            add(Kind::Dss, QStringLiteral("dados de validação (DSS)"));
            return;
        case Role::PageResource:
            add(Kind::PageContent,
                QStringLiteral("conteúdo ou recurso da página %1 redefinido (objeto %2)")
                    .arg(role->page)
                    .arg(id.getObj()),
                {}, role->page);
            return;
        }
    }

    void catalog(QPDFObjectHandle before, QPDFObjectHandle after)
    {
        const QStringList keys = differingKeys(
            before, after, {"/DSS", "/AcroForm", "/Metadata", "/Extensions", "/Version"});
        if (!keys.isEmpty())
            add(Kind::Catalog, QStringLiteral("catálogo alterado: %1").arg(keys.join(", ")));
        if (before.getKey("/DSS").unparse() != after.getKey("/DSS").unparse())
            add(Kind::Dss, QStringLiteral("dados de validação (DSS)"));
        QPDFObjectHandle oldForm = before.getKey("/AcroForm");
        QPDFObjectHandle newForm = after.getKey("/AcroForm");
        if (oldForm.unparse() != newForm.unparse() || !newForm.isIndirect())
            form(oldForm, newForm);
    }

    void page(QPDFObjectHandle before, QPDFObjectHandle after, int number)
    {
        const QStringList keys = differingKeys(before, after, {"/Annots"});
        if (!keys.isEmpty())
            add(Kind::PageContent,
                QStringLiteral("página %1 alterada: %2").arg(number).arg(keys.join(", ")), {},
                number);
        annotations(before.getKey("/Annots"), after.getKey("/Annots"), number);
    }

    void annotations(QPDFObjectHandle before, QPDFObjectHandle after, int number)
    {
        const std::vector<QPDFObjGen> old = identities(before);
        const std::set<QPDFObjGen> oldSet(old.begin(), old.end());
        std::set<QPDFObjGen> kept;
        for (QPDFObjectHandle item : after.aitems()) {
            const QPDFObjGen id = item.isIndirect() ? item.getObjGen() : QPDFObjGen();
            if (id.isIndirect() && oldSet.count(id)) {
                kept.insert(id);
                continue;
            }
            newAnnotation(item, number);
        }
        for (const QPDFObjGen& id : old) {
            if (!kept.count(id))
                add(Kind::Annotation, QStringLiteral("anotação removida da página %1").arg(number),
                    {}, number);
        }
    }

    void newAnnotation(QPDFObjectHandle annotation, int number)
    {
        if (!annotation.getKey("/Subtype").isNameAndEquals("/Widget")) {
            annotationChange(annotation, number, QStringLiteral("adicionada"));
            return;
        }
        QPDFObjectHandle field = annotation.hasKey("/T") || annotation.hasKey("/FT")
                                     ? annotation
                                     : annotation.getKey("/Parent");
        QString name = textOf(field.getKey("/T"));
        std::string type = field.getKey("/FT").isName() ? field.getKey("/FT").getName() : "";
        Kind kind = Kind::NewFormField;
        if (type == "/Sig") {
            QPDFObjectHandle value = field.getKey("/V");
            kind = value.getKey("/Type").isNameAndEquals("/DocTimeStamp") ||
                           value.getKey("/SubFilter").isNameAndEquals("/ETSI.RFC3161")
                       ? Kind::DocumentTimeStamp
                       : Kind::NewSignatureField;
        }
        PdfChange& change = add(kind, fieldDetail(kind, name, number), name, number);
        change.coversContent = coversContent(annotation, number);
    }

    void annotationChange(QPDFObjectHandle annotation, int number, const QString& what)
    {
        const QString subtype = nameOf(annotation.getKey("/Subtype"));
        PdfChange& change =
            add(Kind::Annotation,
                QStringLiteral("anotação %1 %2 na página %3").arg(subtype, what).arg(number), {},
                number);
        change.coversContent = coversContent(annotation, number);
    }

    void field(QPDFObjectHandle before, QPDFObjectHandle after, const RoleOf& role)
    {
        const QStringList other =
            differingKeys(before, after, {"/V", "/AP", "/AS", "/MK", "/DA", "/Kids", "/P", "/F"});
        if (!other.isEmpty())
            add(Kind::Redefined,
                QStringLiteral("campo \"%1\" redefinido: %2").arg(role.field, other.join(", ")),
                role.field, role.page);
        if (before.getKey("/Kids").unparse() != after.getKey("/Kids").unparse())
            form(before.getKey("/Kids"), after.getKey("/Kids"));
        const bool signature = before.getKey("/FT").isNameAndEquals("/Sig") ||
                               after.getKey("/FT").isNameAndEquals("/Sig");
        QPDFObjectHandle oldValue = before.getKey("/V");
        QPDFObjectHandle newValue = after.getKey("/V");
        if (oldValue.unparse() != newValue.unparse()) {
            if (!signature)
                add(Kind::FormFill, QStringLiteral("campo \"%1\" preenchido").arg(role.field),
                    role.field, role.page);
            else if (!oldValue.isNull())
                add(Kind::SignatureValue,
                    QStringLiteral("o valor da assinatura \"%1\" foi redefinido").arg(role.field),
                    role.field, role.page);
            else if (newValue.getKey("/Type").isNameAndEquals("/DocTimeStamp"))
                add(Kind::DocumentTimeStamp,
                    QStringLiteral("carimbo do tempo do documento no campo \"%1\"").arg(role.field),
                    role.field, role.page);
            else
                add(Kind::Signature,
                    QStringLiteral("assinatura no campo vazio \"%1\"").arg(role.field), role.field,
                    role.page);
        }
        if (differingKeys(before, after, {})
                .filter(QRegularExpression("^/(AP|AS|MK|DA|F)$"))
                .size()) {
            PdfChange& change =
                add(signature ? Kind::Signature : Kind::FormFill,
                    QStringLiteral("aparência do campo \"%1\" alterada").arg(role.field),
                    role.field, role.page);
            change.coversContent = coversContent(after, role.page);
        }
    }

    // Fields added to the form (or under a field): a new field's widget
    // is seen again on its page, where it is placed.
    void form(QPDFObjectHandle before, QPDFObjectHandle after)
    {
        if (before.isDictionary() || after.isDictionary()) {
            const QStringList other = differingKeys(
                before, after, {"/Fields", "/SigFlags", "/DR", "/DA", "/NeedAppearances"});
            if (!other.isEmpty())
                add(Kind::Redefined,
                    QStringLiteral("formulário redefinido: %1").arg(other.join(", ")));
            before = before.getKey("/Fields");
            after = after.getKey("/Fields");
        }
        const std::vector<QPDFObjGen> old = identities(before);
        const std::set<QPDFObjGen> oldSet(old.begin(), old.end());
        for (QPDFObjectHandle item : after.aitems()) {
            if (item.isIndirect() && oldSet.count(item.getObjGen()))
                continue;
            const bool signature = item.getKey("/FT").isNameAndEquals("/Sig");
            QPDFObjectHandle value = item.getKey("/V");
            const Kind kind = !signature ? Kind::NewFormField
                              : value.getKey("/Type").isNameAndEquals("/DocTimeStamp")
                                  ? Kind::DocumentTimeStamp
                                  : Kind::NewSignatureField;
            const QString name = textOf(item.getKey("/T"));
            add(kind, fieldDetail(kind, name, 0), name);
        }
    }

    void appearance(const RoleOf& role)
    {
        const RoleOf* owner = roles_.find(role.owner);
        QPDFObjectHandle annotation = after_.getObjectByObjGen(role.owner);
        if (owner && owner->role == Role::Field) {
            PdfChange& change =
                add(Kind::FormFill,
                    QStringLiteral("aparência do campo \"%1\" alterada").arg(owner->field),
                    owner->field, role.page);
            change.coversContent = coversContent(annotation, role.page);
            return;
        }
        PdfChange& change =
            add(Kind::Annotation,
                QStringLiteral("aparência de anotação alterada na página %1").arg(role.page), {},
                role.page);
        change.coversContent = coversContent(annotation, role.page);
    }

    // Whether the annotation's appearance, shown, lies over text or images
    // the page held in the earlier revision.
    bool coversContent(QPDFObjectHandle annotation, int number)
    {
        static const std::set<std::string> kNotPainting = {
            "/Popup", "/Link", "/Text", "/Highlight", "/Underline", "/StrikeOut", "/Squiggly"};
        if (!annotation.isDictionary() || !annotation.getKey("/AP").getKey("/N").isInitialized() ||
            annotation.getKey("/AP").getKey("/N").isNull())
            return false;
        const std::string subtype =
            annotation.getKey("/Subtype").isName() ? annotation.getKey("/Subtype").getName() : "";
        const long long flags =
            annotation.getKey("/F").isInteger() ? annotation.getKey("/F").getIntValue() : 0;
        if (kNotPainting.count(subtype) || (flags & (2 | 32)) != 0)
            return false;
        const QRectF rect = rectangleOf(annotation.getKey("/Rect"));
        if (rect.width() <= 0 || rect.height() <= 0 || number <= 0 ||
            number > static_cast<int>(roles_.pages().size()))
            return false;
        auto found = regions_.find(number);
        if (found == regions_.end())
            found = regions_.emplace(number, paintedRegions(roles_.pages()[number - 1])).first;
        return std::any_of(found->second.begin(), found->second.end(), [&](const QRectF& painted) {
            const QRectF overlap = painted.intersected(rect);
            return overlap.width() > 0 && overlap.height() > 0;
        });
    }

    QPDF& before_;
    QPDF& after_;
    int revision_;
    Roles roles_;
    std::map<int, std::vector<QRectF>> regions_;
    std::vector<PdfChange> changes_;
};

// The same change told twice (a new field seen in the form and on its page).
void dropRepeats(std::vector<PdfChange>& changes)
{
    std::vector<PdfChange> kept;
    for (PdfChange& change : changes) {
        const auto same = std::find_if(kept.begin(), kept.end(), [&](const PdfChange& k) {
            return k.revision == change.revision && k.kind == change.kind &&
                   k.field == change.field && !change.field.isEmpty();
        });
        if (same == kept.end()) {
            kept.push_back(std::move(change));
        } else {
            same->coversContent |= change.coversContent;
            same->page = std::max(same->page, change.page);
        }
    }
    changes = std::move(kept);
}

} // namespace

std::vector<PdfChange> changesAfter(sig::MessageInput& input, const std::vector<RevisionEnd>& ends,
                                    int firstSigned)
{
    std::vector<PdfChange> changes;
    const int count = static_cast<int>(ends.size());
    if (count - firstSigned > kMaxComparedRevisions)
        throw PdfError(QStringLiteral("o PDF tem revisões demais depois da assinatura"));
    if (firstSigned >= 1 && firstSigned < count) {
        std::unique_ptr<QPDF> before = openRevision(input, ends[firstSigned - 1].end);
        for (int revision = firstSigned + 1; revision <= count; ++revision) {
            std::unique_ptr<QPDF> after = openRevision(input, ends[revision - 1].end);
            try {
                std::vector<PdfChange> found = Comparison(*before, *after, revision).run();
                changes.insert(changes.end(), found.begin(), found.end());
            } catch (const PdfError&) {
                throw;
            } catch (const std::exception& error) {
                throw PdfError(QStringLiteral("a revisão %1 do PDF está danificada (%2)")
                                   .arg(revision)
                                   .arg(QString::fromStdString(error.what()).left(200)));
            }
            before = std::move(after);
        }
    }
    const qint64 size = input.size();
    if (!ends.empty() && ends.back().end < size) {
        QByteArray rest(std::min<qint64>(size - ends.back().end, 4096), '\0');
        const qint64 got = input.read(ends.back().end, rest.data(), rest.size());
        if (got > 0 && rest.left(got).trimmed().size() > 0)
            changes.push_back({count,
                               Kind::TrailingData,
                               QStringLiteral("%1 bytes após o fim da última revisão")
                                   .arg(size - ends.back().end),
                               {},
                               0,
                               false});
    }
    dropRepeats(changes);
    return changes;
}

} // namespace selavia::pdf
