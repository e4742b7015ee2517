#include "mimetable.h"

#include <QFile>
#include <QMimeDatabase>
namespace servlane {

namespace {

// Order matters: the first entry of an extension wins (bmp, art, mpa, java
// appear more than once).
const char* const kInternal[] = {
    "text,text/plain",
    "txt,text/plain",
    "html,text/html",
    "htm,text/html",
    "csv,text/comma-separated-values",
    "asc,text/plain",
    "asp,text/asp",
    "css,text/css",
    "rt,text/richtext",
    "scp,text/plain",
    "sct,text/scriptlet",
    "stm,text/html",
    "wsc,text/scriptlet",
    "wtx,text/plain",
    "xml,text/xml",
    "xsl,text/xml",
    "jpg,image/jpeg",
    "jpeg,image/jpeg",
    "tif,image/tiff",
    "tiff,image/tiff",
    "cgm,image/cgm",
    "dwg,image/vnd.dwg",
    "dxf,image/vnd.dxf",
    "bmp,image/bmp",
    "bmp,image/bitmap",
    "bmp,image/x-xbitmap",
    "gif,image/gif",
    "dib,image/bmp",
    "png,image/x-png",
    "art,image/x-jg",
    "art,image/art",
    "emf,image/x-emf",
    "wmf,image/x-wmf",
    "mac,image/x-macpaint",
    "cam,image/x-cam",
    "pct,image/pict",
    "pic,image/pict",
    "pcx,image/x-pcx",
    "qti,image/x-quicktime",
    "qtif,image/x-quicktime",
    "rf,image/vnd.rn-realflash",
    "rp,image/vnd.rn-realpix",
    "sun,image/x-sun-raster",
    "tga,image/x-targa",
    "aiff,audio/aiff",
    "aif,audio/aiff",
    "au,audio/basic",
    "wave,audio/wav",
    "wav,audio/wav",
    "mp3,audio/x-mpeg",
    "mp2,audio/x-mpeg",
    "mpa,audio/x-mpeg",
    "mpega,audio/x-mpeg",
    "mid,audio/mid",
    "ra,audio/x-pn-realaudio",
    "ram,audio/x-pn-realaudio",
    "rmi,audio/mid",
    "rpm,audio/x-pn-realaudio-plugin",
    "sd2,audio/x-sd2",
    "snd,audio/basic",
    "wax,audio/x-ms-wax",
    "rmm,audio/x-pn-realaudio",
    "avi,video/avi",
    "mpa,video/mpeg",
    "mpe,video/mpeg",
    "mpeg,video/mpeg",
    "mpg,video/mpeg",
    "mp2v,video/mpeg",
    "mov,video/quicktime",
    "movie,video/x-sgi-movie",
    "qt,video/quicktime",
    "rv,video/vnd.rn-realvideo",
    "vdo,video/vdo",
    "wm,video/x-ms-wm",
    "wma,audio/x-ms-wma",
    "wmv,video/x-ms-wmv",
    "wvx,video/x-ms-wvx",
    "eml,message/rfc822",
    "mht,message/rfc822",
    "mhtml,message/rfc822",
    "vrml,x-world/x-vrml",
    "doc,application/msword",
    "dot,application/msword",
    "xls,application/vnd.ms-excel",
    "xlc,application/vnd.ms-excel",
    "hta,application/hta",
    "mdb,application/msaccess",
    "ppt,application/vnd.ms-powerpoint",
    "pdf,application/pdf",
    "tgz,application/x-compressed",
    "zip,application/x-zip-compressed",
    "gz,application/x-gzip",
    "class,application/java",
    "js,application/x-javascript",
    "ipx,application/x-ipix",
    "cer,application/x-x509-ca-cert",
    "crt,application/x-x509-ca-cert",
    "der,application/x-x509-ca-cert",
    "dll,application/x-msdownload",
    "eps,application/postscript",
    "exe,application/mime",
    "fdf,application/vnd.fdf",
    "fif,application/fractals",
    "hqx,application/mac-binhex40",
    "iii,application/x-iphone",
    "ips,application/x-ipscript",
    "latex,application/x-latex",
    "ls,application/x-javascript",
    "mocha,application/x-javascript",
    "pl,application/x-perl",
    "pot,application/vnd.ms-powerpoint",
    "ppa,application/vnd.ms-powerpoint",
    "pps,application/vnd.ms-powerpoint",
    "ps,application/postscript",
    "rm,application/vnd.rn-realmedia",
    "rmj,application/vnd.rn-realsystem-rmj",
    "rmp,application/vnd.rn-rn_music_package",
    "rmx,application/vnd.rn-realsystem-rmx",
    "rnx,application/vnd.rn-realplayer",
    "rtf,application/rtf",
    "sit,application/x-stuffit",
    "smil,application/smil",
    "ssm,application/streamingmedia",
    "tar,application/x-tar",
    "xpl,application/x-xpinstall",
    "xwz,application/x-wavefront",
    "java,text/x-java-source",
    "java,application/java",
};

QList<QPair<QString, QString>> parseEntries(const QStringList& lines)
{
    QList<QPair<QString, QString>> entries;
    for (const QString& line : lines) {
        const qsizetype comma = line.indexOf(QLatin1Char(','));
        if (comma < 0)
            continue; // a type without an extension can never match
        entries.append({line.left(comma).trimmed(), line.mid(comma + 1).trimmed()});
    }
    return entries;
}

} // namespace

const QList<QPair<QString, QString>>& MimeTable::internalTable()
{
    static const QList<QPair<QString, QString>> table = [] {
        QStringList lines;
        for (const char* entry : kInternal)
            lines.append(QString::fromLatin1(entry));
        return parseEntries(lines);
    }();
    return table;
}

void MimeTable::load(Source source, const QString& file)
{
    m_source = source;
    m_entries.clear();
    if (source == Source::Internal) {
        m_entries = internalTable();
    } else if (source == Source::File && !file.isEmpty()) {
        QFile f(file);
        if (f.open(QIODevice::ReadOnly | QIODevice::Text)) {
            QStringList lines;
            // A MIME file is a handful of lines; a cap keeps a wrong path
            // (a huge file) from eating memory.
            while (!f.atEnd() && lines.size() < 10'000)
                lines.append(QString::fromLatin1(f.readLine()).trimmed());
            m_entries = parseEntries(lines);
        }
    }
}

QString MimeTable::systemTypeFor(const QString& extension)
{
    // The shared MIME database, as the desktop uses it, by file name.
    static const QMimeDatabase db;
    const QList<QMimeType> types = db.mimeTypesForFileName(QStringLiteral("x.") + extension);
    return types.isEmpty() ? QString() : types.first().name();
}

QString MimeTable::typeForExtension(const QString& extension) const
{
    QString type;
    if (m_source == Source::MimeDatabase) {
        if (!extension.isEmpty())
            type = systemTypeFor(extension);
    } else {
        for (const auto& [ext, t] : m_entries) {
            if (ext.compare(extension, Qt::CaseInsensitive) == 0) {
                type = t;
                break;
            }
        }
    }
    type = type.trimmed();
    return type.isEmpty() ? QStringLiteral("application/octet-stream") : type;
}

QString MimeTable::extensionOf(const QString& fileName)
{
    QString name = fileName;
    name.replace(QLatin1Char('\\'), QLatin1Char('/'));
    name = name.mid(name.lastIndexOf(QLatin1Char('/')) + 1);
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot < 0 ? QString() : name.mid(dot + 1);
}

} // namespace servlane
