// The agenda: a read-only feed, replaced as a whole by each usable answer and otherwise kept
// exactly as it was. It reports no problem of its own; the timer fetch, on its own schedule,
// speaks for the connection and the token.
//
// The continuation captures `this`; the App lives for the whole process.
#include "client/request.hpp"
#include "model/records.hpp"
#include "shell/app.hpp"

namespace orvela {

void App::fetchAgenda() {
    lastAgendaFetch = platform_.monotonicSeconds();
    // The file only decides whether to ask at all; the request carries the token fetch() keeps.
    if (!readToken() || !token) return;
    std::optional<HttpRequest> built =
        bearerRequest(base, "/api/ext/agenda", "GET", *token, kAgendaBounds);
    if (!built) return;
    ++agendaFetchesInFlight;
    platform_.send(*built, [this](HttpResponse response) {
        --agendaFetchesInFlight;
        if (!response.transportOk || response.status != 200) return;
        std::optional<AgendaReply> reply = decodeAgendaReply(response.body);
        if (!reply) return;
        agenda = reply->items.value_or(std::vector<AgendaItem>{});
        agendaToday = reply->today;
        render();
    });
}

}  // namespace orvela
