#include "boardtest/report_files.h"

#include "trace/trace_format.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QScopeGuard>
#include <QXmlStreamWriter>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace rio::boardtest {

namespace {

using namespace std::chrono;

QString isoTime(WallClock::time_point time) {
    return QString::fromStdString(trace::isoTime(time));
}

// Seconds with milliseconds, as JUnit's time attributes take them.
QString seconds(milliseconds duration) {
    return QString::number(double(duration.count()) / 1000.0, 'f', 3);
}

// A number as text: "12.4", "512", "-3".
std::string numberText(double value) {
    return QByteArray::number(value, 'g', QLocale::FloatingPointShortest).toStdString();
}

// A measurement's value or limit as a cell: a number as the program wrote it,
// text (input states) through the formula guard, null as an empty cell.
std::string csvCell(const QJsonValue& value) {
    if (value.isDouble())
        return trace::csvField(numberText(value.toDouble()), trace::CsvGuard::None);
    if (value.isString())
        return trace::csvField(value.toString().toStdString());
    return {};
}

// The same value for a person: a number, text, or "-".
QString shown(const QJsonValue& value) {
    if (value.isDouble())
        return QString::fromStdString(numberText(value.toDouble()));
    if (value.isString())
        return value.toString();
    return QStringLiteral("-");
}

// The unit, or the board's address without one; none when the plan was refused.
QString testName(const TestRecord& record) {
    const QString board = record.unit.isEmpty() ? record.address : record.unit;
    return board.isEmpty() ? QStringLiteral("board test") : QStringLiteral("board test ") + board;
}

// errno of the rename, 0 when done; EEXIST when `to` is there already. A
// file system that cannot rename without replacing (EINVAL) is asked whether
// `to` exists first.
int renameUnlessTaken(const QString& from, const QString& to) {
#ifdef Q_OS_WIN
    // Without MOVEFILE_REPLACE_EXISTING Windows never replaces.
    if (MoveFileExW(reinterpret_cast<const wchar_t*>(from.utf16()),
                    reinterpret_cast<const wchar_t*>(to.utf16()), MOVEFILE_WRITE_THROUGH))
        return 0;
    const DWORD error = GetLastError();
    return error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS ? EEXIST
           : error == ERROR_ACCESS_DENIED                              ? EACCES
                                                                       : EIO;
#else
    const QByteArray source = QFile::encodeName(from);
    const QByteArray target = QFile::encodeName(to);
    if (::renameat2(AT_FDCWD, source.constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE) ==
        0)
        return 0;
    if (errno != EINVAL)
        return errno;
    struct stat status {};
    if (::lstat(target.constData(), &status) == 0)
        return EEXIST;
    return ::rename(source.constData(), target.constData()) == 0 ? 0 : errno;
#endif
}

int count(const TestRecord& record, StepOutcome outcome) {
    return int(std::ranges::count_if(
        record.steps, [outcome](const StepResult& s) { return s.outcome == outcome; }));
}

} // namespace

