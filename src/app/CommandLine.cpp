#include "CommandLine.h"

#include "config/ProgramContext.h"

#include <QCommandLineParser>

namespace {
// Options QGuiApplication and QApplication read themselves; a program
// started with them must not be turned away.
const char *const QtValueOptions[] = {"platform", "platformpluginpath", "platformtheme", "plugin",
                                      "qwindowgeometry", "qwindowicon", "qwindowtitle", "session",
                                      "style", "stylesheet", "display", "geometry", "qmljsdebugger"};
const char *const QtFlagOptions[] = {"reverse", "widgetcount", "nograb", "dograb", "sync"};
} // namespace

bool CommandLine::hasOptions(int argc, char *argv[])
{
    for (int i = 1; i < argc; ++i) {
        if (argv[i][0] == '-')
            return true;
    }
    return false;
}

CommandLine CommandLine::parse(const QStringList &arguments)
{
    CommandLine result;
    result.testMode = ProgramContext::isTestMode(arguments);

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Site connectivity monitor: checks on a timer that web, FTP, SMTP and POP3 "
                       "services answer, and alerts you when they do not."));
    // "-platform" and its kind are single-dash long options.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help and exit."));
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Show the version and exit."));
    parser.addOption(help);
    parser.addOption(version);
    for (const char *name : QtValueOptions) {
        QCommandLineOption option(QString::fromLatin1(name), QString(), QStringLiteral("value"));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
    for (const char *name : QtFlagOptions) {
        QCommandLineOption option(QString::fromLatin1(name));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
    parser.addPositionalArgument(
        QStringLiteral("test"),
        QStringLiteral("Use the separate test configuration (its own settings and its own "
                       "running instance)."),
        QStringLiteral("[test]"));

    const QString name = ProgramContext::applicationTitle();
    if (!parser.parse(arguments)) {
        result.action = Action::Error;
        result.text = QStringLiteral("quellmark: %1\nTry 'quellmark --help' for more information.\n")
                          .arg(parser.errorText());
        return result;
    }
    if (parser.isSet(help)) {
        result.action = Action::Help;
        // Qt's first line names the program by the path it was started with.
        const QString options = parser.helpText();
        result.text = QStringLiteral("Usage: quellmark [options] [test]") + options.mid(options.indexOf(QLatin1Char('\n'))) +
                      QStringLiteral("\nA second start in the same mode brings the running "
                                     "program's window to the front.\n"
                                     "See quellmark(1) for the exit status and the files it keeps.\n");
    } else if (parser.isSet(version)) {
        result.action = Action::Version;
        result.text = name + QLatin1Char(' ') + ProgramContext::buildVersion() + QLatin1Char('\n');
    }
    return result;
}
