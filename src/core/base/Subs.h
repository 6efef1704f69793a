#pragma once

#include <QChar>
#include <QString>
#include <QStringList>
#include <QtGlobal>

// Small string and file helpers shared by the whole program. They hold no
// state. Positions are 1-based character positions; 0 means "not found".

// Pieces of a text cut at a separator; pieces[0] is piece number 1.
struct SplitPieces {
    QStringList pieces;
    int count = 0; // -1 when the separator was empty
};

// Position of the first occurrence of search that begins at or after start.
// 0 for an empty text or a start outside the text; start itself for an empty
// search.
int PosFrom(int start, const QString &text, const QString &search);

// Replaces every occurrence left to right; inserted text is never rescanned.
// An empty search leaves the text as it is.
QString ReplaceAll(const QString &text, const QString &search, const QString &replacement);

// Cuts at every separator. Adjacent separators give empty pieces and a text
// without separator (the empty text too) is one piece.
SplitPieces SplitBySeparator(const QString &text, const QString &separator);

// Non-overlapping occurrences counted from the left; 0 for an empty search.
int CountOccurrences(const QString &text, const QString &search);

// Position of the last occurrence of the separator, 0 if none.
int LastSeparatorPos(const QString &text, const QString &separator);

// Exactly four dot-separated plain decimals of 1 to 3 digits, each 0..255.
// Signs, blanks and other lenient forms are refused.
bool IsDottedIPv4(const QString &text);

// The last count characters, or the whole text when it is shorter.
QString RightChars(const QString &text, int count);

// Tabs become blanks, then every run of blanks becomes one blank.
QString NormalizeBlanks(const QString &text);

// For settings key paths, which use backslashes on every system.
QString IncludeTrailingBackslash(const QString &path);
// For file system paths: appends "/" unless present; empty stays empty.
QString IncludeTrailingPathDelimiter(const QString &path);

// Appends to list (without clearing it): the text gathered before each
// separator, empty pieces included, then the rest if it is not empty.
void SplitToList(const QString &text, QChar separator, QStringList &list);

QString PadLeftBlanks(const QString &text, int length);
// Cuts a longer text to length, otherwise fills it up with character.
QString PadRightChar(const QString &text, QChar character, int length);

// "m:ss", e.g. 125 -> "2:05". A negative duration gets a leading "-" in front
// of the magnitude (-125 -> "-2:05") rather than a minus on both parts.
QString MinutesSeconds(qint64 seconds);

// The path without the extension of its file name; a dot in a folder name or
// a path ending in "/" has no extension.
QString StripExtension(const QString &filePath);

// Size in bytes of a regular file, 0 when it does not exist.
qint64 FileSizeOf(const QString &filePath);

// Appends line + CRLF as UTF-8 in a single write, creating the file when
// missing. Any failure is swallowed: logging must never stop the caller.
void AppendLine(const QString &filePath, const QString &line);

// Appends the bytes in a single write, creating the file when missing. A
// process killed in the middle of a write can leave the file ending in part
// of a line (the system may stop a write between two pages); a record
// appended to such a file starts on a line of its own, so the cut line never
// glues onto it. Writers take turns through an advisory lock, so none of
// them takes another's record in progress for a cut one. False when the
// file cannot be opened or written.
bool AppendRecord(const QString &filePath, const QByteArray &bytes);

// Creates or replaces the file with line + CRLF. Throws FileError.
void WriteNewTextFile(const QString &filePath, const QString &line);

// Clears list, then adds the names of the folder's subfolders sorted by name.
void ListSubfolders(const QString &folder, QStringList &list);

// Removes the folder with everything in it; false when it did not exist or
// could not be removed completely.
bool DeleteFolderTree(const QString &folder);

// Copies folder with its contents to destinationFolder/<folder's name>,
// merging with what is there and replacing files. The destination is created
// when missing. Refuses to copy a folder into itself.
bool CopyFolderInto(const QString &folder, const QString &destinationFolder);
