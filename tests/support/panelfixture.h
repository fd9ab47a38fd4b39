#pragma once

#include <QApplication>
#include <QLabel>
#include <QRadioButton>
#include <QTest>
#include <memory>

#include "support/fakeserialcontrol.h"
#include "support/recordingmessagebox.h"
#include "support/virtualclock.h"
#include "widgets/form1.h"

// The real panel on a virtual clock and a fake line, loaded and shown on the offscreen
// platform. Tests drive its widgets with QTest's mouse and key functions.
class PanelFixture {
public:
    VirtualClock clock;
    FakeSerialControl comm;
    RecordingMessageBox messages;
    std::unique_ptr<Form1> form;
    int ends = 0;  // how often the panel ended the program

    PanelFixture()
    {
        form = std::make_unique<Form1>(clock, comm, messages);
        form->setOnEnd([this] { ++ends; });
    }

    // Loads and shows the panel; false when the start-up failed.
    bool start()
    {
        if (!form->Form_Load())
            return false;
        form->show();
        return QTest::qWaitForWindowExposed(form.get());
    }

    template <typename T = QWidget>
    T *get(const char *name) const
    {
        return form->findChild<T *>(QString::fromLatin1(name));
    }

    void click(const char *name) { QTest::mouseClick(get(name), Qt::LeftButton); }
    void press(const char *name, Qt::MouseButton button = Qt::LeftButton)
    {
        QTest::mousePress(get(name), button);
    }
    void release(const char *name, Qt::MouseButton button = Qt::LeftButton)
    {
        QTest::mouseRelease(get(name), button);
    }

    QString txd() const { return get<QLabel>("Label11")->text(); }
    QString rxd() const { return get<QLabel>("Label12")->text(); }
    QString status() const { return get<QLabel>("Label22")->text(); }
    bool frame8Shown() const { return get("Frame8")->isVisible(); }

    // Frames written since the last call.
    std::vector<std::string> takeWritten() { return std::exchange(comm.written, {}); }
};
