#pragma once

#include <QByteArray>
#include <QString>

// quellmark.prom in the metrics folder, replaced as a whole: the text goes
// to a file beside it first, which is then renamed over the old one, so a
// reader (the node exporter's textfile collector) sees the old metrics or
// the new ones, never half of them. The temporary name does not end in
// ".prom", so the collector never picks it up.
class MetricsFile {
public:
    static QString fileName() { return QStringLiteral("quellmark.prom"); }
    // The folder as the setting gives it: "~/" is the home folder, a
    // relative folder lies in the program folder; empty stays empty (off).
    static QString resolveFolder(const QString &setting, const QString &programFolder);
    // Writes the text; the folder is made when missing. Empty on success,
    // else what went wrong, for the user.
    static QString write(const QString &folder, const QByteArray &text);
};
