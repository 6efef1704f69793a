// The message composer through its real widgets: listing, loading and
// saving on leaving a field, adding and removing messages, the variables.

#include "TestSandbox.h"

#include "Dialogs.h"
#include "TfrmEmail.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

#include <memory>

namespace {

struct Prompt {
    QString title;
    QString label;
    QString shown;
};

const QByteArray First = "To: ops@x.test\r\n"
                         "From: Quellmark <alerts@x.test>\r\n"
                         "Subject: {SiteURL} caf\xe9 down\r\n"
                         "\r\n"
                         "Failures: {NumberOfFailures}\r\n"
                         "no\xc2\xa0"
                         "break \xff\xfe\r\n"
                         "\r\n";
const QByteArray Second = "To: b@x.test\r\nFrom: f@x.test\r\nSubject: second\r\n\r\nBody 2\r\n";

} // namespace

class TestComposer : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TestSandbox> m_sandbox;
    std::unique_ptr<TfrmEmail> m_window;
    QString m_folder;
    QList<QPair<Dialogs::Kind, QString>> m_messages;
    bool m_answer = true;
    QList<Prompt> m_prompts;
    QStringList m_typed; // one answer per input box; none left means Cancel

    template <typename T> T *child(const char *name) const
    {
        T *w = m_window->findChild<T *>(QLatin1String(name));
        if (!w)
            qFatal("no widget %s", name);
        return w;
    }
    QComboBox *names() const { return child<QComboBox>("cmbMsgs"); }
    QLineEdit *to() const { return child<QLineEdit>("edtMsgTo"); }
    QLineEdit *from() const { return child<QLineEdit>("edtMsgFrom"); }
    QLineEdit *subject() const { return child<QLineEdit>("edtMsgSubject"); }
    QPlainTextEdit *memo() const { return child<QPlainTextEdit>("memoMsg"); }
    QListWidget *variables() const { return child<QListWidget>("lstVariables"); }
    QToolButton *insertButton() const { return child<QToolButton>("butInsertVariable"); }

    QString pathOf(const QString &name) const { return m_folder + '/' + name + ".txt"; }
    QStringList items() const
    {
        QStringList result;
        for (int i = 0; i < names()->count(); ++i)
            result.append(names()->itemText(i));
        return result;
    }
    void leave(QWidget *w)
    {
        QFocusEvent event(QEvent::FocusOut, Qt::TabFocusReason);
        QApplication::sendEvent(w, &event);
    }
    void writeFile(const QString &path, const QByteArray &bytes)
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(bytes), bytes.size());
    }
    QByteArray readFile(const QString &path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }
    void open()
    {
        m_window = std::make_unique<TfrmEmail>(m_folder);
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    }
    void select(const QString &name)
    {
        const int index = names()->findText(name);
        QVERIFY2(index >= 0, qPrintable(name));
        names()->setCurrentIndex(index);
    }
    QStringList errors() const
    {
        QStringList result;
        for (const auto &message : m_messages) {
            if (message.first == Dialogs::Kind::Error)
                result.append(message.second);
        }
        return result;
    }

