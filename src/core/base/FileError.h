#pragma once

#include <QString>

#include <stdexcept>

// A file operation failed in a way the user must hear about. what() is UTF-8.
class FileError : public std::runtime_error {
public:
    explicit FileError(const QString &message)
        : std::runtime_error(message.toStdString()), m_message(message)
    {
    }
    QString message() const { return m_message; }

private:
    QString m_message;
};
