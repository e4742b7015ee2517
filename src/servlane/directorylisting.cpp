#include "directorylisting.h"

#include "filelookup.h"
#include "percentcodec.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QLocale>
#include <QStringList>

namespace servlane {

QString DirectoryListing::sizeText(qint64 bytes)
{
    const qint64 k = bytes / 1024;
    const double kb = double(bytes) / 1024.0;
    const double mb = double(bytes) / 1048576.0;
    if (bytes < 1024) {
        QLocale grouped = QLocale::c(); // "#,##0": the C locale omits groups by default
        grouped.setNumberOptions({});
        return grouped.toString(bytes) + QStringLiteral(" bytes");
    }
    if (k < 10)
        return QString::number(kb, 'f', 2) + QStringLiteral("KB");
    if (k < 100)
        return QString::number(kb, 'f', 1) + QStringLiteral("KB");
    if (k < 1000)
        return QString::number(kb, 'f', 0) + QStringLiteral("KB");
    if (k < 10000)
        return QString::number(mb, 'f', 2) + QStringLiteral("MB");
    if (k < 100000)
        return QString::number(mb, 'f', 1) + QStringLiteral("MB");
    if (k < 1000000)
        return QString::number(mb, 'f', 0) + QStringLiteral("MB");
    return QString::number(mb / 1024.0, 'f', 2) + QStringLiteral("GB");
}

QString DirectoryListing::dateCell(const QDateTime& lastWrite)
{
    const QDateTime t = lastWrite.toLocalTime();
    return QStringLiteral("       <td align=\"right\">") +
           t.toString(QStringLiteral("yyyy/MM/dd")) + QStringLiteral("&nbsp;&nbsp;&nbsp;") +
           t.toString(QStringLiteral("hh:mm:ss")) + QStringLiteral("&nbsp;</td>");
}

QString DirectoryListing::page(const FileLookup& lookup, const QString& directory,
                               const QString& urlPath, const QString& serverName)
{
    const bool atRoot = directory == lookup.root();
    QStringList out;
    const QString title = serverName + QStringLiteral(" - ") + urlPath;
    out << QStringLiteral("<html>") << QStringLiteral("<head>")
        << QStringLiteral("   <meta http-equiv=\"Content-Type\" content=\"text/html; "
                          "charset=iso-8859-1\">")
        << QStringLiteral("   <title>Directory Listing: ") + title.toHtmlEscaped() +
               QStringLiteral("</title>");
    out << QStringLiteral("   <STYLE TYPE=\"text/css\">")
        << QStringLiteral("      H2 { font-family: Verdana, Arial, Helvetica; color: #003399 }")
        << QStringLiteral("      .TH0 { font-family: Verdana, Arial, Helvetica; font-size: 11pt; "
                          "font-weight: bold; color: #FFFFFF; background-color: #003399 }")
        << QStringLiteral("      .TH1 { font-family: Verdana, Arial, Helvetica; font-size: 9pt; "
                          "font-weight: bold; color: #FFFFFF; background-color: #6699CC }")
        << QStringLiteral("      .TH2 { font-family: Verdana, Arial, Helvetica; font-size: 9pt; "
                          "font-weight: bold; color: #FFFFFF; background-color: #6699CC }")
        << QStringLiteral("      TD { font-family: Verdana, Arial, Helvetica; font-size: 9pt }")
        << QStringLiteral("      TR { font-family: Verdana, Arial, Helvetica; font-size: 9pt }")
        << QStringLiteral("      A { color: #0000FF; text-decoration: none }")
        << QStringLiteral("      A:Hover { color: #FF0000; text-decoration: underline }")
        << QStringLiteral("   </STYLE>");
    out << QStringLiteral("</head>")
        << QStringLiteral("<body bgcolor=\"#FFFFFF\" leftmargin=\"1\" topmargin=\"1\" "
                          "MARGINHEIGHT=\"1\" MARGINWIDTH=\"1\">")
        << QStringLiteral("<table border=\"0\" width=\"100%\" style=\"font-family: Arial; "
                          "font-size: 9pt\">");
    out << QStringLiteral("   <tr>")
        << QStringLiteral("       <td colspan=3 class=th0>&nbsp;") + title.toHtmlEscaped() +
               QStringLiteral("</td>")
        << QStringLiteral("   </tr>");
    out << QStringLiteral("   <tr>") << QStringLiteral("       <td class=th1>&nbsp;Name</td>")
        << QStringLiteral("       <td align=right width = 25% class=th2>&nbsp;File Size "
                          "(KB)&nbsp;</td>")
        << QStringLiteral("       <td align=right width = 25% class=th2>&nbsp;Date&nbsp;</td>")
        << QStringLiteral("   </tr>");

    // Links are joined to the path without its trailing "/": at the root a
    // doubled slash would make the browser read the name as a host.
    QString base = urlPath;
    while (base.endsWith(QLatin1Char('/')))
        base.chop(1);
    if (!atRoot) {
        QString parent = base.left(base.lastIndexOf(QLatin1Char('/')));
        if (parent.isEmpty())
            parent = QStringLiteral("/");
        out << QStringLiteral("   <tr><td><a href = ") + parent +
                   QStringLiteral(">[Parent Directory]</a></td><td></td><td></td></tr>");
    }

    // Folders first, then files; each in the order the folder gives them.
    QFileInfoList folders;
    QFileInfoList files;
    bool cut = false;
    QDirIterator it(directory,
                    QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    while (it.hasNext()) {
        it.next();
        const QFileInfo e = it.fileInfo();
        if (FileLookup::isPrivateName(e.fileName()))
            continue;
        if (e.isSymLink() && !lookup.reaches(e.canonicalFilePath()))
            continue; // leads outside the root, to a private name, or nowhere
        if (!e.isDir() && !FileLookup::isRegularFile(e.filePath()))
            continue; // a FIFO, socket or device is never served
        if (folders.size() + files.size() == kMaxEntries) {
            cut = true;
            break;
        }
        (e.isDir() ? folders : files).append(e);
    }
    for (const QFileInfo& e : std::as_const(folders)) {
        out << QStringLiteral("   <tr>")
            << QStringLiteral("       <td>&nbsp;<a href = ") + base + QLatin1Char('/') +
                   PercentCodec::encodeName(e.fileName()) + QLatin1Char('>') +
                   e.fileName().toHtmlEscaped() + QStringLiteral("</a></td>")
            << QStringLiteral("       <td align=\"right\">&lt;dir&gt;&nbsp;</td>")
            << dateCell(e.lastModified()) << QStringLiteral("   </tr>");
    }
    for (const QFileInfo& e : std::as_const(files)) {
        // Names are encoded here too: a space or "#" in a bare link would
        // cut the address short.
        out << QStringLiteral("   <tr>")
            << QStringLiteral("       <td>&nbsp;<a href = ") + base + QLatin1Char('/') +
                   PercentCodec::encodeName(e.fileName()) + QLatin1Char('>') +
                   e.fileName().toHtmlEscaped() + QStringLiteral("</a></td>")
            << QStringLiteral("       <td align=\"right\">") + sizeText(e.size()) +
                   QStringLiteral("&nbsp;</td>")
            << dateCell(e.lastModified()) << QStringLiteral("   </tr>");
    }
    if (cut)
        out << QStringLiteral("   <tr><td colspan=3>&nbsp;Listing stopped after %1 entries; this "
                              "folder holds more.</td></tr>")
                   .arg(kMaxEntries);
    out << QStringLiteral("</table>") << QStringLiteral("</html>");
    return out.join(QStringLiteral("\r\n"));
}

} // namespace servlane
