#pragma once
// The board test's report: a folder per run, DIR/<unit or address>-<UTC start
// yyyymmddThhmmssZ>/, holding
//   result.json       the record, for a quality system;
//   junit.xml         one testsuite, one testcase per step, for CI viewers;
//   measurements.csv  one row per measurement: step,name,value,low,high,outcome
// and the one-screen summary printed on standard output.
//
// A report is there whole or not at all: the files are written into a hidden
// folder beside the final one, each synced, and the folder is renamed into
// place only when all three are complete. A failure leaves nothing behind.

#include "boardtest/test_record.h"
#include "trace/kept_file.h"

#include <QByteArray>
#include <QString>

#include <optional>

namespace rio::boardtest {

[[nodiscard]] QByteArray resultJson(const TestRecord& record);
[[nodiscard]] QByteArray junitXml(const TestRecord& record);
[[nodiscard]] QByteArray measurementsCsv(const TestRecord& record);

// "<unit or address>-20261208T051203Z"; characters a file name should not
// hold are written as '_'.
[[nodiscard]] QString reportFolderName(const TestRecord& record);

struct WrittenReport {
    QString folder; // empty when it could not be written
    QString error;  // why not
};

// Whether reports can be written under `dir`, asked before a test sends
// anything: makes it when missing, then creates and removes a small file in
// it. The reason when not.
[[nodiscard]] std::optional<QString> checkReportFolder(const QString& dir);

// Makes the folder under `dir` (and `dir` itself when missing) and writes the
// three files into it. A folder of the same name gets a "-2", "-3" ... added.
// `write` is how the bytes reach the files.
[[nodiscard]] WrittenReport writeReport(const QString& dir, const TestRecord& record,
                                        trace::WriteCall write = trace::systemWrite);

// The verdict, then the steps that failed or could not run, then the others,
// each in one line; then the report folder when there is one.
[[nodiscard]] QString summaryText(const TestRecord& record, const QString& reportFolder);

} // namespace rio::boardtest
