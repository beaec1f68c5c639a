#include "supervisor/child_environment.hpp"

#include <algorithm>

namespace brindlemar {

Environment childEnvironment(Environment env, const std::string& dataDirectory,
                             const std::string& secret) {
    std::erase_if(env, [](const auto& variable) {
        const std::string& name = variable.first;
        return name.starts_with("BRINDLEMAR_") || name.starts_with("NODE_");
    });
    auto set = [&env](const std::string& name, const std::string& value) {
        auto it = std::find_if(env.begin(), env.end(),
                               [&name](const auto& variable) { return variable.first == name; });
        if (it != env.end()) {
            it->second = value;
        } else {
            env.emplace_back(name, value);
        }
    };
    set("BRINDLEMAR_DATA_DIR", dataDirectory);
    set("BRINDLEMAR_BIND", "127.0.0.1");
    set("PORT", "47874");
    set("BRINDLEMAR_TOKEN", secret);
    return env;
}

}  // namespace brindlemar
