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
// with the number of earlier siblings of the same identity. A separator belongs to the section
// it opens: its identity is the line below it, so the one above "Открыть планер" stays itself
// while the sections above it come and go. An identity not seen for kForgetAfter rebuilds is
// forgotten and its id may serve a new line of the same kind, so the ids stay few however long
// the app runs and however often a host or the agenda churns.
//
// GNOME's AppIndicator extension (dbusMenu.js, up to at least its version 46) brings the rows it
// shows up to a new layout by adding and removing rows where its own list of ids says, but its
// moves reorder only that list, never the rows: a row it keeps stays where it was, and rows added
// after it land off by the rows removed before it (a separator lost, two blank ones together).
// So against the layout a host last fetched, a line keeps its id only where no row needs to move:
// the lines kept stay in their order, and every line added comes before every line removed,
// counting by the kept lines between them. Before that is judged, a row whose line is gone
// passes to a new line of its kind in the same place (the phase line under the task as the
// phase changes, the sign-in lines as a login starts): the host keeps the row and is told its
// new properties. A kept line that would still have to move is given a new id, which every host
// shows as a new row in the right place.
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
        bool shown = false;    // part of the current model
        std::string identity;  // the key of its id in identities_
    };
    // A line of a parent's list before it has an id.
    struct Line {
        MenuItem item;
        IdKind kind;
        std::string identity;  // a separator's is completed once the line below it is known
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
    // The lines `items` put under one parent, sections laid out in place included.
    void collect(const std::vector<MenuItem>& items, const std::string& scope,
                 std::vector<Line>& lines) const;
    int idFor(const std::string& identity, IdKind kind);
    // A spare id of `kind` that no host holds, or a new one.
    int takeId(IdKind kind);
    // Against the layout a host last fetched, lets a row whose line is gone pass to a new line
    // in its place, and gives new ids to the lines under `parent` (and further down) it would
    // still have to move.
    void renumberMoved(int parent);
    // Notes the children lists a GetLayout of `id` `depth` levels down gave the host.
    void noteServed(int id, int depth);
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
    std::array<std::vector<int>, kIdKinds> spare_;  // ids forgotten or given up, by kind
    std::unordered_map<std::string, Identity> identities_;
    std::uint64_t rebuilds_ = 0;
    // The children lists hosts last fetched, by parent id, and the ids in them: the rows a host
    // holds, which must not need to move and whose ids are not handed to new lines.
    std::unordered_map<int, std::vector<int>> served_;
    std::vector<bool> held_;
};

}  // namespace orvela::qt
