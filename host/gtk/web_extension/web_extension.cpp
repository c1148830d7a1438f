// Runs inside each web process. Defines chrome.webview.hostObjects.sync.native
// in documents of the page bundle: every call is a blocking round trip over a
// private socket to the window process, which runs it on its UI thread. Every
// frame also gets chrome.webview.postMessage (iframe texts become events).
#include "bridge/glib_handles.h"
#include "host/gtk/bridge_wire.h"
#include "host/gtk/document_policy.h"

#include <webkit2/webkit-web-extension.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <map>
#include <string>

namespace {

using kx5::wire::Message;
using kx5::wire::MessageType;
namespace glib = kx5::glib;

struct Settings {
    std::string socketPath;
    std::string token;
    std::string bundleFolder;
};
Settings settings;

// One connection per page, opened on first use.
class Connection {
  public:
    explicit Connection(guint64 pageId) : pageId_(pageId) {}
    ~Connection() { close(); }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    bool send(const std::string& frame) {
        if (!open()) return false;
        if (kx5::wire::writeAll(fd_, frame)) return true;
        close();
        return false;
    }

    bool roundTrip(const std::string& frame, Message& reply) {
        if (!send(frame)) return false;
        if (kx5::wire::readMessage(fd_, reply) && reply.type == MessageType::Result &&
            reply.fields.size() == 1)
            return true;
        close();
        return false;
    }

  private:
    bool open() {
        if (fd_ >= 0) return true;
        if (settings.socketPath.empty() ||
            settings.socketPath.size() >= sizeof(sockaddr_un::sun_path))
            return false;
        fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd_ < 0) return false;
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::memcpy(addr.sun_path, settings.socketPath.c_str(), settings.socketPath.size() + 1);
        const std::string id = std::to_string(pageId_);
        if (connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
            !kx5::wire::writeAll(fd_,
                                 kx5::wire::encode(MessageType::Hello, {settings.token, id}))) {
            close();
            return false;
        }
        return true;
    }
    void close() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

    guint64 pageId_;
    int fd_ = -1;
};

std::map<guint64, Connection> connections;

Connection& connectionFor(guint64 pageId) {
    return connections.try_emplace(pageId, pageId).first->second;
}

void forgetPage(gpointer pageId, GObject*) {
    connections.erase(*static_cast<guint64*>(pageId));
    delete static_cast<guint64*>(pageId);
}

// The text of one JS value as the page's own String() would give it.
std::string textOf(JSCContext* ctx, JSCValue* value) {
    const glib::Text s(jsc_value_to_string(value));
    std::string out = s ? s.get() : "";
    if (jsc_context_get_exception(ctx)) jsc_context_clear_exception(ctx);
    return out;
}

guint64 pageIdOf(gpointer data) {
    return static_cast<guint64>(reinterpret_cast<uintptr_t>(data));
}

JSCValue* nativeCall(GPtrArray* args, gpointer data) {
    JSCContext* ctx = jsc_context_get_current();
    std::vector<std::string> fields;
    // The call name, then at most two arguments; further ones are ignored.
    const guint count = std::min<guint>(args->len, 3);
    fields.reserve(std::max<guint>(count, 1));
    for (guint i = 0; i < count; ++i)
        fields.push_back(textOf(ctx, static_cast<JSCValue*>(g_ptr_array_index(args, i))));
    if (fields.empty()) fields.emplace_back();
    Message reply;
    std::vector<std::string_view> views(fields.begin(), fields.end());
    if (!connectionFor(pageIdOf(data))
             .roundTrip(kx5::wire::encode(MessageType::Call, views), reply)) {
        jsc_context_throw(ctx, "the native bridge is not available");
        return nullptr;
    }
    // A result ends at its first NUL, as a host string does.
    return jsc_value_new_string(ctx, reply.fields[0].c_str());
}

// Only texts are passed on; other values are ignored, as a host would.
JSCValue* postMessageCall(GPtrArray* args, gpointer data) {
    JSCContext* ctx = jsc_context_get_current();
    if (args->len < 1) return nullptr;
    auto* message = static_cast<JSCValue*>(g_ptr_array_index(args, 0));
    if (!jsc_value_is_string(message)) return nullptr;
    const glib::Ref<JSCValue> nameValue(jsc_context_evaluate(ctx, "String(window.name)", -1));
    const std::string name = textOf(ctx, nameValue.get());
    connectionFor(pageIdOf(data))
        .send(kx5::wire::encode(MessageType::FrameMessage, {name, textOf(ctx, message)}));
    return nullptr;
}

