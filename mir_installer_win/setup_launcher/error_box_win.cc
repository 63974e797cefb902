#include "mir_installer_win/setup_launcher/error_box_win.h"

namespace setup_launcher {
namespace {

MessageBoxFunction g_message_box = &::MessageBoxW;

}  // namespace

void ShowErrorBox(const wchar_t* text) {
  g_message_box(nullptr, text, kErrorBoxCaption, MB_OK | MB_ICONERROR);
}

void SetMessageBoxForTesting(MessageBoxFunction function) {
  g_message_box = function ? function : &::MessageBoxW;
}

}  // namespace setup_launcher
