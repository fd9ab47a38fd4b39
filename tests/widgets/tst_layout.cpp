// The panel as laid out: the table's invariants, the widgets built from it, what each view
// shows, how it is drawn, the tab order and what a screen reader reads.
#include <QAccessible>
#include <QImage>
#include <QPushButton>
#include <QStyleFactory>
#include <QStyleOptionButton>
#include <algorithm>
#include <cmath>
#include <map>
#include <set>

#include "core/protocol/rendering.h"
#include "support/keys.h"
#include "support/panelfixture.h"
#include "widgets/controls.h"
#include "widgets/labeldisplays.h"
#include "widgets/layouttable.h"
#include "widgets/views.h"

namespace {

// Where a control lies on the panel's client area, in pixels.
QRect onPanel(PanelFixture &panel, const char *name)
{
    QWidget *widget = panel.get(name);
    return QRect(widget->mapTo(panel.form.get(), QPoint(0, 0)), widget->size());
}

QColor pixel(const QImage &image, QPoint at)
{
    return image.pixelColor(at);
}

QString accessibleName(QWidget *widget)
{
    QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(widget);
    return iface ? iface->text(QAccessible::Name) : QString();
}

}  // namespace

class TestLayout : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void tableHoldsEveryControlOnce();
    void everyControlLiesInsideItsContainer();
    void widgetsTakeTheTablesNamesPlacesAndCaptions();
    void optionGroupsExcludeWithinAndNotAcross();
    void compactViewEndsAboveTheDataArea();
    void dataViewShowsOnlyTheTopEdgeOfThePjSelectRow();
    void designStateIsTheStateAfterStartUp();
    void drawnPanelHasItsColoursInPlace();
    void tabVisitsTheControlsInTableOrder();
    void accessibleNamesAreTheCaptionsAndTexts();
    void displaysShowMarkupAsPlainText();
    void longTrafficShowsAsTheWholeTextWould();
    void trafficBeyondWhatIsLaidOutPaintsNothing();
    void keepsItsColoursUnderADarkDesktop();
};

void TestLayout::tableHoldsEveryControlOnce()
{
    using layout::Kind;
    std::map<Kind, int> kinds;
    std::set<std::string_view> names;
    std::set<int> tabs;
    for (const layout::Control &control : layout::kControls) {
        ++kinds[control.kind];
        QVERIFY2(names.insert(control.name).second, control.name.data());
        if (control.kind == Kind::Image) {
            QCOMPARE(control.tab, -1);
            continue;
        }
        QVERIFY2(tabs.insert(control.tab).second, control.name.data());
        // A container comes before what it holds.
        if (!control.container.empty())
            QVERIFY(names.count(control.container));
    }
    QCOMPARE(layout::kControls.size(), std::size_t(95));
    QCOMPARE(kinds[Kind::Button], 50);
    QCOMPARE(kinds[Kind::Option], 10);
    QCOMPARE(kinds[Kind::Label], 21);
    QCOMPARE(kinds[Kind::Frame], 13);
    QCOMPARE(kinds[Kind::Image], 1);
    QCOMPARE(tabs.size(), std::size_t(94));
    QCOMPARE(*tabs.begin(), 0);
    QCOMPARE(*tabs.rbegin(), 93);
}

void TestLayout::everyControlLiesInsideItsContainer()
{
    for (const layout::Control &control : layout::kControls) {
        const layout::Control *container = layout::find(control.container);
        const int width = container ? container->width : layout::kClientWidth;
        const int height = container ? container->height : layout::kClientHeight;
        QVERIFY2(control.left >= 0 && control.top >= 0, control.name.data());
        QVERIFY2(control.left + control.width <= width, control.name.data());
        QVERIFY2(control.top + control.height <= height, control.name.data());
    }
    for (const layout::Line &line : layout::kArrowPadOutline) {
        QVERIFY(line.x1 == line.x2 || line.y1 == line.y2);
        QVERIFY(std::max(line.x1, line.x2) <= layout::kClientWidth);
    }
}

