#pragma once
// The real window on a real pseudo-terminal with the board simulator on the
// far end: the path a technician's panel takes, short of the cable.

#include "form1.h"
#include "qt_serial_control.h"
#include "simulator.h"

#include <QLabel>
#include <QStringList>
#include <QTimer>

#include <memory>

namespace rio::test {

struct SimPanel {
    explicit SimPanel(sim::SimConfig config) : sim(std::move(config)) {
        path = sim.start();
        form = std::make_unique<panel::Form1>(std::make_unique<serial::QtSerialControl>(portMap()));
        form->setProcessEnd([this](int code) { exits.push_back(code); });
        form->Form_Load();
    }

    // Port 1 is the simulator's line; no other device of the machine counts.
    [[nodiscard]] serial::PortMap portMap() const {
        serial::PortMap ports([] { return std::vector<serial::PresentDevice>{}; });
        ports.addOverride({1, QString::fromStdString(path)});
        return ports;
    }

    // Requests the boards received, as "R01", "W02", ...
    [[nodiscard]] QStringList requests() const {
        QStringList seen;
        for (const sim::Frame& frame : sim.frames())
            if (frame.direction == sim::Direction::Received && frame.bytes.size() > 3)
                seen << QString::fromStdString(frame.bytes.substr(3, 1) + frame.address);
        return seen;
    }

    // Watches the status lines for a no-answer text, however briefly shown.
    void watchForNoAnswers() {
        watcher.setInterval(2);
        QObject::connect(&watcher, &QTimer::timeout, [this] {
            for (int i = 0; i < 3; ++i)
                if (form->Label2[std::size_t(i)]->text().contains(
                        QString::fromUtf8("응답이 없습니다")))
                    noAnswers[i] += 1;
        });
        watcher.start();
    }

    sim::Simulator sim;
    std::string path;
    std::unique_ptr<panel::Form1> form;
    std::vector<int> exits;
    QTimer watcher;
    int noAnswers[3] = {0, 0, 0};
};

// Read and write of each board in turn, starting with board `first`.
inline QStringList turns(int boards, int first = 1) {
    QStringList expected;
    for (int i = 0; i < boards; ++i) {
        const int n = (first - 1 + i) % 3 + 1;
        expected << QStringLiteral("R0%1").arg(n) << QStringLiteral("W0%1").arg(n);
    }
    return expected;
}

} // namespace rio::test