QByteArray resultJson(const TestRecord& record) {
    QJsonArray steps;
    for (const StepResult& step : record.steps) {
        QJsonArray measurements;
        for (const Measurement& m : step.measurements)
            measurements.append(QJsonObject{{"name", m.name},
                                            {"value", m.value},
                                            {"low", m.low},
                                            {"high", m.high},
                                            {"outcome", outcomeName(m.outcome)}});
        steps.append(QJsonObject{{"name", step.name},
                                 {"outcome", outcomeName(step.outcome)},
                                 {"message", step.message},
                                 {"measurements", measurements}});
    }
    // Text that is not known is null: a run never stored has no uuid, and
    // its attempt is 0.
    const auto known = [](const QString& text) {
        return text.isEmpty() ? QJsonValue() : QJsonValue(text);
    };
    const QJsonObject root{
        {"uuid", known(record.uuid)},
        {"unit", known(record.unit)},
        {"attempt", record.attempt > 0 ? QJsonValue(record.attempt) : QJsonValue()},
        {"station", known(record.station)},
        {"operator", known(record.operatorName)},
        {"address", record.address},
        {"host", record.host},
        {"version", known(record.version)},
        {"plan", QJsonObject{{"file", record.planFile}, {"sha256", known(record.planSha256)}}},
        {"start", isoTime(record.start)},
        {"end", isoTime(record.end)},
        {"verdict", verdictName(record.verdict())},
        {"message", record.message},
        {"steps", steps},
    };
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

QByteArray junitXml(const TestRecord& record) {
    QByteArray xml;
    QXmlStreamWriter writer(&xml);
    writer.setAutoFormatting(true);
    writer.writeStartDocument();
    writer.writeStartElement(QStringLiteral("testsuite"));
    writer.writeAttribute(QStringLiteral("name"), testName(record));
    writer.writeAttribute(QStringLiteral("tests"), QString::number(record.steps.size()));
    writer.writeAttribute(QStringLiteral("failures"),
                          QString::number(count(record, StepOutcome::Fail)));
    writer.writeAttribute(QStringLiteral("errors"),
                          QString::number(count(record, StepOutcome::Error)));
    writer.writeAttribute(QStringLiteral("skipped"),
                          QString::number(count(record, StepOutcome::Skipped)));
    writer.writeAttribute(QStringLiteral("time"),
                          seconds(duration_cast<milliseconds>(record.end - record.start)));
    // The schema's timestamp has no zone and no fraction; it is UTC here.
    writer.writeAttribute(QStringLiteral("timestamp"), isoTime(record.start).left(19));
    writer.writeAttribute(QStringLiteral("hostname"), record.host);

    writer.writeStartElement(QStringLiteral("properties"));
    const auto property = [&](const char* name, const QString& value) {
        writer.writeEmptyElement(QStringLiteral("property"));
        writer.writeAttribute(QStringLiteral("name"), QString::fromLatin1(name));
        writer.writeAttribute(QStringLiteral("value"), value);
    };
    property("unit", record.unit);
    property("address", record.address);
    property("plan", record.planFile);
    property("plan_sha256", record.planSha256);
    property("start", isoTime(record.start));
    property("end", isoTime(record.end));
    property("verdict", verdictName(record.verdict()));
    writer.writeEndElement();

    const QString className = QStringLiteral("riopoll.board.") + record.address;
    for (const StepResult& step : record.steps) {
        writer.writeStartElement(QStringLiteral("testcase"));
        writer.writeAttribute(QStringLiteral("name"), step.name);
        writer.writeAttribute(QStringLiteral("classname"), className);
        writer.writeAttribute(QStringLiteral("time"), seconds(step.duration));
        // The measurements in the element's text, for a viewer that shows it.
        QString detail;
        for (const Measurement& m : step.measurements)
            detail += QStringLiteral("%1 = %2 [%3, %4] %5\n")
                          .arg(m.name, shown(m.value), shown(m.low), shown(m.high),
                               outcomeName(m.outcome));
        const auto result = [&](const char* element) {
            writer.writeStartElement(QString::fromLatin1(element));
            writer.writeAttribute(QStringLiteral("message"), step.message);
            writer.writeAttribute(QStringLiteral("type"), outcomeName(step.outcome));
            if (!detail.isEmpty())
                writer.writeCharacters(detail);
            writer.writeEndElement();
        };
        switch (step.outcome) {
        case StepOutcome::Fail:
            result("failure");
            break;
        case StepOutcome::Error:
            result("error");
            break;
        case StepOutcome::Skipped:
            writer.writeEmptyElement(QStringLiteral("skipped"));
            writer.writeAttribute(QStringLiteral("message"), step.message);
            break;
        case StepOutcome::Pass:
            if (!detail.isEmpty())
                writer.writeTextElement(QStringLiteral("system-out"),
                                        step.message + QLatin1Char('\n') + detail);
            break;
        }
        writer.writeEndElement();
    }
    writer.writeEndElement();
    writer.writeEndDocument();
    return xml;
}

QByteArray measurementsCsv(const TestRecord& record) {
    std::string csv = "step,name,value,low,high,outcome";
    csv += trace::kCsvLineEnd;
    for (const StepResult& step : record.steps) {
        for (const Measurement& m : step.measurements) {
            csv += trace::csvField(step.name.toStdString()) + ',';
            csv += trace::csvField(m.name.toStdString()) + ',';
            csv += csvCell(m.value) + ',' + csvCell(m.low) + ',' + csvCell(m.high) + ',';
            csv += trace::csvField(outcomeName(m.outcome).toStdString());
            csv += trace::kCsvLineEnd;
        }
    }
    return QByteArray::fromStdString(csv);
}

QString reportFolderName(const TestRecord& record) {
    QString name = record.unit.isEmpty() ? record.address : record.unit;
    if (name.isEmpty())
        name = QStringLiteral("board");
    for (QChar& c : name)
        if (!(c.isLetterOrNumber() && c.unicode() < 0x80) && c != QLatin1Char('-') &&
            c != QLatin1Char('_') && c != QLatin1Char('.'))
            c = QLatin1Char('_');
    if (name.startsWith(QLatin1Char('.')))
        name[0] = QLatin1Char('_');
    const QDateTime start = QDateTime::fromMSecsSinceEpoch(
        duration_cast<milliseconds>(record.start.time_since_epoch()).count(), Qt::UTC);
    return name + QLatin1Char('-') + start.toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'"));
}

std::optional<QString> checkReportFolder(const QString& dir) {
    if (trace::FileFailure failed = trace::makeFolders(dir))
        return failed;
    const QString probe =
        QDir(dir).filePath(trace::temporaryNameFor(QStringLiteral("riopoll"), "probe"));
    if (trace::FileFailure failed = trace::writeNewFile(probe, "riopoll\n"))
        return failed;
    if (::unlink(QFile::encodeName(probe).constData()) != 0)
        return QStringLiteral("cannot remove %1: %2").arg(probe, trace::errnoText(errno));
    return std::nullopt;
}

WrittenReport writeReport(const QString& dir, const TestRecord& record, trace::WriteCall write) {
    if (trace::FileFailure failed = trace::makeFolders(dir))
        return {{}, *failed};
    const QDir base(dir);
    const QString name = reportFolderName(record);

    QString part;
    for (;;) {
        part = base.filePath(trace::temporaryNameFor(name, "part"));
#ifdef Q_OS_WIN
        if (::mkdir(QFile::encodeName(part).constData()) == 0)
#else
        if (::mkdir(QFile::encodeName(part).constData(), 0777) == 0)
#endif
            break;
        const int error = errno;
        if (error != EEXIST)
            return {
                {},
                QStringLiteral("cannot make the folder %1: %2").arg(part, trace::errnoText(error))};
    }
    // Whatever happens below, no half-made report stays behind.
    auto removePart = qScopeGuard([&part] { QDir(part).removeRecursively(); });

    const std::pair<const char*, QByteArray> files[] = {
        {"result.json", resultJson(record)},
        {"junit.xml", junitXml(record)},
        {"measurements.csv", measurementsCsv(record)},
    };
    for (const auto& [file, bytes] : files)
        if (trace::FileFailure failed =
                trace::writeNewFile(QDir(part).filePath(QString::fromLatin1(file)), bytes, write))
            return {{}, *failed};
    if (trace::FileFailure failed = trace::syncFolder(part))
        return {{}, *failed};

    // The first free name, taken without replacing a folder of another run
    // that got it meanwhile.
    QString folder;
    for (int n = 1;; ++n) {
        folder = base.filePath(n == 1 ? name : name + QStringLiteral("-%1").arg(n));
        const int error = renameUnlessTaken(part, folder);
        if (error == 0)
            break;
        if (error != EEXIST && error != ENOTEMPTY)
            return {{},
                    QStringLiteral("cannot rename %1 to %2: %3")
                        .arg(part, folder, trace::errnoText(error))};
    }
    part = folder; // from here on a failure takes the report away again
    if (trace::FileFailure failed = trace::syncFolder(dir))
        return {{}, *failed};
    removePart.dismiss();
    return {folder, {}};
}

QString summaryText(const TestRecord& record, const QString& reportFolder) {
    // Long messages are cut so the summary stays one screen; the report
    // holds them whole.
    constexpr qsizetype kLongest = 300;
    QString text = verdictName(record.verdict()) + QStringLiteral("  ") +
                   (record.unit.isEmpty() ? QStringLiteral("(no unit)")
                                          : QStringLiteral("unit ") + record.unit);
    if (!record.address.isEmpty()) // none when the plan was refused
        text += QStringLiteral("  board ") + record.address;
    text += QStringLiteral("  plan %1\n").arg(record.planFile);
    if (!record.message.isEmpty())
        text += QStringLiteral("  %1\n").arg(record.message);
    std::vector<const StepResult*> order;
    for (const StepOutcome first :
         {StepOutcome::Fail, StepOutcome::Error, StepOutcome::Pass, StepOutcome::Skipped})
        for (const StepResult& step : record.steps)
            if (step.outcome == first)
                order.push_back(&step);
    for (const StepResult* step : order) {
        QString message = step->message;
        if (message.size() > kLongest)
            message = message.left(kLongest - 3) + QStringLiteral("...");
        text += QStringLiteral("  %1 %2 %3\n")
                    .arg(outcomeName(step->outcome).toUpper(), -7)
                    .arg(step->name, -13)
                    .arg(message);
    }
    if (!reportFolder.isEmpty())
        text += QStringLiteral("report: %1\n").arg(reportFolder);
    return text;
}

} // namespace rio::boardtest
