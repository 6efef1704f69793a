#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

// Gives a test its own XDG config, data and runtime folders for as long as
// the object lives, so nothing touches the real user's store or files.
class TestSandbox {
public:
    TestSandbox();
    ~TestSandbox();
    TestSandbox(const TestSandbox &) = delete;
    TestSandbox &operator=(const TestSandbox &) = delete;

    QString root() const { return m_dir.path(); }
    QString configHome() const { return m_dir.path() + QStringLiteral("/config"); }
    QString dataHome() const { return m_dir.path() + QStringLiteral("/data"); }
    QString runtimeDir() const { return m_dir.path() + QStringLiteral("/run"); }
    // The program folder the application uses inside this sandbox.
    QString programFolder() const { return dataHome() + QStringLiteral("/quellmark/"); }
    QString storePath() const { return configHome() + QStringLiteral("/quellmark/registry.sqlite"); }

private:
    QTemporaryDir m_dir;
    QByteArray m_oldConfig, m_oldData, m_oldRuntime;
};
