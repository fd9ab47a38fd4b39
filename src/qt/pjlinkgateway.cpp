#include "qt/pjlinkgateway.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <algorithm>
#include <cstdio>

namespace {

DeviceMap lineMap(const std::string &line)
{
    DeviceMap devices;
    devices.com1 = line;
    return devices;
}

// A client that sends commands and reads none of its replies fills this much of its
// connection's output before it is dropped.
constexpr qint64 kMaxUnreadBytes = qint64{64} * 1024;

// Connections a projector's endpoint holds at once; one more is closed as it comes, so that
// clients that open and never close cannot take every descriptor the gateway has (and with
// them its lines).
constexpr std::size_t kMaxConnections = 64;

}  // namespace

GatewayLine::GatewayLine(const std::string &line, int speed, const Clock &clock, Clock &timers)
    : m_name(line), m_speed(speed), m_timers(timers), m_program(lineMap(line), clock, {})
{
    m_reopen.setSingleShot(true);
    connect(&m_reopen, &QTimer::timeout, this, &GatewayLine::open);
    m_queue.lineLost = [this] { reopenSoon(); };
    m_queue.lineAnswered = [this] { m_lossTold = false; };
}

GatewayLine::~GatewayLine()
{
    m_queue.setLine(nullptr);
    m_transactions.reset();
    m_program.control().setEvents(nullptr);
    m_program.control().closePort();
}

void GatewayLine::open()
{
    SerialControl &port = m_program.control();
    m_queue.setLine(nullptr);
    m_transactions.reset();
    port.closePort();
    port.setCommPort(1);
    static_cast<void>(port.setSettings(std::to_string(m_speed) + ",N,8,1"));
    m_sinceOpen.start();
    port.setEvents(&m_watch);
    if (const std::optional<SerialError> error = port.setPortOpen(true))
        return failed(*error);
    // A network port connects after setPortOpen() returns: its clients' requests wait for
    // the outcome instead of failing on a port that is not there yet.
    if (port.opening())
        return m_queue.hold();
    opened();
}

void GatewayLine::opened()
{
    m_lastError.clear();
    m_transactions =
        std::make_unique<LineTransactions>(m_program.control(), m_timers, kReplyTimeoutMs);
    m_queue.setLine(m_transactions.get());
}

void GatewayLine::failed(const SerialError &error)
{
    m_program.control().setEvents(nullptr);
    m_program.control().closePort();
    // Told once for each new reason, not once a second.
    if (error.description != m_lastError)
        std::fprintf(stderr, "koru-pjlink: %s: %s; trying again every %d s\n", m_name.c_str(),
                     error.description.c_str(), kReopenMs / 1000);
    m_lastError = error.description;
    m_queue.setLine(nullptr);
    m_reopen.start(kReopenMs);
}

void GatewayLine::reopenSoon()
{
    // Not from inside the transactions' own call: they are replaced from the event loop. A
    // line that is lost again as soon as it is opened (a serial server that refuses the
    // connection) is tried once every kReopenMs, however often its clients ask, and its loss
    // is told once until it has answered again.
    if (m_reopen.isActive())
        return;
    if (!m_lossTold)
        std::fprintf(stderr, "koru-pjlink: %s: the line was lost; opening it again\n",
                     m_name.c_str());
    m_lossTold = true;
    const qint64 open = m_sinceOpen.elapsed();
    m_reopen.start(open >= kReopenMs ? 0 : static_cast<int>(kReopenMs - open));
}

struct PjlinkEndpointServer::Connection {
    QTcpSocket *socket = nullptr;
    std::unique_ptr<PjlinkSession> session;
    bool closing = false;
};

PjlinkEndpointServer::PjlinkEndpointServer(const PjlinkEndpoint &endpoint, GatewayLine &line,
                                           Clock &clock, PjlinkAuthentication authentication)
    : m_endpoint(endpoint),
      m_line(line),
      m_clock(clock),
      m_authentication(std::move(authentication)),
      m_server(new QTcpServer(this))
{
    connect(m_server, &QTcpServer::newConnection, this, &PjlinkEndpointServer::accept);
}

PjlinkEndpointServer::~PjlinkEndpointServer()
{
    for (const auto &connection : m_connections) {
        connection->socket->disconnect(this);
        connection->session.reset();
    }
}

std::optional<std::string> PjlinkEndpointServer::listen()
{
    QHostAddress address;
    const QString host = QString::fromStdString(m_endpoint.listenHost);
    if (!address.setAddress(host))
        return "listen's host is not an IP address: " + m_endpoint.listenHost;
    if (!m_server->listen(address, static_cast<quint16>(m_endpoint.listenPort)))
        return "cannot listen on " + m_endpoint.listenHost + ":" +
               std::to_string(m_endpoint.listenPort) + ": " + m_server->errorString().toStdString();
    return std::nullopt;
}

void PjlinkEndpointServer::accept()
{
    while (QTcpSocket *socket = m_server->nextPendingConnection()) {
        if (m_connections.size() >= kMaxConnections) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        auto connection = std::make_unique<Connection>();
        Connection *c = connection.get();
        c->socket = socket;
        socket->setParent(this);
        const auto write = [this, c](std::string_view bytes) {
            c->socket->write(bytes.data(), static_cast<qint64>(bytes.size()));
            if (c->socket->bytesToWrite() > kMaxUnreadBytes)
                c->socket->abort();
        };
        const auto close = [c] {
            // The session is in its own call: the socket goes, the connection with it, from
            // the event loop.
            c->closing = true;
            c->socket->disconnectFromHost();
        };
        c->session = std::make_unique<PjlinkSession>(m_endpoint.projector, m_line.queue(), m_clock,
                                                     m_authentication,
                                                     PjlinkSession::Connection{write, close});
        connect(socket, &QTcpSocket::readyRead, this, [this, c] {
            const QByteArray bytes = c->socket->readAll();
            if (!c->closing)
                c->session->received({bytes.constData(), static_cast<std::size_t>(bytes.size())});
        });
        connect(
            socket, &QTcpSocket::disconnected, this, [this, c] { drop(c); }, Qt::QueuedConnection);
        m_connections.push_back(std::move(connection));
        c->session->start();
    }
}

void PjlinkEndpointServer::drop(Connection *connection)
{
    const auto found =
        std::find_if(m_connections.begin(), m_connections.end(),
                     [connection](const auto &owned) { return owned.get() == connection; });
    if (found == m_connections.end())
        return;
    (*found)->session.reset();
    (*found)->socket->deleteLater();
    m_connections.erase(found);
}
