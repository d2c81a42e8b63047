#include "poll/store_query.h"

#include "store/results_store.h"
#include "store/upload.h"
#include "trace/trace_format.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <cmath>
#include <cstdio>

namespace rio::poll {

// riopoll is a face of the board test: its plan, steps, record and report.
using namespace boardtest;

namespace {

enum class Format { Table, Csv, Jsonl };

void out(const QString& text) {
    std::fputs(qUtf8Printable(text), stdout);
}

void out(const std::string& text) {
    std::fputs(text.c_str(), stdout);
}

// A CSV row through the one CSV writer: texts guarded, numbers as written.
class CsvRow {
public:
    CsvRow& text(const QString& value) {
        add(trace::csvField(value.toStdString()));
        return *this;
    }
    CsvRow& number(const QString& value) {
        add(trace::csvField(value.toStdString(), trace::CsvGuard::None));
        return *this;
    }
    void print() {
        m_line += trace::kCsvLineEnd;
        out(m_line);
    }

private:
    void add(const std::string& cell) {
        if (m_started)
            m_line += ',';
        m_line += cell;
        m_started = true;
    }
    std::string m_line;
    bool m_started = false;
};

void printJson(const QJsonObject& object) {
    out(QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n');
}

// A text that is null in JSON when the store holds none.
QJsonValue orNull(const QString& text) {
    return text.isEmpty() ? QJsonValue() : QJsonValue(text);
}

void printHistory(const QString& unit, const std::vector<store::RunSummary>& runs, Format format) {
    if (format == Format::Csv) {
        out(std::string("uuid,unit,attempt,station,operator,address,plan_file,plan_sha256,start,"
                        "end,verdict,message,failing_step,step_message"));
        out(std::string(trace::kCsvLineEnd));
        for (const store::RunSummary& r : runs)
            CsvRow()
                .text(r.uuid)
                .text(r.unit)
                .number(QString::number(r.attempt))
                .text(r.station)
                .text(r.operatorName)
                .text(r.address)
                .text(r.planFile)
                .text(r.planSha256)
                .text(r.start)
                .text(r.end)
                .text(r.verdict)
                .text(r.message)
                .text(r.failingStep)
                .text(r.stepMessage)
                .print();
        return;
    }
    if (format == Format::Jsonl) {
        for (const store::RunSummary& r : runs)
            printJson(QJsonObject{{"uuid", r.uuid},
                                  {"unit", orNull(r.unit)},
                                  {"attempt", r.attempt},
                                  {"station", r.station},
                                  {"operator", orNull(r.operatorName)},
                                  {"address", orNull(r.address)},
                                  {"plan_file", r.planFile},
                                  {"plan_sha256", orNull(r.planSha256)},
                                  {"start", r.start},
                                  {"end", orNull(r.end)},
                                  {"verdict", r.verdict},
                                  {"message", r.message},
                                  {"failing_step", orNull(r.failingStep)},
                                  {"step_message", orNull(r.stepMessage)}});
        return;
    }
    out(QStringLiteral("unit %1: %2 runs, newest first\n").arg(unit).arg(runs.size()));
    if (runs.empty())
        return;
    out(QStringLiteral("attempt  start                     verdict  station          step          "
                       "message\n"));
    for (const store::RunSummary& r : runs) {
        // Why the run could not test, else what its failing step says.
        const QString message = r.message.isEmpty() ? r.stepMessage : r.message;
        QString line = QStringLiteral("%1  %2  %3  %4 %5 %6")
                           .arg(r.attempt, 7)
                           .arg(r.start, -24)
                           .arg(r.verdict, -7)
                           .arg(r.station, -16)
                           .arg(r.failingStep.isEmpty() ? QStringLiteral("-") : r.failingStep, -13)
                           .arg(message);
        while (line.endsWith(QLatin1Char(' ')))
            line.chop(1);
        out(line + QLatin1Char('\n'));
    }
}

// A bound of the period as the store compares it; empty when open.
QString boundText(const std::optional<store::WallClock::time_point>& bound) {
    return bound ? store::storeTime(*bound) : QString();
}

// Units passed out of units tested, in percent with one decimal; none
// without units.
std::optional<double> percent(int passed, int tested) {
    if (tested == 0)
        return std::nullopt;
    return std::round(1000.0 * passed / tested) / 10.0;
}

QString percentText(std::optional<double> value) {
    return value ? QString::number(*value, 'f', 1) : QString();
}

// One row of the yield: a station's figures, or the whole period's (no
// station).
struct YieldRow {
    store::Period period;
    store::YieldFigures figures;
};

void printYield(const std::vector<YieldRow>& rows, Format format) {
    if (format == Format::Csv) {
        out(std::string("since,until,station,units_tested,first_pass,final_pass,"
                        "first_pass_yield_percent,final_yield_percent,runs,pass,fail,error,"
                        "aborted,running"));
        out(std::string(trace::kCsvLineEnd));
    }
    for (const auto& [period, f] : rows) {
        const std::optional<double> firstYield = percent(f.firstPass, f.unitsTested);
        const std::optional<double> finalYield = percent(f.finalPass, f.unitsTested);
        if (format == Format::Csv) {
            CsvRow()
                .text(boundText(period.since))
                .text(boundText(period.until))
                .text(period.station)
                .number(QString::number(f.unitsTested))
                .number(QString::number(f.firstPass))
                .number(QString::number(f.finalPass))
                .number(percentText(firstYield))
                .number(percentText(finalYield))
                .number(QString::number(f.runs))
                .number(QString::number(f.pass))
                .number(QString::number(f.fail))
                .number(QString::number(f.error))
                .number(QString::number(f.aborted))
                .number(QString::number(f.running))
                .print();
            continue;
        }
        if (format == Format::Jsonl) {
            const auto number = [](std::optional<double> value) {
                return value ? QJsonValue(*value) : QJsonValue();
            };
            printJson(QJsonObject{{"since", orNull(boundText(period.since))},
                                  {"until", orNull(boundText(period.until))},
                                  {"station", orNull(period.station)},
                                  {"units_tested", f.unitsTested},
                                  {"first_pass", f.firstPass},
                                  {"final_pass", f.finalPass},
                                  {"first_pass_yield_percent", number(firstYield)},
                                  {"final_yield_percent", number(finalYield)},
                                  {"runs", f.runs},
                                  {"pass", f.pass},
                                  {"fail", f.fail},
                                  {"error", f.error},
                                  {"aborted", f.aborted},
                                  {"running", f.running}});
            continue;
        }
        const QString since =
            period.since ? boundText(period.since) : QStringLiteral("the first run");
        const QString until = period.until ? boundText(period.until) : QStringLiteral("now");
        const auto yieldLine = [&](int passed, std::optional<double> value) {
            return value ? QStringLiteral("%1 of %2, %3 %")
                               .arg(passed)
                               .arg(f.unitsTested)
                               .arg(percentText(value))
                         : QStringLiteral("-");
        };
        if (&rows.front().period != &period)
            out(QStringLiteral("\n"));
        out(QStringLiteral("period            %1 to %2\n"
                           "station           %3\n"
                           "units tested      %4\n"
                           "first-pass yield  %5\n"
                           "final yield       %6\n"
                           "runs              %7: PASS %8, FAIL %9, ERROR %10, ABORTED %11, "
                           "RUNNING %12\n")
                .arg(since, until,
                     period.station.isEmpty() ? QStringLiteral("every station") : period.station)
                .arg(f.unitsTested)
                .arg(yieldLine(f.firstPass, firstYield), yieldLine(f.finalPass, finalYield))
                .arg(f.runs)
                .arg(f.pass)
                .arg(f.fail)
                .arg(f.error)
                .arg(f.aborted)
                .arg(f.running));
    }
}

void printPareto(const std::vector<store::ParetoEntry>& entries, Format format) {
    if (format == Format::Csv) {
        out(std::string("step,message,count"));
        out(std::string(trace::kCsvLineEnd));
        for (const store::ParetoEntry& e : entries)
            CsvRow().text(e.step).text(e.message).number(QString::number(e.count)).print();
        return;
    }
    if (format == Format::Jsonl) {
        for (const store::ParetoEntry& e : entries)
            printJson(QJsonObject{{"step", e.step}, {"message", e.message}, {"count", e.count}});
        return;
    }
    if (entries.empty()) {
        out(QStringLiteral("no failed steps\n"));
        return;
    }
    out(QStringLiteral("  count  step           message\n"));
    for (const store::ParetoEntry& e : entries)
        out(QStringLiteral("%1  %2 %3\n").arg(e.count, 7).arg(e.step, -14).arg(e.message));
}

// Sends what waits until nothing does or the server fails.
int uploadWaiting(const store::StoreLocation& location) {
    auto uploader = store::Uploader::open(location);
    if (!uploader) {
        std::fprintf(stderr, "riopoll: %s\n", qUtf8Printable(uploader.error()));
        return 2;
    }
    const store::UploadProgress progress =
        uploader.value()->upload(std::chrono::steady_clock::time_point::max());
    out(QStringLiteral("uploaded %1 run(s) to %2; %3 waiting\n")
            .arg(progress.uploaded)
            .arg(store::describe(location))
            .arg(progress.waiting < 0 ? QStringLiteral("an unknown number")
                                      : QString::number(progress.waiting)));
    std::fflush(stdout);
    if (!progress.reason.isEmpty())
        std::fprintf(stderr, "riopoll: %s\n", qUtf8Printable(progress.reason));
    return progress.waiting == 0 ? 0 : 2;
}

int refuse(const QString& why) {
    std::fprintf(stderr, "riopoll: %s\ntry riopoll --history --help\n", qUtf8Printable(why));
    return 2;
}

} // namespace

bool isStoreQuery(const QStringList& arguments) {
    for (const QString& argument : arguments.mid(1))
        if (argument == QStringLiteral("--history") || argument.startsWith("--history=") ||
            argument == QStringLiteral("--yield") || argument == QStringLiteral("--pareto") ||
            argument == QStringLiteral("--upload"))
            return true;
    return false;
}

std::optional<std::chrono::system_clock::time_point> parseQueryTime(const QString& text) {
    static const QRegularExpression form(QStringLiteral(
        "^\\d{4}-\\d\\d-\\d\\d(T\\d\\d:\\d\\d(:\\d\\d(\\.\\d{1,3})?)?(Z|[+-]\\d\\d:\\d\\d)?)?$"));
    if (!form.match(text).hasMatch())
        return std::nullopt;
    const QDateTime time = QDateTime::fromString(text, Qt::ISODateWithMs);
    if (!time.isValid())
        return std::nullopt;
    return std::chrono::system_clock::time_point(
        std::chrono::milliseconds(time.toMSecsSinceEpoch()));
}

int runStoreQuery(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Prints what a results store holds; no line is needed.\n"
        "  riopoll --history UNIT   every run of the unit, newest first\n"
        "  riopoll --yield          units tested, first-pass and final yield of a period\n"
        "  riopoll --pareto         the period's failed steps by step and message, most first\n"
        "  riopoll --upload --store postgresql://...\n"
        "                           sends the runs waiting in this machine's outbox to the\n"
        "                           line's server\n"
        "A DATE is 2026-12-08 (midnight, local time), 2026-12-08T14:30 (local), or either\n"
        "with Z or an offset such as +09:00. See docs/station.md for what each figure counts.\n"
        "Exit status: 0 printed (--upload: nothing waits any more), 2 the store cannot be\n"
        "read (--upload: runs still wait)."));
    const QCommandLineOption help(QStringList{"h", "help"}, QStringLiteral("Show this text."));
    const QCommandLineOption version(QStringLiteral("version"),
                                     QStringLiteral("Show the version."));
    const QCommandLineOption history(QStringLiteral("history"),
                                     QStringLiteral("Every run of this unit, newest first."),
                                     QStringLiteral("unit"));
    const QCommandLineOption yield(QStringLiteral("yield"),
                                   QStringLiteral("Units tested, first-pass and final yield."));
    const QCommandLineOption pareto(
        QStringLiteral("pareto"),
        QStringLiteral("Failed steps counted by step and message, most first."));
    const QCommandLineOption upload(
        QStringLiteral("upload"),
        QStringLiteral("Send the runs waiting in this machine's outbox to the server of --store, "
                       "until none waits."));
    const QCommandLineOption store(
        QStringLiteral("store"),
        QStringLiteral("The results store: default, the station's own file (when not given), "
                       "sqlite:PATH, or a line's server, postgresql://[user@]host[:port]/db "
                       "(its history and yield cover every station; the yield is given by "
                       "station)."),
        QStringLiteral("url"));
    const QCommandLineOption since(
        QStringLiteral("since"),
        QStringLiteral("With --yield or --pareto: runs that started at or after DATE."),
        QStringLiteral("date"));
    const QCommandLineOption until(
        QStringLiteral("until"),
        QStringLiteral("With --yield or --pareto: runs that started before DATE."),
        QStringLiteral("date"));
    const QCommandLineOption station(
        QStringLiteral("station"),
        QStringLiteral("With --yield or --pareto: this station's runs only."),
        QStringLiteral("name"));
    const QCommandLineOption format(
        QStringLiteral("format"),
        QStringLiteral("table (default), csv (a header row, then a row each) or jsonl (an "
                       "object per line)."),
        QStringLiteral("format"));
    parser.addOptions(
        {help, version, history, yield, pareto, upload, store, since, until, station, format});

