// Bridge round-trip benchmark (run by hand under a display):
//
//   cmake --build build --target bench
//   xvfb-run -a build/bench/bridge_roundtrip
//
// Two web views in one window load the same page on the library's origin (from a
// string with that base address, so no server is needed), and the page times
// sequential round trips: postMessage({action:'pause'}) on brindlemarPlayer, then
// the player event "pong" sent back by native code arriving as a DOM event.
//  - ours: the shell's web view, made by the GTK platform with the page bridge
//    extension; the message goes through the extension, the user message, the
//    page-message decoding and the AppDelegate's sender check and dispatch, and the
//    AppDelegate answers with nativeEvent;
//  - built-in: a plain WebKitWebView with WebKitGTK's own script message handler of
//    the same name, answering with the same script.
// Batches alternate between the two; the percentiles of all samples are printed. The
// page's clock (performance.now) has a resolution of 1 ms in WebKitGTK, so a sample
// is the mean of 10 sequential round trips.
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "bridge/page_events.hpp"
#include "platform/gtk/gtk_platform.hpp"
#include "platform/gtk/gtk_view.hpp"
#include "shell/app_delegate.hpp"

namespace {

constexpr int batches = 60;   // per side, after one warm-up batch each
constexpr int batchSize = 5;  // samples (groups of 10 round trips) per batch: short
                              // batches, so that both sides see the same load
constexpr const char* origin = "http://127.0.0.1:47874/";

constexpr const char* page = R"(<!doctype html><html><body><script>
const GROUP = 10;
let answer = null;
addEventListener('brindlemar-native-player', event => {
  if (event.detail.type === 'pong' && answer) { const done = answer; answer = null; done(); }
});
const post = body => window.webkit.messageHandlers.brindlemarPlayer.postMessage(body);
function once() {
  return new Promise(resolve => {
    answer = resolve;
    post({action: 'pause'});
  });
}
// The page's clock ticks in whole milliseconds, so each sample is the mean of a
// group of sequential round trips.
async function group() {
  const start = performance.now();
  for (let i = 0; i < GROUP; i++) await once();
  return (performance.now() - start) / GROUP;
}
async function batch(n) {
  const times = [];
  for (let i = 0; i < n; i++) times.push(await group());
  post({action: 'bench-times', times: JSON.stringify(times)});
}
addEventListener('load', () => post({action: 'bench-ready'}));
</script></body></html>)";

std::vector<double> parseTimes(const std::string& json) {
    std::vector<double> out;
    std::size_t at = json.find('[') + 1;
    const std::size_t end = json.find(']');
    while (at < end) {
        std::size_t next = std::min(json.find(',', at), end);
        out.push_back(std::stod(json.substr(at, next - at)));
        at = next + 1;
    }
    return out;
}

double percentile(std::vector<double> values, double p) {
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, static_cast<std::size_t>(p * values.size()))];
}

struct Side {
    const char* name;
    std::function<void(const std::string&)> run;  // evaluates a script in the page
    bool ready = false;
    int done = 0;
    std::vector<double> times;
};

struct Bench {
    Side ours{"ours", {}, false, 0, {}};
    Side builtin{"built-in", {}, false, 0, {}};
    int turn = 0;

    void started(Side& side) {
        side.ready = true;
        if (ours.ready && builtin.ready) next();
    }
    void finished(Side& side, const std::string& json) {
        if (side.done++ > 0) {
            auto times = parseTimes(json);
            side.times.insert(side.times.end(), times.begin(), times.end());
        }
        next();
    }
    // Alternates batches, the first of each pair swapping every time.
    void next() {
        if (turn == 2 * (batches + 1)) return report();
        const int pair = turn / 2;
        const bool oursFirst = pair % 2 == 0;
        Side& side = (turn % 2 == 0) == oursFirst ? ours : builtin;
        ++turn;
        side.run("batch(" + std::to_string(batchSize) + ")");
    }
    void report() {
        for (Side* side : {&ours, &builtin})
            std::printf("%-9s samples=%zu  p50 %.3f ms  p90 %.3f ms  p99 %.3f ms  max %.3f ms\n", side->name,
                        side->times.size(), percentile(side->times, 0.5), percentile(side->times, 0.9),
                        percentile(side->times, 0.99), percentile(side->times, 1.0));
        std::printf("p99 ours / built-in: %.2f   goal: <= 1.5\n",
                    percentile(ours.times, 0.99) / percentile(builtin.times, 0.99));
        std::fflush(stdout);
        gtk_main_quit();
    }
};

