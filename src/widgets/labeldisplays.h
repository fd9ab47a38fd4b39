#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <array>

#include "core/panel/paneldisplays.h"

class QWidget;
class TrafficLabel;

// The panel's displays on its widgets: the TXD, RXD and status labels and the COM settings
// frame. A label takes its new text at once; its painting is merged per frame of the screen.
class LabelDisplays final : public QObject, public PanelDisplays {
    Q_OBJECT
public:
    static constexpr int kFrameMs = 16;

    LabelDisplays(TrafficLabel *txd, TrafficLabel *rxd, TrafficLabel *status, QWidget *frame8);

    void setTxd(std::string_view text) override { show(m_labels[0], text); }
    void setRxd(std::string_view text) override { show(m_labels[1], text); }
    void appendRxd(std::string_view more) override;
    void setStatus(std::string_view text) override { show(m_labels[2], text); }
    void setFrame8Visible(bool visible) override;
    void setTxdToolTip(std::string_view text) override;

private:
    void show(TrafficLabel *label, std::string_view text);
    void holdBackPainting(TrafficLabel *label);
    void paintHeldBack();

    std::array<TrafficLabel *, 3> m_labels;
    QWidget *m_frame8;
    QElapsedTimer m_sincePainted;
    QTimer m_paintLater;
};
