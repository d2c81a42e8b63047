// Bad entries in the port, speed and address boxes: letters, blanks, signs,
// fractions, 40-digit numbers, 100 kB of pasted text, Hangul, control
// characters. The port either opens or shows the one failure text; an
// address always goes out as two bytes in a request of its fixed length.

#include "tests/faults/fault_support.h"
#include "tests/faults/scripted_line.h"

#include <QElapsedTimer>
#include <QTest>

using namespace rio::faults;
using namespace std::string_literals;

namespace {

const QString k40Digits = QStringLiteral("1234567890123456789012345678901234567890");

// What pasting does: the box's text replaced by the clipboard's, with the
// box's change handler run.
void paste(QLineEdit* box, const QString& text) {
    box->selectAll();
    box->insert(text);
}

} // namespace

class TestFaultEntries : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { RIO_SKIP_WITHOUT_PSEUDO_TERMINAL(); }

    void portAndSpeedBoxes_data() {
        QTest::addColumn<QString>("port");
        QTest::addColumn<QString>("speed");
        QTest::addColumn<bool>("opens");
        QTest::newRow("port: letters") << "abc"
                                       << "9600" << false;
        QTest::newRow("port: blank") << ""
                                     << "9600" << false;
        QTest::newRow("port: blanks around") << " 1 "
                                             << "9600" << true;
        QTest::newRow("port: plus sign") << "+1"
                                         << "9600" << true;
        QTest::newRow("port: minus sign") << "-1"
                                          << "9600" << false;
        QTest::newRow("port: fraction") << "1.5"
                                        << "9600" << false;
        QTest::newRow("port: 40 digits") << k40Digits << "9600" << false;
        QTest::newRow("port: 100 kB of text") << QString(100000, QChar('x')) << "9600" << false;
        QTest::newRow("port: 100 kB of digits") << QString(100000, QChar('1')) << "9600" << false;
        QTest::newRow("port: Hangul") << QString::fromUtf8("일") << "9600" << false;
        QTest::newRow("speed: letters") << "1"
                                        << "fast" << false;
        QTest::newRow("speed: blank") << "1"
                                      << "" << false;
        QTest::newRow("speed: blanks around") << "1"
                                              << " 9600 " << true;
        QTest::newRow("speed: plus sign") << "1"
                                          << "+9600" << true;
        QTest::newRow("speed: minus sign") << "1"
                                           << "-9600" << false;
        QTest::newRow("speed: zero") << "1"
                                     << "0" << false;
        QTest::newRow("speed: fraction") << "1"
                                         << "9600.5" << false;
        QTest::newRow("speed: 40 digits") << "1" << k40Digits << false;
        QTest::newRow("speed: 100 kB of text") << "1" << QString(100000, QChar('9')) << false;
        QTest::newRow("speed: control characters") << "1" << QStringLiteral("96\x01\x02") << false;
    }
    void portAndSpeedBoxes() {
        QFETCH(QString, port);
        QFETCH(QString, speed);
        QFETCH(bool, opens);
        ScriptedLine line;
        PanelOn panel(line.path());
        rio::panel::Form1& form = *panel.form;
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        paste(form.Text7, port);
        paste(form.Text8, speed);
        QTest::mouseClick(form.Command2, Qt::LeftButton);
        if (opens) {
            QCOMPARE(form.Label3->text(),
                     QStringLiteral("Port No:") + port + QStringLiteral("   Speed:") + speed);
            QVERIFY(form.MSComm1->portOpen());
            form.ReadBoard1();
            QCOMPARE(form.Label2[0]->text(), QStringLiteral("#1 Read OK"));
        } else {
            QCOMPARE(form.Label3->text(), kPortFailure);
            QVERIFY(!form.MSComm1->portOpen());
            QCOMPARE(line.requests(), 0);
        }
        // Polling a port that did not open shows no answer, every board.
        QTest::mouseClick(form.Command5, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!form.Label2[2]->text().isEmpty(), 5000);
        form.Command6_Click();
        QTRY_COMPARE_WITH_TIMEOUT(form.tickNesting(), 0, 5000);
        QCOMPARE(form.ReadBusy, 0);
        QCOMPARE(form.WriteBusy, 0);
    }

    // A number that is valid however long it is typed: 100 kB of leading
    // zeros before the 1. The status line repeats the box's text; the window
    // must not freeze over it.
    void hundredKilobytePortNumberThatOpens() {
        ScriptedLine line;
        PanelOn panel(line.path());
        rio::panel::Form1& form = *panel.form;
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        paste(form.Text7, QString(100000, QChar('0')) + QChar('1'));
        QElapsedTimer took;
        took.start();
        QTest::mouseClick(form.Command2, Qt::LeftButton);
        form.repaint();
        qInfo("Initialize with a 100 kB port number and a repaint: %lld ms", took.elapsed());
        QVERIFY(took.elapsed() < 5000);
        QVERIFY(form.MSComm1->portOpen());
        QVERIFY(form.Label3->text().startsWith(QStringLiteral("Port No:000")));
    }

    void addressBoxes_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<std::string>("address"); // the two bytes on the line
        QTest::newRow("Hangul") << QString::fromUtf8("가나") << "??"s;
        QTest::newRow("Hangul after a digit") << QString::fromUtf8("1가") << "1?"s;
        QTest::newRow("control characters") << QStringLiteral("\x01\x1F") << "\x01\x1F"s;
        QTest::newRow("ENQ and EOT") << QStringLiteral("\x05\x04") << "\x05\x04"s;
        QTest::newRow("NUL") << QString(QChar(0)) << "0\0"s;
        QTest::newRow("Latin-1 letters") << QString::fromUtf8("éÿ") << "\xE9\xFF"s;
        QTest::newRow("emoji, two UTF-16 units") << QString::fromUtf8("\U0001F600") << "0?"s;
        QTest::newRow("100 kB ending in 07") << QString(100000, QChar('x')) + "07"
                                             << "07"s;
        QTest::newRow("100 kB of Hangul") << QString(100000, QChar(0xAC00)) << "??"s;
        QTest::newRow("blank") << QString() << "00"s;
    }
    void addressBoxes() {
        QFETCH(QString, typed);
        QFETCH(std::string, address);
        ScriptedLine line;
        PanelOn panel(line.path());
        rio::panel::Form1& form = *panel.form;
        form.show();
        QTest::mouseClick(form.Command2, Qt::LeftButton);
        paste(form.Text9, typed);
        QCOMPARE(form.BoardAddr1, address);
        form.ReadBoard1();
        form.WriteBoard1();
        // Exactly the two requests, each at its fixed length.
        QTRY_COMPARE_WITH_TIMEOUT(line.received().size(), std::size_t(5 + 13), 5000);
        QCOMPARE(line.received(), "\x05" + address + "R\x04" + "\x05" + address + "W00000000\x04");
        // No board has that address: no answer, nothing worse.
        QVERIFY(form.Label2[0]->text().contains(kNoAnswer));
        QCOMPARE(form.ReadBusy, 0);
        QCOMPARE(form.WriteBusy, 0);
    }
};

QTEST_MAIN(TestFaultEntries)
#include "test_fault_entries.moc"
