#pragma once

#include <QString>

#include <functional>

class QWidget;

// The program's message boxes in one place, so that tests can answer them.
class Dialogs {
public:
    enum class Kind { Error, Warning, Information, Question };
    // Returns true for Yes/OK. A test installs a responder to see the text
    // and answer without a window.
    using Responder = std::function<bool(Kind kind, const QString &text)>;
    // Answers input boxes in tests: sees the title, the prompt and the text
    // shown, sets what is typed and returns false for Cancel.
    using TextResponder =
        std::function<bool(const QString &title, const QString &label, QString &value)>;

    static void error(QWidget *parent, const QString &text);
    static void information(QWidget *parent, const QString &text);
    // An error box that does not wait for the user: the caller goes on.
    static void errorLater(QWidget *parent, const QString &text);
    // Warning box with Yes and Cancel; true for Yes.
    static bool confirmWarning(QWidget *parent, const QString &text);

    // Input box with OK and Cancel. value holds the text shown at first and,
    // after OK, the text typed; false for Cancel (value is then unchanged).
    static bool getText(QWidget *parent, const QString &title, const QString &label,
                        QString &value);

    // Question boxes with a title of their own. Without a titled responder a
    // test's plain responder answers them as Kind::Question.
    using TitledResponder =
        std::function<bool(Kind kind, const QString &title, const QString &text)>;
    // Yes and No; true for Yes.
    static bool askYesNo(QWidget *parent, const QString &title, const QString &text);
    // OK and Cancel, Cancel being the default; true for OK.
    static bool askOkCancel(QWidget *parent, const QString &title, const QString &text);

    // Runs an action of a page or window and shows a store, launch or
    // autostart failure of it in an error box over `parent`; false when it
    // failed.
    static bool guarded(QWidget *parent, const std::function<void()> &action);

    static void setResponder(Responder responder);
    static void setTitledResponder(TitledResponder responder);
    static void setTextResponder(TextResponder responder);

private:
    static bool ask(QWidget *parent, Kind kind, const QString &text);
};
