// The platform services the windows call on: message boxes, the immediate
// end of the process, the desktop's "open" of a link, the clipboard, and the
// wait cursor of a blocking server call.
#pragma once

#include <string>

class QWidget;

namespace Shell {

// Warning box: caption "提示", warning icon, OK.
void ShowWarning(const std::string& text, QWidget* owner = nullptr);
// Question box: caption "提示", question icon, Yes and No; true on Yes only.
bool AskQuestion(const std::string& text, QWidget* owner = nullptr);
// Information box: caption "提示", information icon, OK.
void ShowInformation(const std::string& text, QWidget* owner = nullptr);

// Hands a link (GBK) to the desktop's default handler; the outcome is not
// checked.
void OpenLink(const std::string& url);
// Puts a text (GBK) on the clipboard.
void CopyToClipboard(const std::string& text);

// Ends the process at once with exit code 0: no window closes in order, no
// destructor runs.
[[noreturn]] void EndProcess();

// The wait cursor while a server call blocks the window.
class TWaitCursor {
public:
    TWaitCursor();
    ~TWaitCursor();
    TWaitCursor(const TWaitCursor&) = delete;
    TWaitCursor& operator=(const TWaitCursor&) = delete;
};

} // namespace Shell
