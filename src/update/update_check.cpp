// The release manifest check: at launch, every six hours from the tick, and from the menu.
//
// Only the build number decides whether a release is newer; the version text is for people.
// An automatic check speaks only to announce a release it has not announced before; a check
// the user asked for always answers, and with a newer build goes straight to the installation.
//
// The continuation captures `this`: the App lives for the whole process.
#include "client/transfer_bounds.hpp"
#include "client/url.hpp"
#include "model/clock.hpp"
#include "model/records.hpp"
#include "shell/app.hpp"

namespace orvela {

void App::checkUpdates(bool manual) {
    // Recorded whatever the outcome, so a failed automatic check waits for the next period.
    lastUpdateCheck = platform_.monotonicSeconds();
    HttpRequest request;
    request.method = "GET";
    request.url = base + "/mac/version.json";
    request.timeoutSeconds = 10;
    request.cache = CachePolicy::IgnoreLocalData;  // a cached manifest would hide a release
    request.deadlineSeconds = kManifestBounds.deadlineSeconds;
    request.maxBodyBytes = kManifestBounds.maxBodyBytes;
    if (!isValidUrl(request.url)) return;

    platform_.send(request, [this, manual](HttpResponse response) {
        std::optional<ReleaseInfo> release;
        if (response.transportOk && response.status == 200)
            release = decodeReleaseInfo(response.body);
        if (!release) {
            if (manual)
                notice("Не удалось проверить обновления", "Нет связи с ORVELA — попробуйте позже.");
            return;
        }
        if (release->build > appBuild) {
            const bool known = update && update->build == release->build;
            // Replaced even when known: new notes, archive path or checksum take effect.
            update = *release;
            if (manual) {
                installUpdate();
            } else if (!known) {
                notify("Доступно обновление ORVELA Timer " + release->version,
                       release->notes.value_or("Обновить — в меню приложения"));
            }
            return;
        }
        // A withdrawn release disappears from the menu with the next successful check.
        update.reset();
        if (manual) {
            notice("Установлена последняя версия",
                   "ORVELA Timer " + appVersion + " (сборка " + std::to_string(appBuild) + ").");
        }
    });
}

void App::checkUpdatesNow() {
    checkUpdates(true);
}

}  // namespace orvela
