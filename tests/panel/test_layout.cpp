// The live window against a table written by hand from the layout tables:
// every control's name, index, kind, rectangle and caption; the tab order;
// the window's size and look.

#include "colours.h"
#include "controls.h"
#include "fake_port.h"
#include "form1.h"
#include "icon.h"

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

QString nm(const char* name, int index = -1) {
    return index < 0 ? QString::fromLatin1(name)
                     : QStringLiteral("%1_%2").arg(QString::fromLatin1(name)).arg(index);
}

// Board 1 at its place on the window (origin 120, 120), then boards 2 and 3
// as the same panel moved right by 3360 and 6720 with their own names.
std::vector<Row> expectedControls() {
    struct BoardRow {
        const char* names[3];
        int index[3];
        Kind kind;
        int left, top, width, height;
        const char* caption;
        int lineWidth = 0;
    };
    const BoardRow board[] = {
        {{"Shape1", "Shape2", "Shape3"}, {-1, -1, -1}, Kind::Shape, 120, 120, 3255, 5175, ""},
        {{"Label1", "Label1", "Label1"},
         {11, 12, 22},
         Kind::Label,
         240,
         240,
         3015,
         375,
         "IO BOARD #"},
        {{"Label1", "Label1", "Label1"}, {10, 13, 23}, Kind::Label, 240, 720, 1455, 255, "Address"},
        {{"Text9", "Text10", "Text17"}, {-1, -1, -1}, Kind::Entry, 1800, 720, 0, 270, ""},
        {{"Line1", "Line4", "Line6"}, {-1, -1, -1}, Kind::Line, 120, 1080, 3360, 1080, "", 2},
        {{"Label1", "Label1", "Label1"}, {4, 17, 27}, Kind::Label, 240, 1200, 975, 255, "INPUT"},
        {{"Label1", "Label1", "Label1"},
         {0, 21, 31},
         Kind::Label,
         240,
         1560,
         975,
         255,
         "Send Data"},
        {{"Text1", "Text16", "Text23"}, {-1, -1, -1}, Kind::Frame, 1200, 1560, 2055, 270, ""},
        {{"Label1", "Label1", "Label1"},
         {1, 20, 30},
         Kind::Label,
         240,
         1920,
         975,
         255,
         "Read Data"},
        {{"Text2", "Text15", "Text22"}, {-1, -1, -1}, Kind::Frame, 1200, 1920, 2055, 270, ""},
        {{"Label1", "Label1", "Label1"}, {6, 15, 25}, Kind::Label, 240, 2760, 975, 255, "AD1"},
        {{"Text5", "Text12", "Text19"}, {-1, -1, -1}, Kind::Analog, 1200, 2760, 1095, 270, ""},
        {{"Label1", "Label1", "Label1"}, {7, 14, 24}, Kind::Label, 240, 3120, 975, 255, "AD2"},
        {{"Text6", "Text11", "Text18"}, {-1, -1, -1}, Kind::Analog, 1200, 3120, 1095, 270, ""},
        {{"Line2", "Line3", "Line5"}, {-1, -1, -1}, Kind::Line, 120, 3600, 3360, 3600, "", 1},
        {{"Label1", "Label1", "Label1"}, {5, 16, 26}, Kind::Label, 240, 3720, 975, 255, "OUTPUT"},
        {{"Label1", "Label1", "Label1"},
         {2, 19, 29},
         Kind::Label,
         240,
         4080,
         975,
         255,
         "Send Data"},
        {{"Text3", "Text14", "Text21"}, {-1, -1, -1}, Kind::Frame, 1200, 4080, 2055, 270, ""},
        {{"Label1", "Label1", "Label1"},
         {3, 18, 28},
         Kind::Label,
         240,
         4440,
         975,
         255,
         "Read Data"},
        {{"Text4", "Text13", "Text20"}, {-1, -1, -1}, Kind::Frame, 1200, 4440, 2055, 270, ""},
        {{"Label2", "Label2", "Label2"}, {0, 1, 2}, Kind::Label, 120, 5400, 3255, 255, ""},
    };
    const int addressWidth[3] = {1455, 1335, 1335};
    const char* indicators[3] = {"Command3", "Command13", "Command23"};
    const char* outputs[3] = {"Command4", "Command14", "Command24"};

    std::vector<Row> rows;
    for (int b = 0; b < 3; ++b) {
        const int dx = 3360 * b;
        for (const BoardRow& r : board) {
            Row row{nm(r.names[b], r.index[b]),   r.kind,     r.left + dx, r.top, r.width, r.height,
                    QString::fromUtf8(r.caption), r.lineWidth};
            if (r.kind == Kind::Line)
                row.width += dx; // x2
            if (row.caption == QLatin1String("IO BOARD #"))
                row.caption += QString::number(b + 1);
            if (r.kind == Kind::Entry)
                row.width = addressWidth[b];
            rows.push_back(row);
        }
        for (int k = 0; k < 8; ++k) {
            rows.push_back({nm(indicators[b], k), Kind::Indicator, 2880 - 240 * k + dx, 2280, 255,
                            375, QString::number(k + 1)});
            rows.push_back({nm(outputs[b], k), Kind::Button, 2880 - 240 * k + dx, 4800, 255, 375,
                            QString::number(k + 1)});
        }
    }
    const std::vector<Row> strip = {
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
    rows.insert(rows.end(), strip.begin(), strip.end());
    return rows;
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
