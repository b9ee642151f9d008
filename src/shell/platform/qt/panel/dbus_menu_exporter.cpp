#include "dbus_menu_exporter.hpp"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <utility>

#include "dbus_menu_marshal.hpp"

namespace orvela::qt {

QString dbusMenuLabel(const std::string& title) {
    return QString::fromStdString(title).replace(QLatin1Char('_'), QStringLiteral("__"));
}

// ---------------------------------------------------------------- the exported menu

namespace {

constexpr const char* kInterface = "com.canonical.dbusmenu";
// Every property an item may have; a host asking for others is answered without them. No
// "shortcut": hosts draw it beside the item, but none delivers the key to us (Plasma's
// libdbusmenu-qt sets it on its own QAction, GNOME's AppIndicator never reads it), so a key
// shown there would be a promise nothing keeps.
constexpr const char* kPropertyNames[] = {
    "visible", "type", "label", "enabled", "toggle-type", "toggle-state", "children-display"};
// Hosts send one event at a time, or one per open submenu; a group beyond this is no host's.
constexpr std::size_t kMaxEventsPerGroup = 64;
// How many unknown ids AboutToShowGroup names back, however many it was given.
constexpr std::size_t kMaxIdErrors = 64;

// Items whose check mark is a setting show an empty box when off, as desktop menus do; other
// items show one only while checked.
bool checkable(const MenuItem& item) {
    return item.action == MenuAction::ToggleLogin || item.checked;
}

}  // namespace

QVariantMap DBusMenuExporter::filtered(const QVariantMap& all, const PropertyFilter& names) {
    if (names.all) return all;
    QVariantMap result;
    for (const QString& name : names.names) {
        if (auto it = all.find(name); it != all.end()) result.insert(name, it.value());
    }
    return result;
}

namespace {

// A text inside an identity, with its length, so that no title can pass for another part.
void appendPart(std::string& identity, char tag, const std::string& text) {
    identity += tag;
    identity += std::to_string(text.size());
    identity += ':';
    identity += text;
}

}  // namespace

int DBusMenuExporter::takeId(IdKind kind) {
    std::vector<int>& spare = spare_[static_cast<std::size_t>(kind)];
    const auto free = std::find_if(spare.rbegin(), spare.rend(), [&](int id) {
        return static_cast<std::size_t>(id) >= held_.size() || !held_[std::size_t(id)];
    });
    if (free != spare.rend()) {
        const int id = *free;
        spare.erase(std::next(free).base());
        return id;
    }
    kinds_.push_back(kind);
    nodes_.emplace_back();
    return static_cast<int>(kinds_.size() - 1);
}

int DBusMenuExporter::idFor(const std::string& identity, IdKind kind) {
    auto [it, added] = identities_.try_emplace(identity);
    if (added) it->second.id = takeId(kind);
    it->second.seen = rebuilds_;
    return it->second.id;
}

void DBusMenuExporter::forgetUnseen() {
    for (auto it = identities_.begin(); it != identities_.end();) {
        if (rebuilds_ - it->second.seen < kForgetAfter) {
            ++it;
            continue;
        }
        const int id = it->second.id;
        spare_[static_cast<std::size_t>(kinds_[static_cast<std::size_t>(id)])].push_back(id);
        it = identities_.erase(it);
    }
}

void DBusMenuExporter::collect(const std::vector<MenuItem>& items, const std::string& scope,
                               std::vector<Line>& lines) const {
    // Siblings of one identity are told apart by their order.
    std::unordered_map<std::string, int> seen;
    const auto add = [&](const MenuItem& item) -> const std::string& {
        const IdKind kind = item.kind == MenuItem::Kind::Separator ? IdKind::Separator
                            : item.submenu                         ? IdKind::Submenu
                                                                   : IdKind::Item;
        std::string identity = scope + '/' + std::to_string(static_cast<int>(item.kind)) + '/' +
                               std::to_string(static_cast<int>(kind)) + '/';
        if (kind != IdKind::Separator) {
            identity += std::to_string(static_cast<int>(item.action)) + '/';
            if (item.represented) {
                appendPart(identity, 'r', *item.represented);
            } else if (item.action == MenuAction::None) {
                appendPart(identity, 't', item.title);
            } else {
                appendPart(identity, 'k', item.key);
            }
            identity += '#' + std::to_string(seen[identity]++);
        }
        lines.push_back(Line{item, kind, std::move(identity)});
        return lines.back().identity;
    };
    const auto line = [](MenuItem::Kind kind, const std::string& title) {
        MenuItem made;
        made.kind = kind;
        made.title = title;
        return made;
    };
    const auto separate = [&] {
        if (!lines.empty() && lines.back().kind != IdKind::Separator)
            add(line(MenuItem::Kind::Separator, {}));
    };
    bool afterSection = false;
    for (const MenuItem& item : items) {
        if (item.submenu && submenusInPlace_) {
            // A section headed by the sub-menu's title, separators around it. Its lines are
            // scoped by the sub-menu, as they were under it, so the same action in the main
            // menu is another line with an id of its own.
            separate();
            const std::string header = add(line(MenuItem::Kind::SectionHeader, item.title));
            collect(*item.submenu, header, lines);
            afterSection = true;
            continue;
        }
        if (afterSection && item.kind != MenuItem::Kind::Separator) separate();
        afterSection = false;
        add(item);
    }
}

void DBusMenuExporter::addNodes(const std::vector<MenuItem>& items, int parent,
                                const std::string& scope) {
    std::vector<Line> lines;
    collect(items, scope, lines);
    // A separator is known by the line below it (separators in a row by their order).
    std::string below = "end";
    for (auto line = lines.rbegin(); line != lines.rend(); ++line) {
        if (line->kind == IdKind::Separator)
            appendPart(line->identity, 'b', below);
        else
            below = line->identity;
    }
    std::unordered_map<std::string, int> seen;
    for (Line& line : lines) {
        if (line.kind == IdKind::Separator)
            line.identity += '#' + std::to_string(seen[line.identity]++);
        const int id = idFor(line.identity, line.kind);
        nodes_[static_cast<std::size_t>(id)] = Node{line.item, {}, true, line.identity};
        nodes_[static_cast<std::size_t>(parent)].children.push_back(id);
        if (line.item.submenu && !submenusInPlace_) addNodes(*line.item.submenu, id, line.identity);
    }
}

namespace {

// The longest strictly rising run within `values` (not necessarily contiguous), as indices.
std::vector<std::size_t> longestRising(const std::vector<std::size_t>& values) {
    constexpr std::size_t kNone = SIZE_MAX;
    std::vector<std::size_t> ends;  // ends[k]: where the lowest-ending run of k + 1 ends
    std::vector<std::size_t> previous(values.size(), kNone);
    for (std::size_t i = 0; i < values.size(); ++i) {
        const auto at =
            std::lower_bound(ends.begin(), ends.end(), values[i],
                             [&](std::size_t end, std::size_t v) { return values[end] < v; });
        if (at != ends.begin()) previous[i] = *(at - 1);
        if (at == ends.end())
            ends.push_back(i);
        else
            *at = i;
    }
    std::vector<std::size_t> run(ends.size());
    std::size_t i = ends.empty() ? kNone : ends.back();
    for (std::size_t k = run.size(); k-- > 0; i = previous[i]) run[k] = i;
    return run;
}

}  // namespace

void DBusMenuExporter::renumberMoved(int parent) {
    const std::size_t p = static_cast<std::size_t>(parent);
    const auto held = served_.find(parent);
    if (held != served_.end()) {
        const std::vector<int>& before = held->second;
        std::vector<int>* next = &nodes_[p].children;
        const auto position = [&](int id) {
            return static_cast<std::size_t>(std::find(next->begin(), next->end(), id) -
                                            next->begin());
        };
        // The rows the host holds that stay in its order: the longest run of them.
        std::vector<std::size_t> at;
        for (const int id : before) {
            if (const std::size_t i = position(id); i < next->size()) at.push_back(i);
        }
        std::vector<bool> keep(next->size());
        for (const std::size_t i : longestRising(at)) keep[at[i]] = true;
        const auto kept = [&](int id) {
            const std::size_t i = position(id);
            return i < next->size() && keep[i];
        };

        // Gap k lies between the kept rows k and k + 1. A row whose line is gone passes to a new
        // line of its kind in the same gap, so the host keeps it and is told its new properties
        // (the phase line under the task, say, as the phase changes).
        std::vector<std::pair<std::size_t, int>> gone;  // (gap, row), in the host's order
        std::size_t gap = 0;
        for (const int id : before) {
            if (kept(id))
                ++gap;
            else if (!known(id))
                gone.emplace_back(gap, id);
        }
        gap = 0;
        auto from = gone.begin();
        for (std::size_t i = 0; i < next->size(); ++i) {
            const int id = (*next)[i];
            if (keep[i]) {
                ++gap;
                continue;
            }
            const IdKind kind = kinds_[static_cast<std::size_t>(id)];
            if (std::find(before.begin(), before.end(), id) != before.end()) continue;
            const auto match = std::find_if(from, gone.end(), [&](const auto& row) {
                return row.first == gap && kinds_[static_cast<std::size_t>(row.second)] == kind;
            });
            if (match == gone.end()) continue;
            from = match + 1;
            const int row = match->second;
            std::erase_if(identities_, [&](const auto& entry) { return entry.second.id == row; });
            nodes_[static_cast<std::size_t>(row)] = std::move(nodes_[static_cast<std::size_t>(id)]);
            nodes_[static_cast<std::size_t>(id)] = Node{};
            identities_[nodes_[static_cast<std::size_t>(row)].identity].id = row;
            spare_[static_cast<std::size_t>(kind)].push_back(id);
            (*next)[i] = row;
            keep[i] = true;  // in the gap's count from here on
        }

        // The host lands an added row in the right place only when no removed row lies in an
        // earlier gap: the kept rows from the first gap with a removal up to the last gap with
        // an addition must go, each becoming a removal and an addition in one merged gap.
        std::size_t lastAdded = 0, firstRemoved = SIZE_MAX;
        bool added = false;
        gap = 0;
        for (std::size_t i = 0; i < next->size(); ++i) {
            if (keep[i]) {
                ++gap;
            } else {
                added = true;
                lastAdded = gap;
            }
        }
        gap = 0;
        for (const int id : before) {
            if (kept(id))
                ++gap;
            else
                firstRemoved = std::min(firstRemoved, gap);
        }
        gap = 0;
        for (std::size_t i = 0; i < next->size(); ++i) {
            if (!keep[i]) continue;
            ++gap;
            if (added && gap > firstRemoved && gap <= lastAdded) keep[i] = false;
        }
        for (std::size_t i = 0; i < keep.size(); ++i) {
            const int old = nodes_[p].children[i];
            if (keep[i] || std::find(before.begin(), before.end(), old) == before.end()) continue;
            const IdKind kind = kinds_[static_cast<std::size_t>(old)];
            const int id = takeId(kind);  // may grow nodes_
            nodes_[static_cast<std::size_t>(id)] = std::move(nodes_[static_cast<std::size_t>(old)]);
            nodes_[static_cast<std::size_t>(old)] = Node{};
            identities_[nodes_[static_cast<std::size_t>(id)].identity].id = id;
            spare_[static_cast<std::size_t>(kind)].push_back(old);
            nodes_[p].children[i] = id;
        }
    }
    for (const int child : std::vector<int>(nodes_[p].children)) {
        if (!nodes_[static_cast<std::size_t>(child)].children.empty()) renumberMoved(child);
    }
}

void DBusMenuExporter::noteServed(int id, int depth) {
    if (depth == 0) return;
    const std::vector<int>& children = nodes_[static_cast<std::size_t>(id)].children;
    served_[id] = children;
    for (const int child : children) noteServed(child, depth < 0 ? -1 : depth - 1);
}

void DBusMenuExporter::rebuild(bool announce) {
    std::vector<MenuItem> items = build_ ? build_() : std::vector<MenuItem>{};
    const bool changed = !built_ || items != model_;
    built_ = true;

    // A line that keeps its identity keeps its id, so an unchanged model keeps every id and a
    // host's open view stays valid; what changed under an id it already knows is told as
    // property updates.
    std::vector<QVariantMap> before;
    before.reserve(nodes_.size());
    for (std::size_t id = 0; id < nodes_.size(); ++id) before.push_back(properties(int(id)));

    ++rebuilds_;
    model_ = std::move(items);
    held_.assign(nodes_.size(), false);
    for (const auto& [parent, children] : served_) {
        for (const int id : children) held_[static_cast<std::size_t>(id)] = true;
    }
    for (Node& node : nodes_) node = Node{};
    nodes_[0].shown = true;
    addNodes(model_, 0, "0");
    renumberMoved(0);
    forgetUnseen();
    // A parent no longer shown is gone from the hosts too.
    std::erase_if(served_, [&](const auto& entry) { return !known(entry.first); });

    if (!changed && !announce) return;
    ++revision_;
    if (!canSend()) return;
    sd_bus_emit_signal(bus_->bus(), path_.toUtf8().constData(), kInterface, "LayoutUpdated", "ui",
                       uint32_t(revision_), int32_t(0));

    DBusMenuItemList updated;
    DBusMenuItemKeysList removed;
    const std::size_t common = std::min(before.size(), nodes_.size());
    for (std::size_t id = 1; id < common; ++id) {
        if (before[id].isEmpty() || !known(int(id))) continue;  // a line new or gone
        const QVariantMap now = properties(int(id));
        if (now == before[id]) continue;
        updated.push_back({int(id), now});
        QStringList gone;
        for (auto it = before[id].cbegin(); it != before[id].cend(); ++it) {
            if (!now.contains(it.key())) gone.push_back(it.key());
        }
        if (!gone.isEmpty()) removed.push_back({int(id), gone});
    }
    if (!updated.isEmpty() || !removed.isEmpty()) sendItemsPropertiesUpdated(updated, removed);
    bus_->flush();
}

void DBusMenuExporter::sendItemsPropertiesUpdated(const DBusMenuItemList& updated,
                                                  const DBusMenuItemKeysList& removed) {
    sd_bus_message* raw = nullptr;
    if (sd_bus_message_new_signal(bus_->bus(), &raw, path_.toUtf8().constData(), kInterface,
                                  "ItemsPropertiesUpdated") < 0)
        return;
    const SdBusMessage signal(raw);
    int r = sd_bus_message_open_container(raw, 'a', "(ia{sv})");
    for (const DBusMenuItem& item : updated) {
        if (r >= 0) r = sd_bus_message_open_container(raw, 'r', "ia{sv}");
        if (r >= 0) r = sd_bus_message_append(raw, "i", int32_t(item.id));
        if (r >= 0) r = appendMenuProperties(raw, item.properties);
        if (r >= 0) r = sd_bus_message_close_container(raw);
    }
    if (r >= 0) r = sd_bus_message_close_container(raw);
    if (r >= 0) r = sd_bus_message_open_container(raw, 'a', "(ias)");
    for (const DBusMenuItemKeys& keys : removed) {
        if (r >= 0) r = sd_bus_message_open_container(raw, 'r', "ias");
        if (r >= 0) r = sd_bus_message_append(raw, "i", int32_t(keys.id));
        if (r >= 0) r = appendStrings(raw, keys.properties);
        if (r >= 0) r = sd_bus_message_close_container(raw);
    }
    if (r >= 0) r = sd_bus_message_close_container(raw);
    if (r >= 0) sd_bus_send(nullptr, raw, nullptr);
}

void DBusMenuExporter::ensureBuilt() {
    if (!built_) rebuild(false);
}

QVariantMap DBusMenuExporter::properties(int id) const {
    QVariantMap props;
    if (!known(id)) return props;
    if (id == 0) {
        props.insert(QStringLiteral("children-display"), QStringLiteral("submenu"));
        return props;
    }
    const MenuItem& item = nodes_[static_cast<std::size_t>(id)].item;
    props.insert(QStringLiteral("visible"), true);
    switch (item.kind) {
        case MenuItem::Kind::Separator:
            props.insert(QStringLiteral("type"), QStringLiteral("separator"));
            return props;
        case MenuItem::Kind::SectionHeader:
            // The protocol has no headers: a disabled line reads as one.
            props.insert(QStringLiteral("label"), dbusMenuLabel(item.title));
            props.insert(QStringLiteral("enabled"), false);
            return props;
        case MenuItem::Kind::Item:
            break;
    }
    props.insert(QStringLiteral("label"), dbusMenuLabel(item.title));
    props.insert(QStringLiteral("enabled"), item.enabled);
    if (checkable(item)) {
        props.insert(QStringLiteral("toggle-type"), QStringLiteral("checkmark"));
        props.insert(QStringLiteral("toggle-state"), item.checked ? 1 : 0);
    }
    if (item.submenu) props.insert(QStringLiteral("children-display"), QStringLiteral("submenu"));
    return props;
}

int DBusMenuExporter::appendLayout(sd_bus_message* message, int id, int depth,
                                   const PropertyFilter& names) const {
    int r = sd_bus_message_open_container(message, 'r', "ia{sv}av");
    if (r >= 0) r = sd_bus_message_append(message, "i", int32_t(id));
    if (r >= 0) r = appendMenuProperties(message, filtered(properties(id), names));
    if (r >= 0) r = sd_bus_message_open_container(message, 'a', "v");
    if (depth != 0) {
        for (int child : nodes_[static_cast<std::size_t>(id)].children) {
            if (r >= 0) r = sd_bus_message_open_container(message, 'v', "(ia{sv}av)");
            if (r >= 0) r = appendLayout(message, child, depth < 0 ? -1 : depth - 1, names);
            if (r >= 0) r = sd_bus_message_close_container(message);
        }
    }
    if (r >= 0) r = sd_bus_message_close_container(message);
    return r < 0 ? r : sd_bus_message_close_container(message);
}

bool DBusMenuExporter::handleEvent(int id, std::string_view eventId) {
    ensureBuilt();
    if (!known(id)) return false;
    if (id == 0 && eventId == "opened") {
        // Hosts that skip AboutToShow still get a menu of this instant.
        rebuild(false);
    } else if (id != 0 && eventId == "clicked") {
        const MenuItem& item = nodes_[static_cast<std::size_t>(id)].item;
        // Only what a desktop menu would let the user choose: no headers, lines or
        // disabled items, and a submenu's own line only opens it.
        if (item.kind == MenuItem::Kind::Item && item.enabled && !item.submenu && chosen_)
            chosen_(item);
    }
    return true;
}

// ---------------------------------------------------------------- the D-Bus interface
//
// Each handler reads its arguments (sd-bus has checked the signature), answers, and returns
// what sd-bus returned; a negative value becomes an error reply to the caller.

struct DBusMenuExporter::Calls {
    static const sd_bus_vtable vtable[];

