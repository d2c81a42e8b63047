#include "poll/poll_options.h"

#include "boardtest/plan.h"
#include "protocol/frame_text.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QRegularExpression>

#include <algorithm>
#include <limits>

namespace rio::poll {

using boardtest::boardAddress;

namespace {

using namespace std::chrono;

// A value the user gave, as a message quotes it: short and escaped.
QString shown(const QString& value) {
    return QString::fromStdString(protocol::excerpt(value.toStdString()));
}

ParsedOptions failure(const QString& why) {
    return ParsedOptions{std::nullopt, why, {}};
}

// A number as Qt reads one (blanks around it and a minus sign taken), without
// a leading '+', from `from` to `to`.
std::optional<long long> numberWithin(const QString& text, long long from, long long to) {
    bool ok = false;
    const long long value = text.toLongLong(&ok);
    if (!ok || value < from || value > to || text.startsWith(QLatin1Char('+')))
        return std::nullopt;
    return value;
}

} // namespace

std::optional<milliseconds> parseDuration(const QString& text) {
    if (text == QStringLiteral("0"))
        return milliseconds(0);
    static const QRegularExpression form(QStringLiteral("^([0-9]+)(ms|s|m|h)$"));
    const QRegularExpressionMatch match = form.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    const QString unit = match.captured(2);
    const milliseconds one = unit == QStringLiteral("ms")  ? milliseconds(1)
                             : unit == QStringLiteral("s") ? seconds(1)
                             : unit == QStringLiteral("m") ? minutes(1)
                                                           : hours(1);
    bool ok = false;
    const long long amount = match.captured(1).toLongLong(&ok);
    if (!ok || amount > milliseconds::max().count() / one.count())
        return milliseconds::max();
    return one * amount;
}

std::optional<protocol::Bits> parseLineStates(const QString& text) {
    static const QRegularExpression form(QStringLiteral("^[01]{8}$"));
    if (!form.match(text).hasMatch())
        return std::nullopt;
    protocol::Bits bits;
    // On the line output 8 travels first.
    for (int k = 0; k < 8; ++k)
        bits[std::size_t(k)] = text[7 - k].toLatin1();
    return bits;
}

ParsedOptions parseOptions(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Polls remote I/O boards on one RS-485 line without a window, or tests one board\n"
        "go/no-go against a plan and writes a report.\n"
        "Polling:    riopoll --device PATH | --port N [--boards 01,02,03] [--count N]\n"
        "Board test: riopoll --test PLAN --device PATH | --port N [--unit SERIAL] [--report DIR]\n"
        "            [--store URL] [--station NAME]\n"
        "From a results store (riopoll --history --help):\n"
        "            riopoll --history UNIT | --yield | --pareto [--store URL] [--since DATE] ...\n"
        "Exit status: 0 every exchange accepted / the board passed, 1 an exchange was not\n"
        "accepted / the board failed, 2 could not poll or test, or the report or trace\n"
        "was not written."));
    const QCommandLineOption help(QStringList{"h", "help"}, QStringLiteral("Show this text."));
    const QCommandLineOption version(QStringLiteral("version"),
                                     QStringLiteral("Show the version."));
    const QCommandLineOption device(
        QStringLiteral("device"),
        QStringLiteral("The serial device of the line, e.g. /dev/ttyUSB0."),
        QStringLiteral("path"));
    const QCommandLineOption port(
        QStringLiteral("port"),
        QStringLiteral("The line as the panel numbers ports (riopanel --list-ports)."),
        QStringLiteral("n"));
    const QCommandLineOption speed(
        QStringLiteral("speed"),
        QStringLiteral("Line speed in bit/s (default 9600; with --test the plan's, which this "
                       "overrides)."),
        QStringLiteral("bit/s"));
    const QCommandLineOption boards(
        QStringLiteral("boards"),
        QStringLiteral("Addresses to poll, in this order, one to three (default 01,02,03)."),
        QStringLiteral("list"));
    const QCommandLineOption outputs(
        QStringLiteral("outputs"),
        QStringLiteral("A board's requested outputs, eight 0/1 as on the line (output 8 "
                       "first), e.g. 01=00000101; repeatable. Default all off."),
        QStringLiteral("addr=states"));
    const QCommandLineOption count(
        QStringLiteral("count"),
        QStringLiteral("Stop after N board polls (a read and a write each)."), QStringLiteral("n"));
    const QCommandLineOption duration(
        QStringLiteral("duration"),
        QStringLiteral("Stop after this long, e.g. 10s, 2m; at most 8760h."),
        QStringLiteral("time"));
    const QCommandLineOption interval(
        QStringLiteral("interval"),
        QStringLiteral("From one board poll to the next (default 100ms); 0 runs them back to "
                       "back, as fast as the line allows. At most 8760h."),
        QStringLiteral("time"));
    const QCommandLineOption format(
        QStringLiteral("format"),
        QStringLiteral("Output per exchange on standard output: table (default), csv (the "
                       "trace format, a row per frame) or jsonl (an object per exchange)."),
        QStringLiteral("format"));
    const QCommandLineOption trace(QStringLiteral("trace"),
                                   QStringLiteral("Also append every frame to this trace file."),
                                   QStringLiteral("file"));
    const QCommandLineOption test(QStringLiteral("test"),
                                  QStringLiteral("Test one board go/no-go with this plan (see "
                                                 "docs/board-test.md)."),
                                  QStringLiteral("plan"));
    const QCommandLineOption unit(QStringLiteral("unit"),
                                  QStringLiteral("With --test: the serial number of the board "
                                                 "under test, for the report (at most 64 "
                                                 "characters)."),
                                  QStringLiteral("serial"));
    const QCommandLineOption report(
        QStringLiteral("report"),
        QStringLiteral("With --test: write the report into a new folder under DIR."),
        QStringLiteral("dir"));
    const QCommandLineOption storeUrl(
        QStringLiteral("store"),
        QStringLiteral("With --test: keep the run in this results store, 'default' (the "
                       "station's own file), sqlite:PATH, or a line's server, "
                       "postgresql://[user@]host[:port]/db (kept in the default file first, "
                       "then uploaded for up to 5 s; what stays waits for the next upload); the "
                       "test is refused when the store cannot be written."),
        QStringLiteral("url"));
    const QCommandLineOption station(
        QStringLiteral("station"),
        QStringLiteral("With --store: the station's name in the store (default the host name)."),
        QStringLiteral("name"));
    parser.addOptions({help, version, device, port, speed, boards, outputs, count, duration,
                       interval, format, trace, test, unit, report, storeUrl, station});

    // The parser's own message quotes the option it did not know.
    if (!parser.parse(arguments))
        return failure(QString::fromStdString(
            protocol::excerpt(parser.errorText().toStdString(), 2 * protocol::kExcerptBytes)));
    if (parser.isSet(help))
        return ParsedOptions{std::nullopt, {}, parser.helpText()};
    if (parser.isSet(version))
        return ParsedOptions{
            std::nullopt,
            {},
            QStringLiteral("riopoll %1\n").arg(QCoreApplication::applicationVersion())};
    if (!parser.positionalArguments().isEmpty())
        return failure(QStringLiteral("unexpected argument '%1'")
                           .arg(shown(parser.positionalArguments().constFirst())));
    for (const QCommandLineOption* once :
         {&device, &port, &speed, &boards, &count, &duration, &interval, &format, &trace, &test,
          &unit, &report, &storeUrl, &station})
        if (parser.values(*once).size() > 1)
            return failure(
                QStringLiteral("--%1 is given more than once").arg(once->names().constLast()));

    Options options;
    if (parser.isSet(device) == parser.isSet(port))
        return failure(QStringLiteral("give the line as either --device PATH or --port N"));
    if (parser.isSet(device)) {
        options.device = parser.value(device);
        if (options.device.isEmpty())
            return failure(QStringLiteral("--device needs a path"));
    } else {
        const auto number = numberWithin(parser.value(port), 1, 32767);
        if (!number)
            return failure(QStringLiteral("--port takes a port number from 1, not '%1'")
                               .arg(shown(parser.value(port))));
        options.port = int(*number);
    }
    if (parser.isSet(speed)) {
        const auto bits = numberWithin(parser.value(speed), 1, 4'000'000);
        if (!bits)
            return failure(QStringLiteral("--speed takes bit/s, e.g. 9600, not '%1'")
                               .arg(shown(parser.value(speed))));
        options.speed = std::int32_t(*bits);
    }

    if (parser.isSet(test)) {
        for (const QCommandLineOption* pollOnly :
             {&boards, &outputs, &count, &duration, &interval, &format, &trace})
            if (parser.isSet(*pollOnly))
                return failure(QStringLiteral("--%1 is for polling, not for --test (the plan "
                                              "says what the test does)")
                                   .arg(pollOnly->names().constLast()));
        options.test = TestSettings{parser.value(test), parser.value(unit), parser.value(report)};
        if (options.test->planPath.isEmpty())
            return failure(QStringLiteral("--test needs a plan file"));
        if (parser.isSet(report) && options.test->reportDir.isEmpty())
            return failure(QStringLiteral("--report needs a folder"));
        // A serial number, not a note: it names the report's folder, which
        // must stay within a file name's 255 bytes, and a quality system's
        // field.
        constexpr qsizetype kLongestUnit = 64;
        if (const qsizetype length = options.test->unit.toUcs4().size(); length > kLongestUnit)
            return failure(QStringLiteral("--unit is a serial number of at most %1 characters; "
                                          "this one has %2")
                               .arg(kLongestUnit)
                               .arg(length));
        if (parser.isSet(storeUrl)) {
            const store::ParsedLocation location =
                store::parseStoreLocation(parser.value(storeUrl));
            if (!location.location)
                return failure(QStringLiteral("--store: %1").arg(location.error));
            options.test->store = location.location;
        }
        options.test->station = parser.value(station);
        if (parser.isSet(station) && (!parser.isSet(storeUrl) || options.test->station.isEmpty()))
            return failure(QStringLiteral("--station takes a name and goes with --store"));
        return ParsedOptions{std::move(options), {}, {}};
    }
    for (const QCommandLineOption* testOnly : {&unit, &report, &storeUrl, &station})
        if (parser.isSet(*testOnly))
            return failure(
                QStringLiteral("--%1 goes with --test").arg(testOnly->names().constLast()));

    PollSettings& poll = options.poll;
    if (parser.isSet(boards)) {
        poll.boards.clear();
        for (const QString& text : parser.value(boards).split(QLatin1Char(','))) {
            const auto address = boardAddress(text.trimmed().toStdString());
            if (!address)
                return failure(QStringLiteral("--boards: '%1' is not a board address (one or "
                                              "two characters)")
                                   .arg(shown(text)));
            if (std::ranges::find(poll.boards, *address) != poll.boards.end())
                return failure(QStringLiteral("--boards names %1 twice")
                                   .arg(QString::fromStdString(*address)));
            poll.boards.push_back(*address);
        }
        if (poll.boards.size() > 3)
            return failure(QStringLiteral("--boards: at most three boards share a line"));
    }
    for (const QString& value : parser.values(outputs)) {
        for (const QString& item : value.split(QLatin1Char(','))) {
            const qsizetype eq = item.indexOf(QLatin1Char('='));
            const auto address =
                eq < 0 ? std::nullopt : boardAddress(item.left(eq).trimmed().toStdString());
            const auto states = eq < 0 ? std::nullopt : parseLineStates(item.mid(eq + 1).trimmed());
            if (!address || !states)
                return failure(QStringLiteral("--outputs takes ADDR=STATES, eight 0/1 with "
                                              "output 8 first, e.g. 01=00000101; not '%1'")
                                   .arg(shown(item)));
            if (std::ranges::find(poll.boards, *address) == poll.boards.end())
                return failure(QStringLiteral("--outputs for %1, which is not among --boards")
                                   .arg(QString::fromStdString(*address)));
            poll.outputs[*address] = *states;
        }
    }
    if (parser.isSet(count) && parser.isSet(duration))
        return failure(QStringLiteral("give --count or --duration, not both"));
    if (parser.isSet(count)) {
        poll.count = numberWithin(parser.value(count), 1, std::numeric_limits<long long>::max());
        if (!poll.count)
            return failure(QStringLiteral("--count takes a number of board polls from 1, not '%1'")
                               .arg(shown(parser.value(count))));
    }
    if (parser.isSet(duration)) {
        poll.duration = parseDuration(parser.value(duration));
        if (!poll.duration || *poll.duration <= milliseconds(0))
            return failure(QStringLiteral("--duration takes a time such as 10s, 500ms or 2m, "
                                          "not '%1'")
                               .arg(shown(parser.value(duration))));
        if (*poll.duration > kLongestTime)
            return failure(QStringLiteral("--duration is at most a year (8760h), not '%1'")
                               .arg(shown(parser.value(duration))));
    }
    if (parser.isSet(interval)) {
        const auto time = parseDuration(parser.value(interval));
        if (!time)
            return failure(QStringLiteral("--interval takes a time such as 100ms or 1s, or 0, "
                                          "not '%1'")
                               .arg(shown(parser.value(interval))));
        if (*time > kLongestTime)
            return failure(QStringLiteral("--interval is at most a year (8760h), not '%1'")
                               .arg(shown(parser.value(interval))));
        poll.interval = *time;
    }
    if (parser.isSet(format)) {
        const QString name = parser.value(format);
        if (name == QStringLiteral("table"))
            poll.format = OutputFormat::Table;
        else if (name == QStringLiteral("csv"))
            poll.format = OutputFormat::Csv;
        else if (name == QStringLiteral("jsonl"))
            poll.format = OutputFormat::Jsonl;
        else
            return failure(
                QStringLiteral("--format is table, csv or jsonl, not '%1'").arg(shown(name)));
    }
    poll.tracePath = parser.value(trace);
    if (parser.isSet(trace) && poll.tracePath.isEmpty())
        return failure(QStringLiteral("--trace needs a file"));
    return ParsedOptions{std::move(options), {}, {}};
}

} // namespace rio::poll
