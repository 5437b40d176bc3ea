#include "startup.h"

#include "form2.h"
#include "look.h"
#include "modul1.h"
#include "registry.h"

#include <QApplication>
#include <QIcon>
#include <QMessageBox>

#include <cstdio>
#include <cstdlib>

namespace Startup
{

int run(int &argc, char **argv)
{
    QApplication app(argc, argv);
    prepare();
    // The windows decide when the program ends, and between the chooser and
    // the monitor there is a moment with no window at all.
    QApplication::setQuitOnLastWindowClosed(false);
    Modul1::setFailureHandler(driverFailed);

    Registry::show(Registry::get<Form2>());
    const int status = QApplication::exec();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return status;
}

void prepare()
{
    QApplication::setApplicationName(Look::kProductName);
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/lintara/lintara.png")));
    Look::installFonts();
}

void driverFailed(const QString &library, const QString &reason)
{
    QMessageBox box(QMessageBox::Critical, Look::kProductName,
                    QStringLiteral("Ovladač portů nelze načíst: %1\n\n%2").arg(library, reason),
                    QMessageBox::Ok);
    box.exec();
    std::fflush(nullptr);
    // Nothing of the program runs after this, not even its destructors.
    std::_Exit(1);
}

} // namespace Startup