    static DBusMenuExporter& menu(void* userdata) {
        return *static_cast<DBusMenuExporter*>(userdata);
    }

    static int unknownId(sd_bus_message* call, int32_t id) {
        return sd_bus_reply_method_errorf(call, SD_BUS_ERROR_INVALID_ARGS,
                                          "Unknown menu item id %d", int(id));
    }

    // as: the property names asked for, kept only where an item could have them.
    static int readPropertyNames(sd_bus_message* call, PropertyFilter* filter) {
        int r = sd_bus_message_enter_container(call, 'a', "s");
        const char* name = nullptr;
        while (r >= 0 && (r = sd_bus_message_read(call, "s", &name)) > 0) {
            filter->all = false;
            const auto it = std::find_if(std::begin(kPropertyNames), std::end(kPropertyNames),
                                         [&](const char* known) { return !strcmp(known, name); });
            if (it == std::end(kPropertyNames)) continue;
            const QString kept = QLatin1String(*it);
            if (!filter->names.contains(kept)) filter->names.push_back(kept);
        }
        return r < 0 ? r : sd_bus_message_exit_container(call);
    }

    // ai, read in place from the message.
    static int readIds(sd_bus_message* call, std::span<const int32_t>* ids) {
        const void* data = nullptr;
        std::size_t bytes = 0;
        const int r = sd_bus_message_read_array(call, 'i', &data, &bytes);
        if (r >= 0) *ids = {static_cast<const int32_t*>(data), bytes / sizeof(int32_t)};
        return r;
    }