void TestLayout::widgetsTakeTheTablesNamesPlacesAndCaptions()
{
    PanelFixture panel;
    QVERIFY(panel.start());
    for (const layout::Control &control : layout::kControls) {
        QWidget *widget = panel.get(control.name.data());
        QVERIFY2(widget, control.name.data());
        const QString container = control.container.empty()
                                      ? QStringLiteral("Form1")
                                      : QString::fromLatin1(control.container.data());
        QCOMPARE(widget->parentWidget()->objectName(), container);
        QCOMPARE(widget->geometry(), QRect(toPixels(control.left), toPixels(control.top),
                                           toPixels(control.width), toPixels(control.height)));
        const QString caption =
            QString::fromUtf8(control.caption.data(), qsizetype(control.caption.size()));
        if (auto *button = qobject_cast<QAbstractButton *>(widget))
            QCOMPARE(button->text(), caption);
        else if (auto *label = qobject_cast<QLabel *>(widget);
                 label && control.kind == layout::Kind::Label)
            QCOMPARE(label->text(), caption);
        if (!control.font.face.empty()) {
            QCOMPARE(widget->font().bold(), control.font.bold);
            QCOMPARE(widget->font().pixelSize(), qRound(control.font.points * 96 / 72));
        }
    }
    // The logo at its natural size.
    const QPixmap logo = panel.get<QLabel>("Image1")->pixmap();
    QCOMPARE(logo.size(), QSize(80, 26));
    QCOMPARE(logo.toImage().format() == QImage::Format_Invalid, false);
    QCOMPARE(panel.get("Image1")->size(), QSize(80, 26));
}

void TestLayout::optionGroupsExcludeWithinAndNotAcross()
{
    PanelFixture panel;
    QVERIFY(panel.start());
    pressCtrlH(panel.form.get());
    panel.click("Command33");
    panel.click("Option6");
    QVERIFY(panel.get<QRadioButton>("Option6")->isChecked());
    QVERIFY(!panel.get<QRadioButton>("Option3")->isChecked());
    QVERIFY(panel.get<QRadioButton>("Option1")->isChecked());
    QVERIFY(panel.get<QRadioButton>("Option9")->isChecked());
    panel.click("Command33");
    panel.click("Option10");
    QVERIFY(!panel.get<QRadioButton>("Option9")->isChecked());
    QVERIFY(panel.get<QRadioButton>("Option1")->isChecked());
    QVERIFY(panel.get<QRadioButton>("Option6")->isChecked());
    panel.click("Command33");
    panel.click("Option2");
    QVERIFY(!panel.get<QRadioButton>("Option1")->isChecked());
    QVERIFY(panel.get<QRadioButton>("Option10")->isChecked());
    QVERIFY(panel.get<QRadioButton>("Option6")->isChecked());
}

void TestLayout::compactViewEndsAboveTheDataArea()
{
    PanelFixture panel;
    QVERIFY(panel.start());
    pressCtrlH(panel.form.get());
    panel.form->setHeight(views::kCompactHeight);
    const int bottom = panel.form->height();
    for (const layout::Control &control : layout::kControls) {
        if (!control.container.empty())
            continue;
        const QRect rect = onPanel(panel, control.name.data());
        if (control.top >= 4830)
            QVERIFY2(rect.top() >= bottom, control.name.data());
        else
            QVERIFY2(rect.bottom() < bottom, control.name.data());
    }
    QVERIFY(onPanel(panel, "Frame8").bottom() < bottom);
}

void TestLayout::dataViewShowsOnlyTheTopEdgeOfThePjSelectRow()
{
    PanelFixture panel;
    QVERIFY(panel.start());
    pressCtrlH(panel.form.get());
    panel.form->setHeight(views::kDataHeight);
    const int bottom = panel.form->height();
    for (const char *name : {"Frame9", "Frame12", "Command44", "Command55", "Command34"})
        QVERIFY2(onPanel(panel, name).bottom() < bottom, name);
    for (const char *name : {"Frame11", "Command38", "Command12"}) {
        const QRect rect = onPanel(panel, name);
        QVERIFY2(rect.top() < bottom && rect.top() + 3 >= bottom, name);
    }
    for (const char *name : {"Option3", "Label21"})
        QVERIFY2(onPanel(panel, name).top() >= bottom, name);
    panel.form->setHeight(views::kFullHeight);
    QCOMPARE(panel.form->height(), toPixels(layout::kClientHeight));
    QVERIFY(onPanel(panel, "Frame11").bottom() < panel.form->height());
}

