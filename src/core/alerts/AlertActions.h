#pragma once

#include <QString>

// What became of an alert e-mail.
struct MailOutcome {
    bool sent = false;
    // Why it was not sent (the server's last reply, no connection, a
    // template that cannot be read); empty when it was.
    QString problem;
};

// A desktop notification about one service going on or coming off error.
struct DesktopNotice {
    QString serviceName;
    bool onError = true;
    // On error since an earlier cycle (a repeated alert), not just now.
    bool stillOnError = false;
    // The status pane's line for it, without the marker.
    QString statusLine;
    // When it happened, as a time stamp.
    QString time;
    // Off error: how long it was down ({Downtime}); empty when not known.
    QString downtime;
};

// A desktop notification that a service's certificate ends soon.
struct CertificateNotice {
    QString serviceName;
    QString subject;
    QString issuer;
    QString when;    // "expires in 13 days"
    QString expires; // "2026-12-22 10:00:00 UTC"
    QString time;    // when it was seen, as a time stamp
};

// The alert actions failure tracking calls.
class AlertActions {
public:
    virtual ~AlertActions() = default;
    // Empty when the sound played or there was nothing to play; else why not.
    virtual QString playAlertSound(const QString &serviceName, bool onError) = 0;
    // Throws LaunchError when the program cannot be started.
    virtual void launchProgram(const QString &commandLine) = 0;
    virtual MailOutcome sendAlertMail(const QString &serviceName, const QString &templatePath,
                                      const QString &recipients) = 0;
    // A failure the user must see (shown without stopping the cycle).
    virtual void reportError(const QString &message) = 0;
    // Returns at once; a desktop without a notification server shows nothing.
    virtual void notifyDesktop(const DesktopNotice &) {}
    // The on-error message about a certificate that ends soon: as
    // sendAlertMail, with {CertExpiry} filled in.
    virtual MailOutcome sendCertificateMail(const QString &serviceName, const QString &templatePath,
                                            const QString &recipients, const QString &certExpiry)
    {
        Q_UNUSED(certExpiry);
        return sendAlertMail(serviceName, templatePath, recipients);
    }
    virtual void notifyCertificate(const CertificateNotice &) {}
};
