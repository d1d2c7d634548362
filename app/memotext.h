#pragma once

#include <QString>

#include <string>
#include <string_view>

namespace wfb {

// The list text as the text widget holds it: decoded from Windows-1252, one '\n' per line break.
QString toMemoText(std::string_view listText);

// The widget's raw text (QTextDocument::toRawText, where breaks are paragraph or line
// separators) back to the list text: Windows-1252 with CR LF. A character the user typed that
// Windows-1252 cannot hold becomes '?'.
std::string fromMemoText(const QString& rawText);

} // namespace wfb