    static int newReply(sd_bus_message* call, SdBusMessage* reply) {
        sd_bus_message* raw = nullptr;
        const int r = sd_bus_message_new_method_return(call, &raw);
        reply->reset(raw);
        return r;
    }

    static int send(const SdBusMessage& reply, int r) {
        return r < 0 ? r : sd_bus_send(nullptr, reply.get(), nullptr);
    }

    // GetLayout(i parentId, i recursionDepth, as propertyNames) -> (u revision, (ia{sv}av))
    static int getLayout(sd_bus_message* call, void* userdata, sd_bus_error*) {
        DBusMenuExporter& self = menu(userdata);
        int32_t parentId = 0, depth = 0;
        PropertyFilter names;
        int r = sd_bus_message_read(call, "ii", &parentId, &depth);
        if (r >= 0) r = readPropertyNames(call, &names);
        if (r < 0) return r;
        self.ensureBuilt();
        if (!self.known(parentId)) return unknownId(call, parentId);
        SdBusMessage reply;
        r = newReply(call, &reply);
        if (r >= 0) r = sd_bus_message_append(reply.get(), "u", uint32_t(self.revision_));
        if (r >= 0) r = self.appendLayout(reply.get(), parentId, depth, names);
        if (r >= 0) self.noteServed(parentId, depth);
        return send(reply, r);
    }

