#include "AlertHold.h"

#include "config/Registry.h"
#include "config/RegistryStore.h"

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

QDateTime AlertHold::snoozeEnd(const QString &stored)
{
    // Bounded before parsing: the store can be edited by hand.
    if (stored.isEmpty() || stored.size() > 64)
        return {};
    const QDateTime until = QDateTime::fromString(stored, Qt::ISODate);
    return until.isValid() ? until.toUTC() : QDateTime();
}

QDateTime AlertHold::snoozeEnd(const RegKeyValues &values)
{
    return snoozeEnd(values.readString(Settings::SnoozedUntil.name(), QString()));
}

AlertHoldState AlertHold::judge(bool acknowledged, const QDateTime &until, const QDateTime &nowUtc)
{
    AlertHoldState state;
    if (acknowledged) {
        state.kind = AlertHoldState::Kind::Acknowledged;
    } else if (until.isValid() && nowUtc < until) {
        state.kind = AlertHoldState::Kind::Snoozed;
        state.until = until;
    }
    return state;
}

AlertHoldState AlertHold::judge(const RegKeyValues &values, const QDateTime &nowUtc)
{
    if (SettingsAccess::readBool(values, Settings::Acknowledged))
        return judge(true, QDateTime(), nowUtc);
    return judge(false, snoozeEnd(values), nowUtc);
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

QList<AlertHoldState> AlertHold::states(const QStringList &serviceNames) const
{
    RegistryStore &store = RegistryStore::currentOrThrow();
    const QHash<QString, RegValue> acknowledged =
        store.valueInSubkeys(m_settings.servicesKey(), Settings::Acknowledged.name());
    const QHash<QString, RegValue> snoozed =
        store.valueInSubkeys(m_settings.servicesKey(), Settings::SnoozedUntil.name());
    const QDateTime now = nowUtc();
    QList<AlertHoldState> found;
    found.reserve(serviceNames.size());
    for (const QString &name : serviceNames) {
        const QString fold = RegistryStore::foldName(name);
        const auto ack = acknowledged.constFind(fold);
        const bool isAcknowledged = ack != acknowledged.cend() && ack->type == RegType::DWord &&
                                    ack->size() <= 4 && ack->toDWord() != 0;
        const auto until = snoozed.constFind(fold);
        const QDateTime end = until != snoozed.cend() && until->isString()
                                  ? snoozeEnd(until->toString())
                                  : QDateTime();
        found << judge(isAcknowledged, end, now);
    }
    return found;
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
