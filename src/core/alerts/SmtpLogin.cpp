#include "alerts/SmtpLogin.h"

#include "alerts/SmtpEhloReply.h"
#include "alerts/TBase64.h"

bool SmtpLogin::run(const SmtpEhloReply &offer, const Command &command, QString &reply) const
{
    const QList<QByteArray> offered = offer.logins();
    if (offered.isEmpty() || offered.contains("LOGIN"))
        return command("AUTH LOGIN", "334", reply) &&
               command(TBase64::encoded(m_user.toUtf8()), "334", reply) &&
               command(TBase64::encoded(m_password.toUtf8()), "235", reply);
    if (offered.contains("PLAIN")) {
        const QByteArray response =
            TBase64::encoded('\0' + m_user.toUtf8() + '\0' + m_password.toUtf8());
        const QByteArray line = "AUTH PLAIN " + response;
        if (line.size() + 2 <= CommandLineLimit) // CR LF follow
            return command(line, "235", reply);
        return command("AUTH PLAIN", "334", reply) && command(response, "235", reply);
    }
    reply = QStringLiteral("The SMTP server offers no login this program can use (it offers: "
                           "%1); the message was not sent.")
                .arg(QString::fromLatin1(offered.join(' ')));
    return false;
}
