#pragma once
// The system's reasons for a failed file or device operation, in the
// program's language: the system's own words are English.

#include <QString>

// For an errno value: "нет места на диске", "нет прав доступа", ...
// Unknown values give the system's text with the number.
QString os_error_text(int error);
// For the errno of the call that just failed.
QString last_os_error_text();
