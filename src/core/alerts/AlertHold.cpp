#include "AlertHold.h"

#include "config/Registry.h"

QString AlertHoldState::mark() const
{
    switch (kind) {
    case Kind::Snoozed:
        return QStringLiteral("(snoozed)");
    case Kind::Acknowledged:
        return QStringLiteral("(acknowledged)");
    case Kind::None:
        break;
    }
    return QString();
}

AlertHold::AlertHold(const ProgramContext &context, std::function<QDateTime()> now, QObject *parent)
    : QObject(parent), m_settings(context), m_now(std::move(now))
{
    if (!m_now)
        m_now = [] { return QDateTime::currentDateTime(); };
}

QDateTime AlertHold::nowUtc() const
{
    return m_now().toUTC();
}

QDateTime AlertHold::snoozeEnd(const RegKeyValues &values)
{
    const QString text = values.readString(Settings::SnoozedUntil.name(), QString());
    // Bounded before parsing: the store can be edited by hand.
    if (text.isEmpty() || text.size() > 64)
        return {};
    const QDateTime until = QDateTime::fromString(text, Qt::ISODate);
    return until.isValid() ? until.toUTC() : QDateTime();
}

AlertHoldState AlertHold::judge(const RegKeyValues &values, const QDateTime &nowUtc)
{
    AlertHoldState state;
    if (SettingsAccess::readBool(values, Settings::Acknowledged)) {
        state.kind = AlertHoldState::Kind::Acknowledged;
        return state;
    }
    const QDateTime until = snoozeEnd(values);
    if (until.isValid() && nowUtc < until) {
        state.kind = AlertHoldState::Kind::Snoozed;
        state.until = until;
    }
    return state;
}

bool AlertHold::snoozeRunOut(const RegKeyValues &values, const QDateTime &nowUtc)
{
    if (values.readString(Settings::SnoozedUntil.name(), QString()).isEmpty())
        return false;
    const QDateTime until = snoozeEnd(values);
    return !until.isValid() || nowUtc >= until;
}

AlertHoldState AlertHold::state(const QString &serviceName) const
{
    const RegKeyValues values(m_settings.serviceKey(serviceName));
    return judge(values, nowUtc());
}

void AlertHold::snooze(const QString &serviceName, int minutes)
{
    if (minutes < 1 || minutes > MaxSnoozeMinutes)
        return;
    const QDateTime until = nowUtc().addSecs(qint64(minutes) * 60);
    m_settings.writeString(Settings::SnoozedUntil, until.toString(Qt::ISODate), serviceName);
    emit changed(serviceName);
}

void AlertHold::acknowledge(const QString &serviceName)
{
    m_settings.writeBool(Settings::Acknowledged, true, serviceName);
    emit changed(serviceName);
}

void AlertHold::resume(const QString &serviceName)
{
    m_settings.writeString(Settings::SnoozedUntil, QString(), serviceName);
    m_settings.writeBool(Settings::Acknowledged, false, serviceName);
    emit changed(serviceName);
}
