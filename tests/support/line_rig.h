#pragma once
// A line over the fake port with an RZT-604Д in memory answering at address
// 1, its тп.ini (and so its journal) in a folder of its own; the suite ticks.
#include "fake_controller.h"
#include "fake_serial_port.h"
#include "line_driver.h"

#include <QTemporaryDir>

#include <memory>

struct LineRig {
    QTemporaryDir dir;
    FakeSerialPort *port = nullptr;
    std::unique_ptr<Line> line;
    FakeController controller;

    LineRig()
    {
        auto p = std::make_unique<FakeSerialPort>();
        p->make_free({1});
        port = p.get();
        line = std::make_unique<Line>(std::move(p), dir.filePath(QStringLiteral("тп.ini")));
        line->set_com_port(1);
        line->open_configured();
        line->set_address(1);
        // Waits for a lost port like the program does; the suite ticks itself.
        line->start();
        LineDriver::timer(*line)->stop();
        answer();
    }
    void answer()
    {
        port->responder = [this](const QByteArray &frame) { return controller(frame); };
    }
    ControllerModel &model(int address = 1) { return line->controller(address); }
    void ticks(int n) { LineDriver::ticks(*line, n); }
    QString journal() const { return dir.filePath(QStringLiteral("journal.jsonl")); }
};
