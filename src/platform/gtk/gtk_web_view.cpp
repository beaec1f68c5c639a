#include "platform/gtk/gtk_web_view.hpp"

#include "platform/gtk/gref.hpp"
#include "platform/gtk/gtk_view.hpp"
#include "webext/page_message_wire.hpp"

namespace brindlemar::gtk {

namespace {

BodyValue decodeBody(GVariant* value) {
    if (g_variant_is_of_type(value, G_VARIANT_TYPE_STRING))
        return BodyValue(std::string(g_variant_get_string(value, nullptr)));
    if (g_variant_is_of_type(value, G_VARIANT_TYPE_DOUBLE))
        return BodyValue(g_variant_get_double(value));
    if (g_variant_is_of_type(value, G_VARIANT_TYPE_VARDICT)) {
        BodyValue::Object object;
        GVariantIter iter;
        const char* key = nullptr;
        GVariant* member = nullptr;
        g_variant_iter_init(&iter, value);
        while (g_variant_iter_next(&iter, "{&sv}", &key, &member)) {
            object.insert_or_assign(key, decodeBody(member));
            g_variant_unref(member);
        }
        return BodyValue(std::move(object));
    }
    return BodyValue();
}

class GtkWebView final : public WebView, public GtkView {
public:
    GtkWebView(const WebViewConfig& config, WebViewEvents events,
               const std::string& extensionDirectory, bool acceleratedCompositingOff)
        : events_(std::move(events)) {
        context_ = adopt(webkit_web_context_new());
        extensionDirectory_ = extensionDirectory;
        handlerNames_ = config.messageHandlers;
        contextSignal_ = g_signal_connect(context_.get(), "initialize-web-extensions",
                                          G_CALLBACK(onInitializeExtensions), this);

        auto content = adopt(webkit_user_content_manager_new());
        for (const UserScript& script : config.userScripts) {
            WebKitUserScript* userScript = webkit_user_script_new(
                script.source.c_str(),
                script.mainFrameOnly ? WEBKIT_USER_CONTENT_INJECT_TOP_FRAME
                                     : WEBKIT_USER_CONTENT_INJECT_ALL_FRAMES,
                script.atDocumentEnd ? WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_END
                                     : WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START,
                nullptr, nullptr);
            webkit_user_content_manager_add_script(content.get(), userScript);
            webkit_user_script_unref(userScript);
        }

        auto settings = adopt(webkit_settings_new());
        webkit_settings_set_media_playback_requires_user_gesture(settings.get(),
                                                                 config.mediaRequiresUserAction);
        webkit_settings_set_enable_developer_extras(settings.get(), FALSE);
        webkit_settings_set_javascript_can_open_windows_automatically(settings.get(), FALSE);
        if (acceleratedCompositingOff)
            webkit_settings_set_hardware_acceleration_policy(
                settings.get(), WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER);

        auto policies = adopt(webkit_website_policies_new_with_policies(
            "autoplay",
            config.mediaRequiresUserAction ? WEBKIT_AUTOPLAY_ALLOW_WITHOUT_SOUND
                                           : WEBKIT_AUTOPLAY_ALLOW,
            nullptr));

        auto* widget = g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", context_.get(),
                                    "user-content-manager", content.get(), "settings",
                                    settings.get(), "website-policies", policies.get(), nullptr);
        view_ = sink(WEBKIT_WEB_VIEW(widget));
        host_ = sink(GTK_OVERLAY(gtk_overlay_new()));
        gtk_container_add(GTK_CONTAINER(host_.get()), GTK_WIDGET(view_.get()));
        gtk_widget_show_all(GTK_WIDGET(host_.get()));
        policySignal_ = g_signal_connect(view_.get(), "decide-policy", G_CALLBACK(onDecidePolicy), this);
        createSignal_ = g_signal_connect(view_.get(), "create", G_CALLBACK(onCreate), this);
        terminatedSignal_ = g_signal_connect(view_.get(), "web-process-terminated",
                                             G_CALLBACK(onWebProcessTerminated), this);
        messageSignal_ = g_signal_connect(view_.get(), "user-message-received",
                                          G_CALLBACK(onUserMessage), this);
        loadSignal_ = g_signal_connect(view_.get(), "load-changed", G_CALLBACK(onLoadChanged), this);
        failedSignal_ = g_signal_connect(view_.get(), "load-failed", G_CALLBACK(onLoadFailed), this);
    }

    ~GtkWebView() override {
        // Cookie stores still under way finish without telling anyone.
        g_cancellable_cancel(cancellable_.get());
        g_clear_handle_id(&loadTimeout_, g_source_remove);
        g_clear_signal_handler(&messageSignal_, view_.get());
        g_clear_signal_handler(&loadSignal_, view_.get());
        g_clear_signal_handler(&failedSignal_, view_.get());
        g_clear_signal_handler(&policySignal_, view_.get());
        g_clear_signal_handler(&createSignal_, view_.get());
        g_clear_signal_handler(&terminatedSignal_, view_.get());
        g_clear_signal_handler(&contextSignal_, context_.get());
    }

