#pragma once

#include <QString>

#include <stdexcept>

// A backup or restore that cannot be done, or is refused to protect the
// settings. what() is UTF-8.
class BackupError : public std::runtime_error {
public:
    explicit BackupError(const QString &message)
        : std::runtime_error(message.toStdString()), m_message(message)
    {
    }
    QString message() const { return m_message; }

private:
    QString m_message;
};
