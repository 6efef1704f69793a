#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

#include <optional>

// Writing side of the per-service logs and the error log. Every write opens,
// writes and closes the file, so the statistics window can read the files
// between polls, and no write ever fails visibly: a record that cannot be
// written is lost. Text is UTF-8 with CR LF line ends.
class ServiceLog {
public:
    // Longest server answer written into one error log entry; the rest is
    // dropped with a note, so a huge answer cannot blow up the error log.
    static constexpr qsizetype MaxResponseBytes = 64 * 1024;

    // The name the service's log is filed under: the probe target in lower
    // case without one trailing "/", with each of / \ : ? & % made "_".
    // Empty when the service name is blank.
    static QString logName(const QString &serviceName);
    // "http" for a one-word name, else the first word in lower case; empty
    // when the service name is blank.
    static QString protocolOf(const QString &serviceName);
    // programFolder + logName + "(" + protocol + ").log"; empty when the
    // service name is blank, so nothing is ever written for such a service.
    // Characters that would leave the folder are made "_" in the protocol too.
    static QString logPath(const QString &programFolder, const QString &serviceName);

    // Creates the log with its single "Log start" record when it does not
    // exist. False when it does not exist and could not be created.
    static bool ensureLogStarted(const QString &path, const QString &stamp);
    // The same, with the time stamp made only when the log is created.
    static bool ensureLogStarted(const QString &path, const std::function<QString()> &stamp);
    static void appendWentOnError(const QString &path, const QString &stamp);
    static void appendCameOffError(const QString &path, const QString &stamp);

    // Error log entries. Each is written in one append and is followed by an
    // empty line.
    static void appendConnectionLost(const QString &errorLog, const QString &stamp);
    static void appendConnectionBack(const QString &errorLog, const QString &stamp);
    // `response` is what the server sent, written byte for byte (cut at
    // MaxResponseBytes); std::nullopt when no connection could be made.
    // The entry always ends with a line end of its own before the empty
    // line, also when the answer did not end in one.
    static void appendServiceFailed(const QString &errorLog, const QString &stamp,
                                    const QString &hostAndPath, const QString &protocol,
                                    const std::optional<QByteArray> &response);
};