    // GetGroupProperties(ai ids, as propertyNames) -> a(ia{sv}). Unknown ids are left out and
    // each known one is answered once, so the answer is never larger than the menu.
    static int getGroupProperties(sd_bus_message* call, void* userdata, sd_bus_error*) {
        DBusMenuExporter& self = menu(userdata);
        std::span<const int32_t> ids;
        PropertyFilter names;
        int r = readIds(call, &ids);
        if (r >= 0) r = readPropertyNames(call, &names);
        if (r < 0) return r;
        self.ensureBuilt();
        std::vector<bool> answered(self.nodes_.size());
        SdBusMessage reply;
        r = newReply(call, &reply);
        if (r >= 0) r = sd_bus_message_open_container(reply.get(), 'a', "(ia{sv})");
        for (const int32_t id : ids) {
            if (r < 0 || !self.known(id) || answered[std::size_t(id)]) continue;
            answered[std::size_t(id)] = true;
            r = sd_bus_message_open_container(reply.get(), 'r', "ia{sv}");
            if (r >= 0) r = sd_bus_message_append(reply.get(), "i", id);
            if (r >= 0) r = appendMenuProperties(reply.get(), filtered(self.properties(id), names));
            if (r >= 0) r = sd_bus_message_close_container(reply.get());
        }
        if (r >= 0) r = sd_bus_message_close_container(reply.get());
        return send(reply, r);
    }

