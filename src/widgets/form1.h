#pragma once

#include <QWidget>
#include <functional>
#include <map>
#include <memory>
#include <string_view>

#include "core/panel/panelcore.h"
#include "widgets/controls.h"
#include "widgets/views.h"

class Clock;
class LabelDisplays;
class MessageBox;
class SerialControl;

// The panel: one window of fixed width whose controls are built from the layout table, with
// the handlers of its buttons, options and keys, on the panel's logic.
class Form1 : public QWidget {
    Q_OBJECT
public:
    static constexpr std::string_view kAppTitle = "koru-panel";

    Form1(Clock &clock, SerialControl &comm, MessageBox &messages, QWidget *parent = nullptr);
    ~Form1() override;

    // The start-up sequence. False when COM1 could not be opened: the error has been shown and
    // the panel must not be. A network port that fails to connect later shows the same error
    // and ends the program with status 1.
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
    const PanelCore &core() const { return *m_core; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    bool event(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void buildControls();
    void wireButtons();
    void wireOptions();
    // Selecting an option from code runs its click handler when it was not selected yet.
    void selectOption(std::string_view name);
    void applyHeight();
    void endProgram(int exitCode = 0);
    void showStartUpFailure(const SerialError &error);
    // The COM1 or COM2 option of the port number in force.
    void showPortInForce();
    // The window lost the mouse while a hold button was down: its release will never come.
    void releaseLostHold();

    std::map<std::string_view, QWidget *> m_controls;
    GraphicalButton *m_dataViewButton = nullptr;

    MessageBox &m_messages;
    SerialControl &m_comm;
    // Made after the controls they show on.
    std::unique_ptr<LabelDisplays> m_displays;
    std::unique_ptr<PanelCore> m_core;

    const HoldButton *m_heldButton = nullptr;
    GraphicalButton *m_heldWidget = nullptr;

    std::function<void()> m_onEnd;
    int m_height = views::kFullHeight;
    bool m_ended = false;
};
