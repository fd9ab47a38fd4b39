#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

// The reads and writes of an open serial device, on a thread of their own, so that the thread
// that owns the port never waits in the kernel on the line: a pseudo-terminal's poll, for one,
// waits for the kernel's work on its buffer whenever no byte is ready. Frames are written
// whole and in the order given; what arrives is gathered until it is taken.
//
// Plain POSIX on purpose: the serial control opens and sets up the device, and marshals the
// events to its own thread.
class LineThread {
public:
    // Each event runs on the line's thread, with no lock of the LineThread held.
    struct Events {
        // Bytes have arrived and none were waiting: takeReceived() gets them, and any that
        // come after it until it has emptied the buffer. Not called again until then.
        std::function<void()> received;
        // Once: the line is gone (hung up, or an error other than a full queue).
        std::function<void()> lost;
    };

    // After a read, the line waits this long before it reads again, so that text arriving in
    // many small pieces is read, and handed over, in a few larger ones. A first byte after a
    // quiet while is read at once, and writes never wait for it. Nor does the answer to a
    // write: from a write until a read brings kReplyEnd, each byte is read as it comes, so a
    // reply is handed over as soon as its last byte is on the line.
    static constexpr std::chrono::milliseconds kReadGap{4};
    // The byte that ends every reply on the lines this program drives.
    static constexpr char kReplyEnd = '\r';
    // Received bytes not yet taken, beyond which the line stops reading until they are: the
    // rest waits in the kernel, and nothing is lost.
    static constexpr std::size_t kMaxWaiting = std::size_t{64} * 1024;

    // fd: the open, non-blocking device; it stays the caller's, and must stay open until the
    // LineThread is destroyed. Starts the thread.
    LineThread(int fd, Events events);
    // Writes what the device takes at once of the frames not yet written, then stops and
    // joins the thread. No event runs once this returns.
    ~LineThread();

    LineThread(const LineThread &) = delete;
    LineThread &operator=(const LineThread &) = delete;
    LineThread(LineThread &&) = delete;
    LineThread &operator=(LineThread &&) = delete;

    // Queues a frame behind those not yet written and has the line write it now.
    void write(std::string_view frame);
    // Bytes handed to write() that the device has not taken yet.
    std::size_t unsent() const;
    // Everything received since the last call.
    std::string takeReceived();

private:
    void run();
    void wake() const;
    struct WriteResult {
        bool wrote = false;  // the device took bytes
        bool gone = false;   // the line is gone
    };
    // Writes what the device takes of m_out.
    WriteResult writeOut();
    struct ReadResult {
        bool read = false;      // bytes came
        bool first = false;     // and none were waiting before them
        bool replyEnd = false;  // and kReplyEnd was among them
        bool gone = false;      // the line is gone
    };
    // Reads what is there into m_in.
    ReadResult readIn();

    const int m_fd;
    const int m_wake;  // an eventfd: writes, takes and the stop wake the thread
    const Events m_events;
    mutable std::mutex m_mutex;
    std::string m_out;
    std::string m_in;
    bool m_stop = false;
    std::thread m_thread;
};
