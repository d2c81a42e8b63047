#include "bench/riobench/rig.h"

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

PanelRig::PanelRig(Pacing pacing, const std::string& linePath, int speed, bool diagnostics)
    : m_pacing(pacing), m_speed(speed) {
    auto port = std::make_unique<ProbePort>(lineOnly(linePath));
    m_port = port.get();
    // The naive baseline is the same window whose exchanges wait on the
    // NaivePump instead of the panel's own.
    std::unique_ptr<exchange::EventPump> pump;
    if (m_pacing == Pacing::Naive)
        pump = std::make_unique<NaivePump>();
    m_form = std::make_unique<panel::Form1>(std::move(port), std::move(pump));
    m_form->setProcessEnd([](int) {});
    m_form->Form_Load();
    if (diagnostics) {
        m_trace = std::make_unique<trace::TraceWriter>();
        if (!m_trace->open(m_traceDir.filePath(QStringLiteral("trace.csv"))))
            throw std::runtime_error("cannot open the trace file: " +
                                     m_trace->reason().toStdString());
        m_form->frameListeners().add(m_trace.get());
        m_form->lineMonitor().showTrace(m_trace.get());
    }
}

PanelRig::~PanelRig() {
    m_form->Timer1->stop();
    if (m_trace) {
        m_form->lineMonitor().showTrace(nullptr);
        m_form->frameListeners().remove(m_trace.get());
    }
}

void PanelRig::show() {
    m_form->show();
    if (m_trace)
        m_form->openLineMonitor();
    QCoreApplication::processEvents();
}

void PanelRig::initialize() {
    m_form->Text8->setText(QString::number(m_speed));
    QTest::mouseClick(m_form->Command2, Qt::LeftButton);
    if (!m_form->MSComm1->portOpen())
        throw std::runtime_error("ComPort Initialize did not open the line");
}

void PanelRig::start() {
    QTest::mouseClick(m_form->Command5, Qt::LeftButton);
}

void PanelRig::stop() {
    QTest::mouseClick(m_form->Command6, Qt::LeftButton);
}

void PanelRig::read(int board) {
    const auto i = std::size_t(board - 1);
    const std::array reads{&panel::Form1::ReadBoard1, &panel::Form1::ReadBoard2,
                           &panel::Form1::ReadBoard3};
    (m_form.get()->*reads[i])();
}

void PanelRig::write(int board) {
    const auto i = std::size_t(board - 1);
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
    return m_form->tickNesting();
}

} // namespace rio::bench
