#pragma once

#include <QString>

#include <array>
#include <string_view>

class RegKeyValues;
struct ProgramContext;

// Every value the program keeps in the store: its name, type, default, where
// it lives (the settings root or a service's key) and, for numbers the user
// types, the bounds the field applies. Names, types and defaults are part of
// the stored format and never change.
struct Setting {
    enum class Type { Bool, Integer, String };
    enum class Scope { Global, Service };

    std::u16string_view valueName;
    Type type;
    Scope scope;
    // Bool (0 or 1) and Integer.
    int defaultNumber = 0;
    // String: empty, or a file of this name in the program folder.
    std::u16string_view defaultFile = {};
    // Integer: a field whose minimum equals its maximum has no bounds.
    int minimum = 0;
    int maximum = 0;

    // The name as the store accessors take it (no copy of the text).
    QString name() const
    {
        return QString::fromRawData(reinterpret_cast<const QChar *>(valueName.data()),
                                    qsizetype(valueName.size()));
    }
    bool defaultBool() const { return defaultNumber != 0; }
    QString defaultText(const QString &programFolder) const;
};

namespace Settings {
using T = Setting::Type;
using S = Setting::Scope;

// clang-format off
// ------------------------------------------------------------------ global
inline constexpr Setting NormalConnectionFreq{u"NormalConnectionFreq", T::Integer, S::Global, 60, {}, 1, 99999};
inline constexpr Setting ErrorConnectionFreq{u"ErrorConnectionFreq", T::Integer, S::Global, 15, {}, 1, 99999};
inline constexpr Setting PollTimeout{u"PollTimeout", T::Integer, S::Global, 15, {}, 0, 99999};
inline constexpr Setting ConnectionTimeout{u"ConnectionTimeout", T::Integer, S::Global, 60, {}, 15, 600};
inline constexpr Setting NoConnAppLaunch{u"NoConnAppLaunch", T::Bool, S::Global, 0};
inline constexpr Setting NoConnFailures{u"NoConnFailures", T::Integer, S::Global, 1, {}, 1, 9999};
inline constexpr Setting NoConnRepeatLaunch{u"NoConnRepeatLaunch", T::Bool, S::Global, 0};
inline constexpr Setting NoConnProgName{u"NoConnProgName", T::String, S::Global};
inline constexpr Setting TimerON{u"TimerON", T::Bool, S::Global, 0};
inline constexpr Setting Minimized{u"Minimized", T::Bool, S::Global, 0};
inline constexpr Setting Launch{u"Launch", T::Bool, S::Global, 0};
inline constexpr Setting VisualAlert{u"VisualAlert", T::Bool, S::Global, 1};
inline constexpr Setting UseHttpProxy{u"UseHttpProxy", T::Bool, S::Global, 0};
inline constexpr Setting HttpProxyURL{u"HttpProxyURL", T::String, S::Global};
inline constexpr Setting HttpProxyPort{u"HttpProxyPort", T::Integer, S::Global, 0, {}, 0, 99999};
inline constexpr Setting SmtpServer{u"SmtpServer", T::String, S::Global};
inline constexpr Setting SmtpPort{u"SmtpPort", T::Integer, S::Global, 25};
inline constexpr Setting SmtpFrom{u"SmtpFrom", T::String, S::Global};
inline constexpr Setting ReqSmtpAuth{u"ReqSmtpAuth", T::Bool, S::Global, 0};
inline constexpr Setting SmtpUser{u"SmtpUser", T::String, S::Global};
inline constexpr Setting SmtpPass{u"SmtpPass", T::String, S::Global};
// 0 none, 1 STARTTLS, 2 SSL/TLS.
inline constexpr Setting SmtpSecurity{u"SmtpSecurity", T::Integer, S::Global, 0, {}, 0, 2};
// Off switches every service's desktop notifications off.
inline constexpr Setting DesktopNotifications{u"DesktopNotifications", T::Bool, S::Global, 1};
// Kept by the program itself, not by a page field.
inline constexpr Setting Top{u"Top", T::Integer, S::Global, 100};
inline constexpr Setting Left{u"Left", T::Integer, S::Global, 100};
inline constexpr Setting LastService{u"LastService", T::Integer, S::Global, 0};
inline constexpr Setting NoConnActualFailures{u"NoConnActualFailures", T::Integer, S::Global, 0};
inline constexpr Setting BackupDir{u"BackupDir", T::String, S::Global, 0, u"Backup"};

// ------------------------------------------------------------- per service
inline constexpr Setting Pattern{u"Pattern", T::String, S::Service};
inline constexpr Setting OnErrorSoundName{u"OnErrorSoundName", T::String, S::Service, 0, u"OnError.wav"};
inline constexpr Setting OffErrorSoundName{u"OffErrorSoundName", T::String, S::Service, 0, u"OffError.wav"};
inline constexpr Setting ProgName{u"ProgName", T::String, S::Service};
inline constexpr Setting ProgNameOff{u"ProgNameOff", T::String, S::Service};
inline constexpr Setting OnErrorEmail{u"OnErrorEmail", T::String, S::Service};
inline constexpr Setting OffErrorEmail{u"OffErrorEmail", T::String, S::Service};
inline constexpr Setting OnErrorEmailTo{u"OnErrorEmailTo", T::String, S::Service};
inline constexpr Setting OffErrorEmailTo{u"OffErrorEmailTo", T::String, S::Service};
inline constexpr Setting BeepAlert{u"BeepAlert", T::Bool, S::Service, 0};
inline constexpr Setting SoundAlert{u"SoundAlert", T::Bool, S::Service, 1};
inline constexpr Setting LaunchApplication{u"LaunchApplication", T::Bool, S::Service, 0};
inline constexpr Setting RepeatLaunchApplication{u"RepeatLaunchApplication", T::Bool, S::Service, 0};
inline constexpr Setting FailuresBeforeLaunch{u"FailuresBeforeLaunch", T::Integer, S::Service, 1, {}, 1, 9999};
inline constexpr Setting SendEmail{u"SendEmail", T::Bool, S::Service, 0};
inline constexpr Setting RepeatEmail{u"RepeatEmail", T::Bool, S::Service, 0};
inline constexpr Setting FailuresBeforeEmail{u"FailuresBeforeEmail", T::Integer, S::Service, 1, {}, 1, 9999};
inline constexpr Setting DesktopNotification{u"DesktopNotification", T::Bool, S::Service, 1};
// Alerts held back: until a moment (UTC, ISO 8601; empty when not snoozed),
// or until the service comes off error.
inline constexpr Setting SnoozedUntil{u"SnoozedUntil", T::String, S::Service};
inline constexpr Setting Acknowledged{u"Acknowledged", T::Bool, S::Service, 0};
// Kept by the poll cycle.
inline constexpr Setting ActualFailures{u"ActualFailures", T::Integer, S::Service, 0};
inline constexpr Setting FailureTime{u"FailureTime", T::String, S::Service};
inline constexpr Setting RecoveryTime{u"RecoveryTime", T::String, S::Service};
// When the present or last outage began and ended, UTC in ISO 8601 (the
// local texts above are for display only); the end is empty while it lasts.
inline constexpr Setting OutageStart{u"OutageStart", T::String, S::Service};
inline constexpr Setting OutageEnd{u"OutageEnd", T::String, S::Service};
// Certificate expiry: warn this many days before an https service's
// certificate ends (0: never); the day of the last warnings and the
// certificates they were about, kept per service as "<local date, ISO 8601>
// <SHA-256 of the certificate in hex>..." so that one certificate is warned
// about at most once a day, across restarts too.
inline constexpr Setting CertWarnDays{u"CertWarnDays", T::Integer, S::Global, 14, {}, 0, 365};
inline constexpr Setting CertWarnedOn{u"CertWarnedOn", T::String, S::Service};
// A success whose complete answer took longer than this many milliseconds
// counts as the failure "slow"; 0 is off.
inline constexpr Setting SlowAfterMs{u"SlowAfterMs", T::Integer, S::Service, 0, {}, 0, 600000};
// How many services a cycle checks at once; 1 checks them one after another.
inline constexpr Setting ParallelChecks{u"ParallelChecks", T::Integer, S::Global, 1, {}, 1, 64};
// Metrics for a Prometheus server: the folder that gets quellmark.prom after
// every poll, and "host:port" of the program's own /metrics endpoint; empty
// is off for both.
inline constexpr Setting MetricsFolder{u"MetricsFolder", T::String, S::Global};
inline constexpr Setting MetricsListen{u"MetricsListen", T::String, S::Global};

// The whole table.
inline constexpr auto All = std::to_array<const Setting *>({
    &NormalConnectionFreq, &ErrorConnectionFreq, &PollTimeout, &ConnectionTimeout, &NoConnAppLaunch,
    &NoConnFailures, &NoConnRepeatLaunch, &NoConnProgName, &TimerON, &Minimized, &Launch, &VisualAlert,
    &UseHttpProxy, &HttpProxyURL, &HttpProxyPort, &SmtpServer, &SmtpPort, &SmtpFrom, &ReqSmtpAuth, &SmtpUser,
    &SmtpPass, &SmtpSecurity, &Top, &Left, &LastService, &NoConnActualFailures, &BackupDir, &Pattern,
    &OnErrorSoundName, &OffErrorSoundName, &ProgName, &ProgNameOff, &OnErrorEmail, &OffErrorEmail,
    &OnErrorEmailTo, &OffErrorEmailTo, &BeepAlert, &SoundAlert, &LaunchApplication, &RepeatLaunchApplication,
    &FailuresBeforeLaunch, &SendEmail, &RepeatEmail, &FailuresBeforeEmail, &ActualFailures, &FailureTime,
    &RecoveryTime, &OutageStart, &OutageEnd, &DesktopNotifications, &DesktopNotification, &SnoozedUntil,
    &Acknowledged,
    &CertWarnDays, &CertWarnedOn, &SlowAfterMs,
    &ParallelChecks,
    &MetricsFolder, &MetricsListen,
});
// clang-format on

// The key of one service's values below the services key.
QString serviceKey(const QString &servicesKey, const QString &serviceName);
} // namespace Settings

