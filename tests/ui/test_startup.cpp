// Start-up when the port driver cannot be loaded: the program says so and
// ends with status 1, and nothing else runs. The real start-up runs in a
// child process of this test.
#include "startup.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QProcess>
#include <QTest>
#include <QTimer>

#include <cstdio>
#include <cstring>

namespace
{

// In the child: reports the first message box, and any other window shown,
// then answers it.
void answerBoxes()
{
    auto *poll = new QTimer(qApp);
    QObject::connect(poll, &QTimer::timeout, [] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (box == nullptr) return;
        std::printf("box: %s | %s | %d\n", qPrintable(box->windowTitle()), qPrintable(box->text()),
                    static_cast<int>(box->icon()));
        for (QWidget *w : QApplication::topLevelWidgets()) {
            if (w != box && w->isVisible())
                std::printf("window: %s\n", qPrintable(w->windowTitle()));
        }
        std::fflush(stdout);
        box->button(QMessageBox::Ok)->click();
    });
    poll->start(10);
}

} // namespace

class TestStartup : public QObject
{
    Q_OBJECT

private slots:
    void driverFailure_data();
    void driverFailure();
};

void TestStartup::driverFailure_data()
{
    QTest::addColumn<QString>("libraryPath");
    QTest::addColumn<QString>("reason");
    QTest::newRow("missing library") << QString() << "cannot open shared object file";
    QTest::newRow("missing entry")
        << QStringLiteral(LINTARA_FAKE_DRIVER_WITHOUT_OPENCOM_DIR) << "undefined symbol: OPENCOM";
}

void TestStartup::driverFailure()
{
    QFETCH(QString, libraryPath);
    QFETCH(QString, reason);
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LD_LIBRARY_PATH"), libraryPath);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--start")});
    QVERIFY(child.waitForFinished(20000));
    const QString out = QString::fromUtf8(child.readAllStandardOutput());

    QCOMPARE(child.exitStatus(), QProcess::NormalExit);
    QCOMPARE(child.exitCode(), 1);
    QVERIFY2(
        out.startsWith(QStringLiteral("box: Lintara | Ovladač portů nelze načíst: librscom.so")),
        qPrintable(out));
    QVERIFY2(out.contains(reason), qPrintable(out));
    QVERIFY2(out.contains(QStringLiteral("| %1\n").arg(int(QMessageBox::Critical))),
             qPrintable(out));
    // One box, and no window shown before or after it.
    QCOMPARE(out.count(QStringLiteral("box:")), 1);
    QVERIFY2(!out.contains(QStringLiteral("window:")), qPrintable(out));
}

int main(int argc, char *argv[])
{
    if (argc > 1 && std::strcmp(argv[1], "--start") == 0) {
        qAddPreRoutine(answerBoxes);
        return Startup::run(argc, argv);
    }
    QApplication app(argc, argv);
    TestStartup test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_startup.moc"
