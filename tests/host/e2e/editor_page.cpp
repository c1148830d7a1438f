#include "tests/host/e2e/editor_page.h"

#include <cmath>

namespace kx5::e2e {
namespace {

picojson::array text(const std::string& s) {
    return {picojson::value(s)};
}

} // namespace

bool EditorPage::screenPoint(const std::string& css, int& x, int& y, double across, double down) {
    const picojson::value r =
        d_.execute("const e = document.querySelector(arguments[0]); if (!e) return null;"
                   "e.scrollIntoView({block: 'nearest'}); const r = e.getBoundingClientRect();"
                   "return [r.left + r.width * arguments[1], r.top + r.height * arguments[2]]",
                   {picojson::value(css), picojson::value(across), picojson::value(down)});
    if (!r.is<picojson::array>()) return false;
    const auto window = d_.windowRect();
    x = int(std::lround(window.at("x").get<double>() + r.get(0).get<double>()));
    y = int(std::lround(window.at("y").get<double>() + r.get(1).get<double>()));
    return true;
}

bool EditorPage::waitConnected(int timeoutMs) {
    return d_.waitFor("return document.getElementById('link-state')?.dataset.state === 'connected'",
                      timeoutMs);
}

std::string EditorPage::linkState() {
    return d_.execute("return document.getElementById('link-state')?.dataset.state ?? ''").to_str();
}

bool EditorPage::waitDialog(const std::string& title, int timeoutMs) {
    return d_.waitFor("const d = document.getElementById('dialog');"
                      "return !!d && d.open && "
                      "document.getElementById('dialog-title').textContent === " +
                          picojson::value(title).serialize(),
                      timeoutMs);
}

bool EditorPage::dialogOpen() {
    return d_.execute("return !!document.getElementById('dialog')?.open").evaluate_as_boolean();
}

std::string EditorPage::dialogTitle() {
    return d_.execute("return document.getElementById('dialog-title')?.textContent ?? ''").to_str();
}

std::string EditorPage::dialogText() {
    return d_.execute("return document.getElementById('dialog-text')?.textContent ?? ''").to_str();
}

bool EditorPage::press(const std::string& label) {
    // Marked by script, clicked by the driver as a user would.
    const bool found = d_.execute("for (const b of document.querySelectorAll('#dialog-buttons "
                                  "button')) b.removeAttribute('data-e2e');"
                                  "const b = [...document.querySelectorAll('#dialog-buttons "
                                  "button')].find((x) => x.textContent === arguments[0]);"
                                  "if (!b) return false; b.dataset.e2e = 'press'; return true;",
                                  text(label))
                           .evaluate_as_boolean();
    return found && click("#dialog-buttons button[data-e2e='press']");
}

bool EditorPage::click(const std::string& css) {
    try {
        d_.click(d_.findElement(css));
        return true;
    } catch (const WebDriverError&) {
        return false;
    }
}

std::string EditorPage::loadHandedFile(int slot, std::optional<int> channel, int timeoutMs) {
    if (!startHandedFile(slot, channel, timeoutMs)) return {};
    return waitTransferEnd(timeoutMs);
}

bool EditorPage::startHandedFile(int slot, std::optional<int> channel, int timeoutMs) {
    if (!waitDialog("Load into which slot?", timeoutMs)) return false;
    d_.execute("document.getElementById('open-slot').value = arguments[0]; return true",
               {picojson::value(std::to_string(slot))});
    if (!press("Continue")) return false;
    if (!waitDialog("Load into slot " + std::to_string(slot + 1) + "?", timeoutMs)) return false;
    if (!press("Load")) return false;
    if (channel) {
        if (!waitDialog("Stereo file", timeoutMs)) return false;
        if (!press(*channel == 1 ? "Right [R]" : "Left [L]")) return false;
    }
    return true;
}

bool EditorPage::waitProgress(const std::string& phase, int percent, int timeoutMs) {
    return d_.waitFor("const d = document.getElementById('dialog');"
                      "const m = /^(.*)… (\\d+) %$/.exec(document.getElementById('dialog-text')"
                      ".textContent);"
                      "return d.open && !!m && m[1] === " +
                          picojson::value(phase).serialize() +
                          " && Number(m[2]) >= " + std::to_string(percent),
                      timeoutMs);
}

std::string EditorPage::waitTransferEnd(int timeoutMs) {
    // The progress dialog comes and goes; the transfer ends with a message.
    const bool ended = d_.waitFor("const d = document.getElementById('dialog');"
                                  "return d.open && !document.querySelector('#dialog .phases') && "
                                  "!document.getElementById('dialog-buttons').textContent"
                                  ".includes('Cancel')",
                                  timeoutMs);
    return ended ? dialogTitle() : std::string{};
}

std::string EditorPage::slotState(int slot) {
    return d_
        .execute("return document.querySelector(`#slot-list li[data-slot='${arguments[0]}'] "
                 ".state`)?.dataset.state ?? ''",
                 {picojson::value(static_cast<double>(slot))})
        .to_str();
}

std::string EditorPage::slotName(int slot) {
    return d_
        .execute("return document.querySelector(`#slot-list li[data-slot='${arguments[0]}'] "
                 ".name > span`)?.textContent ?? ''",
                 {picojson::value(static_cast<double>(slot))})
        .to_str();
}

std::string EditorPage::slotFile(int slot) {
    return d_
        .execute("return document.querySelector(`#slot-list li[data-slot='${arguments[0]}'] "
                 ".file > span:last-child`)?.textContent ?? ''",
                 {picojson::value(static_cast<double>(slot))})
        .to_str();
}

} // namespace kx5::e2e
