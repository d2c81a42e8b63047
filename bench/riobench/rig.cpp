#include "rig.h"

#include <QTest>

#include <stdexcept>

namespace rio::bench {

InProcessSim::InProcessSim(sim::SimConfig config) : m_sim(std::move(config)) {
    m_path = m_sim.start();
}

ExternalSim::ExternalSim(const QString& program, const QStringList& arguments) {
    m_process.setProcessChannelMode(QProcess::SeparateChannels);
    m_process.setReadChannel(QProcess::StandardOutput);
    m_process.start(program, arguments);
    const QByteArray prefix = "riosim: line ready at ";
    QByteArray seen;
    while (m_process.waitForReadyRead(5000)) {
        seen += m_process.readAll();
        const qsizetype at = seen.indexOf(prefix);
        const qsizetype end = seen.indexOf('\n', at);
        if (at >= 0 && end > at) {
            m_path = seen.mid(at + prefix.size(), end - at - prefix.size()).trimmed().toStdString();
            return;
        }
    }
    throw std::runtime_error("riosim did not report its line: " + program.toStdString() + " " +
                             m_process.readAllStandardError().toStdString());
}

ExternalSim::~ExternalSim() {
    m_process.terminate();
    if (!m_process.waitForFinished(3000))
        m_process.kill();
    m_process.waitForFinished(1000);
}

namespace {

// Port 1 is the line; no other device of the machine takes part.
serial::PortMap lineOnly(const std::string& path) {
    serial::PortMap ports([] { return std::vector<serial::PresentDevice>{}; });
    ports.addOverride({1, QString::fromStdString(path)});
    return ports;
}

} // namespace

PanelRig::PanelRig(Pacing pacing, const std::string& linePath, int speed)
    : m_pacing(pacing), m_speed(speed) {
    auto port = std::make_unique<ProbePort>(lineOnly(linePath));
    m_port = port.get();
    m_form = std::make_unique<panel::Form1>(std::move(port));
    m_form->setProcessEnd([](int) {});
    m_form->Form_Load();

    if (m_pacing == Pacing::Naive) {
        panel::Form1& f = *m_form;
        m_line = {m_port, &f.ReadBusy, &f.WriteBusy, &f.PortSpeed, &m_naivePump};
        for (std::size_t i = 0; i < 3; ++i) {
            const panel::BoardBinding& b = f.boards()[i];
            m_views.push_back(std::make_unique<panel::BoardView>(b));
            m_boards[i] = {
                b.number, m_views.back().get(), b.boardAddr, b.outBits, b.inBits, b.adRawA,
                b.adRawB};
        }
        m_poll = std::make_unique<scheduler::PollTimer>(m_line, m_boards);
        m_naiveTimer.setInterval(100);
        // Posted like the panel's own tick, so ticks during a wait run nested.
        QObject::connect(&m_naiveTimer, &QTimer::timeout, &m_naiveTimer, [this] {
            QMetaObject::invokeMethod(
                &m_naiveTimer, [this] { m_poll->Timer1_Timer(); }, Qt::QueuedConnection);
        });
    }
}

PanelRig::~PanelRig() {
    m_naiveTimer.stop();
    m_form->Timer1->stop();
}

void PanelRig::show() {
    m_form->show();
    QCoreApplication::processEvents();
}

void PanelRig::initialize() {
    m_form->Text8->setText(QString::number(m_speed));
    QTest::mouseClick(m_form->Command2, Qt::LeftButton);
    if (!m_form->MSComm1->portOpen())
        throw std::runtime_error("ComPort Initialize did not open the line");
}

void PanelRig::start() {
    if (m_pacing == Pacing::Panel)
        QTest::mouseClick(m_form->Command5, Qt::LeftButton);
    else
        m_naiveTimer.start();
}

void PanelRig::stop() {
    m_naiveTimer.stop();
    QTest::mouseClick(m_form->Command6, Qt::LeftButton);
}

void PanelRig::read(int board) {
    const auto i = std::size_t(board - 1);
    if (m_pacing == Pacing::Naive) {
        exchange::readBoard(m_line, m_boards[i]);
        return;
    }
    const std::array reads{&panel::Form1::ReadBoard1, &panel::Form1::ReadBoard2,
                           &panel::Form1::ReadBoard3};
    (m_form.get()->*reads[i])();
}

void PanelRig::write(int board) {
    const auto i = std::size_t(board - 1);
    if (m_pacing == Pacing::Naive) {
        exchange::writeBoard(m_line, m_boards[i]);
        return;
    }
    const std::array writes{&panel::Form1::WriteBoard1, &panel::Form1::WriteBoard2,
                            &panel::Form1::WriteBoard3};
    (m_form.get()->*writes[i])();
}

QString PanelRig::status(int board) const {
    if (board < 1 || board > 3)
        return {};
    return m_form->Label2[std::size_t(board - 1)]->text();
}

int PanelRig::tickNesting() const {
    return m_pacing == Pacing::Panel ? m_form->tickNesting() : m_poll->nesting();
}

} // namespace rio::bench