std::string stringProperty(JSCValue* object, const char* name) {
    g_autoptr(JSCValue) value = jsc_value_object_get_property(object, name);
    if (!jsc_value_is_string(value)) return {};
    g_autofree char* text = jsc_value_to_string(value);
    return text;
}

void onBuiltinMessage(WebKitUserContentManager*, WebKitJavascriptResult* result, gpointer data) {
    auto* bench = static_cast<Bench*>(data);
    JSCValue* body = webkit_javascript_result_get_js_value(result);
    const std::string action = jsc_value_is_object(body) ? stringProperty(body, "action") : "";
    if (action == "bench-ready") return bench->started(bench->builtin);
    if (action == "bench-times") return bench->finished(bench->builtin, stringProperty(body, "times"));
    bench->builtin.run(brindlemar::playerEventScript("pong", ""));
}

}  // namespace

int main() {
    auto rendering = brindlemar::gtk::RenderingPolicy::start();
    gtk_init(nullptr, nullptr);
    GtkApplication* app = gtk_application_new(nullptr, G_APPLICATION_NON_UNIQUE);
    {
        brindlemar::gtk::GtkPlatform platform(app, std::move(rendering));
        auto delegate = std::make_shared<brindlemar::AppDelegate>(platform);
        Bench bench;

        brindlemar::WebViewConfig config;
        config.mediaRequiresUserAction = false;
        config.messageHandlers = {"brindlemarPip", "brindlemarPlayer", "brindlemarRetry"};
        brindlemar::WebViewEvents events;
        events.scriptMessage = [&bench, &delegate](const brindlemar::PageMessage& message) {
            const auto* body = message.body.object();
            const auto action = body ? body->find("action") : decltype(body->end()){};
            const std::string* name = body && action != body->end() ? action->second.string() : nullptr;
            if (name && *name == "bench-ready") return bench.started(bench.ours);
            if (name && *name == "bench-times") {
                const std::string* times = body->at("times").string();
                return bench.finished(bench.ours, times ? *times : "[]");
            }
            delegate->didReceiveScriptMessage(message);
            delegate->nativeEvent("pong", "");
        };
        events.decidePolicy = [&delegate](const brindlemar::NavigationAction& action) {
            return delegate->decidePolicyForNavigationAction(action);
        };
        delegate->web = platform.createWebView(config, std::move(events));
        GtkOverlay* host = brindlemar::gtk::hostOf(*delegate->web);
        auto* ours = WEBKIT_WEB_VIEW(gtk_bin_get_child(GTK_BIN(host)));
        bench.ours.run = [&delegate](const std::string& script) { delegate->web->evaluateScript(script); };

        WebKitUserContentManager* content = webkit_user_content_manager_new();
        webkit_user_content_manager_register_script_message_handler(content, "brindlemarPlayer");
        g_signal_connect(content, "script-message-received::brindlemarPlayer",
                         G_CALLBACK(onBuiltinMessage), &bench);
        auto* builtin = WEBKIT_WEB_VIEW(webkit_web_view_new_with_user_content_manager(content));
        g_object_unref(content);
        bench.builtin.run = [builtin](const std::string& script) {
            webkit_web_view_evaluate_javascript(builtin, script.c_str(), static_cast<gssize>(script.size()),
                                                nullptr, nullptr, nullptr, nullptr, nullptr);
        };

        GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
        gtk_window_set_default_size(GTK_WINDOW(window), 1000, 400);
        GtkWidget* box = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 0);
        gtk_box_pack_start(GTK_BOX(box), GTK_WIDGET(host), TRUE, TRUE, 0);
        gtk_box_pack_start(GTK_BOX(box), GTK_WIDGET(builtin), TRUE, TRUE, 0);
        gtk_container_add(GTK_CONTAINER(window), box);
        gtk_widget_show_all(window);
        webkit_web_view_load_html(ours, page, origin);
        webkit_web_view_load_html(builtin, page, origin);
        gtk_main();
        delegate.reset();  // the shell's web view first, as it holds its widgets
        gtk_widget_destroy(window);
    }
    g_object_unref(app);
    return 0;
}
