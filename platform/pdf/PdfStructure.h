#pragma once

// The parts of a PDF's structure more than one reader walks: revision
// ends, form fields and the pages annotations sit on. Bounded walks.

#include <QString>
#include <map>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <string>
#include <vector>

namespace selavia::pdf {

// Where a revision ends: just after its "%%EOF", and after the end of line
// that may follow it.
struct RevisionEnd {
    qint64 eof = 0;
    qint64 end = 0;
};

struct Field {
    mutable QPDFObjectHandle handle; // qpdf reads objects in through const-less calls
    QString name;                    // full name, parts joined by '.'
    std::string type;                // "/Sig", "/Tx", …, inherited; empty when none
};

// Every terminal field of the form, in the form's order. Throws PdfError
// past the number of fields any form holds.
std::vector<Field> fieldsOf(QPDF& pdf);
// Every node of the field tree, terminal or not, with its full name and type.
std::vector<Field> fieldNodesOf(QPDF& pdf);

// The page (from 1) of every page object and of every annotation on a page.
std::map<QPDFObjGen, int> annotationPages(QPDF& pdf, int& pageCount);

QString textOf(QPDFObjectHandle value);
QString nameOf(QPDFObjectHandle value);

} // namespace selavia::pdf