void TestLayout::designStateIsTheStateAfterStartUp()
{
    PanelFixture panel;
    QVERIFY(panel.start());
    QVERIFY(panel.get("Frame8")->isHidden());
    QVERIFY(panel.get("Command34")->isHidden());
    for (const char *name : {"Label11", "Label12", "Label22"})
        QVERIFY(panel.get<QLabel>(name)->text().isEmpty());
    for (const char *name : {"Option9", "Option3", "Option1"})
        QVERIFY2(panel.get<QRadioButton>(name)->isChecked(), name);
    for (const char *name : {"Option2", "Option10", "Option4", "Option8"})
        QVERIFY2(!panel.get<QRadioButton>(name)->isChecked(), name);
    QCOMPARE(panel.form->palette().color(QPalette::Window), QColor(192, 192, 192));
    QCOMPARE(panel.get<QLabel>("Label22")->palette().color(QPalette::WindowText),
             QColor(255, 0, 0));
    QCOMPARE(panel.get<QLabel>("Label1")->palette().color(QPalette::WindowText), QColor(192, 0, 0));
    QCOMPARE(panel.get<QLabel>("Label11")->textFormat(), Qt::PlainText);
    QVERIFY(panel.get<QLabel>("Label11")->wordWrap());
    QVERIFY(panel.get<QLabel>("Label1")->alignment() & Qt::AlignHCenter);
    QVERIFY(panel.get<QLabel>("Label9")->alignment() & Qt::AlignRight);
    // The operator cannot resize the window.
    QCOMPARE(panel.form->minimumSize(), panel.form->maximumSize());
    QVERIFY(!(panel.form->windowFlags() & Qt::WindowMaximizeButtonHint));
}

void TestLayout::drawnPanelHasItsColoursInPlace()
{
    PanelFixture panel;
    QVERIFY(panel.start());
    pressCtrlH(panel.form.get());
    const QImage image = panel.form->grab().toImage();
    QCOMPARE(image.size(), QSize(633, 455));
    // Inside a button's bevel, clear of its caption.
    auto face = [&](const char *name) {
        return pixel(image, onPanel(panel, name).topLeft() + QPoint(5, 5));
    };
    QCOMPARE(face("Command17"), QColor(192, 255, 192));
    QCOMPARE(face("Command18"), QColor(255, 192, 192));
    QCOMPARE(face("Command56"), QColor(255, 255, 192));
    QCOMPARE(face("Command6"), QColor(255, 128, 0));
    QCOMPARE(face("Command13"), QColor(0, 192, 192));
    QCOMPARE(face("Command33"), panel.get("Command33")->palette().color(QPalette::Button));
    // Line7 runs along the top of the pad's vertical arm, y 2400 twips.
    QCOMPARE(pixel(image, QPoint(100, 160)), QColor(128, 128, 255));
    QCOMPARE(pixel(image, QPoint(72, 180)), QColor(128, 128, 255));  // Line1
    QCOMPARE(pixel(image, QPoint(100, 150)), QColor(192, 192, 192));
    QCOMPARE(pixel(image, onPanel(panel, "Label11").center()), QColor(255, 255, 255));
    QCOMPARE(pixel(image, QPoint(3, 3)), QColor(192, 192, 192));
    // The caption area of an option button takes the frame's grey, right of its text.
    QCOMPARE(pixel(image, onPanel(panel, "Option4").topRight() + QPoint(-2, 2)),
             QColor(192, 192, 192));
    QCOMPARE(pixel(image, onPanel(panel, "Image1").topLeft() + QPoint(2, 2)),
             panel.get<QLabel>("Image1")->pixmap().toImage().pixelColor(2, 2));
}

