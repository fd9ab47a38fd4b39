#include "widgets/labeldisplays.h"

#include "widgets/controls.h"

LabelDisplays::LabelDisplays(TrafficLabel *txd, TrafficLabel *rxd, TrafficLabel *status,
                             QWidget *frame8)
    : m_labels{txd, rxd, status}, m_frame8(frame8)
{
    m_paintLater.setSingleShot(true);
    m_paintLater.setTimerType(Qt::PreciseTimer);
    connect(&m_paintLater, &QTimer::timeout, this, &LabelDisplays::paintHeldBack);
}

void LabelDisplays::show(TrafficLabel *label, std::string_view text)
{
    if (label->laysOutAnew(text))
        holdBackPainting(label);
    label->setTraffic(text);
}

void LabelDisplays::appendRxd(std::string_view more)
{
    TrafficLabel *label = m_labels[1];
    if (label->laysOutAnewAppending(more))
        holdBackPainting(label);
    label->appendTraffic(more);
}

void LabelDisplays::holdBackPainting(TrafficLabel *label)
{
    // Unasked text can arrive in a thousand pieces a second, each changing the RXD display:
    // far more often than a screen shows a frame, and each painting lays the text out afresh.
    // A change within a frame of the last painting holds its painting back to the end of that
    // frame, with every other change meanwhile; a change after a quiet while is painted at
    // once. The text itself is the label's at once either way. A change beyond the beginning
    // that the label lays out paints nothing, and holds nothing back.
    const qint64 sincePainted = m_sincePainted.isValid() ? m_sincePainted.elapsed() : kFrameMs;
    if (sincePainted < kFrameMs) {
        label->setUpdatesEnabled(false);
        if (!m_paintLater.isActive())
            m_paintLater.start(static_cast<int>(kFrameMs - sincePainted));
    } else {
        m_sincePainted.start();
    }
}

void LabelDisplays::paintHeldBack()
{
    m_sincePainted.start();
    for (TrafficLabel *label : m_labels) {
        // Enabling updates again repaints the label whole.
        if (!label->updatesEnabled())
            label->setUpdatesEnabled(true);
    }
}

void LabelDisplays::setTxdToolTip(std::string_view text)
{
    m_labels[0]->setToolTip(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
}

void LabelDisplays::setFrame8Visible(bool visible)
{
    m_frame8->setVisible(visible);
    if (visible)
        m_frame8->raise();
}
