#include "TfrmEmail.h"

#include "Dialogs.h"
#include "FocusOutWatcher.h"
#include "ui_TfrmEmail.h"

#include "alerts/MessageTemplate.h"
#include "base/FileError.h"
#include "platform/AppPaths.h"

#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QFileInfo>
#include <QMenu>
#include <QShowEvent>
#include <QTextBlock>

#include <algorithm>
#include <climits>

TfrmEmail::TfrmEmail(QWidget *parent)
    : TfrmEmail(TemplateFolder::folderIn(AppPaths::programFolder()), parent)
{
}

TfrmEmail::TfrmEmail(const QString &templateFolder, QWidget *parent)
    : QWidget(parent), ui(std::make_unique<Ui::TfrmEmail>())
{
    ui->setupUi(this);
    setWindowFlags(Qt::Tool);
    ui->butAddEmail->setIcon(style()->standardIcon(QStyle::SP_FileDialogNewFolder));
    ui->butDelEmail->setIcon(style()->standardIcon(QStyle::SP_TrashIcon));
    ui->butInsertVariable->setIcon(style()->standardIcon(QStyle::SP_ArrowDown));
    // A header line may be long; the default limit would cut it on saving.
    for (QLineEdit *edit : {ui->edtMsgTo, ui->edtMsgFrom, ui->edtMsgSubject})
        edit->setMaxLength(INT_MAX);

    // The five classic variables sorted, the later ones after them in the
    // order they came.
    constexpr qsizetype ClassicVariables = 5;
    QStringList variables = TemplateVariableNames();
    const QStringList later = variables.mid(ClassicVariables);
    variables.resize(ClassicVariables);
    std::sort(variables.begin(), variables.end());
    ui->lstVariables->addItems(variables + later);
    // All of them in view without scrolling.
    ui->lstVariables->setMinimumHeight(ui->lstVariables->sizeHintForRow(0) *
                                           ui->lstVariables->count() +
                                       2 * ui->lstVariables->frameWidth());

    VariablesPopupMenu = new QMenu(this);
    VariablesPopupMenu->setObjectName(QStringLiteral("VariablesPopupMenu"));
    mnuCopy = VariablesPopupMenu->addAction(QStringLiteral("Copy"));
    mnuCopy->setObjectName(QStringLiteral("mnuCopy"));
    connect(mnuCopy, &QAction::triggered, this, &TfrmEmail::mnuCopyClick);
    connect(ui->lstVariables, &QWidget::customContextMenuRequested, this,
            [this](const QPoint &pos) {
                if (QListWidgetItem *item = ui->lstVariables->itemAt(pos))
                    ui->lstVariables->setCurrentItem(item);
                updateVariableActions();
                VariablesPopupMenu->popup(ui->lstVariables->viewport()->mapToGlobal(pos));
            });
    connect(ui->lstVariables, &QListWidget::itemSelectionChanged, this,
            &TfrmEmail::updateVariableActions);
    connect(ui->lstVariables, &QListWidget::itemDoubleClicked, this,
            [](QListWidgetItem *item) { QApplication::clipboard()->setText(item->text()); });
    connect(ui->butInsertVariable, &QToolButton::clicked, this, &TfrmEmail::butInsertVariableClick);

    connect(ui->cmbMsgs, &QComboBox::currentIndexChanged, this, [this] {
        if (!m_filling)
            cmbMsgsChange();
    });
    connect(ui->butAddEmail, &QToolButton::clicked, this, &TfrmEmail::butAddEmailClick);
    connect(ui->butDelEmail, &QToolButton::clicked, this, &TfrmEmail::butDelEmailClick);
    connect(ui->BitBtn1, &QPushButton::clicked, this, &QWidget::close);

    // The fields outlive this object's members while the window is torn
    // down, and losing the focus then must not reach back in here.
    const auto leave = [this, alive = m_alive] {
        if (*alive)
            fieldExit();
    };
    for (QLineEdit *edit : {ui->edtMsgTo, ui->edtMsgFrom, ui->edtMsgSubject}) {
        FocusOutWatcher::watch(edit, leave);
        connect(edit, &QLineEdit::textEdited, this, [this] { m_edited = true; });
    }
    FocusOutWatcher::watch(ui->memoMsg, leave);
    connect(ui->memoMsg, &QPlainTextEdit::textChanged, this, [this] { m_edited = true; });

    updateVariableActions();
    setTemplateFolder(templateFolder);
}