    GtkOverlay* host() const override { return host_.get(); }

    void setInspectable(bool inspectable) override {
        webkit_settings_set_enable_developer_extras(webkit_web_view_get_settings(view_.get()),
                                                    inspectable);
    }

    void loadHtml(const std::string& html) override {
        g_clear_handle_id(&loadTimeout_, g_source_remove);
        statusPageRequested_ = true;
        webkit_web_view_load_html(view_.get(), html.c_str(), nullptr);
    }

    void loadRequest(const std::string& url, std::chrono::seconds timeout) override {
        statusPageRequested_ = false;
        webkit_web_view_load_uri(view_.get(), url.c_str());
        // A request that has not started to arrive within the timeout is given up.
        g_clear_handle_id(&loadTimeout_, g_source_remove);
        loadTimeout_ = g_timeout_add_seconds(static_cast<guint>(timeout.count()),
                                             onLoadTimeout, this);
    }

    void evaluateScript(const std::string& script) override {
        webkit_web_view_evaluate_javascript(view_.get(), script.c_str(),
                                            static_cast<gssize>(script.size()), nullptr, nullptr,
                                            nullptr, nullptr, nullptr);
    }

    void addCookie(const HttpCookie& cookie, std::function<void(bool)> done) override {
        g_autoptr(GUri) origin = g_uri_parse(cookie.origin.c_str(), G_URI_FLAGS_NONE, nullptr);
        auto* pending = new PendingCookie{std::move(done), cancellable_};
        if (!origin || !g_uri_get_host(origin)) {
            g_idle_add(onCookieRefused, pending);
            return;
        }
        // A host-only session cookie: no leading dot, no expiry.
        SoupCookie* soupCookie = soup_cookie_new(cookie.name.c_str(), cookie.value.c_str(),
                                                 g_uri_get_host(origin), cookie.path.c_str(), -1);
        soup_cookie_set_http_only(soupCookie, cookie.httpOnly);
        soup_cookie_set_same_site_policy(soupCookie, cookie.sameSiteStrict
                                                         ? SOUP_SAME_SITE_POLICY_STRICT
                                                         : SOUP_SAME_SITE_POLICY_LAX);
        WebKitCookieManager* manager = webkit_website_data_manager_get_cookie_manager(
            webkit_web_view_get_website_data_manager(view_.get()));
        webkit_cookie_manager_add_cookie(manager, soupCookie, cancellable_.get(), onCookieAdded,
                                         pending);
        soup_cookie_free(soupCookie);
    }

    void performEdit(MenuAction action) override {
        const char* command = nullptr;
        switch (action) {
            case MenuAction::Copy: command = WEBKIT_EDITING_COMMAND_COPY; break;
            case MenuAction::Paste: command = WEBKIT_EDITING_COMMAND_PASTE; break;
            case MenuAction::Cut: command = WEBKIT_EDITING_COMMAND_CUT; break;
            case MenuAction::SelectAll: command = WEBKIT_EDITING_COMMAND_SELECT_ALL; break;
            case MenuAction::Quit: return;
        }
        webkit_web_view_execute_editing_command(view_.get(), command);
    }

private:
    static void onInitializeExtensions(WebKitWebContext* context, gpointer data) {
        auto* self = static_cast<GtkWebView*>(data);
        webkit_web_context_set_web_extensions_directory(context, self->extensionDirectory_.c_str());
        std::vector<const char*> names;
        for (const auto& name : self->handlerNames_) names.push_back(name.c_str());
        webkit_web_context_set_web_extensions_initialization_user_data(
            context, g_variant_new_strv(names.data(), static_cast<gssize>(names.size())));
    }

    static gboolean onUserMessage(WebKitWebView*, WebKitUserMessage* message, gpointer data) {
        auto* self = static_cast<GtkWebView*>(data);
        if (g_strcmp0(webkit_user_message_get_name(message), wire::pageMessageName) != 0)
            return FALSE;
        GVariant* parameters = webkit_user_message_get_parameters(message);
        if (!parameters || !g_variant_is_of_type(parameters, G_VARIANT_TYPE(wire::pageMessageType)))
            return TRUE;
        const char* name = nullptr;
        g_autoptr(GVariant) body = nullptr;
        gboolean mainFrame = FALSE;
        const char* host = nullptr;
        gint64 port = 0;
        g_variant_get(parameters, "(&svb&sx)", &name, &body, &mainFrame, &host, &port);
        PageMessage received{name, decodeBody(body), mainFrame != FALSE, host, port};
        if (self->events_.scriptMessage) self->events_.scriptMessage(received);
        return TRUE;
    }

    static NavigationAction actionOf(WebKitNavigationAction* action) {
        NavigationAction result;
        WebKitURIRequest* request = action ? webkit_navigation_action_get_request(action) : nullptr;
        const char* uri = request ? webkit_uri_request_get_uri(request) : nullptr;
        if (uri) result.url = uri;
        result.linkActivated = action && webkit_navigation_action_get_navigation_type(action) ==
                                             WEBKIT_NAVIGATION_TYPE_LINK_CLICKED;
        return result;
    }

