// Message template substitution and the template file's field form.
//
// Input: the template bytes, then up to five values (SiteURL,
// NumberOfFailures, FailureTime, RecoveryTime, TimeNow), each introduced by
// a 0x1F byte.

#include "FuzzSupport.h"

#include "alerts/MessageTemplate.h"
#include "alerts/TemplateFolder.h"
#include "base/FileError.h"

#include <QString>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray all(reinterpret_cast<const char *>(data), qsizetype(size));
    const QList<QByteArray> parts = all.split('\x1f');
    const QByteArray templateBytes = parts.value(0);
    TemplateValues values;
    values.siteUrl = QString::fromUtf8(parts.value(1));
    values.numberOfFailures = QString::fromUtf8(parts.value(2));
    values.failureTime = QString::fromUtf8(parts.value(3));
    values.recoveryTime = QString::fromUtf8(parts.value(4));
    values.timeNow = QString::fromUtf8(parts.value(5));

    const QList<QByteArray> lines = SplitTextLines(templateBytes);
    for (const QByteArray &line : lines) {
        FUZZ_CHECK(!line.contains('\r') && !line.contains('\n'));
        // Template text goes through the composer without loss.
        FUZZ_CHECK(EncodeTemplateText(DecodeTemplateText(line)) == line);
    }
    // Joining and splitting again changes nothing.
    FUZZ_CHECK(SplitTextLines(JoinTextLines(lines)) == lines);

    try {
        QList<QByteArray> message = ReplaceTemplateVariables(lines, values);
        qsizetype bytes = 0;
        for (const QByteArray &line : std::as_const(message)) {
            FUZZ_CHECK(!line.contains('\r') && !line.contains('\n'));
            bytes += line.size() + 2;
        }
        // Lone CR or LF line ends come back as CR LF: at most twice the bound.
        FUZZ_CHECK(bytes <= 2 * MaxMessageSize);
        const qsizetype before = message.size();
        const bool added = AddDateHeader(message, QStringLiteral("Tue, 8 Dec 2026 15:38:25 +0100"));
        FUZZ_CHECK(message.size() == before + (added ? 1 : 0));
    } catch (const FileError &error) {
        // Values that multiply the message are refused, nothing else.
        FUZZ_CHECK(error.message().startsWith(QLatin1String("The message would be larger")));
    }

    // What the composer saves reads back as it was saved.
    const TemplateFields fields = TemplateFieldsFromLines(lines);
    const QByteArray saved = TemplateFileBytes(fields);
    FUZZ_CHECK(saved.endsWith("\r\n"));
    const TemplateFields again = TemplateFieldsFromLines(SplitTextLines(saved));
    FUZZ_CHECK(again == fields);
    FUZZ_CHECK(TemplateFileBytes(again) == saved);
    return 0;
}
