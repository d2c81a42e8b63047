// riopoll's parts in-process, where a run as a program could not reach them:
// times longer than a Qt timer counts, given on the command line and kept by
// the poller; what a table line and a refusal show of bytes that came from a
// board or a user. Expected values are written by hand.
#include "boardtest/plan.h"
#include "poll/exchange_output.h"
#include "poll/poll_options.h"
#include "poll/poller.h"
#include "tests/support/fake_port.h"

#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

#include <chrono>
#include <cstdint>
#include <optional>

using namespace rio::boardtest;
using namespace rio::poll;
using namespace std::chrono_literals;
using std::chrono::milliseconds;

Q_DECLARE_METATYPE(std::optional<milliseconds>)

namespace {

const std::string ack = "\x06", etx = "\x03";

// A board 01 that answers every request at once.
std::string answer(const std::string& request) {
    if (request[3] == 'R')
        return ack + "01R" + "00000000" + "0512" + "1023" + etx;
    return ack + "01W" + request.substr(4, 8) + etx;
}

// Every character a terminal could take as a control, but the line's end.
bool holdsControls(const QString& text) {
    static const QRegularExpression control(QStringLiteral("[\\x00-\\x1F\\x7F]"));
    return control.match(text.chopped(text.endsWith(QLatin1Char('\n')) ? 1 : 0)).hasMatch();
}

} // namespace

