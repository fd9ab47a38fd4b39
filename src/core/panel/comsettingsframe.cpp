#include "core/panel/comsettingsframe.h"

#include "core/panel/paneldisplays.h"

ComSettingsFrame::ComSettingsFrame(Clock &clock, PanelDisplays &displays)
    : m_displays(displays), m_timeout(clock, kTimeoutMs)
{
    m_timeout.setOnTick([this] { Timer3_Timer(); });
}

void ComSettingsFrame::show()
{
    m_displays.setFrame8Visible(true);
    m_timeout.setEnabled(true);
}

void ComSettingsFrame::hide()
{
    m_displays.setFrame8Visible(false);
}

void ComSettingsFrame::restartTimeout()
{
    m_timeout.setEnabled(false);
    m_timeout.setEnabled(true);
}

void ComSettingsFrame::Timer3_Timer()
{
    m_displays.setFrame8Visible(false);
    m_timeout.setEnabled(false);
}
