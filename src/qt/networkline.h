#pragma once

#include <memory>
#include <mutex>

#include "qt/linetransport.h"
#include "qt/netline.h"

// A line reached through a serial server: rfc2217://HOST:PORT, where the program sets the
// far line's speed, or tcp://HOST:PORT, a raw byte stream at the server's speed. Opening
// connects in the background; the NetLine and its thread exist only while a network port is
// in use.
class NetworkLine final : public LineTransport {
public:
    static constexpr std::chrono::milliseconds kConnectTimeout{5000};

    explicit NetworkLine(Events events);
    ~NetworkLine() override;

    std::optional<SerialError> open(int port, const std::string &url,
                                    const LineSettings &settings) override;
    bool opensAtOnce() const override { return false; }
    void close() override;
    void setSettings(const LineSettings &settings) override;
    bool write(std::string_view frame) override;
    std::size_t unsent() const override;
    bool knowsLineSpeed() const override;
    std::string takeReceived() override;

private:
    SerialError errorFor(const NetError &error) const;
    void received(const std::string &bytes);

    const Events m_events;
    int m_port = 1;
    std::string m_url;
    std::optional<NetAddress> m_address;
    mutable std::mutex m_mutex;
    std::string m_in;
    std::unique_ptr<NetLine> m_line;
};
