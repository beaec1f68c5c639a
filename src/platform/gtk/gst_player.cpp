#include "platform/gtk/gst_player.hpp"

namespace brindlemar::gtk {

std::unique_ptr<Player> createGstPlayer(const std::string&, std::chrono::seconds) {
    return nullptr;
}

GtkWidget* videoWidgetOf(Player&) {
    return nullptr;
}

}  // namespace brindlemar::gtk
