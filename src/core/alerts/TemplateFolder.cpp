#include "alerts/TemplateFolder.h"
#include "platform/UniqueFile.h"

#include "alerts/MessageTemplate.h"
#include "base/FileError.h"
#include "base/Subs.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr char16_t EscapeBase = 0xDC00;
// Longest file name most Linux file systems take, in bytes.
constexpr qsizetype MaxFileNameBytes = 255;
const QString Extension = QStringLiteral(".txt");

// Characters a plain-text editor turns into block breaks; kept as bytes so a
// line holding one stays one line.
bool breaksEditorLine(char32_t cp)
{
    return cp == 0x2029 || cp == 0xFDD0 || cp == 0xFDD1;
}

// Length of the well-formed UTF-8 sequence at p, with its code point; 0 when
// the bytes there are not one.
int utf8Sequence(const uchar *p, qsizetype left, char32_t &cp)
{
    const uchar lead = p[0];
    if (lead < 0x80) {
        cp = lead;
        return 1;
    }
    int length;
    uchar low = 0x80;
    uchar high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        cp = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        cp = lead & 0x0F;
        if (lead == 0xE0)
            low = 0xA0; // overlong
        if (lead == 0xED)
            high = 0x9F; // surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        cp = lead & 0x07;
        if (lead == 0xF0)
            low = 0x90; // overlong
        if (lead == 0xF4)
            high = 0x8F; // above U+10FFFF
    } else {
        return 0;
    }
    if (left < length)
        return 0;
    for (int k = 1; k < length; ++k) {
        const uchar b = p[k];
        if (k == 1 ? (b < low || b > high) : (b & 0xC0) != 0x80)
            return 0;
        cp = (cp << 6) | (b & 0x3F);
    }
    return length;
}

void appendUtf8(QByteArray &bytes, char32_t cp)
{
    if (cp < 0x80) {
        bytes += char(cp);
    } else if (cp < 0x800) {
        bytes += char(0xC0 | (cp >> 6));
        bytes += char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        bytes += char(0xE0 | (cp >> 12));
        bytes += char(0x80 | ((cp >> 6) & 0x3F));
        bytes += char(0x80 | (cp & 0x3F));
    } else {
        bytes += char(0xF0 | (cp >> 18));
        bytes += char(0x80 | ((cp >> 12) & 0x3F));
        bytes += char(0x80 | ((cp >> 6) & 0x3F));
        bytes += char(0x80 | (cp & 0x3F));
    }
}

// Blanks and control characters off both ends.
QString trimmedField(const QString &text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text.at(begin).unicode() <= 0x20)
        ++begin;
    while (end > begin && text.at(end - 1).unicode() <= 0x20)
        --end;
    return text.mid(begin, end - begin);
}

// The text after its first count characters (a surrogate pair is one).
QString afterChars(const QString &text, int count)
{
    qsizetype i = 0;
    for (int n = 0; n < count && i < text.size(); ++n) {
        if (text.at(i).isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate())
            i += 2;
        else
            ++i;
    }
    return text.mid(i);
}

QByteArray headerValue(const QString &field)
{
    QString line = field;
    for (QChar &c : line) {
        if (c == QLatin1Char('\r') || c == QLatin1Char('\n'))
            c = QLatin1Char(' ');
    }
    return EncodeTemplateText(trimmedField(line));
}

[[noreturn]] void throwIoError(int code)
{
    switch (code) {
    case EACCES:
    case EPERM:
    case EROFS:
    case ETXTBSY:
        throw FileError(QStringLiteral("File access denied"));
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
        throw FileError(QStringLiteral("Disk full"));
    case ENAMETOOLONG:
    case ENOENT:
    case ENOTDIR:
    case EISDIR:
    case EINVAL:
    case EILSEQ:
    case ELOOP:
        throw FileError(QStringLiteral("Invalid filename"));
    default:
        throw FileError(QStringLiteral("I/O error %1").arg(code));
    }
}

// Writes everything; false with errno set on failure.
bool writeAll(int fd, const QByteArray &bytes)
{
    const char *p = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, p, size_t(left));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        p += written;
        left -= written;
    }
    return true;
}

