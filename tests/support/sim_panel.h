#pragma once
// The real window on a real pseudo-terminal with the board simulator on the
// far end. Header-only; a test that uses it links rio_panel and rio_sim.

#include "sim/simulator.h"
#include "tests/support/panel_on.h"

#include <QLabel>
#include <QStringList>
#include <QTimer>

#include <string>

namespace rio::test {

// The simulator serving on a line of its own.
struct SimLine {
    explicit SimLine(sim::SimConfig config) : sim(std::move(config)), path(sim.start()) {}
    sim::Simulator sim;
    std::string path;
};

// The line first, so that the window is built on a line that serves.
struct SimPanel : SimLine, PanelOn {
    explicit SimPanel(sim::SimConfig config) : SimLine(std::move(config)), PanelOn(path) {}

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