    // Asked for before parsing, or "--history --help" would ask for the
    // history of a unit called --help.
    if (arguments.contains(QStringLiteral("--help")) || arguments.contains(QStringLiteral("-h"))) {
        out(parser.helpText());
        return 0;
    }
    if (!parser.parse(arguments))
        return refuse(parser.errorText());
    if (parser.isSet(help)) {
        out(parser.helpText());
        return 0;
    }
    if (parser.isSet(version)) {
        out(QStringLiteral("riopoll %1\n").arg(QCoreApplication::applicationVersion()));
        return 0;
    }
    if (!parser.positionalArguments().isEmpty())
        return refuse(QStringLiteral("unexpected argument '%1'")
                          .arg(parser.positionalArguments().constFirst().left(80)));
    for (const QCommandLineOption* once : {&history, &store, &since, &until, &station, &format})
        if (parser.values(*once).size() > 1)
            return refuse(
                QStringLiteral("--%1 is given more than once").arg(once->names().constLast()));
    if (int(parser.isSet(history)) + int(parser.isSet(yield)) + int(parser.isSet(pareto)) +
            int(parser.isSet(upload)) !=
        1)
        return refuse(QStringLiteral("ask one of --history UNIT, --yield, --pareto or --upload"));
    if (parser.isSet(upload)) {
        for (const QCommandLineOption* other : {&since, &until, &station, &format})
            if (parser.isSet(*other))
                return refuse(QStringLiteral("--%1 does not go with --upload")
                                  .arg(other->names().constLast()));
        const store::ParsedLocation location = store::parseStoreLocation(parser.value(store));
        if (!parser.isSet(store) || (location.location && !location.location->server))
            return refuse(QStringLiteral("--upload needs --store postgresql://..., the server "
                                         "to send to"));
        if (!location.location)
            return refuse(QStringLiteral("--store: %1").arg(location.error));
        return uploadWaiting(*location.location);
    }
    const QString unit = parser.value(history);
    if (parser.isSet(history)) {
        if (unit.isEmpty())
            return refuse(QStringLiteral("--history needs a unit"));
        for (const QCommandLineOption* periodOnly : {&since, &until, &station})
            if (parser.isSet(*periodOnly))
                return refuse(QStringLiteral("--%1 goes with --yield or --pareto")
                                  .arg(periodOnly->names().constLast()));
    }

