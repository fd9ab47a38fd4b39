#include "widgets/form1.h"

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QRadioButton>
#include <QScreen>

#include "core/panel/messagebox.h"
#include "core/panel/serialcontrol.h"
#include "widgets/labeldisplays.h"
#include "widgets/layouttable.h"

namespace {

constexpr std::string_view kShowDataCaption = "\u30C7\u30FC\u30BF\u3092\u8868\u793A\u3059\u308B";
constexpr std::string_view kHideDataCaption =
    "\u30C7\u30FC\u30BF\u3092\u8868\u793A\u3057\u306A\u3044";
constexpr std::string_view kCloseCaption = "CLOSE";
constexpr int kKeyH = 72;
// The TXD, RXD and status displays.
constexpr std::string_view kDisplays[] = {"Label11", "Label12", "Label22"};
constexpr int kCtrlOnly = 2;

QString fromUtf8(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

void colour(QWidget *widget, QPalette::ColorRole role, QColor color)
{
    QPalette palette = widget->palette();
    palette.setColor(role, color);
    widget->setPalette(palette);
}

Qt::Alignment toAlignment(layout::Align align)
{
    switch (align) {
    case layout::Align::Centre:
        return Qt::AlignHCenter | Qt::AlignTop;
    case layout::Align::Right:
        return Qt::AlignRight | Qt::AlignTop;
    case layout::Align::Left:
        break;
    }
    return Qt::AlignLeft | Qt::AlignTop;
}

int shiftState(Qt::KeyboardModifiers modifiers)
{
    return (modifiers & Qt::ShiftModifier ? 1 : 0) | (modifiers & Qt::ControlModifier ? 2 : 0) |
           (modifiers & Qt::AltModifier ? 4 : 0);
}

QIcon panelIcon()
{
    QIcon icon;
    icon.addFile(QStringLiteral(":/panel/icon32-16.bmp"), QSize(32, 32));
    icon.addFile(QStringLiteral(":/panel/icon16-16.bmp"), QSize(16, 16));
    icon.addFile(QStringLiteral(":/panel/icon32-2.bmp"), QSize(32, 32), QIcon::Disabled);
    return icon;
}

}  // namespace

Form1::Form1(Clock &clock, SerialControl &comm, MessageBox &messages, QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      m_messages(messages),
      m_comm(comm)
{
    installFontSubstitutes();
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(fromUtf8(layout::kCaption));
    setWindowIcon(panelIcon());
    setAutoFillBackground(true);
    // A dark desktop theme would otherwise darken the buttons under their black captions and
    // hide which option is chosen.
    setPalette(designedPalette());
    colour(this, QPalette::WindowText, Qt::black);
    setFixedWidth(toPixels(layout::kClientWidth));
    applyHeight();

    buildControls();
    m_displays = std::make_unique<LabelDisplays>(qobject_cast<TrafficLabel *>(control("Label11")),
                                                 qobject_cast<TrafficLabel *>(control("Label12")),
                                                 qobject_cast<TrafficLabel *>(control("Label22")),
                                                 control("Frame8"));
    m_core =
        std::make_unique<PanelCore>(clock, comm, *m_displays, messages, std::string(kAppTitle));
    wireButtons();
    wireOptions();
    m_core->setOnHoldSafetyStop([this] {
        m_heldButton = nullptr;
        if (m_heldWidget)
            m_heldWidget->abandonPress();
        m_heldWidget = nullptr;
    });

    // Key preview: the panel sees every key press before the control with the focus.
    qApp->installEventFilter(this);
}

Form1::~Form1()
{
    qApp->removeEventFilter(this);
}

void Form1::buildControls()
{
    using layout::Kind;
    for (const layout::Control &row : layout::kControls) {
        QWidget *parent = row.container.empty() ? this : m_controls.at(row.container);
        const QString caption = fromUtf8(row.caption);
        QWidget *widget = nullptr;
        switch (row.kind) {
        case Kind::Frame:
            widget = new EtchedFrame(parent);
            break;
        case Kind::Label: {
            const bool display = std::find(std::begin(kDisplays), std::end(kDisplays), row.name) !=
                                 std::end(kDisplays);
            auto *label = display ? new TrafficLabel(caption, parent) : new QLabel(caption, parent);
            label->setTextFormat(Qt::PlainText);
            label->setWordWrap(true);
            label->setAlignment(toAlignment(row.align));
            if (row.border)
                label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
            widget = label;
            break;
        }
        case Kind::Button: {
            auto *button = new GraphicalButton(caption, parent);
            button->setAutoDefault(false);
            if (row.back)
                button->setFaceColor(toColor(*row.back));
            colour(button, QPalette::ButtonText, Qt::black);
            widget = button;
            break;
        }
        case Kind::Option: {
            auto *option = new QRadioButton(caption, parent);
            option->setChecked(row.selected);
            widget = option;
            break;
        }
        case Kind::Image: {
            auto *image = new QLabel(parent);
            image->setPixmap(QPixmap(QStringLiteral(":/panel/logo.bmp")));
            image->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            image->setAccessibleName(QStringLiteral("KORU"));
            widget = image;
            break;
        }
        }
        widget->setObjectName(fromUtf8(row.name));
        widget->setGeometry(toPixels(row.left), toPixels(row.top), toPixels(row.width),
                            toPixels(row.height));
        // A display's text changes with every piece received. At a fixed size the change asks
        // nothing of its parent, which has no layout: a widget that may change size posts the
        // parent a layout request each time, one more turn of the event loop for nothing.
        if (auto *display = qobject_cast<TrafficLabel *>(widget))
            display->setFixedSize(display->size());
        if (row.kind != Kind::Button && row.kind != Kind::Image && row.back) {
            widget->setAutoFillBackground(true);
            // Option buttons fill with the button role, frames and labels with the window's.
            colour(widget, widget->backgroundRole(), toColor(*row.back));
        }
        colour(widget, QPalette::WindowText, row.text ? toColor(*row.text) : QColor(Qt::black));
        if (!row.font.face.empty())
            widget->setFont(toFont(row.font));
        if (row.hidden)
            widget->hide();
        m_controls.emplace(row.name, widget);
    }

    m_dataViewButton = qobject_cast<GraphicalButton *>(control("Command34"));
    control("Frame8")->raise();

    // Tab order in ascending tab place. Frames, labels and the image hold a place but never
    // take the focus.
    std::vector<const layout::Control *> focusable;
    for (const layout::Control &row : layout::kControls) {
        if (row.kind == Kind::Button || row.kind == Kind::Option)
            focusable.push_back(&row);
        else
            control(row.name)->setFocusPolicy(Qt::NoFocus);
    }
    std::sort(focusable.begin(), focusable.end(),
              [](const auto *a, const auto *b) { return a->tab < b->tab; });
    for (std::size_t i = 1; i < focusable.size(); ++i)
        QWidget::setTabOrder(control(focusable[i - 1]->name), control(focusable[i]->name));
}

void Form1::wireButtons()
{
    for (const OneShotButton &row : kOneShotButtons) {
        auto *button = qobject_cast<GraphicalButton *>(control(row.control));
        connect(button, &QPushButton::clicked, this, [this, &row] { m_core->click(row); });
    }
    for (const HoldButton &row : kHoldButtons) {
        auto *button = qobject_cast<GraphicalButton *>(control(row.control));
        connect(button, &GraphicalButton::mouseDown, this, [this, &row, button] {
            m_heldButton = &row;
            m_heldWidget = button;
            m_core->press(row);
        });
        connect(button, &GraphicalButton::mouseUp, this, [this, &row] {
            m_heldButton = nullptr;
            m_heldWidget = nullptr;
            m_core->release(row);
        });
    }
    const std::pair<std::string_view, void (Form1::*)()> panelButtons[] = {
        {"Command33", &Form1::Command33_Click},
        {"Command34", &Form1::Command34_Click},
        {"Command16", &Form1::Command16_Click},
    };
    for (const auto &[name, handler] : panelButtons) {
        auto *button = qobject_cast<QPushButton *>(control(name));
        connect(button, &QPushButton::clicked, this, handler);
    }
}

void Form1::wireOptions()
{
    const std::pair<std::string_view, void (Form1::*)()> portOptions[] = {
        {"Option1", &Form1::Option1_Click},
        {"Option2", &Form1::Option2_Click},
        {"Option9", &Form1::Option9_Click},
        {"Option10", &Form1::Option10_Click},
    };
    for (const auto &[name, handler] : portOptions) {
        auto *option = qobject_cast<QRadioButton *>(control(name));
        connect(option, &QRadioButton::clicked, this, handler);
    }
    for (const AddressOption &row : kAddressOptions) {
        auto *option = qobject_cast<QRadioButton *>(control(row.control));
        connect(option, &QRadioButton::clicked, this, [this, &row] { m_core->selectAddress(row); });
    }
}

void Form1::selectOption(std::string_view name)
{
    auto *option = qobject_cast<QRadioButton *>(control(name));
    if (option->isChecked())
        return;
    option->setChecked(true);
    // Setting an option from code runs its click handler at once, inside the caller.
    Q_EMIT option->clicked(true);
}

QWidget *Form1::control(std::string_view name) const
{
    const auto found = m_controls.find(name);
    return found == m_controls.end() ? nullptr : found->second;
}

bool Form1::Form_Load()
{
    const views::FrameMetrics metrics = frameMetrics();
    const QScreen *screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    const QRect area = screen ? screen->geometry() : QRect(0, 0, 0, 0);
    const int tw = layout::kTwipsPerPixel;
    const double panelWidth = layout::kClientWidth + metrics.extraWidthPx() * tw;
    const double designHeight = layout::kClientHeight + metrics.extraHeightPx() * tw;
    const views::Placement place =
        views::startPlacement(area.width() * tw, area.height() * tw, panelWidth, designHeight);
    move(area.x() + qRound(place.left / tw), area.y() + qRound(place.top / tw));
    setHeight(views::kCompactHeight);

    m_core->setOnStartUpFailure([this](const SerialError &error) {
        showStartUpFailure(error);
        endProgram(1);
    });
    m_core->setOnPortChoiceUndone([this] { showPortInForce(); });
    if (const auto error = m_core->startUp()) {
        showStartUpFailure(*error);
        return false;
    }
    selectOption("Option1");
    return true;
}

void Form1::showStartUpFailure(const SerialError &error)
{
    m_messages.show(MessageBox::Icon::Critical, std::string(kAppTitle),
                    "Error " + std::to_string(error.number()) + ": " + error.description);
}

views::FrameMetrics Form1::frameMetrics() const
{
    // A platform with no title bar reports no real frame (the offscreen platform draws a
    // thin margin and nothing above it).
    const QRect outer = frameGeometry();
    const QRect inner = geometry();
    const int border = inner.left() - outer.left();
    const int titleBar = inner.top() - outer.top() - border;
    if (!isVisible() || titleBar <= 0)
        return {};
    return {titleBar, border};
}

void Form1::setHeight(int twips)
{
    m_height = twips;
    applyHeight();
}

void Form1::applyHeight()
{
    setFixedHeight(toPixels(m_height) - frameMetrics().extraHeightPx());
}

void Form1::Form_KeyDown(int keyCode, int shift)
{
    if (keyCode != kKeyH || (shift & 7) != kCtrlOnly)
        return;
    setHeight(views::kFullHeight);
    m_dataViewButton->setText(fromUtf8(kCloseCaption));
    m_dataViewButton->setVisible(true);
}

void Form1::Command34_Click()
{
    if (Height() >= views::kOpenThreshold) {
        setHeight(views::kCompactHeight);
        m_dataViewButton->setText(fromUtf8(kShowDataCaption));
    } else {
        setHeight(views::kDataHeight);
        m_dataViewButton->setText(fromUtf8(kHideDataCaption));
    }
    m_core->restartPortSettingsTimeout();
}

void Form1::Command33_Click()
{
    m_core->showPortSettings();
}

void Form1::Command16_Click()
{
    m_core->end();
    endProgram();
}

void Form1::Option1_Click()
{
    m_core->selectPort(1);
    showPortInForce();
}

void Form1::Option2_Click()
{
    m_core->selectPort(2);
    showPortInForce();
}

void Form1::showPortInForce()
{
    // A port that could not be opened leaves the number on the other port: its option shows
    // checked, not the one just clicked.
    auto *option =
        qobject_cast<QRadioButton *>(control(m_comm.commPort() == 2 ? "Option2" : "Option1"));
    option->setChecked(true);
}

void Form1::Option9_Click()
{
    m_core->selectSpeed(PortConfiguration::kSettings19200);
}

void Form1::Option10_Click()
{
    m_core->selectSpeed(PortConfiguration::kSettings9600);
}

void Form1::endProgram(int exitCode)
{
    if (m_ended)
        return;
    // Nothing runs after the end: no tick, no serial event, no handler.
    m_ended = true;
    m_core->stop();
    qApp->removeEventFilter(this);
    setEnabled(false);
    hide();
    if (m_onEnd)
        m_onEnd();
    else
        QCoreApplication::exit(exitCode);
}

void Form1::releaseLostHold()
{
    if (!m_heldButton || m_ended)
        return;
    const HoldButton *button = m_heldButton;
    m_heldButton = nullptr;
    m_heldWidget->abandonPress();
    m_heldWidget = nullptr;
    m_core->release(*button);
}

bool Form1::eventFilter(QObject *watched, QEvent *event)
{
    // The held button lost the mouse to another grab: its release will never come either.
    if (event->type() == QEvent::UngrabMouse && m_heldWidget && watched == m_heldWidget)
        releaseLostHold();
    if (event->type() == QEvent::KeyPress && watched->isWidgetType()) {
        auto *widget = static_cast<QWidget *>(watched);
        // A key event travels up from the focused control to its parents; the panel looks
        // at it once, on its first delivery.
        QWidget *focus = QApplication::focusWidget();
        const bool first = focus ? widget == focus : widget == this;
        if (first && (widget == this || isAncestorOf(widget)) && !m_ended) {
            const auto *key = static_cast<QKeyEvent *>(event);
            Form_KeyDown(key->key(), shiftState(key->modifiers()));
        }
    }
    return false;
}

bool Form1::event(QEvent *event)
{
    switch (event->type()) {
    case QEvent::WindowDeactivate:
    case QEvent::WindowBlocked:
    case QEvent::Hide:
        releaseLostHold();
        break;
    default:
        break;
    }
    return QWidget::event(event);
}

void Form1::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    applyHeight();
}

void Form1::closeEvent(QCloseEvent *event)
{
    event->accept();
    endProgram();
}

void Form1::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const QColor line = toColor(layout::kLineColour);
    for (const layout::Line &row : layout::kArrowPadOutline) {
        const QPoint from(toPixels(row.x1), toPixels(row.y1));
        const QPoint to(toPixels(row.x2), toPixels(row.y2));
        const QPoint width(layout::kLineWidthPx - 1, layout::kLineWidthPx - 1);
        painter.fillRect(QRect(from, to + width), line);
    }
}