// Puts a complete new copy at target: written beside it, then renamed over
// it, so a crash at any moment leaves the old file or the new one, never
// part of it (nor a cut new file). An existing file's permissions (mode) are
// kept; a new file gets the usual ones. False (nothing changed) when the
// folder takes no new file.
bool replaceAtomically(const QByteArray &target, const QByteArray &folder,
                       std::optional<mode_t> mode, const QByteArray &bytes)
{
    QByteArray temporary;
    // A new file is created like any other, so the user's umask applies.
    const int fd = CreateUniqueFile(folder, "template", mode ? 0600 : 0666, temporary);
    if (fd < 0) {
        // Only a folder that refuses new files sends the caller to the
        // in-place write; a full disk must not cost the old template.
        if (errno == EACCES || errno == EPERM)
            return false;
        throwIoError(errno);
    }
    // The descriptor holds the temporary file's lock: it is closed only once
    // the temporary name is gone, so a sweep never takes a file being saved.
    const auto fail = [&](int code) {
        ::unlink(temporary.constData());
        ::close(fd);
        throwIoError(code);
    };
    if ((mode && ::fchmod(fd, *mode & 07777) != 0) || !writeAll(fd, bytes) || ::fsync(fd) != 0)
        fail(errno);
    if (::rename(temporary.constData(), target.constData()) != 0)
        fail(errno);
    // The data is on disk already (fsync); what close could still report
    // changes nothing now.
    ::close(fd);
    return true;
}

} // namespace

// ------------------------------------------------------------ TemplateFolder

TemplateFolder::TemplateFolder(const QString &folder) : m_folder(folder) {}

QString TemplateFolder::folderIn(const QString &programFolder)
{
    return IncludeTrailingPathDelimiter(programFolder) + QStringLiteral("email");
}

QStringList TemplateFolder::defaultNames()
{
    return {QStringLiteral("OnError_Default"), QStringLiteral("OffError_Default")};
}

void TemplateFolder::sortNames(QStringList &names)
{
    std::sort(names.begin(), names.end(), [](const QString &a, const QString &b) {
        const int folded = QString::compare(a, b, Qt::CaseInsensitive);
        return folded != 0 ? folded < 0 : QString::compare(a, b, Qt::CaseSensitive) < 0;
    });
}

QString TemplateFolder::newNameProblem(const QString &name, const QStringList &existing)
{
    if (name.isEmpty())
        return QStringLiteral("Please enter a name.");
    if (name == QLatin1String(".") || name == QLatin1String(".."))
        return QStringLiteral(
            "\".\" and \"..\" cannot be used as a message name. Please enter another name.");
    static const QString Forbidden = QStringLiteral("/\\:*?\"<>|");
    const bool badCharacter = std::any_of(name.cbegin(), name.cend(), [](QChar c) {
        return Forbidden.contains(c) || c.category() == QChar::Other_Control;
    });
    if (badCharacter || !QStringView(name).isValidUtf16())
        return QStringLiteral("A message name cannot contain / \\ : * ? \" < > | or control "
                              "characters. Please enter another name.");
    if (QFile::encodeName(name + Extension).size() > MaxFileNameBytes)
        return QStringLiteral("The name is too long. Please enter a shorter one.");
    if (existing.contains(name, Qt::CaseInsensitive))
        return QStringLiteral("The name already exists. Please select a new one.");
    return QString();
}

bool TemplateFolder::create() const
{
    if (m_folder.isEmpty())
        return false;
    QDir().mkpath(m_folder);
    return QFileInfo(m_folder).isDir();
}

QStringList TemplateFolder::names() const
{
    if (m_folder.isEmpty())
        return {};
    // Case-sensitive, so that every listed name leads back to its own file.
    const QStringList files =
        QDir(m_folder).entryList({QStringLiteral("*") + Extension},
                                 QDir::Files | QDir::Hidden | QDir::CaseSensitive, QDir::NoSort);
    QStringList result;
    for (const QString &file : files) {
        const QString name = file.chopped(Extension.size());
        if (!name.isEmpty())
            result.append(name);
    }
    sortNames(result);
    return result;
}

QStringList TemplateFolder::namesOrDefaults() const
{
    QStringList result = names();
    if (result.isEmpty()) {
        result = defaultNames();
        sortNames(result);
    }
    return result;
}

QString TemplateFolder::pathOf(const QString &name) const
{
    if (m_folder.isEmpty() || name.isEmpty())
        return QString();
    return IncludeTrailingPathDelimiter(m_folder) + name + Extension;
}

// ------------------------------------------------------------ text and files

QString DecodeTemplateText(const QByteArray &bytes)
{
    QString text;
    text.reserve(bytes.size());
    const auto *p = reinterpret_cast<const uchar *>(bytes.constData());
    const qsizetype size = bytes.size();
    qsizetype i = 0;
    while (i < size) {
        char32_t cp = 0;
        const int length = utf8Sequence(p + i, size - i, cp);
        if (length == 0) {
            text += QChar(char16_t(EscapeBase + p[i]));
            ++i;
        } else if (breaksEditorLine(cp)) {
            for (int k = 0; k < length; ++k)
                text += QChar(char16_t(EscapeBase + p[i + k]));
            i += length;
        } else {
            text += QString::fromUcs4(&cp, 1);
            i += length;
        }
    }
    return text;
}

