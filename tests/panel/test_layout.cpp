// The live window against a table written by hand from the layout tables:
// every control's name, index, kind, rectangle and caption; the tab order;
// the window's size and look.

#include "panel/colours.h"
#include "panel/controls.h"
#include "panel/form1.h"
#include "panel/icon.h"
#include "tests/support/fake_port.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QLabel>
#include <QLineEdit>
#include <QTest>

using rio::panel::Form1;
using rio::panel::GraphicButton;
using rio::panel::Rule;
using rio::panel::Shape;

namespace {

enum class Kind { Label, Frame, Analog, Entry, Button, Indicator, Shape, Line };

// Rectangles in twips; a line's row holds its two end points and its width.
struct Row {
    QString name;
    Kind kind;
    int left, top, width, height; // for a line: x1, y1, x2, y2
    QString caption;
    int lineWidth = 0;
};

QString nm(const char* name, int index) {
    return QStringLiteral("%1_%2").arg(QString::fromLatin1(name)).arg(index);
}

// Every control of the window, written out from the layout tables: board 1
// at origin (120, 120), boards 2 and 3 the same panel 3360 and 6720 twips to
// the right with their own names, and the command strip. Members of an index
// array are named NAME_INDEX.
std::vector<Row> expectedControls() {
    return {
        // board 1
        {"Shape1", Kind::Shape, 120, 120, 3255, 5175, ""},
        {"Label1_11", Kind::Label, 240, 240, 3015, 375, "IO BOARD #1"},
        {"Label1_10", Kind::Label, 240, 720, 1455, 255, "Address"},
        {"Text9", Kind::Entry, 1800, 720, 1455, 270, ""},
        {"Line1", Kind::Line, 120, 1080, 3360, 1080, "", 2},
        {"Label1_4", Kind::Label, 240, 1200, 975, 255, "INPUT"},
        {"Label1_0", Kind::Label, 240, 1560, 975, 255, "Send Data"},
        {"Text1", Kind::Frame, 1200, 1560, 2055, 270, ""},
        {"Label1_1", Kind::Label, 240, 1920, 975, 255, "Read Data"},
        {"Text2", Kind::Frame, 1200, 1920, 2055, 270, ""},
        {"Label1_6", Kind::Label, 240, 2760, 975, 255, "AD1"},
        {"Text5", Kind::Analog, 1200, 2760, 1095, 270, ""},
        {"Label1_7", Kind::Label, 240, 3120, 975, 255, "AD2"},
        {"Text6", Kind::Analog, 1200, 3120, 1095, 270, ""},
        {"Line2", Kind::Line, 120, 3600, 3360, 3600, "", 1},
        {"Label1_5", Kind::Label, 240, 3720, 975, 255, "OUTPUT"},
        {"Label1_2", Kind::Label, 240, 4080, 975, 255, "Send Data"},
        {"Text3", Kind::Frame, 1200, 4080, 2055, 270, ""},
        {"Label1_3", Kind::Label, 240, 4440, 975, 255, "Read Data"},
        {"Text4", Kind::Frame, 1200, 4440, 2055, 270, ""},
        {"Label2_0", Kind::Label, 120, 5400, 3255, 255, ""},
        {"Command3_0", Kind::Indicator, 2880, 2280, 255, 375, "1"},
        {"Command3_1", Kind::Indicator, 2640, 2280, 255, 375, "2"},
        {"Command3_2", Kind::Indicator, 2400, 2280, 255, 375, "3"},
        {"Command3_3", Kind::Indicator, 2160, 2280, 255, 375, "4"},
        {"Command3_4", Kind::Indicator, 1920, 2280, 255, 375, "5"},
        {"Command3_5", Kind::Indicator, 1680, 2280, 255, 375, "6"},
        {"Command3_6", Kind::Indicator, 1440, 2280, 255, 375, "7"},
        {"Command3_7", Kind::Indicator, 1200, 2280, 255, 375, "8"},
        {"Command4_0", Kind::Button, 2880, 4800, 255, 375, "1"},
        {"Command4_1", Kind::Button, 2640, 4800, 255, 375, "2"},
        {"Command4_2", Kind::Button, 2400, 4800, 255, 375, "3"},
        {"Command4_3", Kind::Button, 2160, 4800, 255, 375, "4"},
        {"Command4_4", Kind::Button, 1920, 4800, 255, 375, "5"},
        {"Command4_5", Kind::Button, 1680, 4800, 255, 375, "6"},
        {"Command4_6", Kind::Button, 1440, 4800, 255, 375, "7"},
        {"Command4_7", Kind::Button, 1200, 4800, 255, 375, "8"},
        // board 2
        {"Shape2", Kind::Shape, 3480, 120, 3255, 5175, ""},
        {"Label1_12", Kind::Label, 3600, 240, 3015, 375, "IO BOARD #2"},
        {"Label1_13", Kind::Label, 3600, 720, 1455, 255, "Address"},
        {"Text10", Kind::Entry, 5160, 720, 1335, 270, ""},
        {"Line4", Kind::Line, 3480, 1080, 6720, 1080, "", 2},
        {"Label1_17", Kind::Label, 3600, 1200, 975, 255, "INPUT"},
        {"Label1_21", Kind::Label, 3600, 1560, 975, 255, "Send Data"},
        {"Text16", Kind::Frame, 4560, 1560, 2055, 270, ""},
        {"Label1_20", Kind::Label, 3600, 1920, 975, 255, "Read Data"},
        {"Text15", Kind::Frame, 4560, 1920, 2055, 270, ""},
        {"Label1_15", Kind::Label, 3600, 2760, 975, 255, "AD1"},
        {"Text12", Kind::Analog, 4560, 2760, 1095, 270, ""},
        {"Label1_14", Kind::Label, 3600, 3120, 975, 255, "AD2"},
        {"Text11", Kind::Analog, 4560, 3120, 1095, 270, ""},
        {"Line3", Kind::Line, 3480, 3600, 6720, 3600, "", 1},
        {"Label1_16", Kind::Label, 3600, 3720, 975, 255, "OUTPUT"},
        {"Label1_19", Kind::Label, 3600, 4080, 975, 255, "Send Data"},
        {"Text14", Kind::Frame, 4560, 4080, 2055, 270, ""},
        {"Label1_18", Kind::Label, 3600, 4440, 975, 255, "Read Data"},
        {"Text13", Kind::Frame, 4560, 4440, 2055, 270, ""},
        {"Label2_1", Kind::Label, 3480, 5400, 3255, 255, ""},
        {"Command13_0", Kind::Indicator, 6240, 2280, 255, 375, "1"},
        {"Command13_1", Kind::Indicator, 6000, 2280, 255, 375, "2"},
        {"Command13_2", Kind::Indicator, 5760, 2280, 255, 375, "3"},
        {"Command13_3", Kind::Indicator, 5520, 2280, 255, 375, "4"},
        {"Command13_4", Kind::Indicator, 5280, 2280, 255, 375, "5"},
        {"Command13_5", Kind::Indicator, 5040, 2280, 255, 375, "6"},
        {"Command13_6", Kind::Indicator, 4800, 2280, 255, 375, "7"},
        {"Command13_7", Kind::Indicator, 4560, 2280, 255, 375, "8"},
        {"Command14_0", Kind::Button, 6240, 4800, 255, 375, "1"},
        {"Command14_1", Kind::Button, 6000, 4800, 255, 375, "2"},
        {"Command14_2", Kind::Button, 5760, 4800, 255, 375, "3"},
        {"Command14_3", Kind::Button, 5520, 4800, 255, 375, "4"},
        {"Command14_4", Kind::Button, 5280, 4800, 255, 375, "5"},
        {"Command14_5", Kind::Button, 5040, 4800, 255, 375, "6"},
        {"Command14_6", Kind::Button, 4800, 4800, 255, 375, "7"},
        {"Command14_7", Kind::Button, 4560, 4800, 255, 375, "8"},
        // board 3
        {"Shape3", Kind::Shape, 6840, 120, 3255, 5175, ""},
        {"Label1_22", Kind::Label, 6960, 240, 3015, 375, "IO BOARD #3"},
        {"Label1_23", Kind::Label, 6960, 720, 1455, 255, "Address"},
        {"Text17", Kind::Entry, 8520, 720, 1335, 270, ""},
        {"Line6", Kind::Line, 6840, 1080, 10080, 1080, "", 2},
        {"Label1_27", Kind::Label, 6960, 1200, 975, 255, "INPUT"},
        {"Label1_31", Kind::Label, 6960, 1560, 975, 255, "Send Data"},
        {"Text23", Kind::Frame, 7920, 1560, 2055, 270, ""},
        {"Label1_30", Kind::Label, 6960, 1920, 975, 255, "Read Data"},
        {"Text22", Kind::Frame, 7920, 1920, 2055, 270, ""},
        {"Label1_25", Kind::Label, 6960, 2760, 975, 255, "AD1"},
        {"Text19", Kind::Analog, 7920, 2760, 1095, 270, ""},
        {"Label1_24", Kind::Label, 6960, 3120, 975, 255, "AD2"},
        {"Text18", Kind::Analog, 7920, 3120, 1095, 270, ""},
        {"Line5", Kind::Line, 6840, 3600, 10080, 3600, "", 1},
        {"Label1_26", Kind::Label, 6960, 3720, 975, 255, "OUTPUT"},
        {"Label1_29", Kind::Label, 6960, 4080, 975, 255, "Send Data"},
        {"Text21", Kind::Frame, 7920, 4080, 2055, 270, ""},
        {"Label1_28", Kind::Label, 6960, 4440, 975, 255, "Read Data"},
        {"Text20", Kind::Frame, 7920, 4440, 2055, 270, ""},
        {"Label2_2", Kind::Label, 6840, 5400, 3255, 255, ""},
        {"Command23_0", Kind::Indicator, 9600, 2280, 255, 375, "1"},
        {"Command23_1", Kind::Indicator, 9360, 2280, 255, 375, "2"},
        {"Command23_2", Kind::Indicator, 9120, 2280, 255, 375, "3"},
        {"Command23_3", Kind::Indicator, 8880, 2280, 255, 375, "4"},
        {"Command23_4", Kind::Indicator, 8640, 2280, 255, 375, "5"},
        {"Command23_5", Kind::Indicator, 8400, 2280, 255, 375, "6"},
        {"Command23_6", Kind::Indicator, 8160, 2280, 255, 375, "7"},
        {"Command23_7", Kind::Indicator, 7920, 2280, 255, 375, "8"},
        {"Command24_0", Kind::Button, 9600, 4800, 255, 375, "1"},
        {"Command24_1", Kind::Button, 9360, 4800, 255, 375, "2"},
        {"Command24_2", Kind::Button, 9120, 4800, 255, 375, "3"},
        {"Command24_3", Kind::Button, 8880, 4800, 255, 375, "4"},
        {"Command24_4", Kind::Button, 8640, 4800, 255, 375, "5"},
        {"Command24_5", Kind::Button, 8400, 4800, 255, 375, "6"},
        {"Command24_6", Kind::Button, 8160, 4800, 255, 375, "7"},
        {"Command24_7", Kind::Button, 7920, 4800, 255, 375, "8"},
        // the command strip and the port status line
        {"Label1_8", Kind::Label, 10200, 120, 1215, 255, "COM PORT"},
        {"Text7", Kind::Entry, 10200, 480, 1215, 270, ""},
        {"Label1_9", Kind::Label, 10200, 960, 1215, 255, "SPEED"},
        {"Text8", Kind::Entry, 10200, 1320, 1215, 270, ""},
        {"Command2", Kind::Button, 10200, 1680, 1335, 615, "ComPort Initialize"},
        {"Command5", Kind::Button, 10200, 3240, 1335, 615, "START"},
        {"Command6", Kind::Button, 10200, 3960, 1335, 615, "STOP"},
        {"Command1", Kind::Button, 10200, 4680, 1335, 615, "Exit"},
        {"Label3", Kind::Label, 120, 5760, 9975, 255, ""},
    };
}

Kind kindOf(QWidget* widget) {
    if (auto* button = qobject_cast<GraphicButton*>(widget))
        return button->focusPolicy() == Qt::NoFocus ? Kind::Indicator : Kind::Button;
    if (auto* box = qobject_cast<QLineEdit*>(widget)) {
        if (!box->isReadOnly())
            return Kind::Entry;
        return (box->alignment() & Qt::AlignRight) ? Kind::Analog : Kind::Frame;
    }
    if (qobject_cast<Shape*>(widget))
        return Kind::Shape;
    if (qobject_cast<Rule*>(widget))
        return Kind::Line;
    return Kind::Label;
}

QString captionOf(QWidget* widget) {
    if (auto* label = qobject_cast<QLabel*>(widget))
        return label->text();
    if (auto* button = qobject_cast<QAbstractButton*>(widget))
        return button->text();
    return {};
}

QColor pixel(QWidget* widget, QPoint at) {
    return widget->grab().toImage().pixelColor(at);
}

} // namespace