    // GetProperty(i id, s name) -> v
    static int getProperty(sd_bus_message* call, void* userdata, sd_bus_error*) {
        DBusMenuExporter& self = menu(userdata);
        int32_t id = 0;
        const char* name = nullptr;
        int r = sd_bus_message_read(call, "is", &id, &name);
        if (r < 0) return r;
        self.ensureBuilt();
        if (!self.known(id)) return unknownId(call, id);
        const QVariantMap props = self.properties(id);
        const auto it = props.find(QString::fromUtf8(name));
        if (it == props.end())
            return sd_bus_reply_method_errorf(call, SD_BUS_ERROR_INVALID_ARGS, "No property %s",
                                              name);
        SdBusMessage reply;
        r = newReply(call, &reply);
        if (r >= 0) r = appendMenuValue(reply.get(), it.value());
        return send(reply, r);
    }

    // Event(i id, s eventId, v data, u timestamp)
    static int event(sd_bus_message* call, void* userdata, sd_bus_error*) {
        int32_t id = 0;
        const char* eventId = nullptr;
        int r = sd_bus_message_read(call, "is", &id, &eventId);
        // The data and the time of the event change nothing here.
        if (r >= 0) r = sd_bus_message_skip(call, "vu");
        if (r < 0) return r;
        if (!menu(userdata).handleEvent(id, eventId)) return unknownId(call, id);
        return sd_bus_reply_method_return(call, "");
    }

