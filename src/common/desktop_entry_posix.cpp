#include "desktop_entry.h"

#include <QFile>
#include <QStandardPaths>
#include <QStringList>

namespace DesktopEntry {

namespace {

constexpr qint64 kMaxDesktopFileBytes = 1024 * 1024;

// The desktop file `id` in the applications folders; a vendor prefix ("kde4-x.desktop")
// may stand for a subfolder ("kde4/x.desktop").
QString locateDesktopFile(const QString& id) {
    QString path = QStandardPaths::locate(QStandardPaths::ApplicationsLocation, id);
    const int dash = id.indexOf('-');
    if (path.isEmpty() && dash > 0) {
        QString nested = id;
        nested[dash] = '/';
        path = QStandardPaths::locate(QStandardPaths::ApplicationsLocation, nested);
    }
    return path;
}

// The Exec value of the file's [Desktop Entry] group, string escapes undone except
// those the Exec quoting rules give a meaning of their own; "" when absent.
QString desktopEntryExec(const QByteArray& content) {
    bool inEntry = false;
    for (const QByteArray& bytes : content.split('\n')) {
        const QString line = QString::fromUtf8(bytes).trimmed();
        if (line.startsWith('[')) {
            inEntry = line == "[Desktop Entry]";
            continue;
        }
        const int equals = line.indexOf('=');
        if (!inEntry || equals < 0 || line.left(equals).trimmed() != "Exec") continue;
        const QString value = line.mid(equals + 1).trimmed();
        QString unescaped;
        for (int i = 0; i < value.size(); ++i) {
            if (value[i] != '\\' || i + 1 == value.size()) {
                unescaped += value[i];
                continue;
            }
            const QChar next = value[++i];
            if (next == 's') {
                unescaped += ' ';
            } else if (next == 'n') {
                unescaped += '\n';
            } else if (next == 't') {
                unescaped += '\t';
            } else if (next == 'r') {
                unescaped += '\r';
            } else if (next == '\\') {
                unescaped += '\\';
            } else {
                unescaped += '\\';
                unescaped += next;
            }
        }
        return unescaped;
    }
    return QString();
}

// Splits an Exec value into arguments: blanks separate, double quotes group, and
// inside quotes a backslash takes the next character literally.
QStringList splitExec(const QString& exec) {
    QStringList arguments;
    QString current;
    bool inArgument = false;
    bool quoted = false;
    for (int i = 0; i < exec.size(); ++i) {
        const QChar c = exec[i];
        if (quoted) {
            if (c == '\\' && i + 1 < exec.size()) {
                current += exec[++i];
            } else if (c == '"') {
                quoted = false;
            } else {
                current += c;
            }
        } else if (c.isSpace()) {
            if (inArgument) arguments << current;
            current.clear();
            inArgument = false;
        } else {
            inArgument = true;
            if (c == '"') {
                quoted = true;
            } else {
                current += c;
            }
        }
    }
    if (inArgument) arguments << current;
    return arguments;
}

// Expands one Exec argument's field codes: the file/URL codes become "%1", the
// place of the address in a registered command line; "%%" is a percent sign; the
// rest (icon, name, location and deprecated codes) are dropped. `tookUrl` is set
// when the argument received the address.
QString expandFieldCodes(const QString& argument, bool& tookUrl) {
    QString expanded;
    for (int i = 0; i < argument.size(); ++i) {
        if (argument[i] != '%' || i + 1 == argument.size()) {
            expanded += argument[i];
            continue;
        }
        const QChar code = argument[++i];
        if (code == '%') {
            expanded += '%';
        } else if (QString("fFuU").contains(code)) {
            expanded += "%1";
            tookUrl = true;
        }
    }
    return expanded;
}

QString quoted(const QString& argument) { return '"' + argument + '"'; }

}  // namespace

QString openCommand(const QString& id) {
    const QString path = locateDesktopFile(id);
    if (path.isEmpty()) return QString();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return QString();
    // Desktop files are a few KiB; whatever lies past this is no entry of ours.
    return openCommandOf(file.read(kMaxDesktopFileBytes));
}

QString openCommandOf(const QByteArray& desktopFile) {
    const QStringList exec = splitExec(desktopEntryExec(desktopFile));
    // A registered command quotes its program, and a quote inside would end it
    // early: "/opt/a\"b/browser" would start "/opt/a". No such program is named.
    if (exec.isEmpty() || exec.first().isEmpty() || exec.first().contains('"')) return QString();

    QStringList pieces{quoted(exec.first())};
    bool tookUrl = false;
    for (int i = 1; i < exec.size(); ++i) {
        const QString piece = expandFieldCodes(exec[i], tookUrl);
        if (piece.isEmpty()) continue;
        pieces << (piece.contains(' ') || piece.contains("%1") ? quoted(piece) : piece);
    }
    if (!tookUrl) pieces << quoted("%1");
    return pieces.join(' ');
}

}  // namespace DesktopEntry