TfrmEmail::~TfrmEmail()
{
    if (m_edited)
        saveCurrent();
    *m_alive = false;
    // Nor may the signals the child widgets send while they are deleted.
    for (QObject *child : findChildren<QObject *>())
        child->blockSignals(true);
}

void TfrmEmail::setTemplateFolder(const QString &folder)
{
    if (m_edited)
        saveCurrent();
    m_folder = TemplateFolder(folder);
    m_folder.create();
    m_path.clear();
    ListTemplates();
    if (ui->cmbMsgs->count() == 0)
        fillNames(TemplateFolder::defaultNames(), QString());
    setFields(TemplateFields());
    // Nothing is read before the window is shown.
    if (isVisible()) {
        openSelected();
    } else {
        m_path = m_folder.pathOf(ui->cmbMsgs->currentText());
        setEditable(!m_path.isEmpty());
    }
}

QStringList TfrmEmail::names() const
{
    QStringList result;
    for (int i = 0; i < ui->cmbMsgs->count(); ++i)
        result.append(ui->cmbMsgs->itemText(i));
    return result;
}

void TfrmEmail::fillNames(const QStringList &names, const QString &selected)
{
    QStringList sorted = names;
    TemplateFolder::sortNames(sorted);
    m_filling = true;
    ui->cmbMsgs->clear();
    ui->cmbMsgs->addItems(sorted);
    ui->cmbMsgs->setCurrentIndex(sorted.isEmpty() ? -1
                                                  : std::max(0, int(sorted.indexOf(selected))));
    m_filling = false;
    ui->butDelEmail->setEnabled(!sorted.isEmpty());
}

void TfrmEmail::ListTemplates()
{
    fillNames(m_folder.names(), QString());
}

void TfrmEmail::LoadTemplate(const QString &path)
{
    setFields(ReadTemplateFields(path));
}

void TfrmEmail::SaveTemplate(const QString &path)
{
    WriteTemplateFields(path, fields());
    m_edited = false;
}

void TfrmEmail::cmbMsgsChange()
{
    // What was typed for the previous name is kept even when the selection
    // changes without the field being left (the mouse wheel on the list).
    if (m_edited)
        saveCurrent();
    openSelected();
}

void TfrmEmail::openSelected()
{
    m_path =
        ui->cmbMsgs->currentIndex() >= 0 ? m_folder.pathOf(ui->cmbMsgs->currentText()) : QString();
    if (m_path.isEmpty()) {
        setEditable(false);
        setFields(TemplateFields());
        return;
    }
    setEditable(true);
    // A name without a file keeps the fields as they are: a new message
    // starts as a copy of the one shown before it.
    if (!QFileInfo::exists(m_path))
        return;
    try {
        LoadTemplate(m_path);
    } catch (const FileError &error) {
        setEditable(false);
        setFields(TemplateFields());
        reportError(error.message());
    }
}

void TfrmEmail::fieldExit()
{
    saveCurrent();
}

void TfrmEmail::saveCurrent()
{
    if (m_path.isEmpty() || !m_editable)
        return;
    try {
        SaveTemplate(m_path);
    } catch (const FileError &error) {
        reportError(error.message());
    }
}

void TfrmEmail::reportError(const QString &message)
{
    // Saving happens inside focus changes; the box waits until they are done,
    // and the focus moves it causes do not stack up further boxes.
    if (m_errorPending)
        return;
    m_errorPending = true;
    QMetaObject::invokeMethod(
        this,
        [this, message] {
            Dialogs::error(this, message);
            m_errorPending = false;
        },
        Qt::QueuedConnection);
}

