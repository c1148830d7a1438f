// The web view and everything that joins it to the native bridge: the page
// calls arriving from the web process extension, pushed events, navigation,
// new windows, downloads, permissions, dropped files.
#pragma once

#include "bridge/glib_handles.h"
#include "bridge/javascript_interface.h"
#include "host/gtk/bridge_server.h"
#include "host/gtk/page_close_question.h"
#include "host/native_host.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

typedef struct _GtkWidget GtkWidget;
typedef struct _WebKitWebView WebKitWebView;
typedef struct _WebKitWebContext WebKitWebContext;

namespace kx5 {

struct WebViewOptions {
    std::string startUrl = "about:blank";
    // Documents below this folder may use the bridge (empty: none may).
    std::string bundleFolder;
    // Folder holding only the web process extension.
    std::string extensionFolder;
    bool developerTools = false;
    bool automation = false;
};

class WebViewHost final : public JavaScriptInterface, private BridgeServer::Handler {
  public:
    WebViewHost(UiQueue& ui, const AppPaths& paths, const HostOptions& hostOptions,
                WebViewOptions options);
    ~WebViewHost() override;

    // The view widget; the window takes it over.
    GtkWidget* widget() const;
    bool bridgeReady() const { return server_ && server_->listening(); }
    // Loads the start page.
    void start();
    void reload();
    // The view is going away with its window: no more scripts are sent.
    void detachView();

    void navigate(const std::string& url) override;
    void processEvent() override;
    void requestClose() override;
    // The window is to close: the page may keep it open (it then asks the
    // user and closes it itself); onCloseAllowed runs when it may close.
    void askPageToClose();

    NativeHost& native() { return *native_; }
    // Tears the modules down (workers joined); no calls are served afterwards.
    void shutdownModules();

    // Set by the window.
    std::function<void()> onCloseRequested;
    std::function<void()> onCloseAllowed;
    std::function<void(const std::string&)> onTitleChanged;
    std::function<void(const std::string& reason)> onPageCrashed;
    // A document is being shown (after a crash: the page is back).
    std::function<void()> onPageShown;

  private:
    std::string call(const std::string& callName, const Args& args) override;
    void documentStarted(const std::string& uri) override;
    void frameMessage(const std::string& frameName, const std::string& text) override;

    void createContext(const AppPaths& paths);
    void createView();
    void connectSignals();

    // Signal handlers (static trampolines in the .cpp reach these).
    friend struct WebViewSignals;
    // True when the navigation is WebKit opening a file just dropped.
    bool takeDropNavigation(const std::string& uri);
    void openNewWindowRequest(const std::string& uri);
    void recordDraggedUris(char** uris);

    WebViewOptions options_;
    std::unique_ptr<NativeHost> native_;
    std::unique_ptr<BridgeServer> server_;
    glib::Ref<WebKitWebContext> context_;
    glib::Ref<WebKitWebView> view_;
    bool viewHandedToAutomation_ = false;
    // The addresses of the current drag and when it was last dropped.
    std::vector<std::string> draggedUris_;
    long long dropTime_ = 0;
    PageCloseQuestion closeQuestion_;
};

} // namespace kx5
