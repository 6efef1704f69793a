#pragma once

#include "alerts/TKEsmtp.h"

#include <QDateTime>
#include <QLocale>
#include <QString>

#include <functional>

class HostResolver;

// The SMTP settings as the Misc page shows them at the moment of sending.
struct SmtpSettings {
    QString server;
    int port = TKEsmtp::DefaultPort;
    QString from;
    bool requireAuthentication = false;
    QString user;
    QString password;
    // TKEsmtp::SecurityNone, SecurityStartTls or SecuritySslTls (the stored
    // SmtpSecurity value).
    int security = TKEsmtp::SecurityNone;
};

// What SendAlertMail takes from its surroundings; tests replace them.
struct AlertMailEnvironment {
    std::function<QDateTime()> now;   // empty: the current local time
    QLocale locale;                   // for the {TimeNow} time stamp
    HostResolver *resolver = nullptr; // null: the platform's name resolution
    SmtpWaits waits;
    QString heloName; // empty: this machine's name
};

// The reply text when the connection broke while the message was sent.
QString MessageNotSentText();

// Sends the alert e-mail of a service: reads its ActualFailures, FailureTime
// and RecoveryTime below servicesKey\<serviceName>, fills the template's
// variables, adds a Date header where the template has none, and sends the
// message to the recipients (the text cut at every comma) through the SMTP
// server. Returns the server's last reply line, empty when no connection
// could be made or nothing usable came back, or "Message could not be sent"
// when the connection broke while sending.
//
// A template that cannot be read throws FileError before any connection is
// made; a settings value of the wrong type throws RegistryError. `accepted`,
// when given, tells whether the server took the message. `certExpiry` is
// {CertExpiry}: the expiry date in a warning about a certificate, else empty.
QString SendAlertMail(const QString &servicesKey, const QString &serviceName,
                      const QString &templatePath, const QString &recipients,
                      const SmtpSettings &smtp,
                      const AlertMailEnvironment &environment = AlertMailEnvironment(),
                      bool *accepted = nullptr, const QString &certExpiry = QString());
