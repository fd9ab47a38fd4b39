#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>

class QSocketNotifier;

// The simulator's end of the line: the master side of a new pseudo-terminal, whose slave the
// panel opens as its serial port, or a device given by its path. Everything runs on the event
// loop: reads are announced by readyRead(), writes never block.
//
// When the panel closes the slave, the master reads nothing but errors until the slave is
// opened again; the endpoint notices, stops reading, polls until the far end is back and says
// so with farEndClosed() and farEndOpened(). A new pseudo-terminal starts in that state, as if
// the panel had just closed it, so the simulator knows when the panel first arrives.
class PtyEndpoint : public QObject {
    Q_OBJECT
public:
    // What the operating system could not take yet, kept for later; beyond it, writes are
    // dropped, as a line with nobody reading loses them.
    static constexpr qsizetype kMaxPendingBytes = 65536;
    static constexpr int kHangUpPollMs = 20;

    explicit PtyEndpoint(QObject *parent = nullptr);
    ~PtyEndpoint() override;

    bool openPty();
    // A device that is no terminal (a file, a FIFO, /dev/null) is refused unless anyDevice.
    bool openDevice(const QString &path, bool anyDevice = false);
    void close();
    bool isOpen() const { return m_fd >= 0; }
    // The path the panel opens: the slave of the pseudo-terminal, or the device.
    QString path() const { return m_path; }
    QString errorString() const { return m_errorString; }
    bool farEndPresent() const { return isOpen() && !m_hungUp; }

    // The speed set on the line, by whoever set it last (the panel, when it opens the slave),
    // or 0 when it cannot be read.
    int lineBaud() const;
    bool setLineBaud(int baud);

    // Up to maxBytes of what has arrived; empty when nothing has.
    QByteArray read(qsizetype maxBytes);
    // One write to the line. False when the bytes were dropped: no far end, more waiting than
    // kMaxPendingBytes, or a line that refuses them.
    bool write(const QByteArray &bytes);
    void setReadNotificationEnabled(bool enabled);

Q_SIGNALS:
    void readyRead();
    void farEndClosed();
    void farEndOpened();

private:
    bool setUp(int fd, const QString &path, bool waitForFarEnd);
    bool fail(const QString &what);
    void enterHangUp();
    void pollHangUp();
    void flushPending();

    int m_fd = -1;
    QString m_path;
    QString m_errorString;
    bool m_hungUp = false;
    // A terminal's far end can come back; a device that is no terminal (/dev/null, a file) at
    // its end of file has nothing more to give, and polling it would find it back at once.
    bool m_canReturn = true;
    bool m_readEnabled = true;
    QByteArray m_pending;
    QSocketNotifier *m_readNotifier = nullptr;
    QSocketNotifier *m_writeNotifier = nullptr;
    QTimer m_hangUpPoll;
};
