#pragma once

// The welcome window: shown when the program starts without a document. It
// presents the product and lets the user pick a signed file, which it hands
// to the document window.

#include "platform/desktop/Desktop.h"

#include <QString>
#include <QWidget>
#include <functional>
#include <memory>

class QLabel;

namespace selavia::app {

// The maker's name and web address, as the welcome window shows and opens them.
inline constexpr char kMakerName[] = "Selavia Tecnologia";
inline constexpr char kWebAddress[] = "https://selavia.example/";

// "Selavia Reader 2.1.6": the welcome window's caption once it has loaded.
QString versionCaption(int major, int minor, int revision);
// "v.2.1.6": the small version text beside the title.
QString versionText(int major, int minor, int revision);

class FrmMain : public QWidget {
    Q_OBJECT

public:
    // The controls, by their designer names.
    struct Ui;

    // `openDocument` shows the document window on the chosen file; it is
    // called once this window has closed.
    FrmMain(desktop::Desktop& desktop,
            std::function<void(const QString& documentPath)> openDocument,
            QWidget* parent = nullptr);
    ~FrmMain() override;

    // Puts the program's version into the caption and beside the title.
    void Form_Load();

protected:
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void Command1_Click();
    void Command2_Click();
    // A file chosen in the open dialog or dropped on the window: this window
    // closes and the document window opens it.
    void openChosen(const QString& path);
    void Form_MouseMove();
    void Form_Unload();
    void Label2_MouseMove();
    void Label11_MouseMove();
    void openWebAddress();

    desktop::Desktop& desktop_;
    std::function<void(const QString&)> openDocument_;
    std::unique_ptr<Ui> ui_;
    // Set when a document was chosen: closing then hands over instead of ending.
    bool handingOff_ = false;
    bool unloaded_ = false;
    bool centred_ = false;
};

} // namespace selavia::app
