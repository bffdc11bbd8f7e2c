// selavia-window-bench --document FILE   the document window on FILE
// selavia-window-bench --bare            a bare window with a 50-item tree
// Either way the program ends right after the window's first full paint, so
// timing the whole process measures start-up to first paint.

#include "app/FrmOpen.h"

#include <QApplication>
#include <QTimer>
#include <QTreeWidget>
#include <cstdio>
#include <cstdlib>
#include <functional>

// Under callgrind the first paint ends a part of the profile, so that
// tools/bench/run can count the instructions up to it (noise-free, unlike
// times on a shared machine). A no-op otherwise.
#if __has_include(<valgrind/callgrind.h>)
#include <valgrind/callgrind.h>
#define SELAVIA_MARK_FIRST_PAINT() CALLGRIND_DUMP_STATS_AT("first paint")
#else
#define SELAVIA_MARK_FIRST_PAINT()
#endif

namespace {

// Message boxes would wait for a person; the benchmark has none.
class UnattendedDesktop : public selavia::desktop::QtDesktop {
public:
    void message(QWidget*, selavia::desktop::MessageIcon, const QString&, const QString&) override
    {
    }
    void endProgram() override {}
};

// Quits once `window` has painted what the user waits for: for the document
// window, the verified document or its error, not the busy panel before.
class FirstPaint : public QObject {
public:
    explicit FirstPaint(
        QWidget* window, std::function<bool()> ready = [] { return true; })
        : ready_(std::move(ready))
    {
        window->installEventFilter(this);
    }
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint && !painted_ && ready_()) {
            painted_ = true;
            SELAVIA_MARK_FIRST_PAINT();
            // Out at once when the paint is done: work queued for after it
            // (the file-type icons) is not what a person waits for, and a
            // quit would let timers due in the same pass run first.
            QTimer::singleShot(0, qApp, [] {
                std::fflush(nullptr);
                std::_Exit(0);
            });
        }
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<bool()> ready_;
    bool painted_ = false;
};

} // namespace

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() >= 2 && arguments[1] == QLatin1String("--bare")) {
        QTreeWidget tree;
        tree.resize(560, 500);
        auto* root = new QTreeWidgetItem(&tree, {QStringLiteral("Certificados e Assinaturas")});
        for (int i = 0; i < 49; ++i)
            new QTreeWidgetItem(root, {QStringLiteral("Nó %1").arg(i)});
        tree.expandAll();
        FirstPaint watch(&tree);
        tree.show();
        return application.exec();
    }
    if (arguments.size() != 3 || arguments[1] != QLatin1String("--document")) {
        std::fprintf(stderr, "uso: selavia-window-bench --bare | --document ARQUIVO\n");
        return 64;
    }
    // What the program does before its first window.
    selavia::desktop::installTranslations(application);
    selavia::desktop::useIconThemeFallbacks();
    UnattendedDesktop desktop;
    selavia::app::FrmOpen window(desktop, selavia::signature::TrustStore::systemDefault());
    // The load ends by painting the window with everything set but the two
    // file-type icons, which follow: the window a person waits for.
    FirstPaint watch(&window, [&window] {
        const QWidget* busy = window.findChild<QWidget*>(QStringLiteral("FrmLoading"));
        return busy != nullptr && !busy->isVisible();
    });
    window.Form_Load(arguments[2]);
    return application.exec();
}
