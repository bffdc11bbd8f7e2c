#pragma once

// What a PDF says of its signatures and of what changed after each one:
// facts read from the file, judged by nobody here.

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

namespace selavia::pdf {

enum class SignatureKind { Signature, DocumentTimeStamp };

// What a field lock (/FieldMDP, or a field's /Lock) names.
struct FieldLock {
    enum class Action { All, Include, Exclude } action = Action::All;
    QStringList fields; // full names, for Include and Exclude
};

// One signature field's value, or a document time-stamp, as the file holds it.
struct PdfSignature {
    QString field; // the field's full name ("Assinatura1", "form.sig")
    SignatureKind kind = SignatureKind::Signature;
    QString subFilter; // as written, e.g. "adbe.pkcs7.detached"
    // A form this program reads (adbe.pkcs7.detached, ETSI.CAdES.detached,
    // ETSI.RFC3161); the others are listed, never verified.
    bool supported = true;
    std::vector<qint64> byteRange; // as written
    QByteArray contents;           // the /Contents string's bytes (the CMS and its padding)
    QString signingTime;           // /M as written ("D:20250101120000-03'00'")
    QDateTime signingTimeUtc;      // /M read, UTC; invalid when absent or unreadable
    QString reason, location, name;
    // The revision (from 1) whose end the range ends at; 0 when it ends at none.
    int revision = 0;
    bool coversWholeDocument = false;
    // What is wrong with the range, Portuguese, one line each; empty when it
    // starts at 0, skips exactly this dictionary's /Contents string and ends
    // at the end of a revision.
    QStringList coverageProblems;
    // This signature certifies the document at this /P (1, 2 or 3).
    std::optional<int> certificationLevel;
    // Fields this signature locks once it is made.
    std::optional<FieldLock> lock;
    // Where the signature's widget is shown: page (from 1), 0 when none.
    int page = 0;
};

// One change a later revision made, as found comparing it with the one before.
struct PdfChange {
    enum class Kind {
        Dss,               // a DSS dictionary or its VRI added or extended
        DocumentTimeStamp, // a document time-stamp into a field
        Signature,         // a signature into a field that was empty
        NewSignatureField, // a signature field (and its widget) created
        FormFill,          // a form field's value or appearance
        NewFormField,      // a form field other than a signature created
        Annotation,        // an annotation added, changed or removed
        Metadata,          // the document information or its XMP metadata
        PageContent,       // a page's content, resources or boxes changed
        Pages,             // pages added, removed or reordered
        Catalog,           // the document catalogue changed beyond DSS and forms
        Redefined,         // an object redefined that is none of the above
        Freed,             // an object removed
        SignatureValue,    // a signature already made was redefined
        TrailingData,      // bytes after the last revision, shown by nothing
    };
    int revision = 0; // the revision (from 1) that made it
    Kind kind = Kind::Redefined;
    QString detail; // Portuguese: what and where
    QString field;  // the field it touches, when it touches one
    int page = 0;   // the page it touches, from 1; 0 when none
    // An annotation or appearance whose rectangle covers text or images the
    // page held before this revision.
    bool coversContent = false;
};

// Revocation evidence the document carries in its DSS dictionary (DER).
struct DocumentEvidence {
    std::vector<QByteArray> certificates;
    std::vector<QByteArray> crls;
    std::vector<QByteArray> ocsp;
};

struct PdfDocument {
    qint64 size = 0;
    std::vector<qint64> revisionEnds; // each revision's end, %%EOF and its end of line included
    std::optional<int> certificationLevel;
    bool dss = false;
    DocumentEvidence evidence;
    std::vector<PdfSignature> signatures; // in signing order
    // Forms of signature this program does not read (old PKCS#1 forms,
    // unknown sub-filters): field name and sub-filter.
    QStringList unsupported;
    std::vector<PdfChange> changes; // every change after the first signed revision
    int pageCount = 0;
};

// "fluxo", "página" and the like, one word per kind, for JSON and text.
QString changeKindName(PdfChange::Kind kind);

} // namespace selavia::pdf
