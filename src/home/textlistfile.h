#pragma once

#include <QString>
#include <QStringList>

#include <functional>

namespace casalux {

// The plain list files of the program folder (rmlst.rvf, evelst.rvf,
// macs.hlk): Latin-1 text, one record per line, CR LF line ends.
//
// A list is changed by appending a line, or by writing the lines to keep to
// a named temporary file, flushing it to disk and renaming it over the list
// in one step. A crash at any point leaves either the old list or the new
// one, whole; never a missing or half-written list.
class TextListFile final {
public:
    // The lines of the file, without line ends; empty lines are kept so that
    // a rewrite copies the file faithfully. A missing file reads as empty.
    static QStringList readLines(const QString& path);

    // Appends one line (creating the file if absent). A previous line left
    // without its line end is closed first, so the new record stands alone.
    static bool append(const QString& path, const QString& line, QString* error = nullptr);

    // Writes `lines` to `tempPath`, syncs it and renames it over `path`.
    // On failure the list file is untouched and the temporary file removed.
    static bool replace(const QString& path, const QString& tempPath, const QStringList& lines,
                        QString* error = nullptr);

    // One list of a change that spans several.
    struct Replacement {
        QString path;
        QString tempPath;
        QStringList lines;
    };
    // Replaces several lists as one change: every new list is written to
    // its temporary file before any is renamed into place, and the lists
    // already replaced are put back when a later one cannot be, so a
    // failure leaves all of them as they were.
    static bool replaceAll(const QList<Replacement>& lists, QString* error = nullptr);

    // True when every character of `text` can be stored in the file's
    // single-byte character set.
    static bool isStorable(const QString& text);

    // The one step that puts the new list in place; tests swap it to
    // simulate a failing rename.
    using RenameFunction = std::function<bool(const QString& from, const QString& to)>;
    static void setRenameForTesting(RenameFunction rename);
};

} // namespace casalux
