#pragma once

#include <QAccessible>
#include <QColor>
#include <QFont>
#include <QFrame>
#include <QLabel>
#include <QPalette>
#include <QPushButton>
#include <string>
#include <string_view>

#include "widgets/layouttable.h"

// The controls the panel is built of, drawn as its design has them.

QColor toColor(layout::Rgb rgb);
// The panel's own light palette, whatever the desktop's theme: the designed grey for the window
// and the button faces, black text, and white wells for the option buttons' discs, in every
// colour group. Set on the window, it reaches every control.
QPalette designedPalette();
// The table's font, with the two Gothic faces mapped to faces drawn to the same metrics.
QFont toFont(const layout::Font &font);
// Lengths on the panel are twips; widgets take logical pixels, so a high-DPI screen scales
// the whole panel.
constexpr int toPixels(int twips)
{
    return (twips + layout::kTwipsPerPixel / 2) / layout::kTwipsPerPixel;
}
void installFontSubstitutes();

// A push button of the graphical style: a raised face filled with its own back colour,
// sunken while pressed. It reports every mouse press and release, whichever mouse button, so
// a hold button can start and end its hold; a release reaches it even when the pointer has
// left it, since the press grabs the mouse.
class GraphicalButton : public QPushButton {
    Q_OBJECT
public:
    explicit GraphicalButton(const QString &caption, QWidget *parent = nullptr);

    void setFaceColor(const QColor &color);
    // Ends the press without a release: the button comes up, and the release of the mouse
    // buttons now down is not reported.
    void abandonPress();

Q_SIGNALS:
    void mouseDown();
    void mouseUp();

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    QColor m_face;
    bool m_hasFace = false;
    bool m_abandoned = false;
};

// A frame draws a plain etched border around its group and no caption.
class EtchedFrame : public QFrame {
    Q_OBJECT
public:
    explicit EtchedFrame(QWidget *parent = nullptr);
};

// A display of traffic: the TXD, RXD and status displays. Its text can be tens of thousands of
// characters long while its box shows a line or two, so only a beginning that fills the box
// many times over is laid out: what it shows is the same, at a fraction of the cost. A screen
// reader gets the whole text as the accessible name, kept up to date while assistive
// technology is active: made afresh at every receive event, a name of tens of thousands of
// characters would cost more than all the rest of the event.
class TrafficLabel : public QLabel, private QAccessible::ActivationObserver {
    Q_OBJECT
public:
    static constexpr std::size_t kLaidOutChars = 1024;

    explicit TrafficLabel(const QString &text, QWidget *parent = nullptr);
    ~TrafficLabel() override;

    void setTraffic(std::string_view text);
    void appendTraffic(std::string_view more);
    const std::string &traffic() const { return m_traffic; }

    // Whether setTraffic(text), or appendTraffic(more), changes what the label lays out and
    // paints.
    bool laysOutAnew(std::string_view text) const;
    bool laysOutAnewAppending(std::string_view more) const;

private:
    void accessibilityActiveChanged(bool active) override;
    void updateAccessibleName();

    std::string m_traffic;
    bool m_accessibilityActive;
};