    // EventGroup(a(isvu) events) -> ai idErrors. Read whole before any runs, so a malformed or
    // oversized group does nothing; an error when no id at all was known.
    static int eventGroup(sd_bus_message* call, void* userdata, sd_bus_error*) {
        DBusMenuExporter& self = menu(userdata);
        std::vector<std::pair<int32_t, std::string>> events;
        int r = sd_bus_message_enter_container(call, 'a', "(isvu)");
        while (r >= 0 && (r = sd_bus_message_enter_container(call, 'r', "isvu")) > 0) {
            if (events.size() == kMaxEventsPerGroup)
                return sd_bus_reply_method_errorf(call, SD_BUS_ERROR_INVALID_ARGS,
                                                  "More than %zu events", kMaxEventsPerGroup);
            int32_t id = 0;
            const char* eventId = nullptr;
            r = sd_bus_message_read(call, "is", &id, &eventId);
            if (r >= 0) r = sd_bus_message_skip(call, "vu");
            if (r >= 0) r = sd_bus_message_exit_container(call);
            if (r >= 0) events.emplace_back(id, eventId);
        }
        if (r >= 0) r = sd_bus_message_exit_container(call);
        if (r < 0) return r;
        std::vector<int32_t> idErrors;
        for (const auto& [id, eventId] : events) {
            if (!self.handleEvent(id, eventId)) idErrors.push_back(id);
        }
        if (!events.empty() && idErrors.size() == events.size())
            return sd_bus_reply_method_errorf(call, SD_BUS_ERROR_INVALID_ARGS,
                                              "No known menu item ids");
        SdBusMessage reply;
        r = newReply(call, &reply);
        if (r >= 0)
            r = sd_bus_message_append_array(reply.get(), 'i', idErrors.data(),
                                            idErrors.size() * sizeof(int32_t));
        return send(reply, r);
    }

