#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// A session bus of the test's own (dbus-daemon), so tests never talk to the
// user's desktop bus. Its address is put into DBUS_SESSION_BUS_ADDRESS for
// the processes the test starts afterwards. It starts no services on demand:
// a notification daemon installed on the machine is not woken by a test.
class PrivateBus {
public:
    PrivateBus();
    ~PrivateBus();
    static bool available();
    // Writes a session bus configuration listening on `listen` that starts
    // nothing on demand; false when it cannot be written.
    static bool writeConfig(const QString &path, const QString &listen);
    bool start();
    QString address() const { return m_address; }

private:
    QProcess m_daemon;
    QString m_address;
    QByteArray m_oldAddress;
    QTemporaryDir m_configDir;
};
