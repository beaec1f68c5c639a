#include "platform/gtk/gtk_child_process.hpp"

#include <gio/gio.h>
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <vector>

#include "platform/gtk/gref.hpp"

namespace brindlemar::gtk {

namespace {

constexpr gsize readSize = 64 * 1024;
// How long an exit report waits for the rest of the child's output to be read.
constexpr guint exitGraceMs = 1000;

// Shared by the handle and the pending reads and wait: dropping the handle does
// not stop them, so the output and the exit of every child keep being reported.
struct ChildState {
    GRef<GSubprocess> process;
    ChildEvents events;
    bool exited = false;
    bool endOfOutput = false;
    bool exitReported = false;
    guint graceSource = 0;

    ~ChildState() { g_clear_handle_id(&graceSource, g_source_remove); }

    void reportExitOnce() {
        g_clear_handle_id(&graceSource, g_source_remove);
        if (exitReported) return;
        exitReported = true;
        if (events.exited) events.exited();
    }
};

using StateRef = std::shared_ptr<ChildState>;

void readNext(const StateRef& state);

void onRead(GObject* source, GAsyncResult* result, gpointer data) {
    std::unique_ptr<StateRef> state(static_cast<StateRef*>(data));
    g_autoptr(GBytes) bytes =
        g_input_stream_read_bytes_finish(G_INPUT_STREAM(source), result, nullptr);
    gsize size = bytes ? g_bytes_get_size(bytes) : 0;
    if (size == 0) {
        // End of file (or a broken pipe): the child closed its output.
        (*state)->endOfOutput = true;
        if ((*state)->exited) (*state)->reportExitOnce();
        return;
    }
    auto* chunk = static_cast<const char*>(g_bytes_get_data(bytes, nullptr));
    if ((*state)->events.output) (*state)->events.output(std::string(chunk, size));
    readNext(*state);
}

void readNext(const StateRef& state) {
    GInputStream* stream = g_subprocess_get_stdout_pipe(state->process.get());
    g_input_stream_read_bytes_async(stream, readSize, G_PRIORITY_DEFAULT, nullptr, onRead,
                                    new StateRef(state));
}

gboolean onExitGraceOver(gpointer data) {
    // The timer holds the state weakly: the state may be gone when it fires.
    if (StateRef state = static_cast<std::weak_ptr<ChildState>*>(data)->lock()) {
        state->graceSource = 0;
        state->reportExitOnce();
    }
    return G_SOURCE_REMOVE;
}

void freeWeakState(gpointer data) {
    delete static_cast<std::weak_ptr<ChildState>*>(data);
}

void onWait(GObject*, GAsyncResult*, gpointer data) {
    std::unique_ptr<StateRef> state(static_cast<StateRef*>(data));
    (*state)->exited = true;
    // Report the exit after the output that preceded it, so that a readiness line
    // written just before exiting is seen first. A grandchild that keeps the pipe
    // open must not hold the report back for long.
    if ((*state)->endOfOutput) {
        (*state)->reportExitOnce();
    } else {
        // The pending read keeps the state alive as long as the pipe is open; the
        // state's destructor removes the timer.
        (*state)->graceSource =
            g_timeout_add_full(G_PRIORITY_DEFAULT, exitGraceMs, onExitGraceOver,
                               new std::weak_ptr<ChildState>(*state), freeWeakState);
    }
}

// Runs in the child between fork and exec. The child must not outlive the shell:
// ask for SIGTERM when the parent dies, and leave at once if it already has.
void childSetup(gpointer parent) {
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != static_cast<pid_t>(GPOINTER_TO_INT(parent))) _exit(1);
}

class GtkChildProcess final : public ChildProcess {
public:
    explicit GtkChildProcess(StateRef state) : state_(std::move(state)) {}
    bool isRunning() const override { return !state_->exited; }
    void terminate() override {
        if (!state_->exited) g_subprocess_send_signal(state_->process.get(), SIGTERM);
    }

private:
    StateRef state_;
};

}  // namespace

std::unique_ptr<ChildProcess> launchChild(const ChildCommand& command, ChildEvents events) {
    auto launcher = adopt(g_subprocess_launcher_new(
        static_cast<GSubprocessFlags>(G_SUBPROCESS_FLAGS_STDOUT_PIPE | G_SUBPROCESS_FLAGS_STDERR_MERGE)));

    std::vector<std::string> envStrings;
    for (const auto& [name, value] : command.environment) envStrings.push_back(name + "=" + value);
    std::vector<const char*> envp;
    for (const auto& entry : envStrings) envp.push_back(entry.c_str());
    envp.push_back(nullptr);
    g_subprocess_launcher_set_environ(launcher.get(), const_cast<char**>(envp.data()));
    g_subprocess_launcher_set_cwd(launcher.get(), command.workingDirectory.c_str());
    g_subprocess_launcher_set_child_setup(launcher.get(), childSetup,
                                          GINT_TO_POINTER(static_cast<int>(getpid())), nullptr);

    std::vector<const char*> argv{command.executable.c_str()};
    for (const auto& argument : command.arguments) argv.push_back(argument.c_str());
    argv.push_back(nullptr);

    GSubprocess* process = g_subprocess_launcher_spawnv(launcher.get(), argv.data(), nullptr);
    if (!process) return nullptr;

    auto state = std::make_shared<ChildState>();
    state->process = adopt(process);
    state->events = std::move(events);
    readNext(state);
    g_subprocess_wait_async(process, nullptr, onWait, new StateRef(state));
    return std::make_unique<GtkChildProcess>(state);
}

}  // namespace brindlemar::gtk