// A document may use the bridge when it and every frame above it come from
// the bundle folder; about:blank and about:srcdoc documents count as their
// parent's. A parent of another origin cannot be read and fails the check.
const char* kAncestryScript =
    "(function(){var out=[],w=window;try{for(;;){out.push(String(w.location.href));"
    "if(w===w.top)break;w=w.parent}}catch(e){return null}return out.join('\\n')})()";

bool mayUseNative(JSCContext* ctx) {
    const glib::Ref<JSCValue> v(jsc_context_evaluate(ctx, kAncestryScript, -1));
    const bool readable = v && jsc_value_is_string(v.get());
    const std::string chain = readable ? textOf(ctx, v.get()) : "";
    if (!readable) return false;
    bool sawDocument = false;
    size_t start = 0;
    while (start <= chain.size()) {
        size_t end = chain.find('\n', start);
        if (end == std::string::npos) end = chain.size();
        const std::string address = chain.substr(start, end - start);
        if (address.rfind("about:", 0) != 0) {
            if (!kx5::isDocumentInFolder(address, settings.bundleFolder)) return false;
            sawDocument = true;
        }
        start = end + 1;
    }
    // A top-level about:blank has nothing to inherit from.
    return sawDocument;
}

void defineFunction(JSCContext* ctx, JSCValue* object, const char* name, GCallback callback,
                    guint64 pageId) {
    const glib::Ref<JSCValue> fn(jsc_value_new_function_variadic(
        ctx, name, callback, reinterpret_cast<gpointer>(static_cast<uintptr_t>(pageId)), nullptr,
        JSC_TYPE_VALUE));
    jsc_value_object_set_property(object, name, fn.get());
}

void onWindowObjectCleared(WebKitScriptWorld* world, WebKitWebPage* page, WebKitFrame* frame,
                           gpointer) {
    const guint64 pageId = webkit_web_page_get_id(page);
    const glib::Ref<JSCContext> context(webkit_frame_get_js_context_for_script_world(frame, world));
    JSCContext* ctx = context.get();
    if (webkit_frame_is_main_frame(frame)) {
        // Tells the window that a new document is starting: pushed events wait
        // until this document switches delivery on again.
        const char* uri = webkit_frame_get_uri(frame);
        connectionFor(pageId).send(
            kx5::wire::encode(MessageType::Document, {std::string_view(uri ? uri : "")}));
    }
    const glib::Ref<JSCValue> chrome(jsc_value_new_object(ctx, nullptr, nullptr));
    const glib::Ref<JSCValue> webview(jsc_value_new_object(ctx, nullptr, nullptr));
    jsc_value_object_set_property(chrome.get(), "webview", webview.get());
    if (!webkit_frame_is_main_frame(frame))
        defineFunction(ctx, webview.get(), "postMessage", G_CALLBACK(postMessageCall), pageId);
    else
        defineFunction(ctx, webview.get(), "postMessage",
                       G_CALLBACK(+[](GPtrArray*, gpointer) -> JSCValue* { return nullptr; }),
                       pageId);
    if (mayUseNative(ctx)) {
        const glib::Ref<JSCValue> hostObjects(jsc_value_new_object(ctx, nullptr, nullptr));
        const glib::Ref<JSCValue> sync(jsc_value_new_object(ctx, nullptr, nullptr));
        jsc_value_object_set_property(webview.get(), "hostObjects", hostObjects.get());
        jsc_value_object_set_property(hostObjects.get(), "sync", sync.get());
        defineFunction(ctx, sync.get(), "native", G_CALLBACK(nativeCall), pageId);
    }
    jsc_context_set_value(ctx, "chrome", chrome.get());
}

void onPageCreated(WebKitWebExtension*, WebKitWebPage* page, gpointer) {
    g_object_weak_ref(G_OBJECT(page), forgetPage, new guint64(webkit_web_page_get_id(page)));
}

} // namespace

extern "C" __attribute__((visibility("default"))) void
webkit_web_extension_initialize_with_user_data(WebKitWebExtension* extension,
                                               const GVariant* userData) {
    const char* socketPath = nullptr;
    const char* token = nullptr;
    const char* bundleFolder = nullptr;
    auto* data = const_cast<GVariant*>(userData);
    if (!data || !g_variant_is_of_type(data, G_VARIANT_TYPE("(sss)"))) return;
    g_variant_get(data, "(&s&s&s)", &socketPath, &token, &bundleFolder);
    settings = {socketPath, token, bundleFolder};
    g_signal_connect(extension, "page-created", G_CALLBACK(onPageCreated), nullptr);
    g_signal_connect(webkit_script_world_get_default(), "window-object-cleared",
                     G_CALLBACK(onWindowObjectCleared), nullptr);
}
