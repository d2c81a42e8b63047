#include "bench/riobench/bench_report.h"

#include "bench/riobench/stats.h"
#include "bench/riobench/workers.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStringList>
#include <QThread>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <vector>

namespace rio::bench {

namespace {

using namespace std::chrono;
using Clock = steady_clock;

constexpr std::array kSpeeds{1200, 9600, 115200};
// Processor time with the monitor and trace is the median of this many runs.
constexpr int kDiagnosticsCpuRuns = 3;
// Seconds for the machine to settle before the processor-time runs.
constexpr unsigned long kSettleSeconds = 10;

// How much of each figure a run takes.
struct Plan {
    int startups;
    std::array<int, 3> overheadSamples;
    int naiveOverheadCapMs;
    std::array<int, 3> silentExchanges;
    int clicks;
    int cpuMs;
    int cpuWarmUpMs;
    int pollingMs;
    std::array<int, 3> losslessExchanges;
    std::array<int, 3> losslessWorkers; // parallel lines: line time, not work, bounds the run
    int naiveLosslessExchanges;
    int memoryExchanges;
    int memoryWarmUp;
};

constexpr Plan kFull{10,    {20, 100, 100},        4000,       {6, 15, 15}, 100,    5000, 1000,
                     30000, {10000, 10000, 10000}, {24, 6, 5}, 200,         100000, 6000};
constexpr Plan kQuick{1,    {2, 3, 3},   500,       {1, 2, 2}, 5,   2000, 400,
                      1500, {4, 10, 10}, {1, 1, 1}, 10,        300, 100};

// One worker process.
class Worker {
public:
    Worker(const RunSettings& settings, const QString& name, QStringList params) : m_name(name) {
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        params.prepend(name);
        params.prepend(QStringLiteral("--worker"));
        params << QStringLiteral("riosim=") + settings.riosim;
        m_started = Clock::now();
        m_process.start(settings.self, params);
    }
    ~Worker() {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(2000);
        }
    }
    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;

    [[nodiscard]] Clock::time_point started() const { return m_started; }

