#pragma once

#include <QPointer>
#include <QWidget>

namespace selavia::app {

// The legend of the four certificate pictures of the signature tree. While
// it is open the document window takes no input; closing it gives the
// document window its input back.
class zFrmLegenda : public QWidget {
    Q_OBJECT

public:
    // `documentWindow` is enabled again when the legend closes.
    explicit zFrmLegenda(QWidget* documentWindow);

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void Form_Unload();

    QPointer<QWidget> documentWindow_;
};

} // namespace selavia::app
