#include "status_notifier_item.hpp"

#include <unistd.h>

#include <QDBusMetaType>
#include <QFileInfo>
#include <QTimer>
#include <QtEndian>
#include <algorithm>
#include <climits>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>

#include "icon_theme_folder.hpp"

namespace orvela::qt {

// ---------------------------------------------------------------- marshalling

QDBusArgument& operator<<(QDBusArgument& arg, const SniIcon& icon) {
    arg.beginStructure();
    arg << icon.width << icon.height << icon.bytes;
    arg.endStructure();
    return arg;
}

const QDBusArgument& operator>>(const QDBusArgument& arg, SniIcon& icon) {
    arg.beginStructure();
    arg >> icon.width >> icon.height >> icon.bytes;
    arg.endStructure();
    return arg;
}

QDBusArgument& operator<<(QDBusArgument& arg, const SniToolTip& tip) {
    arg.beginStructure();
    arg << tip.iconName << tip.icons << tip.title << tip.description;
    arg.endStructure();
    return arg;
}

const QDBusArgument& operator>>(const QDBusArgument& arg, SniToolTip& tip) {
    arg.beginStructure();
    arg >> tip.iconName >> tip.icons >> tip.title >> tip.description;
    arg.endStructure();
    return arg;
}

void registerStatusNotifierTypes() {
    static const bool registered = [] {
        qDBusRegisterMetaType<SniIcon>();
        qDBusRegisterMetaType<SniIconList>();
        qDBusRegisterMetaType<SniToolTip>();
        qRegisterMetaType<SniIconList>("orvela::qt::SniIconList");
        return true;
    }();
    (void)registered;
}

SniIcon sniIconFrom(const QImage& image) {
    // The protocol wants straight (not premultiplied) alpha, each pixel as bytes A, R, G, B.
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    SniIcon icon;
    icon.width = argb.width();
    icon.height = argb.height();
    icon.bytes.resize(qsizetype(argb.width()) * argb.height() * 4);
    auto* out = reinterpret_cast<uchar*>(icon.bytes.data());
    for (int y = 0; y < argb.height(); ++y) {
        const auto* line = reinterpret_cast<const quint32*>(argb.constScanLine(y));
        for (int x = 0; x < argb.width(); ++x, out += 4) qToBigEndian<quint32>(line[x], out);
    }
    return icon;
}

// ---------------------------------------------------------------- the item

namespace {

constexpr const char* kBusService = "org.freedesktop.DBus";
constexpr const char* kBusPath = "/org/freedesktop/DBus";
constexpr const char* kWatcherPath = "/StatusNotifierWatcher";

StatusNotifierItem* itemOf(void* userdata) {
    return static_cast<StatusNotifierItem*>(userdata);
}

// ---- properties: read from the item on every Get and GetAll

int appendIcons(sd_bus_message* reply, const SniIconList& icons) {
    int r = sd_bus_message_open_container(reply, 'a', "(iiay)");
    for (const SniIcon& icon : icons) {
        if (r >= 0) r = sd_bus_message_open_container(reply, 'r', "iiay");
        if (r >= 0) r = sd_bus_message_append(reply, "ii", icon.width, icon.height);
        if (r >= 0)
            r = sd_bus_message_append_array(reply, 'y', icon.bytes.constData(),
                                            std::size_t(icon.bytes.size()));
        if (r >= 0) r = sd_bus_message_close_container(reply);
    }
    if (r >= 0) r = sd_bus_message_close_container(reply);
    return r;
}

int getConstant(sd_bus*, const char*, const char*, const char* property, sd_bus_message* reply,
                void*, sd_bus_error*) {
    const std::string_view name(property);
    if (name == "Category") return sd_bus_message_append(reply, "s", "ApplicationStatus");
    if (name == "Id") return sd_bus_message_append(reply, "s", "orvela-timer");
    if (name == "Title") return sd_bus_message_append(reply, "s", "ORVELA Timer");
    if (name == "WindowId") return sd_bus_message_append(reply, "i", 0);
    if (name == "ItemIsMenu") return sd_bus_message_append(reply, "b", 1);
    if (name == "XAyatanaOrderingIndex") return sd_bus_message_append(reply, "u", 0u);
    if (name == "OverlayIconPixmap" || name == "AttentionIconPixmap") return appendIcons(reply, {});
    // The other icons are never shown.
    return sd_bus_message_append(reply, "s", "");
}

int getStatus(sd_bus*, const char*, const char*, const char*, sd_bus_message* reply, void* self,
              sd_bus_error*) {
    return sd_bus_message_append(reply, "s", itemOf(self)->passive() ? "Passive" : "Active");
}

int getIconName(sd_bus*, const char*, const char*, const char* property, sd_bus_message* reply,
                void* self, sd_bus_error*) {
    const QString text = std::string_view(property) == "IconName" ? itemOf(self)->iconName()
                                                                  : itemOf(self)->iconThemePath();
    return sd_bus_message_append(reply, "s", text.toUtf8().constData());
}

int getIconPixmap(sd_bus*, const char*, const char*, const char*, sd_bus_message* reply, void* self,
                  sd_bus_error*) {
    return appendIcons(reply, itemOf(self)->iconPixmap());
}

int getToolTip(sd_bus*, const char*, const char*, const char*, sd_bus_message* reply, void* self,
               sd_bus_error*) {
    const SniToolTip tip = itemOf(self)->toolTip();
    int r = sd_bus_message_open_container(reply, 'r', "sa(iiay)ss");
    if (r >= 0) r = sd_bus_message_append(reply, "s", tip.iconName.toUtf8().constData());
    if (r >= 0) r = appendIcons(reply, tip.icons);
    if (r >= 0)
        r = sd_bus_message_append(reply, "ss", tip.title.toUtf8().constData(),
                                  tip.description.toUtf8().constData());
    if (r >= 0) r = sd_bus_message_close_container(reply);
    return r;
}

int getMenu(sd_bus*, const char*, const char*, const char*, sd_bus_message* reply, void* self,
            sd_bus_error*) {
    return sd_bus_message_append(reply, "o", itemOf(self)->menuPath().toUtf8().constData());
}

int getLabel(sd_bus*, const char*, const char*, const char* property, sd_bus_message* reply,
             void* self, sd_bus_error*) {
    const QString text = std::string_view(property) == "XAyatanaLabel"
                             ? itemOf(self)->label()
                             : StatusNotifierItem::labelGuide();
    return sd_bus_message_append(reply, "s", text.toUtf8().constData());
}

int getAccessibleDesc(sd_bus*, const char*, const char*, const char*, sd_bus_message* reply,
                      void* self, sd_bus_error*) {
    // The attention icon is never shown (the status stays Active): both describe the one icon.
    return sd_bus_message_append(reply, "s",
                                 itemOf(self)->accessibleDescription().toUtf8().constData());
}

// The menu does all the work (ItemIsMenu): a ContextMenu request or a scroll changes nothing.
int ignoreCall(sd_bus_message* call, void*, sd_bus_error*) {
    return sd_bus_reply_method_return(call, "");
}

// The middle click (Plasma, GNOME's AppIndicator): answered at once, then handed on. The
// position is the host's business; what it does is the owner's.
int secondaryActivate(sd_bus_message* call, void* self, sd_bus_error*) {
    const int r = sd_bus_reply_method_return(call, "");
    emit itemOf(self)->secondaryActivated();
    return r;
}

// The host's activation token for the click that follows (GNOME, Plasma). Hosts take an
// error as "unknown" and may stop sending one; a string the bus delivered is always answered.
int provideActivationToken(sd_bus_message* call, void* self, sd_bus_error*) {
    const char* token = nullptr;
    // Handed on cut after 4 KiB (the bus allows far more), still too long for a token.
    if (sd_bus_message_read(call, "s", &token) >= 0 && token)
        emit itemOf(self)->activationTokenProvided(
            QByteArray(token, qsizetype(::strnlen(token, 4097))));
    return sd_bus_reply_method_return(call, "");
}

// No Activate in the interface: the item has nothing to do on a left click but show its menu,
// and saying so is what makes most hosts show it. KDE Plasma 5.27 calls Activate on a left
// click and opens the menu only when the call fails, whatever ItemIsMenu says; GNOME's
// AppIndicator opens the menu itself on a single click, calls Activate on a double click and,
// answered UnknownMethod, stops waiting for double clicks (another error would be logged as
// critical at every one; a newer extension also looks the method up in the introspection
// before the first click); Xfce opens the menu of an ItemIsMenu item and calls Activate only
// on a middle click where the user chose "menu is primary". Some hosts only call Activate and
// ignore its answer: they are answered apart (see handleObjectCall).
const sd_bus_vtable kItemVtable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_PROPERTY("Category", "s", getConstant, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("Id", "s", getConstant, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("Title", "s", getConstant, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("Status", "s", getStatus, 0, 0),
    SD_BUS_PROPERTY("WindowId", "i", getConstant, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("IconThemePath", "s", getIconName, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("IconName", "s", getIconName, 0, 0),
    SD_BUS_PROPERTY("IconPixmap", "a(iiay)", getIconPixmap, 0, 0),
    SD_BUS_PROPERTY("IconAccessibleDesc", "s", getAccessibleDesc, 0, 0),
    SD_BUS_PROPERTY("AttentionAccessibleDesc", "s", getAccessibleDesc, 0, 0),
    SD_BUS_PROPERTY("OverlayIconName", "s", getConstant, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("OverlayIconPixmap", "a(iiay)", getConstant, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("AttentionIconName", "s", getConstant, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("AttentionIconPixmap", "a(iiay)", getConstant, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("AttentionMovieName", "s", getConstant, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("ToolTip", "(sa(iiay)ss)", getToolTip, 0, 0),
    SD_BUS_PROPERTY("ItemIsMenu", "b", getConstant, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("Menu", "o", getMenu, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("XAyatanaLabel", "s", getLabel, 0, 0),
    SD_BUS_PROPERTY("XAyatanaLabelGuide", "s", getLabel, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("XAyatanaOrderingIndex", "u", getConstant, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_METHOD_WITH_NAMES("ContextMenu", "ii", SD_BUS_PARAM(x) SD_BUS_PARAM(y), "", , ignoreCall,
                             0),
    SD_BUS_METHOD_WITH_NAMES("SecondaryActivate", "ii", SD_BUS_PARAM(x) SD_BUS_PARAM(y), "", ,
                             secondaryActivate, 0),
    SD_BUS_METHOD_WITH_NAMES("Scroll", "is", SD_BUS_PARAM(delta) SD_BUS_PARAM(orientation), "", ,
                             ignoreCall, 0),
    SD_BUS_METHOD_WITH_NAMES("ProvideXdgActivationToken", "s", SD_BUS_PARAM(token), "", ,
                             provideActivationToken, 0),
    SD_BUS_SIGNAL("NewTitle", "", 0),
    SD_BUS_SIGNAL("NewIcon", "", 0),
    SD_BUS_SIGNAL("NewAttentionIcon", "", 0),
    SD_BUS_SIGNAL("NewOverlayIcon", "", 0),
    SD_BUS_SIGNAL("NewToolTip", "", 0),
    SD_BUS_SIGNAL_WITH_NAMES("NewStatus", "s", SD_BUS_PARAM(status), 0),
    SD_BUS_SIGNAL_WITH_NAMES("XAyatanaNewLabel", "ss", SD_BUS_PARAM(label) SD_BUS_PARAM(guide), 0),
    SD_BUS_VTABLE_END};

}  // namespace

StatusNotifierItem::StatusNotifierItem(MainLoopBus* bus, QString menuPath, QObject* parent)
    : QObject(parent), bus_(bus), menuPath_(std::move(menuPath)) {
    registerStatusNotifierTypes();
    sd_bus* live = liveBus();
    if (!live) return;
    sd_bus_slot* object = nullptr;
    if (sd_bus_add_object_vtable(live, &object, kObjectPath, kInterface, kItemVtable, this) < 0)
        return;
    object_.reset(object);
    // Activate is answered outside the vtable, so that it stays out of the introspection.
    sd_bus_slot* hook = nullptr;
    if (sd_bus_add_object(live, &hook, kObjectPath, &StatusNotifierItem::handleObjectCall, this) >=
        0)
        activateHook_.reset(hook);
    // A bus that goes away takes the item with it: the tray takes over.
    connect(bus_, &MainLoopBus::closed, this, [this] {
        pending_.reset();
        ++attempt_;
        setRegistered(false);
    });
}

StatusNotifierItem::~StatusNotifierItem() = default;

sd_bus* StatusNotifierItem::liveBus() const {
    return bus_ && bus_->isOpen() ? bus_->bus() : nullptr;
}

void StatusNotifierItem::start() {
    if (!object_ || !liveBus()) {
        setRegistered(false);
        return;
    }
    followWatcher();
}

void StatusNotifierItem::followWatcher() {
    sd_bus* live = liveBus();
    if (!live || ownerMatch_) return;
    // The bus daemon answers in order: the match is in place before NameHasOwner is answered,
    // so a watcher that appears in between is seen by one or the other.
    const std::string rule = std::string("type='signal',sender='") + kBusService + "',path='" +
                             kBusPath + "',interface='" + kBusService +
                             "',member='NameOwnerChanged',arg0='" + kWatcherService + "'";
    sd_bus_slot* match = nullptr;
    if (sd_bus_add_match_async(live, &match, rule.c_str(), &StatusNotifierItem::handleOwnerChanged,
                               nullptr, this) >= 0)
        ownerMatch_.reset(match);
    ++attempt_;
    sd_bus_slot* pending = nullptr;
    if (sd_bus_call_method_async(live, &pending, kBusService, kBusPath, kBusService, "NameHasOwner",
                                 &StatusNotifierItem::handleHasOwner, this, "s",
                                 kWatcherService) < 0) {
        setRegistered(false);
        return;
    }
    pending_.reset(pending);
    bus_->flush();
}

int StatusNotifierItem::handleOwnerChanged(sd_bus_message* signal, void* self, sd_bus_error*) {
    const char* name = nullptr;
    const char* oldOwner = nullptr;
    const char* newOwner = nullptr;
    if (sd_bus_message_read(signal, "sss", &name, &oldOwner, &newOwner) < 0) return 0;
    itemOf(self)->watcherOwnerChanged(newOwner && *newOwner);
    return 0;
}

int StatusNotifierItem::handleHasOwner(sd_bus_message* reply, void* self, sd_bus_error*) {
    auto* item = itemOf(self);
    item->pending_.reset();
    int present = 0;
    if (sd_bus_message_is_method_error(reply, nullptr) ||
        sd_bus_message_read(reply, "b", &present) < 0)
        present = 0;
    if (present)
        item->registerWithWatcher();
    else
        item->setRegistered(false);
    return 0;
}

void StatusNotifierItem::watcherOwnerChanged(bool present) {
    if (present) {
        // A new (or restarted) watcher knows nothing of us yet.
        reRegistrations_ = 0;
        registerWithWatcher();
    } else {
        pending_.reset();
        ++attempt_;
        setRegistered(false);
    }
}

void StatusNotifierItem::registerWithWatcher() {
    sd_bus* live = liveBus();
    if (!live) return;
    // The item is registered under the connection's unique name, not a well-known
    // "org.kde.StatusNotifierItem-<pid>-<n>". GNOME's AppIndicator extension watches a
    // well-known name it is given, and when that name's "appeared" arrives after the item has
    // answered the first GetAll (as an item served on the main loop always does), it clears
    // the properties it has just read and drops the item ("Argument two may not be null");
    // seen on every start on Debian 12. A unique name is a bus name like any other to a
    // watcher; Xfce's panel and GNOME's extension both show the item registered under it.
    // Called after an answer from the bus, so the connection's Hello is done: this does not
    // block.
    serviceName_ = QString::fromStdString(bus_->uniqueName());
    ++attempt_;
    pending_.reset();
    sd_bus_slot* pending = nullptr;
    if (sd_bus_call_method_async(live, &pending, kWatcherService, kWatcherPath, kWatcherService,
                                 "RegisterStatusNotifierItem",
                                 &StatusNotifierItem::handleRegistered, this, "s",
                                 serviceName_.toUtf8().constData()) < 0) {
        setRegistered(false);
        return;
    }
    pending_.reset(pending);
    bus_->flush();
}

int StatusNotifierItem::handleRegistered(sd_bus_message* reply, void* self, sd_bus_error*) {
    auto* item = itemOf(self);
    item->pending_.reset();
    const bool accepted = !sd_bus_message_is_method_error(reply, nullptr);
    item->setRegistered(accepted);
    if (accepted) {
        const quint64 attempt = item->attempt_;
        QTimer::singleShot(kListedCheckMs, item, [item, attempt] {
            if (attempt == item->attempt_) item->checkListed();
        });
    }
    return 0;
}

void StatusNotifierItem::checkListed() {
    // GNOME's AppIndicator extension accepts a registration that comes in while it is still
    // starting (the moment its watcher's name appears, which is when we register) and then
    // drops the item with "Argument two may not be null": the call succeeded, yet nothing
    // shows. Measured on Debian 12 in two of three first enablings; a second registration
    // always took. Watchers that do not list their items are left alone.
    sd_bus* live = liveBus();
    if (!live) return;
    sd_bus_message* raw = nullptr;
    if (sd_bus_message_new_method_call(live, &raw, kWatcherService, kWatcherPath,
                                       "org.freedesktop.DBus.Properties", "Get") < 0)
        return;
    const SdBusMessage ask(raw);
    sd_bus_slot* pending = nullptr;
    if (sd_bus_message_append(raw, "ss", kWatcherService, "RegisteredStatusNotifierItems") < 0 ||
        sd_bus_call_async(live, &pending, raw, &StatusNotifierItem::handleListed, this,
                          uint64_t(kListedCheckMs) * 1000u) < 0)
        return;
    pending_.reset(pending);
    bus_->flush();
}

int StatusNotifierItem::handleListed(sd_bus_message* reply, void* self, sd_bus_error*) {
    auto* item = itemOf(self);
    item->pending_.reset();
    item->listedAnswer(reply);
    return 0;
}

void StatusNotifierItem::listedAnswer(sd_bus_message* reply) {
    if (sd_bus_message_is_method_error(reply, nullptr)) return;
    if (sd_bus_message_enter_container(reply, 'v', "as") <= 0) return;  // not a list of names
    if (sd_bus_message_enter_container(reply, 'a', "s") <= 0) return;
    const std::string ours = serviceName_.toStdString();
    const char* entry = nullptr;
    // Hosts list the name alone or followed by the object path ("/…", or GNOME's "@/…");
    // neither character occurs in a bus name. The list is bounded by the bus's message size,
    // and nothing is kept from it.
    while (sd_bus_message_read_basic(reply, 's', &entry) > 0) {
        const std::string_view listed(entry);
        if (listed.substr(0, listed.find_first_of("/@")) == ours) return;
    }
    if (reRegistrations_ >= kMaxReRegistrations) return;
    ++reRegistrations_;
    registerWithWatcher();
}

void StatusNotifierItem::setRegistered(bool accepted) {
    accepted_ = accepted;
    setHostShown(hostShown_);
}

void StatusNotifierItem::setHostShown(bool shown) {
    hostShown_ = shown;
    if (!accepted_) return;  // nothing known yet
    const bool registered = *accepted_ && hostShown_;
    if (registered_ == registered) return;
    registered_ = registered;
    emit registeredChanged(registered);
}

SniToolTip StatusNotifierItem::toolTip() const {
    // The tooltip's own text (the time left in words over the task's full title, the event with
    // its time and place), first line as the title: it changes with the state and the minute the
    // icon shows, never with the ticking label, so hosts are not sent NewToolTip every second.
    const qsizetype feed = toolTipText_.indexOf(QLatin1Char('\n'));
    if (feed < 0) return SniToolTip{QString(), {}, toolTipText_, QString()};
    return SniToolTip{QString(), {}, toolTipText_.left(feed), toolTipText_.mid(feed + 1)};
}

QString StatusNotifierItem::labelGuide() {
    // Hosts reserve the guide's width so that the ticking label does not jostle its neighbours.
    return QStringLiteral("🍅 25:00 · Название задачи");
}

void StatusNotifierItem::emitSignal(const char* member, const char* types, const char* label,
                                    const char* guide) {
    sd_bus* live = liveBus();
    if (!live) return;
    if (types)
        sd_bus_emit_signal(live, kObjectPath, kInterface, member, types, label, guide);
    else
        sd_bus_emit_signal(live, kObjectPath, kInterface, member, nullptr);
    bus_->flush();
}

void StatusNotifierItem::setPassive(bool passive) {
    if (passive == passive_) return;
    passive_ = passive;
    if (!registered_.value_or(false)) return;
    // Hosts hide or show the item on NewStatus. Back from hiding, what changed meanwhile went
    // untold: each host learns it the way it follows it.
    emitSignal("NewStatus", "s", passive ? "Passive" : "Active");
    if (passive) return;
    emitSignal("NewIcon");
    emitSignal("NewToolTip");
    emitSignal("XAyatanaNewLabel", "ss", label_.toUtf8().constData(),
               labelGuide().toUtf8().constData());
}

void StatusNotifierItem::setLabel(const QString& label) {
    if (label == label_) return;
    label_ = label;
    // Hosts that show the label (GNOME's AppIndicator) take it from the signal's arguments.
    // Xfce's and Plasma's hosts show none and answer NewTitle, NewIcon and NewToolTip with a
    // GetAll of every property, pixmaps included, so the ticking label sends nothing else.
    // sd-bus writes it to the socket here, on the main thread: no other thread wakes for it.
    if (shown())
        emitSignal("XAyatanaNewLabel", "ss", label_.toUtf8().constData(),
                   labelGuide().toUtf8().constData());
}

void StatusNotifierItem::setToolTipText(const QString& text) {
    if (text == toolTipText_) return;
    toolTipText_ = text;
    if (shown()) emitSignal("NewToolTip");
}

void StatusNotifierItem::setIcons(const QList<QImage>& images, const QString& description) {
    SniIconList icons;
    for (const QImage& image : images) icons.push_back(sniIconFrom(image));
    const auto same = [](const SniIcon& a, const SniIcon& b) {
        return a.width == b.width && a.height == b.height && a.bytes == b.bytes;
    };
    // A repaint that draws the same pixels (a new state with the same face) is no news to hosts.
    // The description is read again with the icon (GNOME's AppIndicator refreshes it on
    // NewIcon), so it needs no signal of its own.
    if (std::equal(icons.begin(), icons.end(), icons_.begin(), icons_.end(), same) &&
        description == accessibleDescription_)
        return;
    icons_ = std::move(icons);
    accessibleDescription_ = description;
    images_ = images;
    iconNameStale_ = true;
    if (shown()) emitSignal("NewIcon");
}

// ---------------------------------------------------------------- the named icon

void StatusNotifierItem::setIconThemeFolder(const QString& folder) {
    iconTheme_ = folder.isEmpty() ? nullptr : std::make_unique<IconThemeFolder>(folder);
    iconNameStale_ = true;
}

QString StatusNotifierItem::iconThemePath() const {
    return iconTheme_ ? iconTheme_->path() : QString();
}

QString StatusNotifierItem::iconName() {
    // Written when a host asks, which is right after NewIcon: nothing is written while the
    // item is not shown, and a picture no host asked for is never written.
    if (iconTheme_ && iconNameStale_) {
        iconNameStale_ = false;
        iconName_ = images_.isEmpty() ? QString() : iconTheme_->publish(images_);
    }
    return iconTheme_ ? iconName_ : QString();
}

// ---------------------------------------------------------------- Activate

QStringList StatusNotifierItem::menuLessHosts() {
    // MATE's notification area (its own program on Debian, inside mate-panel elsewhere),
    // LXQt's panel, and Cinnamon's bridge for items outside /org/ayatana/NotificationItem/.
    return {QStringLiteral("notification-area-applet"), QStringLiteral("mate-panel"),
            QStringLiteral("lxqt-panel"), QStringLiteral("xapp-sn-watcher")};
}

int StatusNotifierItem::handleObjectCall(sd_bus_message* call, void* self, sd_bus_error*) {
    // Anything else, or Activate with other arguments, goes on to the vtable (UnknownMethod).
    if (!sd_bus_message_is_method_call(call, kInterface, "Activate") ||
        !sd_bus_message_has_signature(call, "ii"))
        return 0;
    return itemOf(self)->activate(call);
}

int StatusNotifierItem::activate(sd_bus_message* call) {
    const char* sender = sd_bus_message_get_sender(call);
    sd_bus* live = liveBus();
    if (!sender || !live) return 0;
    if (lastCaller_ == QLatin1String(sender)) {
        answerActivate(call, lastCallerMenuLess_);
        return 1;
    }
    // One caller is looked up at a time: one that waits is answered as any other host.
    if (pendingActivate_) answerActivate(pendingActivate_.get(), false);
    pendingActivate_.reset(sd_bus_message_ref(call));
    callerLookup_.reset();
    sd_bus_message* raw = nullptr;
    if (sd_bus_message_new_method_call(live, &raw, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                       "org.freedesktop.DBus", "GetConnectionUnixProcessID") < 0)
        return 0;
    const SdBusMessage ask(raw);
    sd_bus_slot* pending = nullptr;
    if (sd_bus_message_append(raw, "s", sender) < 0 ||
        sd_bus_call_async(live, &pending, raw, &StatusNotifierItem::handleCallerPid, this,
                          uint64_t(kCallerLookupMs) * 1000u) < 0) {
        pendingActivate_.reset();
        return 0;
    }
    callerLookup_.reset(pending);
    bus_->flush();
    return 1;
}

int StatusNotifierItem::handleCallerPid(sd_bus_message* reply, void* self, sd_bus_error*) {
    itemOf(self)->callerKnown(reply);
    return 0;
}

void StatusNotifierItem::callerKnown(sd_bus_message* reply) {
    callerLookup_.reset();
    const SdBusMessage call = std::move(pendingActivate_);
    if (!call) return;
    uint32_t pid = 0;
    QString program;
    if (!sd_bus_message_is_method_error(reply, nullptr) &&
        sd_bus_message_read(reply, "u", &pid) >= 0 && pid > 0) {
        // The program the host runs, by its executable's name (a program replaced on disk
        // while it runs is " (deleted)").
        char target[PATH_MAX] = {};
        const QByteArray link = "/proc/" + QByteArray::number(pid) + "/exe";
        const ssize_t size = ::readlink(link.constData(), target, sizeof target - 1);
        if (size > 0)
            program =
                QFileInfo(QString::fromLocal8Bit(target, size).remove(QStringLiteral(" (deleted)")))
                    .fileName();
    }
    lastCaller_ = QString::fromLatin1(sd_bus_message_get_sender(call.get()));
    lastCallerMenuLess_ = !program.isEmpty() && menuLessHosts_.contains(program);
    answerActivate(call.get(), lastCallerMenuLess_);
}

void StatusNotifierItem::answerActivate(sd_bus_message* call, bool menuLess) {
    if (!menuLess) {
        // As sd-bus answers a method it does not know: what Plasma and GNOME go by.
        sd_bus_reply_method_errorf(call, SD_BUS_ERROR_UNKNOWN_METHOD,
                                   "Unknown method Activate or interface %s.", kInterface);
        bus_->flush();
        return;
    }
    // The point the host gives is no place for a menu: MATE's notification area gives a corner
    // of its own window (0, 25), Cinnamon's bridge the icon's top-left corner.
    sd_bus_reply_method_return(call, "");
    bus_->flush();
    emit menuRequested();
}

}  // namespace orvela::qt