    // Waits for the result; throws when the worker failed.
    [[nodiscard]] QJsonObject result() {
        if (!m_process.waitForFinished(30 * 60 * 1000))
            throw std::runtime_error(m_name.toStdString() + " did not finish");
        const QByteArray out = m_process.readAllStandardOutput();
        if (m_process.exitStatus() != QProcess::NormalExit || m_process.exitCode() != 0)
            throw std::runtime_error(m_name.toStdString() + " failed (exit code " +
                                     std::to_string(m_process.exitCode()) + ")");
        for (const QByteArray& line : out.split('\n'))
            if (line.startsWith(kResultPrefix))
                return QJsonDocument::fromJson(line.mid(qsizetype(strlen(kResultPrefix)))).object();
        throw std::runtime_error(m_name.toStdString() + " printed no result");
    }

private:
    QString m_name;
    QProcess m_process;
    Clock::time_point m_started;
};

using Job = std::pair<QString, QStringList>;

std::vector<std::unique_ptr<Worker>> startAll(const RunSettings& settings,
                                              const std::vector<Job>& jobs) {
    std::vector<std::unique_ptr<Worker>> workers;
    for (const Job& job : jobs)
        workers.push_back(std::make_unique<Worker>(settings, job.first, job.second));
    return workers;
}

std::vector<QJsonObject> resultsOf(std::vector<std::unique_ptr<Worker>>& workers) {
    std::vector<QJsonObject> results;
    for (auto& worker : workers)
        results.push_back(worker->result());
    return results;
}

QString arg(const char* key, int value) {
    return QStringLiteral("%1=%2").arg(QLatin1String(key)).arg(value);
}

std::vector<double> doubles(const QJsonValue& value) {
    std::vector<double> out;
    for (const QJsonValue& v : value.toArray())
        out.push_back(v.toDouble());
    return out;
}

QString num(double value, int decimals = 1) {
    return QString::number(value, 'f', decimals);
}

QString loadAverage() {
    QFile file(QStringLiteral("/proc/loadavg"));
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("?");
    return QString::fromLatin1(file.readAll()).section(QLatin1Char(' '), 0, 2);
}

struct Row {
    Row(QString n, QString f, QString g)
        : number(std::move(n)), figure(std::move(f)), goal(std::move(g)) {}
    QString number;
    QString figure;
    QString goal;
    QString panel;
    QString naive;
    bool judged = false; // has a goal the panel column is held to
    bool met = false;
};

QJsonObject rowJson(const Row& row) {
    return {{"figure", row.number + QLatin1Char(' ') + row.figure},
            {"goal", row.goal},
            {"riopanel", row.panel},
            {"naive", row.naive},
            {"met", row.judged ? QJsonValue(row.met) : QJsonValue()}};
}

// Every result the run collected, by figure, for the JSON output and the rows.
struct Results {
    QJsonObject all;
    std::vector<Row> rows;
};

void fail(const QString& why) {
    throw std::runtime_error(why.toStdString());
}

// --- the figures, as rows ---------------------------------------------------

void overheadRows(Results& r, const std::vector<QJsonObject>& panel,
                  const std::vector<QJsonObject>& naive) {
    QJsonArray raw;
    for (std::size_t i = 0; i < kSpeeds.size(); ++i) {
        const Summary p = summarize(doubles(panel[i][QStringLiteral("overheadMs")]));
        const Summary n = summarize(doubles(naive[i][QStringLiteral("overheadMs")]));
        if (p.count == 0)
            fail(QStringLiteral("no reply was shown at %1 bit/s").arg(kSpeeds[i]));
        Row row{QStringLiteral("1"),
                QStringLiteral("exchange overhead at %1 bit/s, median / p99").arg(kSpeeds[i]),
                QStringLiteral("≤ 1 / ≤ 5 ms")};
        // The total holds the simulator's own lateness in writing ETX (it
        // batches bytes due within a millisecond); what follows ETX is the
        // panel's alone.
        const Summary late = summarize(doubles(panel[i][QStringLiteral("simLateMs")]));
        const Summary own = summarize(doubles(panel[i][QStringLiteral("panelShareMs")]));
        row.panel =
            QStringLiteral("%1 / %2 ms (n=%3) = simulator's late ETX %4 / %5 + "
                           "ETX to box %6 / %7")
                .arg(num(p.median, 2), num(p.p99, 2))
                .arg(p.count)
                .arg(num(late.median, 2), num(late.p99, 2), num(own.median, 2), num(own.p99, 2));
        const int naiveReads = naive[i][QStringLiteral("reads")].toInt();
        row.naive = n.count == 0 ? QStringLiteral("no reply shown (%1 reads)").arg(naiveReads)
                                 : QStringLiteral("%1 / %2 ms (%3 of %4 reads)")
                                       .arg(num(n.median, 2), num(n.p99, 2))
                                       .arg(n.count)
                                       .arg(naiveReads);
        row.judged = true;
        row.met = p.median <= 1 && p.p99 <= 5;
        r.rows.push_back(row);
        raw.append(QJsonObject{{"speed", kSpeeds[i]},
                               {"riopanel", QJsonObject{{"median", p.median},
                                                        {"p99", p.p99},
                                                        {"max", p.max},
                                                        {"count", p.count},
                                                        {"simulatorLateMedian", late.median},
                                                        {"simulatorLateP99", late.p99},
                                                        {"fromSimulatorEtxMedian", own.median},
                                                        {"fromSimulatorEtxP99", own.p99}}},
                               {"naive", QJsonObject{{"median", n.median},
                                                     {"p99", n.p99},
                                                     {"count", n.count},
                                                     {"reads", naiveReads}}}});
    }
    r.all.insert(QStringLiteral("exchangeOverheadMs"), raw);
}

void pollingRows(Results& r, const QJsonObject& answering, const QJsonObject& oneSilent) {
    if (answering[QStringLiteral("polls")].toInt() == 0)
        fail(QStringLiteral("no board was polled"));
    Row rate{QStringLiteral("2"),
             QStringLiteral("poll rate, 3 answering boards, 9600 bit/s, %1 s")
                 .arg(num(answering[QStringLiteral("seconds")].toDouble(), 0)),
             QStringLiteral("≥ 9.9 /s, no tick lost, order 1-2-3")};
    const double perSecond = answering[QStringLiteral("pollsPerSecond")].toDouble();
    const int lost = answering[QStringLiteral("lostTicks")].toInt();
    const bool inOrder = answering[QStringLiteral("inOrder")].toBool();
    rate.panel = QStringLiteral("%1 /s; %2 ticks, %3 lost; %4, %5 no-answers")
                     .arg(num(perSecond, 2))
                     .arg(answering[QStringLiteral("timerTicks")].toInt())
                     .arg(lost)
                     .arg(inOrder ? QStringLiteral("in order") : QStringLiteral("OUT OF ORDER"))
                     .arg(answering[QStringLiteral("noAnswer")].toInt());
    rate.naive = QStringLiteral("—");
    rate.judged = true;
    rate.met = perSecond >= 9.9 && lost == 0 && inOrder;
    r.rows.push_back(rate);

    const QJsonArray reads = oneSilent[QStringLiteral("readsByBoard")].toArray();
    const QJsonArray noAnswers = oneSilent[QStringLiteral("noAnswerByBoard")].toArray();
    Row served{QStringLiteral("3"),
               QStringLiteral("boards served in %1 s, board 2 silent (reads of 1 / 2 / 3)")
                   .arg(num(oneSilent[QStringLiteral("seconds")].toDouble(), 0)),
               QStringLiteral("1 and 3 every cycle")};
    served.panel = QStringLiteral("%1 / %2 / %3, false no-answers %4 / %5")
                       .arg(reads[0].toInt())
                       .arg(reads[1].toInt())
                       .arg(reads[2].toInt())
                       .arg(noAnswers[0].toInt())
                       .arg(noAnswers[2].toInt());
    served.naive = QStringLiteral("—");
    served.judged = true;
    served.met = noAnswers[0].toInt() == 0 && noAnswers[2].toInt() == 0 &&
                 std::abs(reads[0].toInt() - reads[1].toInt()) <= 1 &&
                 std::abs(reads[0].toInt() - reads[2].toInt()) <= 1 && reads[0].toInt() > 0;
    r.rows.push_back(served);
    r.all.insert(QStringLiteral("pollRate"), answering);
    r.all.insert(QStringLiteral("oneSilentBoard"), oneSilent);
}

void silentRows(Results& r, const std::vector<QJsonObject>& panel,
                const std::vector<QJsonObject>& naive) {
    QJsonArray raw;
    for (std::size_t i = 0; i < kSpeeds.size(); ++i) {
        const Summary p = summarize(doubles(panel[i][QStringLiteral("waitMs")]));
        const Summary pr = summarize(doubles(panel[i][QStringLiteral("reads")]));
        const Summary n = summarize(doubles(naive[i][QStringLiteral("waitMs")]));
        const Summary nr = summarize(doubles(naive[i][QStringLiteral("reads")]));
        if (p.count == 0)
            fail(QStringLiteral("no silent wait ended at %1 bit/s").arg(kSpeeds[i]));
        const auto reads = [](const Summary& s) {
            return s.min == s.max ? QStringLiteral("%1 reads").arg(s.min)
                                  : QStringLiteral("%1–%2 reads").arg(s.min).arg(s.max);
        };
        Row row{QStringLiteral("3"),
                QStringLiteral("silent-board wait at %1 bit/s, median / max").arg(kSpeeds[i]),
                kSpeeds[i] == 9600 ? QStringLiteral("≤ 250 ms, 5000 reads")
                                   : QStringLiteral("5000 reads")};
        row.panel = QStringLiteral("%1 / %2 ms, %3").arg(num(p.median), num(p.max), reads(pr));
        row.naive =
            n.count == 0
                ? QStringLiteral("—")
                : QStringLiteral("%1 / %2 ms, %3").arg(num(n.median), num(n.max), reads(nr));
        row.judged = true;
        row.met = pr.min == 5000 && pr.max == 5000 && (kSpeeds[i] != 9600 || p.max <= 250);
        r.rows.push_back(row);
        raw.append(QJsonObject{{"speed", kSpeeds[i]},
                               {"riopanel", QJsonObject{{"medianMs", p.median},
                                                        {"maxMs", p.max},
                                                        {"minReads", pr.min},
                                                        {"maxReads", pr.max}}},
                               {"naive", QJsonObject{{"medianMs", n.median},
                                                     {"maxMs", n.max},
                                                     {"minReads", nr.min},
                                                     {"maxReads", nr.max}}}});
    }
    r.all.insert(QStringLiteral("silentWait"), raw);
}

void losslessRows(Results& r, const std::vector<std::vector<QJsonObject>>& panel,
                  const std::vector<QJsonObject>& naive) {
    QJsonArray raw;
    for (std::size_t i = 0; i < kSpeeds.size(); ++i) {
        int judged = 0, noAnswer = 0, error = 0;
        for (const QJsonObject& part : panel[i]) {
            judged += part[QStringLiteral("judged")].toInt();
            noAnswer += part[QStringLiteral("noAnswer")].toInt();
            error += part[QStringLiteral("error")].toInt();
        }
        if (judged == 0)
            fail(QStringLiteral("no exchange was judged at %1 bit/s").arg(kSpeeds[i]));
        const int naiveJudged = naive[i][QStringLiteral("judged")].toInt();
        const int naiveNoAnswer = naive[i][QStringLiteral("noAnswer")].toInt();
        const int naiveError = naive[i][QStringLiteral("error")].toInt();
        Row row{QStringLiteral("4"),
                QStringLiteral("false no-answers at %1 bit/s, boards answering in 20 ms")
                    .arg(kSpeeds[i]),
                QStringLiteral("0")};
        row.panel = QStringLiteral("%1 of %2 (errors %3)").arg(noAnswer).arg(judged).arg(error);
        row.naive = QStringLiteral("%1 of %2 (errors %3)")
                        .arg(naiveNoAnswer)
                        .arg(naiveJudged)
                        .arg(naiveError);
        row.judged = true;
        row.met = noAnswer == 0 && error == 0;
        r.rows.push_back(row);
        raw.append(QJsonObject{
            {"speed", kSpeeds[i]},
            {"riopanel", QJsonObject{{"judged", judged}, {"noAnswer", noAnswer}, {"error", error}}},
            {"naive", naive[i]}});
    }
    r.all.insert(QStringLiteral("falseNoAnswers"), raw);
}

void cpuRows(Results& r, const std::vector<QJsonObject>& panel,
             const std::vector<QJsonObject>& naive) {
    const std::array<const char*, 3> what{"three answering boards", "three silent boards",
                                          "stopped"};
    const std::array<double, 3> goals{5, 35, 0.5};
    QJsonArray raw;
    for (std::size_t i = 0; i < 3; ++i) {
        const auto text = [](const QJsonObject& o) {
            return QStringLiteral("%1 % (user %2, sys %3; %4 sleeps/s, %5 reads/exchange)")
                .arg(num(o[QStringLiteral("cpuPercent")].toDouble(), 2),
                     num(o[QStringLiteral("userPercent")].toDouble(), 2),
                     num(o[QStringLiteral("systemPercent")].toDouble(), 2),
                     num(o[QStringLiteral("sleepsPerSecond")].toDouble(), 0),
                     num(o[QStringLiteral("readsPerExchange")].toDouble(), 0));
        };
        Row row{QStringLiteral("5"),
                QStringLiteral("processor time, %1, 9600 bit/s").arg(QLatin1String(what[i])),
                QStringLiteral("≤ %1 % of a core").arg(num(goals[i], goals[i] < 1 ? 1 : 0))};
        row.panel = text(panel[i]);
        row.naive = text(naive[i]);
        row.judged = true;
        row.met = panel[i][QStringLiteral("cpuPercent")].toDouble() <= goals[i];
        if (i < 2 && panel[i][QStringLiteral("exchanges")].toInt() == 0)
            fail(QStringLiteral("no exchange while measuring processor time"));
        r.rows.push_back(row);
        raw.append(QJsonObject{{"riopanel", panel[i]}, {"naive", naive[i]}});
    }
    r.all.insert(QStringLiteral("processorTime"), raw);
}

void clickRows(Results& r, const QJsonObject& panel, const QJsonObject& naive) {
    const Summary p = summarize(doubles(panel[QStringLiteral("latencyMs")]));
    const Summary n = summarize(doubles(naive[QStringLiteral("latencyMs")]));
    if (p.count == 0)
        fail(QStringLiteral("no click landed during a wait"));
    Row row{QStringLiteral("6"),
            QStringLiteral("click to new colour during a silent wait, median / p99"),
            QStringLiteral("p99 ≤ 5 ms")};
    row.panel =
        QStringLiteral("%1 / %2 ms (n=%3)").arg(num(p.median, 2), num(p.p99, 2)).arg(p.count);
    row.naive =
        n.count == 0
            ? QStringLiteral("—")
            : QStringLiteral("%1 / %2 ms (n=%3)").arg(num(n.median, 2), num(n.p99, 2)).arg(n.count);
    row.judged = true;
    row.met = p.p99 <= 5;
    r.rows.push_back(row);
    r.all.insert(
        QStringLiteral("responsiveness"),
        QJsonObject{
            {"riopanel",
             QJsonObject{{"median", p.median}, {"p99", p.p99}, {"max", p.max}, {"count", p.count}}},
            {"naive",
             QJsonObject{
                 {"median", n.median}, {"p99", n.p99}, {"max", n.max}, {"count", n.count}}}});
}

void memoryRows(Results& r, const QJsonObject& m) {
    const double peakMiB = m[QStringLiteral("peakKiB")].toDouble() / 1024;
    const double growthMiB =
        (m[QStringLiteral("rssEndKiB")].toDouble() - m[QStringLiteral("rssWarmKiB")].toDouble()) /
        1024;
    const int exchanges = m[QStringLiteral("exchanges")].toInt();
    if (m[QStringLiteral("ok")].toInt() == 0)
        fail(QStringLiteral("no exchange succeeded in the memory run"));
    Row peak{QStringLiteral("7"), QStringLiteral("peak resident size"), QStringLiteral("≤ 80 MB")};
    peak.panel = QStringLiteral("%1 MiB").arg(num(peakMiB));
    peak.naive = QStringLiteral("—");
    peak.judged = true;
    peak.met = peakMiB <= 80;
    Row growth{QStringLiteral("7"),
               QStringLiteral("resident growth over %1 exchanges at 115200 bit/s").arg(exchanges),
               QStringLiteral("≤ 1 MB")};
    growth.panel = QStringLiteral("%1 MiB (after %2 warm-up exchanges; %3 s, %4 no-answers)")
                       .arg(num(growthMiB, 2))
                       .arg(m[QStringLiteral("warmUp")].toInt())
                       .arg(num(m[QStringLiteral("seconds")].toDouble(), 0))
                       .arg(m[QStringLiteral("noAnswer")].toInt());
    growth.naive = QStringLiteral("—");
    growth.judged = true;
    growth.met = growthMiB <= 1;
    r.rows.push_back(peak);
    r.rows.push_back(growth);
    r.all.insert(QStringLiteral("memory"), m);
}

void startupRow(Results& r, const std::vector<double>& ms) {
    const Summary s = summarize(ms);
    Row row{QStringLiteral("8"),
            QStringLiteral("start-up, process start to window painted, median / max"),
            QStringLiteral("≤ 300 ms")};
    row.panel = QStringLiteral("%1 / %2 ms (n=%3)").arg(num(s.median), num(s.max)).arg(s.count);
    row.naive = QStringLiteral("—");
    row.judged = true;
    row.met = s.max <= 300;
    r.rows.push_back(row);
    r.all.insert(
        QStringLiteral("startupMs"),
        QJsonObject{{"median", s.median}, {"max", s.max}, {"min", s.min}, {"count", s.count}});
}

// With the line monitor open and every frame written to a trace file: the
// exchange overhead and processor time at 9600 bit/s, and the resident size
// after the memory run beside the same run without them.
void diagnosticsRows(Results& r, const QJsonObject& overhead,
                     const std::vector<QJsonObject>& cpuRuns,
                     const std::vector<QJsonObject>& cpuRunsWithout, const QJsonObject& memory,
                     const QJsonObject& memoryWith) {
    const Summary p = summarize(doubles(overhead[QStringLiteral("overheadMs")]));
    if (p.count == 0)
        fail(QStringLiteral("no reply was shown with the monitor and trace"));
    Row over{QStringLiteral("9"),
             QStringLiteral("with monitor and trace: exchange overhead at 9600 bit/s, median / "
                            "p99"),
             QStringLiteral("≤ 1 / ≤ 5 ms")};
    over.panel =
        QStringLiteral("%1 / %2 ms (n=%3)").arg(num(p.median, 2), num(p.p99, 2)).arg(p.count);
    over.naive = QStringLiteral("—");
    over.judged = true;
    over.met = p.median <= 1 && p.p99 <= 5;

    // One run's figure moves by a point or more with what else the machine
    // (or the machine under it) is doing, so the runs with the monitor and the
    // trace alternate with as many without them, and the goal is held to what
    // they add within each pair of turns: the median of those differences.
    const auto percent = [](const QJsonObject& run) {
        return run[QStringLiteral("cpuPercent")].toDouble();
    };
    if (cpuRuns.empty() || cpuRuns.size() != cpuRunsWithout.size())
        fail(QStringLiteral("row 9's processor time needs as many runs without the monitor and "
                            "trace as with them"));
    std::vector<double> with, without, added;
    for (std::size_t i = 0; i < cpuRuns.size(); ++i) {
        if (cpuRuns[i][QStringLiteral("exchanges")].toInt() == 0 ||
            cpuRunsWithout[i][QStringLiteral("exchanges")].toInt() == 0)
            fail(QStringLiteral("no exchange while measuring processor time for row 9"));
        with.push_back(percent(cpuRuns[i]));
        without.push_back(percent(cpuRunsWithout[i]));
        added.push_back(with.back() - without.back());
    }
    const auto listed = [](const std::vector<double>& values) {
        QStringList each;
        for (const double value : values)
            each << num(value, 2);
        return each.join(QStringLiteral(", "));
    };
    // The lower median of an even count, as the other medians here.
    const auto median = [](std::vector<double> values) {
        std::sort(values.begin(), values.end());
        return values[(values.size() + 1) / 2 - 1];
    };
    const double cpuPercent = median(with);
    const double withoutPercent = median(without);
    const double addedPoints = median(added);
    Row proc{QStringLiteral("9"),
             QStringLiteral("with monitor and trace: processor time they add to the same panel, "
                            "three answering boards, 9600 bit/s, median of %1 turns with and "
                            "without them")
                 .arg(cpuRuns.size()),
             QStringLiteral("≤ 1.5 points of a core added")};
    proc.panel = QStringLiteral("%1 points added (turns %2); with them %3 % (runs %4), without "
                                "them %5 % (runs %6)")
                     .arg(num(addedPoints, 2), listed(added), num(cpuPercent, 2), listed(with),
                          num(withoutPercent, 2), listed(without));
    proc.naive = QStringLiteral("—");
    proc.judged = true;
    proc.met = addedPoints <= 1.5;

    const auto mib = [](const QJsonObject& m, const char* key) {
        return m[QLatin1String(key)].toDouble() / 1024;
    };
    const double beside = mib(memoryWith, "rssEndKiB") - mib(memory, "rssEndKiB");
    const double growth = mib(memoryWith, "rssEndKiB") - mib(memoryWith, "rssWarmKiB");
    if (memoryWith[QStringLiteral("ok")].toInt() == 0)
        fail(QStringLiteral("no exchange succeeded in the memory run with the monitor"));
    Row mem{QStringLiteral("9"),
            QStringLiteral("with monitor and trace: resident size after %1 exchanges, beside the "
                           "run without; growth after warm-up")
                .arg(memoryWith[QStringLiteral("exchanges")].toInt()),
            QStringLiteral("≤ 10 MB more; flat")};
    mem.panel = QStringLiteral("%1 MiB vs %2 MiB (+%3); growth %4 MiB")
                    .arg(num(mib(memoryWith, "rssEndKiB")), num(mib(memory, "rssEndKiB")),
                         num(beside, 1), num(growth, 2));
    mem.naive = QStringLiteral("—");
    mem.judged = true;
    mem.met = beside <= 10 && growth <= 1;
    r.rows.push_back(over);
    r.rows.push_back(proc);
    r.rows.push_back(mem);
    r.all.insert(QStringLiteral("withMonitorAndTrace"),
                 QJsonObject{{"overheadMedianMs", p.median},
                             {"overheadP99Ms", p.p99},
                             {"processorTimePercent", cpuPercent},
                             {"processorTimeWithoutPercent", withoutPercent},
                             {"processorTimeAddedPoints", addedPoints},
                             {"memory", memoryWith}});
}

// --- the run ----------------------------------------------------------------

Results measure(const RunSettings& settings, const Plan& plan) {
    Results r;
    auto progress = [&](const char* what) {
        if (!settings.json)
            std::fprintf(stderr, "riobench: %s\n", what);
    };
    const auto pacing = [](bool naive) {
        return naive ? QStringLiteral("pacing=naive") : QStringLiteral("pacing=panel");
    };

    // The memory run is bounded by line time (100,000 exchanges of 2.3 ms
    // each at 115200 bit/s) and costs little processor time, so it runs in the
    // background from the start: a quarter of a core at most, beside stage 1.
    // Beside it the same run with the line monitor open and a trace written.
    auto memoryRun = startAll(
        settings, {{QStringLiteral("memory"),
                    {arg("exchanges", plan.memoryExchanges), arg("warmUp", plan.memoryWarmUp)}},
                   {QStringLiteral("memory"),
                    {arg("exchanges", plan.memoryExchanges), arg("warmUp", plan.memoryWarmUp),
                     arg("diag", 1)}}});

    // Stage 1: the figures of time and latency, one worker at a time beside
    // nothing of the benchmark's but the memory run (a quick run starts them
    // all at once).
    std::vector<Job> quiet;
    for (int i = 0; i < plan.startups; ++i)
        quiet.push_back({QStringLiteral("startup"), {}});
    for (bool naive : {false, true})
        for (std::size_t i = 0; i < kSpeeds.size(); ++i)
            quiet.push_back(
                {QStringLiteral("overhead"),
                 {arg("speed", kSpeeds[i]), arg("samples", plan.overheadSamples[i]), pacing(naive),
                  arg("capMs", naive ? plan.naiveOverheadCapMs : 60000)}});
    for (bool naive : {false, true})
        for (std::size_t i = 0; i < kSpeeds.size(); ++i)
            quiet.push_back({QStringLiteral("silent"),
                             {arg("speed", kSpeeds[i]), arg("exchanges", plan.silentExchanges[i]),
                              pacing(naive)}});
    for (bool naive : {false, true})
        quiet.push_back({QStringLiteral("click"), {arg("clicks", plan.clicks), pacing(naive)}});
    // The diagnostics' cost in overhead: 9600 bit/s with the monitor open
    // and a trace written.
    quiet.push_back({QStringLiteral("overhead"),
                     {arg("speed", 9600), arg("samples", plan.overheadSamples[1]), pacing(false),
                      arg("capMs", 60000), arg("diag", 1)}});
    progress("start-up, exchange overhead, silent wait, responsiveness");
    std::vector<double> startups;
    const auto takeStartup = [&](Worker& worker, const QJsonObject& o) {
        const auto shown =
            Clock::time_point(nanoseconds(qint64(o[QStringLiteral("shownNs")].toDouble())));
        startups.push_back(duration<double, std::milli>(shown - worker.started()).count());
    };
    // One at a time. A quick run takes them a few at a time: all at once, on
    // a slow machine or a sanitizer build, some would see no exchange in
    // their short window.
    const std::size_t together = settings.quick ? 5 : 1;
    const auto inTurn = [&](const std::vector<Job>& all) {
        std::vector<QJsonObject> results;
        for (std::size_t first = 0; first < all.size(); first += together) {
            const std::vector<Job> group(all.begin() + qsizetype(first),
                                         all.begin() +
                                             qsizetype(std::min(all.size(), first + together)));
            auto workers = startAll(settings, group);
            for (std::size_t i = 0; i < workers.size(); ++i) {
                results.push_back(workers[i]->result());
                if (group[i].first == QLatin1String("startup"))
                    takeStartup(*workers[i], results.back());
            }
        }
        return results;
    };
    const std::vector<QJsonObject> quietResults = inTurn(quiet);
    std::size_t at = std::size_t(plan.startups);
    const auto take = [&](std::size_t n) {
        std::vector<QJsonObject> out(quietResults.begin() + qsizetype(at),
                                     quietResults.begin() + qsizetype(at + n));
        at += n;
        return out;
    };
    const auto overheadPanel = take(3), overheadNaive = take(3);
    const auto silentPanel = take(3), silentNaive = take(3);
    const auto clicks = take(2);
    const auto diagnosticsOverhead = take(1);

    // Stage 2: the long runs, bounded by line time rather than work, side by
    // side. The memory run goes on through stage 3.
    progress("poll rate and boards served");
    auto pollingRuns = startAll(
        settings,
        {{QStringLiteral("polling"), {arg("ms", plan.pollingMs)}},
         {QStringLiteral("polling"), {arg("ms", plan.pollingMs), QStringLiteral("silent=2")}}});
    const auto polling = resultsOf(pollingRuns);

    // Stage 3: false no-answers over many exchanges, spread over parallel
    // lines (each a window and a simulator of its own): at 1200 bit/s ten
    // thousand exchanges are 40 minutes of line time on one line.
    progress("false no-answers");
    std::vector<Job> jobs;
    for (std::size_t i = 0; i < kSpeeds.size(); ++i) {
        const int workers = plan.losslessWorkers[i];
        for (int w = 0; w < workers; ++w) {
            const int share = plan.losslessExchanges[i] / workers +
                              (w < plan.losslessExchanges[i] % workers ? 1 : 0);
            jobs.push_back({QStringLiteral("lossless"),
                            {arg("speed", kSpeeds[i]), arg("exchanges", share), pacing(false)}});
        }
    }
    for (int speed : kSpeeds)
        jobs.push_back(
            {QStringLiteral("lossless"),
             {arg("speed", speed), arg("exchanges", plan.naiveLosslessExchanges), pacing(true)}});
    auto losslessRuns = startAll(settings, jobs);
    const auto lossless = resultsOf(losslessRuns);
    std::vector<std::vector<QJsonObject>> losslessPanel(kSpeeds.size());
    std::vector<QJsonObject> losslessNaive;
    std::size_t next = 0;
    for (std::size_t i = 0; i < kSpeeds.size(); ++i)
        for (int w = 0; w < plan.losslessWorkers[i]; ++w)
            losslessPanel[i].push_back(lossless[next++]);
    while (next < lossless.size())
        losslessNaive.push_back(lossless[next++]);
    progress("waiting for the memory run");
    const auto memories = resultsOf(memoryRun);
    const QJsonObject& memory = memories[0];

    // Stage 4: processor time, one run at a time once every other run has
    // ended and the disk has written back the memory run's trace. Beside the
    // memory runs (at 115200 bit/s a tenth of a core each, and an eighth with
    // the monitor and a trace, besides their simulators), a figure of a few
    // percent moved by up to a point.
    progress("processor time");
    if (!settings.quick)
        QThread::sleep(kSettleSeconds);
    std::vector<Job> cpuJobs;
    const std::array states{"answering", "silent", "stopped"};
    for (const char* state : states)
        for (bool naive : {false, true})
            cpuJobs.push_back(
                {QStringLiteral("cpu"),
                 {QStringLiteral("state=") + QLatin1String(state), arg("ms", plan.cpuMs),
                  arg("warmUpMs", plan.cpuWarmUpMs), pacing(naive)}});
    // With the monitor open and a trace written, in turns with the same
    // panel without them.
    for (int i = 0; i < kDiagnosticsCpuRuns; ++i)
        for (int diag : {1, 0})
            cpuJobs.push_back(
                {QStringLiteral("cpu"),
                 {QStringLiteral("state=answering"), arg("ms", plan.cpuMs),
                  arg("warmUpMs", plan.cpuWarmUpMs), pacing(false), arg("diag", diag)}});
    const std::vector<QJsonObject> cpuResults = inTurn(cpuJobs);
    std::vector<QJsonObject> cpuPanel, cpuNaive, diagnosticsCpu, diagnosticsCpuWithout;
    for (std::size_t i = 0; i < states.size(); ++i) {
        cpuPanel.push_back(cpuResults[2 * i]);
        cpuNaive.push_back(cpuResults[2 * i + 1]);
    }
    for (std::size_t i = 2 * states.size(); i + 1 < cpuResults.size(); i += 2) {
        diagnosticsCpu.push_back(cpuResults[i]);
        diagnosticsCpuWithout.push_back(cpuResults[i + 1]);
    }

    overheadRows(r, overheadPanel, overheadNaive);
    pollingRows(r, polling[0], polling[1]);
    silentRows(r, silentPanel, silentNaive);
    losslessRows(r, losslessPanel, losslessNaive);
    cpuRows(r, cpuPanel, cpuNaive);
    clickRows(r, clicks[0], clicks[1]);
    memoryRows(r, memory);
    startupRow(r, startups);
    diagnosticsRows(r, diagnosticsOverhead[0], diagnosticsCpu, diagnosticsCpuWithout, memory,
                    memories[1]);
    return r;
}

void printTable(const std::vector<Row>& rows, bool quick) {
    std::printf("| # | figure | goal | riopanel | naive loop | met |\n");
    std::printf("|---|---|---|---|---|---|\n");
    for (const Row& row : rows) {
        const char* met = quick || !row.judged ? "—" : row.met ? "yes" : "**no**";
        std::printf("| %s | %s | %s | %s | %s | %s |\n", qPrintable(row.number),
                    qPrintable(row.figure), qPrintable(row.goal), qPrintable(row.panel),
                    qPrintable(row.naive), met);
    }
}

} // namespace