// Typed reads and writes of the table's values in the current store, below
// the context's settings root. Global values live in the root, service
// values in the service's key. Same rules and error texts as the Reg*
// accessors: a missing key or value reads as the default, reads never create
// anything.
class SettingsAccess {
public:
    explicit SettingsAccess(const ProgramContext &context);

    QString keyOf(const Setting &setting, const QString &serviceName = QString()) const;
    QString serviceKey(const QString &serviceName) const
    {
        return Settings::serviceKey(m_servicesKey, serviceName);
    }
    QString servicesKey() const { return m_servicesKey; }
    QString defaultText(const Setting &setting) const
    {
        return setting.defaultText(m_programFolder);
    }

    bool readBool(const Setting &setting, const QString &serviceName = QString()) const;
    int readInteger(const Setting &setting, const QString &serviceName = QString()) const;
    QString readString(const Setting &setting, const QString &serviceName = QString()) const;

    // The same from a key's values read in one go.
    static bool readBool(const RegKeyValues &values, const Setting &setting);
    static int readInteger(const RegKeyValues &values, const Setting &setting);
    QString readString(const RegKeyValues &values, const Setting &setting) const;

    void writeBool(const Setting &setting, bool value,
                   const QString &serviceName = QString()) const;
    void writeInteger(const Setting &setting, int value,
                      const QString &serviceName = QString()) const;
    void writeString(const Setting &setting, const QString &value,
                     const QString &serviceName = QString()) const;

private:
    QString m_settingsRoot;
    QString m_servicesKey;
    QString m_programFolder;
};