void TestLayout::tabVisitsTheControlsInTableOrder()
{
    PanelFixture panel;
    QVERIFY(panel.start());
    QApplication::setActiveWindow(panel.form.get());
    QVERIFY(QTest::qWaitForWindowActive(panel.form.get()));

    // Buttons and the selected option of each group, skipping what is hidden: Command34 and
    // the contents of the hidden COM settings frame.
    QStringList expected;
    std::vector<const layout::Control *> rows;
    for (const layout::Control &control : layout::kControls)
        rows.push_back(&control);
    std::sort(rows.begin(), rows.end(), [](auto *a, auto *b) { return a->tab < b->tab; });
    for (const layout::Control *control : rows) {
        const bool focusable = control->kind == layout::Kind::Button ||
                               (control->kind == layout::Kind::Option &&
                                panel.get<QRadioButton>(control->name.data())->isChecked());
        const bool hidden = !panel.get(control->name.data())->isVisibleTo(panel.form.get());
        if (focusable && !hidden)
            expected << QString::fromLatin1(control->name.data());
    }
    QCOMPARE(expected.first(), QStringLiteral("Command17"));
    QVERIFY(expected.contains(QStringLiteral("Option3")));
    QVERIFY(!expected.contains(QStringLiteral("Option4")));

    panel.get("Command17")->setFocus();
    QStringList visited;
    for (int i = 0; i < expected.size(); ++i) {
        visited << QApplication::focusWidget()->objectName();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    }
    QCOMPARE(visited, expected);
    QCOMPARE(QApplication::focusWidget()->objectName(), QStringLiteral("Command17"));
}

void TestLayout::accessibleNamesAreTheCaptionsAndTexts()
{
    PanelFixture panel;
    QVERIFY(panel.start());
    QCOMPARE(accessibleName(panel.get("Command17")), QStringLiteral("ON"));
    QCOMPARE(accessibleName(panel.get("Command3")), QStringLiteral("DISPLAY CLEAR"));
    QCOMPARE(accessibleName(panel.get("Command5")), QString::fromUtf8("\u2191"));
    QCOMPARE(accessibleName(panel.get("Option3")), QStringLiteral("SINGLE"));
    QCOMPARE(accessibleName(panel.get("Label21")), QStringLiteral("PJ Select"));
    QCOMPARE(accessibleName(panel.get("Command34")),
             QString::fromUtf8("\u30C7\u30FC\u30BF\u3092\u8868\u793A\u3059\u308B"));
    panel.click("Command44");
    panel.comm.receive("00\r");
    QCOMPARE(accessibleName(panel.get("Label11")), QStringLiteral(" C R 0 CR "));
    QCOMPARE(accessibleName(panel.get("Label12")), QStringLiteral(" 0 0 CR "));
    QCOMPARE(accessibleName(panel.get("Label22")), QStringLiteral(" Power ON"));
}

void TestLayout::displaysShowMarkupAsPlainText()
{
    PanelFixture panel;
    QVERIFY(panel.start());
    panel.click("Command38");
    panel.comm.receive("<b>&%s</b>\r");
    const QString shown = QStringLiteral(" < b > & % s < / b > CR ");
    QCOMPARE(panel.rxd(), shown);
    QCOMPARE(panel.status(), shown);
    for (const char *name : {"Label11", "Label12", "Label22"})
        QCOMPARE(panel.get<QLabel>(name)->textFormat(), Qt::PlainText);
}

void TestLayout::longTrafficShowsAsTheWholeTextWould()
{
    PanelFixture panel;
    QVERIFY(panel.start());
    // 20,000 unasked characters, among them runs with no space to wrap at, in receive events
    // that end before, across and after the beginning the display lays out.
    std::string unasked;
    for (int i = 0; unasked.size() < 20000; ++i)
        unasked += i % 7 == 0 ? std::string(40, '\x06') : "0123456789ABCDEF\r\n";
    auto *rxd = panel.get<QLabel>("Label12");
    std::size_t from = 0;
    for (const std::size_t end :
         {std::size_t(300), std::size_t(700), std::size_t(5000), unasked.size()}) {
        panel.comm.receive(std::string_view(unasked).substr(from, end - from));
        from = end;
        const QString whole = QString::fromStdString(renderTraffic(unasked.substr(0, end)));
        QCOMPARE(rxd->text(), whole.left(int(TrafficLabel::kLaidOutChars)));
    }
    const QString whole = QString::fromStdString(renderTraffic(unasked));
    QVERIFY(rxd->text().size() < whole.size());

    // The same box given the whole text shows the same pixels: beside it, so that it takes the
    // panel's palette as the display does.
    QLabel reference(whole, rxd->parentWidget());
    reference.setTextFormat(Qt::PlainText);
    reference.setWordWrap(true);
    reference.setAlignment(rxd->alignment());
    reference.setFrameStyle(rxd->frameStyle());
    reference.setFont(rxd->font());
    reference.setPalette(rxd->palette());
    reference.setAutoFillBackground(true);
    reference.setFixedSize(rxd->size());
    QCOMPARE(rxd->grab().toImage(), reference.grab().toImage());

    // A screen reader that comes gets the whole text, and then what is added to it.
    QAccessible::setActive(true);
    QCOMPARE(accessibleName(rxd), whole);
    panel.comm.receive("more");
    QCOMPARE(accessibleName(rxd), QString::fromStdString(renderTraffic(unasked + "more")));
    QAccessible::setActive(false);
}

