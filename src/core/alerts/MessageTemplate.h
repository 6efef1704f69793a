#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

// Message templates: a text file holding the whole message (header lines, an
// empty line, the body) with variables in braces that are filled in when an
// alert is sent. Lines are handled as bytes, so a template's text reaches the
// SMTP server exactly as it is in the file.

// Largest template file read; a bigger one is refused with a FileError.
constexpr qint64 MaxTemplateSize = 1024 * 1024;
// Largest message the variables may make of a template. Values that bring in
// further variable names could otherwise multiply it without bound.
constexpr qint64 MaxMessageSize = 16 * MaxTemplateSize;

// The values of the variables, in the order they are replaced.
struct TemplateValues {
    QString siteUrl;          // {SiteURL}
    QString numberOfFailures; // {NumberOfFailures}
    QString failureTime;      // {FailureTime}
    QString recoveryTime;     // {RecoveryTime}
    QString timeNow;          // {TimeNow}
    QString downtime;         // {Downtime}
    QString certExpiry;       // {CertExpiry}
};

// The variable names in the order they are replaced: the five classic ones,
// then {Downtime} and {CertExpiry}.
QStringList TemplateVariableNames();

// How long an outage lasted, as {Downtime} and the recovery notice say it:
// "under 1 min", "45 min", "2 h 05 min", "3 d 4 h" (whole units, cut not
// rounded). Empty for a negative span.
QString DowntimeText(qint64 seconds);

// CR LF, a lone LF and a lone CR each end a line; a break at the very end
// adds no empty line; an empty text has no lines.
QList<QByteArray> SplitTextLines(const QByteArray &text);
// Every line followed by CR LF.
QByteArray JoinTextLines(const QList<QByteArray> &lines);

// Reads the template's lines. An empty path, a missing or unreadable file and
// a file above MaxTemplateSize throw FileError
// "Cannot open file "<path>". <reason>".
QList<QByteArray> LoadTemplateLines(const QString &filePath);

// Replaces the variables one after the other. Each pass joins the lines,
// replaces every occurrence from left to right without rescanning what it
// inserted, and splits the text into lines again; so a value may bring in the
// name of a later variable, which is then replaced too. Names are
// case-sensitive. Throws FileError "The message would be larger than <n>
// bytes." when the text grows beyond MaxMessageSize.
QList<QByteArray> ReplaceTemplateVariables(const QList<QByteArray> &lines,
                                           const TemplateValues &values);

// Puts "Date: <dateText>" in front of the message unless a header line
// already starts with "date:" in any case. Only the header block counts: the
// first empty line ends it, and a message without an empty line gets no Date
// header. Returns whether the line was added.
bool AddDateHeader(QList<QByteArray> &lines, const QString &dateText);

// The recipient text cut at every comma. Pieces are kept as they are (blanks
// included); an empty piece between commas or before a leading comma is an
// empty address, a final comma adds nothing, an empty text gives no one.
QStringList SplitRecipients(const QString &text);

// The web address of a service name "<type> <host[/path]> <port>":
// "http://host:80/path". The port is always written; with a path it stands
// between host and path. A name without a port gives the address without
// one; a one-word name is taken as an http host.
QString BuildSiteUrl(const QString &serviceName);

// "Tue, 8 Dec 2026 15:38:25 +0100" for the moment's own date, time and
// offset from UTC. Day and month names are English whatever the locale.
// Empty for an invalid moment.
QString Rfc822Date(const QDateTime &moment);
// The moment's offset from UTC: "GMT" for none, otherwise "+hhmm" or "-hhmm".
QString ZoneOffsetText(const QDateTime &moment = QDateTime::currentDateTime());