    Format shape = Format::Table;
    if (parser.isSet(format)) {
        const QString name = parser.value(format);
        if (name == QStringLiteral("csv"))
            shape = Format::Csv;
        else if (name == QStringLiteral("jsonl"))
            shape = Format::Jsonl;
        else if (name != QStringLiteral("table"))
            return refuse(
                QStringLiteral("--format is table, csv or jsonl, not '%1'").arg(name.left(80)));
    }

    store::Period period;
    for (const auto& [option, bound] :
         {std::pair{&since, &period.since}, {&until, &period.until}}) {
        if (!parser.isSet(*option))
            continue;
        *bound = parseQueryTime(parser.value(*option));
        if (!*bound)
            return refuse(QStringLiteral("--%1 takes a date such as 2026-12-08 or "
                                         "2026-12-08T14:30, not '%2'")
                              .arg(option->names().constLast(), parser.value(*option).left(80)));
    }
    if (period.since && period.until && *period.until <= *period.since)
        return refuse(QStringLiteral("--until must come after --since"));
    period.station = parser.value(station);
    if (parser.isSet(station) && period.station.isEmpty())
        return refuse(QStringLiteral("--station needs a name"));

    const store::ParsedLocation location = store::parseStoreLocation(
        parser.isSet(store) ? parser.value(store) : QStringLiteral("default"));
    if (!location.location)
        return refuse(QStringLiteral("--store: %1").arg(location.error));
    auto opened = store::openStore(*location.location, store::Access::ReadOnly);
    if (!opened) {
        std::fprintf(stderr, "riopoll: %s\n", qUtf8Printable(opened.error()));
        return 2;
    }
    store::ResultsStore& results = *opened.value();

