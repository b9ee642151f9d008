// The status item's menu exported over com.canonical.dbusmenu, the protocol StatusNotifierItem
// hosts (GNOME's AppIndicator extension, KDE, Xfce, waybar...) use to show an application's menu.
//
// The model is the core's: asked for afresh each time a host is about to show the menu, served
// as a tree of numbered items, and a click comes back as the MenuItem that was shown. The
// exporter writes with sd-bus; the Qt types below carry the properties it sends.
//
// Item ids are kept for the life of the process, because hosts built on libdbusmenu-gtk
// (waybar, Xfce, MATE, Budgie) keep their rows by id and never rebuild one whose type changed:
// an id once given to a separator, a plain item or a sub-menu stays with that kind. A line keeps
// its id across rebuilds as long as it keeps its identity: its parent (or the sub-menu it was
// laid out from), its kind, its action, and
// - its represented object when it has one (an agenda line: its day),
// - its title when it has no action (notes, headers, sub-menus: the text is all they are),
// - its shortcut letter otherwise ("Открыть планер" and the task's own line both open the
//   planner; a control keeps its id while its title changes),
// with the number of earlier siblings of the same identity. An identity not seen for
// kForgetAfter rebuilds is forgotten and its id may serve a new line of the same kind, so the
// ids stay few however long the app runs and however often a host or the agenda churns.
#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QVariantMap>
#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "main_loop_bus.hpp"
#include "shell/platform/platform.hpp"

namespace orvela::qt {

// (ia{sv}): one item's id and properties.
struct DBusMenuItem {
    int id = 0;
    QVariantMap properties;
};
using DBusMenuItemList = QList<DBusMenuItem>;

// (ias): one item's id and the names of properties it no longer has.
struct DBusMenuItemKeys {
    int id = 0;
    QStringList properties;
};
using DBusMenuItemKeysList = QList<DBusMenuItemKeys>;

// aas: key combinations, each a list of modifier names followed by the key.
using DBusMenuShortcut = QList<QStringList>;

// The dbusmenu label of a title: '_' marks a mnemonic in the protocol, so a literal one doubles.
QString dbusMenuLabel(const std::string& title);

// Serves the menu on a MainLoopBus at `path`: calls are answered and signals sent on the main
// thread, so the exporter needs no locking and a click reaches the model it was shown from.
class DBusMenuExporter : public QObject {
    Q_OBJECT

public:
    // Fills the model from scratch; called whenever a host is about to show the menu.
    using Build = std::function<std::vector<MenuItem>()>;
    // Told which item of the shown model the user chose (while the D-Bus call is still open).
    using Chosen = std::function<void(const MenuItem&)>;

    // Without a bus, or with one already closed, nothing is exported and nothing is sent.
    DBusMenuExporter(MainLoopBus* bus, QString path, Build build, Chosen chosen,
                     QObject* parent = nullptr);
    ~DBusMenuExporter() override;

    // Rebuilds after which an identity unseen is forgotten.
    static constexpr std::uint64_t kForgetAfter = 64;

    const QString& path() const { return path_; }
    bool isExported() const { return exported_; }
    uint revision() const { return revision_; }
    // Lays each sub-menu out in place: a section headed by the sub-menu's title, its lines in
    // their order, separators around it. KDE Plasma 5.27 opens a tray menu's sub-menus to the
    // right and never flips them, so with the tray in its usual place (the bottom right corner)
    // "Настройки" opened off the screen and its lines could not be reached. GNOME's AppIndicator
    // shows sub-menus folded inside the menu and Xfce flips them, so one flat menu serves every
    // host. Takes effect at the next rebuild.
    void setSubmenusInPlace(bool inPlace) { submenusInPlace_ = inPlace; }
    // Builds the model again once a host has seen it, and tells hosts (LayoutUpdated) only when
    // it changed: a host that caches the layout (libdbusmenu-gtk) sizes its next opening from
    // what it last fetched, so a menu that changed shape while closed would open at the old
    // height. Called when the app's state changes, not on every tick.
    void refresh() {
        if (built_) rebuild(false);
    }

private:
    // The sd-bus handlers of the interface's methods and properties.
    struct Calls;
    friend struct Calls;

    // What a host keeps apart: an id is never handed from one of these to another.
    enum class IdKind : std::uint8_t { Separator, Item, Submenu };
    static constexpr std::size_t kIdKinds = 3;

    struct Node {
        MenuItem item;
        std::vector<int> children;
        bool shown = false;  // part of the current model
    };
    struct Identity {
        int id = 0;
        std::uint64_t seen = 0;  // the rebuild that last showed it
    };
    // The property names a host asked for; an empty list asks for all of them. Names no item
    // ever has are dropped as they are read, so a long list costs nothing to hold.
    struct PropertyFilter {
        bool all = true;
        QStringList names;
    };

    // Asks for a fresh model and renumbers it. With `announce` the hosts are told even when
    // nothing changed (a host that asked with AboutToShow waits for LayoutUpdated).
    void rebuild(bool announce);
    void ensureBuilt();
    // Numbers `items` under `parent`; `scope` names what they belong to in the identities (the
    // parent, or the sub-menu a section laid out in place stands for).
    void addNodes(const std::vector<MenuItem>& items, int parent, const std::string& scope);
    int idFor(const std::string& identity, IdKind kind);
    void forgetUnseen();
    bool known(int id) const {
        return id >= 0 && static_cast<std::size_t>(id) < nodes_.size() &&
               nodes_[static_cast<std::size_t>(id)].shown;
    }
    QVariantMap properties(int id) const;
    static QVariantMap filtered(const QVariantMap& all, const PropertyFilter& names);
    // (ia{sv}av) of `id` and its children `depth` levels down (all of them when negative).
    int appendLayout(sd_bus_message* message, int id, int depth, const PropertyFilter& names) const;
    // Runs a host event; false when the id is unknown.
    bool handleEvent(int id, std::string_view eventId);
    bool canSend() const { return exported_ && bus_ && bus_->isOpen(); }
    void sendItemsPropertiesUpdated(const DBusMenuItemList& updated,
                                    const DBusMenuItemKeysList& removed);

    QPointer<MainLoopBus> bus_;
    SdBusSlot slot_;
    QString path_;
    Build build_;
    Chosen chosen_;
    bool exported_ = false;
    bool built_ = false;
    bool submenusInPlace_ = false;
    uint revision_ = 1;
    std::vector<MenuItem> model_;
    std::vector<Node> nodes_;    // indexed by item id; 0 is the invisible root
    std::vector<IdKind> kinds_;  // indexed by item id: the kind each id was first given to
    std::array<std::vector<int>, kIdKinds> spare_;  // forgotten ids, by kind
    std::unordered_map<std::string, Identity> identities_;
    std::uint64_t rebuilds_ = 0;
};

}  // namespace orvela::qt
