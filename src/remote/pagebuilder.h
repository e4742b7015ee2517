#pragma once

#include <QList>
#include <QString>
#include <memory>

namespace casalux {

class SettingsStore;

// Fills the remote-control page templates of the html folder with the rooms,
// the devices and their states. Two families share every step: the standard
// page (index.html) and the Media Center page (wmcindex.html), whose links
// carry the device's slot and which also manages the focus attributes that
// let a TV remote's arrow keys drive the page.
//
// The link and cell texts are the pages' output format: the request handler
// parses the device links back.
//
// Pages are built on every request, so what they are built from is kept
// between requests: the templates, the list file and what was read of it,
// the page with its room list filled in, and the device states and kinds.
// Each is checked against the files on disk every time it is used (and the
// settings also against every write through a store) and read afresh when
// anything may have changed: a page never shows an older state than the
// files hold.
class PageBuilder final {
public:
    enum class Family { Standard, MediaCenter };

    static constexpr int roomSlots = 19;
    static constexpr int deviceSlots = 10;

    PageBuilder(const QString& programFolder, SettingsStore& settings);
    ~PageBuilder();
    PageBuilder(const PageBuilder&) = delete;
    PageBuilder& operator=(const PageBuilder&) = delete;

    // Template loads: append the template's lines (CR LF ended) to the page.
    void loadhtml(QString& page) const { loadTemplate(Family::MediaCenter, page); }
    void loadnormhtml(QString& page) const { loadTemplate(Family::Standard, page); }
    // Room lists.
    void loadtree(QString& page) const { fillRooms(Family::MediaCenter, page); }
    void loadnormtree(QString& page) const { fillRooms(Family::Standard, page); }
    // Room pages for a room key (the room name without spaces).
    // The Media Center room page also records the room as `lastroom`.
    // A notice, when given, is shown under the picture of the device with
    // that key (a command for it that could not be sent).
    struct DeviceNotice {
        QString deviceKey;
        QString text;
    };
    // `remember` false: the page only (an answer to HEAD, which changes nothing).
    void loadroom(QString& page, const QString& roomKey, const DeviceNotice& notice = {},
                  bool remember = true) const
    {
        fillRoom(Family::MediaCenter, page, roomKey, notice, remember);
    }
    void loadnormroom(QString& page, const QString& roomKey, const DeviceNotice& notice = {}) const
    {
        fillRoom(Family::Standard, page, roomKey, notice, false);
    }

    // Whether the room list holds a device with this key at this address
    // (house code "A".."P" in upper case, unit 1..16).
    bool hasDevice(const QString& deviceKey, const QString& house, int unit) const;
    // Whether the device with this key is of a kind that can be dimmed.
    bool isDimmable(const QString& deviceKey) const;

    // A device of a room page as it is recorded now: what an open page
    // compares its tiles with. head is the start of its links' query
    // (house~unit~devicekey).
    struct DeviceState {
        QString head;
        QString name;
        bool on = false;
        int level = 0;
        bool dimmable = false;
        QString picture;
    };
    QList<DeviceState> roomStates(const QString& roomKey) const;
    // The state in words, as a tile shows it: "On", "Off", "On 40 %".
    static QString stateText(bool on, int level, bool dimmable);
    // Placeholder, beside each device cell, for its state in words and, for
    // a dimmable device, its level control; and one for the room key an
    // open page asks for its states by.
    static QString statePlaceholder(int slot);
    static QString roomKeyPlaceholder() { return QStringLiteral("<roomkey>"); }

    bool getlaststatus(const QString& keyname) const;
    QString getimageon(const QString& fullname) const;
    QString getimageoff(const QString& fullname) const;

    // The attribute texts of the Media Center page.
    static QString roomButtonAttribute(int slot);
    static QString moduleAttribute(int module);
    static QString focusStart() { return QStringLiteral("MCFocusStart=\"option1\""); }

    static QString templateName(Family family);

private:
    void loadTemplate(Family family, QString& page) const;
    void fillRooms(Family family, QString& page) const;
    void fillRoom(Family family, QString& page, const QString& roomKey,
                  const DeviceNotice& notice, bool remember) const;
    struct Kept;
    struct Device;
    // The room's devices in list order, the first ten.
    QList<const Device*> devicesOf(const QString& roomKey, bool* oneByOne = nullptr) const;
    DeviceState stateOf(const Device& device) const;
    // The state beside a device cell; slot is the Media Center slot, or -1.
    QString stateCell(const Device& device, QLatin1String page, int slot) const;
    QString family(const QString& fullname) const;
    // getlaststatus and family, answered from what was read before while
    // the settings are unchanged.
    void checkSettings() const;
    bool knownStatus(const QString& keyname) const;
    QString knownFamily(const QString& fullname) const;

    QString m_folder;
    SettingsStore& m_settings;
    std::unique_ptr<Kept> m_kept;
};

} // namespace casalux