class TestLayout : public QObject {
    Q_OBJECT
private slots:
    void everyControlWhereTheTableSays() {
        Form1 form(std::make_unique<rio::test::FakePort>());
        const std::vector<Row> rows = expectedControls();
        QCOMPARE(rows.size(), std::size_t(3 * (21 + 16) + 9));
        for (const Row& row : rows) {
            auto* widget = form.findChild<QWidget*>(row.name);
            QVERIFY2(widget, qPrintable(row.name));
            QVERIFY2(kindOf(widget) == row.kind, qPrintable(row.name));
            if (row.kind == Kind::Line) {
                auto* rule = static_cast<Rule*>(widget);
                QCOMPARE(rule->line(),
                         QLine(row.left / 15, row.top / 15, row.width / 15, row.height / 15));
                QCOMPARE(rule->lineWidth(), row.lineWidth);
                continue;
            }
            const QRect expected(row.left / 15, row.top / 15, row.width / 15, row.height / 15);
            QVERIFY2(widget->geometry() == expected, qPrintable(QStringLiteral("%1 at %2,%3 %4x%5")
                                                                    .arg(row.name)
                                                                    .arg(widget->x())
                                                                    .arg(widget->y())
                                                                    .arg(widget->width())
                                                                    .arg(widget->height())));
            QCOMPARE(captionOf(widget), row.caption);
        }
        // The banner names the project and nothing more is on the window.
        auto* banner = form.findChild<QLabel*>("Label4_0");
        QVERIFY(banner);
        QCOMPARE(banner->geometry(), QRect(8, 408, 665, 17));
        QVERIFY(banner->text().contains("riopanel"));
        QCOMPARE(form.findChildren<QLineEdit*>().size(), 23);
        QCOMPARE(form.findChildren<GraphicButton*>().size(), 52);
        QCOMPARE(form.findChildren<QLabel*>().size(), 32 + 3 + 1 + 1);
    }

