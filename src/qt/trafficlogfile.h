#pragma once

#include <QObject>
#include <QTimer>
#include <string>

#include "core/panel/loggingserialcontrol.h"
#include "os/logfile.h"

// The traffic log in a file, appended to. A record is stamped at once and written when the
// event loop next runs, so the send that made it is never held up by the disk. A file that
// cannot be opened or written gives one warning on standard error, naming the reason, and
// logging stops there; the log holds whole lines only.
class TrafficLogFile final : public QObject, public TrafficLogSink {
    Q_OBJECT
public:
    // path: the file's name as given (bytes, not necessarily UTF-8).
    explicit TrafficLogFile(std::string path, QObject *parent = nullptr);
    ~TrafficLogFile() override;

    void record(Direction direction, std::string_view port, std::string_view bytes) override;
    // Writes what is buffered now.
    void flush();
    bool failed() const { return m_failed; }

private:
    void fail(const QString &reason);

    std::string m_path;
    LogFile m_file;
    QByteArray m_pending;
    QTimer m_flushTimer;
    bool m_failed = false;
};
