#include "windowrig.h"

#include "devicetree.h"
#include "home/settingkeys.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>

#include <qcoro/qcorotask.h>

namespace casalux::test {

void RecordingSounds::play(const QString& path)
{
    played.append(QFileInfo(path).fileName());
}

namespace {

void copyPictures(const TempFolder& folder)
{
    QDir().mkpath(folder.file(QStringLiteral("html")));
    const QDir source(QStringLiteral(CASALUX_HTML_DIR));
    const QStringList gifs = source.entryList({QStringLiteral("*.gif")}, QDir::Files);
    for (const QString& name : gifs)
        QFile::copy(source.filePath(name), folder.file(QStringLiteral("html/") + name));
}

} // namespace

WindowRig::WindowRig(const QByteArray& rooms, const QByteArray& events,
                     InterfaceControl* realControl)
    : instanceKey(QStringLiteral("casalux-rig-%1-%2")
                      .arg(QCoreApplication::applicationPid())
                      .arg(quintptr(this), 0, 16)),
      instance(instanceKey),
      window({folder.path(), settings, realControl ? *realControl : control, prompts, sounds,
              service, instance, AutostartEntry(folder.file(QStringLiteral("config"))),
              {QStringLiteral("/opt/casalux/casalux"), {}}})
{
    copyPictures(folder);
    if (!rooms.isEmpty())
        folder.write(QStringLiteral("rmlst.rvf"), rooms);
    if (!events.isEmpty())
        folder.write(QStringLiteral("evelst.rvf"), events);
    window.loader().loadAll();
    window.show();
    settle();
}

WindowRig::~WindowRig()
{
    settle();
}

bool WindowRig::connectInterface()
{
    const bool found = QCoro::waitFor(window.core().finder.findinterface());
    window.core().scheduler.stop();
    return found;
}

bool WindowRig::settle()
{
    return QTest::qWaitFor([this] { return window.core().running() == 0; }, 5000);
}

bool WindowRig::clickNode(const QString& path)
{
    auto* tree = find<DeviceTree>(QStringLiteral("Tree"));
    const QStringList parts = path.split(QLatin1Char('/'));
    QTreeWidgetItem* item = nullptr;
    for (int i = 0; i < tree->topLevelItemCount() && !item; ++i) {
        if (tree->topLevelItem(i)->text(0) == parts.first())
            item = tree->topLevelItem(i);
    }
    if (item && parts.size() > 1) {
        QTreeWidgetItem* room = item;
        item = nullptr;
        for (int i = 0; i < room->childCount() && !item; ++i) {
            if (room->child(i)->text(0) == parts.at(1))
                item = room->child(i);
        }
    }
    if (!item)
        return false;
    tree->scrollToItem(item);
    const QRect rect = tree->visualItemRect(item);
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, rect.center());
    return settle();
}

void WindowRig::setType(const QString& key, const QString& family)
{
    settings.SaveSetting(QString::fromLatin1(settingkeys::appName),
                         QString::fromLatin1(settingkeys::typeSection), key, family);
}

QStringList WindowRig::sentTexts() const
{
    QStringList out;
    for (const auto& command : control.sent)
        out.append(command.text());
    return out;
}

} // namespace casalux::test
