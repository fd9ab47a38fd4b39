#pragma once

#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <map>
#include <string_view>

#include "widgets/controls.h"
#include "core/panel/panelcore.h"
#include "core/panel/paneldisplays.h"
#include "widgets/views.h"

class Clock;
class MessageBox;
class QLabel;
class QRadioButton;
class SerialControl;

// The panel: one window of fixed width whose controls are built from the layout table, on the
// panel's logic, with the handlers of its buttons, options and keys.
class Form1 : public QWidget, private PanelDisplays, public PanelCore {
    Q_OBJECT
public:
    static constexpr std::string_view kAppTitle = "koru-panel";

    Form1(Clock &clock, SerialControl &comm, MessageBox &messages, QWidget *parent = nullptr);
    ~Form1() override;

    // The start-up sequence. False when COM1 could not be opened: the error has been shown and
    // the panel must not be.
    bool Form_Load();

    // keyCode as the key's code (72 for H), shift as Shift 1 + Ctrl 2 + Alt 4.
    void Form_KeyDown(int keyCode, int shift);
    void Command33_Click();
    void Command34_Click();
    void Command16_Click();
    void Option1_Click();
    void Option2_Click();
    void Option9_Click();
    void Option10_Click();

    // The window's outer height in twips, which selects the view.
    int Height() const { return m_height; }
    void setHeight(int twips);
    views::FrameMetrics frameMetrics() const;

    // What ends the program; the application's event loop by default.
    void setOnEnd(std::function<void()> onEnd) { m_onEnd = std::move(onEnd); }
    bool ended() const { return m_ended; }

    QWidget *control(std::string_view name) const;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    bool event(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void setTxd(std::string_view text) override;
    void setRxd(std::string_view text) override;
    void setStatus(std::string_view text) override;
    void setFrame8Visible(bool visible) override;

    void buildControls();
    void wireButtons();
    void wireOptions();
    // Selecting an option from code runs its click handler when it was not selected yet.
    void selectOption(std::string_view name);
    void applyHeight();
    void endProgram();
    // The window lost the mouse while a hold button was down: its release will never come.
    void releaseLostHold();

    std::map<std::string_view, QWidget *> m_controls;
    TrafficLabel *m_txd = nullptr;
    TrafficLabel *m_rxd = nullptr;
    TrafficLabel *m_status = nullptr;
    GraphicalButton *m_dataViewButton = nullptr;
    QWidget *m_frame8 = nullptr;

    MessageBox &m_messages;

    const HoldButton *m_heldButton = nullptr;
    GraphicalButton *m_heldWidget = nullptr;

    std::function<void()> m_onEnd;
    int m_height = views::kFullHeight;
    bool m_ended = false;

    // The window is painted at most once a frame of the screen; see event().
    static constexpr int kFrameMs = 16;
    QElapsedTimer m_sincePainted;
    QTimer m_paintLater;
};