private slots:
    void init()
    {
        m_sandbox = std::make_unique<TestSandbox>();
        m_folder = m_sandbox->programFolder() + "email";
        m_messages.clear();
        m_prompts.clear();
        m_typed.clear();
        m_answer = true;
        Dialogs::setResponder([this](Dialogs::Kind kind, const QString &text) {
            m_messages.append({kind, text});
            return m_answer;
        });
        Dialogs::setTextResponder(
            [this](const QString &title, const QString &label, QString &value) {
                m_prompts.append({title, label, value});
                if (m_typed.isEmpty())
                    return false;
                value = m_typed.takeFirst();
                return true;
            });
    }
    void cleanup()
    {
        m_window.reset();
        Dialogs::setResponder({});
        Dialogs::setTextResponder({});
        m_sandbox.reset();
    }

    void emptyFolderOffersDefaults()
    {
        QVERIFY(!QFileInfo::exists(m_folder));
        open();
        QCOMPARE(m_window->windowTitle(), QString("Message Editor"));
        QVERIFY(QFileInfo(m_folder).isDir());
        QCOMPARE(items(), QStringList({"OffError_Default", "OnError_Default"}));
        QCOMPARE(names()->currentText(), QString("OffError_Default"));
        QCOMPARE(QDir(m_folder).entryList(QDir::Files), QStringList());
        QCOMPARE(to()->text(), QString());
        QCOMPARE(memo()->toPlainText(), QString());
        QStringList shown;
        for (int i = 0; i < variables()->count(); ++i)
            shown.append(variables()->item(i)->text());
        QCOMPARE(shown, QStringList({"{FailureTime}", "{NumberOfFailures}", "{RecoveryTime}",
                                     "{SiteURL}", "{TimeNow}", "{Downtime}", "{CertExpiry}"}));
        QVERIFY(!insertButton()->isEnabled());

        leave(subject());
        QCOMPARE(readFile(pathOf("OffError_Default")),
                 QByteArray("To: \r\nFrom: \r\nSubject: \r\n\r\n"));
        QCOMPARE(QDir(m_folder).entryList(QDir::Files), QStringList({"OffError_Default.txt"}));
    }

    void loadEditSaveReload()
    {
        QVERIFY(QDir().mkpath(m_folder));
        writeFile(pathOf("b_second"), Second);
        writeFile(pathOf("A_first"), First);
        m_window = std::make_unique<TfrmEmail>(m_folder);
        // Nothing is read before the window shows.
        QCOMPARE(to()->text(), QString());
        open();
        QCOMPARE(items(), QStringList({"A_first", "b_second"}));
        QCOMPARE(m_window->currentTemplatePath(), pathOf("A_first"));
        QCOMPARE(to()->text(), QString("ops@x.test"));
        QCOMPARE(from()->text(), QString("Quellmark <alerts@x.test>"));
        QVERIFY(subject()->text().startsWith("{SiteURL} caf"));

        // Leaving without a change rewrites the same bytes.
        for (QWidget *field : {static_cast<QWidget *>(to()), static_cast<QWidget *>(from()),
                               static_cast<QWidget *>(subject()), static_cast<QWidget *>(memo())}) {
            leave(field);
            QCOMPARE(readFile(pathOf("A_first")), First);
        }

        subject()->setFocus();
        subject()->selectAll();
        QTest::keyClicks(subject(), "Site {SiteURL} down");
        leave(subject());
        memo()->moveCursor(QTextCursor::End);
        QTest::keyClicks(memo(), "Bye");
        leave(memo());
        QByteArray expected = First;
        expected.replace("{SiteURL} caf\xe9 down", "Site {SiteURL} down");
        expected.append("Bye\r\n");
        QCOMPARE(readFile(pathOf("A_first")), expected);

        select("b_second");
        QCOMPARE(to()->text(), QString("b@x.test"));
        QCOMPARE(memo()->toPlainText(), QString("Body 2\n"));
        select("A_first");
        QCOMPARE(subject()->text(), QString("Site {SiteURL} down"));
        leave(memo());
        QCOMPARE(readFile(pathOf("A_first")), expected);
        QCOMPARE(readFile(pathOf("b_second")), Second);
    }

    // Typed text is not lost when the list changes under a field that
    // still has the focus.
    void switchingKeepsTypedText()
    {
        QVERIFY(QDir().mkpath(m_folder));
        writeFile(pathOf("one"), Second);
        writeFile(pathOf("two"), Second);
        open();
        memo()->setPlainText("changed\n");
        select("two");
        QCOMPARE(
            readFile(pathOf("one")),
            QByteArray("To: b@x.test\r\nFrom: f@x.test\r\nSubject: second\r\n\r\nchanged\r\n"));
        // Only browsing writes nothing.
        writeFile(pathOf("one"), "To: a\r\nFrom: b\r\nSubject: c\r\nDate: x\r\n\r\nbody");
        select("one");
        select("two");
        QCOMPARE(readFile(pathOf("one")),
                 QByteArray("To: a\r\nFrom: b\r\nSubject: c\r\nDate: x\r\n\r\nbody"));
    }

    void addAsksUntilTheNameIsUsable()
    {
        QVERIFY(QDir().mkpath(m_folder));
        writeFile(pathOf("OnError_Web"), Second);
        open();
        m_typed = {"", "bad/name", "..", "ONERROR_WEB", "OffError_Web"};
        child<QToolButton>("butAddEmail")->click();

        QCOMPARE(m_prompts.size(), 5);
        QCOMPARE(m_prompts.at(0).title, QString("New message"));
        QCOMPARE(m_prompts.at(0).label, QString("Enter message name."));
        QCOMPARE(m_prompts.at(1).label, QString("Please enter a name."));
        QVERIFY(m_prompts.at(2).label.startsWith("A message name cannot contain / \\ :"));
        QCOMPARE(m_prompts.at(2).shown, QString("bad/name"));
        QVERIFY(m_prompts.at(3).label.contains("cannot be used as a message name"));
        QCOMPARE(m_prompts.at(4).label,
                 QString("The name already exists. Please select a new one."));
        QCOMPARE(m_prompts.at(4).shown, QString("ONERROR_WEB"));

        QCOMPARE(items(), QStringList({"OffError_Web", "OnError_Web"}));
        QCOMPARE(names()->currentText(), QString("OffError_Web"));
        QCOMPARE(m_window->currentTemplatePath(), pathOf("OffError_Web"));
        // No file yet: the new message starts as a copy of the one shown.
        QVERIFY(!QFileInfo::exists(pathOf("OffError_Web")));
        QCOMPARE(to()->text(), QString("b@x.test"));
        leave(to());
        QCOMPARE(readFile(pathOf("OffError_Web")), Second);
        QVERIFY(!QFileInfo::exists(m_folder + "/bad/name.txt"));

        // Cancel changes nothing.
        m_prompts.clear();
        child<QToolButton>("butAddEmail")->click();
        QCOMPARE(m_prompts.size(), 1);
        QCOMPARE(items(), QStringList({"OffError_Web", "OnError_Web"}));
    }

    void removeAsksFirst()
    {
        QVERIFY(QDir().mkpath(m_folder));
        writeFile(pathOf("a"), First);
        writeFile(pathOf("b"), Second);
        open();
        select("b");

        m_answer = false;
        child<QToolButton>("butDelEmail")->click();
        QCOMPARE(m_messages.size(), 1);
        QCOMPARE(m_messages.at(0).first, Dialogs::Kind::Warning);
        QCOMPARE(
            m_messages.at(0).second,
            QString("You are about to delete message \"b\".\nAre you sure you want to do this?"));
        QCOMPARE(items(), QStringList({"a", "b"}));
        QVERIFY(QFileInfo::exists(pathOf("b")));

        m_answer = true;
        child<QToolButton>("butDelEmail")->click();
        QVERIFY(!QFileInfo::exists(pathOf("b")));
        QCOMPARE(items(), QStringList({"a"}));
        QCOMPARE(names()->currentText(), QString("a"));
        QCOMPARE(to()->text(), QString("ops@x.test"));
        QCOMPARE(readFile(pathOf("a")), First);

        // The last one: nothing left to edit, and leaving writes no file.
        child<QToolButton>("butDelEmail")->click();
        QCOMPARE(items(), QStringList());
        QCOMPARE(m_window->currentTemplatePath(), QString());
        QVERIFY(!memo()->isEnabled());
        QVERIFY(!child<QToolButton>("butDelEmail")->isEnabled());
        leave(memo());
        QCOMPARE(QDir(m_folder).entryList(QDir::Files), QStringList());

        m_typed = {"fresh"};
        child<QToolButton>("butAddEmail")->click();
        QVERIFY(memo()->isEnabled());
        QTest::keyClicks(to(), "x@y.test");
        leave(to());
        QCOMPARE(readFile(pathOf("fresh")),
                 QByteArray("To: x@y.test\r\nFrom: \r\nSubject: \r\n\r\n"));
        QVERIFY(errors().isEmpty());
    }

    void removeWithoutFileOnlyDropsTheName()
    {
        open();
        child<QToolButton>("butDelEmail")->click();
        QCOMPARE(items(), QStringList({"OnError_Default"}));
        QVERIFY(errors().isEmpty());
    }

    void insertVariable_data()
    {
        QTest::addColumn<int>("start");
        QTest::addColumn<int>("end");
        QTest::addColumn<QString>("result");
        QTest::newRow("at the caret") << 4 << 4 << "Down{TimeNow} since\n";
        QTest::newRow("over the selection") << 5 << 10 << "Down {TimeNow}\n";
    }
    void insertVariable()
    {
        QFETCH(int, start);
        QFETCH(int, end);
        QVERIFY(QDir().mkpath(m_folder));
        writeFile(pathOf("m"), "To: \r\nFrom: \r\nSubject: \r\n\r\nDown since\r\n");
        open();
        m_window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_window.get()));

        QTextCursor cursor = memo()->textCursor();
        cursor.setPosition(start);
        cursor.setPosition(end, QTextCursor::KeepAnchor);
        memo()->setTextCursor(cursor);
        variables()->setCurrentRow(4);
        QVERIFY(insertButton()->isEnabled());
        insertButton()->setFocus();
        insertButton()->click();
        QTEST(memo()->toPlainText(), "result");
        QTRY_VERIFY(memo()->hasFocus());
        QCOMPARE(to()->text(), QString());

        variables()->clearSelection();
        QVERIFY(!insertButton()->isEnabled());
    }

    void copyVariable()
    {
        open();
        QAction *copy = m_window->findChild<QAction *>("mnuCopy");
        QVERIFY(copy);
        QCOMPARE(copy->text(), QString("Copy"));
        variables()->setCurrentRow(3);
        copy->trigger();
        QCOMPARE(QApplication::clipboard()->text(), QString("{SiteURL}"));

        const QRect row = variables()->visualItemRect(variables()->item(1));
        // The first click of a double click comes as a click of its own.
        QTest::mouseClick(variables()->viewport(), Qt::LeftButton, {}, row.center());
        QTest::mouseDClick(variables()->viewport(), Qt::LeftButton, {}, row.center());
        QCOMPARE(QApplication::clipboard()->text(), QString("{NumberOfFailures}"));
    }

    // A file the composer cannot read is shown as an error and never
    // overwritten with other contents.
    void unreadableTemplateIsNotOverwritten()
    {
        QVERIFY(QDir().mkpath(m_folder));
        writeFile(pathOf("a"), Second);
        const QByteArray huge = Second + QByteArray(1024 * 1024, 'x');
        writeFile(pathOf("big"), huge);
        open();
        QCOMPARE(to()->text(), QString("b@x.test"));
        select("big");
        QTRY_COMPARE(errors().size(), 1);
        QVERIFY(errors().at(0).startsWith(QString("Cannot open file \"%1\".").arg(pathOf("big"))));
        QVERIFY(!memo()->isEnabled());
        leave(memo());
        QCOMPARE(readFile(pathOf("big")), huge);

        select("a");
        QVERIFY(memo()->isEnabled());
        QCOMPARE(to()->text(), QString("b@x.test"));
    }

    void saveErrorKeepsTheFields()
    {
        QVERIFY(QDir().mkpath(m_folder));
        writeFile(pathOf("a"), Second);
        open();
        QVERIFY(QDir(m_folder).removeRecursively());
        QTest::keyClicks(to(), "more");
        leave(to());
        leave(memo());
        QTRY_COMPARE(errors(), QStringList({"Invalid filename"}));
        QCOMPARE(to()->text(), QString("b@x.testmore"));
    }

    // Closing the window, or ending the program, while typing keeps the text.
    void closingKeepsTypedText_data()
    {
        QTest::addColumn<bool>("destroy");
        QTest::newRow("Close button") << false;
        QTest::newRow("window destroyed") << true;
    }
    void closingKeepsTypedText()
    {
        QFETCH(bool, destroy);
        QVERIFY(QDir().mkpath(m_folder));
        writeFile(pathOf("m"), "To: \r\nFrom: \r\nSubject: \r\n\r\n");
        open();
        m_window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
        memo()->setFocus();
        QTRY_VERIFY(memo()->hasFocus());
        QTest::keyClicks(memo(), "typed");
        if (destroy)
            m_window.reset();
        else
            child<QPushButton>("BitBtn1")->click();
        QCOMPARE(readFile(pathOf("m")), QByteArray("To: \r\nFrom: \r\nSubject: \r\n\r\ntyped\r\n"));
        QCOMPARE(QDir(m_folder).entryList(QDir::Files | QDir::Hidden), QStringList({"m.txt"}));
        if (!destroy)
            QVERIFY(!m_window->isVisible());
    }

    void defaultConstructorUsesTheProgramFolder()
    {
        TfrmEmail window;
        QCOMPARE(window.templateFolder(), m_sandbox->programFolder() + "email");
        QVERIFY(QFileInfo(m_sandbox->programFolder() + "email").isDir());
    }
};

QTEST_MAIN(TestComposer)
#include "tst_composer.moc"
