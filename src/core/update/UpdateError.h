#pragma once

#include <QString>

#include <stdexcept>

// The update check could not ask the maker's site (no connection, no answer in
// time, an answer far too large, a file that cannot be written). A plain "not
// found" or other HTTP status is not an error: the check then reports the
// latest version as unknown. what() is UTF-8.
class UpdateError : public std::runtime_error {
public:
    explicit UpdateError(const QString &message)
        : std::runtime_error(message.toStdString()), m_message(message)
    {
    }
    QString message() const { return m_message; }

private:
    QString m_message;
};
