#include "tests/host/e2e/web_driver.h"

#include <curl/curl.h>
#include <glib.h>

#include <chrono>
#include <fstream>
#include <thread>

namespace kx5::e2e {
namespace {

size_t collect(char* data, size_t size, size_t n, void* out) {
    static_cast<std::string*>(out)->append(data, size * n);
    return size * n;
}

picojson::value
object(std::initializer_list<std::pair<const std::string, picojson::value>> members) {
    return picojson::value(picojson::object(members));
}

} // namespace

WebDriver::~WebDriver() {
    try {
        endSession();
    } catch (...) {
    }
}

picojson::value WebDriver::request(const char* method, const std::string& path,
                                   const picojson::value* body) {
    CURL* curl = curl_easy_init();
    std::string response, payload = body ? body->serialize() : "";
    curl_slist* headers =
        curl_slist_append(nullptr, "Content-Type: application/json; charset=utf-8");
    curl_easy_setopt(curl, CURLOPT_URL, (base_ + path).c_str());
    curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, method);
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, collect);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &response);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, 120L);
    curl_easy_setopt(curl, CURLOPT_NOPROXY, "*");
    if (body) {
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, payload.c_str());
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(payload.size()));
    }
    const CURLcode rc = curl_easy_perform(curl);
    curl_slist_free_all(headers);
    curl_easy_cleanup(curl);
    if (rc != CURLE_OK)
        throw WebDriverError(std::string(method) + " " + path + ": " + curl_easy_strerror(rc));
    picojson::value v;
    const std::string err = picojson::parse(v, response);
    if (!err.empty() || !v.is<picojson::object>())
        throw WebDriverError("bad answer to " + path + ": " + response);
    const picojson::value& value = v.get("value");
    if (value.is<picojson::object>() && value.contains("error"))
        throw WebDriverError(path + ": " + value.get("error").to_str() + ": " +
                             value.get("message").to_str());
    return value;
}

bool WebDriver::waitReady(int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
        try {
            request("GET", "/status", nullptr);
            return true;
        } catch (const WebDriverError&) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }
    return false;
}

void WebDriver::newSession(const picojson::object& capabilities) {
    const picojson::value body =
        object({{"capabilities", object({{"alwaysMatch", picojson::value(capabilities)}})}});
    const picojson::value v = request("POST", "/session", &body);
    session_ = v.get("sessionId").to_str();
}

void WebDriver::endSession() {
    if (session_.empty()) return;
    const std::string s = session_;
    session_.clear();
    request("DELETE", "/session/" + s, nullptr);
}

void WebDriver::navigate(const std::string& url) {
    const picojson::value body = object({{"url", picojson::value(url)}});
    request("POST", "/session/" + session_ + "/url", &body);
}

std::string WebDriver::currentUrl() {
    return request("GET", "/session/" + session_ + "/url", nullptr).to_str();
}

std::string WebDriver::title() {
    return request("GET", "/session/" + session_ + "/title", nullptr).to_str();
}

picojson::value WebDriver::execute(const std::string& script, const picojson::array& args) {
    const picojson::value body =
        object({{"script", picojson::value(script)}, {"args", picojson::value(args)}});
    return request("POST", "/session/" + session_ + "/execute/sync", &body);
}

bool WebDriver::waitFor(const std::string& script, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        try {
            const picojson::value v = execute(script);
            if (v.is<bool>() && v.get<bool>()) return true;
        } catch (const WebDriverError&) {
            // The page may be between documents.
        }
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

std::string WebDriver::findElement(const std::string& css) {
    const picojson::value body =
        object({{"using", picojson::value("css selector")}, {"value", picojson::value(css)}});
    const picojson::value v = request("POST", "/session/" + session_ + "/element", &body);
    for (const auto& [k, id] : v.get<picojson::object>())
        return id.to_str();
    throw WebDriverError("no element " + css);
}

void WebDriver::click(const std::string& elementId) {
    const picojson::value body = object({});
    request("POST", "/session/" + session_ + "/element/" + elementId + "/click", &body);
}

void WebDriver::saveScreenshot(const std::string& pngPath) {
    const std::string b64 =
        request("GET", "/session/" + session_ + "/screenshot", nullptr).to_str();
    gsize size = 0;
    guchar* bytes = g_base64_decode(b64.c_str(), &size);
    std::ofstream(pngPath, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes), static_cast<std::streamsize>(size));
    g_free(bytes);
}

picojson::object WebDriver::windowRect() {
    return request("GET", "/session/" + session_ + "/window/rect", nullptr).get<picojson::object>();
}

void WebDriver::setWindowRect(int x, int y, int width, int height) {
    const picojson::value body = object({{"x", picojson::value(static_cast<double>(x))},
                                         {"y", picojson::value(static_cast<double>(y))},
                                         {"width", picojson::value(static_cast<double>(width))},
                                         {"height", picojson::value(static_cast<double>(height))}});
    request("POST", "/session/" + session_ + "/window/rect", &body);
}

} // namespace kx5::e2e