TemplateFields TfrmEmail::fields() const
{
    TemplateFields result;
    result.to = ui->edtMsgTo->text();
    result.from = ui->edtMsgFrom->text();
    result.subject = ui->edtMsgSubject->text();
    // Block by block: the document's plain text would turn no-break spaces
    // and line separators into other characters.
    QStringList lines;
    for (QTextBlock block = ui->memoMsg->document()->begin(); block.isValid(); block = block.next())
        lines.append(block.text());
    result.body = lines.join(QLatin1Char('\n'));
    return result;
}

void TfrmEmail::setFields(const TemplateFields &fields)
{
    ui->edtMsgTo->setText(fields.to);
    ui->edtMsgFrom->setText(fields.from);
    ui->edtMsgSubject->setText(fields.subject);
    ui->memoMsg->setPlainText(fields.body);
    m_edited = false;
}

void TfrmEmail::setEditable(bool editable)
{
    // Before the widgets: disabling one moves the focus out of it.
    m_editable = editable;
    for (QWidget *w : std::initializer_list<QWidget *>{ui->edtMsgTo, ui->edtMsgFrom,
                                                       ui->edtMsgSubject, ui->memoMsg})
        w->setEnabled(editable);
    updateVariableActions();
}

QString TfrmEmail::selectedVariable() const
{
    const QList<QListWidgetItem *> selected = ui->lstVariables->selectedItems();
    return selected.isEmpty() ? QString() : selected.first()->text();
}

void TfrmEmail::updateVariableActions()
{
    const bool selected = !selectedVariable().isEmpty();
    ui->butInsertVariable->setEnabled(selected && m_editable);
    mnuCopy->setEnabled(selected);
}

void TfrmEmail::butAddEmailClick()
{
    QApplication::beep();
    QString name;
    QString prompt = QStringLiteral("Enter message name.");
    const QStringList existing = names();
    for (;;) {
        if (!Dialogs::getText(this, QStringLiteral("New message"), prompt, name))
            return;
        prompt = TemplateFolder::newNameProblem(name, existing);
        if (prompt.isEmpty())
            break;
    }
    fillNames(existing + QStringList{name}, name);
    cmbMsgsChange();
}

void TfrmEmail::butDelEmailClick()
{
    const int index = ui->cmbMsgs->currentIndex();
    if (index < 0)
        return;
    QApplication::beep();
    const QString name = ui->cmbMsgs->currentText();
    if (!Dialogs::confirmWarning(this, QStringLiteral("You are about to delete message \"%1\".\n"
                                                      "Are you sure you want to do this?")
                                           .arg(name)))
        return;
    const QString path = m_folder.pathOf(name);
    const QFileInfo file(path);
    if (file.exists() || file.isSymLink()) {
        QFile remover(path);
        if (!remover.remove()) {
            // Dropping the name anyway would bring the message back at the
            // next start, as if deleting had worked.
            Dialogs::error(
                this,
                QStringLiteral("Cannot delete file \"%1\". %2").arg(path, remover.errorString()));
            return;
        }
    }
    // Nothing may be saved to the deleted file any more.
    m_path.clear();
    QStringList rest = names();
    rest.removeAt(index);
    fillNames(rest, QString());
    m_edited = false;
    cmbMsgsChange();
}

void TfrmEmail::butInsertVariableClick()
{
    const QString variable = selectedVariable();
    if (variable.isEmpty() || !m_editable)
        return;
    QTextCursor cursor = ui->memoMsg->textCursor();
    cursor.insertText(variable);
    ui->memoMsg->setTextCursor(cursor);
    ui->memoMsg->setFocus(Qt::OtherFocusReason);
}

void TfrmEmail::mnuCopyClick()
{
    const QString variable = selectedVariable();
    if (!variable.isEmpty())
        QApplication::clipboard()->setText(variable);
}

void TfrmEmail::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (!event->spontaneous())
        openSelected();
}

void TfrmEmail::hideEvent(QHideEvent *event)
{
    // Closing the window while typing is leaving the field.
    if (m_edited)
        saveCurrent();
    QWidget::hideEvent(event);
}
