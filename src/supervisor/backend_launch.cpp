// Starting the library service, and the two checks that tell the user when it is
// slow to become ready.
#include <chrono>

#include "shell/app_delegate.hpp"
#include "shell/messages.hpp"
#include "supervisor/child_environment.hpp"
#include "supervisor/service_secret.hpp"

namespace brindlemar {

namespace {
constexpr auto authorizationDelay = std::chrono::seconds(12);
constexpr auto slowStartDelay = std::chrono::seconds(90);
constexpr const char* dataDirectoryName = "com.brindlemar.app";
}  // namespace

void AppDelegate::startBackend() {
    std::optional<std::string> resources = platform_.resourcesDirectory();
    if (!resources) {
        show(messages::noResources, false);
        return;
    }

    // A fresh secret for every launch, handed over in the environment only: a command
    // line is visible to every user of the machine.
    std::optional<std::string> secret = platform_.randomBytes(serviceSecretBytes);
    serviceSecret = secret ? hexEncode(*secret) : std::string();

    ChildCommand command;
    command.executable = *resources + "/node";
    command.arguments = {*resources + "/backend/server.js"};
    command.workingDirectory = *resources + "/backend";
    command.environment = childEnvironment(platform_.environment(),
                                        platform_.userDataDirectory() + "/" + dataDirectoryName,
                                        serviceSecret);

    std::weak_ptr<AppDelegate> weak = weak_from_this();
    // The exit report names the launch it belongs to: a child that a restart
    // replaced must not speak over its successor.
    const std::int64_t launchGeneration = attempts;
    ChildEvents events;
    events.output = [weak](const std::string& bytes) {
        if (auto self = weak.lock()) self->backendOutput(bytes);
    };
    events.exited = [weak, launchGeneration] {
        if (auto self = weak.lock()) self->backendExited(launchGeneration);
    };

    // Without a secret the service would be open to every program on the machine: that
    // counts as a failed launch.
    if (auto child = secret ? platform_.launch(command, std::move(events)) : nullptr) {
        backend = std::move(child);
    } else {
        show(messages::launchFailed, true);
    }

    // Each check carries the generation of the launch that armed it; a restart
    // changes `attempts` and so disarms the checks of every earlier launch.
    const std::int64_t generation = attempts;
    platform_.after(authorizationDelay, [weak, generation] {
        if (auto self = weak.lock()) self->authorizationCheck(generation);
    });
    platform_.after(slowStartDelay, [weak, generation] {
        if (auto self = weak.lock()) self->slowStartCheck(generation);
    });
}

void AppDelegate::authorizationCheck(std::int64_t generation) {
    if (ready || stopping || attempts != generation) return;
    if (!backend || !backend->isRunning()) return;
    show(messages::authorization, false);
}

void AppDelegate::slowStartCheck(std::int64_t generation) {
    if (ready || stopping || attempts != generation) return;
    show(messages::slowStart, true);
}

}  // namespace brindlemar
