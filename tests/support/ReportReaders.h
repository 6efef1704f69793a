#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// Reads report exports back with tools that share no code with the writer:
// python3's csv module and the jsonschema validator (python3-jsonschema).
class ReportReaders {
public:
    // The records of a CSV document as csv.reader reads it in strict mode;
    // nullopt, with the reason in *error, when it cannot.
    static std::optional<QList<QStringList>> parseCsv(const QByteArray &csv, QString *error);
    // Empty when the JSON document is valid against docs/report.schema.json,
    // else the validator's findings (or why it could not run).
    static QString schemaErrors(const QByteArray &json);
    static QString schemaPath();
};
