#pragma once

#include "config/ProgramContext.h"
#include "config/Settings.h"

#include <QDateTime>
#include <QObject>

#include <functional>

class RegKeyValues;

// Whether a service's alerts are held back: snoozed until a moment, or
// acknowledged until the service comes off error. Polling, counting and
// logging go on as ever; only the actions that reach a person wait.
struct AlertHoldState {
    enum class Kind { None, Snoozed, Acknowledged };
    Kind kind = Kind::None;
    // Snoozed: the end of the snooze, UTC.
    QDateTime until;

    bool held() const { return kind != Kind::None; }
    // The mark the service-on-error window and the Sites list give it.
    QString mark() const;
};

// Snooze, acknowledge and resume, kept in the service's key
// (`SnoozedUntil`, `Acknowledged`) so they outlast a restart. Its clock is
// injectable so a snooze can be run out in a test.
class AlertHold : public QObject {
    Q_OBJECT
public:
    // Longest snooze asked for at once: a year.
    static constexpr int MaxSnoozeMinutes = 366 * 24 * 60;

    AlertHold(const ProgramContext &context, std::function<QDateTime()> now, QObject *parent = nullptr);

    QDateTime nowUtc() const;
    // From a service's values read in one go. An acknowledgement outweighs
    // a snooze (it lasts at least as long as the outage); a snooze that has
    // run out, or a moment that cannot be read, holds nothing back.
    static AlertHoldState judge(const RegKeyValues &values, const QDateTime &nowUtc);
    // A snooze is stored that holds nothing back any more (run out, or
    // unreadable): it is to be cleared.
    static bool snoozeRunOut(const RegKeyValues &values, const QDateTime &nowUtc);
    // Throws RegistryError when the store cannot be read.
    AlertHoldState state(const QString &serviceName) const;
    // The holds of the named services, in their order, from two reads of
    // the store whatever their number (the Sites list and HeldBack ask for
    // all of them). A value of the wrong type holds nothing back. Throws
    // RegistryError when the store cannot be read.
    QList<AlertHoldState> states(const QStringList &serviceNames) const;

    // These write to the store (RegistryError) and tell `changed`.
    // minutes: 1 .. MaxSnoozeMinutes, else nothing happens.
    void snooze(const QString &serviceName, int minutes);
    void acknowledge(const QString &serviceName);
    // Ends a snooze and an acknowledgement.
    void resume(const QString &serviceName);

signals:
    // The hold of a service changed (empty name: of several).
    void changed(const QString &serviceName);

private:
    // The stored end of the snooze; invalid when there is none or it
    // cannot be read.
    static QDateTime snoozeEnd(const RegKeyValues &values);
    static QDateTime snoozeEnd(const QString &stored);
    static AlertHoldState judge(bool acknowledged, const QDateTime &snoozeEnd, const QDateTime &nowUtc);

    SettingsAccess m_settings;
    std::function<QDateTime()> m_now;
};
