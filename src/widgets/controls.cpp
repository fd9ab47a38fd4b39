#include "widgets/controls.h"

#include <qdrawutil.h>

#include <QMouseEvent>
#include <QPainter>
#include <QStyleOptionButton>

QColor toColor(layout::Rgb rgb)
{
    return QColor(rgb.r, rgb.g, rgb.b);
}

QPalette designedPalette()
{
    const QColor face = toColor(layout::kBackColour);
    // Light, midlight, dark, mid and shadow are derived from the face, as for a classic button.
    QPalette palette(face, face);
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        palette.setColor(group, QPalette::WindowText, Qt::black);
        palette.setColor(group, QPalette::ButtonText, Qt::black);
        palette.setColor(group, QPalette::Text, Qt::black);
        palette.setColor(group, QPalette::Base, Qt::white);
        palette.setColor(group, QPalette::AlternateBase, face);
        palette.setColor(group, QPalette::ToolTipBase, QColor(255, 255, 225));
        palette.setColor(group, QPalette::ToolTipText, Qt::black);
        palette.setColor(group, QPalette::Highlight, QColor(0, 0, 128));
        palette.setColor(group, QPalette::HighlightedText, Qt::white);
        palette.setColor(group, QPalette::BrightText, Qt::white);
    }
    const QColor grey(128, 128, 128);
    for (const QPalette::ColorRole role :
         {QPalette::WindowText, QPalette::ButtonText, QPalette::Text})
        palette.setColor(QPalette::Disabled, role, grey);
    palette.setColor(QPalette::Disabled, QPalette::Base, face);
    return palette;
}

void installFontSubstitutes()
{
    QFont::insertSubstitution(
        QString::fromUtf8(layout::kGothic.data(), static_cast<qsizetype>(layout::kGothic.size())),
        QStringLiteral("IPAGothic"));
    QFont::insertSubstitution(
        QString::fromUtf8(layout::kPGothic.data(), static_cast<qsizetype>(layout::kPGothic.size())),
        QStringLiteral("IPAPGothic"));
}

QFont toFont(const layout::Font &font)
{
    QFont qfont(QString::fromUtf8(font.face.data(), static_cast<qsizetype>(font.face.size())));
    qfont.setStyleHint(font.face == layout::kGothic ? QFont::Monospace : QFont::SansSerif);
    // Points at 96 dots per inch, as the panel was drawn: 8.25 pt is 11 pixels, 9 pt 12.
    qfont.setPixelSize(qRound(font.points * 96.0 / 72.0));
    qfont.setWeight(font.bold ? QFont::Bold : QFont::Normal);
    return qfont;
}

GraphicalButton::GraphicalButton(const QString &caption, QWidget *parent)
    : QPushButton(caption, parent)
{
}

void GraphicalButton::setFaceColor(const QColor &color)
{
    m_face = color;
    m_hasFace = true;
    update();
}

void GraphicalButton::abandonPress()
{
    m_abandoned = true;
    setDown(false);
}

void GraphicalButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const QRect face = rect();
    const QBrush fill(m_hasFace ? m_face : palette().color(QPalette::Button));
    const bool sunken = isDown() || isChecked();
    qDrawWinButton(&painter, face, palette(), sunken, &fill);

    QRect textArea = face.adjusted(3, 3, -3, -3);
    if (sunken)
        textArea.translate(1, 1);
    painter.setPen(
        palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::ButtonText));
    painter.setFont(font());
    painter.drawText(textArea, Qt::AlignCenter | Qt::TextWordWrap, text());

    if (hasFocus()) {
        QStyleOptionFocusRect focus;
        focus.initFrom(this);
        focus.rect = face.adjusted(4, 4, -4, -4);
        focus.backgroundColor = fill.color();
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, &painter, this);
    }
}

void GraphicalButton::mousePressEvent(QMouseEvent *event)
{
    m_abandoned = false;
    if (event->button() == Qt::LeftButton)
        QPushButton::mousePressEvent(event);
    else
        setDown(true);
    Q_EMIT mouseDown();
}

void GraphicalButton::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        QPushButton::mouseReleaseEvent(event);
    else if (event->buttons() == Qt::NoButton)
        setDown(false);
    if (m_abandoned) {
        if (event->buttons() == Qt::NoButton)
            m_abandoned = false;
        return;
    }
    Q_EMIT mouseUp();
}

EtchedFrame::EtchedFrame(QWidget *parent) : QFrame(parent)
{
    setFrameStyle(QFrame::Box | QFrame::Sunken);
}

TrafficLabel::TrafficLabel(const QString &text, QWidget *parent)
    : QLabel(text, parent), m_accessibilityActive(QAccessible::isActive())
{
    QAccessible::installActivationObserver(this);
}

TrafficLabel::~TrafficLabel()
{
    QAccessible::removeActivationObserver(this);
}

namespace {

QString laidOut(std::string_view text)
{
    const std::string_view shown = text.substr(0, TrafficLabel::kLaidOutChars);
    return QString::fromLatin1(shown.data(), static_cast<qsizetype>(shown.size()));
}

}  // namespace

bool TrafficLabel::laysOutAnew(std::string_view text) const
{
    const std::string_view shown = text.substr(0, kLaidOutChars);
    return this->text() != QLatin1StringView(shown.data(), static_cast<qsizetype>(shown.size()));
}

bool TrafficLabel::laysOutAnewAppending(std::string_view more) const
{
    return !more.empty() && m_traffic.size() < kLaidOutChars;
}

void TrafficLabel::setTraffic(std::string_view text)
{
    if (text == m_traffic)
        return;
    m_traffic = text;
    setText(laidOut(m_traffic));
    updateAccessibleName();
}

void TrafficLabel::appendTraffic(std::string_view more)
{
    if (more.empty())
        return;
    const bool laidOutGrows = m_traffic.size() < kLaidOutChars;
    m_traffic.append(more);
    if (laidOutGrows)
        setText(laidOut(m_traffic));
    updateAccessibleName();
}

void TrafficLabel::accessibilityActiveChanged(bool active)
{
    m_accessibilityActive = active;
    updateAccessibleName();
}

void TrafficLabel::updateAccessibleName()
{
    // A name left empty is the label's text: the whole text when it is all laid out.
    if (m_accessibilityActive && m_traffic.size() > kLaidOutChars)
        setAccessibleName(
            QString::fromLatin1(m_traffic.data(), static_cast<qsizetype>(m_traffic.size())));
    else if (!accessibleName().isEmpty())
        setAccessibleName(QString());
}
