#include "AlertMail.h"

#include "alerts/MessageTemplate.h"
#include "base/Subs.h"
#include "base/TimeStamp.h"
#include "config/Registry.h"
#include "config/Settings.h"

QString MessageNotSentText()
{
    return QStringLiteral("Message could not be sent");
}

QString SendAlertMail(const QString &servicesKey, const QString &serviceName,
                      const QString &templatePath, const QString &recipients,
                      const SmtpSettings &smtp, const AlertMailEnvironment &environment, bool *accepted,
                      const QString &certExpiry)
{
    if (accepted)
        *accepted = false;
    const QString serviceKey = Settings::serviceKey(servicesKey, serviceName);
    using namespace Settings;
    TemplateValues values;
    values.numberOfFailures = QString::number(
        RegReadInteger(serviceKey, ActualFailures.name(), ActualFailures.defaultNumber));
    values.failureTime = RegReadString(serviceKey, FailureTime.name(), QString());
    values.recoveryTime = RegReadString(serviceKey, RecoveryTime.name(), QString());
    // Known once an outage has ended; while one lasts its end is empty.
    const QDateTime outageStart =
        QDateTime::fromString(RegReadString(serviceKey, OutageStart.name(), QString()), Qt::ISODate);
    const QDateTime outageEnd =
        QDateTime::fromString(RegReadString(serviceKey, OutageEnd.name(), QString()), Qt::ISODate);
    if (outageStart.isValid() && outageEnd.isValid())
        values.downtime = DowntimeText(outageStart.secsTo(outageEnd));
    values.certExpiry = certExpiry;

    const QStringList sendTo = SplitRecipients(recipients);
    const QList<QByteArray> templateLines = LoadTemplateLines(templatePath);

    const QDateTime now = environment.now ? environment.now() : QDateTime::currentDateTime();
    values.siteUrl = BuildSiteUrl(serviceName);
    values.timeNow = TimeStamp::format(now, environment.locale);
    QList<QByteArray> message = ReplaceTemplateVariables(templateLines, values);
    AddDateHeader(message, Rfc822Date(now));

    TKEsmtp client(environment.resolver);
    client.setWaits(environment.waits);
    client.setHeloName(environment.heloName);
    client.setHostAddress(smtp.server);
    client.setPort(smtp.port);
    client.setFrom(smtp.from);
    client.setSendTo(sendTo);
    client.setRequireAuthentication(smtp.requireAuthentication);
    client.setSecurity(smtp.security);
    client.setUser(smtp.user);
    client.setPassword(smtp.password);
    client.setOutMessageBytes(message);

    QString reply;
    try {
        const bool taken = client.SendMail(reply);
        if (accepted)
            *accepted = taken;
    } catch (const SmtpError &) {
        reply = MessageNotSentText();
    }
    return reply;
}
