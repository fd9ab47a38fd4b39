#pragma once

#include <QObject>
#include <QString>
#include <QTimer>
#include <cstdint>
#include <string>

#include "sim/core/framereader.h"
#include "sim/core/lineoutput.h"
#include "sim/core/linepacer.h"
#include "sim/core/projectorchain.h"
#include "sim/core/simevent.h"
#include "sim/qt/ptyendpoint.h"

// How a simulated line behaves, besides the projectors themselves.
struct SimulatorOptions {
    int chainLength = 1;
    ProjectorSettings projector{};
    int replyDelayMs = 0;
    bool silent = false;  // take frames, change state, answer nothing
    bool byteAtATime = false;
    int byteGapMs = 10;
    std::string unasked{};
    double unaskedRate = 0;  // bytes a second
    // Read and write no faster than the line speed set on the port carries the bytes.
    bool pace = false;
};

// A chain of simulated projectors on one line: a new pseudo-terminal, whose slave path the
// panel opens as its port, or a device. It takes frames as they arrive, lets the projectors
// answer and reports everything on the line through traffic().
//
//     auto *com1 = new ProjectorSimulator({.chainLength = 4}, &app);
//     if (!com1->openPty())
//         qFatal("%s", qPrintable(com1->errorString()));
//     devices.com1 = com1->slavePath().toStdString();
class ProjectorSimulator : public QObject {
    Q_OBJECT
public:
    explicit ProjectorSimulator(SimulatorOptions options = {}, QObject *parent = nullptr);
    ~ProjectorSimulator() override;

    bool openPty();
    bool openDevice(const QString &path, bool anyDevice = false);
    void close();
    QString slavePath() const { return m_endpoint.path(); }
    QString errorString() const { return m_endpoint.errorString(); }
    bool setLineBaud(int baud) { return m_endpoint.setLineBaud(baud); }
    int lineBaud() const { return m_endpoint.lineBaud(); }

    const SimulatorOptions &options() const { return m_options; }
    ProjectorChain &chain() { return m_chain; }
    const ProjectorChain &chain() const { return m_chain; }
    // Milliseconds since the simulator was made: the projectors' time.
    std::int64_t modelTimeMs() const;

Q_SIGNALS:
    void traffic(const SimEvent &event);

private:
    void readInput();
    void resumeInput();
    void takeBytes(std::string_view bytes, std::int64_t nowUs);
    void pumpOutput();
    void pumpOutputAt(std::int64_t nowUs);
    void onFarEndClosed();
    void onFarEndOpened();
    void updateBaud();

    SimulatorOptions m_options;
    std::int64_t m_startUs;
    PtyEndpoint m_endpoint;
    FrameReader m_reader;
    ProjectorChain m_chain;
    LineOutput m_output;
    LinePacer m_inputPacer;
    QTimer m_outputTimer;
    QTimer m_inputTimer;
};
