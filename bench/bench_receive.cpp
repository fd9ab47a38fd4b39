// What one receive event costs the window's thread, and one painting of the RXD display, with
// little and with much already received: counted in instructions under callgrind, so that the
// figures are the same on a busy machine as on a quiet one. scripts/bench.sh receive runs it:
//
//   valgrind --tool=callgrind --collect-atstart=no --callgrind-out-file=DIR/receive bench_receive
//
// The real panel (Form1) in its full view on the offscreen platform, on Qt's clock and a line
// with nothing behind it. Unasked text comes in pieces of 20 bytes, as a pseudo-terminal hands
// over a 19200 baud flood; nothing is sent, so nothing empties the receive buffer. At each
// stage the program dumps the counts twice, each dump named by the characters received before,
// a count P and what it counts: P pieces handed to the panel (everything the window's thread
// does for them at once, the event loop's later work left out), then P paintings of the RXD
// display. Then it hands over P more pieces at the pace of the line's thread and prints how
// often they had the RXD display painted, a figure of real time that only a run outside
// callgrind gives right. Outside callgrind the instructions are not counted.

#include <valgrind/callgrind.h>

#include <QApplication>
#include <QEventLoop>
#include <QKeyEvent>
#include <QLabel>
#include <QTest>
#include <QTimer>
#include <cstdio>
#include <string>

#include "core/panel/messagebox.h"
#include "qt/qtclock.h"
#include "support/fakeserialcontrol.h"
#include "support/keys.h"
#include "widgets/form1.h"
#include "widgets/labeldisplays.h"

namespace {

constexpr std::string_view kFloodText = "FLOOD 0123456789 abcdefghij\r\n";
constexpr std::size_t kPiece = 20;
constexpr int kMeasuredPieces = 50;
// The line's thread hands received bytes over at most this often.
constexpr int kHandOverMs = 4;
// Characters received before each stage's measured pieces.
constexpr std::size_t kStages[] = {1000, 19000};

class PrintingMessageBox : public MessageBox {
public:
    void show(Icon, const std::string &title, const std::string &text) override
    {
        std::fprintf(stderr, "bench_receive: %s: %s\n", title.c_str(), text.c_str());
    }
};

// Counts the paintings of a widget.
class PaintCounter : public QObject {
public:
    explicit PaintCounter(QWidget *widget) { widget->installEventFilter(this); }
    int count = 0;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            ++count;
        return false;
    }
};

void runFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

// The flood's next piece: the text over and over, cut into pieces with no regard for its lines.
class Flood {
public:
    std::string next()
    {
        std::string piece;
        while (piece.size() < kPiece) {
            piece.push_back(kFloodText[m_at]);
            m_at = (m_at + 1) % kFloodText.size();
        }
        m_sent += kPiece;
        return piece;
    }
    std::size_t sent() const { return m_sent; }

private:
    std::size_t m_at = 0;
    std::size_t m_sent = 0;
};

}  // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    QtClock clock;
    FakeSerialControl comm;
    PrintingMessageBox messages;
    Form1 form(clock, comm, messages);
    form.setOnEnd([] {});
    if (!form.Form_Load())
        return 1;
    form.show();
    // The full view, in which the traffic displays are shown.
    pressCtrlH(&form);
    if (!QTest::qWaitForWindowExposed(&form))
        return 1;
    auto *rxd = qobject_cast<QLabel *>(form.control("Label12"));
    if (!rxd || !rxd->isVisible()) {
        std::fprintf(stderr, "bench_receive: the RXD display is not shown\n");
        return 1;
    }

    PaintCounter paintings(rxd);
    Flood flood;
    for (const std::size_t stage : kStages) {
        while (flood.sent() < stage) {
            comm.receive(flood.next());
            QApplication::processEvents();
        }
        const std::string name =
            std::to_string(stage) + " " + std::to_string(kMeasuredPieces) + " ";
        QApplication::processEvents();
        CALLGRIND_ZERO_STATS;
        for (int i = 0; i < kMeasuredPieces; ++i) {
            const std::string piece = flood.next();
            CALLGRIND_TOGGLE_COLLECT;
            comm.receive(piece);
            CALLGRIND_TOGGLE_COLLECT;
            // Whatever the pieces left to the event loop, painting included, is not counted.
            QApplication::processEvents();
        }
        // The macro keeps the name's address, not the name, for a later statement.
        const std::string receiveName = name + "receive event";
        CALLGRIND_DUMP_STATS_AT(receiveName.c_str());
        // The last piece's painting, held back to the end of a frame, has come.
        QTest::qWait(3 * LabelDisplays::kFrameMs);
        if (!rxd->updatesEnabled()) {
            std::fprintf(stderr, "bench_receive: the RXD display's painting is still held back\n");
            return 1;
        }
        for (int i = 0; i < kMeasuredPieces; ++i) {
            CALLGRIND_TOGGLE_COLLECT;
            rxd->repaint();
            CALLGRIND_TOGGLE_COLLECT;
        }
        const std::string paintName = name + "painting of the RXD display";
        CALLGRIND_DUMP_STATS_AT(paintName.c_str());

        // As the line's thread hands them over: how often do the pieces have the display
        // painted?
        paintings.count = 0;
        for (int i = 0; i < kMeasuredPieces; ++i) {
            comm.receive(flood.next());
            runFor(kHandOverMs);
        }
        runFor(3 * LabelDisplays::kFrameMs);
        std::printf(
            "receive %zu characters received: the next %d pieces, %d ms apart, painted the "
            "RXD display %d times\n",
            stage, kMeasuredPieces, kHandOverMs, paintings.count);
    }
    return 0;
}
