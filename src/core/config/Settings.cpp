#include "config/Settings.h"

#include "base/Subs.h"
#include "config/ProgramContext.h"
#include "config/Registry.h"

QString Setting::defaultText(const QString &programFolder) const
{
    if (defaultFile.empty())
        return QString();
    return IncludeTrailingPathDelimiter(programFolder) +
           QString::fromRawData(reinterpret_cast<const QChar *>(defaultFile.data()),
                                qsizetype(defaultFile.size()));
}

QString Settings::serviceKey(const QString &servicesKey, const QString &serviceName)
{
    return IncludeTrailingBackslash(servicesKey) + serviceName;
}

SettingsAccess::SettingsAccess(const ProgramContext &context)
    : m_settingsRoot(context.settingsRoot), m_servicesKey(context.servicesKey),
      m_programFolder(context.programFolder)
{
}

QString SettingsAccess::keyOf(const Setting &setting, const QString &serviceName) const
{
    return setting.scope == Setting::Scope::Global
               ? m_settingsRoot
               : Settings::serviceKey(m_servicesKey, serviceName);
}

bool SettingsAccess::readBool(const Setting &setting, const QString &serviceName) const
{
    return RegReadBool(keyOf(setting, serviceName), setting.name(), setting.defaultBool());
}

int SettingsAccess::readInteger(const Setting &setting, const QString &serviceName) const
{
    return RegReadInteger(keyOf(setting, serviceName), setting.name(), setting.defaultNumber);
}

QString SettingsAccess::readString(const Setting &setting, const QString &serviceName) const
{
    return RegReadString(keyOf(setting, serviceName), setting.name(), defaultText(setting));
}

bool SettingsAccess::readBool(const RegKeyValues &values, const Setting &setting)
{
    return values.readBool(setting.name(), setting.defaultBool());
}

int SettingsAccess::readInteger(const RegKeyValues &values, const Setting &setting)
{
    return values.readInteger(setting.name(), setting.defaultNumber);
}

QString SettingsAccess::readString(const RegKeyValues &values, const Setting &setting) const
{
    return values.readString(setting.name(), defaultText(setting));
}

void SettingsAccess::writeBool(const Setting &setting, bool value, const QString &serviceName) const
{
    RegWriteBool(keyOf(setting, serviceName), setting.name(), value);
}

void SettingsAccess::writeInteger(const Setting &setting, int value,
                                  const QString &serviceName) const
{
    RegWriteInteger(keyOf(setting, serviceName), setting.name(), value);
}

void SettingsAccess::writeString(const Setting &setting, const QString &value,
                                 const QString &serviceName) const
{
    RegWriteString(keyOf(setting, serviceName), setting.name(), value);
}