QByteArray EncodeTemplateText(const QString &text)
{
    QByteArray bytes;
    bytes.reserve(text.size());
    const qsizetype size = text.size();
    for (qsizetype i = 0; i < size; ++i) {
        const char16_t u = text.at(i).unicode();
        char32_t cp = u;
        if (QChar::isHighSurrogate(u) && i + 1 < size && text.at(i + 1).isLowSurrogate()) {
            cp = QChar::surrogateToUcs4(u, text.at(i + 1).unicode());
            ++i;
        } else if (u >= EscapeBase + 0x80 && u <= EscapeBase + 0xFF) {
            bytes += char(u - EscapeBase);
            continue;
        } else if (QChar::isSurrogate(u)) {
            cp = QChar::ReplacementCharacter;
        }
        appendUtf8(bytes, cp);
    }
    return bytes;
}

TemplateFields TemplateFieldsFromLines(const QList<QByteArray> &lines)
{
    const auto header = [&lines](qsizetype index, int skip) {
        return index < lines.size()
                   ? trimmedField(afterChars(DecodeTemplateText(lines.at(index)), skip))
                   : QString();
    };
    TemplateFields fields;
    fields.to = header(0, 3);
    fields.from = header(1, 5);
    fields.subject = header(2, 8);
    qsizetype blank = 1;
    while (blank < lines.size() && !lines.at(blank).isEmpty())
        ++blank;
    for (qsizetype i = blank + 1; i < lines.size(); ++i) {
        fields.body += DecodeTemplateText(lines.at(i));
        fields.body += QLatin1Char('\n');
    }
    return fields;
}

QByteArray TemplateFileBytes(const TemplateFields &fields)
{
    QByteArray text = "To: " + headerValue(fields.to) + "\r\nFrom: " + headerValue(fields.from) +
                      "\r\nSubject: " + headerValue(fields.subject) + "\r\n\r\n";
    const QString &body = fields.body;
    qsizetype start = 0;
    for (qsizetype i = 0; i < body.size(); ++i) {
        const QChar c = body.at(i);
        if (c != QLatin1Char('\r') && c != QLatin1Char('\n'))
            continue;
        text += EncodeTemplateText(body.mid(start, i - start));
        text += "\r\n";
        if (c == QLatin1Char('\r') && i + 1 < body.size() && body.at(i + 1) == QLatin1Char('\n'))
            ++i;
        start = i + 1;
    }
    text += EncodeTemplateText(body.mid(start));
    // The body's own final line break is the file's last one.
    if (text.endsWith("\r\n"))
        text.chop(2);
    return text + "\r\n";
}

TemplateFields ReadTemplateFields(const QString &filePath)
{
    return TemplateFieldsFromLines(LoadTemplateLines(filePath));
}

void WriteTemplateFields(const QString &filePath, const TemplateFields &fields)
{
    const QByteArray bytes = TemplateFileBytes(fields);
    if (bytes.size() > MaxTemplateSize)
        throw FileError(QStringLiteral("The message is larger than %1 bytes and cannot be saved.")
                            .arg(MaxTemplateSize));
    WriteTemplateFile(filePath, bytes);
}

void WriteTemplateFile(const QString &filePath, const QByteArray &bytes)
{
    if (filePath.isEmpty())
        throwIoError(ENOENT);
    const QByteArray target = QFile::encodeName(filePath);
    struct stat status {};
    const bool existed = ::lstat(target.constData(), &status) == 0;
    if (existed && S_ISREG(status.st_mode)) {
        if (::access(target.constData(), W_OK) != 0)
            throwIoError(errno);
        const QByteArray folder = QFile::encodeName(QFileInfo(filePath).absolutePath());
        if (replaceAtomically(target, folder, status.st_mode, bytes))
            return;
        // The folder takes no new file: write in place below.
    } else if (!existed) {
        const QByteArray folder = QFile::encodeName(QFileInfo(filePath).absolutePath());
        if (replaceAtomically(target, folder, std::nullopt, bytes))
            return;
    }
    // Links (written through, the link stays) and the fallback.
    const int fd = ::open(target.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0)
        throwIoError(errno);
    if (!writeAll(fd, bytes)) {
        const int code = errno;
        ::close(fd);
        // A file we created ourselves is not left behind half written.
        if (!existed)
            ::unlink(target.constData());
        throwIoError(code);
    }
    if (::close(fd) != 0)
        throwIoError(errno);
}