    void windowIsFixedAtItsClientSize() {
        Form1 form(std::make_unique<rio::test::FakePort>());
        QCOMPARE(form.size(), QSize(776, 427));
        QCOMPARE(form.minimumSize(), QSize(776, 427));
        QCOMPARE(form.maximumSize(), QSize(776, 427));
        const Qt::WindowFlags flags = form.windowFlags();
        QVERIFY(!(flags & Qt::WindowMinimizeButtonHint));
        QVERIFY(!(flags & Qt::WindowMaximizeButtonHint));
        QVERIFY(flags & Qt::WindowCloseButtonHint);
        QVERIFY(flags & Qt::WindowSystemMenuHint);
        QCOMPARE(form.windowTitle(),
                 QString::fromUtf8("Velqor-RX Series Remote IO Board Test (RS-485전용)"));
    }

    void tabOrderFromExit() {
        Form1 form(std::make_unique<rio::test::FakePort>());
        form.setProcessEnd([](int) {});
        form.show();
        QVERIFY(QTest::qWaitForWindowActive(&form));
        QCOMPARE(QApplication::focusWidget(), form.Command1);

        QStringList expected = {"Text1", "Text2", "Text3", "Text4"};
        for (int k = 0; k <= 7; ++k)
            expected << nm("Command4", k);
        expected << "Text5"
                 << "Text6"
                 << "Text8"
                 << "Command2"
                 << "Command5"
                 << "Command6"
                 << "Text9"
                 << "Text7"
                 << "Text10"
                 << "Text11"
                 << "Text12";
        for (int k = 7; k >= 0; --k)
            expected << nm("Command14", k);
        expected << "Text13"
                 << "Text14"
                 << "Text15"
                 << "Text16"
                 << "Text17"
                 << "Text18"
                 << "Text19";
        for (int k = 7; k >= 0; --k)
            expected << nm("Command24", k);
        expected << "Text20"
                 << "Text21"
                 << "Text22"
                 << "Text23"
                 << "Command1";

        QStringList seen;
        for (int i = 0; i < expected.size(); ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            seen << QApplication::focusWidget()->objectName();
        }
        QCOMPARE(seen, expected);
    }

