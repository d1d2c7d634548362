#pragma once

#include <functional>
#include <string>

class QWidget;

namespace wfb {

// The one place where a failure that leaves an event handler is caught: it is reported in the
// modal error box, and the program goes on. Returns whether the handler ran to its end.
bool runHandler(QWidget* owner, const std::function<void()>& handler);

// The modal error box: title "Wiegenfestbote", error icon, OK.
void showErrorBox(QWidget* owner, const std::string& message);

} // namespace wfb
