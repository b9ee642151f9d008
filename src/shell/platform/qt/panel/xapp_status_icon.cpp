#include "xapp_status_icon.hpp"

#include <signal.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QSaveFile>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>
#include <utility>

#include "quick_png.hpp"

namespace orvela::qt {

QPoint xappMenuOrigin(QPoint at, int panelPosition, QSize menu, const QRect& screen) {
    const int x = std::clamp(at.x(), screen.left(), screen.right());
    const int y = std::clamp(at.y(), screen.top(), screen.bottom());
    QPoint origin(x, y);
    // The applet gives the corner of its icon that faces the screen: the menu opens from there,
    // above a bottom panel and to the left of a right-hand one.
    if (panelPosition == 1)
        origin.rx() -= menu.width();
    else if (panelPosition != 0 && panelPosition != 2)
        origin.ry() -= menu.height();
    // On the screen where it fits; a menu larger than the screen starts at its top-left corner.
    origin.setX(std::max(screen.left(), std::min(origin.x(), screen.right() + 1 - menu.width())));
    origin.setY(std::max(screen.top(), std::min(origin.y(), screen.bottom() + 1 - menu.height())));
    return origin;
}

namespace {

constexpr const char* kBusService = "org.freedesktop.DBus";
constexpr const char* kBusPath = "/org/freedesktop/DBus";

// Pictures left by an instance that was killed (the session's end sends SIGTERM): files of ours
// whose process is gone. Another session of the same user shares the folder; its live process
// keeps its own.
void removeStaleIcons(const QString& folder) {
    const QStringList files = QDir(folder).entryList({QStringLiteral("orvela-timer-icon-*.png")},
                                                     QDir::Files | QDir::NoSymLinks);
    for (qsizetype i = 0; i < files.size() && i < 64; ++i) {
        bool number = false;
        const qint64 pid = files[i].section(u'-', 3, 3).toLongLong(&number);
        if (number && pid > 0 && pid <= std::numeric_limits<pid_t>::max() && pid != ::getpid() &&
            ::kill(pid_t(pid), 0) != 0 && errno == ESRCH)
            QFile::remove(folder + u'/' + files[i]);
    }
}

XAppStatusIcon* iconOf(void* userdata) {
    return static_cast<XAppStatusIcon*>(userdata);
}

// Cinnamon's applet asks Scroll and ButtonPress of every icon; they change nothing here.
int ignoreCall(sd_bus_message* call, void*, sd_bus_error*) {
    return sd_bus_reply_method_return(call, "");
}

}  // namespace

// The interface as libxapp serves it (Debian 12's libxapp 2.4). Visible stays true: the icon is
// withdrawn by releasing the name.
int XAppStatusIcon::getProperty(sd_bus*, const char*, const char*, const char* property,
                                sd_bus_message* reply, void* self, sd_bus_error*) {
    const XAppStatusIcon* icon = iconOf(self);
    const std::string_view name(property);
    const auto text = [&](const QString& value) {
        return sd_bus_message_append(reply, "s", value.toUtf8().constData());
    };
    if (name == "Name") return sd_bus_message_append(reply, "s", "orvela-timer");
    if (name == "IconName") return text(icon->iconFile_);
    if (name == "TooltipText") return text(icon->toolTip_.toHtmlEscaped());
    if (name == "Label") return text(icon->label_);
    if (name == "Visible") return sd_bus_message_append(reply, "b", 1);
    if (name == "IconSize") return sd_bus_message_append(reply, "i", icon->iconSize_);
    if (name == "PrimaryMenuIsOpen") return sd_bus_message_append(reply, "b", icon->primaryOpen_);
    if (name == "SecondaryMenuIsOpen")
        return sd_bus_message_append(reply, "b", icon->secondaryOpen_);
    // Metadata: MATE's applet then marks the icon pressed while either button's menu is open.
    return sd_bus_message_append(reply, "s", R"({"highlight-both-menus": true})");
}

// Applets set the size they draw the icon at (Cinnamon at every icon change).
int XAppStatusIcon::setIconSize(sd_bus*, const char*, const char*, const char*,
                                sd_bus_message* value, void* self, sd_bus_error*) {
    int32_t size = 0;
    const int r = sd_bus_message_read(value, "i", &size);
    if (r < 0) return r;
    iconOf(self)->iconSizeAsked(size);
    return 1;
}

// The click is answered at once and acted on afterwards, as libxapp does on the release.
int XAppStatusIcon::buttonRelease(sd_bus_message* call, void* self, sd_bus_error*) {
    int32_t x = 0, y = 0, position = 3;
    uint32_t button = 0, time = 0;
    int r = sd_bus_message_read(call, "iiuui", &x, &y, &button, &time, &position);
    if (r < 0) return r;
    r = sd_bus_reply_method_return(call, "");
    iconOf(self)->released(QPoint(x, y), position, button);
    return r;
}

constexpr int kChanges = SD_BUS_VTABLE_PROPERTY_EMITS_CHANGE;

const sd_bus_vtable XAppStatusIcon::kVtable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_METHOD_WITH_NAMES("ButtonPress", "iiuui",
                             SD_BUS_PARAM(x) SD_BUS_PARAM(y) SD_BUS_PARAM(button) SD_BUS_PARAM(time)
                                 SD_BUS_PARAM(panel_position),
                             "", , ignoreCall, 0),
    SD_BUS_METHOD_WITH_NAMES("ButtonRelease", "iiuui",
                             SD_BUS_PARAM(x) SD_BUS_PARAM(y) SD_BUS_PARAM(button) SD_BUS_PARAM(time)
                                 SD_BUS_PARAM(panel_position),
                             "", , XAppStatusIcon::buttonRelease, 0),
    SD_BUS_METHOD_WITH_NAMES("Scroll", "iiu",
                             SD_BUS_PARAM(delta) SD_BUS_PARAM(orientation) SD_BUS_PARAM(time), "", ,
                             ignoreCall, 0),
    SD_BUS_PROPERTY("Name", "s", XAppStatusIcon::getProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("IconName", "s", XAppStatusIcon::getProperty, 0, kChanges),
    SD_BUS_PROPERTY("TooltipText", "s", XAppStatusIcon::getProperty, 0, kChanges),
    SD_BUS_PROPERTY("Label", "s", XAppStatusIcon::getProperty, 0, kChanges),
    SD_BUS_PROPERTY("Visible", "b", XAppStatusIcon::getProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_WRITABLE_PROPERTY("IconSize", "i", XAppStatusIcon::getProperty,
                             XAppStatusIcon::setIconSize, 0, 0),
    SD_BUS_PROPERTY("PrimaryMenuIsOpen", "b", XAppStatusIcon::getProperty, 0, kChanges),
    SD_BUS_PROPERTY("SecondaryMenuIsOpen", "b", XAppStatusIcon::getProperty, 0, kChanges),
    SD_BUS_PROPERTY("Metadata", "s", XAppStatusIcon::getProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_VTABLE_END};

XAppStatusIcon::XAppStatusIcon(MainLoopBus* bus, QString iconFolder, QObject* parent)
    : QObject(parent), bus_(bus), iconFolder_(std::move(iconFolder)) {
    // libxapp names the icon after the program; the process and the instance make it unique
    // for the tests' several items and a second session of the same user. One dot-free part
    // after the prefix: applets ignore other names.
    static std::atomic<int> instances{0};
    busName_ =
        QStringLiteral("org.x.StatusIcon.orvela_timer_%1_%2").arg(::getpid()).arg(instances++);
    sd_bus* live = bus_ && bus_->isOpen() ? bus_->bus() : nullptr;
    if (!live) return;
    sd_bus_slot* manager = nullptr;
    sd_bus_slot* object = nullptr;
    if (sd_bus_add_object_manager(live, &manager, kManagerPath) < 0 ||
        sd_bus_add_object_vtable(live, &object, kObjectPath, kInterface, kVtable, this) < 0) {
        sd_bus_slot_unref(manager);
        return;
    }
    manager_.reset(manager);
    object_.reset(object);
    connect(bus_, &MainLoopBus::closed, this, [this] {
        namesPending_.reset();
        namePending_.reset();
        name_ = Name::Released;
        dropIcon();
        setShown(false);
    });
}

XAppStatusIcon::~XAppStatusIcon() {
    dropIcon();
}

sd_bus* XAppStatusIcon::liveBus() const {
    return object_ && bus_ && bus_->isOpen() ? bus_->bus() : nullptr;
}

void XAppStatusIcon::start() {
    sd_bus* live = liveBus();
    if (!live) {
        setShown(false);
        return;
    }
    if (ownerMatch_) return;
    // Applets come and go as their names do; the list is asked again at each change, so that
    // nothing is counted here and a name missed in between cannot leave a stale count.
    const std::string rule = std::string("type='signal',sender='") + kBusService + "',path='" +
                             kBusPath + "',interface='" + kBusService +
                             "',member='NameOwnerChanged',arg0namespace='" +
                             std::string(kMonitorPrefix, std::strlen(kMonitorPrefix) - 1) + "'";
    sd_bus_slot* match = nullptr;
    if (sd_bus_add_match_async(live, &match, rule.c_str(), &XAppStatusIcon::handleOwnerChanged,
                               nullptr, this) >= 0)
        ownerMatch_.reset(match);
    askNames();
}

void XAppStatusIcon::askNames() {
    sd_bus* live = liveBus();
    if (!live) return;
    if (namesPending_) {
        askAgain_ = true;
        return;
    }
    sd_bus_slot* pending = nullptr;
    if (sd_bus_call_method_async(live, &pending, kBusService, kBusPath, kBusService, "ListNames",
                                 &XAppStatusIcon::handleNames, this, "") < 0) {
        setApplet(false);
        return;
    }
    namesPending_.reset(pending);
    bus_->flush();
}

int XAppStatusIcon::handleOwnerChanged(sd_bus_message*, void* self, sd_bus_error*) {
    iconOf(self)->askNames();
    return 0;
}

int XAppStatusIcon::handleNames(sd_bus_message* reply, void* self, sd_bus_error*) {
    auto* icon = iconOf(self);
    icon->namesPending_.reset();
    if (icon->askAgain_) {
        icon->askAgain_ = false;
        icon->askNames();
        return 0;
    }
    // The list is bounded by the bus's message size and read in place.
    bool present = false;
    const std::string_view prefix(kMonitorPrefix);
    if (!sd_bus_message_is_method_error(reply, nullptr) &&
        sd_bus_message_enter_container(reply, 'a', "s") > 0) {
        const char* name = nullptr;
        while (!present && sd_bus_message_read_basic(reply, 's', &name) > 0)
            present = std::string_view(name).substr(0, prefix.size()) == prefix &&
                      std::string_view(name).size() > prefix.size();
    }
    icon->setApplet(present);
    return 0;
}

void XAppStatusIcon::setApplet(bool present) {
    sd_bus* live = liveBus();
    if (present && live && name_ == Name::Released) {
        // The applet reads every property as soon as the name appears: the picture is there first.
        name_ = Name::Requested;
        renewIcon();
        sd_bus_slot* pending = nullptr;
        if (sd_bus_request_name_async(live, &pending, busName_.toUtf8().constData(), 0,
                                      &XAppStatusIcon::handleName, this) < 0) {
            name_ = Name::Released;
            dropIcon();
            setShown(false);
            return;
        }
        namePending_.reset(pending);
        bus_->flush();
    } else if (!present && name_ != Name::Released) {
        // Released even while the request is unanswered: the bus answers in order.
        namePending_.reset();
        name_ = Name::Released;
        if (live) {
            sd_bus_release_name_async(live, nullptr, busName_.toUtf8().constData(), nullptr,
                                      nullptr);
            bus_->flush();
        }
        dropIcon();
    }
    if (!present || !live) setShown(false);
}

int XAppStatusIcon::handleName(sd_bus_message* reply, void* self, sd_bus_error*) {
    auto* icon = iconOf(self);
    icon->namePending_.reset();
    uint32_t result = 0;
    const bool owned = !sd_bus_message_is_method_error(reply, nullptr) &&
                       sd_bus_message_read(reply, "u", &result) > 0 &&
                       (result == 1 || result == 4);  // primary owner, or already it
    if (icon->name_ != Name::Requested) return 0;
    if (!owned) {
        // Taken by someone else: the StatusNotifierItem or the tray shows the app instead.
        icon->name_ = Name::Released;
        icon->dropIcon();
        icon->setShown(false);
        return 0;
    }
    icon->name_ = Name::Owned;
    icon->setShown(true);
    return 0;
}

void XAppStatusIcon::setShown(bool shown) {
    if (shown_ == shown) return;
    shown_ = shown;
    emit shownChanged(shown);
}

void XAppStatusIcon::changed(const char* property) {
    sd_bus* live = liveBus();
    if (!live || name_ != Name::Owned) return;
    sd_bus_emit_properties_changed(live, kObjectPath, kInterface, property, nullptr);
    bus_->flush();
}

void XAppStatusIcon::setLabel(const QString& label) {
    if (label == label_) return;
    label_ = label;
    changed("Label");
}

void XAppStatusIcon::setToolTip(const QString& text) {
    if (text == toolTip_) return;
    toolTip_ = text;
    changed("TooltipText");
}

void XAppStatusIcon::setFace(const IconFace& face) {
    if (face == face_) return;
    face_ = face;
    renewIcon();
}

void XAppStatusIcon::iconSizeAsked(int size) {
    size = std::clamp(size, 0, kMaxIconSize);
    if (size == iconSize_) return;
    iconSize_ = size;
    // One repaint on a later turn, however often a peer sets the size before it.
    if (sizeQueued_) return;
    sizeQueued_ = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            sizeQueued_ = false;
            renewIcon();
        },
        Qt::QueuedConnection);
}

void XAppStatusIcon::renewIcon() {
    // Painted only for an applet; nothing is written while the icon is not shown.
    if (name_ == Name::Released) return;
    const int size =
        iconSize_ > 0 ? std::clamp(iconSize_, kMinIconSize, kMaxIconSize) : kDefaultIconSize;
    const QByteArray png = quickPng(paintIcon(face_, size));
    if (png.isEmpty()) return;
    if (png == iconBytes_ && !iconFile_.isEmpty()) return;
    if (iconSerial_ == 0) removeStaleIcons(iconFolder_);
    // A new name for every picture: applets load an image once per path.
    const QString file =
        iconFolder_ +
        QStringLiteral("/orvela-timer-icon-%1-%2.png").arg(::getpid()).arg(++iconSerial_);
    QSaveFile out(file);
    if (!out.open(QIODevice::WriteOnly) || out.write(png) != png.size() || !out.commit()) {
        qWarning("orvela-timer: cannot write %s: %s", qPrintable(file),
                 qPrintable(out.errorString()));
        return;
    }
    const QString old = std::exchange(iconFile_, file);
    iconBytes_ = png;
    changed("IconName");
    if (!old.isEmpty()) QFile::remove(old);
}

void XAppStatusIcon::dropIcon() {
    if (!iconFile_.isEmpty()) QFile::remove(iconFile_);
    iconFile_.clear();
    iconBytes_.clear();
}

void XAppStatusIcon::released(QPoint at, int panelPosition, unsigned button) {
    if (name_ != Name::Owned) return;
    if (button == 2) {
        emit middleClicked();
        return;
    }
    if (button != 1 && button != 3) return;
    const bool queued = menuAsked_.has_value();
    menuAsked_ = MenuAsk{at, panelPosition, button};
    if (queued) return;
    QMetaObject::invokeMethod(
        this,
        [this] {
            const MenuAsk ask = *std::exchange(menuAsked_, std::nullopt);
            menuButton_ = ask.button;
            emit menuRequested(ask.at, ask.panelPosition, ask.button);
        },
        Qt::QueuedConnection);
}

void XAppStatusIcon::setMenuOpen(bool open) {
    // A closed menu is closed for both buttons; an open one for the click that opened it.
    const auto set = [this](bool& flag, bool value, const char* property) {
        if (flag == value) return;
        flag = value;
        changed(property);
    };
    if (!open || menuButton_ == 1) set(primaryOpen_, open, "PrimaryMenuIsOpen");
    if (!open || menuButton_ != 1) set(secondaryOpen_, open, "SecondaryMenuIsOpen");
}

}  // namespace orvela::qt
