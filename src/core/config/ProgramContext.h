#pragma once

#include <QString>
#include <QStringList>

// What start-up fixes for the whole run: mode, settings root, program folder
// and the names derived from them, the version and the window caption.
struct ProgramContext {
    bool testMode = false;
    QString title;          // "Quellmark"
    QString settingsRoot;   // Software\Kestrin Software\Quellmark[Test]
    QString servicesKey;    // settingsRoot + "\Services"
    QString programFolder;  // ends in "/"
    QString errorLogPath;   // programFolder + "error.log"
    QString debugFolder;    // programFolder + "debug"
    QString helpFile;       // programFolder + "Quellmark.html"
    QString versionText;    // four dotted numbers
    QString caption;        // "Quellmark v" + first three numbers

    static QString applicationTitle();
    // The fixed version of this build, e.g. "1.0.0.1".
    static QString buildVersion();
    // True when the first argument after the program name is "test" in any case.
    static bool isTestMode(const QStringList &arguments);
    // The maker's web site, scheme and host without a trailing "/"; the update
    // check finds the version list and the what's-new page there.
    static QString makerSite();
    static ProgramContext create(bool testMode, const QString &programFolder);

    // Largest error log kept at start; a larger one is deleted.
    static constexpr qint64 MaxErrorLogSize = 100000;

    // Start-up work on the program folder: create it, delete an error log
    // above the size limit, create "debug", write the default sounds when
    // they are missing. Failures here never stop the program.
    void prepareProgramFolder() const;
};