class TestPollParts : public QObject {
    Q_OBJECT
private slots:
    // Any time up to a year, in any unit, is taken whole; beyond is refused.
    void timesOnTheCommandLine_data() {
        QTest::addColumn<QString>("option");
        QTest::addColumn<QString>("time");
        QTest::addColumn<std::optional<milliseconds>>("taken"); // none: refused
        QTest::newRow("30 days in milliseconds, ten digits")
            << "--interval"
            << "2592000000ms" << std::optional(milliseconds(2'592'000'000));
        QTest::newRow("a year in hours") << "--duration"
                                         << "8760h" << std::optional(milliseconds(31'536'000'000));
        QTest::newRow("an hour over a year") << "--duration"
                                             << "8761h" << std::optional<milliseconds>();
        QTest::newRow("a millisecond over a year")
            << "--interval"
            << "31536000001ms" << std::optional<milliseconds>();
        QTest::newRow("more digits than any clock holds")
            << "--duration"
            << "99999999999999999999999h" << std::optional<milliseconds>();
    }
    void timesOnTheCommandLine() {
        QFETCH(QString, option);
        QFETCH(QString, time);
        QFETCH(std::optional<milliseconds>, taken);
        const ParsedOptions parsed =
            parseOptions({"riopoll", "--device", "/dev/null", option, time});
        QCOMPARE(parsed.options.has_value(), taken.has_value());
        if (!taken) {
            QVERIFY2(parsed.error.contains(QStringLiteral("at most a year")),
                     qPrintable(parsed.error));
            return;
        }
        const PollSettings& poll = parsed.options->poll;
        QCOMPARE(option == "--interval" ? poll.interval : *poll.duration, *taken);
    }

    // A time past a timer's int milliseconds neither wraps round to a short
    // one (4294968 s is 704 ms modulo 2^32 ms) nor is dropped as negative
    // (600 h is past 2^31 ms): polling ends by its count, or by a short
    // duration while a long interval is still running.
    void longTimesKeptWhole_data() {
        QTest::addColumn<milliseconds>("duration");
        QTest::addColumn<milliseconds>("interval");
        QTest::addColumn<long long>("count");
        QTest::addColumn<long long>("polls");
        QTest::newRow("duration of 4294968 s, four polls 300 ms apart")
            << milliseconds(4'294'968'000) << 300ms << 4LL << 4LL;
        QTest::newRow("duration of 600 h, three polls 100 ms apart")
            << milliseconds(2'160'000'000) << 100ms << 3LL << 3LL;
        QTest::newRow("interval of 4294968 s, ended by a duration of 1.2 s")
            << 1200ms << milliseconds(4'294'968'000) << 5LL << 1LL;
    }
    void longTimesKeptWhole() {
        QFETCH(milliseconds, duration);
        QFETCH(milliseconds, interval);
        QFETCH(long long, count);
        QFETCH(long long, polls);
        QTest::failOnWarning(QRegularExpression(QStringLiteral(".")));
        rio::test::FakePort port;
        port.respond = answer;
        port.setPortOpen(true);
        rio::exchange::Line line(port);
        line.speed() = 115200;
        PollSettings settings;
        settings.boards = {"01"};
        settings.duration = duration;
        settings.interval = interval;
        settings.count = count;
        Poller poller(line, settings);
        QSignalSpy finished(&poller, &Poller::finished);
        poller.start();
        QVERIFY(finished.wait(10'000));
        QCOMPARE(poller.boardPolls(), polls);
    }

    // A reply's inputs go to the table as the monitor shows them: an OSC
    // sequence that would retitle the terminal, and a NUL that would end the
    // column, come out as text.
    void tableShowsReplyBytesReadably_data() {
        QTest::addColumn<QByteArray>("inputs"); // the reply's eight input bytes
        QTest::addColumn<QString>("shown");
        QTest::newRow("terminal title sequence")
            << QByteArray("\x1b]0;pwn\x07", 8) << " <1B>]0;pwn<07>     512    1023\n";
        QTest::newRow("NUL among the inputs") << QByteArray("0000\x00"
                                                            "111",
                                                            8)
                                              << " 0000<00>111     512    1023\n";
    }
    void tableShowsReplyBytesReadably() {
        QFETCH(QByteArray, inputs);
        QFETCH(QString, shown);
        rio::exchange::FrameEvent event;
        event.board = 1;
        event.address = "01";
        event.kind = rio::exchange::ExchangeKind::Read;
        event.direction = rio::exchange::Direction::Rx;
        event.bytes = ack + "01R" + inputs.toStdString() + "0512" + "1023" + etx;
        event.outcome = rio::exchange::FrameOutcome::Ok;
        event.response = 2500us;
        const rio::protocol::JudgedReply judged = rio::protocol::judgeRead(event.bytes);
        event.judged = &judged;
        const ExchangePrinter printer(OutputFormat::Table, stdout);
        const QString line = QString::fromStdString(printer.line(event));
        QVERIFY2(line.endsWith(shown), qPrintable(line));
        QVERIFY2(!holdsControls(line), qPrintable(line));
    }

    // A refusal quotes at most a short, escaped excerpt of what it refuses,
    // however long the value and whatever bytes it holds.
    void refusalsQuoteAnExcerpt_data() {
        QTest::addColumn<bool>("inPlan"); // else on the command line
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<QString>("says");
        const QByteArray huge(50'000'000, 'a');
        QTest::newRow("plan line of 50 MB")
            << true << QByteArray("[line]\n") + huge
            << "line 2: '" + QString(40, 'a') + "... (50000000 bytes)' is neither";
        QTest::newRow("plan value with a terminal control")
            << true << QByteArray("[line]\nboard=\x1b[2J\n")
            << "line 2: [line] board=<1B>[2J: the board address";
        QTest::newRow("option value of 50 MB")
            << false << huge << "not '" + QString(40, 'a') + "... (50000000 bytes)'";
        QTest::newRow("option value with a terminal control")
            << false << QByteArray("\x1b]0;x\x07") << "not '<1B>]0;x<07>'";
    }
    void refusalsQuoteAnExcerpt() {
        QFETCH(bool, inPlan);
        QFETCH(QByteArray, value);
        QFETCH(QString, says);
        QString message;
        if (inPlan) {
            const ParsedPlan parsed = parsePlan(std::string_view(value.constData(), value.size()));
            QVERIFY(!parsed.plan);
            message = QString::fromStdString(describe(parsed.error));
        } else {
            const ParsedOptions parsed = parseOptions(
                {"riopoll", "--device", "/dev/null", "--format", QString::fromLatin1(value)});
            QVERIFY(!parsed.options);
            message = parsed.error;
        }
        QVERIFY2(message.contains(says), qPrintable(message.left(200)));
        QVERIFY2(message.size() < 200, qPrintable(message.left(200)));
        QVERIFY2(!holdsControls(message), qPrintable(message.left(200)));
    }
};

QTEST_GUILESS_MAIN(TestPollParts)
#include "test_poll_parts.moc"