int runBenchmark(const RunSettings& settings) {
    const Plan& plan = settings.quick ? kQuick : kFull;
    const QString loadBefore = loadAverage();
    const Clock::time_point began = Clock::now();
    Results results;
    try {
        results = measure(settings, plan);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "riobench: %s\n", error.what());
        return 1;
    }
    const double took = duration<double>(Clock::now() - began).count();
    const QString loadAfter = loadAverage();

    if (settings.json) {
        QJsonArray rows;
        for (const Row& row : results.rows)
            rows.append(rowJson(row));
        QJsonObject out{{"quick", settings.quick},  {"cores", QThread::idealThreadCount()},
                        {"loadBefore", loadBefore}, {"loadAfter", loadAfter},
                        {"seconds", took},          {"table", rows},
                        {"figures", results.all}};
        std::printf("%s\n", QJsonDocument(out).toJson(QJsonDocument::Indented).constData());
        return 0;
    }
    std::printf("riobench%s: %d cores, load average %s before, %s after, %.0f s\n\n",
                settings.quick ? " --quick (tiny samples, goals not judged)" : "",
                QThread::idealThreadCount(), qPrintable(loadBefore), qPrintable(loadAfter), took);
    printTable(results.rows, settings.quick);
    if (!settings.quick) {
        int missed = 0;
        for (const Row& row : results.rows)
            missed += row.judged && !row.met;
        std::printf("\n%d of %zu goals met\n", int(results.rows.size()) - missed,
                    results.rows.size());
    }
    return 0;
}

} // namespace rio::bench
