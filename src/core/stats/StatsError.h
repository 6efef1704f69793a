#pragma once

#include <QString>

#include <stdexcept>

// A report run stopped for a reason the user must be told. what() is UTF-8.
class StatsError : public std::runtime_error {
public:
    enum Kind {
        MissingLog, // the selected log is gone: an information, not a fault
        Unreadable, // the log cannot be opened or read
    };

    StatsError(Kind kind, const QString &message)
        : std::runtime_error(message.toStdString()), m_kind(kind), m_message(message)
    {
    }
    Kind kind() const { return m_kind; }
    QString message() const { return m_message; }

private:
    Kind m_kind;
    QString m_message;
};
