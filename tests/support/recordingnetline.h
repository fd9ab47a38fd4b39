#pragma once

#include <mutex>
#include <optional>
#include <string>

#include "qt/netline.h"

// What a NetLine reported, recorded from the line's own thread for the test's to read.
class RecordingNetLine {
public:
    NetLine::Events events()
    {
        NetLine::Events events;
        events.opened = [this](std::optional<NetError> error) {
            std::lock_guard lock(m_mutex);
            m_opened = std::move(error);
            m_outcome = true;
        };
        events.received = [this](std::string bytes) {
            std::lock_guard lock(m_mutex);
            m_received += bytes;
        };
        events.settingsRejected = [this](NetError) {
            std::lock_guard lock(m_mutex);
            ++m_rejections;
        };
        return events;
    }
    bool hasOutcome() const
    {
        std::lock_guard lock(m_mutex);
        return m_outcome;
    }
    std::optional<NetError> opened() const
    {
        std::lock_guard lock(m_mutex);
        return m_opened;
    }
    std::string received() const
    {
        std::lock_guard lock(m_mutex);
        return m_received;
    }
    int rejections() const
    {
        std::lock_guard lock(m_mutex);
        return m_rejections;
    }

private:
    mutable std::mutex m_mutex;
    bool m_outcome = false;
    std::optional<NetError> m_opened;
    std::string m_received;
    int m_rejections = 0;
};
