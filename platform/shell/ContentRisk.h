#pragma once

// Whether opening a document with the program the desktop associates with
// it may do more than show it: the content's type, found in its bytes, and
// the type its name claims, from the shared MIME database.

#include <QByteArrayView>
#include <QString>

namespace selavia::shell {

enum class ContentRisk {
    None,
    Executable, // a program: ELF, Windows, Mach-O, Java
    Script,     // commands for an interpreter or a command shell
    Launcher,   // a desktop entry or a shortcut that starts a program
    Installer,  // a package that installs programs
    Macros,     // an office document made to carry macros
    Mismatch,   // the bytes are of another type than the name says
};

struct ContentAssessment {
    ContentRisk risk = ContentRisk::None;
    // What gave the risk away: the type's description, or the extension.
    QString finding;
    // For a mismatch: the descriptions of the type found and of the type named.
    QString contentType;
    QString nameType;
};

// How many leading bytes of the content assessContent wants.
inline constexpr qsizetype kContentHeadSize = 64 * 1024;

// Judges the content whose first bytes are `head`, to be opened under the
// name `fileName`. Plain text and unrecognised bytes contradict no name.
ContentAssessment assessContent(QByteArrayView head, const QString& fileName);

// The question put to the user before opening `fileName` anyway; empty for
// ContentRisk::None.
QString contentWarning(const ContentAssessment& assessment, const QString& fileName);

} // namespace selavia::shell
