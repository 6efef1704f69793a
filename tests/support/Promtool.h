#pragma once

#include <QByteArray>
#include <QString>

// Prometheus's own checker (promtool, Debian package prometheus) run over a
// metrics text, so the tests hold our output to the real parser and linter.
class Promtool {
public:
    static QString path();
    static bool available() { return !path().isEmpty(); }
    // "promtool check metrics" with the text on its standard input: empty
    // when it accepts the text, else what it said (or why it did not run).
    static QString checkMetrics(const QByteArray &text);
};