    void indicatorsNeverTakeFocusAndShowNoDrop() {
        Form1 form(std::make_unique<rio::test::FakePort>());
        for (auto* row : {&form.Command3, &form.Command13, &form.Command23})
            for (GraphicButton* indicator : *row) {
                QCOMPARE(indicator->focusPolicy(), Qt::NoFocus);
                QCOMPARE(indicator->cursor().shape(), Qt::ForbiddenCursor);
            }
        QCOMPARE(form.Command4[0]->cursor().shape(), Qt::ArrowCursor);
    }

    void buttonsAndLabelsPaintTheirColourFlat() {
        Form1 form(std::make_unique<rio::test::FakePort>());
        form.Form_Load();
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        form.Command5_Click();                                // START red
        QTest::mouseClick(form.Command14[0], Qt::LeftButton); // green

        // Inside the bevel, away from the caption, the face is the pure colour.
        for (QPoint at : {QPoint(4, 4), QPoint(84, 36), QPoint(4, 36)})
            QCOMPARE(pixel(form.Command5, at), QColor(255, 0, 0));
        for (QPoint at : {QPoint(3, 3), QPoint(13, 21)})
            QCOMPARE(pixel(form.Command14[0], at), QColor(0, 255, 0));
        QCOMPARE(pixel(form.Command6, QPoint(4, 4)), form.palette().color(QPalette::Button));

        QCOMPARE(pixel(form.Label1[11], QPoint(3, 3)), QColor(0, 0, 255));  // title
        QCOMPARE(pixel(form.Label1[8], QPoint(3, 3)), QColor(255, 255, 0)); // setting caption
        QCOMPARE(pixel(form.Label2[0], QPoint(3, 3)), QColor(255, 255, 0)); // status
    }