void TestLayout::trafficBeyondWhatIsLaidOutPaintsNothing()
{
    PanelFixture panel;
    QVERIFY(panel.start());
    pressCtrlH(panel.form.get());
    auto *rxd = panel.get<TrafficLabel>("Label12");
    QVERIFY(rxd->isVisible());
    QTRY_VERIFY(rxd->updatesEnabled());
    // A frame of the screen after the last painting, a change is painted at once; the next,
    // within that frame, would hold its painting back to the end of the frame.
    QTest::qWait(2 * LabelDisplays::kFrameMs);
    panel.comm.receive(std::string(600, 'u'));
    const bool painting = rxd->updatesEnabled();
    panel.comm.receive("more");
    QCOMPARE(rxd->updatesEnabled(), painting);
    QCOMPARE(rxd->traffic(), renderTraffic(std::string(600, 'u') + "more"));
}

namespace {

double luminance(QRgb rgb)
{
    const auto channel = [](int value) {
        const double c = value / 255.0;
        return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(qRed(rgb)) + 0.7152 * channel(qGreen(rgb)) +
           0.0722 * channel(qBlue(rgb));
}

// The contrast ratio of two colours, 1 (none) to 21 (black on white).
double contrast(QRgb a, QRgb b)
{
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QImage indicator(QRadioButton *option)
{
    QStyleOptionButton style;
    style.initFrom(option);
    const QRect area =
        option->style()->subElementRect(QStyle::SE_RadioButtonIndicator, &style, option);
    return option->grab(area).toImage();
}

}  // namespace

void TestLayout::keepsItsColoursUnderADarkDesktop()
{
    // A dark desktop: Fusion with a dark palette, as a dark theme sets them.
    const QString previousStyle = QApplication::style()->name();
    const QPalette previousPalette = QApplication::palette();
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QPalette dark(QColor(53, 53, 53), QColor(45, 45, 45));
    dark.setColor(QPalette::WindowText, Qt::white);
    dark.setColor(QPalette::ButtonText, Qt::white);
    dark.setColor(QPalette::Text, Qt::white);
    dark.setColor(QPalette::Base, QColor(30, 30, 30));
    QApplication::setPalette(dark);
    double caption = 0;
    double chosen = 0;
    QRgb window = 0;
    {
        PanelFixture panel;
        QVERIFY(panel.start());
        // The COM button's caption against its face: the face is the most common colour, the
        // caption the colour that stands out most from it.
        const QImage com = panel.get("Command33")->grab().toImage();
        std::map<QRgb, int> counts;
        for (int y = 0; y < com.height(); ++y)
            for (int x = 0; x < com.width(); ++x)
                ++counts[com.pixel(x, y)];
        const QRgb face = std::max_element(counts.begin(), counts.end(), [](auto &a, auto &b) {
                              return a.second < b.second;
                          })->first;
        for (const auto &[colour, count] : counts)
            caption = std::max(caption, contrast(face, colour));
        // The chosen option's disc against an unchosen one's, point by point.
        const QImage on = indicator(panel.get<QRadioButton>("Option1"));
        const QImage off = indicator(panel.get<QRadioButton>("Option2"));
        for (int y = 0; y < std::min(on.height(), off.height()); ++y)
            for (int x = 0; x < std::min(on.width(), off.width()); ++x)
                chosen = std::max(chosen, contrast(on.pixel(x, y), off.pixel(x, y)));
        window = panel.form->grab(QRect(1, 1, 1, 1)).toImage().pixel(0, 0);
    }
    QApplication::setPalette(previousPalette);
    QApplication::setStyle(QStyleFactory::create(previousStyle));
    QVERIFY2(caption >= 4.5, qPrintable(QString::number(caption)));
    QVERIFY2(chosen >= 3, qPrintable(QString::number(chosen)));
    QCOMPARE(QColor(window), toColor(layout::kBackColour));
}

QTEST_MAIN(TestLayout)
#include "tst_layout.moc"
