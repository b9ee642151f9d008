#include "update/handover_script.hpp"

namespace orvela {

std::string handoverScript(std::int64_t pid) {
    // The line numbering stays the same on every platform: line 4 is where a platform that
    // marks downloaded files (a quarantine attribute) would clear the mark. Linux has none, so
    // there the line removes the old bundle that line 3 set aside.
    const std::string lines[] = {
        "while kill -0 " + std::to_string(pid) + " 2>/dev/null; do sleep 0.2; done",
        "# Сначала копия рядом, потом подмена — сбой копирования не оставит без приложения",
        // Leftovers of an interrupted earlier run would make cp or mv nest a bundle inside
        // them; they are ours (the target's name plus ".new" or ".old"), so they go first. The
        // old bundle is renamed aside rather than deleted in place: a deletion that fails half
        // way (a subfolder the user cannot change) would leave a broken app, a rename needs only
        // the folder the bundle is in, and a failed second rename puts the old bundle back.
        R"(rm -rf "$TARGET.new" "$TARGET.old" && cp -a "$FRESH" "$TARGET.new" && mv "$TARGET" "$TARGET.old" && { mv "$TARGET.new" "$TARGET" || mv "$TARGET.old" "$TARGET"; })",
        R"([ -d "$TARGET" ] && rm -rf "$TARGET.old")",
        // setsid detaches the relaunched app from this script's session, so it survives the
        // script's end and never shares a terminal with it.
        R"(setsid "$TARGET/bin/orvela-timer" >/dev/null 2>&1 </dev/null &)",
        R"(rm -rf "$WORK")",
    };
    std::string script;
    for (const std::string& line : lines) {
        if (!script.empty()) script += '\n';
        script += line;
    }
    return script;
}

std::map<std::string, std::string> handoverEnvironment(
    const std::string& target, const std::string& fresh, const std::string& work,
    std::map<std::string, std::string> processEnvironment) {
    // Set over the inherited ones: a TARGET of the user's own must never redirect the swap.
    processEnvironment["TARGET"] = target;
    processEnvironment["FRESH"] = fresh;
    processEnvironment["WORK"] = work;
    return processEnvironment;
}

}  // namespace orvela
