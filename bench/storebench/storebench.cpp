// storebench: how fast the results store answers once it holds a production
// line's months. A generator fills a SQLite store with N runs (1,000 a day,
// three stations, retests after a FAIL or an ERROR, each run with the board
// test's four steps and fifteen measurements); then the medians of what a
// station and a quality engineer do are measured on the store as a station
// opens it, synced commits and all.

#include "store/results_store.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <functional>
#include <random>
#include <string_view>
#include <vector>

namespace {

using namespace std::chrono;
using rio::boardtest::Measurement;
using rio::boardtest::StepOutcome;
using rio::boardtest::StepResult;
using rio::boardtest::TestRecord;
using namespace rio::store;

constexpr int kRunsPerDay = 1000;
constexpr int kStations = 3;
const system_clock::time_point kFirstDay = sys_days{year{2026} / January / 5};

struct Settings {
    int runs = 100'000;
    int samples = 100;
    QString keep; // the store's file, kept; empty: a temporary one
};

void usage() {
    std::puts("usage: storebench [--runs N] [--samples N] [--keep FILE]\n"
              "Fills a SQLite results store with N runs (default 100000, 1000 a day) and\n"
              "prints the median time of recording a run, a unit's history, and a day's\n"
              "yield and Pareto, each over --samples tries (default 100).\n"
              "  --keep FILE  build the store in FILE and leave it there");
}

std::mt19937 g_random(20260105);

bool chance(double p) {
    return std::uniform_real_distribution<double>(0, 1)(g_random) < p;
}

int pick(int from, int to) {
    return std::uniform_int_distribution<int>(from, to)(g_random);
}

QString unitName(int n) {
    return QStringLiteral("SN-%1").arg(n, 6, 10, QLatin1Char('0'));
}

// A run as the board test records it: communication with three
// measurements, ten loop-back patterns, two analog medians, teardown.
// Outcomes as on a line that passes about nine boards in ten.
TestRecord makeRun(const QString& unit, system_clock::time_point start) {
    TestRecord r;
    r.unit = unit;
    r.station = QStringLiteral("line-%1").arg(pick(1, kStations));
    r.address = QStringLiteral("01");
    r.host = r.station;
    r.planFile = QStringLiteral("/etc/riopanel/board-test.ini");
    r.planSha256 =
        QStringLiteral("e219b50574a69d1da06b6c19f44c592c94dbd9409cfd4d1383bfb0af2089f783");
    r.version = QStringLiteral("storebench");
    r.start = start;
    r.end = start + milliseconds(pick(2500, 4000));

    const bool error = chance(0.02);
    const bool loopFails = !error && chance(0.06);
    const bool analogFails = !error && chance(0.03);

    StepResult communication{QStringLiteral("communication"),
                             StepOutcome::Pass,
                             QStringLiteral("100 exchanges, 0 not accepted (at most 0)"),
                             {{QStringLiteral("exchanges"), 100, QJsonValue(), QJsonValue()},
                              {QStringLiteral("failures"), 0, QJsonValue(), 0},
                              {QStringLiteral("response_p95_ms"), 27.4, QJsonValue(), 60}},
                             milliseconds(2100)};
    if (error) {
        communication.outcome = StepOutcome::Error;
        communication.message =
            QStringLiteral("could not open the port /dev/ttyUSB0: no such device");
        communication.measurements.clear();
        r.message = communication.message;
        r.steps = {communication,
                   {QStringLiteral("loopback"), StepOutcome::Skipped, {}, {}, {}},
                   {QStringLiteral("analog"), StepOutcome::Skipped, {}, {}, {}},
                   {QStringLiteral("teardown"), StepOutcome::Skipped, {}, {}, {}}};
        return r;
    }
    StepResult loopback{QStringLiteral("loopback"), StepOutcome::Pass, {}, {}, milliseconds(900)};
    const int stuck = pick(1, 8);
    for (int k = 0; k <= 9; ++k) {
        const QString name = k == 0   ? QStringLiteral("all_off")
                             : k == 9 ? QStringLiteral("all_on")
                                      : QStringLiteral("output_%1_alone").arg(k);
        QString expected = QStringLiteral("00000000");
        if (k == 9)
            expected = QStringLiteral("11111111");
        else if (k > 0)
            expected[8 - k] = QLatin1Char('1');
        QString value = expected;
        const bool wrong = loopFails && (k == stuck || k == 9);
        if (wrong)
            value[8 - stuck] = QLatin1Char('0');
        loopback.measurements.push_back(
            {name, value, expected, expected, wrong ? StepOutcome::Fail : StepOutcome::Pass});
    }
    if (loopFails) {
        loopback.outcome = StepOutcome::Fail;
        loopback.message = QStringLiteral("output %1 alone: input %1 off (expected on)").arg(stuck);
    }
    const double reading = analogFails ? 9999 : pick(480, 540);
    StepResult analog{QStringLiteral("analog"),
                      analogFails ? StepOutcome::Fail : StepOutcome::Pass,
                      analogFails ? QStringLiteral("analog1 median 9999 of 100 readings outside "
                                                   "100..900")
                                  : QString(),
                      {{QStringLiteral("analog1_median"), reading, 100, 900,
                        analogFails ? StepOutcome::Fail : StepOutcome::Pass},
                       {QStringLiteral("analog2_median"), 1023, 0, 1023}},
                      milliseconds(0)};
    StepResult teardown{QStringLiteral("teardown"),
                        StepOutcome::Pass,
                        QStringLiteral("all outputs off, confirmed by an accepted write"),
                        {},
                        milliseconds(40)};
    r.steps = {communication, loopback, analog, teardown};
    return r;
}

[[noreturn]] void fail(const QString& what) {
    std::fprintf(stderr, "storebench: %s\n", qUtf8Printable(what));
    std::exit(2);
}

std::unique_ptr<ResultsStore> open(const QString& path, Durability durability) {
    auto opened = openStore(StoreLocation{path}, Access::ReadWrite, durability);
    if (!opened)
        fail(opened.error());
    return std::move(opened.value());
}

void record(ResultsStore& store, TestRecord& run) {
    if (const StoreStatus begun = store.beginRun(run); !begun)
        fail(begun.error());
    if (const StoreStatus completed = store.completeRun(run); !completed)
        fail(completed.error());
}

// The generator: runs spaced evenly over the days, a unit that failed or
// could not be tested comes back a few runs later, up to three attempts.
int generate(ResultsStore& store, int runs) {
    std::deque<std::pair<QString, int>> retests; // unit, attempts so far
    int units = 0;
    const auto spacing = duration_cast<milliseconds>(days{1}) / kRunsPerDay;
    for (int i = 0; i < runs; ++i) {
        QString unit;
        int attempts = 0;
        if (!retests.empty() && chance(0.5)) {
            std::tie(unit, attempts) = retests.front();
            retests.pop_front();
        } else {
            unit = unitName(++units);
        }
        TestRecord run = makeRun(unit, kFirstDay + spacing * i);
        record(store, run);
        if (run.verdict() != rio::boardtest::Verdict::Pass && attempts + 1 < 3)
            retests.emplace_back(unit, attempts + 1);
    }
    return units;
}

// The median of `samples` timings of `task`, in milliseconds.
double median(int samples, const std::function<void(int)>& task) {
    std::vector<double> times;
    for (int i = 0; i < samples; ++i) {
        const auto begin = steady_clock::now();
        task(i);
        times.push_back(duration<double, std::milli>(steady_clock::now() - begin).count());
    }
    std::sort(times.begin(), times.end());
    return times.size() % 2 ? times[times.size() / 2]
                            : (times[times.size() / 2 - 1] + times[times.size() / 2]) / 2;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    Settings settings;
    const QStringList args = QCoreApplication::arguments().mid(1);
    for (qsizetype i = 0; i < args.size(); ++i) {
        const auto number = [&](int& into) {
            bool ok = false;
            into = i + 1 < args.size() ? args[++i].toInt(&ok) : 0;
            if (!ok || into < 1) {
                usage();
                std::exit(2);
            }
        };
        if (args[i] == QStringLiteral("--runs"))
            number(settings.runs);
        else if (args[i] == QStringLiteral("--samples"))
            number(settings.samples);
        else if (args[i] == QStringLiteral("--keep") && i + 1 < args.size())
            settings.keep = args[++i];
        else {
            usage();
            return args[i] == QStringLiteral("--help") ? 0 : 2;
        }
    }

    QTemporaryDir temporary;
    const QString path = settings.keep.isEmpty()
                             ? temporary.filePath(QStringLiteral("results.sqlite"))
                             : QFileInfo(settings.keep).absoluteFilePath();
    if (QFileInfo::exists(path))
        fail(QStringLiteral("%1 exists; the generator wants a new file").arg(path));

    const auto generating = steady_clock::now();
    int units = 0;
    {
        auto bulk = open(path, Durability::Unsynced);
        units = generate(*bulk, settings.runs);
    }
    const double generated = duration<double>(steady_clock::now() - generating).count();
    const int days = (settings.runs + kRunsPerDay - 1) / kRunsPerDay;

    // Measured as a station opens the store: every commit synced.
    auto store = open(path, Durability::Synced);
    const auto spacing = duration_cast<milliseconds>(std::chrono::days{1}) / kRunsPerDay;
    std::vector<TestRecord> fresh;
    for (int i = 0; i < settings.samples; ++i)
        fresh.push_back(
            makeRun(unitName(units + 1 + i), kFirstDay + spacing * (settings.runs + i)));
    const double begin = median(settings.samples, [&](int i) {
        if (const StoreStatus s = store->beginRun(fresh[std::size_t(i)]); !s)
            fail(s.error());
    });
    const double complete = median(settings.samples, [&](int i) {
        if (const StoreStatus s = store->completeRun(fresh[std::size_t(i)]); !s)
            fail(s.error());
    });
    const double history = median(settings.samples, [&](int) {
        if (const auto runs = store->history(unitName(pick(1, units))); !runs)
            fail(runs.error());
    });
    const auto aDay = [&] {
        Period period;
        period.since = kFirstDay + std::chrono::days{pick(0, days - 1)};
        period.until = *period.since + std::chrono::days{1};
        return period;
    };
    const double yield = median(settings.samples, [&](int) {
        if (const auto figures = store->yieldFigures(aDay()); !figures)
            fail(figures.error());
    });
    const double pareto = median(settings.samples, [&](int) {
        if (const auto entries = store->pareto(aDay()); !entries)
            fail(entries.error());
    });

    std::printf("storebench: %d runs of %d units over %d days, %.0f MB, generated in %.0f s\n",
                settings.runs, units, days,
                double(QFileInfo(path).size() + QFileInfo(path + "-wal").size()) / 1e6, generated);
    std::printf("median of %d, on a store with synced commits\n", settings.samples);
    std::printf("%-44s %9s %9s\n", "what", "median", "goal");
    const auto row = [](const char* what, double ms, const char* goal) {
        std::printf("%-44s %6.2f ms %9s\n", what, ms, goal);
    };
    row("start a run (RUNNING, its attempt counted)", begin, "-");
    row("record a finished run (steps, measurements)", complete, "<= 10 ms");
    row("one unit's history", history, "<= 20 ms");
    row("a day's yield", yield, "<= 100 ms");
    row("a day's Pareto of failed steps", pareto, "<= 100 ms");
    return 0;
}