    // AboutToShow(i id) -> b needUpdate
    static int aboutToShow(sd_bus_message* call, void* userdata, sd_bus_error*) {
        DBusMenuExporter& self = menu(userdata);
        int32_t id = 0;
        const int r = sd_bus_message_read(call, "i", &id);
        if (r < 0) return r;
        if (id == 0) {
            self.rebuild(true);
            return sd_bus_reply_method_return(call, "b", 1);
        }
        self.ensureBuilt();
        // Submenus are built with the whole menu, so they are already current.
        if (!self.known(id)) return unknownId(call, id);
        return sd_bus_reply_method_return(call, "b", 0);
    }

    // AboutToShowGroup(ai ids) -> (ai updatesNeeded, ai idErrors); the unknown ids are told
    // once each, at most kMaxIdErrors of them.
    static int aboutToShowGroup(sd_bus_message* call, void* userdata, sd_bus_error*) {
        DBusMenuExporter& self = menu(userdata);
        std::span<const int32_t> ids;
        int r = readIds(call, &ids);
        if (r < 0) return r;
        std::vector<int32_t> updatesNeeded;
        if (std::find(ids.begin(), ids.end(), 0) != ids.end()) {
            self.rebuild(true);
            updatesNeeded.push_back(0);
        }
        self.ensureBuilt();
        std::vector<int32_t> idErrors;
        for (const int32_t id : ids) {
            if (idErrors.size() == kMaxIdErrors) break;
            if (!self.known(id) &&
                std::find(idErrors.begin(), idErrors.end(), id) == idErrors.end())
                idErrors.push_back(id);
        }
        SdBusMessage reply;
        r = newReply(call, &reply);
        if (r >= 0)
            r = sd_bus_message_append_array(reply.get(), 'i', updatesNeeded.data(),
                                            updatesNeeded.size() * sizeof(int32_t));
        if (r >= 0)
            r = sd_bus_message_append_array(reply.get(), 'i', idErrors.data(),
                                            idErrors.size() * sizeof(int32_t));
        return send(reply, r);
    }

