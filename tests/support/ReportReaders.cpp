#include "ReportReaders.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>

namespace {

struct PythonResult {
    bool ran = false;
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

PythonResult runPython(const char *script, const QStringList &args, const QByteArray &input)
{
    QProcess process;
    process.start(QStringLiteral("python3"),
                  QStringList{QStringLiteral("-c"), QString::fromLatin1(script)} + args);
    PythonResult result;
    if (!process.waitForStarted(10000))
        return result;
    process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished();
        return result;
    }
    result.ran = process.exitStatus() == QProcess::NormalExit;
    result.exitCode = process.exitCode();
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    return result;
}

const char *const CsvScript = R"(
import csv, io, json, sys
text = io.TextIOWrapper(sys.stdin.buffer, encoding="utf-8", newline="")
json.dump(list(csv.reader(text, strict=True)), sys.stdout)
)";

const char *const SchemaScript = R"(
import json, sys, jsonschema
with open(sys.argv[1], encoding="utf-8") as f:
    schema = json.load(f)
jsonschema.Draft202012Validator.check_schema(schema)
document = json.loads(sys.stdin.buffer.read().decode("utf-8"))
validator = jsonschema.Draft202012Validator(schema)
errors = ["%s: %s" % ("/".join(map(str, e.absolute_path)), e.message)
          for e in validator.iter_errors(document)]
print("\n".join(errors), end="")
sys.exit(1 if errors else 0)
)";

} // namespace

std::optional<QList<QStringList>> ReportReaders::parseCsv(const QByteArray &csv, QString *error)
{
    const PythonResult r = runPython(CsvScript, {}, csv);
    if (!r.ran || r.exitCode != 0) {
        *error = QStringLiteral("csv.reader failed: ") + QString::fromUtf8(r.err);
        return std::nullopt;
    }
    QList<QStringList> rows;
    for (const QJsonValue &row : QJsonDocument::fromJson(r.out).array()) {
        QStringList fields;
        for (const QJsonValue &field : row.toArray())
            fields << field.toString();
        rows << fields;
    }
    return rows;
}

QString ReportReaders::schemaErrors(const QByteArray &json)
{
    const PythonResult r = runPython(SchemaScript, {schemaPath()}, json);
    if (!r.ran)
        return QStringLiteral("python3 did not run");
    if (r.exitCode != 0)
        return QString::fromUtf8(r.out + r.err).trimmed();
    return QString();
}

QString ReportReaders::schemaPath()
{
    return QStringLiteral(QUELLMARK_REPORT_SCHEMA);
}
