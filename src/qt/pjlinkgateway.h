#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <memory>
#include <string>
#include <vector>

#include "core/ctl/linetransactions.h"
#include "core/pjlink/pjlinkconfig.h"
#include "core/pjlink/pjlinksession.h"
#include "core/pjlink/transactionqueue.h"
#include "core/protocol/holdbuttons.h"
#include "qt/programline.h"

class QTcpServer;
class QTcpSocket;

// One line of koru-pjlink: its port, the transactions on it and the queue that every client of
// its projectors shares. A lost line, or one that would not open, is opened again every
// kReopenMs while it is down, as the panel reopens a port; meanwhile its requests answer ERR4.
class GatewayLine final : public QObject {
public:
    static constexpr int kReopenMs = 1000;
    // How long a projector is given to start its reply, as the panel gives it (Timer2).
    static constexpr int kReplyTimeoutMs = kNormalReplyTimeoutMs;

    GatewayLine(const std::string &line, int speed, const Clock &clock, Clock &timers);
    ~GatewayLine() override;

    TransactionQueue &queue() { return m_queue; }
    const std::string &name() const { return m_name; }
    void open();

private:
    // Watches a network port's opening, before the transactions take the port's events.
    class OpeningWatch final : public SerialControl::Events {
    public:
        explicit OpeningWatch(GatewayLine &line) : m_line(line) {}

    private:
        void received(std::string_view) override {}
        void lost() override { openFailed({SerialErrorCode::Other, "the connection was lost"}); }
        void opened() override { m_line.opened(); }
        void openFailed(const SerialError &error) override { m_line.failed(error); }
        GatewayLine &m_line;
    };

    void opened();
    void failed(const SerialError &error);
    void reopenSoon();

    std::string m_name;
    int m_speed;
    Clock &m_timers;
    ProgramLine m_program;
    OpeningWatch m_watch{*this};
    std::unique_ptr<LineTransactions> m_transactions;
    TransactionQueue m_queue;
    QTimer m_reopen;
    QElapsedTimer m_sinceOpen;
    std::string m_lastError;
    // The loss was told; told again only once the line has answered since.
    bool m_lossTold = false;
};

// The TCP endpoint of one projector: a PJLink session for each connection.
class PjlinkEndpointServer final : public QObject {
public:
    PjlinkEndpointServer(const PjlinkEndpoint &endpoint, GatewayLine &line, Clock &clock,
                         PjlinkAuthentication authentication);
    ~PjlinkEndpointServer() override;

    // Starts listening; what is wrong otherwise.
    std::optional<std::string> listen();

private:
    struct Connection;
    void accept();
    void drop(Connection *connection);

    const PjlinkEndpoint &m_endpoint;
    GatewayLine &m_line;
    Clock &m_clock;
    PjlinkAuthentication m_authentication;
    QTcpServer *m_server;
    std::vector<std::unique_ptr<Connection>> m_connections;
};