    static gboolean onDecidePolicy(WebKitWebView*, WebKitPolicyDecision* decision,
                                   WebKitPolicyDecisionType type, gpointer data) {
        auto* self = static_cast<GtkWebView*>(data);
        if (type == WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION) {
            // WebKit asks here first, then emits "create": the new-window rules
            // are applied there, so let the request through to it.
            webkit_policy_decision_use(decision);
            return TRUE;
        }
        if (type != WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION) return FALSE;
        WebKitNavigationAction* action = webkit_navigation_policy_decision_get_navigation_action(
            WEBKIT_NAVIGATION_POLICY_DECISION(decision));
        bool allow = self->events_.decidePolicy && self->events_.decidePolicy(actionOf(action));
        if (allow) {
            webkit_policy_decision_use(decision);
        } else {
            webkit_policy_decision_ignore(decision);
        }
        return TRUE;
    }

    static GtkWidget* onCreate(WebKitWebView*, WebKitNavigationAction* action, gpointer data) {
        auto* self = static_cast<GtkWebView*>(data);
        if (self->events_.createWebView) self->events_.createWebView(actionOf(action));
        return nullptr;
    }

    static void onWebProcessTerminated(WebKitWebView*, WebKitWebProcessTerminationReason, gpointer data) {
        auto* self = static_cast<GtkWebView*>(data);
        if (self->events_.webProcessTerminated) self->events_.webProcessTerminated();
    }

    struct PendingCookie {
        std::function<void(bool)> done;
        GRef<GCancellable> cancellable;
    };

    static void onCookieAdded(GObject* manager, GAsyncResult* result, gpointer data) {
        std::unique_ptr<PendingCookie> pending(static_cast<PendingCookie*>(data));
        g_autoptr(GError) error = nullptr;
        const bool stored = webkit_cookie_manager_add_cookie_finish(
            WEBKIT_COOKIE_MANAGER(manager), result, &error);
        // Cancelled: the view is gone, and so is whoever asked.
        if (g_cancellable_is_cancelled(pending->cancellable.get())) return;
        pending->done(stored);
    }

    // A cookie with no host to belong to is refused, on a later turn as promised.
    static gboolean onCookieRefused(gpointer data) {
        std::unique_ptr<PendingCookie> pending(static_cast<PendingCookie*>(data));
        if (!g_cancellable_is_cancelled(pending->cancellable.get())) pending->done(false);
        return G_SOURCE_REMOVE;
    }

    static void onLoadChanged(WebKitWebView*, WebKitLoadEvent event, gpointer data) {
        auto* self = static_cast<GtkWebView*>(data);
        if (event == WEBKIT_LOAD_COMMITTED || event == WEBKIT_LOAD_FINISHED)
            g_clear_handle_id(&self->loadTimeout_, g_source_remove);
    }

    // A load of the service that fails after the shell has asked for a status page
    // (the service died while its page loaded) must not put WebKit's error page
    // over that newer status page. Other failures keep WebKit's page.
    static gboolean onLoadFailed(WebKitWebView*, WebKitLoadEvent, char* uri, GError* error, gpointer data) {
        auto* self = static_cast<GtkWebView*>(data);
        if (g_error_matches(error, WEBKIT_NETWORK_ERROR, WEBKIT_NETWORK_ERROR_CANCELLED)) return FALSE;
        return self->statusPageRequested_ && g_strcmp0(uri, "about:blank") != 0;
    }

    static gboolean onLoadTimeout(gpointer data) {
        auto* self = static_cast<GtkWebView*>(data);
        self->loadTimeout_ = 0;
        webkit_web_view_stop_loading(self->view_.get());
        return G_SOURCE_REMOVE;
    }

    WebViewEvents events_;
    GRef<WebKitWebContext> context_;
    GRef<WebKitWebView> view_;
    GRef<GCancellable> cancellable_ = adopt(g_cancellable_new());
    GRef<GtkOverlay> host_;
    std::string extensionDirectory_;
    std::vector<std::string> handlerNames_;
    gulong contextSignal_ = 0;
    gulong messageSignal_ = 0;
    gulong loadSignal_ = 0;
    gulong failedSignal_ = 0;
    bool statusPageRequested_ = false;  // the latest load the shell asked for is a status page
    gulong policySignal_ = 0;
    gulong createSignal_ = 0;
    gulong terminatedSignal_ = 0;
    guint loadTimeout_ = 0;
};

}  // namespace

std::unique_ptr<WebView> createWebView(const WebViewConfig& config, WebViewEvents events,
                                       const std::string& extensionDirectory,
                                       bool acceleratedCompositingOff) {
    return std::make_unique<GtkWebView>(config, std::move(events), extensionDirectory,
                                        acceleratedCompositingOff);
}

}  // namespace brindlemar::gtk
