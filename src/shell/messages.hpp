// What the shell says to the user, on the status page.
#pragma once

namespace brindlemar::messages {

inline constexpr const char* preparing = "Preparando tu biblioteca\u2026";
inline constexpr const char* noResources = "No se encontraron los recursos de la aplicación.";
inline constexpr const char* launchFailed =
    "No se pudo iniciar el servicio local. Vuelve a instalar Brindlemar.";
inline constexpr const char* authorization =
    "Esperando a que el sistema autorice el acceso a la carpeta de Brindlemar. "
    "Si macOS te lo pregunta, acepta; la biblioteca se abrirá sola.";
inline constexpr const char* slowStart =
    "La biblioteca está tardando más de lo normal. "
    "Comprueba que aceptaste el permiso de carpeta que pidió macOS.";
inline constexpr const char* serviceClosed = "El servicio local se cerró.";
inline constexpr const char* pageCrashed =
    "La biblioteca se cerró varias veces seguidas. Vuelve a intentarlo dentro de un momento.";
inline constexpr const char* cookieFailed =
    "No se pudo abrir una conexión segura con el servicio local.";

}  // namespace brindlemar::messages
