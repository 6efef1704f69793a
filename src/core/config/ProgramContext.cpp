#include "ProgramContext.h"

#include "Version.h"
#include "platform/DefaultSounds.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

QString ProgramContext::applicationTitle()
{
    return QStringLiteral("Quellmark");
}

QString ProgramContext::buildVersion()
{
    return QStringLiteral(QUELLMARK_VERSION_TEXT);
}

QString ProgramContext::makerSite()
{
    return QStringLiteral("http://www.kestrin.example");
}

bool ProgramContext::isTestMode(const QStringList &arguments)
{
    return arguments.size() > 1 && arguments.at(1).compare(QLatin1String("test"), Qt::CaseInsensitive) == 0;
}

ProgramContext ProgramContext::create(bool testMode, const QString &programFolder)
{
    ProgramContext c;
    c.testMode = testMode;
    c.title = applicationTitle();
    c.settingsRoot = QStringLiteral("Software\\Kestrin Software\\") + c.title;
    if (testMode)
        c.settingsRoot += QStringLiteral("Test");
    c.servicesKey = c.settingsRoot + QStringLiteral("\\Services");
    c.programFolder = programFolder.endsWith(QLatin1Char('/')) ? programFolder : programFolder + QLatin1Char('/');
    c.errorLogPath = c.programFolder + QStringLiteral("error.log");
    c.debugFolder = c.programFolder + QStringLiteral("debug");
    c.helpFile = c.programFolder + c.title + QStringLiteral(".html");
    c.versionText = buildVersion();
    const QStringList parts = c.versionText.split(QLatin1Char('.'));
    c.caption = c.title + QStringLiteral(" v") + parts.mid(0, 3).join(QLatin1Char('.'));
    return c;
}

void ProgramContext::prepareProgramFolder() const
{
    QDir().mkpath(programFolder);
    const QFileInfo errorLog(errorLogPath);
    if (errorLog.exists() && errorLog.size() > MaxErrorLogSize)
        QFile::remove(errorLogPath);
    if (!QFileInfo::exists(debugFolder))
        QDir().mkpath(debugFolder);
    writeDefaultSounds(programFolder);
}