    void textsFitAndKoreanHasGlyphs() {
        Form1 form(std::make_unique<rio::test::FakePort>());
        // The caption of "ComPort Initialize" wraps inside its 89-pixel button.
        const QFontMetrics metrics(form.Command2->font());
        const QRect needed =
            metrics.boundingRect(form.Command2->rect().adjusted(3, 2, -3, -2),
                                 Qt::AlignCenter | Qt::TextWordWrap, form.Command2->text());
        QVERIFY(form.Command2->rect().contains(needed));
        QVERIFY(metrics.horizontalAdvance("Initialize") <= form.Command2->width() - 6);

        // The status lines show Korean from a font that has Hangul.
        const QString failure = QString::fromUtf8("통신포트를 열 수 없습니다.");
        for (QWidget* widget :
             {static_cast<QWidget*>(form.Label3), static_cast<QWidget*>(form.Label2[0]),
              static_cast<QWidget*>(&form)}) {
            const QFontInfo info(widget->font());
            QVERIFY2(QFontDatabase::writingSystems(info.family()).contains(QFontDatabase::Korean),
                     qPrintable(info.family()));
            const QFontMetrics hangul(widget->font());
            for (QChar c : failure)
                QVERIFY2(hangul.inFont(c), qPrintable(QString(c)));
        }
        QCOMPARE(QFontInfo(form.font()).pointSizeF(), 9.0);
        QCOMPARE(QFontInfo(form.Label1[11]->font()).bold(), true);
        QVERIFY(qAbs(form.Label1[11]->font().pointSizeF() - 14.25) < 0.01);
        QCOMPARE(QFontInfo(form.Text9->font()).bold(), true);
    }

    void iconHasBothSizesInSixteenColours() {
        const QList<QRgb> colours = rio::panel::sixteenColours();
        QCOMPARE(colours.size(), 16);
        for (int size : {32, 16}) {
            const QImage image = rio::panel::panelIconImage(size);
            QCOMPARE(image.size(), QSize(size, size));
            QSet<QRgb> used;
            for (int y = 0; y < size; ++y)
                for (int x = 0; x < size; ++x)
                    if (qAlpha(image.pixel(x, y)) != 0)
                        used.insert(image.pixel(x, y) | 0xFF000000);
            QVERIFY(used.size() >= 3); // something is drawn
            for (QRgb c : used)
                QVERIFY(colours.contains(c));
        }
        Form1 form(std::make_unique<rio::test::FakePort>());
        QVERIFY(!form.windowIcon().isNull());
        QVERIFY(form.windowIcon().availableSizes().contains(QSize(16, 16)));
        QVERIFY(form.windowIcon().availableSizes().contains(QSize(32, 32)));
    }
};

QTEST_MAIN(TestLayout)
#include "test_layout.moc"