    QString failure;
    if (parser.isSet(history)) {
        const auto runs = results.history(unit);
        if (runs)
            printHistory(unit, runs.value(), shape);
        failure = runs.error();
    } else if (parser.isSet(yield)) {
        // A line's server: each station's figures, then the line's.
        std::vector<store::Period> periods;
        if (location.location->server && period.station.isEmpty()) {
            const auto stations = results.stations(period);
            failure = stations.error();
            for (const QString& name : stations ? stations.value() : std::vector<QString>{}) {
                periods.push_back(period);
                periods.back().station = name;
            }
        }
        periods.push_back(period);
        std::vector<YieldRow> rows;
        for (const store::Period& p : failure.isEmpty() ? periods : std::vector<store::Period>{}) {
            const auto figures = results.yieldFigures(p);
            if (!figures) {
                failure = figures.error();
                break;
            }
            rows.push_back({p, figures.value()});
        }
        if (failure.isEmpty())
            printYield(rows, shape);
    } else {
        const auto entries = results.pareto(period);
        if (entries)
            printPareto(entries.value(), shape);
        failure = entries.error();
    }
    std::fflush(stdout);
    if (!failure.isEmpty()) {
        std::fprintf(stderr, "riopoll: %s\n", qUtf8Printable(failure));
        return 2;
    }
    return 0;
}

} // namespace rio::poll
