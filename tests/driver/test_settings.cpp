// The settings string parser: what opens a port and what does not.
#include "settings.h"

#include <QTest>

#include <string>

using rscom::Parity;

class TestSettings : public QObject
{
    Q_OBJECT

private slots:
    void accepted_data();
    void accepted();
    void refused_data();
    void refused();
    void refusesNullAndOverlongText();
};

void TestSettings::accepted_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("port");
    QTest::addColumn<int>("baud");
    QTest::addColumn<int>("parity");
    QTest::addColumn<int>("dataBits");
    QTest::addColumn<int>("stopBits");

    QTest::newRow("the program's") << "COM1,1200,N,8,1" << 1 << 1200 << int(Parity::None) << 8 << 1;
    QTest::newRow("COM5") << "COM5,1200,N,8,1" << 5 << 1200 << int(Parity::None) << 8 << 1;
    QTest::newRow("highest port") << "COM255,9600,E,7,2" << 255 << 9600 << int(Parity::Even) << 7
                                  << 2;
    QTest::newRow("odd") << "COM2,300,O,5,1" << 2 << 300 << int(Parity::Odd) << 5 << 1;
    QTest::newRow("mark") << "COM3,115200,M,6,2" << 3 << 115200 << int(Parity::Mark) << 6 << 2;
    QTest::newRow("space") << "COM4,1,S,8,1" << 4 << 1 << int(Parity::Space) << 8 << 1;
    QTest::newRow("largest baud") << "COM1,2147483647,N,8,1" << 1 << 2147483647 << int(Parity::None)
                                  << 8 << 1;
}

void TestSettings::accepted()
{
    QFETCH(QString, text);
    const auto s = rscom::parseSettings(text.toLatin1().constData());
    QVERIFY(s.has_value());
    QFETCH(int, port);
    QFETCH(int, baud);
    QFETCH(int, parity);
    QFETCH(int, dataBits);
    QFETCH(int, stopBits);
    QCOMPARE(s->port, port);
    QCOMPARE(s->baud, baud);
    QCOMPARE(int(s->parity), parity);
    QCOMPARE(s->dataBits, dataBits);
    QCOMPARE(s->stopBits, stopBits);
}

void TestSettings::refused_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("empty") << "";
    QTest::newRow("name only") << "COM1";
    QTest::newRow("port 0") << "COM0,1200,N,8,1";
    QTest::newRow("port 256") << "COM256,1200,N,8,1";
    QTest::newRow("port leading zero") << "COM01,1200,N,8,1";
    QTest::newRow("no port number") << "COM,1200,N,8,1";
    QTest::newRow("lower case name") << "com1,1200,N,8,1";
    QTest::newRow("other name") << "LPT1,1200,N,8,1";
    QTest::newRow("baud 0") << "COM1,0,N,8,1";
    QTest::newRow("negative baud") << "COM1,-1200,N,8,1";
    QTest::newRow("baud overflows") << "COM1,2147483648,N,8,1";
    QTest::newRow("baud leading zero") << "COM1,01200,N,8,1";
    QTest::newRow("baud not a number") << "COM1,fast,N,8,1";
    QTest::newRow("unknown parity") << "COM1,1200,X,8,1";
    QTest::newRow("lower case parity") << "COM1,1200,n,8,1";
    QTest::newRow("parity word") << "COM1,1200,NO,8,1";
    QTest::newRow("4 data bits") << "COM1,1200,N,4,1";
    QTest::newRow("9 data bits") << "COM1,1200,N,9,1";
    QTest::newRow("0 stop bits") << "COM1,1200,N,8,0";
    QTest::newRow("3 stop bits") << "COM1,1200,N,8,3";
    QTest::newRow("1.5 stop bits") << "COM1,1200,N,8,1.5";
    QTest::newRow("missing stop bits") << "COM1,1200,N,8";
    QTest::newRow("missing field") << "COM1,1200,N,,1";
    QTest::newRow("trailing comma") << "COM1,1200,N,8,1,";
    QTest::newRow("trailing text") << "COM1,1200,N,8,1x";
    QTest::newRow("spaces") << "COM1, 1200, N, 8, 1";
    QTest::newRow("leading space") << " COM1,1200,N,8,1";
    QTest::newRow("Windows mode syntax") << "COM1:1200,N,8,1";
}

void TestSettings::refused()
{
    QFETCH(QString, text);
    QVERIFY(!rscom::parseSettings(text.toLatin1().constData()).has_value());
}

void TestSettings::refusesNullAndOverlongText()
{
    QVERIFY(!rscom::parseSettings(nullptr).has_value());

    // Valid in form, but longer than any settings string can be.
    std::string padded = "COM1,";
    padded += std::string(static_cast<size_t>(rscom::kMaxSettingsLength), '0');
    padded += "1200,N,8,1";
    QVERIFY(!rscom::parseSettings(padded.c_str()).has_value());
}

QTEST_APPLESS_MAIN(TestSettings)
#include "test_settings.moc"
