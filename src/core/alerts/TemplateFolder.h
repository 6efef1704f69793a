#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// The message composer's work that needs no window: the folder of message
// templates, the names in it, and reading and writing one template as the
// four fields the composer edits.

// A template as the composer shows it.
struct TemplateFields {
    QString to;
    QString from;
    QString subject;
    // The body lines, each followed by "\n"; so the editor keeps an empty
    // last line and a file written by the composer reads back unchanged.
    QString body;

    bool operator==(const TemplateFields &) const = default;
};

// The folder "email" of the program folder; a message name "X" is the file
// "X.txt" in it.
class TemplateFolder {
public:
    explicit TemplateFolder(const QString &folder = QString());

    // The template folder of a program folder.
    static QString folderIn(const QString &programFolder);
    // Offered when the folder holds no template yet; no files exist for them.
    static QStringList defaultNames();
    // Case-insensitive order, ties broken by case so the order is fixed.
    static void sortNames(QStringList &names);
    // Empty when name can be added to a list holding existing; otherwise the
    // prompt that asks for another name. Names are compared without case.
    static QString newNameProblem(const QString &name, const QStringList &existing);

    QString folder() const { return m_folder; }
    // Creates the folder with any missing parents; false when it is missing
    // afterwards.
    bool create() const;
    // The names of the "*.txt" files (hidden ones too) without ".txt", sorted.
    QStringList names() const;
    // names(), or the default names when there are none.
    QStringList namesOrDefaults() const;
    // folder + "/" + name + ".txt"; empty for an empty name or folder.
    QString pathOf(const QString &name) const;

private:
    QString m_folder;
};

// Template bytes as text and back, without loss: valid UTF-8 becomes the
// characters it encodes; every other byte (and the few characters a text
// editor would turn into line breaks) is carried as one character of the
// range U+DC80..U+DCFF, which turns back into the same byte.
QString DecodeTemplateText(const QByteArray &bytes);
QByteArray EncodeTemplateText(const QString &text);

// The fields of a template's lines. To, From and Subject are lines 1 to 3
// with their first 3, 5 and 8 characters skipped whatever they are, and
// blanks and control characters removed at both ends; a missing line gives
// an empty field. The body is everything after the first empty line that
// follows line 1; without such a line it is empty.
TemplateFields TemplateFieldsFromLines(const QList<QByteArray> &lines);
// The file bytes for the fields: the three header lines, an empty line and
// the body, CR LF throughout, ending in exactly one line break. A header
// field is one line: line breaks in it become blanks and it is trimmed like
// on reading, so what is written reads back as written.
QByteArray TemplateFileBytes(const TemplateFields &fields);

// Reads a template file (at most MaxTemplateSize bytes). Throws FileError.
TemplateFields ReadTemplateFields(const QString &filePath);
// Writes the template file for the fields. A text above MaxTemplateSize is
// refused, since it could not be read back. Throws FileError.
void WriteTemplateFields(const QString &filePath, const TemplateFields &fields);
// Creates or replaces the file with bytes. The file appears or is replaced
// only once the new content is completely on disk, so neither a full disk
// nor a crash can leave it cut short; an existing file keeps its
// permissions. Throws FileError "File access
// denied", "Invalid filename", "Disk full" or "I/O error <errno>".
void WriteTemplateFile(const QString &filePath, const QByteArray &bytes);