    static int property(sd_bus*, const char*, const char*, const char* name, sd_bus_message* reply,
                        void*, sd_bus_error*) {
        if (!strcmp(name, "Version")) return sd_bus_message_append(reply, "u", uint32_t(3));
        if (!strcmp(name, "TextDirection")) return sd_bus_message_append(reply, "s", "ltr");
        if (!strcmp(name, "Status")) return sd_bus_message_append(reply, "s", "normal");
        return sd_bus_message_append(reply, "as", 0);  // IconThemePath: none of our own
    }
};

const sd_bus_vtable DBusMenuExporter::Calls::vtable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_PROPERTY("Version", "u", property, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("TextDirection", "s", property, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("Status", "s", property, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("IconThemePath", "as", property, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_METHOD_WITH_NAMES("GetLayout", "iias",
                             SD_BUS_PARAM(parentId) SD_BUS_PARAM(recursionDepth)
                                 SD_BUS_PARAM(propertyNames),
                             "u(ia{sv}av)", SD_BUS_PARAM(revision) SD_BUS_PARAM(layout), getLayout,
                             SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD_WITH_NAMES(
        "GetGroupProperties", "aias", SD_BUS_PARAM(ids) SD_BUS_PARAM(propertyNames), "a(ia{sv})",
        SD_BUS_PARAM(properties), getGroupProperties, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD_WITH_NAMES("GetProperty", "is", SD_BUS_PARAM(id) SD_BUS_PARAM(name), "v",
                             SD_BUS_PARAM(value), getProperty, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD_WITH_NAMES("Event", "isvu",
                             SD_BUS_PARAM(id) SD_BUS_PARAM(eventId) SD_BUS_PARAM(data)
                                 SD_BUS_PARAM(timestamp),
                             "", "", event, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD_WITH_NAMES("EventGroup", "a(isvu)", SD_BUS_PARAM(events), "ai",
                             SD_BUS_PARAM(idErrors), eventGroup, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD_WITH_NAMES("AboutToShow", "i", SD_BUS_PARAM(id), "b", SD_BUS_PARAM(needUpdate),
                             aboutToShow, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD_WITH_NAMES("AboutToShowGroup", "ai", SD_BUS_PARAM(ids), "aiai",
                             SD_BUS_PARAM(updatesNeeded) SD_BUS_PARAM(idErrors), aboutToShowGroup,
                             SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_SIGNAL_WITH_NAMES("ItemsPropertiesUpdated", "a(ia{sv})a(ias)",
                             SD_BUS_PARAM(updatedProps) SD_BUS_PARAM(removedProps), 0),
    SD_BUS_SIGNAL_WITH_NAMES("LayoutUpdated", "ui", SD_BUS_PARAM(revision) SD_BUS_PARAM(parent), 0),
    SD_BUS_SIGNAL_WITH_NAMES("ItemActivationRequested", "iu",
                             SD_BUS_PARAM(id) SD_BUS_PARAM(timestamp), 0),
    SD_BUS_VTABLE_END,
};

// ---------------------------------------------------------------- the exporter

DBusMenuExporter::DBusMenuExporter(MainLoopBus* bus, QString path, Build build, Chosen chosen,
                                   QObject* parent)
    : QObject(parent),
      bus_(bus),
      path_(std::move(path)),
      build_(std::move(build)),
      chosen_(std::move(chosen)) {
    nodes_.push_back(Node{{}, {}, true, {}});
    kinds_.push_back(IdKind::Submenu);
    if (!bus || !bus->isOpen()) return;
    sd_bus_slot* slot = nullptr;
    exported_ = sd_bus_add_object_vtable(bus->bus(), &slot, path_.toUtf8().constData(), kInterface,
                                         Calls::vtable, this) >= 0;
    slot_.reset(slot);
}

// The slot goes with the exporter (slot_), so no call reaches it afterwards.
DBusMenuExporter::~DBusMenuExporter() = default;

}  // namespace orvela::qt
